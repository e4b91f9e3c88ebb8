#!/usr/bin/env bash
# Installs every build, test and benchmark dependency on Debian 12 with apt-get.
# Packages already present are skipped; nothing is downloaded outside Debian's archive.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build ccache pkg-config git
  clang clang-format libclang-rt-dev
  # product
  zlib1g-dev
  libsodium-dev # Ed25519 signatures of upgrade downloads
  # the desktop program: Qt 6 Widgets and Test, SVG for the program's own art, the offscreen and
  # X11 platform plugins, and a font so that windows drawn off screen show their texts
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins libgl-dev fonts-dejavu-core
  # tests and oracles
  libgtest-dev libgmock-dev libssl-dev nlohmann-json3-dev gzip libvterm-dev libpng-dev
  iproute2 # network namespaces for the discovery and link-layer tests
  # benchmarks and their peers
  libbenchmark-dev libprotobuf-dev protobuf-compiler rapidjson-dev libre2-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "install-deps: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
