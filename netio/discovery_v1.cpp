#include <arpa/inet.h>

#include <cstring>

#include "netio/BerWriter.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/discovery_io.h"

using netio::Diagnose;
using netio::InterfaceAddresses;
using netio::ReceiveLoop;
using netio::ReportAgent;
using netio::ReportErrno;
using netio::SocketAddress;
using netio::UdpSocket;

namespace {

// The GetRequest-PDU for sysObjectID.0 that follows the community.
const unsigned char request_oid_pf[] = {0xA0, 0x19, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02,
                                        0x01, 0x00, 0x30, 0x0E, 0x30, 0x0C, 0x06, 0x08, 0x2B,
                                        0x06, 0x01, 0x02, 0x01, 0x01, 0x02, 0x00, 0x05, 0x00};
static_assert(sizeof request_oid_pf == 27, "the fixed PDU template");

const unsigned char kVersion1[] = {0x02, 0x01, 0x00};
const size_t kRequestArea = 256;
const size_t kOidArea = 128;
const size_t kReceiveSize = 256;

}  // namespace

int netio::BuildDiscoveryRequest(const char* community, unsigned char* out, size_t outSize) {
  if (!community || !*community) community = "public";
  const size_t c = strnlen(community, kMaxDiscoveryCommunity + 1);
  if (c > kMaxDiscoveryCommunity) return -1;
  unsigned char area[kRequestArea];
  BerWriter w(area, sizeof area);
  if (!w.Bytes(request_oid_pf, sizeof request_oid_pf) || !w.Bytes(community, c) ||
      !w.ShortHeader(0x04, c) || !w.Bytes(kVersion1, sizeof kVersion1) ||
      !w.ShortHeader(0x30, w.size()) || w.size() > outSize)
    return -1;
  memcpy(out, w.front(), w.size());
  return static_cast<int>(w.size());
}

int netio::PrepareDiscovery(const char* community, const char* oid, unsigned char* out,
                            size_t outSize) {
  unsigned char encoded[kOidArea];
  if (CNetIO::oidEncode(oid, encoded) < 1) return -1;
  return BuildDiscoveryRequest(community, out, outSize);
}

bool CNetIO::FindSnmpAgent(char const* community, char const* target, char const* oid,
                           SearchAgentCallback callback, void* context, bool broadcast) {
  SocketAddress to{};
  if (!netio::ResolveTarget(target, AF_UNSPEC, &to)) return true;
  if (to.sa.sa_family == AF_INET6) {
    return FindSnmpAgentV6_(community, target, oid, callback, context, broadcast);
  }
  unsigned char request[kRequestArea];
  const int length = netio::PrepareDiscovery(community, oid, request, sizeof request);
  if (length < 0) return false;

  InterfaceAddresses interfaces;
  if (!interfaces.Load()) {
    ReportErrno("[ipv4 BC] getifaddrs Error! errno");
    return true;
  }
  for (const ifaddrs* entry = interfaces.first(); entry; entry = entry->ifa_next) {
    SocketAddress local{};
    UdpSocket sock;
    if (!netio::OpenOnInterfaceV4(entry, broadcast, &sock, &local)) continue;
    if (netio::SendThreeTimes(sock.fd(), request, static_cast<size_t>(length), to) <= 0) continue;
    netio::ReportMatches(*this, sock.fd(), callback, context);
  }
  return true;
}

bool CNetIO::FindSnmpAgentV6_(char const* community, char const* target, char const* oid,
                              SearchAgentCallback callback, void* context, bool broadcast) {
  unsigned char request[kRequestArea];
  const int length = netio::PrepareDiscovery(community, oid, request, sizeof request);
  if (length < 0) return false;
  SocketAddress to{};
  if (!netio::ResolveTarget(target, AF_INET6, &to)) return true;

  InterfaceAddresses interfaces;
  if (!interfaces.Load()) {
    ReportErrno("[ipv6 BC] getifaddrs Error! errno");
    return true;
  }
  for (const ifaddrs* entry = interfaces.first(); entry; entry = entry->ifa_next) {
    SocketAddress local{};
    if (!netio::InterfaceAddress(entry, AF_INET6, &local)) continue;

    UdpSocket sock(AF_INET6);
    if (!sock.open()) {
      ReportErrno("[ipv6 BC] socket failed");
      continue;
    }
    if (bind(sock.fd(), &local.sa, sizeof local.v6) != 0) {
      ReportErrno("[ipv6 BC] ERROR on binding");
      continue;
    }
    Diagnose("tmpip=%s%s\n", target, "%en0");
    SocketAddress dest = to;
    dest.v6.sin6_scope_id = local.v6.sin6_scope_id;
    netio::SetDiscoveryOptions(sock.fd(), broadcast);
    if (sendto(sock.fd(), request, static_cast<size_t>(length), 0, &dest.sa, sizeof dest.v6) <= 0) {
      ReportErrno("[ipv6 BC] snedto failed");
      continue;
    }

    ReceiveLoop loop(sock.fd(), netio::kDiscoveryReceive);
    unsigned char datagram[kReceiveSize];
    SocketAddress from{};
    for (;;) {
      const ssize_t n = loop.Next(datagram, sizeof datagram, &from);
      Diagnose("[ipv6 BC] nRecv = %d", static_cast<int>(n));
      if (n <= 0) break;
      netio::RememberScope(static_cast<int>(from.v6.sin6_scope_id), entry->ifa_name);
      if (parseForOID(datagram, static_cast<int>(n), nullptr, 0)) {
        ReportAgent(from, callback, context);
      }
    }
  }
  return true;
}
