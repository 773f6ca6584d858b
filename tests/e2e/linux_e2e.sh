#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end test of the Linux application: the real binary under a private Xvfb (Mesa GL) and a
# private sound server whose default source is a real-time 1 kHz mono 48 kHz tone, driven with
# xdotool like a user. Screenshots (of the root window: what the user sees) are kept in ARTIFACTS.
# The sound server is PulseAudio, or PipeWire with SONABEL_SOUND_SERVER=pipewire; with
# SONABEL_WINDOW_MANAGER=openbox it runs under a reparenting window manager (see services.sh).
# Usage: linux_e2e.sh APP E2E_CHECK SEND_CLOSE ARTIFACTS
set -uo pipefail
app=$1 checker=$2 send_close=$3 artifacts=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/services.sh"
source "$here/e2e_lib.sh"

rm -rf "$artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d /tmp/sonabel-e2e.XXXXXX)
out="$work/recordings"
mkdir -p "$out"
status="$work/status.log"
activity="$work/activity.log"   # what the activity line's label held, each time it changed
app_pid=""

cleanup() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  stop_services
  rm -rf "$work"
}
trap cleanup EXIT

last_status() { [ -s "$status" ] && tail -n 1 "$status"; }
status_is() { [ "$(last_status)" = "$1" ]; }
# A take whose input went away: saved, and the line says so after the path.
status_says_removed() { last_status | grep -q -F -- "$1 (the input "; }
activity_has() { [ -s "$activity" ] && tail -n 1 "$activity" | grep -q -- "$1"; }

start_app() {
  : >"$status"
  SONABEL_STATUS_LOG="$status" SONABEL_ACTIVITY_LOG="$activity" "$app" >"$artifacts/app-$1.log" 2>&1 &
  app_pid=$!
  win=$(find_window '^Sonabel with FFT$' 20)
  [ -n "$win" ] || { bad "$1: main window appears"; return 1; }
  client_origin
}

# ox, oy: where the main window's client area lies on the root window. Under a window manager
# the window sits in a frame, and xdotool's geometry counts the frame's offset twice.
client_origin() {
  local info
  info=$(xwininfo -id "$win")
  ox=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
  oy=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
}

click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
click_start()  { click $((20 + 70)) $((20 + 15)); }
click_stop()   { click $((180 + 40)) $((20 + 15)); }
click_export() { click $((270 + 45)) $((20 + 15)); }

# Closes the app with WM_DELETE_WINDOW and checks it exits with status 0.
close_app() {
  "$send_close" "$win"
  expect_exit_0 "$1" 10
}

screenshot() {
  import -window root "$artifacts/$1.png"
  convert "$artifacts/$1.png" "$work/$1.ppm"
  "$checker" shot "$work/$1.ppm" "$ox" "$oy"
}

check_wav() {   # check_wav NAME FILE -> prints the measurements into $wavinfo
  wavinfo=$("$checker" wav "$2")
  expect "$1: 44-byte header, PCM, 16 bits, 48 kHz, mono" \
    [ "$(field valid "$wavinfo")/$(field audio_format "$wavinfo")/$(field bits "$wavinfo")/$(field rate "$wavinfo")/$(field channels "$wavinfo")" = "1/1/16/48000/1" ]
  expect "$1: data size = file size - 44" \
    [ "$(field data_size "$wavinfo")" = "$(($(field file_size "$wavinfo") - 44))" ]
}

# --- Run 1: record, look at the window, stop, export, refuse a missing folder, close while
# --- recording.
start_pulse && start_tone || exit 1
start_xvfb || exit 1
start_app main || exit 1
no_trace() { shot=$(screenshot before-start); [ "$(field spectrum_lit "$shot")" = 0 ]; }
expect "spectrum view: up and black, no trace before the first Start" until_true 10 no_trace

