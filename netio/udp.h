// The datagram plumbing of every exchange: a socket closed on every return
// path, the paced copies of a request, and one receive loop bounded by a
// silence and a cap, optionally deaf to everyone but one sender.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <climits>

namespace netio {

union SocketAddress {
  sockaddr sa;
  sockaddr_in v4;
  sockaddr_in6 v6;
  sockaddr_storage any;
};

socklen_t AddressLength(const SocketAddress& address);

// Same family, port and address; the IPv6 scope and flow label do not count.
bool SameSender(const SocketAddress& from, const SocketAddress& to);

// A UDP socket closed on every return path.
class UdpSocket {
 public:
  UdpSocket() = default;
  explicit UdpSocket(int family);
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  int fd() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void Close();

 private:
  int fd_ = -1;
};

// SO_RCVTIMEO; `timeout` must be positive, as zero would wait for ever.
bool SetReceiveTimeout(int fd, std::chrono::microseconds timeout);

// `copies` sends of the message, each followed by `pause` when that is not
// zero; the last send's result.
ssize_t SendCopies(int fd, const unsigned char* message, size_t length, const SocketAddress& to,
                   int copies, std::chrono::microseconds pause);

// The single request of an exchange: true when all of it went out. A request
// that could not be built (`length` 0 or less) is never sent as an empty datagram.
bool SendRequest(int fd, const unsigned char* request, int length, const SocketAddress& to);

struct ReceiveLimits {
  // The longest wait for each datagram.
  std::chrono::microseconds silence;
  // Measured from the loop's start, so a peer that keeps talking cannot hold it longer.
  std::chrono::microseconds cap;
  // Datagrams of other senders that one Next passes over and waits on after;
  // the next one ends it with -1.
  int maxForeign = INT_MAX;
};

// Datagrams until a Next that returns 0 or less: the silence or the cap ran
// out, or an error. Empty datagrams are passed over. With a `sender`, anyone
// else's datagrams are not answers: they neither count nor extend the wait.
class ReceiveLoop {
 public:
  ReceiveLoop(int fd, const ReceiveLimits& limits, const SocketAddress* sender = nullptr);
  // The sender is written to `from` (when not null) only when a datagram arrives.
  ssize_t Next(unsigned char* buffer, size_t size, SocketAddress* from = nullptr);

 private:
  int fd_;
  ReceiveLimits limits_;
  const SocketAddress* sender_;
  std::chrono::steady_clock::time_point cap_;
};

}  // namespace netio
