#!/usr/bin/env bash
# Times `netio status --from` over a fleet of printer addresses (1,000 by
# default, FLEET_COUNT) in a private network namespace of its own: the
# addresses sit on the namespace's loopback and net-snmp's snmpd answers:
# SNMPv1 on all of them (udp:0.0.0.0:161), then SNMPv1 on one half and an
# SNMPv3-only snmpd on the other, then SNMPv3 only on all. (snmpd does not set
# SO_REUSEADDR: a second one cannot bind addresses beside a wildcard one, so
# the mixed fleet has each half name its addresses.) Beside them, the same
# reads by snmpget under xargs -P 16. Root. Usage: scripts/bench-fleet.sh [BUILD_DIR]  (default build/)
set -euo pipefail
. "$(dirname "$0")/lib/private-snmpd.sh"

build=$(cd "${1:-build}" && pwd)
netio=$build/bin/netio
count=${FLEET_COUNT:-1000}
[ "$(id -u)" -eq 0 ] || { echo "bench-fleet: needs root (network namespace)" >&2; exit 1; }
[ -x "$netio" ] || { echo "bench-fleet: no $netio; build first" >&2; exit 1; }

# Everything below runs in a namespace that ends with the script.
if [ -z "${BENCH_FLEET_NS:-}" ]; then
  exec unshare -n env BENCH_FLEET_NS=1 "$0" "$build"
fi

oid=$PRIVATE_SNMPD_DEVICE_ID_OID
cache=$build/CMakeCache.txt
setting() { sed -n "s/^$1:STRING=//p" "$cache"; }
user=$(setting SNMPV3_USER)
auth=$(setting SNMPV3_AUTH_PASSWORD)
priv=$(setting SNMPV3_PRIV_PASSWORD)

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
for ((i = 0; i < count; i++)); do
  echo "10.77.$((i / 250)).$((i % 250 + 1))"
done >"$work/all.txt"
sed 's|.*|address add &/32 dev lo|' "$work/all.txt" >"$work/batch"
ip -batch "$work/batch"
awk 'NR % 2 == 1' "$work/all.txt" >"$work/odd.txt"
awk 'NR % 2 == 0' "$work/all.txt" >"$work/even.txt"

# A 108-octet status record whose first octet says 42 %.
sts=$(python3 -c 'import base64; print(base64.b64encode(bytes([42] + list(range(1, 108)))).decode())')

# start_snmpd NAME V1 ADDRESSES_FILE|"": the scripts' private snmpd, on all
# addresses or those listed.
start_snmpd() {
  local name=$1 dir=$work/$1 options=() listen=()
  [ "$2" = yes ] || options+=(--no-v1)
  [ -z "$3" ] || { options+=(--address ""); mapfile -t listen < <(sed 's|.*|udp:&:161|' "$3"); }
  # One agent plays a thousand printers: room for their bursts, no log line per request.
  write_private_snmpd_conf "$dir" --address udp:0.0.0.0:161 "${options[@]}" \
    --engine-id "80000B9303000000000000$(printf %04X $RANDOM)" --user "$user" "$auth" "$priv" \
    --device-id "MFG:Acme;CMD:PCL;STS:$sts;" \
    --line "[snmp] serverRecvBuf 4194304" --line "dontLogTCPWrappersConnects yes"
  start_private_snmpd "$dir" "${listen[@]}" || { echo "bench-fleet: snmpd $name did not start" >&2; exit 1; }
  pids+=("$SNMPD_PID")
  eval "pid_$name=$SNMPD_PID"
}

stop_snmpd() {
  local var=pid_$1
  kill "${!var}"
  wait "${!var}" 2>/dev/null || true
}

# row LABEL COMMAND...: wall, CPU per printer, peak RSS, and how many answered.
row() {
  local label=$1 wall user sys rss answered v3
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >"$work/out" 2>/dev/null || true
  read -r wall user sys rss < <(tail -n 1 "$work/time")
  answered=$(grep -c "black\|STRING" "$work/out" || true)
  v3=$(grep -c "SNMPv3" "$work/out" || true)
  printf "| %-34s | %7.2f s | %8.3f ms | %6.1f MiB | %5d / %d | %5d |\n" "$label" "$wall" \
    "$(echo "($user + $sys) * 1000 / $count" | bc -l)" "$(echo "$rss / 1024" | bc -l)" \
    "$answered" "$count" "$v3"
}

snmpget_v1() { xargs -P 16 -I{} snmpget -v1 -c public -m '' -t 1 -r 0 {} "$oid" <"$work/all.txt"; }
snmpget_v3() {
  xargs -P 16 -I{} snmpget -v3 -l authPriv -u "$user" -a MD5 -A "$auth" -x DES -X "$priv" \
    -m '' -t 1 -r 0 {} "$oid" <"$work/all.txt"
}
export -f snmpget_v1 snmpget_v3
export work oid user auth priv
export SNMP_PERSISTENT_DIR=$work/client MIBS=

printf "| %-34s |    wall   | CPU/printer |  peak RSS  |  answered   | SNMPv3 |\n" "run ($count addresses)"
echo "|------------------------------------|-----------|-------------|------------|-------------|-------|"
start_snmpd v1 yes ""
# One snmpd answers about 5,000 requests a second: 256 printers' three copies
# each outlast the 50 ms SNMPv1 window there, as they would not at 256 printers.
row "netio --parallel 64, SNMPv1 fleet" "$netio" status --from "$work/all.txt" --parallel 64
row "netio (256), SNMPv1 fleet" "$netio" status --from "$work/all.txt"
row "snmpget -v1, xargs -P 16" bash -c snmpget_v1
stop_snmpd v1
start_snmpd odd yes "$work/odd.txt"
start_snmpd even no "$work/even.txt"
row "netio, half SNMPv1, half SNMPv3" "$netio" status --from "$work/all.txt" --parallel "$count"
stop_snmpd odd
stop_snmpd even
start_snmpd v3 no ""
row "netio, SNMPv3 fleet" "$netio" status --from "$work/all.txt" --parallel "$count"
row "snmpget -v3, xargs -P 16" bash -c snmpget_v3