take="$out/Müller take.wav"
click_start
expect "record: save dialog accepts a typed non-ASCII path" choose_path "$take"
until_true 10 test -e "$take"; started=$(now)
sleep 2.2
# The meter shows the last packet's level, which is the tone's unless the tone player starved on
# a busy machine just then: the picture is taken again until the bar shows the tone's level.
full=$("$checker" meter 0.35355)
full_bar=$(field meter_expected "$full")
tone_shown() { shot=$(screenshot recording); near "$(field meter_bar "$shot")" "$full_bar" 3; }
until_true 5 tone_shown
# The activity line counts the take's length from the frames written: it advances.
seconds_shown() { tail -n 1 "$activity" | sed -n 's/^Recording \([0-9]*\):\([0-9][0-9]\) from [^·]* · 48 kHz, 1 channel · [0-9.]* MB\( · .*\)\{0,1\}$/\1 \2/p' | awk '{ print $1 * 60 + $2 }'; }
first=$(seconds_shown)
expect "record: the activity line shows the take's length ($first s), input, format and size, and advances" \
  until_true 5 eval '[ -n "$first" ] && [ "$(seconds_shown)" -gt "$first" ]'
stopping=$(now); click_stop
expect "record: status line shows Saved to: and the path" until_true 10 status_is "Saved to: $take"; stopped=$(now)
check_wav record "$take"
expect "record: WAV length matches the time from start to stop" recorded_within "$(field duration "$wavinfo")" "$chosen_at" "$started" "$stopping" "$stopped"
expect "record: WAV is a 1 kHz tone" near "$(field frequency "$wavinfo")" 1000 10

# The red spectrum's highest point is the 1 kHz bin: 1000 * 8192 / 48000 of 4096 bins over 1160 px.
peak_x=$(awk 'BEGIN { printf "%.1f", 20 + 1160 * (1000 * 8192 / 48000) / 4096 }')
meter=$("$checker" meter "$(field rms "$wavinfo")")
# The bar shows the last packet's level: the tone's own (RMS 0.354) unless the source dropped out
# in it. Dropouts on a busy machine also lower the whole take's RMS, so the bar lies between the
# take's average level and the tone's full level (each +-3 px).
echo "     screenshot: green waveform px $(field waveform_green "$shot"), red peak at x" \
     "$(field spectrum_peak_x "$shot") (expected $peak_x), meter bar $(field meter_bar "$shot") px" \
     "(expected $(field meter_expected "$meter")..$(field meter_expected "$full"))"
expect "screen: green waveform drawn in the waveform view" [ "$(field waveform_green "$shot")" -gt 1000 ]
expect "screen: red spectrum peak at the 1 kHz position (+-3 px)" near "$(field spectrum_peak_x "$shot")" "$peak_x" 3
expect "screen: spectrum peak reaches the top of the view" near "$(field spectrum_peak_y "$shot")" 120 2
expect "screen: level meter bar lies between the take's and the tone's level (+-3 px)" \
  [ "$(field meter_bar "$shot")" -ge $(($(field meter_expected "$meter") - 3)) \
    -a "$(field meter_bar "$shot")" -le $(($(field meter_expected "$full") + 3)) ]
expect "screen: meter background is white after the bar" [ "$(field meter_white_after "$shot")" = "$(field meter_rest "$shot")" ]
expect "screen: nothing is drawn into the spectrum view" [ "$(field spectrum_view_green "$shot")" = 0 ]

# The idle view is drawn once and then left alone: a Save As dialog moved over the views and
# cancelled must leave the same picture (the uncovered view is repainted, not left black).
# views_shot NAME: the views' area of a root window screenshot (what the user sees).
views_shot() {
  import -window root "$artifacts/$1.png"
  convert "$artifacts/$1.png" -crop "1160x170+$((ox + 20))+$((oy + 120))" +repage "$work/$1-views.png"
}
differing() {
  compare -metric AE "$work/$1-views.png" "$work/$2-views.png" null: 2>&1 | cut -d' ' -f1
}
covered() { views_shot idle-covered; [ "$(differing idle idle-covered)" -gt 10000 ]; }
restored() { views_shot idle-uncovered; [ "$(differing idle idle-uncovered)" = 0 ]; }
views_shot idle
click_export
dialog=$(find_window '^Save As$' 10)
xdotool windowmove --sync "$dialog" "$((ox + 100))" "$((oy + 100))"
expect "expose: the dialog covered the views" until_true 5 covered
expect "expose: Escape cancels the dialog" cancel_dialog "$dialog"
expect "expose: the views show the same picture once the dialog is gone" until_true 5 restored

