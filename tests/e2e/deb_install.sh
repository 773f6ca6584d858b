#!/usr/bin/env bash
# Installs the .deb into this machine (root or sudo; an installed sonabel is purged first), checks
# its files and desktop entry, starts it through the entry's Exec on a private Xvfb and PulseAudio,
# purges it and checks every path of the package is as before. Usage: deb_install.sh PACKAGE.deb
set -uo pipefail
deb=$(realpath "$1") here=$(cd "$(dirname "$0")" && pwd)
source "$here/services.sh"; source "$here/e2e_lib.sh"
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
app_pid=""; trap '[ -z "$app_pid" ] || kill "$app_pid"; stop_services' EXIT
apt_purge() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq sonabel >/dev/null; }
existing() { dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); sub(/\/$/, "", $6); print $6 }' |
               while read -r p; do [ ! -e "$p" ] || echo "$p"; done; }

! dpkg -s sonabel >/dev/null 2>&1 || apt_purge
before=$(existing)
expect "Depends computed from the binary's libraries" \
  grep -q 'libfftw3-single3.*libgtk-3-0.*libmp3lame0.*libpulse0' <<<"$(dpkg-deb -f "$deb" Depends)"
expect "dpkg -i installs the package" $SUDO dpkg -i "$deb"
files=$(dpkg -L sonabel | while read -r p; do [ -d "$p" ] || echo "$p"; done | sort)
want=$(printf '%s\n' /usr/bin/sonabel /usr/share/applications/sonabel.desktop \
                     /usr/share/icons/hicolor/scalable/apps/sonabel.svg)
expect "dpkg -L: the program, the desktop entry and the icon, nothing else" [ "$files" = "$want" ]
entry=/usr/share/applications/sonabel.desktop
expect "desktop-file-validate: no error, no warning" [ -z "$(desktop-file-validate "$entry" 2>&1)" ]

start_pulse && start_xvfb || exit 1
$(sed -n 's/^Exec=//p' "$entry") >/dev/null 2>&1 & app_pid=$!
win=$(find_window '^Sonabel with FFT$' 20 --onlyvisible)
shown() { [ -n "$win" ] && [ "$(xdotool getwindowpid "$win")" = "$app_pid" ] &&
          [ "$(readlink "/proc/$app_pid/exe")" = /usr/bin/sonabel ]; }
expect "the entry's Exec starts the installed program, which shows its window" shown
kill "$app_pid"; wait "$app_pid" 2>/dev/null; app_pid=""
expect "apt-get purge removes the package" apt_purge
gone() { [ "$(existing)" = "$before" ] && ! dpkg -s sonabel >/dev/null 2>&1; }
expect "nothing of the package is left (only shared folders that existed before)" gone
echo "deb_install: $passed passed, $failed failed"; [ "$failed" = 0 ]
