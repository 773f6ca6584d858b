#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# MP3 export speed and memory: our saveAsMP3 against the lame CLI at the comparable setting
# (-V 4 is LAME's default VBR quality, which is what vbr_mtrh with no other setting gives), on
# generated 48 kHz stereo 16-bit recordings of 1 and 10 minutes. Peak RSS of ours must not grow
# with the length (fixed buffers, the file is streamed).
#   bench/export_bench.sh [build-dir] [rounds]
# The build dir needs -DSONABEL_BUILD_BENCH=ON and an optimised build type (Release or
# RelWithDebInfo). Each figure is the best of `rounds` runs (default 3), ours and the CLI's
# alternating so both see the same machine load.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
rounds=${2:-3}
bench="$build/bench/sonabel_export_bench"
[[ -x $bench ]] || { echo "no $bench: configure with -DSONABEL_BUILD_BENCH=ON and build" >&2; exit 1; }
type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")
case $type in Release|RelWithDebInfo) ;; *) echo "build type '$type' is not optimised" >&2; exit 1 ;; esac
command -v lame >/dev/null || { echo "lame CLI missing (apt-get install lame)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "<wall seconds> <peak RSS KiB>" of one command, from GNU time.
measure() {
    /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt" || { cat "$work/time.txt" >&2; exit 1; }
    awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + p[i] }
                /Maximum resident set size/ { rss = $2 }
                END { printf "%.2f %d\n", s, rss }' "$work/time.txt"
}

best() { sort -n | head -1; }

printf '%-8s %10s %10s %12s %10s %12s %10s %12s\n' length "wav MB" "ours s" "ours RSS KiB" "lame -V4 s" "lame RSS KiB" "ours/lame" "noRG lame s"
for minutes in 1 10; do
    wav="$work/rec-${minutes}min.wav"
    "$bench" generate "$wav" $((minutes * 60)) 48000 2
    ours=() cli=() norg=()
    for ((r = 0; r < rounds; ++r)); do
        ours+=("$(measure "$bench" export "$wav" "$work/ours.mp3")")
        cli+=("$(measure lame --quiet -V 4 "$wav" "$work/cli.mp3")")
        norg+=("$(measure lame --quiet -V 4 --noreplaygain "$wav" "$work/cli-norg.mp3")")
    done
    oursWall=$(printf '%s\n' "${ours[@]}" | awk '{print $1}' | best)
    oursRss=$(printf '%s\n' "${ours[@]}" | awk '{print $2}' | sort -n | tail -1)
    cliWall=$(printf '%s\n' "${cli[@]}" | awk '{print $1}' | best)
    cliRss=$(printf '%s\n' "${cli[@]}" | awk '{print $2}' | sort -n | tail -1)
    norgWall=$(printf '%s\n' "${norg[@]}" | awk '{print $1}' | best)
    printf '%-8s %10d %10s %12s %10s %12s %10.2f %12s\n' "${minutes} min" $(($(stat -c %s "$wav") / 1000000)) \
        "$oursWall" "$oursRss" "$cliWall" "$cliRss" "$(awk -v a="$oursWall" -v b="$cliWall" 'BEGIN { print a / b }')" "$norgWall"
    # Same encoder, same settings: the audio frames should match the CLI's byte for byte (the
    # CLI's info frame differs, as it adds ReplayGain). Reported, not enforced.
    echo "  mp3 sizes: ours $(stat -c %s "$work/ours.mp3"), lame $(stat -c %s "$work/cli.mp3")," \
         "ffprobe duration ours $(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/ours.mp3" 2>/dev/null || echo '?') s"
done
