#include <arpa/inet.h>

#include <memory>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/exchange_discovery.h"

using netio::Diagnose;
using netio::ReceiveLoop;
using netio::ReportAgent;
using netio::ReportErrno;
using netio::SocketAddress;
using netio::UdpSocket;

namespace {

const size_t kRequestArea = 256;
const size_t kReceiveSize = 256;
const uint32_t kLastScanIndex = 65535;
// The probe's indexes end one short of the scan's.
const uint32_t kProbeBound = 65535;

struct ListDeleter {
  void operator()(ifs_info* list) const { free_ifs_info(list); }
};
using InterfaceList = std::unique_ptr<ifs_info, ListDeleter>;

const char* NameOf(const InterfaceList& list, int index) {
  const ifs_info* node = find_ifname(list.get(), index);
  return node ? node->ifs_name : nullptr;
}

SocketAddress AllNodes(uint32_t scope) {
  SocketAddress to{};
  to.v6.sin6_family = AF_INET6;
  to.v6.sin6_port = htons(netio::kSnmpPort);
  inet_pton(AF_INET6, "ff02::1", &to.v6.sin6_addr);
  to.v6.sin6_scope_id = scope;
  return to;
}

}  // namespace

bool CNetIO::FindSnmpAgentV6(char const* community, char const* target, char const* oid,
                             SearchAgentCallback callback, void* context, bool broadcast) {
  unsigned char request[kRequestArea];
  const int length = netio::PrepareDiscovery(community, oid, request, sizeof request);
  if (length < 0) return false;
  SocketAddress to{};
  if (!netio::DiscoveryTarget(target, AF_INET6, &to)) return true;
  Diagnose("ipv6=%s%s\n", target, "%en0");
  const InterfaceList interfaces(get_ifs_info(0, 0));
  netio::Scan scan(callback, context);

  int received = 0;
  for (uint32_t index = 0; index <= kLastScanIndex; ++index) {
    Diagnose("\nfound=%d \n", received);
    UdpSocket sock(AF_INET6);
    if (!sock.open()) {
      ReportErrno("socket failed");
      return false;
    }
    netio::SetBroadcast(sock.fd(), broadcast);
    const netio::Deadline deadline(netio::kScanBudget);
    SocketAddress dest = to;
    dest.v6.sin6_scope_id = index;
    if (scope_id > 0) {
      dest.v6.sin6_scope_id = static_cast<uint32_t>(scope_id);
      Diagnose("[if] scope_id=%d", scope_id);
    }
    const ssize_t sent = netio::SendThreeTimes(sock.fd(), request, static_cast<size_t>(length), dest);
    Diagnose("RecvAddr.sin6_scope_id=%d", static_cast<int>(dest.v6.sin6_scope_id));
    if (sent <= 0) {
      ReportErrno("sendto failed");
      sock.Close();
      Diagnose(" index = %d", static_cast<int>(index));
    } else {
      ReceiveLoop loop(sock.fd(), deadline, netio::kDiscoverySilence);
      unsigned char datagram[kReceiveSize];
      SocketAddress from{};
      for (;;) {
        const ssize_t n = loop.Next(datagram, sizeof datagram, &from);
        Diagnose(" nRecv = %d", static_cast<int>(n));
        if (n <= 0) break;
        const int source = static_cast<int>(from.v6.sin6_scope_id);
        netio::RememberScope(source, NameOf(interfaces, source));
        Diagnose("[find] scope id=%d", scope_id);
        if (parseForOID(datagram, static_cast<int>(n), nullptr, 0)) {
          ReportAgent(from, scan, "szAddr=");
        } else {
          netio::ReportRefusal(from);
        }
        received = static_cast<int>(n);
      }
      ReportErrno("nRecv failed");
    }
    // With a remembered scope every step would repeat this one.
    if (received > 0 || scope_id > 0) break;
  }
  return true;
}

bool CNetIO::FindSnmpAgent3Times(char const* community, char const* oid,
                                 SearchAgentCallback callback, void* context) {
  static int index = -1;
  unsigned char request[kRequestArea];
  const int length = netio::PrepareDiscovery(community, oid, request, sizeof request);
  if (length < 0) return false;
  const size_t size = static_cast<size_t>(length);
  netio::Scan scan(callback, context);

  UdpSocket v4(AF_INET);
  if (v4.open()) {
    netio::SetBroadcast(v4.fd(), true);
    SocketAddress broadcast{};
    broadcast.v4.sin_family = AF_INET;
    broadcast.v4.sin_port = htons(netio::kSnmpPort);
    broadcast.v4.sin_addr.s_addr = INADDR_BROADCAST;
    if (netio::SendThreeTimes(v4.fd(), request, size, broadcast) <= 0) v4.Close();
  }

  UdpSocket v6;
  unsigned char first[kReceiveSize];
  ssize_t firstLength = 0;
  SocketAddress firstFrom{};
  for (uint32_t i = 0;;) {
    UdpSocket probe(AF_INET6);
    if (!probe.open()) {
      ReportErrno("socket failed");
      break;
    }
    netio::SetBroadcast(probe.fd(), true);
    const SocketAddress to = AllNodes(scope_id > 0 ? static_cast<uint32_t>(scope_id) : i);
    if (index != -1) {
      netio::SendThreeTimes(probe.fd(), request, size, to);
      v6 = std::move(probe);
      break;
    }
    if (sendto(probe.fd(), request, size, 0, &to.sa, sizeof to.v6) <= 0) {
      ReportErrno("sendto failed");
      probe.Close();
    } else {
      ReceiveLoop once(probe.fd(), netio::Deadline(netio::kScanBudget), netio::kDiscoverySilence);
      firstLength = once.Next(first, sizeof first, &firstFrom);
      if (firstLength > 0) {
        index = static_cast<int>(i);
        v6 = std::move(probe);
        break;
      }
    }
    ++i;
    // A remembered scope makes every probe the same: one is enough.
    if (i >= kProbeBound || scope_id > 0) {
      v6 = std::move(probe);
      break;
    }
  }

  if (v4.open()) {
    netio::ReportMatches(*this, v4.fd(), netio::Deadline(netio::kScanBudget), scan);
    v4.Close();
  }

  if (v6.open()) {
    const InterfaceList interfaces(get_ifs_info(0, 0));
    const auto examine = [&](const unsigned char* datagram, ssize_t n, const SocketAddress& from) {
      netio::RememberScope(index, NameOf(interfaces, index));
      if (parseForOID(datagram, static_cast<int>(n), nullptr, 0)) {
        ReportAgent(from, scan);
      } else {
        netio::ReportRefusal(from);
      }
    };
    if (firstLength > 0) examine(first, firstLength, firstFrom);
    ReceiveLoop loop(v6.fd(), netio::Deadline(netio::kScanBudget), netio::kDiscoverySilence);
    unsigned char datagram[kReceiveSize];
    SocketAddress from{};
    for (ssize_t n; (n = loop.Next(datagram, sizeof datagram, &from)) > 0;) examine(datagram, n, from);
    ReportErrno("nRecv failed");
  }
  return true;
}
