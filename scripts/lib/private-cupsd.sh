# Sourced (by scripts and by tests/env/Cupsd). start_private_cupsd DIR
# SCHEME...: a print server of our own in DIR, on a socket there, never the
# machine's. Sets CUPSD_PID and exports CUPS_SERVER; returns once the server
# answers. write_private_cupsd_conf DIR SCHEME... only writes its files.
# cupsd accepts a device URI only when its scheme has a backend, so each
# SCHEME gets an `exit 0` stub.
write_private_cupsd_conf() {
  local d=$1
  shift
  mkdir -p "$d"/{spool,tmp,cache,state,log,bin/filter,bin/backend}
  local scheme
  for scheme in "$@"; do
    printf '#!/bin/sh\nexit 0\n' >"$d/bin/backend/$scheme"
    chmod 755 "$d/bin/backend/$scheme"
  done
  cat >"$d/cups-files.conf" <<CONF
ServerRoot $d
RequestRoot $d/spool
TempDir $d/tmp
CacheDir $d/cache
StateDir $d/state
ServerBin $d/bin
AccessLog $d/log/access_log
ErrorLog $d/log/error_log
PageLog $d/log/page_log
Printcap $d/printcap
SystemGroup root
CONF
  cat >"$d/cupsd.conf" <<CONF
Listen $d/cups.sock
Browsing No
DefaultAuthType None
LogLevel warn
<Location />
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
}

start_private_cupsd() {
  local d=$1
  write_private_cupsd_conf "$@"
  cupsd -f -c "$d/cupsd.conf" -s "$d/cups-files.conf" >"$d/cupsd.log" 2>&1 &
  CUPSD_PID=$!
  export CUPS_SERVER="$d/cups.sock"
  local _
  for _ in $(seq 100); do
    lpstat -r 2>/dev/null | grep -q "is running" && return 0
    sleep 0.05
  done
  echo "private cupsd did not start; see $d/cupsd.log" >&2
  return 1
}
