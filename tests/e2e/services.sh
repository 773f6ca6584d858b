# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the Linux test drivers: a private sound server (1 kHz mono float 48 kHz sine as the
# default source) and a private Xvfb display, all stopped by stop_services.
# SONABEL_SOUND_SERVER picks the sound server start_pulse runs: "pulseaudio" (the default) or
# "pipewire" (pipewire, wireplumber and pipewire-pulse, which speaks PulseAudio's protocol on the
# same socket). Works as root: each server runs in the foreground of a background job with its
# own XDG_RUNTIME_DIR and HOME, which is what pulseaudio accepts without --system.

SERVICES_DIR=""
PULSE_PID=""
XVFB_PID=""
DBUS_PID="" PIPEWIRE_PID="" WIREPLUMBER_PID="" PIPEWIRE_PULSE_PID="" SINE_PID=""

services_dir() {
  [ -n "$SERVICES_DIR" ] || SERVICES_DIR=$(mktemp -d /tmp/sonabel-services.XXXXXX)
}

# A private runtime folder and home: no user setting or running server is seen.
private_home() {
  services_dir
  export XDG_RUNTIME_DIR="$SERVICES_DIR/run" HOME="$SERVICES_DIR/home"
  mkdir -p "$XDG_RUNTIME_DIR" "$HOME"
  chmod 700 "$XDG_RUNTIME_DIR"
  unset PULSE_SERVER PULSE_RUNTIME_PATH PULSE_COOKIE PULSE_SINK PULSE_SOURCE
}

start_pulse() {
  case "${SONABEL_SOUND_SERVER:-pulseaudio}" in
    pulseaudio) start_pulseaudio ;;
    pipewire) start_pipewire ;;
    *) echo "unknown SONABEL_SOUND_SERVER: $SONABEL_SOUND_SERVER" >&2; return 1 ;;
  esac
}

# wait_for SECONDS PID COMMAND...: polls COMMAND every 0.1 s for SECONDS while the process PID
# lives.
wait_for() {
  local end=$((SECONDS + $1)) pid=$2
  shift 2
  until "$@"; do
    kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

start_pulseaudio() {
  private_home
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    -L module-native-protocol-unix -L "module-null-sink sink_name=nul" \
    -L "module-sine-source source_name=sine rate=48000 frequency=1000" \
    >"$SERVICES_DIR/pulseaudio.log" 2>&1 &
  PULSE_PID=$!
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && { pactl set-default-source sine; return 0; }
    kill -0 "$PULSE_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "PulseAudio did not start:" >&2
  cat "$SERVICES_DIR/pulseaudio.log" >&2
  return 1
}

# PipeWire as desktops run it: pipewire, the wireplumber session manager (it links streams to
# nodes, and needs a session bus for that) and pipewire-pulse, with a bus of their own. The
# default source is a 1 kHz mono float 48 kHz sine named "sine" as under PulseAudio: a pipe
# source fed by tone_loop, which the graph's clock paces (no module-sine-source here). The device
# plugins (ALSA, Bluetooth, cameras, JACK) are left out of the plugin folder, so a private server
# never opens the machine's own sound cards.
start_pipewire() {
  private_home
  local dir=$SERVICES_DIR spa="" sub
  export XDG_CONFIG_HOME="$HOME/.config" XDG_STATE_HOME="$HOME/.local/state" \
    XDG_DATA_HOME="$HOME/.local/share"
  unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR PIPEWIRE_CONFIG_DIR PIPEWIRE_DEBUG SPA_PLUGIN_DIR
  for sub in /usr/lib/*/spa-0.2 /usr/lib64/spa-0.2 /usr/lib/spa-0.2; do
    [ -d "$sub/support" ] && { spa=$sub; break; }
  done
  [ -n "$spa" ] || { echo "PipeWire's plugins (spa-0.2) not found" >&2; return 1; }
  rm -rf "$dir/spa" "$dir/bus" "$dir/sine.fifo" "$XDG_RUNTIME_DIR"/pipewire-0*   # a restart
  mkdir -p "$dir/spa"
  for sub in "$spa"/*/; do
    case $(basename "$sub") in
      alsa|bluez5|v4l2|libcamera|jack|avb) ;;
      *) ln -s "$sub" "$dir/spa/$(basename "$sub")" ;;
    esac
  done
  export SPA_PLUGIN_DIR="$dir/spa"

  # The bus is for PipeWire's own processes only: a program under test that found it would be
  # ended (SIGTERM, GDBus's default) when a test restarts the sound server with its bus.
  local bus="unix:path=$dir/bus"
  dbus-daemon --session --address="$bus" --nofork --nopidfile \
    >"$dir/dbus.log" 2>&1 &
  DBUS_PID=$!
  wait_for 10 "$DBUS_PID" test -S "$dir/bus" || { pipewire_failed dbus; return 1; }
  # As root without a real-time kit: module-rt sets the priorities itself or carries on without.
  DBUS_SESSION_BUS_ADDRESS=$bus pipewire >"$dir/pipewire.log" 2>&1 &
  PIPEWIRE_PID=$!
  wait_for 10 "$PIPEWIRE_PID" test -S "$XDG_RUNTIME_DIR/pipewire-0" ||
    { pipewire_failed pipewire; return 1; }
  DBUS_SESSION_BUS_ADDRESS=$bus pipewire-pulse >"$dir/pipewire-pulse.log" 2>&1 &
  PIPEWIRE_PULSE_PID=$!
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  wait_for 10 "$PIPEWIRE_PULSE_PID" pactl info >/dev/null 2>&1 ||
    { pipewire_failed pipewire-pulse; return 1; }

  pactl load-module module-pipe-source source_name=sine file="$dir/sine.fifo" rate=48000 \
    channels=1 format=float32le >/dev/null || { pipewire_failed pipewire-pulse; return 1; }
  tone_loop >"$dir/sine.fifo" &
  SINE_PID=$!
  DBUS_SESSION_BUS_ADDRESS=$bus wireplumber >"$dir/wireplumber.log" 2>&1 &
  WIREPLUMBER_PID=$!
  # Ready once a recording stream gets audio (wireplumber links it) and the default source can
  # be set (wireplumber keeps the defaults).
  wait_for 10 "$WIREPLUMBER_PID" sine_delivers && set_default_source sine ||
    { pipewire_failed wireplumber; return 1; }
}

