# SPDX-License-Identifier: GPL-3.0-or-later
# Shared helpers of the end-to-end scripts: pass/fail counting and polling. Sourced.
passed=0
failed=0

ok()   { echo "ok   - $1"; passed=$((passed + 1)); }
bad()  { echo "FAIL - $1"; failed=$((failed + 1)); }
expect() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }
# near VALUE TARGET TOLERANCE (decimals allowed)
near() { awk -v v="$1" -v t="$2" -v d="$3" 'BEGIN { exit !(v >= t - d && v <= t + d) }'; }
# at_least VALUE TARGET OFFSET: VALUE >= TARGET + OFFSET (a number, not an error text)
at_least() { [[ $1 =~ ^[0-9.]+$ ]] && awk -v v="$1" -v t="$2" -v d="$3" 'BEGIN { exit !(v >= t + d) }'; }
# until_true SECONDS COMMAND...: polls every 0.1 s
until_true() {
  local tries=$(($1 * 10)); shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}
# field NAME "name=value lines": the value of NAME
field() { sed -n "s/^$1=//p" <<<"$2"; }
now() { date +%s.%N; }
# expect_exit_0 WHAT SECONDS: waits up to SECONDS for $app_pid to end and checks that it exited
# with status 0.
expect_exit_0() {
  local code=""
  for _ in $(seq $(($2 * 10))); do
    kill -0 "$app_pid" 2>/dev/null || { wait "$app_pid"; code=$?; break; }
    sleep 0.1
  done
  expect "$1: process exits with status 0 (got ${code:-none})" [ "$code" = 0 ]
  app_pid=""
}
# recorded_within WAV CHOSEN STARTED STOPPING STOPPED [PAUSED RESUMED]: stamps that err to the safe
# side (load only widens the span); 0.2 s for the server's last block, sent late or not at all. A
# pause's "sent seen" stamps (command, line): its stretch is absent, +-0.3 s for audio in transit.
recorded_within() {
  local p=(${6:-0 0} ${7:-0 0})
  awk -v w="$1" -v a="$2" -v b="$3" -v c="$4" -v d="$5" -v ps="${p[0]}" -v pn="${p[1]}" \
      -v rs="${p[2]}" -v rn="${p[3]}" 'BEGIN { lo = c - b - 0.2; hi = d - a + 0.2
    if (rn > 0) { lo -= rn - ps + 0.3; hi -= rs - pn - 0.3 }
    printf "     WAV %.3f s, source delivered %.3f to %.3f s\n", w, lo, hi; exit !(w >= lo && w <= hi) }'
}
# expect_survives_kill WHAT FILE ELAPSED: a recording whose process was killed ELAPSED seconds
# after the file appeared is read by strict readers (Python's wave, soxi), which trust the
# header's data size, with at least ELAPSED - 1.5 s of audio; the data size is within the file.
expect_survives_kill() {
  local info seconds soxi_seconds
  info=$("$checker" wav "$2")
  seconds=$(python3 -c 'import sys, wave
w = wave.open(sys.argv[1], "rb"); print("%.3f" % (w.getnframes() / w.getframerate()))' "$2" 2>&1)
  soxi_seconds=$(soxi -D "$2" 2>&1)
  echo "     killed after ${3} s: file $(field file_size "$info") bytes, header data size" \
       "$(field data_size "$info"); wave reads ${seconds} s, soxi ${soxi_seconds} s"
  expect "$1: Python's wave reads at least elapsed - 1.5 s" at_least "$seconds" "$3" -1.5
  expect "$1: soxi reads at least elapsed - 1.5 s" at_least "$soxi_seconds" "$3" -1.5
  expect "$1: data size <= file size - 44" \
    [ "$(field data_size "$info")" -le "$(($(field file_size "$info") - 44))" ]
}

# X windows by title (xdotool), for the Linux drivers, the install tests and the benchmarks.
# xdotool quits at the first X error, and a window that goes away while it searches (GTK's and
# Wine's short-lived windows) gives BadWindow: such a search says nothing and is made again.
# search_windows XDOTOOL-SEARCH-ARGS...: the windows found, one per line; status 1 if none.
search_windows() {
  local out
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    out=$(xdotool search "$@" 2>&1) && { echo "$out"; return 0; }
    [[ $out == *"X Error"* ]] || return 1
    sleep 0.05
  done
  return 1
}
# find_window TITLE-REGEX [SECONDS [SEARCH-OPTIONS...]]: the first window with that title
find_window() {
  local title=$1 deadline=$((SECONDS + ${2:-10})) id
  shift; shift || true
  until id=$(search_windows "$@" --name "$title" | head -n 1); [ -n "$id" ]; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
  echo "$id"
}
window_gone() { ! search_windows --name "$1" >/dev/null; }
# Types TEXT into the focused GTK window. A character the keymap lacks (the ü of a name) goes in
# through GTK's Unicode entry (Ctrl+Shift+U, its code in hex, space): xdotool would bind it to a
# spare key and restore the keymap at once, and a busy application that reads the key after the
# restore gets no character, so the take would go to another file.
type_text() {
  local LC_ALL=C.UTF-8 text=$1 plain="" ch i
  for ((i = 0; i < ${#text}; i++)); do
    ch=${text:i:1}
    if [[ $ch == [[:print:]] && $(printf '%d' "'$ch") -lt 128 ]]; then
      plain+=$ch
      continue
    fi
    [ -z "$plain" ] || xdotool type --delay 15 "$plain"
    plain=""
    xdotool key ctrl+shift+u
    xdotool type --delay 15 "$(printf '%x' "'$ch")"
    xdotool key space
  done
  [ -z "$plain" ] || xdotool type --delay 15 "$plain"
}
# Types PATH into the Save As dialog and accepts it. The chooser may swallow a Return that comes
# while it is still completing the typed folder, so Return is repeated until the dialog is gone.
choose_path() {
  local dialog
  dialog=$(find_window '^Save As$' 10)
  [ -n "$dialog" ] || return 1
  xdotool windowfocus --sync "$dialog"
  type_text "$1"
  chosen_at=""   # set just before the first Return: no recording chosen here starts earlier
  for _ in 1 2 3 4 5; do
    sleep 0.6
    [ -n "$chosen_at" ] || chosen_at=$(now)
    xdotool key Return
    until_true 1 window_gone '^Save As$' && return 0
  done
  return 1
}
# Cancels the Save As dialog DIALOG with Escape. An Escape that comes while the chooser shows
# its name completion only closes the completion, so it is repeated until the dialog is gone.
cancel_dialog() {
  for _ in 1 2 3 4 5; do
    xdotool windowfocus --sync "$1"
    xdotool key Escape
    until_true 1 window_gone '^Save As$' && return 0
  done
  return 1
}
