#!/usr/bin/env bash
# Builds the Debian package kestel (kestel, kestel-cli, nimbalux-sim, desktop file, icon, man
# pages, bash completion) from an optimised build in build/package, and prints the package's
# path. The simulator is built to find its sample router where the package installs it.
# KESTEL_JOBS limits the parallel compile jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DKESTEL_TESTS=OFF -DKESTEL_BENCH=OFF -DKESTEL_GUI=ON \
  -DKESTEL_SIM_SAMPLE_DIR=/usr/share/nimbalux-sim/sample >/dev/null
# On shared machines builds take turns through the build lock when there is one.
lock=()
[ -e /tmp/kestel-build.lock ] && command -v flock >/dev/null && lock=(flock /tmp/kestel-build.lock)
"${lock[@]}" cmake --build "$build" -j "${KESTEL_JOBS:-$(nproc)}" \
  --target kestel kestel-cli nimbalux-sim man_pages icons
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/kestel_*.deb
