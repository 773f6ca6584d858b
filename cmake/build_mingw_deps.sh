#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-build the Windows (x86_64, mingw-w64, posix threads) static libraries
# Sonabel links against, from Debian's source packages:
#
#   fftw3  -> lib/libfftw3f.a   include/fftw3.h          (single precision)
#   lame   -> lib/libmp3lame.a  include/lame/lame.h
#   glfw3  -> lib/libglfw3.a    include/GLFW/glfw3.h, glfw3native.h
#   glew   -> lib/libglew32.a   include/GL/glew.h, wglew.h  (define GLEW_STATIC)
#
# with each library's licence files, as its source package has them, in
# licenses/<package>/ (the Windows packages' third-party notices are made of
# them) and the Debian source versions in VERSIONS.txt.
#
# The result goes to a cache folder outside the checkout:
#   ${SONABEL_DEPS_CACHE:-$HOME/.cache/sonabel-mingw-deps}/<key>
# where <key> holds the Debian source versions and the recipe revision.
# When <key>/.complete exists nothing is rebuilt.
#
# The prefix path is the last line printed on stdout; everything else goes
# to stderr, so callers can do:
#   PREFIX=$(cmake/build_mingw_deps.sh | tail -1)
#
# Environment:
#   SONABEL_DEPS_CACHE       cache root (default ~/.cache/sonabel-mingw-deps)
#   SONABEL_DEPS_JOBS        parallel make jobs (default: nproc)
#   SONABEL_DEPS_KEEP_BUILD  1 = keep the temporary build folder
#   SONABEL_APT_WAIT         seconds to wait for a running apt/dpkg (default 1800)

set -euo pipefail

# Bump when the build recipe changes in a way that changes the output.
RECIPE_REV=2

HOST_TRIPLE=x86_64-w64-mingw32
CC_X="${HOST_TRIPLE}-gcc-posix"
CXX_X="${HOST_TRIPLE}-g++-posix"
SRC_PACKAGES=(fftw3 lame glfw3 glew)

SCRIPT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
TOOLCHAIN_FILE="${SCRIPT_DIR}/mingw-w64-x86_64.cmake"
CACHE_ROOT="${SONABEL_DEPS_CACHE:-${HOME:-/tmp}/.cache/sonabel-mingw-deps}"
JOBS="${SONABEL_DEPS_JOBS:-$(nproc 2>/dev/null || echo 2)}"
APT_WAIT="${SONABEL_APT_WAIT:-1800}"

log()  { printf '[mingw-deps] %s\n' "$*" >&2; }
die()  { printf '[mingw-deps] ERROR: %s\n' "$*" >&2; exit 1; }

if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
else
  SUDO=()
fi
as_root() {
  if [ "$(id -u)" -ne 0 ] && [ ${#SUDO[@]} -eq 0 ]; then
    die "need root (or sudo) to run: $*"
  fi
  "${SUDO[@]}" "$@"
}

[ -f "$TOOLCHAIN_FILE" ] || die "toolchain file not found: $TOOLCHAIN_FILE"

# ---------------------------------------------------------------- apt helpers

# Wait while another apt-get/dpkg (e.g. a background install) is running.
wait_for_apt() {
  command -v pgrep >/dev/null 2>&1 || return 0
  local waited=0 announced=0
  while pgrep -x apt-get >/dev/null 2>&1 || pgrep -x apt >/dev/null 2>&1 \
        || pgrep -x dpkg >/dev/null 2>&1 || pgrep -x aptitude >/dev/null 2>&1 \
        || pgrep -f '^/usr/bin/python3 /usr/bin/unattended-upgrade' >/dev/null 2>&1; do
    if [ "$announced" -eq 0 ]; then
      log "another apt-get/dpkg is running; waiting for it (up to ${APT_WAIT}s)"
      announced=1
    fi
    if [ "$waited" -ge "$APT_WAIT" ]; then
      log "still busy after ${APT_WAIT}s; trying anyway"
      return 0
    fi
    sleep 3
    waited=$((waited + 3))
  done
}

APT_OPTS=(-o "DPkg::Lock::Timeout=${APT_WAIT}" -o Acquire::Retries=3)

apt_update() {
  local i
  for i in 1 2 3; do
    wait_for_apt
    if as_root env DEBIAN_FRONTEND=noninteractive apt-get "${APT_OPTS[@]}" update >&2; then
      return 0
    fi
    log "apt-get update failed (attempt $i), retrying"
    sleep 5
  done
  log "apt-get update kept failing; continuing with the lists we have"
  return 0
}

APT_UPDATED=0
apt_update_once() {
  if [ "$APT_UPDATED" -eq 0 ]; then
    apt_update
    APT_UPDATED=1
  fi
}

pkg_installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)" = installed ]
}

