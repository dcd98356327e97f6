#include "netio/discovery_io.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"

namespace netio {

namespace {

const uint16_t kSnmpPort = 161;
const auto kSilence = std::chrono::seconds(1);
const auto kSendPause = std::chrono::microseconds(30);
const int kCopies = 3;
const size_t kReceiveSize = 256;

}  // namespace

const ReceiveLimits kDiscoveryReceive{kSilence, std::chrono::seconds(30)};

InterfaceAddresses::~InterfaceAddresses() {
  if (list_) freeifaddrs(list_);
}

bool InterfaceAddresses::Load() { return getifaddrs(&list_) == 0; }

const char* AddressText(const SocketAddress& address, char* text, socklen_t size) {
  const void* raw = address.sa.sa_family == AF_INET6
                        ? static_cast<const void*>(&address.v6.sin6_addr)
                        : static_cast<const void*>(&address.v4.sin_addr);
  if (!inet_ntop(address.sa.sa_family, raw, text, size) && size > 0) text[0] = '\0';
  return text;
}

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
  SetDiscoveryOptions(sock->fd(), broadcast);
  if (bind(sock->fd(), &local->sa, sizeof local->v4) != 0) {
    ReportErrno("[ipv4 BC] ERROR on binding");
    return false;
  }
  return true;
}

bool ResolveTarget(const char* text, int family, SocketAddress* out) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_family = family;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(text, nullptr, &hints, &found);
  if (rc != 0) {
    Diagnose("error in getaddrinfo: %s\n", gai_strerror(rc));
    return false;
  }
  *out = SocketAddress{};
  memcpy(&out->any, found->ai_addr, std::min<size_t>(found->ai_addrlen, sizeof out->any));
  freeaddrinfo(found);
  if (out->sa.sa_family == AF_INET6) {
    out->v6.sin6_port = FLIPWORD(kSnmpPort);
  } else {
    out->v4.sin_port = FLIPWORD(kSnmpPort);
  }
  return true;
}

void SetDiscoveryOptions(int fd, bool broadcast) {
  const int flag = broadcast ? 1 : 0;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &flag, sizeof flag);
  SetReceiveTimeout(fd, kSilence);
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

void ReportAgent(const SocketAddress& from, SearchAgentCallback callback, void* context,
                 const char* announce) {
  if (!callback) return;
  char text[INET6_ADDRSTRLEN];
  AddressText(from, text, sizeof text);
  if (announce) Diagnose("%s%s\n", announce, text);
  callback(text, nullptr, context);
}

void ReportMatches(CNetIO& netio, int fd, SearchAgentCallback callback, void* context) {
  ReceiveLoop loop(fd, kDiscoveryReceive);
  unsigned char datagram[kReceiveSize];
  SocketAddress from{};
  for (ssize_t n; (n = loop.Next(datagram, sizeof datagram, &from)) > 0;) {
    if (netio.parseForOID(datagram, static_cast<int>(n), nullptr, 0)) {
      ReportAgent(from, callback, context);
    }
  }
}

void ReportErrno(const char* message) { Diagnose("%s: %s\n", message, strerror(errno)); }

}  // namespace netio
