#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the MP3 export's reading of a source WAV and ws2s/utf8ToWide with libFuzzer (the
# distribution's default clang, AddressSanitizer + UndefinedBehaviorSanitizer), SECONDS per target.
# Usage: scripts/fuzz.sh SECONDS
# Build folder build/fuzz; the growing corpus is kept in build/fuzz/corpus/<target> (seeded by
# fuzz/make_seeds.py), crash inputs land in build/fuzz/artifacts/. Prints executions and coverage
# per target; exit status non-zero on any crash, leak, sanitizer report or timeout.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:?usage: scripts/fuzz.sh SECONDS}
build="$root/build/fuzz"

scripts/install_deps.sh linux fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSONABEL_BUILD_APP=OFF -DSONABEL_BUILD_TESTS=OFF -DSONABEL_BUILD_BENCH=OFF \
  -DSONABEL_BUILD_FUZZ=ON -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" --target export_source_fuzz ws2s_fuzz -j"${JOBS:-$(nproc)}"

rm -rf "$build/seeds"
python3 fuzz/make_seeds.py "$build/seeds"
mkdir -p "$build/artifacts"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

status=0
# max_len: the export gets one full 16 KiB read and part of a second (each accepted input costs
# an encoder set-up, ~5 ms, which bounds the rate); paths are short.
for spec in export_source_fuzz:20000 ws2s_fuzz:4096; do
  target=${spec%%:*} max_len=${spec#*:}
  corpus="$build/corpus/$target"
  log="$build/$target.log"
  mkdir -p "$corpus"
  if "$build/fuzz/$target" "$corpus" "$build/seeds/$target" -max_total_time="$seconds" \
       -max_len="$max_len" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED status=1
    grep -E "ERROR|runtime error|SUMMARY|deadly signal|Test unit written" "$log" | head -n 20
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
  echo "fuzz $target: $result, ${runs:-?} executions in ${seconds} s, $cov," \
       "corpus $(find "$corpus" -type f | wc -l) inputs (log $log)"
done
exit "$status"
