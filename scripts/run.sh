#!/usr/bin/env bash
# Installs the dependencies, builds the optimised configuration and runs the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "${KESTEL_JOBS:-$(nproc)}"
./build/default/src/kestel-cli --version
