#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian/Ubuntu packages the build and the tests need (as root, or through sudo).
# Usage: scripts/install_deps.sh [linux|test|windows|fuzz|package]...   (default: linux)
set -euo pipefail

groups=("${@:-linux}")
pkgs=(build-essential cmake pkg-config libfftw3-dev libmp3lame-dev libglfw3-dev libglew-dev
      libgtk-3-dev libpulse-dev)
for g in "${groups[@]}"; do
  case "$g" in
    linux) ;;
    # PipeWire's run of the end-to-end test: pipewire-bin (the daemon; pw-profiler for
    # bench/capture_join.sh), wireplumber, pipewire-pulse, a session bus (dbus-daemon); setfacl (acl) for the export test of a file with an ACL.
    # The screen-reader check: the AT-SPI bus and registry (at-spi2-core) and a client in Python
    # (python3-gi, gir1.2-atspi-2.0).
    test) pkgs+=(libgtest-dev libgmock-dev libbenchmark-dev pulseaudio pulseaudio-utils xvfb
                 xdotool imagemagick mpg123 libmpg123-dev sox ffmpeg lame x11-utils python3
                 libgl1-mesa-dri libglx-mesa0 fonts-dejavu-core openbox pipewire pipewire-bin
                 wireplumber pipewire-pulse dbus-daemon acl at-spi2-core python3-gi
                 gir1.2-atspi-2.0) ;;
    # The distribution's default clang (14 on Debian 12, 19 on Debian 13) and its compiler-rt
    # (libFuzzer and the sanitizer runtimes).
    fuzz) pkgs+=(clang libclang-rt-dev python3) ;;
    windows) pkgs+=(mingw-w64 g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev libgtest-dev) ;;
    # Release packages (scripts/package.sh) and their install tests; CPack's DEB generator runs
    # `file` to find the binaries whose library dependencies it scans.
    package) pkgs+=(dpkg-dev file nsis desktop-file-utils lintian appstream icoutils) ;;
    *) echo "unknown package group: $g" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
