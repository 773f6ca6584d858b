#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the core tests and the Linux shell tests (GTK window, GL views, render thread, PulseAudio
# source; run under a private Xvfb and PulseAudio) with sanitizers and runs them.
#   scripts/sanitize.sh asan   AddressSanitizer + UndefinedBehaviorSanitizer (leaks included)
#   scripts/sanitize.sh tsan   ThreadSanitizer
# Build folders: build/asan, build/tsan. Exit status non-zero on any sanitizer report or failed
# test. Suppressions (scripts/sanitize/*.supp) cover third-party libraries only, each with its
# reason; our own code gets none.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
kind=${1:-}
case "$kind" in
  asan) flags="-fsanitize=address,undefined -fno-sanitize-recover=all" ;;
  tsan) flags="-fsanitize=thread" ;;
  *) echo "usage: scripts/sanitize.sh asan|tsan" >&2; exit 2 ;;
esac
build="$root/build/$kind"
supp="$root/scripts/sanitize"
flags="$flags -fno-omit-frame-pointer -g"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONABEL_BUILD_TESTS=ON \
      -DSONABEL_BUILD_BENCH=OFF -DSONABEL_BUILD_APP=OFF \
      -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build" --target sonabel_core_tests sonabel_linux_tests -j"${JOBS:-$(nproc)}"

# Every report ends the run with a non-zero status; the logs are searched as well, so a report
# from a process that still exits 0 (a leak report switched off by a library, say) fails too.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp:print_suppressions=0"
logs="$build/sanitizer-logs"
rm -rf "$logs"
mkdir -p "$logs"
# ThreadSanitizer needs its fixed memory layout; without address randomisation it also works on
# kernels with more mmap randomisation than this toolchain's TSan knows.
run() { if [ "$kind" = tsan ]; then setarch "$(uname -m)" -R "$@"; else "$@"; fi; }

status=0
run "$build/tests/sonabel_core_tests" >"$logs/core.log" 2>&1 || status=1
tail -n 3 "$logs/core.log"
# GLib and GTK are built without frame pointers, so the fast unwinder stops at their first frame;
# the shell tests record full allocation stacks, which the suppressions of GTK's leaks match.
# Mesa's softpipe draws for them instead of llvmpipe: the full unwinder's frame lookup in libgcc
# (12) allocates under its own lock the first time after LLVM registered the frames of code that
# llvmpipe compiled, and unwinding that allocation then waits for the lock forever. softpipe
# compiles nothing.
ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0" GALLIUM_DRIVER=softpipe \
  run tests/e2e/with_services.sh "$build/tests/sonabel_linux_tests" >"$logs/linux.log" 2>&1 ||
  status=1
tail -n 3 "$logs/linux.log"
if grep -nE 'ERROR: (Address|Leak)Sanitizer|runtime error:|WARNING: ThreadSanitizer|SUMMARY: .*Sanitizer' \
     "$logs"/*.log; then
  status=1
fi
if [ "$status" != 0 ]; then
  echo "sanitize $kind: FAILED (logs in $logs)"
  exit 1
fi
echo "sanitize $kind: clean"
