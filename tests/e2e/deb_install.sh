#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the .deb with lintian (no error, no warning), installs it into this machine (root or sudo;
# an installed sonabel is purged first), checks its files, desktop entry, AppStream metadata and
# versions, starts it through the entry's Exec on a private Xvfb and PulseAudio, purges it and
# checks every path of the package is as before. Usage: deb_install.sh PACKAGE.deb
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
# Errors and warnings fail (informational tags are advice; lintian also checks the manual page).
lint=$(lintian --fail-on error,warning "$deb" 2>&1); lint_status=$?
expect "lintian: no error, no warning $(grep -E '^[EW]: ' <<<"$lint" | xargs)" [ $lint_status = 0 ]
expect "dpkg -i installs the package" $SUDO dpkg -i "$deb"
id=org.sonabel.Sonabel version=$(dpkg-deb -f "$deb" Version)
files=$(dpkg -L sonabel | while read -r p; do [ -d "$p" ] || echo "$p"; done | sort)
want=$(printf '%s\n' /usr/bin/sonabel /usr/share/applications/$id.desktop \
  /usr/share/doc/sonabel/{changelog.gz,copyright} /usr/share/man/man1/sonabel.1.gz \
  /usr/share/icons/hicolor/{128x128,256x256,48x48,64x64}/apps/sonabel.png \
  /usr/share/icons/hicolor/scalable/apps/sonabel.svg /usr/share/metainfo/$id.metainfo.xml | sort)
expect "dpkg -L: program, desktop entry, AppStream metadata, icons, manual, copyright, changelog" \
  [ "$files" = "$want" ]
icons_sized() { local n; for n in 48 64 128 256; do
                  [ "$(identify -format %wx%h "/usr/share/icons/hicolor/${n}x$n/apps/sonabel.png")" \
                    = "${n}x$n" ] || return 1; done; }
expect "each PNG icon has the size of its hicolor folder" icons_sized
entry=/usr/share/applications/$id.desktop
expect "desktop-file-validate: no error, no warning" [ -z "$(desktop-file-validate "$entry" 2>&1)" ]
as_valid() { appstreamcli validate --no-net "$1" >/dev/null; }
expect "appstreamcli validate: valid" as_valid /usr/share/metainfo/$id.metainfo.xml
versions="$(zcat /usr/share/doc/sonabel/changelog.gz | dpkg-parsechangelog -l- -SVersion) $(
  sed -n 's/.*<release version="\([^"]*\)".*/\1/p' /usr/share/metainfo/$id.metainfo.xml | head -n 1)"
expect "changelog and AppStream's newest release name the package's version: $versions" \
  [ "$versions" = "$version $version" ]

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