# set_default_source NAME: and waits until the server says it is the default (PipeWire's session
# manager applies it a moment later, and later still for a sink it has just been told about).
set_default_source() {
  local try
  for try in $(seq 50); do
    [ $((try % 5)) != 1 ] || pactl set-default-source "$1" || true
    [ "$(pactl get-default-source 2>/dev/null)" = "$1" ] && return 0
    sleep 0.1
  done
  echo "the default source did not become $1" >&2
  return 1
}

sine_delivers() {
  [ "$(timeout 2 parec --raw --latency-msec=50 -d sine 2>/dev/null | head -c 9600 | wc -c)" = 9600 ]
}

pipewire_failed() {
  echo "PipeWire did not start ($1):" >&2
  tail -n 20 "$SERVICES_DIR"/dbus.log "$SERVICES_DIR"/pipewire*.log "$SERVICES_DIR"/wireplumber.log >&2
  stop_pulse
}

# The tone on stdout, mono float 48 kHz, RMS 0.354: 1 kHz until set_tone FREQ changes it, in 1 s
# chunks of whole periods (of 1 and 4 kHz: no break). One process blocking on its reader, as sox
# is (a shell loop of cat gave PipeWire 1.4's pipe source one chunk, then silence). Ends when its
# reader goes.
tone_loop() {
  echo 1000 >"$SERVICES_DIR/tone"
  python3 -c '
import math, struct, sys
chunks = {}
while True:
    try:
        f = int(open(sys.argv[1]).read())
    except ValueError:
        continue
    if f not in chunks:
        chunks[f] = struct.pack("<48000f", *(0.5 * math.sin(2 * math.pi * f * i / 48000) for i in range(48000)))
    try:
        sys.stdout.buffer.write(chunks[f])
        sys.stdout.buffer.flush()
    except (BrokenPipeError, OSError):
        break
' "$SERVICES_DIR/tone" 2>/dev/null
}
set_tone() { echo "$1" >"$SERVICES_DIR/tone"; }

# A real-time 1 kHz tone (mono float 48 kHz, RMS 0.354) as the default source: a null sink fed by
# a low-latency playback stream, recorded through its monitor. Unlike module-sine-source, which
# has a fixed 2 s latency and so delivers 2 s blocks, this delivers audio as time passes, so a
# recording's length can be compared with the time it ran. Under PipeWire the "sine" pipe source
# already is such a tone, paced by the graph's clock (and WirePlumber 0.5 takes no sink monitor
# as the default source).
TONE_PID=""
start_tone() {
  [ "${SONABEL_SOUND_SERVER:-}" != pipewire ] || { set_default_source sine; return; }
  pactl load-module module-null-sink sink_name=tone rate=48000 channels=1 format=float32le \
    >/dev/null || return 1
  tone_loop | pacat --playback --latency-msec=20 --rate=48000 --channels=1 --format=float32le \
    -d tone >/dev/null 2>&1 &
  TONE_PID=$!
  set_default_source tone.monitor
}

