#include "netio/exchange_discovery.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"

namespace netio {

namespace {

const auto kSendPause = std::chrono::microseconds(30);
const int kCopies = 3;
const size_t kReceiveSize = 256;

}  // namespace

InterfaceAddresses::~InterfaceAddresses() {
  if (list_) freeifaddrs(list_);
}

bool InterfaceAddresses::Load() { return getifaddrs(&list_) == 0; }

bool InterfaceAddress(const ifaddrs* entry, int family, SocketAddress* local) {
  if (!entry->ifa_addr || entry->ifa_addr->sa_family != family) return false;
  const bool v6 = family == AF_INET6;
  *local = SocketAddress{};
  SocketAddress netmask{};
  if (v6) {
    local->v6 = *reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
    local->v6.sin6_port = 0;
    local->v6.sin6_flowinfo = 0;
    if (local->v6.sin6_scope_id == 0) local->v6.sin6_scope_id = if_nametoindex(entry->ifa_name);
    if (entry->ifa_netmask) netmask.v6 = *reinterpret_cast<const sockaddr_in6*>(entry->ifa_netmask);
  } else {
    local->v4 = *reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    local->v4.sin_port = 0;
    if (entry->ifa_netmask) netmask.v4 = *reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask);
  }
  netmask.sa.sa_family = static_cast<sa_family_t>(family);
  const char* const tag = v6 ? "[ipv6 BC]" : "[ipv4 BC]";
  char address[INET6_ADDRSTRLEN], mask[INET6_ADDRSTRLEN];
  Diagnose("%s %s\n", tag, entry->ifa_name);
  Diagnose("%s %s   : %s\n", tag, v6 ? "IPv6" : "IPv4",
           AddressText(*local, address, sizeof address));
  Diagnose("%s netmask: %s\n", tag, AddressText(netmask, mask, sizeof mask));
  if (v6) Diagnose("%s sin6_scope_id: %d\n", tag, static_cast<int>(local->v6.sin6_scope_id));
  return true;
}

bool OpenOnInterfaceV4(const ifaddrs* entry, bool broadcast, UdpSocket* sock,
                       SocketAddress* local) {
  if (!InterfaceAddress(entry, AF_INET, local)) return false;
  *sock = UdpSocket(AF_INET);
  if (!sock->open()) return false;
  SetBroadcast(sock->fd(), broadcast);
  if (bind(sock->fd(), &local->sa, sizeof local->v4) != 0) {
    ReportErrno("[ipv4 BC] ERROR on binding");
    return false;
  }
  return true;
}

bool DiscoveryTarget(const char* text, int family, SocketAddress* out) {
  if (ParseNumericAddress(text, family, kSnmpPort, out)) return true;
  Diagnose("error in getaddrinfo: not a numeric address\n");
  return false;
}

ssize_t SendThreeTimes(int fd, const unsigned char* message, size_t length,
                       const SocketAddress& to) {
  return SendCopies(fd, message, length, to, kCopies, kSendPause);
}

void RememberScope(int scope, const char* ifname) {
  if (scope_id > 0) return;
  scope_id = scope;
  if (ifname) snprintf(g_ifsName, sizeof g_ifsName, "%%%s", ifname);
}

void ReportAgent(const SocketAddress& from, Scan& scan, const char* announce) {
  if (!scan.callback || !scan.agents.Admit(from)) return;
  char text[INET6_ADDRSTRLEN];
  AddressText(from, text, sizeof text);
  if (announce) Diagnose("%s%s\n", announce, text);
  scan.callback(text, nullptr, scan.context);
}

void ReportMatches(CNetIO& netio, int fd, const Deadline& deadline, Scan& scan) {
  ReceiveLoop loop(fd, deadline, kDiscoverySilence);
  unsigned char datagram[kReceiveSize];
  SocketAddress from{};
  for (ssize_t n; (n = loop.Next(datagram, sizeof datagram, &from)) > 0;) {
    if (netio.parseForOID(datagram, static_cast<int>(n), nullptr, 0)) {
      ReportAgent(from, scan);
    } else {
      ReportRefusal(from);
    }
  }
}

void ReportErrno(const char* message) { Diagnose("%s: %s\n", message, strerror(errno)); }

}  // namespace netio
