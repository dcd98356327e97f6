#include "netio/fleet_accept.h"

#include <cstring>

namespace netio {

namespace {

// RFC 3411 enterprise form (high bit set) for enterprise 2963, in wire order.
const unsigned char kEnginePrefix[] = {0x80, 0x00, 0x0B, 0x93};

}  // namespace

bool FromPrinter(const SocketAddress& from, const SocketAddress& printer) {
  if (from.sa.sa_family != printer.sa.sa_family) return false;
  if (from.sa.sa_family == AF_INET)
    return from.v4.sin_port == printer.v4.sin_port &&
           from.v4.sin_addr.s_addr == printer.v4.sin_addr.s_addr;
  if (from.sa.sa_family != AF_INET6 || from.v6.sin6_port != printer.v6.sin6_port ||
      memcmp(&from.v6.sin6_addr, &printer.v6.sin6_addr, sizeof from.v6.sin6_addr) != 0)
    return false;
  return !IN6_IS_ADDR_LINKLOCAL(&printer.v6.sin6_addr) ||
         from.v6.sin6_scope_id == printer.v6.sin6_scope_id;
}

bool AcceptReport(unsigned char* datagram, ssize_t length, _SNMP_PARAM_V3* params) {
  *params = _SNMP_PARAM_V3{};
  SnmpV3FillCredentials(params);
  unsigned char errorStatus = 0xFF, errorIndex = 0;
  return CNetIO::parseSnmpV3Response(datagram, static_cast<int>(length), nullptr, nullptr,
                                     &errorStatus, &errorIndex, params) == 1 &&
         errorStatus == 0 && params->engineIDLen >= static_cast<int>(sizeof kEnginePrefix) &&
         memcmp(params->engineID, kEnginePrefix, sizeof kEnginePrefix) == 0;
}

bool AcceptAnswer(unsigned char* datagram, ssize_t length, uint16_t msgId, _SNMP_PARAM_V3* params,
                  SnmpValueCallback callback) {
  params->valueCallback = callback;
  unsigned char errorStatus = 0xFF, errorIndex = 0;
  return CNetIO::parseSnmpV3AnswerTo(msgId, datagram, static_cast<int>(length), &errorStatus,
                                     &errorIndex, params) == 1 &&
         errorStatus == 0;
}

}  // namespace netio
