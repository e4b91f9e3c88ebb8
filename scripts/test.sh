#!/usr/bin/env bash
# Installs the dependencies, builds the AddressSanitizer + UBSan configuration and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=${KESTEL_JOBS:-$(nproc)}
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