mp3="$out/export take.mp3"
click_export
expect "export: save dialog accepts the MP3 path" choose_path "$mp3"
expect "export: MP3 file is written" until_true 30 test -s "$mp3"
sleep 0.3
mpg123 -q -w "$work/decoded.wav" "$mp3" 2>/dev/null
decoded=$("$checker" wav "$work/decoded.wav")
echo "     MP3 decodes to $(field duration "$decoded") s at $(field frequency "$decoded") Hz"
expect "export: MP3 decodes to a 1 kHz tone" near "$(field frequency "$decoded")" 1000 10
expect "export: MP3 lasts as long as the WAV (+-0.1 s)" near "$(field duration "$decoded")" "$(field duration "$wavinfo")" 0.1

# An export's error box leaves the main window usable: Start and Stop work while it is up.
rm -f "$take"
click_export
choose_path "$out/no source.mp3"; box=$(find_window '^Error$' 10)
expect "error box: the missing recording is reported" [ -n "$box" ]
during="$out/during box.wav"
click_start
expect "error box up: Start opens the Save As dialog" choose_path "$during"
until_true 10 test -e "$during"; sleep 1
click_stop
expect "error box up: Stop ends the recording" until_true 10 status_is "Saved to: $during"
expect "error box up: the box stays until dismissed" search_windows --name '^Error$'
"$send_close" "$box"

# Play: the last take (made 6 s of a 2 kHz tone) through the default sink (a null sink, made
# under PipeWire). The activity line counts, the views follow the sound (red peak at 2 kHz, the
# spectrogram's line growing), and it ends by itself, the views keeping its last moments.
sox -q -n -r 48000 -c 1 -b 16 "$during" synth 6 sine 2000 vol 0.5
[ -n "$(pactl list short sinks)" ] || pactl load-module module-null-sink sink_name=speakers >/dev/null
click $((470 + 45)) $((20 + 15))
expect "play: the activity line counts the take's time" until_true 10 grep -q '^Playing 0:02 of 0:06$' "$activity"
lit() { field spectrum_lit "$(screenshot "playing-$1")"; }
first_lit=$(lit 1)
expect "play: the spectrogram grows as the take plays" until_true 5 eval '[ "$(lit 2)" -gt "$first_lit" ]'
shot=$(screenshot playing)
expect "play: the red spectrum peak at the played 2 kHz (+-3 px)" \
  near "$(field spectrum_peak_x "$shot")" "$(awk 'BEGIN { printf "%.1f", 20 + 1160 * (2000 * 8192 / 48000) / 4096 }')" 3
expect "play: it ends by itself" until_true 15 activity_has '^Recorded 0:0'
shot=$(screenshot played)
expect "play: the views keep its last moments" \
  [ "$(field waveform_green "$shot")" -gt 1000 -a "$(field spectrum_lit "$shot")" -gt 0 ]

lines_before=$(wc -l <"$status")
click_start
dialog=$(find_window '^Save As$' 10)
xdotool windowfocus --sync "$dialog"
xdotool type --delay 15 "$work/no such folder/x.wav"
sleep 0.6
xdotool key Return
sleep 1
expect "missing folder: the dialog refuses the name and stays open" search_windows --name '^Save As$'
import -window root "$artifacts/missing-folder.png"
# GTK tells why in a message box of its own: close it, then cancel the Save As dialog.
for w in $(search_windows --onlyvisible --pid "$app_pid"); do
  [ "$w" = "$win" ] || [ "$w" = "$dialog" ] || "$send_close" "$w"
done
sleep 0.3
expect "missing folder: Escape cancels the dialog" cancel_dialog "$dialog"
sleep 0.5
expect "missing folder: no recording, status unchanged" \
  [ ! -e "$work/no such folder" ] && [ "$(wc -l <"$status")" = "$lines_before" ]

