#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is needed, builds everything and runs every test (unit tests, then the
# end-to-end tests of the real application): the Linux build, its sanitizer builds and a fuzzing
# smoke run, then the Windows cross-build under Wine. Exit status 0 only when all passed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/linux"

scripts/install_deps.sh linux test windows fuzz
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONABEL_BUILD_TESTS=ON \
      -DSONABEL_BUILD_BENCH=ON
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

# The core and Linux shell tests again under AddressSanitizer+UBSan and ThreadSanitizer, and a
# short fuzzing run of the export's WAV reading and of ws2s/utf8ToWide (20 s each).
scripts/sanitize.sh asan
scripts/sanitize.sh tsan
scripts/fuzz.sh 20

# Windows: cross-build sonabel.exe and its tests, run them under Wine.
scripts/build_windows.sh
ctest --test-dir "$root/build/windows" --output-on-failure -j"$(nproc)"

# --- Release packages: the Debian package is checked by lintian, installed into this machine,
# started and purged; the Windows installer is installed, started, refused while the program
# runs, upgraded by the next version's installer and uninstalled silently in a fresh Wine prefix.
# The next version's is built from an application-only tree with the version overridden.
scripts/package.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
next=$(awk -F. '{ print $1 "." $2 "." $3 + 1 }' <<<"$version")
SONABEL_VERSION="$next" SONABEL_WINDOWS_BUILD="$root/build/windows-next" scripts/package.sh windows
tests/e2e/deb_install.sh "$build/packages/sonabel_${version}_$(dpkg --print-architecture).deb"
winpkg="$root/build/windows/packages/sonabel-$version"
rm -rf "$root/build/windows/wineprefix-install"
SONABEL_WINEPREFIX="$root/build/windows/wineprefix-install" \
  tests/e2e/windows_install.sh "$winpkg-setup.exe" "$winpkg-win64.zip" \
                               "$root/build/windows-next/packages/sonabel-$next-setup.exe"
