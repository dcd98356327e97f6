// The IPv6 destination of the status reads: a numeric address text that may
// carry a zone ("fe80::1%eth0", "fe80::1%2"), as the tool's address lists do
// for link-local printers.
#pragma once

#include <netinet/in.h>

namespace netio {

// `to` becomes `host` at UDP port 161. Its scope id is `scope` when that is
// positive (an interface chosen by discovery), else the zone's interface
// index, else 0. False for anything but a numeric IPv6 text, and for a zone
// that names no interface here.
bool SnmpDestinationV6(const char* host, int scope, sockaddr_in6* to);

}  // namespace netio
