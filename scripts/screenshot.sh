#!/usr/bin/env bash
# Pictures of the live view for the documentation: the real viewer under a virtual X server,
# talking to the simulated receiver, switched to the View page once a fix is drawn.
# Writes docs/view.png (the window as it opens) and docs/view-expanded.png (expanded);
# VANTORA_SHOT_NAME=NAME writes docs/NAME.png and docs/NAME-expanded.png instead. Arguments go
# to the simulator: `VANTORA_SHOT_NAME=view-gnss scripts/screenshot.sh --gnss` pictures a
# multi-constellation receiver.
set -euo pipefail
name="${VANTORA_SHOT_NAME:-view}"

source "$(dirname "${BASH_SOURCE[0]}")/run.sh"

build_viewer
start_sim --seed 1 "$@"
trap stop_sim EXIT
point_com1_at_sim "$VANTORA_BUILD/app/vantora.INI"
mkdir -p "$VANTORA_ROOT/docs"
rm -f "$VANTORA_ROOT/docs/$name.png" "$VANTORA_ROOT/docs/$name-expanded.png"

VANTORA_SCREENSHOT="$VANTORA_ROOT/docs/$name.png" \
VANTORA_SCREENSHOT_PAGE=view \
VANTORA_SCREENSHOT_EXPANDED="$VANTORA_ROOT/docs/$name-expanded.png" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$VANTORA_BUILD/app/vantora"

for f in "$name.png" "$name-expanded.png"; do
  [ -s "$VANTORA_ROOT/docs/$f" ] || { echo "screenshot: docs/$f was not written" >&2; exit 1; }
done
echo "screenshot: docs/$name.png and docs/$name-expanded.png written"
