#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Soak test of the Linux application (not run in CI): records a real-time 48 kHz stereo tone
# (1000 Hz left, 1500 Hz right) for MINUTES with the window and its GL display running, under a
# private Xvfb and PulseAudio, then checks the WAV: no break in either tone, length equal to the
# recording time (+-0.5 s), header matching the data, and the process's resident memory growing
# by less than 1 MiB after the first 30 s (the waveform buffer, FFT and GL set-up are in place by
# then). A break that is the edge of a stretch of silence is the tone player starving (it
# reports each underrun; a busy machine causes them) and is counted apart; any other break, or
# more silent stretches than reported underruns, fails. Prints the figures; exit status 0 when
# all hold. The WAV is kept when a check fails.
# Usage: bench/soak.sh MINUTES
set -uo pipefail
minutes=${1:?usage: bench/soak.sh MINUTES}
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/linux"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONABEL_BUILD_BENCH=ON >/dev/null || exit 1
cmake --build "$build" --target sonabel sonabel_soak_check -j2 >/dev/null || exit 1
source tests/e2e/services.sh
source tests/e2e/e2e_lib.sh
work=$(mktemp -d /tmp/sonabel-soak.XXXXXX)
app_pid="" tone_pid="" keep=0
cleanup() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null
  stop_pid tone_pid
  stop_services
  if [ "$keep" = 1 ]; then rm -f "$work/tone.log"; else rm -rf "$work"; fi
}
trap cleanup EXIT
start_pulse && start_xvfb || exit 1

pactl load-module module-null-sink sink_name=soak rate=48000 channels=2 format=float32le \
  >/dev/null || exit 1
sox -q -D -n -r 48000 -c 2 -b 16 -e signed -t raw - synth $((minutes * 60 + 120)) \
  sine 1000 sine 1500 vol 0.5 2>/dev/null |
  pacat -v --playback --latency-msec=1000 --rate=48000 --channels=2 --format=s16le -d soak \
    >"$work/tone.log" 2>&1 &
tone_pid=$!
pactl set-default-source soak.monitor

status="$work/status.log" wav="$work/soak.wav"
SONABEL_STATUS_LOG="$status" "$build/sonabel" >"$work/app.log" 2>&1 &
app_pid=$!
win=$(find_window '^Sonabel with FFT$' 20)
[ -n "$win" ] || { echo "soak: the main window did not appear"; exit 1; }
xdotool mousemove --window "$win" 90 35 click 1                   # Start Recording
choose_path "$wav" || { echo "soak: the Save As dialog did not take the path"; exit 1; }
for _ in $(seq 100); do [ -e "$wav" ] && break; sleep 0.1; done
t0=$(date +%s.%N)
[ -e "$wav" ] || { echo "soak: the recording did not start"; exit 1; }

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$app_pid/status"; }   # KiB
rss_parts() { awk '/^Rss(Anon|File|Shmem):/ { printf "%s %s KiB, ", $1, $2 }' "/proc/$app_pid/status"; }
end=$(awk -v t="$t0" -v m="$minutes" 'BEGIN { printf "%.3f", t + 60 * m }')
base="" peak=0 samples=""
while awk -v e="$end" -v n="$(date +%s.%N)" 'BEGIN { exit !(n < e) }'; do
  sleep 10
  kill -0 "$app_pid" 2>/dev/null || { echo "soak: the application died"; exit 1; }
  r=$(rss)
  samples="$samples $r"
  elapsed=$(awk -v t="$t0" -v n="$(date +%s.%N)" 'BEGIN { printf "%d", n - t }')
  if [ -z "$base" ]; then
    [ "$elapsed" -ge 30 ] && base=$r && base_parts=$(rss_parts)
  elif [ "$r" -gt "$peak" ]; then
    peak=$r
  fi
done
xdotool mousemove --window "$win" 220 35 click 1                  # Stop
t1=$(date +%s.%N)
for _ in $(seq 100); do grep -qF "Saved to: $wav" "$status" 2>/dev/null && break; sleep 0.1; done
final_rss=$(rss) final_parts=$(rss_parts)
underruns=$(grep -c "Stream underrun" "$work/tone.log")
kill "$app_pid"; wait "$app_pid" 2>/dev/null; app_pid=""

recorded=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
check=$("$build/bench/sonabel_soak_check" "$wav" 1000 1500); check_ok=$?
f() { sed -n "s/^$1=//p" <<<"$check"; }
growth=$((${peak:-0} - ${base:-0}))
[ "$growth" -lt 0 ] && growth=0
echo "soak: ${minutes} min of 48 kHz stereo; status line: $(tail -n 1 "$status")"
echo "  recorded for ${recorded} s; WAV holds $(f duration) s ($(f frames) frames)," \
     "header matches data: $(f header_matches)"
echo "  left 1000 Hz: RMS $(f rms_0), largest residual $(f max_residual_lsb_0) LSB, breaks $(f breaks_0)"
echo "  right 1500 Hz: RMS $(f rms_1), largest residual $(f max_residual_lsb_1) LSB, breaks $(f breaks_1)"
echo "  RSS (KiB) every 10 s:${samples}; at stop ${final_rss}"
echo "  silent stretches (tone player starved) $(f silence_gaps), $(f silence_gap_s) s in all," \
     "at $(f gaps_at_s)s; underruns the player reported: ${underruns}; other breaks: $(f jumps)"
echo "  RSS after 30 s ${base:-?} KiB, highest later ${peak} KiB: growth ${growth} KiB"
echo "  RSS parts after 30 s: ${base_parts:-?}at stop: ${final_parts}"
fail=0
[ "$check_ok" = 0 ] || { echo "FAIL: break, silent channel or header mismatch"; fail=1; }
[ "$(f silence_gaps)" -le "$underruns" ] ||
  { echo "FAIL: more silent stretches than the tone player's underruns"; fail=1; }
awk -v d="$(f duration)" -v r="$recorded" 'BEGIN { exit !(d >= r - 0.5 && d <= r + 0.5) }' ||
  { echo "FAIL: WAV length differs from the recording time by more than 0.5 s"; fail=1; }
[ -n "$base" ] && [ "$growth" -lt 1024 ] || { echo "FAIL: RSS grew by 1 MiB or more"; fail=1; }
[ "$fail" = 0 ] && echo "soak: passed"
[ "$fail" = 0 ] || { keep=1; echo "  recording kept: $wav"; }
exit "$fail"
