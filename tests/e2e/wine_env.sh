# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the Windows test drivers: Wine settings for a private prefix (SONABEL_WINEPREFIX,
# default: wineprefix/ beside this build's tests), created once by ensure_wineprefix.
# Everything Wine starts for that prefix is ended by stop_wine (wineserver -k of the prefix).
export WINEPREFIX="${SONABEL_WINEPREFIX:?set SONABEL_WINEPREFIX to a Wine prefix folder}"
export WINEDEBUG=-all
# No Mono/Gecko installers when the prefix is made; UTF-8 for paths handed over on command lines.
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8

# Creates the prefix the first time (a few seconds); concurrent callers wait for each other.
ensure_wineprefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "creating the Wine prefix $WINEPREFIX" >&2
      wineboot -i >"$WINEPREFIX.log" 2>&1 || { cat "$WINEPREFIX.log" >&2; exit 1; }
      wineserver -w
      # Documents & co. of the prefix's own: Wine links them to $HOME, a test's private home when
      # with_services.sh made the prefix, in which a later Save As dialog would take no name.
      for link in "$WINEPREFIX"/drive_c/users/*/*; do
        [ ! -L "$link" ] || { rm "$link" && mkdir "$link"; }
      done
    fi
  ) 9>"$WINEPREFIX.lock"
}

# Ends the prefix's wineserver and every Wine process of the prefix (explorer.exe & co.), so the
# next run starts afresh on its own display.
stop_wine() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