# The input chooser: a sink of its own plays a 3 kHz tone at 44.1 kHz; its entry, the last of
# the list, is chosen with the keyboard in the open list; the take holds what it plays.
speakers=$(pactl load-module module-null-sink sink_name=speakers rate=44100 channels=1 \
           sink_properties=device.description=Speakers)
(sox -q -n -r 44100 -c 1 -b 16 -e signed -t raw - synth 20 sine 3000 vol 0.5 |
   pacat --raw --playback --latency-msec=20 --rate=44100 --channels=1 --format=s16le -d speakers) \
   >/dev/null 2>&1 &
choose_last_input() {   # choose_last_input KEY: opens the list and picks its End (or Home) entry
  click 355 315; sleep 0.7; xdotool key "$1"; sleep 0.2; xdotool key Return; sleep 0.3
}
until_true 5 eval 'pactl list short sinks | grep -q speakers'; sleep 1
choose_last_input End
chosen="$out/speakers.wav"
click_start
expect "input: save dialog accepts the path" choose_path "$chosen"
expect "input: the activity line names the chosen input" \
  until_true 10 grep -q "^Recording [0-9:]* from System sound: Speakers · 44.1 kHz, 1 channel" "$activity"
sleep 3
click_stop
expect "input: status line shows Saved to: and the path" until_true 10 status_is "Saved to: $chosen"
wavinfo=$("$checker" wav "$chosen")
expect "input: the take is the sink's format (44.1 kHz, mono)" [ "$(field rate "$wavinfo")/$(field channels "$wavinfo")" = 44100/1 ]
expect "input: the take holds what the sink plays (3 kHz)" near "$(field frequency "$wavinfo")" 3000 10
choose_last_input Home   # back to the default input for the takes below
pactl unload-module "$speakers"

closing="$out/closing.wav"
click_start
expect "close: save dialog accepts the path" choose_path "$closing"
until_true 10 test -e "$closing"
sleep 1
# The spectrum view, 1 kHz then 4 kHz: the line's newer part lies above its older part, each in
# its frequency's row of 80 (row = 80 ln(f / 20) / ln(1200): 44.1 at y 245, 59.8 at y 230), and
# the column around it stays dark: its median pixel is darker than a guide line on black (63).
line_rises() {
  shot=$(screenshot tone-change)
  near "$(field spectrum_old_y "$shot")" 245 1 && near "$(field spectrum_new_y "$shot")" 230 1
}
set_tone 4000
expect "spectrum view: the line steps up from the 1 kHz row to the 4 kHz row" until_true 8 line_rises
echo "     screenshot: the newest columns' median pixel luma $(field spectrum_new_median "$shot")"
# Checked where the test's tone is clean: PipeWire 1.4's pipe source breaks it with bits of
# silence (its clicks light whole columns, as they should), so there the figure is only shown.
if [ "${SONABEL_SOUND_SERVER:-}" != pipewire ]; then
  expect "spectrum view: the columns are dark away from the tone's line" \
    [ "$(field spectrum_new_median "$shot")" -lt 63 ]
fi
set_tone 1000
"$send_close" "$win"
expect "close while recording: status shows Saved to: and the path" until_true 10 status_is "Saved to: $closing"
expect "close while recording: the window stays open" search_windows --name '^Sonabel with FFT$'
import -window root "$artifacts/after-first-close.png"
check_wav "close while recording" "$closing"
close_app "close while recording"

# --- A take by the keyboard alone (xdotool key): Alt+S starts it, Alt+P pauses and resumes it,
# --- Tab, Shift+Tab and Return press Stop. What a screen reader finds meanwhile over the AT-SPI
# --- bus, as in a desktop session (GTK's bridge to it, which the other runs leave out).
start_a11y_bus && unset NO_AT_BRIDGE && start_app keyboard || exit 1
walk() { /usr/bin/python3 "$here/atspi_walk.py" 2>/dev/null; }
keys() { xdotool windowfocus --sync "$win" && xdotool key --delay 100 "$@"; }
expect "screen reader: the window is found over AT-SPI" until_true 20 eval 'tree=$(walk)'
for control in "push button|Start Recording|" "push button|Stop|" "push button|Export MP3|" \
               "push button|Pause|" "status bar|Ready|" "level bar|Input level|-60 (-60 dB)" \
               "chart|Waveform and spectrum|" "chart|Spectrogram|"; do
  expect "screen reader: finds $control" grep -qxF "$control" <<<"$tree"
