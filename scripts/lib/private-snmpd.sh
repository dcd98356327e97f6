# Sourced (by scripts and by tests/env/Snmpd). A printer
# played by net-snmp's snmpd, its files in DIR, never the machine's agent.
# write_private_snmpd_conf DIR [OPTION...] writes DIR/snmpd.conf:
#   --address LIST       agentAddress (default udp:0.0.0.0:161,udp6:[::]:161;
#                        "" for none: start_private_snmpd's LISTEN arguments)
#   --no-v1              no rocommunity/rocommunity6 lines (SNMPv3 only)
#   --community NAME     (default public)
#   --engine-id HEX      exactEngineID 0xHEX (default: snmpd's own)
#   --user NAME AUTH PRIV  an MD5 user, DES unless PRIV is "" (repeatable)
#   --sys-object-id OID  (default 1.3.6.1.4.1.40719.886.1)
#   --sys-name NAME      (default usbink-printer)
#   --device-id TEXT     served at the device-ID object
#   --line TEXT          a further line (repeatable)
# start_private_snmpd DIR [LISTEN...]: snmpd in the foreground on that file
# (and the LISTEN addresses), logging to DIR/snmpd.log; sets SNMPD_PID and
# returns once the log says "NET-SNMP version" (at most 10 s).
PRIVATE_SNMPD_DEVICE_ID_OID=1.3.6.1.4.1.40719.886.300.369.8531.1.1.0

write_private_snmpd_conf() {
  local d=$1 address='udp:0.0.0.0:161,udp6:[::]:161' v1=yes community=public engine=
  local object=1.3.6.1.4.1.40719.886.1 name=usbink-printer id= users=() lines=()
  shift
  while [ $# -gt 0 ]; do
    case $1 in
      --address) address=$2; shift 2 ;;
      --no-v1) v1=; shift ;;
      --community) community=$2; shift 2 ;;
      --engine-id) engine=$2; shift 2 ;;
      --user) users+=("$2" "$3" "$4"); shift 4 ;;
      --sys-object-id) object=$2; shift 2 ;;
      --sys-name) name=$2; shift 2 ;;
      --device-id) id=$2; shift 2 ;;
      --line) lines+=("$2"); shift 2 ;;
      *) echo "write_private_snmpd_conf: unknown option $1" >&2; return 2 ;;
    esac
  done
  mkdir -p "$d/persist"
  {
    [ -z "$address" ] || echo "agentAddress $address"
    [ -z "$v1" ] || printf 'rocommunity %s default\nrocommunity6 %s default\n' "$community" "$community"
    [ -z "$engine" ] || echo "exactEngineID 0x$engine"
    local i
    for ((i = 0; i < ${#users[@]}; i += 3)); do
      if [ -n "${users[i + 2]}" ]; then
        printf 'createUser %s MD5 "%s" DES "%s"\nrouser %s priv\n' "${users[i]}" "${users[i + 1]}" \
          "${users[i + 2]}" "${users[i]}"
      else
        printf 'createUser %s MD5 "%s"\nrouser %s auth\n' "${users[i]}" "${users[i + 1]}" "${users[i]}"
      fi
    done
    echo "sysObjectID $object"
    echo "sysName $name"
    [ -z "$id" ] || echo "override $PRIVATE_SNMPD_DEVICE_ID_OID octet_str \"$id\""
    [ ${#lines[@]} -eq 0 ] || printf '%s\n' "${lines[@]}"
  } >"$d/snmpd.conf"
}

start_private_snmpd() {
  local d=$1 _
  shift
  MIBS= SNMP_PERSISTENT_DIR="$d/persist" snmpd -f -Lo -C -c "$d/snmpd.conf" -p "$d/snmpd.pid" \
    "$@" >"$d/snmpd.log" 2>&1 &
  SNMPD_PID=$!
  for _ in $(seq 200); do
    grep -q "NET-SNMP version" "$d/snmpd.log" 2>/dev/null && return 0
    kill -0 "$SNMPD_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "private snmpd did not start; see $d/snmpd.log" >&2
  return 1
}
