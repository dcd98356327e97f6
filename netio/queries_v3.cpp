#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

#include "netio/NetIO.h"
#include "netio/ipv6_dest.h"
#include "netio/query_io.h"
#include "netio/snmpv3_exchange.h"

using netio::kFwVersionOid;
using netio::kMcuVersionOid;
using netio::kSysNameOid;
using netio::SocketAddress;

namespace {

const char* const kFactOids[] = {kSysNameOid, kFwVersionOid, kMcuVersionOid};
const int kFactCount = 3;
const uint16_t kSnmpPort = 161;

struct Facts {
  char* outputs[kFactCount];
  int outSize;
};

void ClearCapturedFacts() {
  memset(_sysNameValue, 0, sizeof _sysNameValue);
  memset(_pvtFwVerValue, 0, sizeof _pvtFwVerValue);
  memset(_pvtMcuVerValue, 0, sizeof _pvtMcuVerValue);
}

// Each fact this answer carried, in the order name, firmware, MCU; true when one was copied.
bool CopyCapturedFacts(const Facts& facts) {
  const char* const captured[] = {_sysNameValue, _pvtFwVerValue, _pvtMcuVerValue};
  bool copied = false;
  for (int i = 0; i < kFactCount; ++i) {
    if (captured[i][0] != '\0' && netio::CopyFitting(captured[i], facts.outputs[i], facts.outSize))
      copied = true;
  }
  return copied;
}

bool GetFacts(const SocketAddress& printer, const char* host, const Facts& facts) {
  netio::PrinterRead read;
  read.oids = kFactOids;
  read.count = kFactCount;
  read.callback = searchAgentProCallbackEx2;
  read.beforeReport = [] {
    EncodeCaptureOid(kSysNameOid, _sysNameOid, &_sysNameOidLen);
    EncodeCaptureOid(kFwVersionOid, _pvtFwVerOid, &_pvtFwVerOidLen);
    EncodeCaptureOid(kMcuVersionOid, _pvtMcuVerOid, &_pvtMcuVerOidLen);
    ClearCapturedFacts();
  };
  // Cleared per answer: one that lacks a fact must not repeat an earlier answer's.
  read.beforeAnswer = ClearCapturedFacts;
  read.takeAnswer = [&facts] { return CopyCapturedFacts(facts); };
  read.reportedHost = host;
  return netio::ReadPrinterV3(printer, read);
}

}  // namespace

bool CNetIO::NetSnmpGetV4SNMPv3(char const* host, char* name, char* fwVersion, char* mcuVersion,
                                int outSize) {
  SocketAddress printer{};
  printer.v4.sin_family = AF_INET;
  printer.v4.sin_port = FLIPWORD(kSnmpPort);
  if (!host || inet_pton(AF_INET, host, &printer.v4.sin_addr) != 1) return false;
  return GetFacts(printer, host, Facts{{name, fwVersion, mcuVersion}, outSize});
}

bool CNetIO::NetSnmpGetV6SNMPv3(char const* host, char* name, char* fwVersion, char* mcuVersion,
                                int outSize) {
  SocketAddress printer{};
  if (!netio::SnmpDestinationV6(host, scope_id, &printer.v6)) return false;
  return GetFacts(printer, host, Facts{{name, fwVersion, mcuVersion}, outSize});
}

int CNetIO::TavraNetworkGetNameAndFwAndMCUVersion(char const* host, char* name, char* fwVersion,
                                                  char* mcuVersion, int outSize) {
  const int family = netio::NumericFamily(host);
  if (family == 0) return -1;
  const bool found = family == AF_INET6
                         ? NetSnmpGetV6SNMPv3(host, name, fwVersion, mcuVersion, outSize)
                         : NetSnmpGetV4SNMPv3(host, name, fwVersion, mcuVersion, outSize);
  return found ? 0 : -1;
}