done
keyed="$out/keyed take.wav"
keys alt+s
expect "keyboard: Alt+S opens the Save As dialog, which takes the typed path and Return" choose_path "$keyed"
until_true 10 test -e "$keyed"; started=$(now)
sleep 1
level_moved() { grep -q '^level bar|Input level|-[0-5]\?[0-9] (' <<<"$(walk)"; }   # all of it read
expect "screen reader: the meter's reading follows the input (above -60 dB)" until_true 5 level_moved
shown() { tail -n 1 "$activity" | sed -n 's/^\(Recording\|Paused\) \([0-9]*\):\([0-9][0-9]\) · 48 kHz, 1 channel · [0-9.]* MB$/\2 \3/p' | awk '{ print $1 * 60 + $2 }'; }
paused=("$(now)"); keys alt+p
expect "pause: Alt+P, and the activity line says Paused" until_true 5 activity_has "^Paused [0-9]*:[0-9][0-9] · 48 kHz"
paused+=("$(now)"); sleep 0.5; held=$(shown)
expect "screen reader: the Pause button reads Resume" eval 'grep -qxF "push button|Resume|" <<<"$(walk)"'
sleep 3
expect "pause: the take's length holds for 3 s (${held:-no} s, then $(shown) s)" eval '[ "$(shown)" -le $((held + 1)) ]'
resumed=("$(now)"); keys alt+p
expect "resume: Alt+P again, and the take records on" until_true 5 activity_has "^Recording "
resumed+=("$(now)"); sleep 1
stopping=$(now); keys Tab Tab Tab shift+Tab shift+Tab Return   # Start -> Pause -> back to Stop
expect "keyboard: Tab, Shift+Tab and Return press Stop" until_true 10 status_is "Saved to: $keyed"; stopped=$(now)
check_wav keyboard "$keyed"
expect "pause: the WAV lacks the paused stretch" recorded_within "$(field duration "$wavinfo")" "$chosen_at" "$started" \
  "$stopping" "$stopped" "${paused[*]}" "${resumed[*]}"
keys alt+e
expect "keyboard: Alt+E opens the Save As dialog" cancel_dialog "$(find_window '^Save As$' 10)"
close_app keyboard
stop_a11y_bus; export NO_AT_BRIDGE=1

# --- The process is killed (SIGKILL) 5.5 s into a recording: the header written during the
# --- recording makes the file readable.
start_app kill || exit 1
killed="$out/killed.wav"
click_start
expect "kill: save dialog accepts the path" choose_path "$killed"
until_true 10 test -e "$killed"; t0=$(now)
sleep 5.5
kill -9 "$app_pid"; t1=$(now)
wait "$app_pid" 2>/dev/null
app_pid=""
expect_survives_kill "kill -9 while recording" "$killed" \
  "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')"

# --- Run 2: the sound server goes away during a recording, then none is reachable.
start_app no-server || exit 1
# Under PipeWire the session manager links streams to sources: without it our stream stays
# ready but gets no audio, which ends the recording as a lost device does.
if [ "${SONABEL_SOUND_SERVER:-}" = pipewire ]; then
  unlinked="$out/unlinked.wav"
  click_start
  expect "session manager gone: save dialog accepts the path" choose_path "$unlinked"
  until_true 10 test -e "$unlinked"
  sleep 1
  stop_pid WIREPLUMBER_PID
  expect "session manager gone: recording ends by itself with Saved to: and the input removed" \
    until_true 20 status_says_removed "Saved to: $unlinked"
  check_wav "session manager gone" "$unlinked"
  expect "session manager gone: the audio before it went is kept (>= 0.5 s)" \
    at_least "$(field duration "$wavinfo")" 0.5 0
  stop_pulse
  start_pulse && start_tone || exit 1
