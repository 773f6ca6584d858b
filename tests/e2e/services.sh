# Sourced by the Linux test drivers: a private PulseAudio daemon (1 kHz mono float 48 kHz sine
# as the default source) and a private Xvfb display, both stopped by stop_services.
# Works as root: the daemon runs in the foreground of a background job with its own
# XDG_RUNTIME_DIR and HOME, which is what pulseaudio accepts without --system.

SERVICES_DIR=""
PULSE_PID=""
XVFB_PID=""

services_dir() {
  [ -n "$SERVICES_DIR" ] || SERVICES_DIR=$(mktemp -d /tmp/sonabel-services.XXXXXX)
}

start_pulse() {
  services_dir
  export XDG_RUNTIME_DIR="$SERVICES_DIR/run" HOME="$SERVICES_DIR/home"
  mkdir -p "$XDG_RUNTIME_DIR" "$HOME"
  chmod 700 "$XDG_RUNTIME_DIR"
  unset PULSE_SERVER PULSE_RUNTIME_PATH PULSE_COOKIE
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

# A real-time 1 kHz tone (mono float 48 kHz, RMS 0.354) as the default source: a null sink fed by
# a low-latency playback stream, recorded through its monitor. Unlike module-sine-source, which
# has a fixed 2 s latency and so delivers 2 s blocks, this delivers audio as time passes, so a
# recording's length can be compared with the time it ran.
TONE_PID=""
start_tone() {
  pactl load-module module-null-sink sink_name=tone rate=48000 channels=1 format=float32le \
    >/dev/null || return 1
  sox -q -n -r 48000 -c 1 -b 16 -e signed -t raw - synth 900 sine 1000 vol 0.5 2>/dev/null |
    pacat --playback --latency-msec=20 --rate=48000 --channels=1 --format=s16le -d tone \
      >/dev/null 2>&1 &
  TONE_PID=$!
  pactl set-default-source tone.monitor
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

stop_pulse() {
  stop_pid TONE_PID
  stop_pid PULSE_PID
}

# start_xvfb [extra Xvfb arguments...]: picks a free display itself (-displayfd). The screen is
# 1280x1500x24 unless SONABEL_XVFB_SCREEN says otherwise (a scaled display needs more pixels).
# With SONABEL_WINDOW_MANAGER=openbox a reparenting window manager runs on it, as on a desktop
# (it frames top-level windows, which a bare Xvfb does not).
WM_PID=""
start_xvfb() {
  services_dir
  local fdfile="$SERVICES_DIR/display.$RANDOM"
  Xvfb -displayfd 9 -screen 0 "${SONABEL_XVFB_SCREEN:-1280x1500x24}" -nolisten tcp "$@" 9>"$fdfile" \
    2>"$SERVICES_DIR/xvfb.log" &
  XVFB_PID=$!
  for _ in $(seq 100); do
    if [ -s "$fdfile" ]; then
      export DISPLAY=":$(tr -d '[:space:]' <"$fdfile")"
      export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
      unset WAYLAND_DISPLAY
      [ -z "${SONABEL_WINDOW_MANAGER:-}" ] || start_wm
      return
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
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    kill -0 "$WM_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "$SONABEL_WINDOW_MANAGER did not start:" >&2
  cat "$SERVICES_DIR/wm.log" >&2
  return 1
}

stop_xvfb() {
  stop_pid WM_PID
  stop_pid XVFB_PID
}

stop_services() {
  stop_pulse
  stop_xvfb
  [ -z "$SERVICES_DIR" ] || rm -rf "$SERVICES_DIR"
  SERVICES_DIR=""
}
