#!/usr/bin/env bash
# Installs every Debian package the build, the demo and the tests need.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libcups2-dev cups-daemon cups-client
  libavutil-dev libavahi-client-dev avahi-daemon avahi-utils dbus-daemon
  snmpd snmp
  gettext iproute2 util-linux python3
  clang libclang-rt-14-dev llvm
  libssl-dev hyperfine time bc
  libusb-1.0-0-dev umockdev libumockdev-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# Daemons are started by the tests themselves, never as system services.
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
