#!/usr/bin/env bash
# Builds the release packages into packages/ of the build trees: the Debian package from the
# Linux build, the Windows installer and ZIP from the mingw cross-build. Installs what it needs.
# Usage: scripts/package.sh [linux|windows]...   (default: both). Prints the packages' paths.
# Environment: SONABEL_LINUX_BUILD (default build/linux), SONABEL_WINDOWS_BUILD (build/windows).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh linux package

platforms=("$@")
[ $# -gt 0 ] || platforms=(linux windows)
for p in "${platforms[@]}"; do
  case "$p" in
    linux)
      build="${SONABEL_LINUX_BUILD:-build/linux}"
      # An existing build keeps its options; a new one is made for the application alone.
      [ -f "$build/CMakeCache.txt" ] ||
        cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONABEL_BUILD_TESTS=OFF
      cmake --build "$build" --target packages -j"$(nproc)"
      ls "$build"/packages/sonabel_*.deb ;;
    windows)
      build="${SONABEL_WINDOWS_BUILD:-build/windows}"
      # Configures again, so that a build made before makensis was installed finds it.
      SONABEL_WINDOWS_BUILD="$build" scripts/build_windows.sh >/dev/null
      cmake --build "$build" --target packages -j"$(nproc)"
      ls "$build"/packages/sonabel-*-setup.exe "$build"/packages/sonabel-*-win64.zip ;;
    *) echo "unknown platform: $p" >&2; exit 2 ;;
  esac
done
