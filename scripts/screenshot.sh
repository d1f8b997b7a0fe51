#!/usr/bin/env bash
# Pictures of the live view for the documentation: the real viewer under a virtual X server,
# talking to the simulated receiver, switched to the View page once a fix is drawn.
# Writes docs/view.png (the window as it opens) and docs/view-expanded.png (expanded).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/run.sh"

build_viewer
start_sim --seed 1 "$@"
trap stop_sim EXIT
point_com1_at_sim "$VANTORA_BUILD/app/vantora.INI"
mkdir -p "$VANTORA_ROOT/docs"
rm -f "$VANTORA_ROOT/docs/view.png" "$VANTORA_ROOT/docs/view-expanded.png"

VANTORA_SCREENSHOT="$VANTORA_ROOT/docs/view.png" \
VANTORA_SCREENSHOT_PAGE=view \
VANTORA_SCREENSHOT_EXPANDED="$VANTORA_ROOT/docs/view-expanded.png" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$VANTORA_BUILD/app/vantora"

for f in view.png view-expanded.png; do
  [ -s "$VANTORA_ROOT/docs/$f" ] || { echo "screenshot: docs/$f was not written" >&2; exit 1; }
done
echo "screenshot: docs/view.png and docs/view-expanded.png written"
