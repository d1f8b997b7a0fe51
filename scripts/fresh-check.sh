#!/usr/bin/env bash
# Proves the README on a machine that has nothing: in a fresh minimal Debian 12 root it runs the
# README's set-up and quick tests and starts the viewer against the simulated receiver; then it
# builds the Debian package here and installs it into a second fresh root, where the installed
# programs must run from PATH. Needs root, chroot and the package mirror (as CI has); where the
# machine cannot do it, it says so in one line and exits 0. Any failure of the checks themselves
# exits non-zero.
#   scripts/fresh-check.sh [readme|package|all]    (default all)
set -uo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
fresh=${VANTORA_FRESH_RUN:-$PWD/../shared/tools/fresh-run}

skip() { echo "fresh-machine check skipped: $*"; exit 0; }
[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, mount, chroot)"
command -v chroot >/dev/null || skip "no chroot on this machine"
[ -f "$fresh" ] || skip "no fresh-run tool at $fresh"
[ -z "$(git status --porcelain --untracked-files=no 2>/dev/null)" ] ||
  echo "fresh-machine check: uncommitted changes are not part of the check (it clones the committed tree)"

logdir=$(mktemp -d /tmp/vantora-fresh.XXXXXX)
failed=0
run_stage() {  # name, log file, fresh-run arguments...
  local name=$1 log=$2; shift 2
  local start=$SECONDS
  if "$@" >"$log" 2>&1; then
    echo "fresh-machine check: $name passed ($((SECONDS - start)) s)"
  else
    echo "fresh-machine check: $name FAILED ($((SECONDS - start)) s); the end of $log:"
    tail -40 "$log"
    failed=1
  fi
}

if [ "$what" = all ] || [ "$what" = readme ]; then
  # The README's two commands: the quick tests, then the viewer started against the simulator
  # (offscreen; still running after 60 s means it came up, and timeout ends its process group).
  run_stage "README set-up and quick tests" "$logdir/readme.log" bash "$fresh" '
    bash scripts/test.sh --quick || exit 1
    QT_QPA_PLATFORM=offscreen timeout 60 bash scripts/run.sh; rc=$?
    [ $rc -eq 124 ] || { echo "the viewer did not keep running (exit $rc)"; exit 1; }
    echo "viewer started against the simulated receiver"'
fi

if [ "$what" = all ] || [ "$what" = package ]; then
  if bash scripts/package.sh >"$logdir/package-build.log" 2>&1; then
    deb=$(ls -t build-pkg/vantora_*_amd64.deb | head -1)
    # The package and a recorded log go into the fresh root as a one-commit repository.
    carrier="$logdir/carrier"
    mkdir -p "$carrier"
    cp "$deb" tests/logs/sim-nmea.log scripts/installed-check.sh "$carrier/"
    git -C "$carrier" init -q && git -C "$carrier" add -A &&
      git -C "$carrier" -c user.name=ci -c user.email=ci@localhost commit -qm carrier
    run_stage "package install" "$logdir/package.log" env FRESH_SRC="$carrier" bash "$fresh" \
      'bash installed-check.sh'
  else
    echo "fresh-machine check: package build FAILED; the end of $logdir/package-build.log:"
    tail -40 "$logdir/package-build.log"
    failed=1
  fi
fi
exit $failed
