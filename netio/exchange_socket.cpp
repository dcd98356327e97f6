// Sockets, paced sends and the receive loop bounded by the operation's deadline.
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "netio/exchange.h"

namespace netio {

namespace {

// Datagrams already waiting at the deadline that are drained and reported late.
const int kLateDrain = 16;

bool SetReceiveTimeout(int fd, std::chrono::microseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000000);
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

}  // namespace

Deadline Deadline::Within(Clock::duration wait) const {
  Deadline nearer = *this;
  nearer.end_ = std::min(end_, Clock::now() + wait);
  return nearer;
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

void SetBroadcast(int fd, bool broadcast) {
  const int flag = broadcast ? 1 : 0;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &flag, sizeof flag);
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

ReceiveLoop::ReceiveLoop(int fd, const Deadline& deadline, Clock::duration silence,
                         const SocketAddress* printer, int maxForeign)
    : fd_(fd), deadline_(deadline), silence_(silence), printer_(printer), maxForeign_(maxForeign) {}

ssize_t ReceiveLoop::Next(unsigned char* buffer, size_t size, SocketAddress* from) {
  const Deadline until = deadline_.Within(silence_);
  for (int foreign = 0;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(until.end() - Clock::now());
    // A zero SO_RCVTIMEO would wait for ever.
    if (left.count() <= 0) {
      if (deadline_.Passed()) RefuseLate(buffer, size);
      return 0;
    }
    if (!SetReceiveTimeout(fd_, left)) return -1;
    SocketAddress sender{};
    socklen_t senderLength = sizeof sender.any;
    const ssize_t n = recvfrom(fd_, buffer, size, 0, &sender.sa, &senderLength);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && deadline_.Passed()) {
      RefuseLate(buffer, size);
    }
    // An empty datagram is no answer, and must not let anyone cut a read short.
    if (n == 0) continue;
    if (n < 0 || !printer_ || FromPrinter(*printer_, sender)) {
      if (n > 0 && from) *from = sender;
      return n;
    }
    ReportRefusal(Refusal::kSender, sender);
    if (foreign == maxForeign_) return -1;
    ++foreign;
  }
}

void ReceiveLoop::RefuseLate(unsigned char* buffer, size_t size) {
  // The caller may still report why its last receive failed.
  const int saved = errno;
  for (int i = 0; i < kLateDrain; ++i) {
    SocketAddress sender{};
    socklen_t senderLength = sizeof sender.any;
    if (recvfrom(fd_, buffer, size, MSG_DONTWAIT, &sender.sa, &senderLength) < 0) break;
    const bool stranger = printer_ && !FromPrinter(*printer_, sender);
    ReportRefusal(stranger ? Refusal::kSender : Refusal::kLate, sender);
  }
  errno = saved;
}

}  // namespace netio
