#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

#include "netio/NetIO.h"
#include "netio/ipv6_dest.h"
#include "netio/query_io.h"
#include "netio/snmpv3_exchange.h"

using netio::SocketAddress;

namespace {

const char kDeviceIdOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0";
const uint16_t kSnmpPort = 161;

bool ReadStatus(const SocketAddress& printer, PRINTER_STATUS* status) {
  const char* const oids[] = {kDeviceIdOid};
  netio::PrinterRead read;
  read.oids = oids;
  read.count = 1;
  read.callback = outputDeviceIdValue;
  // Only this answer's own OCTET STRING may be decoded: a Report or another
  // value type must not pass an earlier text off as the printer's.
  read.beforeAnswer = [] { memset(g_deviceid, 0, sizeof g_deviceid); };
  read.takeAnswer = [status] {
    // A later answer that does not decode must not spoil a record already good.
    PRINTER_STATUS scratch;
    CTavraCmd decoder;
    if (decoder.DecodStatusFromDeviceID(g_deviceid, &scratch) == -1) return false;
    *status = scratch;
    return true;
  };
  return netio::ReadPrinterV3(printer, read);
}

}  // namespace

bool CNetIO::NetworkReadStatusSNMPv3(const char* community, const char* host,
                                     PRINTER_STATUS* status) {
  // The SNMPv3 read reports nothing of a text it cannot take.
  const int family = netio::NumericFamily(host, false);
  if (family == 0 || !status) return false;
  if (family == AF_INET6) return NetworkReadStatusV6SNMPv3(community, host, status);

  SocketAddress printer{};
  printer.v4.sin_family = AF_INET;
  printer.v4.sin_port = FLIPWORD(kSnmpPort);
  if (inet_pton(AF_INET, host, &printer.v4.sin_addr) != 1) return false;
  return ReadStatus(printer, status);
}

bool CNetIO::NetworkReadStatusV6SNMPv3(const char*, const char* host, PRINTER_STATUS* status) {
  SocketAddress printer{};
  if (!status || !netio::SnmpDestinationV6(host, scope_id, &printer.v6)) return false;
  return ReadStatus(printer, status);
}

int NetworkReadStatusSNMPv3(char const* community, char const* host, PRINTER_STATUS* status) {
  CNetIO netio;
  return netio.NetworkReadStatusSNMPv3(community, host, status) ? 1 : 0;
}

int NetworkReadStatusV6SNMPv3(char const* community, char const* host, PRINTER_STATUS* status) {
  CNetIO netio;
  return netio.NetworkReadStatusV6SNMPv3(community, host, status) ? 1 : 0;
}
