#!/usr/bin/env bash
# Pictures of the receiver commands for the documentation: the real viewer under a virtual X
# server, talking to the simulated receiver, expanded to show the command panels.
#   docs/view-binary.png    "Set Output Format (13h)" sent with "Binary (Temorarily)": the
#                           measurement grid filled from the binary navigation blocks
#   docs/view-settings.png  "Query System Setting (18h)" sent: the report in the text panel
# The viewer runs from a copy beside its own settings file (user level 5), so the build's
# settings file is left as it is.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/run.sh"

build_viewer
work="$(mktemp -d /tmp/vantora-shots.XXXXXX)"
cleanup() {
  stop_sim
  rm -rf "$work"
}
trap cleanup EXIT
cp "$VANTORA_BUILD/app/vantora" "$work/vantora"
mkdir -p "$VANTORA_ROOT/docs"

# shoot NAME SEND: one run of the viewer against a fresh receiver.
shoot() {
  local name="$1" send="$2"
  start_sim --seed 1
  printf '[Setup]\nPortid=0\nEngineer=MWRB\n\n[Ports]\nCOM1=%s\n' "$SIM_LINK" >"$work/vantora.INI"
  rm -f "$VANTORA_ROOT/docs/$name"
  VANTORA_SCREENSHOT="$work/normal.png" \
  VANTORA_SCREENSHOT_PAGE=view \
  VANTORA_SCREENSHOT_SEND="$send" \
  VANTORA_SCREENSHOT_EXPANDED="$VANTORA_ROOT/docs/$name" \
    xvfb-run -a -s "-screen 0 1024x768x24" "$work/vantora"
  stop_sim
  [ -s "$VANTORA_ROOT/docs/$name" ] || { echo "screenshot: docs/$name was not written" >&2; exit 1; }
}

shoot view-binary.png "0x13:rgOutputFormat=2"
shoot view-settings.png "0x18"
echo "screenshot: docs/view-binary.png and docs/view-settings.png written"
