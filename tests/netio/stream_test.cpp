// The stream connection against TCP listeners of the test on loopback, in a
// namespace of its own; only the cases that once failed.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "netio/NetIO.h"
#include "netio/address.h"
#include "netio/exchange.h"
#include "tests/netio/IsolatedNetio.h"

namespace {

using Bytes = std::vector<unsigned char>;

// An ephemeral port whose one connection `serve` runs on a thread, joined before the port goes.
struct Listener {
  Listener(const char* address, std::function<void(int)> serve) {
    netio::SocketAddress a{};
    socklen_t length = sizeof a.any;
    ok = netio::ParseNumericAddress(address, AF_UNSPEC, 0, &a) &&
         (fd = socket(a.sa.sa_family, SOCK_STREAM, 0)) >= 0 &&
         bind(fd, &a.sa, netio::AddressLength(a)) == 0 && listen(fd, 4) == 0 &&
         getsockname(fd, &a.sa, &length) == 0;
    port = ntohs(a.sa.sa_family == AF_INET6 ? a.v6.sin6_port : a.v4.sin_port);
    if (ok) peer = std::thread([this, serve] {
        const int c = accept(fd, nullptr, nullptr);
        if (c >= 0) serve(c), close(c);
      });
  }
  ~Listener() {
    if (peer.joinable()) peer.join();
    if (fd >= 0) close(fd);
  }
  int fd = -1, port = 0;
  bool ok = false;
  std::thread peer;
};

class Stream : public testnetio::IsolatedNetio {};

// More than a socket buffer's worth out, to a port given mod 65536; back, fewer
// octets than asked for before the peer closes (or cancels): the read gives what arrived.
TEST_F(Stream, WritesAllReadsWhatArrivesAndIsCancelled) {
  Bytes request(300000);
  for (size_t i = 0; i < request.size(); ++i) request[i] = static_cast<unsigned char>(i * 7 + 3);
  const Bytes answer(request.begin(), request.begin() + 60);
  for (const auto& [host, v6Entry] :
       {std::pair{"127.0.0.1", false}, {"::1", false}, {"::1", true}}) {
    Bytes received(request.size());
    Listener listener(host, [&](int c) {
      for (size_t n = 0; n < received.size();) {
        const ssize_t r = read(c, &received[n], received.size() - n);
        if (r <= 0) break;
        n += size_t(r);
      }
      (void)!write(c, answer.data(), answer.size());
    });
    ASSERT_TRUE(listener.ok) << host;
    const int port = 65536 * (v6Entry ? 3 : 1) + listener.port;
    ASSERT_EQ(v6Entry ? netio_.NetworkConnectV6(host, port) : netio_.NetworkConnect(host, port), 0);
    EXPECT_EQ(netio_.NetworkWrite(0, request.data(), request.size()), request.size()) << host;
    Bytes got(100, 0xEE);
    ASSERT_EQ(netio_.NetworkRead(0, got.data(), got.size()), answer.size()) << host;
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 60), answer) << host;
    EXPECT_EQ(netio_.NetworkClose(0), 0) << host;
    EXPECT_EQ(received, request) << host;
  }
  Listener listener("127.0.0.1", [](int c) {
    (void)!write(c, "0123456789", 10);
    char drain;
    (void)!read(c, &drain, 1);  // until the close
  });
  ASSERT_EQ(netio_.NetworkConnect("127.0.0.1", listener.port), 0);
  std::thread canceller([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    netio_.StreamSocket().Cancel();
  });
  unsigned char buffer[20];
  EXPECT_EQ(netio_.NetworkRead(0, buffer, sizeof buffer), 10u);
  canceller.join();
  netio_.NetworkClose(0);
}

// "::1" and the zone share 256 octets with the NUL.
TEST_F(Stream, ZoneLengthBound) {
  Listener open6("::1", [](int) {});
  ASSERT_TRUE(open6.ok);
  const std::string saved = g_ifsName;
  for (size_t zone : {size_t{252}, size_t{253}}) {
    snprintf(g_ifsName, sizeof g_ifsName, "%%%s", std::string(zone - 1, 'z').c_str());
    EXPECT_EQ(netio_.NetworkConnectV6("::1", open6.port), zone == 252 ? 0 : -1) << zone;
    netio_.NetworkClose(0);
  }
  snprintf(g_ifsName, sizeof g_ifsName, "%s", saved.c_str());
}

}  // namespace
