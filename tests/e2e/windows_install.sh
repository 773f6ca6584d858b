#!/usr/bin/env bash
# Installs silently (/S) into the Wine prefix SONABEL_WINEPREFIX; checks files, Start-menu shortcut,
# Add/Remove Programs entry and the ZIP's exe; starts the installed exe through the shortcut on a
# private Xvfb and PulseAudio; uninstalls silently and checks that all of it is gone.
# Usage: windows_install.sh sonabel-VERSION-setup.exe sonabel-VERSION-win64.zip
set -uo pipefail
setup=$(realpath "$1") zip=$(realpath "$2") here=$(cd "$(dirname "$0")" && pwd)
source "$here/services.sh"; source "$here/e2e_lib.sh"; source "$here/wine_env.sh"
work=$(mktemp -d /tmp/sonabel-install.XXXXXX); trap 'stop_wine; stop_services; rm -rf "$work"' EXIT
version=${setup##*/sonabel-}; version=${version%-setup.exe}
dir="$WINEPREFIX/drive_c/Program Files/Sonabel"
lnk="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Sonabel.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Sonabel'
reg_value() { wine reg query "$key" /v "$1" | tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p"; }

ensure_wineprefix && stop_wine && start_pulse && start_xvfb || exit 1
expect "silent install (/S) succeeds" wine "$setup" /S
installed() { [ "$(ls "$dir" | xargs)" = "sonabel.exe sonabel.ico uninstall.exe" ] &&
              [ -f "$lnk" ]; }
expect "exe, icon and uninstaller in Program Files\\Sonabel; a Start-menu shortcut" installed
entry="$(reg_value DisplayName) $(reg_value DisplayVersion), $(reg_value QuietUninstallString)"
expect "Add/Remove Programs: name, version, quiet uninstall: $entry" [ "$entry" = \
  "Sonabel $version, \"C:\\Program Files\\Sonabel\\uninstall.exe\" /S" ]
zip_same() { cmake -E chdir "$work" cmake -E tar xf "$zip" && [ "$(ls "$work")" = sonabel.exe ] &&
             cmp -s "$work/sonabel.exe" "$dir/sonabel.exe"; }
expect "the ZIP holds the installed sonabel.exe alone" zip_same

wine start /unix "$lnk" </dev/null >/dev/null 2>&1 &
win=$(find_window '^Sonabel with FFT$' 60 --onlyvisible)
shown() { [ -n "$win" ] && [ "$(tr '\0' '\n' <"/proc/$(xdotool getwindowpid "$win")/cmdline" |
                                head -n 1)" = 'C:\Program Files\Sonabel\sonabel.exe' ]; }
expect "the Start-menu shortcut starts the installed sonabel.exe, which shows its window" shown
stop_wine   # ends the app
# The uninstaller runs from a copy of itself in %TEMP%: wait until the prefix has no process.
wine "$dir/uninstall.exe" /S </dev/null >/dev/null 2>&1; timeout 120 wineserver -w
gone() { [ ! -e "$dir" ] && [ ! -e "$lnk" ] && ! wine reg query "$key" >/dev/null 2>&1; }
expect "silent uninstall removes the files, the folder, the shortcut and the registry entry" gone
echo "windows_install: $passed passed, $failed failed"; [ "$failed" = 0 ]