# stop_pid VAR: ends the process whose id the variable VAR holds (if any) and clears VAR.
stop_pid() {
  local pid=${!1}
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  printf -v "$1" '%s' ""
}

# Stops the sound server start_pulse started, whichever it is, and the tone.
stop_pulse() {
  stop_pid TONE_PID
  stop_pid PULSE_PID
  stop_pid PIPEWIRE_PULSE_PID
  stop_pid WIREPLUMBER_PID
  stop_pid PIPEWIRE_PID
  stop_pid SINE_PID
  stop_pid DBUS_PID
}

# start_xvfb [extra Xvfb arguments...]: picks a free display itself (-displayfd). The screen is
# 1280x1500x24 unless SONABEL_XVFB_SCREEN says otherwise (a scaled display needs more pixels).
# With SONABEL_WINDOW_MANAGER=openbox a reparenting window manager runs on it, as on a desktop
# (it frames top-level windows, which a bare Xvfb does not).
WM_PID=""
start_xvfb() {
  local attempt
  # A display whose number was just given up by another test's server can end up unreachable
  # (seen once in many runs, with several servers starting and stopping side by side): a server
  # that takes no client is replaced by a new one.
  for attempt in 1 2 3; do
    try_xvfb "$@" || return 1
    wait_for 10 "$XVFB_PID" xwininfo -root >/dev/null 2>&1 && break
    echo "Xvfb on $DISPLAY takes no client (attempt $attempt)" >&2
    stop_pid XVFB_PID
    [ "$attempt" != 3 ] || return 1
  done
  export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
  unset WAYLAND_DISPLAY
  [ -z "${SONABEL_WINDOW_MANAGER:-}" ] || start_wm
}

try_xvfb() {
  services_dir
  local fdfile="$SERVICES_DIR/display.$RANDOM"
  Xvfb -displayfd 9 -screen 0 "${SONABEL_XVFB_SCREEN:-1280x1500x24}" -nolisten tcp "$@" 9>"$fdfile" \
    2>"$SERVICES_DIR/xvfb.log" &
  XVFB_PID=$!
  for _ in $(seq 100); do
    if [ -s "$fdfile" ]; then
      export DISPLAY=":$(tr -d '[:space:]' <"$fdfile")"
      return 0
    fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "Xvfb did not start:" >&2
  cat "$SERVICES_DIR/xvfb.log" >&2
  return 1
}

# The window manager announces itself on the root window once it manages the screen.
start_wm() {
  case "$SONABEL_WINDOW_MANAGER" in
    openbox) openbox --sm-disable >"$SERVICES_DIR/wm.log" 2>&1 & ;;
    *) echo "unknown window manager: $SONABEL_WINDOW_MANAGER" >&2; return 1 ;;
  esac
  WM_PID=$!
  # A loaded machine can take seconds.
  wait_for 30 "$WM_PID" wm_managing && return 0
  echo "$SONABEL_WINDOW_MANAGER did not start:" >&2
  cat "$SERVICES_DIR/wm.log" >&2
  return 1
}

wm_managing() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

stop_xvfb() {
  stop_pid WM_PID
  stop_pid XVFB_PID
}

# The accessibility bus of a desktop session (AT-SPI): a bus and a registry of its own, named by
# AT_SPI_BUS_ADDRESS for the programs started next (GTK's bridge in the app, the test's client).
A11Y_BUS_PID="" A11Y_REGISTRY_PID=""
start_a11y_bus() {
  services_dir
  local bus="$SERVICES_DIR/a11y-bus" log="$SERVICES_DIR/a11y-registry.log"
  dbus-daemon --config-file=/usr/share/defaults/at-spi2/accessibility.conf --address="unix:path=$bus" \
    --nofork --nopidfile >"$SERVICES_DIR/a11y-bus.log" 2>&1 &
  A11Y_BUS_PID=$!
  wait_for 10 "$A11Y_BUS_PID" test -S "$bus" && export AT_SPI_BUS_ADDRESS="unix:path=$bus" || return 1
  /usr/libexec/at-spi2-registryd >"$log" 2>&1 &
  A11Y_REGISTRY_PID=$!
  wait_for 10 "$A11Y_REGISTRY_PID" grep -q "is running" "$log"
}
stop_a11y_bus() { stop_pid A11Y_REGISTRY_PID; stop_pid A11Y_BUS_PID; unset AT_SPI_BUS_ADDRESS; }

stop_services() {
  stop_a11y_bus
  stop_pulse
  stop_xvfb
  [ -z "$SERVICES_DIR" ] || rm -rf "$SERVICES_DIR"
  SERVICES_DIR=""
}
