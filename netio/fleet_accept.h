// The fleet reader's per-datagram acceptance, the same tests a single read
// makes: whose datagram it is, and whether a Report or an answer counts.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "netio/NetIO.h"
#include "netio/address.h"

namespace netio {

// The printer's own datagram: its address, its port, and for a link-local
// IPv6 address the same scope, since fe80::1 on another link is another host.
bool FromPrinter(const SocketAddress& from, const SocketAddress& printer);

// A Report of an engine of the accepted form (80 00 0B 93 ...): `params` is
// cleared, given the credentials and left with the engine ID, boots and time.
bool AcceptReport(unsigned char* datagram, ssize_t length, _SNMP_PARAM_V3* params);

// An authenticated answer without an error status to the request sent with
// `msgId`; its bindings went to `callback`.
bool AcceptAnswer(unsigned char* datagram, ssize_t length, uint16_t msgId, _SNMP_PARAM_V3* params,
                  SnmpValueCallback callback);

}  // namespace netio
