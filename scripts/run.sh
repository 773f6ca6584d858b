#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the build needs, builds the Linux application (Release) and starts it.
# Needs a graphical session: an X display, or a Wayland one with XWayland (the app uses X11).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: Sonabel is a desktop application. Run this from a graphical session" >&2
  echo "(DISPLAY or WAYLAND_DISPLAY must be set)." >&2
  exit 1
fi

scripts/install_deps.sh linux
build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSONABEL_BUILD_TESTS=OFF
cmake --build "$build" -j"$(nproc)" --target sonabel
exec "$build/sonabel"
