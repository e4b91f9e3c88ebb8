#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each one briefly on a copy of its seed corpus.
# KESTEL_WERROR=ON turns warnings into errors, as in scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-5}
cmake --preset fuzz -DKESTEL_WERROR="${KESTEL_WERROR:-OFF}" >/dev/null
cmake --build --preset fuzz -j "${KESTEL_JOBS:-$(nproc)}"
shopt -s nullglob
targets=(build/fuzz/fuzz/fuzz_*)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in "${targets[@]}"; do
  name=${target##*/fuzz_}
  mkdir -p "$work/$name"
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/$name/"
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
    "$work/$name" >"$work/$name.log" 2>&1 || { tail -n 60 "$work/$name.log"; exit 1; }
done
echo "fuzz: ${#targets[@]} targets ran clean"
