#!/usr/bin/env bash
# Installs the Debian package in a fresh Debian 12 root and runs the programs' --help there:
#   scripts/package-test.sh [build/package/kestel_3.43_amd64.deb]
# Makes the root with mmdebstrap (minbase, plus only the packages the .deb declares it needs),
# installs the .deb with dpkg -i, checks what it put where, runs kestel-cli --help,
# kestel --help and nimbalux-sim --help in it, logs in to the installed simulator and checks a
# crash report of the installed kestel-cli. Needs root (or unshare for mmdebstrap's own
# mode) and the Debian mirror; it is not part of the test suite for that reason.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=${1:-$(ls build/package/kestel_*.deb 2>/dev/null | tail -n 1)}
[ -f "$deb" ] || { echo "package-test: no package; run scripts/package.sh first" >&2; exit 2; }
command -v mmdebstrap >/dev/null || { echo "package-test: needs mmdebstrap (apt-get install mmdebstrap)" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "package-test: run as root (chroot)" >&2; exit 2; }

root=$(mktemp -d /tmp/kestel-root.XXXXXX)
cleanup() {
  umount -R "$root/proc" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT

# The package's dependencies, without version constraints: "a (>= 1), b | c" -> "a,b".
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed -E 's/\|.*//; s/\(.*\)//; s/ //g' |
  grep -v '^$' | paste -sd, -)
echo "package-test: making a Debian 12 root with: $depends"
mmdebstrap --quiet --variant=minbase --include="$depends,binutils" bookworm "$root"

cp "$deb" "$root/tmp/kestel.deb"
mount -t proc proc "$root/proc"
chroot "$root" dpkg -i /tmp/kestel.deb

fail=0
check() {
  if ! "$@"; then
    echo "package-test: FAILED: $*" >&2
    fail=1
  fi
}
for path in /usr/bin/kestel /usr/bin/kestel-cli /usr/bin/nimbalux-sim \
  /usr/share/applications/kestel.desktop /usr/share/icons/hicolor/scalable/apps/kestel.svg \
  /usr/share/icons/hicolor/48x48/apps/kestel.png /usr/share/icons/hicolor/256x256/apps/kestel.png \
  /usr/share/man/man1/kestel.1.gz /usr/share/man/man1/kestel-cli.1.gz \
  /usr/share/man/man1/nimbalux-sim.1.gz /usr/share/bash-completion/completions/kestel-cli \
  /usr/share/nimbalux-sim/sample/nimblux.jg; do
  check test -e "$root$path"
done
check chroot "$root" kestel-cli --help
check chroot "$root" kestel --help
check chroot "$root" nimbalux-sim --help
check chroot "$root" bash -n /usr/share/bash-completion/completions/kestel-cli
# The installed simulator starts with its sample router and the client logs in to it, on the
# root's loopback.
check chroot "$root" sh -c '
  mkfifo /tmp/port
  nimbalux-sim --port 0 --user admin:secret > /tmp/port & sim=$!
  read port < /tmp/port
  KESTEL_PASSWORD=secret KESTEL_HOME=/tmp/home kestel-cli 127.0.0.1:$port admin
  code=$?; kill $sim; exit $code'
# The installed command line's crash report: killed in the middle of a terminal session it
# reports to its log and to the simulator, with function names from its symbol table (addr2line
# comes with binutils, which the root has for this).
check chroot "$root" bash -c '
  set -e
  rm -f /tmp/port /tmp/in /tmp/screen /tmp/simerr /tmp/crashes
  mkfifo /tmp/port /tmp/in /tmp/screen /tmp/simerr
  # Read-write opens: nobody waits for a peer, and no end of file or broken pipe comes early.
  exec 3<>/tmp/in 4<>/tmp/screen 5<>/tmp/simerr
  nimbalux-sim --port 0 --user admin:secret --crash-reports /tmp/crashes >/tmp/port 2>&5 &
  sim=$!
  read port </tmp/port
  KESTEL_PASSWORD=secret KESTEL_HOME=/tmp/home \
    kestel-cli terminal --timeout 600 127.0.0.1:$port admin <&3 >&4 &
  cli=$!
  head -c 1 <&4 >/dev/null # the console answered: the session is up
  kill -SEGV $cli
  wait $cli || true
  timeout 60 grep -m 1 -q "crash report from" <&5
  kill $sim
  grep -q "^UNKNOWN EXCEPTION SIGSEGV SI_USER at address: " /tmp/home/kestel.log
  grep -q "kestel-cli+0x[0-9a-f]* .*PollReactor::run" /tmp/home/kestel.log
  grep -q "^UNKNOWN EXCEPTION SIGSEGV SI_USER at address: " /tmp/crashes'

[ $fail -eq 0 ] && echo "package-test: the package installs and runs on a fresh Debian 12"
exit $fail
