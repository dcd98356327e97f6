#include <cstring>

#include "netio/NetIO.h"
#include "netio/oids.h"
#include "netio/snmpv3_exchange.h"

using netio::SocketAddress;

namespace {

void ClearDeviceId(void*) { memset(g_deviceid, 0, sizeof g_deviceid); }

bool TakeRecord(void* context) {
  // A later answer that does not decode must not spoil a record already good.
  PRINTER_STATUS scratch;
  CTavraCmd decoder;
  if (decoder.DecodStatusFromDeviceID(g_deviceid, &scratch) == -1) return false;
  *static_cast<PRINTER_STATUS*>(context) = scratch;
  return true;
}

bool ReadStatus(const SocketAddress& printer, PRINTER_STATUS* status) {
  const netio::Deadline deadline(netio::kReadBudget);
  const char* const oids[] = {netio::kDeviceIdOid.text};
  netio::PrinterRead read{oids, 1, outputDeviceIdValue};
  read.context = status;
  // Only this answer's own OCTET STRING may be decoded: a Report or another
  // value type must not pass an earlier text off as the printer's.
  read.beforeAnswer = ClearDeviceId;
  read.takeAnswer = TakeRecord;
  return netio::ReadPrinterV3(printer, read, deadline);
}

}  // namespace

bool CNetIO::NetworkReadStatusSNMPv3(const char*, const char* host, PRINTER_STATUS* status) {
  SocketAddress printer;
  if (!status || !netio::PrinterDestination(host, AF_UNSPEC, &printer)) return false;
  return ReadStatus(printer, status);
}

bool CNetIO::NetworkReadStatusV6SNMPv3(const char*, const char* host, PRINTER_STATUS* status) {
  SocketAddress printer;
  if (!status || !netio::PrinterDestination(host, AF_INET6, &printer)) return false;
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
