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
using netio::kFwVersionOid;
using netio::kMcuVersionOid;
using netio::kSysNameOid;
using netio::SocketAddress;

namespace {

const char kCommunity[] = "public";
const uint16_t kSnmpPort = 161;
const size_t kRequestArea = 256;
const size_t kReceiveSize = 256;
// One answer, awaited for at most a second.
const netio::ReceiveLimits kAnswerWait{std::chrono::seconds(1), std::chrono::seconds(1)};

// Three copies of the GetRequest, one answer; its value text goes to `out`.
bool Get(const SocketAddress& printer, const char* community, const char* oid, char* out,
         int outSize) {
  const bool v6 = printer.sa.sa_family == AF_INET6;
  netio::UdpSocket sock(printer.sa.sa_family);
  if (!sock.open()) return false;
  netio::SetDiscoveryOptions(sock.fd(), false);
  if (v6) Diagnose("scope id=%d", static_cast<int>(printer.v6.sin6_scope_id));

  unsigned char request[kRequestArea];
  const int length = CNetIO::BuildGetRequestFor(1, oid, community, request);
  if (length < 0) return false;
  if (netio::SendThreeTimes(sock.fd(), request, static_cast<size_t>(length), printer) < 1) {
    if (v6) netio::ReportErrno("getv6 nRet");
    return false;
  }

  unsigned char answer[kReceiveSize];
  netio::ReceiveLoop answers(sock.fd(), kAnswerWait, &printer);
  const ssize_t received = answers.Next(answer, sizeof answer);
  Diagnose("NetSnmpGetV4 recvfrom nRecv = %d\n", static_cast<int>(received));
  if (received <= 0) return false;
  // An agent's error answer carries a NULL value: an empty text, and true.
  char text[kRecvBufSize];
  return CNetIO::parseForRecvBuf(answer, static_cast<int>(received), text) == 1 &&
         netio::CopyFitting(text, out, outSize);
}

int GetFact(CNetIO& netio, const char* host, const char* oid, char* out, int outSize,
            const char* enterLine) {
  Diagnose("%s\n", enterLine);
  const int family = netio::NumericFamily(host);
  if (family == 0) return -1;
  if (family == AF_INET6) {
    // One retry, for IPv6 only: a link-local printer may miss the first copies.
    if (netio.NetSnmpGetV6(host, kCommunity, oid, out, outSize)) return 0;
    return netio.NetSnmpGetV6(host, kCommunity, oid, out, outSize) ? 0 : -1;
  }
  return netio.NetSnmpGetV4(host, kCommunity, oid, out, outSize) ? 0 : -1;
}

}  // namespace

bool CNetIO::NetSnmpGetV4(char const* host, char const* community, char const* oid, char* out,
                          int outSize) {
  SocketAddress printer{};
  printer.v4.sin_family = AF_INET;
  printer.v4.sin_port = FLIPWORD(kSnmpPort);
  if (!host || inet_pton(AF_INET, host, &printer.v4.sin_addr) != 1) return false;
  return Get(printer, community, oid, out, outSize);
}

bool CNetIO::NetSnmpGetV6(char const* host, char const* community, char const* oid, char* out,
                          int outSize) {
  SocketAddress printer{};
  if (!netio::SnmpDestinationV6(host, scope_id, &printer.v6)) return false;
  return Get(printer, community, oid, out, outSize);
}

int CNetIO::TavraNetworkGetFwMCUVersion(char const* host, unsigned char, char* out, int outSize) {
  return GetFact(*this, host, kMcuVersionOid, out, outSize, "TavraNetworkGetFwMCUVersion enter");
}

int CNetIO::TavraNetworkGetFwVersion(char const* host, unsigned char, char* out, int outSize) {
  return GetFact(*this, host, kFwVersionOid, out, outSize, "TavraNetworkGetFwVersion enter");
}

int CNetIO::TavraNetworkGetPrinterName(char const* host, unsigned char, char* out, int outSize) {
  return GetFact(*this, host, kSysNameOid, out, outSize, "TavraNetworkGetPrinterName enter");
}
