#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# CPU, memory and system-log cost of the running Linux app, the way a user runs it: Release
# build, a private Xvfb (Mesa software GL) and a private PulseAudio whose default source is a
# real-time 48 kHz stereo 997 Hz tone (null sink fed by pacat), Start/Stop driven with xdotool.
# Prints, in one run: CPU % of one core while recording (20 s), idle afterwards (10 s) and while
# playing the take back (15 s, through the null sink "nul"), for the app in total and per thread (from /proc/<pid>/task/*/schedstat), RSS and its private part
# at the start and end of the take, parecord on the same source over the same 20 s as the floor,
# system-log traffic (/dev/log) during the take, and a phase-break count of the app's WAV and of
# parecord's.
#   bench/app_cpu.sh [build-dir]      (default build/release; configured and built here)
# Not a test: the figures depend on the machine and its load (printed with them).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build/release}
RECORD_SECONDS=${RECORD_SECONDS:-20}
IDLE_SECONDS=${IDLE_SECONDS:-10}
PLAY_SECONDS=${PLAY_SECONDS:-15}   # less than the take

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSONABEL_BUILD_TESTS=OFF >/dev/null || exit 1
fi
cmake --build "$build" --target sonabel -j2 >/dev/null || exit 1
app="$root/$build/sonabel"

