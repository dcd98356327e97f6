// The stream connection against TCP listeners of the test on loopback, in a
// namespace of its own so that a closed port stays closed.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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

// A listening socket on an ephemeral port; `Serve` runs the peer's side of
// one connection on a thread, joined before the listener goes.
class Listener {
 public:
  explicit Listener(const char* address) {
    netio::SocketAddress a{};
    socklen_t length = sizeof a.any;
    ok_ = netio::ParseNumericAddress(address, AF_UNSPEC, 0, &a) &&
          (fd_ = socket(a.sa.sa_family, SOCK_STREAM, 0)) >= 0 &&
          bind(fd_, &a.sa, netio::AddressLength(a)) == 0 && listen(fd_, 4) == 0 &&
          getsockname(fd_, &a.sa, &length) == 0;
    port_ = ntohs(a.sa.sa_family == AF_INET6 ? a.v6.sin6_port : a.v4.sin_port);
  }
  ~Listener() {
    if (peer_.joinable()) peer_.join();
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return ok_; }
  int port() const { return port_; }
  // `peer` gets the accepted connection, which is closed after it returns.
  void Serve(std::function<void(int)> peer) {
    peer_ = std::thread([this, peer] {
      const int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      peer(c);
      close(c);
    });
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
  int port_ = 0;
  std::thread peer_;
};

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 7 + 3);
  return b;
}

class Stream : public testnetio::IsolatedNetio {};

// More than a socket buffer's worth out; back, fewer octets than asked for
// before the peer closes: the read gives what arrived.
TEST_F(Stream, WritesAllAndReadsWhatArrivesOverBothFamilies) {
  const Bytes request = Pattern(300000), answer = Pattern(60);
  for (const auto& [host, v6Entry] :
       {std::pair{"127.0.0.1", false}, {"::1", false}, {"::1", true}}) {
    Listener listener(host);
    ASSERT_TRUE(listener.ok()) << host;
    Bytes received(request.size());
    listener.Serve([&](int c) {
      size_t n = 0;
      for (ssize_t r; n < received.size() && (r = read(c, &received[n], received.size() - n)) > 0;)
        n += static_cast<size_t>(r);
      (void)!write(c, answer.data(), answer.size());
    });
    ASSERT_EQ(v6Entry ? netio_.NetworkConnectV6(host, listener.port())
                      : netio_.NetworkConnect(host, listener.port()),
              0)
        << host;
    EXPECT_EQ(netio_.NetworkWrite(0, request.data(), request.size()), request.size()) << host;
    Bytes got(100, 0xEE);
    EXPECT_EQ(netio_.NetworkRead(0, got.data(), got.size()), answer.size()) << host;
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 60), answer) << host;
    EXPECT_EQ(netio_.NetworkClose(0), 0) << host;
    EXPECT_EQ(received, request) << host;
  }
}

TEST_F(Stream, ACancelFromAnotherThreadEndsABlockedRead) {
  Listener listener("127.0.0.1");
  ASSERT_TRUE(listener.ok());
  // The peer sends 10 of the 20 bytes asked for, then waits for the close.
  listener.Serve([](int c) {
    (void)!write(c, "0123456789", 10);
    char drain;
    (void)!read(c, &drain, 1);
  });
  ASSERT_EQ(netio_.NetworkConnect("127.0.0.1", listener.port()), 0);
  std::thread canceller([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    netio_.StreamSocket().Cancel();
  });
  unsigned char buffer[20];
  EXPECT_EQ(netio_.NetworkRead(0, buffer, sizeof buffer), 10u);
  canceller.join();
  netio_.NetworkClose(0);
}

TEST_F(Stream, HostsAndPortsThatDoNotConnect) {
  unsigned char buffer[16] = {};
  EXPECT_EQ(netio_.NetworkRead(0, buffer, sizeof buffer), 0u) << "nothing moves unconnected";
  EXPECT_EQ(netio_.NetworkWrite(0, buffer, sizeof buffer), 0u);
  EXPECT_EQ(netio_.NetworkClose(0), -1);
  Listener open4("127.0.0.1"), open6("::1");
  ASSERT_TRUE(open4.ok() && open6.ok());
  // A port bound and closed again is closed in this namespace of our own.
  int closedPort;
  {
    Listener gone("127.0.0.1");
    closedPort = gone.port();
  }
  open4.Serve([](int) {});
  open6.Serve([](int) {});
  const struct {
    const char* host;
    int port;
    int result;
  } rows[] = {
      {"127.0.0.1", closedPort, ECONNREFUSED},
      {"::1", closedPort, ECONNREFUSED},
      {"127.0.0.1", 65536 + open4.port(), 0},  // the port is taken mod 65536
      {"::1", 3 * 65536 + open6.port(), 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(netio_.NetworkConnect(row.host, row.port), row.result) << row.host << " " << row.port;
    netio_.NetworkClose(0);
  }
}

// "::1" and the zone share 256 octets with the NUL: 255 characters fit, 256 do not.
TEST_F(Stream, TheIpv6ConnectRefusesAZoneTooLongForItsText) {
  Listener listener("::1");
  ASSERT_TRUE(listener.ok());
  listener.Serve([](int) {});
  const std::string saved = g_ifsName;
  for (size_t zone : {size_t{252}, size_t{253}}) {
    snprintf(g_ifsName, sizeof g_ifsName, "%%%s", std::string(zone - 1, 'z').c_str());
    EXPECT_EQ(netio_.NetworkConnectV6("::1", listener.port()), zone == 252 ? 0 : -1) << zone;
    netio_.NetworkClose(0);
  }
  snprintf(g_ifsName, sizeof g_ifsName, "%s", saved.c_str());
}

}  // namespace
