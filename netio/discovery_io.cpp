#include "netio/discovery_io.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"

namespace netio {

namespace {

using Clock = std::chrono::steady_clock;

const uint16_t kSnmpPort = 161;
const auto kSilence = std::chrono::seconds(1);
const auto kLoopCap = std::chrono::seconds(30);
const useconds_t kSendPause = 30;
const int kCopies = 3;
const size_t kReceiveSize = 256;

bool SetReceiveTimeout(int fd, std::chrono::microseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000000);
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

}  // namespace

UdpSocket::UdpSocket(int family) : fd_(socket(family, SOCK_DGRAM, IPPROTO_UDP)) {}

UdpSocket::~UdpSocket() { Close(); }

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void UdpSocket::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

InterfaceAddresses::~InterfaceAddresses() {
  if (list_) freeifaddrs(list_);
}

bool InterfaceAddresses::Load() { return getifaddrs(&list_) == 0; }

socklen_t AddressLength(const SocketAddress& address) {
  return address.sa.sa_family == AF_INET6 ? sizeof address.v6 : sizeof address.v4;
}

const char* AddressText(const SocketAddress& address, char* text, socklen_t size) {
  const void* raw = address.sa.sa_family == AF_INET6
                        ? static_cast<const void*>(&address.v6.sin6_addr)
                        : static_cast<const void*>(&address.v4.sin_addr);
  if (!inet_ntop(address.sa.sa_family, raw, text, size) && size > 0) text[0] = '\0';
  return text;
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
  ssize_t sent = 0;
  for (int i = 0; i < kCopies; ++i) {
    sent = sendto(fd, message, length, 0, &to.sa, AddressLength(to));
    usleep(kSendPause);
  }
  return sent;
}

ReceiveLoop::ReceiveLoop(int fd) : fd_(fd), cap_(Clock::now() + kLoopCap) {}

ssize_t ReceiveLoop::Next(unsigned char* buffer, size_t size, SocketAddress* from) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(cap_ - Clock::now());
    // A zero SO_RCVTIMEO would wait for ever.
    if (left.count() <= 0) return 0;
    if (!SetReceiveTimeout(fd_, std::min<std::chrono::microseconds>(left, kSilence))) return -1;
    SocketAddress sender{};
    socklen_t senderLength = sizeof sender.any;
    const ssize_t n = recvfrom(fd_, buffer, size, 0, &sender.sa, &senderLength);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) *from = sender;
    return n;
  }
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
  ReceiveLoop loop(fd);
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
