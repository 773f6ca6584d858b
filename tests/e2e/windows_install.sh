#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs silently (/S) into the Wine prefix SONABEL_WINEPREFIX; checks files, licence and
# notices, Start-menu shortcut, Add/Remove Programs entry, the exe's version and icon resources
# and the ZIP; starts the installed exe through the shortcut on a private Xvfb and PulseAudio;
# checks that installing and uninstalling while it runs fail and change nothing; closes it,
# installs the next version over it (an upgrade), then again into another folder, uninstalls
# silently and checks all of it is gone.
# Usage: windows_install.sh sonabel-V-setup.exe sonabel-V-win64.zip sonabel-NEXT-setup.exe
set -uo pipefail
setup=$(realpath "$1") zip=$(realpath "$2") next_setup=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/services.sh"; source "$here/e2e_lib.sh"; source "$here/wine_env.sh"
work=$(mktemp -d /tmp/sonabel-install.XXXXXX); trap 'stop_wine; stop_services; rm -rf "$work"' EXIT
version_of() { local v=${1##*/sonabel-}; echo "${v%-setup.exe}"; }
version=$(version_of "$setup") next=$(version_of "$next_setup")
dir="$WINEPREFIX/drive_c/Program Files/Sonabel" windir='C:\Program Files\Sonabel'
lnk="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Sonabel.lnk"
uninstall_keys='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
key="$uninstall_keys\\Sonabel"
reg_value() { wine reg query "$key" /v "$1" | tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p"; }
files="LICENSE.txt THIRD-PARTY-NOTICES.txt sonabel.exe sonabel.ico uninstall.exe"
installed() { [ "$(ls "$dir" | xargs)" = "$files" ] && [ -f "$lnk" ]; }
# Everything an installer or uninstaller may change: the files with their contents, the
# shortcut, the Add/Remove entry.
state() { (cd "$dir" 2>/dev/null && find . -type f -exec md5sum {} + | sort)
          [ ! -f "$lnk" ] || md5sum <"$lnk"; wine reg query "$key" 2>/dev/null | tr -d '\r'; }
# The version resource's strings and fixed file version of an exe, as NAME=VALUE lines.
version_info() {
  wrestool -x --raw -t16 "$1" | python3 -c '
import re, struct, sys
blob = sys.stdin.buffer.read()
text = blob.decode("utf-16-le", "replace")
for key in ("ProductName", "FileDescription", "FileVersion", "ProductVersion", "LegalCopyright"):
    found = re.search(key + "\0+([^\0]*)", text)
    print(key + "=" + (found.group(1) if found else ""))
at = blob.find(struct.pack("<I", 0xFEEF04BD))
if at >= 0:
    ms, ls = struct.unpack_from("<II", blob, at + 8)
    print("Fixed=%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))'
}

ensure_wineprefix && stop_wine && start_pulse && start_xvfb || exit 1
expect "silent install (/S) succeeds" wine "$setup" /S
expect "exe, icon, licence, notices and uninstaller in Program Files\\Sonabel; a shortcut" installed
entry="$(reg_value DisplayName) $(reg_value DisplayVersion), $(reg_value QuietUninstallString)"
expect "Add/Remove Programs: name, version, quiet uninstall: $entry" [ "$entry" = \
  "Sonabel $version, \"$windir\\uninstall.exe\" /S" ]
expect "LICENSE.txt is the GPL text of LICENSE" \
  cmp -s <(tr -d '\r' <"$dir/LICENSE.txt") "$here/../../LICENSE"
notices() { local n=$dir/THIRD-PARTY-NOTICES.txt name
            for name in FFTW LAME GLFW GLEW; do
              grep -Eq "^  $name [0-9.]+ \\(Debian source package [a-z0-9]+ [0-9.]+-" "$n" ||
                return 1; done
            grep -q 'GNU GENERAL PUBLIC LICENSE' "$n" && grep -q 'GNU LIBRARY GENERAL' "$n" &&
            grep -q 'Permission is granted to anyone to use this software' "$n" && grep -q 'The OpenGL Extension Wrangler Library' "$n" &&
            grep -q 'Files: mingw-w64-libraries/winpthreads/\*' "$n"; }
expect "the notices name the four libraries' versions and hold their licence texts" notices
info=$(version_info "$dir/sonabel.exe")
resource() { [ "$(grep -v '^LegalCopyright=' <<<"$info" | xargs -d '\n')" = "ProductName=Sonabel \
FileDescription=Sonabel audio recorder FileVersion=$version ProductVersion=$version \
Fixed=${version%%[~+]*}.0" ] && grep -Eqx 'LegalCopyright=Copyright \(C\) [0-9]{4} .+GPL-3.0-or-later' <<<"$info"; }
expect "sonabel.exe's version resource: $(xargs -d '\n' <<<"$info")" resource
first_icon() { grep -m1 -- '--type=14' <<<"$(wrestool -l "$dir/sonabel.exe")" | grep -q -- '--name=1 ' &&
               wrestool -x -t14 -n1 -o "$work/first.ico" "$dir/sonabel.exe" &&
               [ "$(icotool -l "$work/first.ico")" = \
                 "$(icotool -l "$here/../../data/icons/sonabel.ico")" ]; }
expect "sonabel.exe's first icon resource is the program icon" first_icon
zip_same() { mkdir "$work/zip" && cmake -E chdir "$work/zip" cmake -E tar xf "$zip" &&
             [ "$(ls "$work/zip" | xargs)" = "LICENSE.txt THIRD-PARTY-NOTICES.txt sonabel.exe" ] &&
             for f in $(ls "$work/zip"); do cmp -s "$work/zip/$f" "$dir/$f" || return 1; done; }
expect "the ZIP holds the installed sonabel.exe, licence and notices" zip_same

wine start /unix "$lnk" </dev/null >/dev/null 2>&1 &
win=$(find_window '^Sonabel with FFT$' 60 --onlyvisible)
app=$( [ -z "$win" ] || xdotool getwindowpid "$win")
shown() { [ -n "$app" ] && [ "$(tr '\0' '\n' <"/proc/$app/cmdline" | head -n 1)" = \
                             "$windir\\sonabel.exe" ]; }
expect "the Start-menu shortcut starts the installed sonabel.exe, which shows its window" shown

# While it runs. The uninstaller is run as NSIS documents for a caller that needs its exit status:
# a copy outside the folder, with _?= naming the folder as the command line's unquoted end (it
# otherwise hands over to a copy of itself in %TEMP% and always exits 0). A batch file passes
# that line as it is; wine would quote the argument.
before=$(state)
failed_unchanged() { [ "$1" != 0 ] && [ "$(state)" = "$before" ]; }
wine "$next_setup" /S </dev/null >/dev/null 2>&1; status=$?
expect "silent install over the running program fails (exit $status) and changes nothing" \
  failed_unchanged $status
cp "$dir/uninstall.exe" "$work/uninstall.exe"
printf 'uninstall.exe /S _?=%s\r\nexit /b %%errorlevel%%\r\n' "$windir" >"$work/uninstall.bat"
(cd "$work" && wine cmd /c uninstall.bat </dev/null >/dev/null 2>&1); status=$?
expect "silent uninstall while it runs fails (exit $status) and changes nothing" \
  failed_unchanged $status
expect "the program still runs" kill -0 "$app"

# Closed as a user would (WM_CLOSE to its window), the update installs.
wine taskkill /im sonabel.exe >/dev/null 2>&1
expect "asked to close, the program ends" until_true 30 eval '! kill -0 "$app" 2>/dev/null'
expect "silent install of version $next over $version succeeds" wine "$next_setup" /S
entries=$(wine reg query "$uninstall_keys" /s | tr -d '\r' | grep -c 'DisplayName *REG_SZ *Sonabel$')
expect "one Add/Remove entry ($entries), of version $next" \
  [ "$entries/$(reg_value DisplayVersion)" = "1/$next" ]
upgraded() { installed && grep -qx "FileVersion=$next" <<<"$(version_info "$dir/sonabel.exe")"; }
expect "the same files, no stale ones, and sonabel.exe is version $next" upgraded
# Into another folder (/D= comes last, unquoted), the old folder goes, its uninstaller with it.
wine "$next_setup" /S '/D=C:\SonabelElsewhere' </dev/null >/dev/null 2>&1
old_dir=$dir dir="$WINEPREFIX/drive_c/SonabelElsewhere"
moved() { [ ! -e "$old_dir" ] && installed && [ "$(reg_value InstallLocation)" = 'C:\SonabelElsewhere' ]; }
expect "installed again into another folder, the old folder and its uninstaller are gone" moved

# The uninstaller runs from a copy of itself in %TEMP%: wait until the prefix has no process.
wine "$dir/uninstall.exe" /S </dev/null >/dev/null 2>&1; timeout 120 wineserver -w
gone() { [ ! -e "$dir" ] && [ ! -e "$lnk" ] && ! wine reg query "$key" >/dev/null 2>&1; }
expect "silent uninstall removes the files, the folder, the shortcut and the registry entry" gone
echo "windows_install: $passed passed, $failed failed"; [ "$failed" = 0 ]
