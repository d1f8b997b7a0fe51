#!/usr/bin/env bash
# Rewrites tests/logs/*.jsonl from the current decoder. Review the diff before committing it.
set -euo pipefail
cd "$(dirname "$0")/.."
decode=${1:-build/tools/vantora-decode}
for log in tests/logs/*.log; do
  "$decode" "$log" > "${log%.log}.jsonl"
done
git --no-pager diff --stat -- tests/logs || true
