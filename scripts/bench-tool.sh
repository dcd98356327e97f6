#!/usr/bin/env bash
# Times the whole tool on a queue whose printer (net-snmp snmpd) answers
# SNMPv1 on loopback, beside net-snmp's own snmpget for the same object on
# the same agent, and compares peak memory. Runs in a private network
# namespace (root), so the agent's port 161 and its traffic stay private.
#   scripts/bench-tool.sh [BUILD_DIR]   (default: build)
# Two further rows split the tool's time: "start" runs it without argument
# (process start and libraries only), "lookup" on a queue whose URI names no
# printer address (adds the print-system lookup); the rest is SNMP.
# hyperfine times each command in a block of its own, so run this on an
# otherwise idle machine: load that comes and goes skews the comparison.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/private-cupsd.sh
. scripts/lib/private-snmpd.sh

build=${1:-build}
tool=$(realpath "$build/bin/usbink")
[ -x "$tool" ] || { echo "no $tool: build first (cmake -S . -B $build && cmake --build $build)" >&2; exit 1; }
runs=${BENCH_RUNS:-300}

if [ "${USBINK_BENCH_ISOLATED:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "needs root for a private network namespace" >&2; exit 1; }
  exec env USBINK_BENCH_ISOLATED=1 unshare -n "$0" "$@"
fi
ip link set lo up

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

oid=$PRIVATE_SNMPD_DEVICE_ID_OID
# 108-byte record: level 75, then bytes 1..107.
sts=$(python3 -c 'import base64; print(base64.b64encode(bytes([75] + list(range(1, 108)))).decode())')
write_private_snmpd_conf "$work/snmp" --address udp:127.0.0.1:161 --device-id "MFG:Acme;CMD:PCL;STS:$sts;"
start_private_snmpd "$work/snmp" || exit 1
pids+=("$SNMPD_PID")
export MIBS= SNMP_PERSISTENT_DIR="$work/persist"

start_private_cupsd "$work/cups" socket http
pids+=("$CUPSD_PID")

lpadmin -p Bench -v socket://127.0.0.1:9100 -m raw -E 2>/dev/null
lpadmin -p NoAddress -v http://127.0.0.1/ -m raw -E 2>/dev/null

snmpget=(snmpget -v1 -c public -m '' 127.0.0.1 "$oid")
"${snmpget[@]}" >/dev/null || { echo "snmpget got no answer" >&2; exit 1; }
report=$("$tool" Bench) || { echo "usbink got no answer (exit $?)" >&2; exit 1; }
echo "usbink Bench: $report"
echo

# -i: the two split rows end with status 255 and 1 by design.
hyperfine -N -i --warmup 20 --runs "$runs" --export-json "$work/times.json" \
  -n snmpget "${snmpget[*]}" \
  -n usbink "$tool Bench" \
  -n "usbink start" "$tool" \
  -n "usbink lookup" "$tool NoAddress" >/dev/null

peak_kib() {  # median of 21 runs of the command's peak RSS
  for _ in $(seq 21); do /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; done | sort -n | sed -n 11p
}
snmpget_rss=$(peak_kib "${snmpget[@]}")
usbink_rss=$(peak_kib "$tool" Bench)

python3 - "$work/times.json" "$snmpget_rss" "$usbink_rss" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
ms = {name: r["median"] * 1000 for name, r in results.items()}
for name, r in results.items():
    print(f"{name:14s} median {ms[name]:6.2f} ms  (min {r['min'] * 1000:.2f}, max {r['max'] * 1000:.2f}, {len(r['times'])} runs)")
print()
print(f"process start      {ms['usbink start']:6.2f} ms")
print(f"print-system lookup {ms['usbink lookup'] - ms['usbink start']:5.2f} ms")
print(f"SNMP read          {ms['usbink'] - ms['usbink lookup']:6.2f} ms")
ratio = ms["usbink"] / ms["snmpget"]
snmpget_rss, usbink_rss = int(sys.argv[2]), int(sys.argv[3])
print()
print(f"wall time: usbink / snmpget = {ratio:.2f} (target <= 2)  {'ok' if ratio <= 2 else 'OVER'}")
print(f"peak RSS:  usbink {usbink_rss} KiB, snmpget {snmpget_rss} KiB (target usbink <= snmpget)  "
      f"{'ok' if usbink_rss <= snmpget_rss else 'OVER'}")
PY
