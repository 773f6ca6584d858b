#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end test of the Windows application: the real sonabel.exe under Wine, on a private Xvfb
# and a private PulseAudio daemon (which Wine's WASAPI sees as the default capture endpoint),
# driven from outside by win32_driver.exe through its window. Screenshots are kept in ARTIFACTS.
# Usage: windows_e2e.sh APP.exe DRIVER.exe E2E_CHECK ARTIFACTS   (SONABEL_WINEPREFIX set)
set -uo pipefail
app=$1 driver=$2 checker=$3 artifacts=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/services.sh"
source "$here/e2e_lib.sh"
source "$here/wine_env.sh"

rm -rf "$artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d /tmp/sonabel-win-e2e.XXXXXX)
out="$work/recordings"
mkdir -p "$out"
app_pid=""

cleanup() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  stop_wine
  stop_services
  rm -rf "$work"
}
trap cleanup EXIT

# The Windows form of a Linux path, as the app shows it: Z:\dir\name.
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
drive() { wine "$driver" "$@" </dev/null 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
drive_quiet() { drive "$@" >/dev/null; }

start_app() {
  wine "$app" </dev/null >"$artifacts/app-$1.log" 2>&1 &
  app_pid=$!
  drive_quiet wait-window 60 || { bad "$1: main window appears"; return 1; }
}

screenshot() {
  import -window root "$artifacts/$1.png"
  convert "$artifacts/$1.png" "$work/$1.ppm"
  read -r ox oy < <(drive origin)
  "$checker" shot "$work/$1.ppm" "$ox" "$oy"
}

check_wav() {   # check_wav NAME FILE -> measurements in $wavinfo
  wavinfo=$("$checker" wav "$2")
  expect "$1: 44-byte header, PCM, 16 bits, 48 kHz, mono" \
    [ "$(field valid "$wavinfo")/$(field audio_format "$wavinfo")/$(field bits "$wavinfo")/$(field rate "$wavinfo")/$(field channels "$wavinfo")" = "1/1/16/48000/1" ]
  expect "$1: data size = file size - 44" \
    [ "$(field data_size "$wavinfo")" = "$(($(field file_size "$wavinfo") - 44))" ]
}

ensure_wineprefix || exit 1
stop_wine

# --- Run 1: layout, cancel, record, stop, export, close while recording.
start_pulse && start_tone || exit 1
start_xvfb || exit 1
start_app main || exit 1
layout=$(drive layout); layout_ok=$?
echo "$layout" | sed 's/^/     /'
expect "layout: window, nine controls and both GL views as laid out" [ "$layout_ok" = 0 ]

expect "cancel: the Save As dialog opens and cancels" drive_quiet start-cancel
sleep 0.5
expect "cancel: status stays Ready, no file" [ "$(drive status)" = "Ready" ] && [ -z "$(ls -A "$out")" ]

take="$out/Müller take.wav"
chosen_at=$(now)
expect "record: Save As takes a non-ASCII path" drive_quiet start "$take"
until_true 10 test -e "$take"; started=$(now)
sleep 2.2
shot=$(screenshot recording)
stopping=$(now); drive_quiet stop
expect "record: status line shows Saved to: and the path" \
  drive_quiet wait-status "Saved to: $(winpath "$take")" 10; stopped=$(now)
check_wav record "$take"
expect "record: WAV length matches the time from start to stop" recorded_within "$(field duration "$wavinfo")" "$chosen_at" "$started" "$stopping" "$stopped"
expect "record: WAV is a 1 kHz tone" near "$(field frequency "$wavinfo")" 1000 10

meter=$("$checker" meter "$(field rms "$wavinfo")")
echo "     screenshot: meter bar $(field meter_bar "$shot") px (expected" \
     "$(field meter_expected "$meter")), waveform green px $(field waveform_green "$shot")" \
     "(GL child views do not show under Wine)"
expect "screen: level meter bar width follows the RMS (+-3 px)" near "$(field meter_bar "$shot")" "$(field meter_expected "$meter")" 3
expect "screen: meter background is the window colour after the bar" [ "$(field meter_white_after "$shot")" = "$(field meter_rest "$shot")" ]

mp3="$out/export take.mp3"
expect "export: Save As takes the MP3 path" drive_quiet export "$mp3"
# The export writes a temporary file and renames it when complete.
expect "export: the MP3 file appears" until_true 30 test -s "$mp3"
mpg123 -q -w "$work/decoded.wav" "$mp3" 2>/dev/null
decoded=$("$checker" wav "$work/decoded.wav")
echo "     MP3 decodes to $(field duration "$decoded") s at $(field frequency "$decoded") Hz"
expect "export: MP3 decodes to a 1 kHz tone" near "$(field frequency "$decoded")" 1000 10
expect "export: MP3 lasts as long as the WAV (+-0.1 s)" near "$(field duration "$decoded")" "$(field duration "$wavinfo")" 0.1

# Play: the take through Wine's output to the default sink (a null sink without rewinds), recorded
# from its monitor: the take's tone, as long as the take. The activity line counts, the meter
# moves, and it ends by itself.
pactl load-module module-null-sink sink_name=speakers rate=48000 channels=1 norewinds=1 >/dev/null
pactl set-default-sink speakers
parecord --rate=48000 --channels=1 --format=s16le -d speakers.monitor "$work/played.wav" &
rec_pid=$!
until_true 10 test -s "$work/played.wav"; sleep 0.5
drive_quiet play
expect "play: the activity line counts the take's time" drive_quiet activity "Playing 0:01 of 0:0" 10
shot=$(screenshot playing)
expect "play: the level meter shows the sound" [ "$(field meter_bar "$shot")" -gt 500 ]
expect "play: it ends by itself" drive_quiet activity "Recorded 0:0" 15
sleep 0.5
kill -INT "$rec_pid"; wait "$rec_pid"
heard=$("$checker" wav "$work/played.wav")
echo "     the sink's monitor: $(field loud "$heard") s of sound at $(field frequency "$heard") Hz"
expect "play: the take's 1 kHz reached the PulseAudio sink" near "$(field frequency "$heard")" 1000 10
expect "play: as long as the take (+-0.05 s)" near "$(field loud "$heard")" "$(field duration "$wavinfo")" 0.05

closing="$out/closing.wav"
chosen_at=$(now)
expect "close: Save As takes the path" drive_quiet start "$closing"
until_true 10 test -e "$closing"; started=$(now)
# The activity line counts the take's length from the frames written: it advances. (Not in the
# first take, whose level the meter check compares with the whole file's.)
first=$(drive activity "Recording " 10 | sed -n 's/^Recording \([0-9]*\):\([0-9][0-9]\) from [^·]* · 48 kHz, 1 channel · [0-9.]* MB\( · .*\)\{0,1\}$/\1 \2/p' | awk '{ print $1 * 60 + $2 }')
next=$(printf 'Recording %d:%02d from ' $(((first + 1) / 60)) $(((first + 1) % 60)))
expect "record: the activity line shows the take's length (${first:-no} s), input, format and size, and advances" \
  eval '[ -n "$first" ] && drive_quiet activity "$next" 10'
# Paused for 3 s: the line and the button say so; the file lacks the pause.
paused=("$(now)"); drive_quiet pause
expect "pause: the activity line says Paused" drive_quiet activity "Paused " 10
paused+=("$(now)")
expect "pause: the Pause button reads Resume" [ "$(drive text 14)" = "Resume" ]
sleep 3
resumed=("$(now)"); drive_quiet pause
expect "resume: the take records on" drive_quiet activity "Recording " 10
resumed+=("$(now)"); sleep 1
stopping=$(now); drive_quiet close
expect "close while recording: status shows Saved to: and the path" \
  drive_quiet wait-status "Saved to: $(winpath "$closing")" 10; stopped=$(now)
expect "close while recording: the window stays open" drive_quiet wait-window 0
import -window root "$artifacts/after-first-close.png"
check_wav "close while recording" "$closing"
expect "pause: the WAV lacks the paused stretch" recorded_within "$(field duration "$wavinfo")" "$chosen_at" \
  "$started" "$stopping" "$stopped" "${paused[*]}" "${resumed[*]}"
drive_quiet close
expect_exit_0 "close while recording, then close" 60
stop_wine

# --- TerminateProcess 5.5 s into a recording: the header written during the recording makes
# --- the file readable.
start_app kill || exit 1
killed="$out/killed.wav"
expect "kill: Save As takes the path" drive_quiet start "$killed"
until_true 10 test -e "$killed"; t0=$(now)
sleep 5.5
t1=$(drive kill)   # the moment of TerminateProcess (starting the driver takes a while)
expect "kill: TerminateProcess ends sonabel.exe" [ -n "$t1" ]
elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
wait "$app_pid" 2>/dev/null
app_pid=""
expect_survives_kill "TerminateProcess while recording" "$killed" "$elapsed"
stop_wine
stop_pulse

# --- Run 2: no sound server at all: no capture endpoint.
start_app no-server || exit 1
never="$out/never.wav"
expect "no device: Save As takes the path" drive_quiet start "$never"
expect "no device: status shows the failure" \
  drive_quiet wait-status "Recording failed: no audio capture device could be opened." 15
expect "no device: no file is created" [ ! -e "$never" ]
import -window root "$artifacts/no-device.png"
drive_quiet close
expect_exit_0 "no device" 60
stop_wine

# --- Run 3: no GLX on the display, so no GL view can be created: the error box, then a
# --- recording works all the same; close during a long export waits for the MP3.
stop_xvfb
start_xvfb -extension GLX || exit 1
start_pulse && start_tone || exit 1
wine "$app" </dev/null >"$artifacts/app-no-gl.log" 2>&1 &
app_pid=$!
expect "no GL: the error box says the spectrum view failed" \
  drive_quiet error-box "Failed to create Spectrum GL window" 60
drive_quiet wait-window 30
nogl="$out/no gl.wav"
expect "no GL: Save As takes the path" drive_quiet start "$nogl"
until_true 10 test -e "$nogl"
sleep 1
drive_quiet stop
expect "no GL: status shows Saved to: and the path" \
  drive_quiet wait-status "Saved to: $(winpath "$nogl")" 10
check_wav "no GL" "$nogl"
expect "no GL: the WAV is a 1 kHz tone" near "$(field frequency "$wavinfo")" 1000 10

# A long export shows its progress, then names the MP3. Closing during the next one: the window
# says it closes once the export is done, and does then. A 20-minute source (put in place of the
# last take) gives the exports some work.
sox -q -n -r 48000 -c 1 -b 16 "$nogl" synth 1200 sine 1000 vol 0.5
expect "long export: Save As takes the path" drive_quiet export "$out/first long.mp3"
expect "long export: the activity line shows its progress" drive_quiet activity "Exporting first long.mp3: " 30
expect "long export: the activity line then names the MP3" drive_quiet activity "MP3 saved: first long.mp3" 60
long_mp3="$out/long export.mp3"
expect "export then close: Save As takes the path" drive_quiet export "$long_mp3"
drive_quiet close
expect "export then close: the window stays, saying it closes once the export is done" \
  drive_quiet activity "Closing once the MP3 export is done · " 10
expect "export then close: the window goes once the export is done" until_true 60 bash -c "! wine '$driver' wait-window 0 </dev/null >/dev/null 2>&1"
expect_exit_0 "export then close" 60
mpg123 -q -w "$work/long.wav" "$long_mp3" 2>/dev/null
long=$("$checker" wav "$work/long.wav")
echo "     exported MP3 decodes to $(field duration "$long") s"
expect "export then close: the MP3 is complete (1200 s)" near "$(field duration "$long")" 1200 0.1

echo "windows_e2e: $passed passed, $failed failed"
[ "$failed" = 0 ]
