#!/usr/bin/env bash
# Builds the Debian package build-pkg/vantora_<version>_amd64.deb (a Release build of the programs,
# their man pages, the desktop entry and the icon; dependencies found by dpkg-shlibdeps).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTORA_TESTS=OFF -DVANTORA_BENCH=OFF >/dev/null
ninja -C build-pkg
(cd build-pkg && cpack -G DEB)
ls -1 build-pkg/vantora_*_amd64.deb
