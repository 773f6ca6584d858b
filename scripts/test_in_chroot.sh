#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the test command (scripts/test.sh) on a fresh, minimal Debian DIST in a debootstrap chroot,
# as on a new machine: every package, the Windows libraries and the Wine prefixes are installed
# or built inside it. Needs root (or sudo), debootstrap and git here, and the Debian archive.
# Usage: scripts/test_in_chroot.sh [--reuse] DIST [REPO [REF]]
#   DIST   a Debian suite: trixie (13), bookworm (12), ...
#   REPO   git repository to test (default: the one holding this script); REF its commit, branch
#          or tag (default HEAD). Only committed work is tested: the chroot gets a git clone.
#   --reuse  keep the system of the previous run for DIST (its packages and $HOME caches) and only
#          replace the checkout: quicker while mending, but no longer a fresh machine.
# The minimal base system is cached once per DIST in $SONABEL_CHROOT_CACHE/DIST/base (default
# /var/cache/sonabel-chroot), with the downloaded .deb files in DIST/archives. Each run copies the
# base to $SONABEL_CHROOT_DIR/DIST (default /var/tmp/sonabel-chroot), which is kept for inspection
# (the checkout is /root/sonabel in it) and replaced by the next run. Exit status: test.sh's.
set -euo pipefail

reuse=0
if [ "${1:-}" = --reuse ]; then reuse=1; shift; fi
dist=${1:?usage: scripts/test_in_chroot.sh [--reuse] DIST [REPO [REF]]}
repo=${2:-$(cd "$(dirname "$0")/.." && pwd)}
ref=${3:-HEAD}
mirror=${SONABEL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${SONABEL_DEBIAN_SECURITY:-http://deb.debian.org/debian-security}
cache="${SONABEL_CHROOT_CACHE:-/var/cache/sonabel-chroot}/$dist"
root="${SONABEL_CHROOT_DIR:-/var/tmp/sonabel-chroot}/$dist"

if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=SONABEL_CHROOT_CACHE,SONABEL_CHROOT_DIR,SONABEL_DEBIAN_MIRROR,SONABEL_DEBIAN_SECURITY \
    "$0" "$@"
fi
command -v debootstrap >/dev/null || { echo "needs debootstrap (apt-get install debootstrap)" >&2; exit 2; }
commit=$(git -C "$repo" rev-parse --verify "$ref^{commit}")
if [ "$ref" = HEAD ] && [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
  echo "note: $repo has uncommitted changes; testing its last commit only" >&2
fi
log() { printf '[chroot %s] %s\n' "$dist" "$*" >&2; }

# --- Mounts and processes of the chroot, undone on every exit path.
mounted=()
mountedUnder() { awk -v r="$root" '$5 == r || index($5, r "/") == 1 { print $5 }' /proc/self/mountinfo; }
killChrootProcesses() {
  local sig pids p
  for sig in TERM KILL; do
    pids=()
    for p in /proc/[0-9]*; do
      [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && pids+=("${p#/proc/}")
    done
    [ ${#pids[@]} -eq 0 ] && return 0
    log "stopping ${#pids[@]} process(es) left in the chroot (SIG$sig): ${pids[*]}"
    kill -s "$sig" "${pids[@]}" 2>/dev/null || true
    sleep 3
  done
}
cleanup() {
  killChrootProcesses
  local i m
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || true
  done
  mounted=()
  # Anything still mounted there (a lazy unmount, a run killed earlier): deepest first.
  for m in $(mountedUnder | sort -r); do umount -l "$m" || true; done
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
mountInto() {  # mountInto TARGET mount-arguments...
  local target="$root$1"; shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
  # A bind of a shared mount would pass the mounts made under it back to the host.
  mount --make-rprivate "$target"
}

# --- The cached minimal base system.
mkdir -p "$cache/archives/partial"
if [ ! -e "$cache/base/.complete" ]; then
  log "debootstrap (minbase) into $cache/base"
  rm -rf --one-file-system "$cache/base.new"
  debootstrap --variant=minbase "$dist" "$cache/base.new" "$mirror"
  rm -f "$cache/base.new"/var/cache/apt/archives/*.deb
  touch "$cache/base.new/.complete"
  rm -rf --one-file-system "$cache/base"
  mv "$cache/base.new" "$cache/base"
fi

# --- This run's system: a copy of the base, or the previous run's with --reuse.
cleanup
if [ -n "$(mountedUnder)" ]; then log "still mounted under $root; not touching it"; exit 1; fi
if [ "$reuse" = 1 ] && [ -e "$root/.complete" ]; then
  log "reusing the system in $root"
  rm -rf --one-file-system "$root/root/sonabel"
else
  log "fresh system in $root"
  rm -rf --one-file-system "$root"
  mkdir -p "$(dirname "$root")"
  cp -a "$cache/base" "$root"
fi
cat >"$root/etc/apt/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: $mirror
Suites: $dist $dist-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $security
Suites: $dist-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
rm -f "$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf"
[ -s "$root/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' \
  >"$root/etc/hosts"
# Packages must not start system services in the chroot (there is no init); the tests start
# their own private ones.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

log "checkout: $repo at $commit"
git clone --quiet --no-checkout "$repo" "$root/root/sonabel"
git -C "$root/root/sonabel" cat-file -e "$commit^{commit}" 2>/dev/null ||
  git -C "$root/root/sonabel" fetch --quiet "$repo" "$commit"
git -C "$root/root/sonabel" -c advice.detachedHead=false checkout --quiet --detach "$commit"

mountInto /proc -t proc proc
mountInto /sys -t sysfs sysfs
mountInto /dev --bind /dev
mountInto /dev/pts --bind /dev/pts
mountInto /dev/shm -t tmpfs -o mode=1777,nosuid,nodev tmpfs
mountInto /var/cache/apt/archives --bind "$cache/archives"
touch "$root/.complete"

log "running scripts/test.sh as root"
start=$(date +%s)
status=0
env -i HOME=/root USER=root LOGNAME=root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    chroot "$root" /bin/bash -c 'cd /root/sonabel && scripts/test.sh' || status=$?
elapsed=$(($(date +%s) - start))
log "scripts/test.sh on $dist: $([ "$status" = 0 ] && echo passed || echo "FAILED (status $status)")" \
    "in $((elapsed / 60)) min $((elapsed % 60)) s; the system is kept in $root"
exit "$status"
