#!/usr/bin/env bash
# Records what the simulated receiver sends for a while, as the viewer's log would hold it.
#   scripts/record-sim-log.sh OUT SECONDS [vantora-sim options...]
# Commands to send may be given in SEND as hex frames separated by ';' (vantora-frame output).
set -euo pipefail
out=$1 seconds=$2
shift 2
sim=${SIM:-build/tools/vantora-sim}
dir=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$dir"' EXIT
"$sim" --link "$dir/tty" "$@" > "$dir/path" &
pid=$!
for _ in $(seq 50); do [ -e "$dir/tty" ] && break; sleep 0.1; done
baud=4800
for ((i = 1; i <= $#; i++)); do [ "${!i}" = --baud ] && { j=$((i + 1)); baud=${!j}; }; done
exec 3<>"$dir/tty"
stty -F "$dir/tty" "$baud" raw -echo
cat <&3 > "$out" &
reader=$!
if [ -n "${SEND:-}" ]; then
  sleep 1.5
  IFS=';' read -ra frames <<< "$SEND"
  for f in "${frames[@]}"; do echo "$f" | xxd -r -p >&3; sleep 0.5; done
fi
sleep "$seconds"
kill $reader