source tests/e2e/services.sh
source tests/e2e/e2e_lib.sh
work=$(mktemp -d /tmp/sonabel-bench.XXXXXX)
app_pid="" rec_pid="" strace_pid="" tone_pid=""
cleanup() {
  for p in "$strace_pid" "$rec_pid" "$app_pid" "$tone_pid"; do
    [ -z "$p" ] || { kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; }
  done
  stop_services
  [ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

start_pulse || exit 1
start_xvfb || exit 1
# Stereo, 48 kHz, delivered in real time (low-latency playback into a null sink, recorded from
# its monitor). 997 Hz: no whole number of samples is a whole number of periods below 1 s, so
# any lost or repeated stretch of samples breaks the tone's phase (see breaks below).
pactl load-module module-null-sink sink_name=benchtone rate=48000 channels=2 format=float32le \
  >/dev/null
sox -D -q -n -r 48000 -c 2 -b 16 -e signed -t raw - synth 600 sine 997 sine 997 vol 0.5 \
  2>/dev/null |
  pacat --playback --latency-msec=20 --rate=48000 --channels=2 --format=s16le -d benchtone \
    >/dev/null 2>&1 &
tone_pid=$!
pactl set-default-source benchtone.monitor

status="$work/status.log"
SONABEL_STATUS_LOG="$status" "$app" >"$work/app.log" 2>&1 &
app_pid=$!
win=$(find_window '^Sonabel with FFT$' 20)
[ -n "$win" ] || { echo "the main window did not appear" >&2; exit 1; }

# Per-thread CPU time in ns: "tid name ns" lines.
thread_times() {
  local t
  for t in /proc/"$1"/task/*; do
    read -r ns _ <"$t/schedstat" 2>/dev/null || continue
    local name tid=${t##*/}
    name=$(tr ' ' '_' <"$t/comm")
    # Our own threads are unnamed: the main thread is the GTK one, the render thread exists
    # from start-up, the capture thread only from Start on, the playback thread from Play on.
    if [ "$tid" = "$1" ]; then name="main(GTK)"
    elif [ "$name" = sonabel ] && [ -s "$work/before-start" ]; then
      grep -q "^$tid " "$work/before-start" && name=render || name=$worker
    fi
    echo "$tid $name $ns"
  done
}
proc_ns() { awk '{ s += $3 } END { print s + 0 }' <(thread_times "$1"); }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
# The private part of it: what the process allocated, without the shared libraries' pages it
# touched (those vary with the code paths a run took and cost the machine no memory of its own).
anon_kib() { awk '/^RssAnon:/ { print $2 }' "/proc/$1/status"; }

# report LABEL SECONDS BEFORE AFTER: total and per-thread (grouped by name) CPU % of one core.
report() {
  awk -v label="$1" -v secs="$2" '
    FNR == NR { before[$1] = $3; next }
    { d = $3 - before[$1]; total += d; if (d > 0) by[$2 " " $1] += d }
    END {
      printf "%-10s app total %6.2f %% of one core\n", label, total / (secs * 1e7)
      for (n in by) printf "             %-24s %6.2f %%\n", n, by[n] / (secs * 1e7) | "sort"
    }' "$3" "$4"
}

click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
worker=capture
sleep 3   # start-up settles

# --- Recording: parecord on the same source from before Start until after the app has saved.
thread_times "$app_pid" >"$work/threads"
mv "$work/threads" "$work/before-start"
parecord --rate=48000 --channels=2 --format=s16le -d benchtone.monitor "$work/floor.wav" &
rec_pid=$!
take="$work/take.wav"
click 90 35
choose_path "$take" || { echo "the Save As dialog did not take the path" >&2; exit 1; }
for _ in $(seq 100); do [ -s "$take" ] && break; sleep 0.1; done
sleep 1
rss0=$(rss_kib "$app_pid") anon0=$(anon_kib "$app_pid")
thread_times "$app_pid" >"$work/rec0"
rec0=$(awk '{ print $2 }' "/proc/$rec_pid/schedstat")
sleep "$RECORD_SECONDS"
thread_times "$app_pid" >"$work/rec1"
rec1=$(awk '{ print $2 }' "/proc/$rec_pid/schedstat")
rss1=$(rss_kib "$app_pid") anon1=$(anon_kib "$app_pid")
# System-log traffic over 3 s more of recording: every socket call naming /dev/log.
strace -f -yy -e trace=%network -o "$work/strace.log" -p "$app_pid" 2>/dev/null &
strace_pid=$!
sleep 3
kill "$strace_pid" 2>/dev/null; wait "$strace_pid" 2>/dev/null; strace_pid=""
devlog=$(grep -c '/dev/log' "$work/strace.log" 2>/dev/null)
click 220 35   # Stop
for _ in $(seq 100); do grep -q '^Saved to: ' "$status" 2>/dev/null && break; sleep 0.1; done
sleep 0.5
kill -INT "$rec_pid" 2>/dev/null; wait "$rec_pid" 2>/dev/null; rec_pid=""

# --- Idle: the last take's picture stays on screen, nothing changes.
sleep 2
thread_times "$app_pid" >"$work/idle0"
sleep "$IDLE_SECONDS"
thread_times "$app_pid" >"$work/idle1"
rss2=$(rss_kib "$app_pid")

# --- Playing the take back, from a second in (the output's buffer filled) for PLAY_SECONDS.
worker=playback
click 515 35   # Play
sleep 1
thread_times "$app_pid" >"$work/play0"
sleep "$PLAY_SECONDS"
thread_times "$app_pid" >"$work/play1"
click 220 35   # Stop

# Phase breaks of the first channel: a pure tone obeys x[n] = 2 cos(w) x[n-1] - x[n-2]; 16-bit
# rounding leaves a residual of a few units, a lost or repeated sample one of hundreds or more.
breaks() {
  local c
  c=$(awk 'BEGIN { printf "%.12f", 2 * cos(2 * 3.14159265358979 * 997 / 48000) }')
  sox "$1" -t dat - remix 1 2>/dev/null | awk -v c="$c" '
    /^;/ { next }
    { v = $2 * 32768
      if (n >= 2) { r = v - c * p1 + p2; if ((r > 50 || r < -50) && n - last > 48) {
        if (b < 5) at = at sprintf(" %.3f", n / 48000); ++b; last = n } }
      p2 = p1; p1 = v; ++n }
    END { printf "%d phase breaks in %.3f s%s", b, n / 48000, b ? " (at s:" at ")" : "" }'
}

echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
report recording "$RECORD_SECONDS" "$work/rec0" "$work/rec1"
awk -v a="$rec0" -v b="$rec1" -v s="$RECORD_SECONDS" \
  'BEGIN { printf "parecord   floor     %6.2f %% of one core\n", (b - a) / (s * 1e7) }'
report idle "$IDLE_SECONDS" "$work/idle0" "$work/idle1"
report playing "$PLAY_SECONDS" "$work/play0" "$work/play1"
echo "RSS        take start $rss0 KiB, take end $rss1 KiB (growth $((rss1 - rss0)) KiB)," \
     "idle $rss2 KiB"
echo "RssAnon    take start $anon0 KiB, take end $anon1 KiB"
echo "/dev/log   $devlog socket calls in 3 s of recording"
echo "app WAV    $(breaks "$take")"
echo "parecord   $(breaks "$work/floor.wav")"
