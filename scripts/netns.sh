#!/usr/bin/env bash
# Private network namespaces for the tests of neighbour discovery and the MAC-layer transport,
# whose broadcasts must never reach this machine's real interfaces. Every such test builds its
# network here and runs its programs through "exec", which refuses to run anything in a
# namespace that is the caller's own or that holds a link other than loopback, veth or bridge.
#
#   netns.sh check             exit 0 when namespaces can be made here, else say why and exit 77
#   netns.sh up <tag> <n>      client namespace <tag>-c (bridge br0: 198.18.0.1/24, 2001:db8::1/64)
#                              and n router namespaces <tag>-s<i>, each joined to the bridge by
#                              a veth pair (eth0: 198.18.0.<10+i>/24, 2001:db8::<10+i>/64)
#   netns.sh exec <ns> <cmd>   runs the command inside the namespace (after the checks above)
#   netns.sh links <ns>        prints "name kind" for each link of the namespace
#   netns.sh down <tag>        deletes the namespaces of the tag
#
# Needs root (CI runs as root) and iproute2. Addresses come from the benchmarking range
# 198.18.0.0/15 and the IPv6 documentation prefix; no route leads out of the namespaces.
set -euo pipefail

skip=77

die() {
  echo "netns.sh: $*" >&2
  exit 1
}

cmd_check() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "netns.sh: network namespaces need root; skipping" >&2
    exit $skip
  fi
  command -v ip >/dev/null || { echo "netns.sh: iproute2 (ip) is missing; skipping" >&2; exit $skip; }
  local probe="kestel-probe-$$"
  if ! ip netns add "$probe" 2>/dev/null; then
    echo "netns.sh: cannot create a network namespace here; skipping" >&2
    exit $skip
  fi
  local ok=0
  ip netns exec "$probe" ip link add p0 type veth peer name p1 2>/dev/null || ok=1
  ip netns del "$probe"
  if [ $ok -ne 0 ]; then
    echo "netns.sh: cannot create veth pairs here; skipping" >&2
    exit $skip
  fi
}

in_ns() {
  local ns=$1
  shift
  ip netns exec "$ns" "$@"
}

# Link-local addresses are usable at once instead of after duplicate detection: the namespaces
# are private, so no other host can hold the same address.
no_dad() {
  in_ns "$1" sysctl -qw net.ipv6.conf.default.accept_dad=0 net.ipv6.conf.all.accept_dad=0
}

cmd_up() {
  local tag=$1 n=$2
  [[ "$tag" =~ ^[a-z0-9-]{1,20}$ ]] || die "bad tag '$tag'"
  [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -le 200 ] || die "bad count '$n'"
  local client="$tag-c"
  ip netns add "$client"
  no_dad "$client"
  in_ns "$client" ip link set lo up
  in_ns "$client" ip link add br0 type bridge
  in_ns "$client" ip addr add 198.18.0.1/24 dev br0
  in_ns "$client" ip -6 addr add 2001:db8::1/64 dev br0 nodad
  in_ns "$client" ip link set br0 up
  local i
  for ((i = 1; i <= n; i++)); do
    local router="$tag-s$i"
    ip netns add "$router"
    no_dad "$router"
    in_ns "$router" ip link set lo up
    # Both ends are made inside the client namespace and one is moved: no link ever exists in
    # the caller's namespace.
    in_ns "$client" ip link add "p$i" type veth peer name eth0
    in_ns "$client" ip link set eth0 netns "$router"
    in_ns "$client" ip link set "p$i" master br0 up
    in_ns "$router" ip addr add "198.18.0.$((10 + i))/24" dev eth0
    in_ns "$router" ip -6 addr add "2001:db8::$(printf '%x' $((10 + i)))/64" dev eth0 nodad
    in_ns "$router" ip link set eth0 up
  done
}

cmd_links() {
  in_ns "$1" ip -o -d link show | awk -F': ' '{
    name = $2; sub(/@.*/, "", name)
    kind = "other"
    if ($0 ~ /LOOPBACK/) kind = "loopback"
    else if ($0 ~ / veth /) kind = "veth"
    else if ($0 ~ / bridge /) kind = "bridge"
    print name, kind
  }'
}

cmd_exec() {
  local ns=$1
  shift
  ip netns list | awk '{print $1}' | grep -qx -- "$ns" || die "no namespace '$ns'"
  [ "$(in_ns "$ns" readlink /proc/self/ns/net)" != "$(readlink /proc/self/ns/net)" ] ||
    die "'$ns' is this shell's own namespace"
  if cmd_links "$ns" | awk '$2 == "other" { bad = 1 } END { exit !bad }'; then
    die "'$ns' holds a link that is neither loopback, veth nor bridge; refusing to run"
  fi
  exec ip netns exec "$ns" "$@"
}

cmd_down() {
  local tag=$1
  [[ "$tag" =~ ^[a-z0-9-]{1,20}$ ]] || die "bad tag '$tag'"
  local ns
  for ns in $(ip netns list | awk '{print $1}' | grep -E "^$tag-(c|s[0-9]+)$" || true); do
    ip netns pids "$ns" 2>/dev/null | xargs -r kill 2>/dev/null || true
    ip netns del "$ns"
  done
}

case "${1:-}" in
check) cmd_check ;;
up) [ $# -eq 3 ] || die "usage: netns.sh up <tag> <n>"; cmd_up "$2" "$3" ;;
exec) [ $# -ge 3 ] || die "usage: netns.sh exec <ns> <command...>"; shift; cmd_exec "$@" ;;
links) [ $# -eq 2 ] || die "usage: netns.sh links <ns>"; cmd_links "$2" ;;
down) [ $# -eq 2 ] || die "usage: netns.sh down <tag>"; cmd_down "$2" ;;
*) die "usage: netns.sh check | up <tag> <n> | exec <ns> <command...> | links <ns> | down <tag>" ;;
esac
