#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the release packages into packages/ of the build trees: the Debian package from the
# Linux build, the Windows installer and ZIP from the mingw cross-build. Installs what it needs.
# Usage: scripts/package.sh [linux|windows]...   (default: both). Prints the packages' paths.
# Environment: SONABEL_LINUX_BUILD (default build/linux), SONABEL_WINDOWS_BUILD (build/windows);
# SONABEL_VERSION=X.Y.Z (a suffix such as ~rc1 allowed) builds the packages (and the exe's version
# resource) as that version instead of the project's, without editing the project (the upgrade
# test's next version).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh linux windows package

platforms=("$@")
[ $# -gt 0 ] || platforms=(linux windows)
# An existing build keeps its options but takes the version asked for now; a new one is made for
# the application alone.
version=(-USONABEL_VERSION); [ -z "${SONABEL_VERSION:-}" ] || version=(-DSONABEL_VERSION="$SONABEL_VERSION")
for p in "${platforms[@]}"; do
  case "$p" in
    linux)
      build="${SONABEL_LINUX_BUILD:-build/linux}"
      if [ -f "$build/CMakeCache.txt" ]; then cmake "$build" "${version[@]}" >/dev/null
      else cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONABEL_BUILD_TESTS=OFF \
                 "${version[@]}" >/dev/null; fi
      cmake --build "$build" --target packages -j"$(nproc)"
      ls "$build"/packages/sonabel_*.deb ;;
    windows)
      build="${SONABEL_WINDOWS_BUILD:-build/windows}"
      # Configured again in any case: the library prefix (with the licences the notices are
      # made of) may be new, and makensis may have been installed since.
      prefix=$(cmake/build_mingw_deps.sh | tail -n 1)
      if [ -f "$build/CMakeCache.txt" ]; then
        cmake "$build" -DSONABEL_DEPS_PREFIX="$prefix" "${version[@]}" >/dev/null
      else
        cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
              -DSONABEL_DEPS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
              -DSONABEL_BUILD_TESTS=OFF "${version[@]}" >/dev/null
      fi
      cmake --build "$build" --target packages -j"$(nproc)"
      ls "$build"/packages/sonabel-*-setup.exe "$build"/packages/sonabel-*-win64.zip ;;
    *) echo "unknown platform: $p" >&2; exit 2 ;;
  esac
done