ensure_packages() {
  local missing=() p
  for p in "$@"; do
    pkg_installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  # A background install may be finishing these right now.
  wait_for_apt
  missing=()
  for p in "$@"; do
    pkg_installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  apt_update_once
  local i
  for i in 1 2 3; do
    wait_for_apt
    if as_root env DEBIAN_FRONTEND=noninteractive apt-get "${APT_OPTS[@]}" \
         install -y --no-install-recommends "${missing[@]}" >&2; then
      return 0
    fi
    log "apt-get install failed (attempt $i), retrying"
    sleep 5
  done
  die "could not install: ${missing[*]}"
}

# Turn the binary Debian entries of the apt configuration into deb-src ones.
deb822_to_src() {
  awk '
    BEGIN { RS = "" }
    {
      types = ""; uris = ""; enabled = 1
      n = split($0, L, "\n")
      for (i = 1; i <= n; i++) {
        if (L[i] ~ /^Types:/) types = L[i]
        if (L[i] ~ /^URIs:/) uris = L[i]
        if (L[i] ~ /^Enabled:[ \t]*[Nn]o/) enabled = 0
      }
      if (!enabled) next
      if (types !~ /[: \t]deb([ \t]|$)/) next
      if (uris !~ /debian/) next
      out = ""
      for (i = 1; i <= n; i++) {
        if (L[i] ~ /^#/) continue
        if (L[i] ~ /^Types:/) L[i] = "Types: deb-src"
        out = out L[i] "\n"
      }
      printf "%s\n", out
    }' "$@"
}

have_src_index() {
  apt-cache showsrc --only-source fftw3 2>/dev/null | grep -q '^Version:'
}

ensure_deb_src() {
  have_src_index && return 0
  local conf
  conf="$(mktemp)"
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case "$f" in */sonabel-deb-src.sources) continue ;; esac
    deb822_to_src "$f" >> "$conf"
  done
  if [ -s "$conf" ]; then
    log "adding deb-src entries: /etc/apt/sources.list.d/sonabel-deb-src.sources"
    as_root install -m 0644 "$conf" /etc/apt/sources.list.d/sonabel-deb-src.sources
  fi
  : > "$conf"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    case "$f" in */sonabel-deb-src.list) continue ;; esac
    grep -E '^[[:space:]]*deb[[:space:]].*debian' "$f" \
      | sed -E 's/^[[:space:]]*deb[[:space:]]/deb-src /' >> "$conf" || true
  done
  if [ -s "$conf" ]; then
    log "adding deb-src entries: /etc/apt/sources.list.d/sonabel-deb-src.list"
    as_root install -m 0644 "$conf" /etc/apt/sources.list.d/sonabel-deb-src.list
  fi
  rm -f "$conf"
  apt_update
  APT_UPDATED=1
  have_src_index || die "no Debian source index available (apt-cache showsrc fftw3 finds nothing)"
}

# Highest source version apt knows for a source package.
src_version() {
  local best="" v
  while read -r v; do
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then
      best="$v"
    fi
  done < <(apt-cache showsrc --only-source "$1" 2>/dev/null | awk '/^Version:/ { print $2 }')
  [ -n "$best" ] || die "source package $1 not found"
  printf '%s\n' "$best"
}

# ---------------------------------------------------------------- key + cache

ensure_deb_src

declare -A VER
KEY="x86_64-posix"
for p in "${SRC_PACKAGES[@]}"; do
  VER[$p]="$(src_version "$p")"
  KEY="${KEY}_${p}-${VER[$p]}"
done
KEY="${KEY}_r${RECIPE_REV}"
KEY="$(printf '%s' "$KEY" | tr ':' '=' | tr -c 'A-Za-z0-9._+=~-' '_')"
PREFIX="${CACHE_ROOT}/${KEY}"

if [ -f "${PREFIX}/.complete" ]; then
  log "up to date: ${PREFIX}"
  printf '%s\n' "$PREFIX"
  exit 0
