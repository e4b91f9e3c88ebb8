#!/usr/bin/env bash
# Fails when a source file includes a header from a layer it may not use. Folders are layers; each
# may include only itself and the folders listed for it below (the README's layout table). A folder
# under src/ that the table does not know fails too, so a new layer cannot slip past the check.
# Headers generated into the build tree (kestel/...) are open to every layer.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [util]=""
  [crypto]="util"
  [api/wire]="util"
  [api/regex]="util"
  [api/term]="util"
  [api/net]="util crypto api/wire"
  [api/object]="util api/wire"
  [gen]="util api/wire api/regex api/object"
  [api/container]="util api/wire api/regex api/term api/net api/object gen"
  [miw]="util api/wire api/regex api/term api/net api/object api/container gen"
  [app]="util crypto api/wire api/regex api/term api/net api/object api/container gen miw"
  [cli]="util crypto api/wire api/regex api/term api/net api/object api/container gen miw app"
  [gui]="util crypto api/wire api/regex api/term api/net api/object api/container gen miw app"
  [sim]="util crypto api/wire api/regex api/term api/net api/object api/container gen"
)

# The layer a path (relative to src/, or starting with sim/) belongs to; empty when none.
layer_of() {
  local path=$1
  case $path in
  sim/*) echo sim ;;
  api/*)
    local sub=${path#api/}
    [ "$sub" != "${sub%%/*}" ] && echo "api/${sub%%/*}"
    ;;
  */*) echo "${path%%/*}" ;;
  esac
}

failures=0
fail() {
  echo "check-layers: $*" >&2
  failures=$((failures + 1))
}

# Every folder that holds sources must be a known layer.
while IFS= read -r dir; do
  layer=$(layer_of "${dir#src/}/x")
  [ -n "$layer" ] && [ -n "${allowed[$layer]+set}" ] || fail "$dir is not a layer of the table"
done < <(find src -mindepth 1 -type d -not -path src/api | sort)

check_file() {
  local file=$1 own=$2 line target layer
  while IFS= read -r line; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]([^">]+)[">].*/\1/' <<<"$line")
    case $target in
    kestel/*) continue ;;
    ../* | */../*) target=$(realpath -m --relative-to=src "$(dirname "$file")/$target") ;;
    esac
    layer=$(layer_of "$target")
    [ -z "$layer" ] && continue # a standard, system or same-folder header
    [ -n "${allowed[$layer]+set}" ] || continue
    [ "$layer" = "$own" ] && continue
    [[ " ${allowed[$own]} " == *" $layer "* ]] ||
      fail "$file includes \"$target\": $own may not use $layer"
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<][^">]*/' "$file" || true)
}

while IFS= read -r file; do
  own=$(layer_of "${file#src/}")
  [ -n "$own" ] && [ -n "${allowed[$own]+set}" ] || continue
  check_file "$file" "$own"
done < <(find src sim -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.in' \) | sort)

if [ "$failures" -gt 0 ]; then
  echo "check-layers: $failures problem(s)" >&2
  exit 1
fi
echo "check-layers: every include stays within its layer's allowance"
