#!/usr/bin/env bash
# Decodes one recorded log and compares the output with its checked-in expectation.
# A difference is printed as a diff; scripts/regen-logs.sh rewrites the expectations.
#   scripts/check-log.sh DECODER LOG     compare
#   scripts/check-log.sh --body LOG      print the log's raw bytes without its header
# A log starts with one "#" line saying how it was made; the receiver's bytes follow it. The
# decoder reads raw streams, where a "#" is data, so the header is taken off here.
set -euo pipefail
body() {
  if [ "$(head -c 1 "$1")" = "#" ]; then tail -n +2 "$1"; else cat "$1"; fi
}
if [ "$1" = --body ]; then
  body "$2"
  exit 0
fi
decode=$1
log=$2
expected=${log%.log}.jsonl
diff -u "$expected" <(body "$log" | "$decode" -)
