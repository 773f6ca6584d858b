#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a test program with a private sound server (PulseAudio, or PipeWire with
# SONABEL_SOUND_SERVER=pipewire) and a private Xvfb display, then stops both.
# Usage: with_services.sh PROGRAM [ARGS...]. Exit status: the program's.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/services.sh"
trap stop_services EXIT
start_pulse || exit 1
start_xvfb || exit 1
"$@"