fi
gone="$out/server gone.wav"
click_start
expect "server gone: save dialog accepts the path" choose_path "$gone"
until_true 10 test -e "$gone"
sleep 1
stop_pulse
expect "server gone: recording ends by itself with Saved to: and the input removed" \
  until_true 10 status_says_removed "Saved to: $gone"
check_wav "server gone" "$gone"
never="$out/never.wav"
click_start
expect "no server: save dialog accepts the path" choose_path "$never"
expect "no server: status shows the failure" \
  until_true 10 status_is "Recording failed: no audio capture device could be opened."
expect "no server: no file is created" [ ! -e "$never" ]
import -window root "$artifacts/no-server.png"
close_app "no server"

# --- Run 3: no GLX on the display, so neither GL view can be created: the error box, then
# --- recording works all the same.
stop_xvfb
start_xvfb -extension GLX || exit 1
start_pulse && start_tone || exit 1
: >"$status"
SONABEL_STATUS_LOG="$status" SONABEL_ACTIVITY_LOG="$activity" "$app" >"$artifacts/app-no-gl.log" 2>&1 &
app_pid=$!
box=$(find_window '^Error$' 20)
expect "no GL: the error box appears at start-up" [ -n "$box" ]
import -window root "$artifacts/no-gl-error-box.png"
win=$(find_window '^Sonabel with FFT$' 20)
client_origin
nogl="$out/no gl.wav"
click_start
expect "no GL: save dialog accepts the path" choose_path "$nogl"
until_true 10 test -e "$nogl"
sleep 1
meter_moves() { shot=$(screenshot no-gl-recording); [ "$(field meter_bar "$shot")" -gt 100 ]; }
until_true 5 meter_moves
click_stop
expect "no GL: status shows Saved to: and the path" until_true 10 status_is "Saved to: $nogl"
[ -z "$box" ] || "$send_close" "$box"   # recorded with the start-up box still up
check_wav "no GL" "$nogl"
expect "no GL: the WAV is a 1 kHz tone" near "$(field frequency "$wavinfo")" 1000 10
expect "no GL: no waveform is drawn" [ "$(field waveform_green "$shot")" = 0 ]
expect "no GL: the level meter still moves" [ "$(field meter_bar "$shot")" -gt 100 ]

# A long export shows its progress, then names the MP3. Closing during the next one: the window
# says it closes once the export is done, and does then; the MP3 is complete. A 20-minute
# recording (put in place of the last take) gives the exports some work.
sox -q -n -r 48000 -c 1 -b 16 "$nogl" synth 1200 sine 1000 vol 0.5
click_export
expect "long export: save dialog accepts the path" choose_path "$out/first long.mp3"
expect "long export: the activity line shows its progress" until_true 30 grep -q "Exporting first long.mp3: [0-9]* %" "$activity"
expect "long export: the activity line then names the MP3" until_true 60 activity_has "MP3 saved: first long.mp3$"
long_mp3="$out/long export.mp3"
click_export
expect "export then close: save dialog accepts the path" choose_path "$long_mp3"
"$send_close" "$win"
expect "export then close: the window stays, saying it closes once the export is done" \
  until_true 10 grep -q "^Closing once the MP3 export is done · .*Exporting long export.mp3" "$activity"
expect "export then close: the window goes once the export is done" until_true 60 window_gone '^Sonabel with FFT$'
close_code=""
for _ in $(seq 600); do
  kill -0 "$app_pid" 2>/dev/null || { wait "$app_pid"; close_code=$?; break; }
  sleep 0.1
done
app_pid=""
expect "export then close: process exits with status 0" [ "$close_code" = 0 ]
mpg123 -q -w "$work/long.wav" "$long_mp3" 2>/dev/null
long=$("$checker" wav "$work/long.wav")
echo "     exported MP3 decodes to $(field duration "$long") s"
expect "export then close: the MP3 is complete (1200 s)" near "$(field duration "$long")" 1200 0.1

echo "linux_e2e: $passed passed, $failed failed"
[ "$failed" = 0 ]
