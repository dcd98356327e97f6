#include <cstring>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/exchange_discovery.h"
#include "netio/oids.h"

using netio::Diagnose;
using netio::InterfaceAddresses;
using netio::ReceiveLoop;
using netio::ReportAgent;
using netio::ReportErrno;
using netio::SocketAddress;
using netio::UdpSocket;

namespace {

const size_t kRequestArea = 256;
const size_t kOidArea = 128;
const size_t kReceiveSize = 256;

}  // namespace

int netio::BuildDiscoveryRequest(const char* community, unsigned char* out, size_t outSize) {
  if (!community || !*community) community = "public";
  if (strnlen(community, kMaxDiscoveryCommunity + 1) > kMaxDiscoveryCommunity) return -1;
  unsigned char area[kRequestArea];
  const int n = CNetIO::BuildGetRequestFor(1, kSysObjectIdOid.text, community, area);
  if (n < 0 || static_cast<size_t>(n) > outSize) return -1;
  memcpy(out, area, static_cast<size_t>(n));
  return n;
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
  if (!netio::DiscoveryTarget(target, AF_UNSPEC, &to)) return true;
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
  netio::Scan scan(callback, context);
  for (const ifaddrs* entry = interfaces.first(); entry; entry = entry->ifa_next) {
    SocketAddress local{};
    UdpSocket sock;
    if (!netio::OpenOnInterfaceV4(entry, broadcast, &sock, &local)) continue;
    const netio::Deadline deadline(netio::kScanBudget);
    if (netio::SendThreeTimes(sock.fd(), request, static_cast<size_t>(length), to) <= 0) continue;
    netio::ReportMatches(*this, sock.fd(), deadline, scan);
  }
  return true;
}

bool CNetIO::FindSnmpAgentV6_(char const* community, char const* target, char const* oid,
                              SearchAgentCallback callback, void* context, bool broadcast) {
  unsigned char request[kRequestArea];
  const int length = netio::PrepareDiscovery(community, oid, request, sizeof request);
  if (length < 0) return false;
  SocketAddress to{};
  if (!netio::DiscoveryTarget(target, AF_INET6, &to)) return true;

  InterfaceAddresses interfaces;
  if (!interfaces.Load()) {
    ReportErrno("[ipv6 BC] getifaddrs Error! errno");
    return true;
  }
  netio::Scan scan(callback, context);
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
    netio::SetBroadcast(sock.fd(), broadcast);
    const netio::Deadline deadline(netio::kScanBudget);
    if (sendto(sock.fd(), request, static_cast<size_t>(length), 0, &dest.sa, sizeof dest.v6) <= 0) {
      ReportErrno("[ipv6 BC] snedto failed");
      continue;
    }

    ReceiveLoop loop(sock.fd(), deadline, netio::kDiscoverySilence);
    unsigned char datagram[kReceiveSize];
    SocketAddress from{};
    for (;;) {
      const ssize_t n = loop.Next(datagram, sizeof datagram, &from);
      Diagnose("[ipv6 BC] nRecv = %d", static_cast<int>(n));
      if (n <= 0) break;
      netio::RememberScope(static_cast<int>(from.v6.sin6_scope_id), entry->ifa_name);
      if (parseForOID(datagram, static_cast<int>(n), nullptr, 0)) {
        ReportAgent(from, scan);
      } else {
        netio::ReportRefusal(from);
      }
    }
  }
  return true;
}
