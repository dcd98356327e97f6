#include "netio/snmpv3_exchange.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "netio/diagnostics.h"

namespace netio {

namespace {

// RFC 3411 enterprise form (high bit set) for enterprise 2963, in wire order.
const unsigned char kEnginePrefix[] = {0x80, 0x00, 0x0B, 0x93};

// The authenticated request for one accepted Report, and its answers.
bool AskPrinter(const SocketAddress& printer, _SNMP_PARAM_V3& params, const PrinterRead& read,
                bool reportSteps, const Deadline& deadline) {
  UdpSocket sock(printer.sa.sa_family);
  if (!sock.open()) return false;
  unsigned char request[kSnmpV3WorkSize];
  uint16_t msgId;
  const int length = BuildAuthenticatedGet(&params, read.count, read.oids, request, &msgId);
  if (!SendRequest(sock.fd(), request, length, printer)) return false;

  bool taken = false;
  ReceiveLoop answers(sock.fd(), deadline, kSnmpV3Silence, &printer);
  unsigned char answer[kSnmpV3WorkSize];
  for (;;) {
    memset(answer, 0, sizeof answer);
    const ssize_t n = answers.Next(answer, sizeof answer);
    if (n <= 0) return taken;
    if (read.beforeAnswer) read.beforeAnswer(read.context);
    if (reportSteps) Diagnose("parseSnmpV3Response begin\n");
    if (!AcceptedAnswer(answer, n, msgId, &params, read.callback)) {
      ReportRefusal(printer);
    } else if (!read.takeAnswer || read.takeAnswer(read.context)) {
      taken = true;
    } else {
      ReportRefusal(Refusal::kValue, printer);
    }
  }
}

}  // namespace

int BuildEngineDiscovery(unsigned char* out) {
  const int length =
      CNetIO::BuildSnmpV3GetEngineIdPacket(SNMPv3RequestID, SNMPv3MsgID, out, kSnmpV3WorkSize);
  ++SNMPv3RequestID;
  ++SNMPv3MsgID;
  return length;
}

bool AcceptedReport(unsigned char* datagram, ssize_t length, _SNMP_PARAM_V3* params) {
  *params = _SNMP_PARAM_V3{};
  SnmpV3FillCredentials(params);
  unsigned char errorStatus = 0xFF, errorIndex = 0;
  if (CNetIO::parseSnmpV3Response(datagram, static_cast<int>(length), nullptr, nullptr,
                                  &errorStatus, &errorIndex, params) != 1)
    return false;
  return (errorStatus == 0 && params->engineIDLen >= static_cast<int>(sizeof kEnginePrefix) &&
          memcmp(params->engineID, kEnginePrefix, sizeof kEnginePrefix) == 0) ||
         Refuse(Refusal::kEngine);
}

int BuildAuthenticatedGet(_SNMP_PARAM_V3* params, int count, const char* const* oids,
                          unsigned char* out, uint16_t* msgId) {
  *msgId = SNMPv3MsgID;
  return CNetIO::BuildSnmpV3RequestPacket(
      params->engineID, params->engineIDLen, params->engineBoots, params->engineTime, count, oids,
      nullptr, nullptr, nullptr, params->userName, params->authPassword, params->privPassword,
      params->authKey, params->privKey, out);
}

bool AcceptedAnswer(unsigned char* answer, ssize_t length, uint16_t msgId,
                    _SNMP_PARAM_V3* params, SnmpValueCallback callback) {
  params->valueCallback = callback;
  unsigned char errorStatus = 0xFF, errorIndex = 0;
  if (CNetIO::parseSnmpV3AnswerTo(msgId, answer, static_cast<int>(length), &errorStatus,
                                  &errorIndex, params) != 1)
    return false;
  return errorStatus == 0 || Refuse(Refusal::kValue);
}

bool ReadPrinterV3(const SocketAddress& printer, const PrinterRead& read,
                   const Deadline& deadline) {
  const bool v6 = printer.sa.sa_family == AF_INET6;
  const bool reportSteps = !v6 && read.reportedHost;
  unsigned char request[kSnmpV3WorkSize];
  const int length = BuildEngineDiscovery(request);
  if (length <= 0) return false;

  UdpSocket discovery(printer.sa.sa_family);
  if (!discovery.open()) return false;
  if (reportSteps) Diagnose("ipv4=%s\n", read.reportedHost);
  const ssize_t sent = sendto(discovery.fd(), request, static_cast<size_t>(length), 0, &printer.sa,
                              AddressLength(printer));
  if (reportSteps) Diagnose("sendto: nRet=%d\n", static_cast<int>(sent));
  if (sent < 1) {
    if (v6) Diagnose("[ipv6 BC] snedto failed: %s\n", strerror(errno));
    return false;
  }

  bool taken = false;
  ReceiveLoop reports(discovery.fd(), deadline, kSnmpV3Silence, &printer);
  unsigned char reply[kSnmpV3WorkSize];
  char text[INET6_ADDRSTRLEN];
  for (;;) {
    const ssize_t n = reports.Next(reply, sizeof reply);
    if (v6) Diagnose("[ipv6 BC] nRecv = %d", static_cast<int>(n));
    if (n <= 0) return taken;
    if (reportSteps) {
      Diagnose("recvfrom nRecv = %d, szAddr=%s\n", static_cast<int>(n),
               AddressText(printer, text, sizeof text));
    }
    if (read.beforeReport) read.beforeReport(read.context);
    _SNMP_PARAM_V3 params;
    if (!AcceptedReport(reply, n, &params)) {
      ReportRefusal(printer);
    } else if (AskPrinter(printer, params, read, reportSteps, deadline)) {
      taken = true;
    }
  }
}

}  // namespace netio
