#!/usr/bin/env bash
# Builds the viewer and the simulated receiver, starts the simulator on a pseudo-terminal,
# points COM1 of the viewer's settings file at it and starts the viewer; the simulator stops
# when the viewer exits. Extra arguments go to the simulator (for example --baud 19200).
# Sourced (as screenshot.sh does), it only defines the functions.
set -euo pipefail

VANTORA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VANTORA_BUILD="${VANTORA_BUILD_DIR:-$VANTORA_ROOT/build}"

build_viewer() {
  bash "$VANTORA_ROOT/scripts/setup.sh"
  cmake -S "$VANTORA_ROOT" -B "$VANTORA_BUILD" -G Ninja -DVANTORA_GUI=ON >/dev/null
  ninja -C "$VANTORA_BUILD" vantora vantora-sim
}

# start_sim [simulator options...]: the simulator behind the link $SIM_LINK; sets SIM_PID.
start_sim() {
  SIM_DIR="$(mktemp -d /tmp/vantora-run.XXXXXX)"
  SIM_LINK="$SIM_DIR/vantora-com1"
  "$VANTORA_BUILD/tools/vantora-sim" --link "$SIM_LINK" "$@" >"$SIM_DIR/sim.out" 2>"$SIM_DIR/sim.err" &
  SIM_PID=$!
  for _ in $(seq 1 100); do
    [ -e "$SIM_LINK" ] && return 0
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "the simulated receiver did not start:" >&2
  cat "$SIM_DIR/sim.err" >&2
  return 1
}

stop_sim() {
  if [ -n "${SIM_PID:-}" ] && kill -0 "$SIM_PID" 2>/dev/null; then
    kill -TERM "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
  if [ -n "${SIM_DIR:-}" ]; then rm -rf "$SIM_DIR"; fi
  SIM_PID=""
}

# point_com1_at_sim INI: "COM1" of the "Ports" section names the simulator's link; every other
# line of the file stays as it is (a new file gets [Setup] Portid=0).
point_com1_at_sim() {
  local ini="$1"
  if [ ! -f "$ini" ]; then
    printf '[Setup]\nPortid=0\n\n[Ports]\nCOM1=%s\n' "$SIM_LINK" >"$ini"
    return
  fi
  awk -v link="$SIM_LINK" '
    /^[ \t]*\[/ {
      name = $0; gsub(/^[ \t]*\[|\][ \t\r]*$/, "", name)
      inports = (tolower(name) == "ports")
      print
      if (inports) { print "COM1=" link; done = 1 }
      next
    }
    inports && tolower($0) ~ /^[ \t]*com1[ \t]*=/ { next }
    { print }
    END { if (!done) { print ""; print "[Ports]"; print "COM1=" link } }
  ' "$ini" >"$ini.tmp" && mv "$ini.tmp" "$ini"
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  build_viewer
  start_sim "$@"
  trap stop_sim EXIT
  point_com1_at_sim "$VANTORA_BUILD/app/vantora.INI"
  "$VANTORA_BUILD/app/vantora"
fi
