#include <cerrno>
#include <cstring>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/exchange.h"
#include "netio/oids.h"
#include "netio/queries.h"

using netio::Diagnose;
using netio::SocketAddress;

namespace {

const char kCommunity[] = "public";
const size_t kRequestArea = 256;
const size_t kReceiveSize = 256;
const int kCopies = 3;
const auto kSendPause = std::chrono::microseconds(30);
// One answer, awaited for at most a second.
const auto kAnswerWait = std::chrono::seconds(1);

// Three copies of the GetRequest, one answer; its value text goes to `out`.
bool Get(const SocketAddress& printer, const char* community, const char* oid, char* out,
         int outSize) {
  const netio::Deadline deadline(netio::kReadBudget);
  const bool v6 = printer.sa.sa_family == AF_INET6;
  netio::UdpSocket sock(printer.sa.sa_family);
  if (!sock.open()) return false;
  if (v6) Diagnose("scope id=%d", static_cast<int>(printer.v6.sin6_scope_id));

  unsigned char request[kRequestArea];
  const int length = CNetIO::BuildGetRequestFor(1, oid, community, request);
  if (length < 0) return false;
  if (netio::SendCopies(sock.fd(), request, static_cast<size_t>(length), printer, kCopies,
                        kSendPause) < 1) {
    if (v6) Diagnose("getv6 nRet: %s\n", strerror(errno));
    return false;
  }

  unsigned char answer[kReceiveSize];
  netio::ReceiveLoop answers(sock.fd(), deadline.Within(kAnswerWait), kAnswerWait, &printer);
  const ssize_t received = answers.Next(answer, sizeof answer);
  Diagnose("NetSnmpGetV4 recvfrom nRecv = %d\n", static_cast<int>(received));
  if (received <= 0) return false;
  // An agent's error answer carries a NULL value: an empty text, and true.
  char text[kRecvBufSize];
  if (CNetIO::parseForRecvBuf(answer, static_cast<int>(received), text) != 1) {
    netio::ReportRefusal(printer);
    return false;
  }
  return netio::CopyFitting(text, out, outSize);
}

int GetFact(CNetIO& netio, const char* host, const netio::KnownOid& oid, char* out, int outSize,
            const char* enterLine) {
  Diagnose("%s\n", enterLine);
  SocketAddress printer;
  if (!netio::PrinterDestination(host, AF_UNSPEC, &printer, true)) return -1;
  if (printer.sa.sa_family == AF_INET6) {
    // One retry, for IPv6 only: a link-local printer may miss the first copies.
    if (netio.NetSnmpGetV6(host, kCommunity, oid.text, out, outSize)) return 0;
    return netio.NetSnmpGetV6(host, kCommunity, oid.text, out, outSize) ? 0 : -1;
  }
  return netio.NetSnmpGetV4(host, kCommunity, oid.text, out, outSize) ? 0 : -1;
}

}  // namespace

bool netio::CopyFitting(const char* text, char* out, int outSize) {
  if (!out || outSize <= 0) return false;
  const size_t length = strnlen(text, static_cast<size_t>(outSize));
  if (length >= static_cast<size_t>(outSize)) return false;
  memcpy(out, text, length + 1);
  return true;
}

bool CNetIO::NetSnmpGetV4(char const* host, char const* community, char const* oid, char* out,
                          int outSize) {
  SocketAddress printer;
  if (!netio::PrinterDestination(host, AF_INET, &printer)) return false;
  return Get(printer, community, oid, out, outSize);
}

bool CNetIO::NetSnmpGetV6(char const* host, char const* community, char const* oid, char* out,
                          int outSize) {
  SocketAddress printer;
  if (!netio::PrinterDestination(host, AF_INET6, &printer)) return false;
  return Get(printer, community, oid, out, outSize);
}

int CNetIO::TavraNetworkGetFwMCUVersion(char const* host, unsigned char, char* out, int outSize) {
  return GetFact(*this, host, netio::kMcuVersionOid, out, outSize,
                 "TavraNetworkGetFwMCUVersion enter");
}

int CNetIO::TavraNetworkGetFwVersion(char const* host, unsigned char, char* out, int outSize) {
  return GetFact(*this, host, netio::kFwVersionOid, out, outSize,
                 "TavraNetworkGetFwVersion enter");
}

int CNetIO::TavraNetworkGetPrinterName(char const* host, unsigned char, char* out, int outSize) {
  return GetFact(*this, host, netio::kSysNameOid, out, outSize,
                 "TavraNetworkGetPrinterName enter");
}
