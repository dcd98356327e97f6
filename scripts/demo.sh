#!/usr/bin/env bash
# Installs what is needed, builds into build/, and shows usbink reading a
# simulated USB printer: a private print server (cupsd on a socket in a
# temporary directory) with one USB queue, and a stand-in supplyprobe that
# answers with the printer's device ID.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/private-cupsd.sh

scripts/install-deps.sh
# Same configuration as scripts/test.sh: the probe path lies in the build
# tree, where the stand-in that runs $USBINK_STANDIN_PROBE is placed.
cmake -S . -B build -DUSBINK_WERROR=ON -DSUPPLYPROBE_PATH="$PWD/build/standin/supplyprobe" >/dev/null
cmake --build build -j "$(nproc)" --target usbink

D=$(mktemp -d /tmp/usbink-demo-XXXXXX)
CUPSD_PID=""
cleanup() {
  [ -n "$CUPSD_PID" ] && kill "$CUPSD_PID" 2>/dev/null && wait "$CUPSD_PID" 2>/dev/null
  rm -rf "$D"
}
trap cleanup EXIT

start_private_cupsd "$D" usb socket
lpadmin -p DemoLaser -v 'usb://Acme/Laser%20100?serial=DEMO1' -m raw -E 2>/dev/null

# The printer's 108-byte status record: black toner at 75 % (0x4B), the rest zero.
field=$({ printf '\113'; head -c 107 /dev/zero; } | base64 -w0)
cat >"$D/printer" <<PRINTER
#!/bin/sh
printf '%s\n' 'MFG:Acme;CMD:PCL,PJL;MDL:Laser 100;CLS:PRINTER;STS:$field;'
PRINTER
chmod 755 "$D/printer"
export USBINK_STANDIN_PROBE="$D/printer"

echo "Queue DemoLaser -> $(lpstat -v DemoLaser)"
echo
echo "\$ build/bin/usbink DemoLaser"
status=0
build/bin/usbink DemoLaser || status=$?
echo
echo "(exit status $status)"
echo
echo "\$ LANG=C.UTF-8 LANGUAGE=de build/bin/usbink DemoLaser"
LC_ALL= LANG=C.UTF-8 LANGUAGE=de build/bin/usbink DemoLaser || true
echo

# A simulated network printer: net-snmp's snmpd serving the device-ID object
# over SNMPv1 on 127.0.0.1 (black toner at 60 %, 0x3C). It runs with usbink in
# a private network namespace, so port 161 and the traffic stay there; the
# print server is reached through its socket from inside as well.
lpadmin -p DemoNetLaser -v 'socket://127.0.0.1:9100' -m raw -E 2>/dev/null
field=$({ printf '\074'; head -c 107 /dev/zero; } | base64 -w0)
cat >"$D/snmpd.conf" <<CONF
agentAddress udp:127.0.0.1:161
rocommunity public default
override 1.3.6.1.4.1.40719.886.300.369.8531.1.1.0 octet_str "MFG:Acme;CMD:PCL,PJL;MDL:Laser 200;CLS:PRINTER;STS:$field;"
CONF
echo "Queue DemoNetLaser -> $(lpstat -v DemoNetLaser)"
echo
echo "\$ build/bin/usbink DemoNetLaser      # printer: snmpd on 127.0.0.1:161"
isolate=(unshare -n)
[ "$(id -u)" -eq 0 ] || isolate=(unshare -rn)
"${isolate[@]}" /bin/sh -c '
  ip link set lo up
  MIBS= SNMP_PERSISTENT_DIR="$1/persist" snmpd -f -Lo -C -c "$1/snmpd.conf" -p "$1/snmpd.pid" >"$1/snmpd.log" 2>&1 &
  agent=$!
  for _ in $(seq 100); do grep -q "NET-SNMP version" "$1/snmpd.log" && break; sleep 0.05; done
  status=0
  build/bin/usbink DemoNetLaser || status=$?
  kill "$agent"
  wait "$agent"
  printf "\n\n(exit status %s)\n" "$status"' sh "$D"
