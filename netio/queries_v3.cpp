#include <arpa/inet.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/discovery_io.h"
#include "netio/ipv6_dest.h"
#include "netio/query_io.h"

using netio::Diagnose;
using netio::SocketAddress;

namespace {

const char kSysNameOid[] = "1.3.6.1.2.1.1.5.0";
const char kFwVersionOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0";
const char kMcuVersionOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0";
const char* const kFactOids[] = {kSysNameOid, kFwVersionOid, kMcuVersionOid};
const int kFactCount = 3;
// RFC 3411 enterprise form (high bit set) for enterprise 2963, in wire order.
const unsigned char kEnginePrefix[] = {0x80, 0x00, 0x0B, 0x93};
const uint16_t kSnmpPort = 161;
const auto kSilence = std::chrono::seconds(1);
// A peer that never falls silent for a second still cannot hold a loop longer.
const auto kLoopCap = std::chrono::seconds(10);

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

// The authenticated request for the three facts, for one accepted Report.
bool AskForFacts(const SocketAddress& printer, _SNMP_PARAM_V3& params, const Facts& facts) {
  const bool v6 = printer.sa.sa_family == AF_INET6;
  netio::UdpSocket sock(printer.sa.sa_family);
  if (!sock.open()) return false;
  unsigned char request[kSnmpV3WorkSize];
  const int length = CNetIO::BuildSnmpV3RequestPacket(
      params.engineID, params.engineIDLen, params.engineBoots, params.engineTime, kFactCount,
      kFactOids, nullptr, nullptr, nullptr, params.userName, params.authPassword,
      params.privPassword, params.authKey, params.privKey, request);
  // A request that could not be built is never sent as an empty datagram.
  if (length <= 0 || sendto(sock.fd(), request, static_cast<size_t>(length), 0, &printer.sa,
                            netio::AddressLength(printer)) != length)
    return false;

  bool found = false;
  netio::PrinterAnswers answers(sock.fd(), printer, kSilence, kLoopCap);
  unsigned char answer[kSnmpV3WorkSize];
  for (;;) {
    memset(answer, 0, sizeof answer);
    const ssize_t n = answers.Next(answer, sizeof answer);
    if (n <= 0) return found;
    // Cleared per answer: one that lacks a fact must not repeat an earlier answer's.
    ClearCapturedFacts();
    params.valueCallback = searchAgentProCallbackEx2;
    if (!v6) Diagnose("parseSnmpV3Response begin\n");
    unsigned char errorStatus = 0xFF, errorIndex = 0;
    if (CNetIO::parseSnmpV3AuthenticatedResponse(answer, static_cast<int>(n), nullptr, nullptr,
                                                 &errorStatus, &errorIndex, &params) == 1 &&
        errorStatus == 0 && CopyCapturedFacts(facts))
      found = true;
  }
}

bool GetFacts(const SocketAddress& printer, const char* host, const Facts& facts) {
  const bool v6 = printer.sa.sa_family == AF_INET6;
  unsigned char request[kSnmpV3WorkSize];
  const int length =
      CNetIO::BuildSnmpV3GetEngineIdPacket(SNMPv3RequestID, SNMPv3MsgID, request, sizeof request);
  ++SNMPv3RequestID;
  ++SNMPv3MsgID;
  if (length <= 0) return false;

  netio::UdpSocket discovery(printer.sa.sa_family);
  if (!discovery.open()) return false;
  netio::SetDiscoveryOptions(discovery.fd(), false);
  if (!v6) Diagnose("ipv4=%s\n", host);
  const ssize_t sent = sendto(discovery.fd(), request, static_cast<size_t>(length), 0, &printer.sa,
                              netio::AddressLength(printer));
  if (!v6) Diagnose("sendto: nRet=%d\n", static_cast<int>(sent));
  if (sent < 1) {
    if (v6) netio::ReportErrno("[ipv6 BC] snedto failed");
    return false;
  }

  bool found = false;
  netio::PrinterAnswers reports(discovery.fd(), printer, kSilence, kLoopCap);
  unsigned char reply[kSnmpV3WorkSize];
  char text[INET6_ADDRSTRLEN];
  for (;;) {
    const ssize_t n = reports.Next(reply, sizeof reply);
    if (v6) Diagnose("[ipv6 BC] nRecv = %d", static_cast<int>(n));
    if (n <= 0) return found;
    if (!v6) {
      Diagnose("recvfrom nRecv = %d, szAddr=%s\n", static_cast<int>(n),
               netio::AddressText(printer, text, sizeof text));
    }
    EncodeCaptureOid(kSysNameOid, _sysNameOid, &_sysNameOidLen);
    EncodeCaptureOid(kFwVersionOid, _pvtFwVerOid, &_pvtFwVerOidLen);
    EncodeCaptureOid(kMcuVersionOid, _pvtMcuVerOid, &_pvtMcuVerOidLen);
    ClearCapturedFacts();
    _SNMP_PARAM_V3 params{};
    SnmpV3FillCredentials(&params);
    unsigned char errorStatus = 0xFF, errorIndex = 0;
    if (CNetIO::parseSnmpV3Response(reply, static_cast<int>(n), nullptr, nullptr, &errorStatus,
                                    &errorIndex, &params) != 1 ||
        errorStatus != 0 || params.engineIDLen < static_cast<int>(sizeof kEnginePrefix) ||
        memcmp(params.engineID, kEnginePrefix, sizeof kEnginePrefix) != 0)
      continue;
    if (AskForFacts(printer, params, facts)) found = true;
  }
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
