// The stream connection against the test's own TCP listener on loopback, in its own namespace.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "netio/address.h"
#include "netio/exchange.h"
#include "tests/netio/IsolatedNetio.h"

namespace {

using Bytes = std::vector<unsigned char>;

class Stream : public testnetio::IsolatedNetio {};

// More than a socket buffer's worth out to an IPv6 port given mod 65536; back, fewer
// octets than asked for: the read gives what arrived.
TEST_F(Stream, WritesAllReadsWhatArrives) {
  Bytes request(300000), received(300000);
  for (size_t i = 0; i < request.size(); ++i) request[i] = static_cast<unsigned char>(i * 7 + 3);
  const Bytes answer(request.begin(), request.begin() + 60);
  netio::SocketAddress a{};
  socklen_t length = sizeof a.any;
  const int fd = socket(AF_INET6, SOCK_STREAM, 0);
  ASSERT_TRUE(netio::ParseNumericAddress("::1", AF_UNSPEC, 0, &a) &&
              bind(fd, &a.sa, netio::AddressLength(a)) == 0 && listen(fd, 1) == 0 &&
              getsockname(fd, &a.sa, &length) == 0);
  std::thread peer([&] {
    const int c = accept(fd, nullptr, nullptr);
    for (size_t n = 0; c >= 0 && n < received.size();) {
      const ssize_t r = read(c, &received[n], received.size() - n);
      if (r <= 0) break;
      n += size_t(r);
    }
    (void)!write(c, answer.data(), answer.size());
    close(c);
  });
  const int connected = netio_.NetworkConnect("::1", 65536 + ntohs(a.v6.sin6_port));
  EXPECT_EQ(connected, 0);
  if (connected != 0) shutdown(fd, SHUT_RDWR);  // wakes the peer's accept
  EXPECT_EQ(netio_.NetworkWrite(0, request.data(), request.size()), request.size());
  Bytes got(100, 0xEE);
  EXPECT_EQ(netio_.NetworkRead(0, got.data(), got.size()), answer.size());
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 60), answer);
  EXPECT_EQ(netio_.NetworkClose(0), 0);
  peer.join();
  close(fd);
  EXPECT_EQ(received, request);
}

}  // namespace
