#!/usr/bin/env bash
# Run inside a fresh root that holds the package: installs it with apt as a user would and runs the
# installed programs from PATH.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq ./vantora_*_amd64.deb desktop-file-utils >/dev/null
for p in vantora vantora-sim vantora-decode vantora-frame vantora-flash vantora-trace; do
  command -v "$p" >/dev/null || { echo "$p is not on PATH"; exit 1; }
  test -f "/usr/share/man/man1/$p.1.gz" || { echo "no man page for $p"; exit 1; }
done
desktop-file-validate /usr/share/applications/vantora.desktop
test -f /usr/share/icons/hicolor/scalable/apps/vantora.svg
test -f /usr/share/icons/hicolor/48x48/apps/vantora.png
lines=$(vantora-decode sim-nmea.log | grep -c '"sentence"')
[ "$lines" -gt 0 ] || { echo "vantora-decode printed no sentence"; exit 1; }
echo "vantora-decode: $lines sentences"

# The viewer offscreen against the simulator, with a portable settings file the test owns.
work=$(mktemp -d)
cd "$work"
vantora-sim --link "$work/com1" >sim.out 2>sim.err &
sim=$!
for _ in $(seq 100); do [ -e "$work/com1" ] && break; sleep 0.1; done
[ -e "$work/com1" ] || { echo "vantora-sim did not start"; cat sim.err; exit 1; }
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/vantora"
printf '[Setup]\nPortid=0\n\n[Ports]\nCOM1=%s\n' "$work/com1" >"$XDG_CONFIG_HOME/vantora/vantora.INI"
QT_QPA_PLATFORM=offscreen VANTORA_SCREENSHOT="$work/view.png" timeout 60 vantora
kill "$sim" 2>/dev/null || true
test -s "$work/view.png" || { echo "the viewer wrote no picture of the View page"; exit 1; }
echo "installed viewer showed the View page against the installed simulator"
