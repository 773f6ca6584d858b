#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-builds the Windows application (sonabel.exe, x86-64, mingw-w64, statically linked so it
# runs alone) and its tests into build/windows. Installs the packages it needs and builds the four
# libraries (FFTW, LAME, GLFW, GLEW) once into a cache under $HOME/.cache (about 4 minutes the
# first time). Prints the path of sonabel.exe as its last line.
# Environment: SONABEL_WINDOWS_BUILD (build folder, default build/windows).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${SONABEL_WINDOWS_BUILD:-build/windows}"

scripts/install_deps.sh windows
prefix=$(cmake/build_mingw_deps.sh | tail -n 1)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DSONABEL_DEPS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONABEL_BUILD_TESTS=ON
cmake --build "$build" -j"$(nproc)"
echo "sonabel.exe: $(cd "$build" && pwd)/sonabel.exe"
