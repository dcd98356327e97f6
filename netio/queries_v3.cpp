#include <cstring>

#include "netio/NetIO.h"
#include "netio/oids.h"
#include "netio/queries.h"
#include "netio/snmpv3_exchange.h"

using netio::SocketAddress;

namespace {

const char* const kFactOids[] = {netio::kSysNameOid.text, netio::kFwVersionOid.text,
                                 netio::kMcuVersionOid.text};
const int kFactCount = 3;

struct Facts {
  char* outputs[kFactCount];
  int outSize;
};

void ClearCapturedFacts(void*) {
  memset(_sysNameValue, 0, sizeof _sysNameValue);
  memset(_pvtFwVerValue, 0, sizeof _pvtFwVerValue);
  memset(_pvtMcuVerValue, 0, sizeof _pvtMcuVerValue);
}

void PrepareCapture(void* context) {
  EncodeCaptureOid(netio::kSysNameOid.text, _sysNameOid, &_sysNameOidLen);
  EncodeCaptureOid(netio::kFwVersionOid.text, _pvtFwVerOid, &_pvtFwVerOidLen);
  EncodeCaptureOid(netio::kMcuVersionOid.text, _pvtMcuVerOid, &_pvtMcuVerOidLen);
  ClearCapturedFacts(context);
}

// Each fact this answer carried, in the order name, firmware, MCU; true when one was copied.
bool CopyCapturedFacts(void* context) {
  const Facts& facts = *static_cast<const Facts*>(context);
  const char* const captured[] = {_sysNameValue, _pvtFwVerValue, _pvtMcuVerValue};
  bool copied = false;
  for (int i = 0; i < kFactCount; ++i) {
    if (captured[i][0] != '\0' && netio::CopyFitting(captured[i], facts.outputs[i], facts.outSize))
      copied = true;
  }
  return copied;
}

bool GetFacts(const SocketAddress& printer, const char* host, Facts facts) {
  const netio::Deadline deadline(netio::kReadBudget);
  netio::PrinterRead read{kFactOids, kFactCount, searchAgentProCallbackEx2};
  read.context = &facts;
  read.beforeReport = PrepareCapture;
  // Cleared per answer: one that lacks a fact must not repeat an earlier answer's.
  read.beforeAnswer = ClearCapturedFacts;
  read.takeAnswer = CopyCapturedFacts;
  read.reportedHost = host;
  return netio::ReadPrinterV3(printer, read, deadline);
}

}  // namespace

bool CNetIO::NetSnmpGetV4SNMPv3(char const* host, char* name, char* fwVersion, char* mcuVersion,
                                int outSize) {
  SocketAddress printer;
  if (!netio::PrinterDestination(host, AF_INET, &printer)) return false;
  return GetFacts(printer, host, Facts{{name, fwVersion, mcuVersion}, outSize});
}

bool CNetIO::NetSnmpGetV6SNMPv3(char const* host, char* name, char* fwVersion, char* mcuVersion,
                                int outSize) {
  SocketAddress printer;
  if (!netio::PrinterDestination(host, AF_INET6, &printer)) return false;
  return GetFacts(printer, host, Facts{{name, fwVersion, mcuVersion}, outSize});
}

int CNetIO::TavraNetworkGetNameAndFwAndMCUVersion(char const* host, char* name, char* fwVersion,
                                                  char* mcuVersion, int outSize) {
  SocketAddress printer;
  if (!netio::PrinterDestination(host, AF_UNSPEC, &printer, true)) return -1;
  const bool found = printer.sa.sa_family == AF_INET6
                         ? NetSnmpGetV6SNMPv3(host, name, fwVersion, mcuVersion, outSize)
                         : NetSnmpGetV4SNMPv3(host, name, fwVersion, mcuVersion, outSize);
  return found ? 0 : -1;
}
