#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Does our recording disturb another recording of the same source when it starts and stops?
# Under a private sound server (SONABEL_SOUND_SERVER=pulseaudio or pipewire, see
# tests/e2e/services.sh): a real-time 48 kHz stereo 997 Hz tone on a null sink (pacat, its
# latency TONE_LATENCY_MS, default 200), recorded throughout each run by a control
# `parecord --latency-msec=100`. In each of RUNS runs our capture (the capture thread and the
# PulseAudio source, through sonabel_capture_probe) records the same monitor for 3 s, 1.5 s
# after the control started. Per run it prints the control's phase breaks near our start and
# near our stop (within -0.3..+0.6 s of them) and elsewhere (what the busy machine does by itself),
# our take's breaks, how our audio arrived (packets, longest wait between deliveries) and, under
# PipeWire, the graph's quantum cycle by cycle (pw-profiler) as "quantum x cycles" runs, and the
# audio captured before our Stop that our take lacks (median and largest over the runs).
#   bench/capture_join.sh [RUNS] [PROBE]     (default 8; PROBE: another build of the probe)
# Not a test: the figures depend on the machine and its load (printed with them).
set -uo pipefail
runs=${1:-8}
cd "$(dirname "$0")/.."
build=build/linux
if [ -z "${2:-}" ]; then
  cmake -S . -B "$build" -DSONABEL_BUILD_BENCH=ON >/dev/null || exit 1
  cmake --build "$build" --target sonabel_capture_probe -j2 >/dev/null || exit 1
fi
probe=${2:-$build/bench/sonabel_capture_probe}
source tests/e2e/services.sh
work=$(mktemp -d /tmp/sonabel-join.XXXXXX)
tone_pid="" control_pid="" profiler_pid=""
cleanup() {
  stop_pid profiler_pid
  stop_pid control_pid
  stop_pid tone_pid
  stop_services
  [ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
start_pulse || exit 1
server=${SONABEL_SOUND_SERVER:-pulseaudio}

pactl load-module module-null-sink sink_name=jointone rate=48000 channels=2 format=float32le \
  >/dev/null || exit 1
sox -D -q -n -r 48000 -c 2 -b 16 -e signed -t raw - synth 3600 sine 997 sine 997 vol 0.5 \
  2>/dev/null |
  pacat --playback --latency-msec="${TONE_LATENCY_MS:-200}" --rate=48000 --channels=2 \
    --format=s16le -d jointone >/dev/null 2>&1 &
tone_pid=$!
pactl set-default-source jointone.monitor
sleep 1

# Phase breaks of the first channel, as "seconds" lines (see bench/app_cpu.sh): a pure tone obeys
# x[n] = 2 cos(w) x[n-1] - x[n-2]; 16-bit rounding leaves a few units, a lost or repeated sample
# hundreds or more. The first 50 ms are skipped: a stream's first block can start mid-fade.
break_times() {
  local c
  c=$(awk 'BEGIN { printf "%.12f", 2 * cos(2 * 3.14159265358979 * 997 / 48000) }')
  sox "$1" -t dat - remix 1 2>/dev/null | awk -v c="$c" '
    /^;/ { next }
    { v = $2 * 32768
      if (n >= 2400) { r = v - c * p1 + p2
        if ((r > 50 || r < -50) && n - last > 48) { printf "%.3f\n", n / 48000; last = n } }
      p2 = p1; p1 = v; ++n }'
}
# quanta PROFILER_LOG: the quantum of each cycle (estimated period x 48 kHz), run-length encoded.
quanta() {
  awk '{ q = int($4 * 48 / 1000 + 0.5); if (q != last) { if (n) printf "%d x%d, ", last, n
         last = q; n = 0 } ++n } END { if (n) printf "%d x%d", last, n }' "$1"
}
now() { date +%s.%N; }

echo "$server, tone latency ${TONE_LATENCY_MS:-200} ms, probe $probe, load $(cut -d' ' -f1-3 /proc/loadavg)"
total_start=0 total_stop=0 total_other=0 total_ours=0
for run in $(seq "$runs"); do
  rm -f "$work"/*.wav "$work"/profiler.log
  if [ "$server" = pipewire ]; then
    (cd "$work" && exec pw-profiler >/dev/null 2>&1) &
    profiler_pid=$!
  fi
  parecord --latency-msec=100 --rate=48000 --channels=2 --format=s16le -d jointone.monitor \
    "$work/control.wav" &
  control_pid=$!
  t0=$(now)
  sleep 1.5
  ts=$(now)
  "$probe" "$work/ours.wav" 3 >"$work/probe.txt"
  te=$(now)
  sleep 1.5
  kill -INT "$control_pid"; wait "$control_pid"; control_pid=""
  stop_pid profiler_pid
  read -r at_start at_stop other < <(break_times "$work/control.wav" | awk -v s="$ts" -v e="$te" -v t0="$t0" '
      NR == 1 { s -= t0; e -= t0 }
      { if ($1 >= s - 0.3 && $1 <= s + 0.6) a++; else if ($1 >= e - 0.3 && $1 <= e + 0.6) b++; else o++ }
      END { print a + 0, b + 0, o + 0 }')
  ours=$(break_times "$work/ours.wav" | wc -l)
  field() { sed -n "s/^$1=//p" "$work/probe.txt"; }
  printf 'run %d: control breaks at our start %d, at our stop %d, elsewhere %d; ours %d in %s s' \
    "$run" "$at_start" "$at_stop" "$other" "$ours" "$(soxi -D "$work/ours.wav")"
  printf ' (%s packets, largest %s frames, longest wait %s ms); missing at Stop %s ms\n' \
    "$(field packets)" "$(field largest_packet)" "$(field longest_gap_ms)" "$(field stop_missing_ms)"
  field stop_missing_ms >>"$work/missing.txt"
  [ "$server" != pipewire ] || echo "       quantum: $(quanta "$work/profiler.log")"
  total_start=$((total_start + at_start)) total_stop=$((total_stop + at_stop))
  total_other=$((total_other + other)) total_ours=$((total_ours + ours))
done
sort -g "$work/missing.txt" | awk '{ v[NR] = $1 } END { printf "missing at Stop over %d runs: median %.1f ms, largest %.1f ms\n", NR, NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2, v[NR] }'
echo "total over $runs runs: control breaks at our start $total_start, at our stop $total_stop," \
     "elsewhere $total_other; ours $total_ours; load $(cut -d' ' -f1-3 /proc/loadavg)"
