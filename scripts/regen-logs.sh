#!/usr/bin/env bash
# The one way to remake the recorded logs and their expectations:
#   scripts/regen-logs.sh            re-records every simulator log, then rewrites every .jsonl
#   scripts/regen-logs.sh --decode   only rewrites tests/logs/*.jsonl from the current decoder
# Each log's first line is a "#" header saying how it was made; the decoder never sees it
# (scripts/check-log.sh and this script strip it). Review the diff before committing it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VANTORA_BUILD:-build}
decode=$build/tools/vantora-decode
frame=$build/tools/vantora-frame
start=1796688000  # 2026-12-08 00:00:00 UTC: every log starts at the same moment

# name, seconds, commands sent (vantora-frame arguments, ';' between), vantora-sim options
recipes=(
  "sim-nmea|25||--seed 3 --start-time $start"
  "sim-faults|21||--seed 5 --start-time $start --fault garbage --fault badsum --fault cut --fault longfield --fault-every 4"
  "sim-binary|9||--seed 4 --start-time $start --binary"
  "sim-replies|4|0x05;0x07;0x06;0x0E;0x17;0x18;0x1F;0x09;0x0B;0x13 rgOutputFormat=2|--seed 6 --start-time $start"
)

if [ "${1:-}" != --decode ]; then
  for recipe in "${recipes[@]}"; do
    IFS='|' read -r name seconds commands options <<< "$recipe"
    send=""
    if [ -n "$commands" ]; then
      IFS=';' read -ra list <<< "$commands"
      for c in "${list[@]}"; do
        # shellcheck disable=SC2086  # a command and its control=value pairs
        send+="$("$frame" $c | tr -d ' ');"
      done
    fi
    header="# recorded by scripts/record-sim-log.sh: vantora-sim $options for $seconds s"
    [ -n "$commands" ] && header+=", sending the frames of vantora-frame $commands"
    raw=$(mktemp)
    # shellcheck disable=SC2086  # the options are words
    SIM=$build/tools/vantora-sim SEND="${send%;}" scripts/record-sim-log.sh "$raw" "$seconds" $options
    { printf '%s\n' "$header"; cat "$raw"; } > "tests/logs/$name.log"
    rm -f "$raw"
  done
fi

for log in tests/logs/*.log; do
  scripts/check-log.sh --body "$log" | "$decode" - > "${log%.log}.jsonl"
done
git --no-pager diff --stat -- tests/logs || true
