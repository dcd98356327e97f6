#include "netio/udp.h"

#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace netio {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

socklen_t AddressLength(const SocketAddress& address) {
  return address.sa.sa_family == AF_INET6 ? sizeof address.v6 : sizeof address.v4;
}

bool SameSender(const SocketAddress& from, const SocketAddress& to) {
  if (from.sa.sa_family != to.sa.sa_family) return false;
  if (from.sa.sa_family == AF_INET) {
    return from.v4.sin_port == to.v4.sin_port && from.v4.sin_addr.s_addr == to.v4.sin_addr.s_addr;
  }
  return from.v6.sin6_port == to.v6.sin6_port &&
         memcmp(&from.v6.sin6_addr, &to.v6.sin6_addr, sizeof from.v6.sin6_addr) == 0;
}

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

bool SetReceiveTimeout(int fd, std::chrono::microseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000000);
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

ssize_t SendCopies(int fd, const unsigned char* message, size_t length, const SocketAddress& to,
                   int copies, std::chrono::microseconds pause) {
  ssize_t sent = 0;
  for (int i = 0; i < copies; ++i) {
    sent = sendto(fd, message, length, 0, &to.sa, AddressLength(to));
    if (pause.count() > 0) usleep(static_cast<useconds_t>(pause.count()));
  }
  return sent;
}

bool SendRequest(int fd, const unsigned char* request, int length, const SocketAddress& to) {
  return length > 0 &&
         sendto(fd, request, static_cast<size_t>(length), 0, &to.sa, AddressLength(to)) == length;
}

ReceiveLoop::ReceiveLoop(int fd, const ReceiveLimits& limits, const SocketAddress* sender)
    : fd_(fd), limits_(limits), sender_(sender), cap_(Clock::now() + limits.cap) {}

ssize_t ReceiveLoop::Next(unsigned char* buffer, size_t size, SocketAddress* from) {
  const auto until = std::min(Clock::now() + limits_.silence, cap_);
  for (int foreign = 0;;) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now());
    // A zero SO_RCVTIMEO would wait for ever.
    if (left.count() <= 0) return 0;
    if (!SetReceiveTimeout(fd_, left)) return -1;
    SocketAddress sender{};
    socklen_t senderLength = sizeof sender.any;
    const ssize_t n = recvfrom(fd_, buffer, size, 0, &sender.sa, &senderLength);
    if (n < 0 && errno == EINTR) continue;
    // An empty datagram reads as 0, like the silence running out; it is no
    // answer, and must not let anyone cut a read short.
    if (n == 0) continue;
    if (n < 0 || !sender_ || SameSender(sender, *sender_)) {
      if (n > 0 && from) *from = sender;
      return n;
    }
    if (foreign == limits_.maxForeign) return -1;
    ++foreign;
  }
}

}  // namespace netio
