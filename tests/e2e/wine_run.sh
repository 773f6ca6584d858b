#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a Windows test program under Wine in the build's private prefix (see wine_env.sh) and
# ends the prefix's Wine processes afterwards. Usage: wine_run.sh PROGRAM.exe [ARGS...].
# Exit status: the program's.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine_env.sh"
ensure_wineprefix || exit 1
trap stop_wine EXIT
wine "$@" </dev/null
