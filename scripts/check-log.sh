#!/usr/bin/env bash
# Decodes one recorded log and compares the output with its checked-in expectation.
# A difference is printed as a diff; scripts/regen-logs.sh rewrites the expectations.
set -euo pipefail
decode=$1
log=$2
expected=${log%.log}.jsonl
diff -u "$expected" <("$decode" "$log")
