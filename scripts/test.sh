#!/usr/bin/env bash
# Installs the dependencies, builds the AddressSanitizer + UBSan configuration and runs every test.
# KESTEL_WERROR=ON turns warnings into errors (continuous integration sets it); it is off by
# default so that a newer compiler's new warnings do not stop the suite from running.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=${KESTEL_JOBS:-$(nproc)}
cmake --preset asan -DKESTEL_WERROR="${KESTEL_WERROR:-OFF}" >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
