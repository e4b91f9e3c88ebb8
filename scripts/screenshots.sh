#!/usr/bin/env bash
# Review shots of the desktop program: starts the router simulator on loopback, lets kestel-cli
# log in and bring the router's descriptor files (icon sheets included) into a private cache, then
# starts kestel off screen (QT_QPA_PLATFORM=offscreen) with those sheets and writes a PNG of every
# window it can open into build/screenshots (SHOTS_DIR to change), then runs the GUI tests, which
# add shots of the windows they open against the simulator. The program's own shot is the
# loader; `--demo` adds the demonstration window's. KESTEL_PRESET picks the build (default: asan).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${KESTEL_PRESET:-asan}
shots=${SHOTS_DIR:-build/screenshots}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target kestel kestel-cli nimbalux-sim gui_tests -j "${KESTEL_JOBS:-$(nproc)}"
bin=build/$preset

work=$(mktemp -d)
"$bin/sim/nimbalux-sim" --port 0 --user admin:admin >"$work/port" 2>"$work/log" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  [ "$(wc -l <"$work/port")" -ge 1 ] && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.1
done
port=$(head -n1 "$work/port")
if ! [[ $port =~ ^[0-9]+$ ]]; then
  echo "screenshots: the simulator printed no port; it said:" >&2
  cat "$work/log" >&2
  exit 1
fi

# The descriptor cache of a private application-data folder receives the router's files.
export KESTEL_HOME=$work/home
KESTEL_PASSWORD=admin "$bin/src/kestel-cli" --menus "127.0.0.1:$port" admin >"$work/menus"
icons=$(find "$KESTEL_HOME" -name icons.png -printf '%h\n' | head -n1)
[ -n "$icons" ] || echo "screenshots: the router sent no icon sheets" >&2

mkdir -p "$shots"
QT_QPA_PLATFORM=offscreen "$bin/src/kestel" --demo ${icons:+--icons "$icons"} --screenshots "$shots"
QT_QPA_PLATFORM=offscreen KESTEL_DISCOVERY=0 "$bin/src/kestel" --screenshots "$shots"
# The windows that need a router: the GUI tests write their shots while they run against the
# simulator, one test class at a time (as ctest runs them).
: >"$work/gui-tests"
for class in $("$bin/tests/gui_tests" --list-classes); do
  KESTEL_SHOTS_DIR=$(realpath "$shots") QT_QPA_PLATFORM=offscreen \
    QT_QPA_FONTDIR=/usr/share/fonts/truetype/dejavu "$bin/tests/gui_tests" "$class" >>"$work/gui-tests" 2>&1 ||
    { echo "screenshots: the GUI test $class failed:" >&2; tail -n 20 "$work/gui-tests" >&2; }
done
grep '\.png$' "$work/gui-tests" || true
echo "screenshots: written to $shots"
