#!/usr/bin/env bash
# Installs what is needed, builds into build/, and shows usbink reading a
# simulated USB printer through the real supplyprobe: a private print server
# (cupsd on a socket in a temporary directory) with one USB queue whose URI
# `supplyprobe --list` wrote, and umockdev playing the printer.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/private-cupsd.sh
. scripts/lib/private-snmpd.sh

scripts/install-deps.sh
# Same configuration as scripts/test.sh: the probe path lies in the build
# tree, where the stand-in that runs $USBINK_STANDIN_PROBE is placed; here it
# names the real build/bin/supplyprobe.
cmake -S . -B build -DUSBINK_WERROR=ON -DSUPPLYPROBE_PATH="$PWD/build/standin/supplyprobe" >/dev/null
cmake --build build -j "$(nproc)" --target usbink supplyprobe usb-printer-sim

D=$(mktemp -d /tmp/usbink-demo-XXXXXX)
CUPSD_PID=""
cleanup() {
  [ -n "$CUPSD_PID" ] && kill "$CUPSD_PID" 2>/dev/null && wait "$CUPSD_PID" 2>/dev/null
  rm -rf "$D"
}
trap cleanup EXIT

start_private_cupsd "$D" usb socket
export USBINK_STANDIN_PROBE="$PWD/build/bin/supplyprobe"

# The printer's 108-byte status record: black toner at 75 % (0x4B), the rest zero.
field=$({ printf '\113'; head -c 107 /dev/zero; } | base64 -w0)
# usb-printer-sim keeps the simulated printer plugged in while the shell runs;
# the umockdev preload in its environment reaches supplyprobe through usbink.
build/tests/usb-printer-sim --serial DEMO1 --id "MFG:Acme;CMD:PCL,PJL;MDL:Laser 100;CLS:PRINTER;STS:$field;" -- /bin/sh -c '
  echo "\$ build/bin/supplyprobe --list"
  build/bin/supplyprobe --list >"$1/list"
  cat "$1/list"
  lpadmin -p DemoLaser -v "$(cut -f1 "$1/list" | head -n1)" -m raw -E 2>/dev/null
  echo
  echo "Queue DemoLaser -> $(lpstat -v DemoLaser)"
  echo
  echo "\$ build/bin/usbink DemoLaser"
  status=0
  build/bin/usbink DemoLaser || status=$?
  printf "\n\n(exit status %s)\n\n" "$status"
  echo "\$ LANG=C.UTF-8 LANGUAGE=de build/bin/usbink DemoLaser"
  LC_ALL= LANG=C.UTF-8 LANGUAGE=de build/bin/usbink DemoLaser || true
  printf "\n\n"' sh "$D"

# A simulated network printer: net-snmp's snmpd serving the device-ID object
# over SNMPv1 on 127.0.0.1 (black toner at 60 %, 0x3C). It runs with usbink in
# a private network namespace, so port 161 and the traffic stay there; the
# print server is reached through its socket from inside as well.
lpadmin -p DemoNetLaser -v 'socket://127.0.0.1:9100' -m raw -E 2>/dev/null
field=$({ printf '\074'; head -c 107 /dev/zero; } | base64 -w0)
write_private_snmpd_conf "$D/snmp" --address udp:127.0.0.1:161 \
  --device-id "MFG:Acme;CMD:PCL,PJL;MDL:Laser 200;CLS:PRINTER;STS:$field;"
echo "Queue DemoNetLaser -> $(lpstat -v DemoNetLaser)"
echo
echo "\$ build/bin/usbink DemoNetLaser      # printer: snmpd on 127.0.0.1:161"
isolate=(unshare -n)
[ "$(id -u)" -eq 0 ] || isolate=(unshare -rn)
"${isolate[@]}" bash -c '
  . scripts/lib/private-snmpd.sh
  ip link set lo up
  start_private_snmpd "$1/snmp" || exit 1
  agent=$SNMPD_PID
  status=0
  build/bin/usbink DemoNetLaser || status=$?
  kill "$agent"
  wait "$agent"
  printf "\n\n(exit status %s)\n" "$status"' sh "$D"