fi

mkdir -p "$CACHE_ROOT"
# One builder at a time per cache root.
exec 9> "${CACHE_ROOT}/.lock"
if ! flock -n 9; then
  log "another build holds ${CACHE_ROOT}/.lock; waiting"
  flock 9
fi
if [ -f "${PREFIX}/.complete" ]; then
  log "built meanwhile by another process: ${PREFIX}"
  printf '%s\n' "$PREFIX"
  exit 0
fi

# ---------------------------------------------------------------- tools

ensure_packages mingw-w64 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 \
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix \
  dpkg-dev cmake make

for t in "$CC_X" "$CXX_X" "${HOST_TRIPLE}-ar" "${HOST_TRIPLE}-ranlib" \
         "${HOST_TRIPLE}-strip" "${HOST_TRIPLE}-windres" dpkg-source cmake make; do
  command -v "$t" >/dev/null 2>&1 || die "tool not found after install: $t"
done

# ---------------------------------------------------------------- build dir

BUILD_DIR="$(mktemp -d "${TMPDIR:-/tmp}/sonabel-mingw-deps.XXXXXX")"
STATUS=1
BG_PIDS=()
# Stop a process and everything it started, children first (by pid).
kill_tree() {
  local pid="$1" child
  if command -v pgrep >/dev/null 2>&1; then
    for child in $(pgrep -P "$pid" 2>/dev/null || true); do
      kill_tree "$child"
    done
  fi
  kill "$pid" 2>/dev/null || true
}
cleanup() {
  local rc=$?
  local pid
  for pid in "${BG_PIDS[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then
      kill_tree "$pid"
      wait "$pid" 2>/dev/null || true
    fi
  done
  if [ "$STATUS" -ne 0 ]; then
    rm -rf "$PREFIX"
    if [ -d "$BUILD_DIR" ]; then
      mkdir -p "${CACHE_ROOT}/failed-logs"
      cp -f "$BUILD_DIR"/*.log "${CACHE_ROOT}/failed-logs/" 2>/dev/null || true
      local c
      for c in "$BUILD_DIR"/build-*/config.log; do
        [ -f "$c" ] || continue
        cp -f "$c" "${CACHE_ROOT}/failed-logs/$(basename "$(dirname "$c")")-config.log" || true
      done
      log "logs kept in ${CACHE_ROOT}/failed-logs/"
    fi
  fi
  if [ "${SONABEL_DEPS_KEEP_BUILD:-0}" = 1 ]; then
    log "build folder kept: $BUILD_DIR"
  else
    rm -rf "$BUILD_DIR"
  fi
  return $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# run_step NAME CMD... : run with output to $BUILD_DIR/NAME.log; show its tail on failure.
run_step() {
  local name="$1"; shift
  local logf="${BUILD_DIR}/${name}.log"
  {
    printf '+'
    printf ' %q' "$@"
    printf '\n'
  } >> "$logf"
  if ! "$@" >> "$logf" 2>&1; then
    log "step '${name}' failed; last lines of ${logf}:"
    tail -n 60 "$logf" >&2
    exit 1
  fi
}

rm -rf "$PREFIX"
mkdir -p "$PREFIX/include" "$PREFIX/lib"

START_TIME=$(date +%s)
log "building into ${PREFIX}"
log "versions: fftw3 ${VER[fftw3]}, lame ${VER[lame]}, glfw3 ${VER[glfw3]}, glew ${VER[glew]}"

# ---------------------------------------------------------------- sources

SRC_DIR="${BUILD_DIR}/src"
mkdir -p "$SRC_DIR"
# apt's download sandbox user must be able to write here.
chmod 0755 "$BUILD_DIR"
chmod 0777 "$SRC_DIR"

fetch_source() {
  local pkg="$1" ver="$2" dir
  log "fetching source ${pkg} ${ver}"
  (cd "$SRC_DIR" && run_step "source-${pkg}" apt-get source --only-source "${pkg}=${ver}")
  dir="$(find "$SRC_DIR" -mindepth 1 -maxdepth 1 -type d -name "${pkg}-*" | head -n 1)"
  [ -n "$dir" ] || die "unpacked source of ${pkg} not found"
  printf '%s\n' "$dir"
}

FFTW_SRC="$(fetch_source fftw3 "${VER[fftw3]}")"
LAME_SRC="$(fetch_source lame  "${VER[lame]}")"
GLFW_SRC="$(fetch_source glfw3 "${VER[glfw3]}")"
GLEW_SRC="$(fetch_source glew  "${VER[glew]}")"

# Debian's lame patches touch configure.in and Makefile.am, but lame's
# maintainer mode is off, so the shipped configure and Makefile.in are used as
# they are and no autotools are needed.  Cross tools for the autotools builds:
export CC="$CC_X" CXX="$CXX_X" AR="${HOST_TRIPLE}-ar" RANLIB="${HOST_TRIPLE}-ranlib" \
       STRIP="${HOST_TRIPLE}-strip"
unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS PKG_CONFIG_PATH || true

# ---------------------------------------------------------------- builds

# Seconds since $1, for progress messages.
since() { echo $(( $(date +%s) - $1 )); }

build_fftw() {
  local t0; t0=$(date +%s)
  log "fftw3: configure + make -j${JOBS} (single precision, SSE2+AVX)"
  local b="${BUILD_DIR}/build-fftw3"
  mkdir -p "$b"
  cd "$b"
  run_step fftw3-configure "${FFTW_SRC}/configure" \
    --host="$HOST_TRIPLE" --prefix="$PREFIX" \
    --enable-float --enable-sse2 --enable-avx \
    --disable-fortran --enable-static --disable-shared --with-our-malloc \
    --disable-doc
  run_step fftw3-make make -j"$JOBS"
  run_step fftw3-install make install
  log "fftw3: done ($(since "$t0")s)"
}

build_lame() {
  local t0; t0=$(date +%s)
  log "lame: configure + make"
  local b="${BUILD_DIR}/build-lame"
  mkdir -p "$b"
  cd "$b"
  run_step lame-configure "${LAME_SRC}/configure" \
    --host="$HOST_TRIPLE" --prefix="$PREFIX" \
    --disable-frontend --disable-decoder --enable-static --disable-shared \
    --disable-maintainer-mode
  run_step lame-make make -j"$JOBS"
  run_step lame-install make install
  log "lame: done ($(since "$t0")s)"
}

build_glfw() {
  local t0; t0=$(date +%s)
  log "glfw3: cmake + make"
  local b="${BUILD_DIR}/build-glfw3"
  run_step glfw3-configure cmake -S "$GLFW_SRC" -B "$b" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=OFF \
    -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF -DGLFW_BUILD_DOCS=OFF \
    -DGLFW_INSTALL=ON
  run_step glfw3-make cmake --build "$b" -j "$JOBS"
  run_step glfw3-install cmake --install "$b"
  log "glfw3: done ($(since "$t0")s)"
}

build_glew() {
  local t0; t0=$(date +%s)
  log "glew: make glew.lib.static"
  [ -f "${GLEW_SRC}/src/glew.c" ] || die "glew source package has no generated src/glew.c"
  cd "$GLEW_SRC"
  # The Makefile runs "mktemp -d /tmp/glew.XXXXXX" at parse time (for its
  # dist targets) even when DIST_DIR is given on the command line.
  sed -i -e 's|^DIST_DIR[[:space:]]*:=.*|DIST_DIR := $(CURDIR)/tmp/dist|' Makefile
  # The static object is compiled with -DGLEW_STATIC -DGLEW_NO_GLU.
  # AR must be given: make's built-in default is the host "ar".
  run_step glew-make make -j"$JOBS" \
    SYSTEM=linux-mingw64 HOST="$HOST_TRIPLE" \
    CC="$CC_X" LD="${HOST_TRIPLE}-ld" AR="${HOST_TRIPLE}-ar" ARFLAGS=crs STRIP= \
    GLEW_PREFIX="$PREFIX" GLEW_DEST="$PREFIX" \
    glew.lib.static
  mkdir -p "$PREFIX/include/GL"
  install -m 0644 lib/libglew32.a "$PREFIX/lib/libglew32.a"
  install -m 0644 include/GL/glew.h include/GL/wglew.h "$PREFIX/include/GL/"
  log "glew: done ($(since "$t0")s)"
}

# FFTW dominates; the three small libraries build alongside it so that its
# single-threaded configure step does not leave a core idle.  The first
# failure stops the other chain (in cleanup).
( build_fftw ) &
FFTW_PID=$!
( build_lame; build_glfw; build_glew ) &
SIDE_PID=$!
BG_PIDS=("$FFTW_PID" "$SIDE_PID")
while [ ${#BG_PIDS[@]} -gt 0 ]; do
  DONE_PID=""
  if wait -n -p DONE_PID "${BG_PIDS[@]}"; then
    rc=0
  else
    rc=$?
  fi
  [ -n "$DONE_PID" ] || die "lost track of the build jobs"
  if [ "$DONE_PID" = "$FFTW_PID" ]; then what="fftw3"; else what="lame/glfw3/glew"; fi
  [ "$rc" -eq 0 ] || die "${what} build failed (see above)"
  REMAINING=()
  for pid in "${BG_PIDS[@]}"; do
    [ "$pid" = "$DONE_PID" ] || REMAINING+=("$pid")
  done
  BG_PIDS=("${REMAINING[@]}")
done

# ---------------------------------------------------------------- finish

# Keep only what a consumer links against: no programs, docs, Fortran
# headers or libtool archives.  FFTW's autotools-installed CMake config is
# incomplete (it includes a FFTW3LibraryDepends.cmake that is never
# installed), so it is dropped rather than left for find_package to trip on.
find "$PREFIX/lib" -name '*.la' -delete
rm -rf "$PREFIX/bin" "$PREFIX/share" "$PREFIX/lib/cmake/fftw3"
rm -f "$PREFIX"/include/fftw3*.f "$PREFIX"/include/fftw3*.f03

# pkg-config files for the two libraries whose build does not make a usable one.
mkdir -p "$PREFIX/lib/pkgconfig"
cat > "$PREFIX/lib/pkgconfig/glew.pc" <<EOF
prefix=${PREFIX}
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: glew
Description: The OpenGL Extension Wrangler library (static)
Version: ${VER[glew]%%-*}
Cflags: -I\${includedir} -DGLEW_STATIC
Libs: -L\${libdir} -lglew32 -lopengl32 -lgdi32 -luser32 -lkernel32
EOF
cat > "$PREFIX/lib/pkgconfig/mp3lame.pc" <<EOF
prefix=${PREFIX}
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: mp3lame
Description: LAME MP3 encoder library (static)
Version: ${VER[lame]%%-*}
Cflags: -I\${includedir}
Libs: -L\${libdir} -lmp3lame
EOF

# The licence texts of exactly these sources: a statically linked library's
# terms travel with the executable.
install_licences() {
  local pkg="$1" src="$2"; shift 2
  mkdir -p "$PREFIX/licenses/$pkg"
  local f
  for f in "$@"; do
    [ -f "$src/$f" ] || die "licence file $f not found in the $pkg source"
    install -m 0644 "$src/$f" "$PREFIX/licenses/$pkg/$f"
  done
}
install_licences fftw3 "$FFTW_SRC" COPYRIGHT COPYING
install_licences lame "$LAME_SRC" LICENSE COPYING
install_licences glfw3 "$GLFW_SRC" LICENSE.md
install_licences glew "$GLEW_SRC" LICENSE.txt

for f in include/fftw3.h lib/libfftw3f.a \
         include/lame/lame.h lib/libmp3lame.a \
         include/GLFW/glfw3.h include/GLFW/glfw3native.h lib/libglfw3.a \
         include/GL/glew.h lib/libglew32.a; do
  [ -f "${PREFIX}/${f}" ] || die "expected output missing: ${PREFIX}/${f}"
done

cat > "${PREFIX}/VERSIONS.txt" <<EOF
host=${HOST_TRIPLE} (posix threads, $("$CC_X" -dumpfullversion 2>/dev/null || "$CC_X" -dumpversion))
recipe=${RECIPE_REV}
fftw3=${VER[fftw3]}
lame=${VER[lame]}
glfw3=${VER[glfw3]}
glew=${VER[glew]}
link (static): -lglfw3 -lglew32 -lopengl32 -lgdi32 -lmp3lame -lfftw3f
defines: GLEW_STATIC
EOF

date -u +%Y-%m-%dT%H:%M:%SZ > "${PREFIX}/.complete"
STATUS=0
rm -rf "${CACHE_ROOT}/failed-logs"
log "done in $(( $(date +%s) - START_TIME ))s: ${PREFIX}"
printf '%s\n' "$PREFIX"
