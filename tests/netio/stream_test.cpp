// The stream connection against TCP listeners of the test on loopback, in a
// namespace of its own so that a closed port stays closed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "env/TestEnv.h"
#include "netio/Interfaces.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "tests/netio/IsolatedNetio.h"

namespace {

using Bytes = std::vector<unsigned char>;

// One listening socket on an ephemeral port; `Serve` runs the peer's side of
// one connection on a thread, joined before the listener goes.
class Listener {
 public:
  explicit Listener(const char* address) {
    family_ = strchr(address, ':') ? AF_INET6 : AF_INET;
    fd_ = socket(family_, SOCK_STREAM, 0);
    sockaddr_storage a{};
    socklen_t length;
    if (family_ == AF_INET6) {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
      v6->sin6_family = AF_INET6;
      inet_pton(AF_INET6, address, &v6->sin6_addr);
      length = sizeof *v6;
    } else {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
      v4->sin_family = AF_INET;
      inet_pton(AF_INET, address, &v4->sin_addr);
      length = sizeof *v4;
    }
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), length) == 0 &&
          listen(fd_, 4) == 0 && getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) == 0;
    port_ = ntohs(family_ == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                      : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
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
  int family_;
  int fd_;
  bool ok_ = false;
  int port_ = 0;
  std::thread peer_;
};

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 7 + 3);
  return b;
}

bool ReadAll(int fd, unsigned char* p, size_t n) {
  while (n > 0) {
    const ssize_t r = read(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

class Stream : public testnetio::IsolatedNetio {};

TEST_F(Stream, WritesAndReadsOverBothFamilies) {
  const struct {
    const char* what;
    const char* host;
    bool v6Entry;
  } rows[] = {
      {"IPv4", "127.0.0.1", false},
      {"IPv6", "::1", false},
      {"IPv6 entry", "::1", true},
  };
  const Bytes request = Pattern(300000);  // more than one socket buffer's worth
  const Bytes answer = Pattern(100);
  for (const auto& row : rows) {
    Listener listener(row.host);
    ASSERT_TRUE(listener.ok()) << row.what;
    Bytes received(request.size());
    listener.Serve([&](int c) {
      if (ReadAll(c, received.data(), received.size()))
        (void)!write(c, answer.data(), answer.size());
    });
    char* host = const_cast<char*>(row.host);
    ASSERT_EQ(row.v6Entry ? netio_.NetworkConnectV6(host, listener.port())
                          : netio_.NetworkConnect(host, listener.port()),
              0)
        << row.what;
    EXPECT_EQ(netio_.NetworkWrite(0, request.data(), request.size()), request.size()) << row.what;
    Bytes got(answer.size());
    EXPECT_EQ(netio_.NetworkRead(0, got.data(), got.size()), got.size()) << row.what;
    EXPECT_EQ(got, answer) << row.what;
    EXPECT_EQ(netio_.NetworkClose(0), 0) << row.what;
    EXPECT_EQ(received, request) << row.what;
  }
}

TEST_F(Stream, AShortStreamGivesWhatArrived) {
  for (const char* host : {"127.0.0.1", "::1"}) {
    Listener listener(host);
    ASSERT_TRUE(listener.ok());
    const Bytes sixty = Pattern(60);
    listener.Serve([&](int c) { (void)!write(c, sixty.data(), sixty.size()); });
    ASSERT_EQ(netio_.NetworkConnect(host, listener.port()), 0) << host;
    Bytes got(100, 0xEE);
    EXPECT_EQ(netio_.NetworkRead(0, got.data(), got.size()), 60u) << host;
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 60), sixty) << host;
    netio_.NetworkClose(0);
  }
}

TEST_F(Stream, NothingMovesWithoutAConnection) {
  unsigned char buffer[16] = {};
  EXPECT_EQ(netio_.NetworkRead(0, buffer, sizeof buffer), 0u);
  EXPECT_EQ(netio_.NetworkWrite(0, buffer, sizeof buffer), 0u);
  EXPECT_EQ(netio_.NetworkClose(0), -1);
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
  ASSERT_EQ(netio_.NetworkConnect(const_cast<char*>("127.0.0.1"), listener.port()), 0);
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
    const char* what;
    const char* host;
    int port;
    int result;
  } rows[] = {
      {"closed port, IPv4", "127.0.0.1", closedPort, ECONNREFUSED},
      {"closed port, IPv6", "::1", closedPort, ECONNREFUSED},
      {"host name", "localhost", open4.port(), -1},
      {"empty text", "", open4.port(), -1},
      {"port taken mod 65536, IPv4", "127.0.0.1", 65536 + open4.port(), 0},
      {"port taken mod 65536, IPv6", "::1", 3 * 65536 + open6.port(), 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(netio_.NetworkConnect(const_cast<char*>(row.host), row.port), row.result) << row.what;
    netio_.NetworkClose(0);
  }
}

TEST_F(Stream, TheIpv6ConnectReportsItsZoneTextAndRefusesOneTooLong) {
  Listener listener("::1");
  ASSERT_TRUE(listener.ok());
  listener.Serve([](int) {});
  FILE* sink = tmpfile();
  ASSERT_NE(sink, nullptr);
  netio::SetDiagnosticsSink(sink);
  EXPECT_EQ(netio_.NetworkConnect(const_cast<char*>("::1"), listener.port()), 0);
  netio_.NetworkClose(0);
  netio::SetDiagnosticsSink(nullptr);
  // "::1" and the suffix share 256 octets with the NUL: 255 characters fit, 256 do not.
  const std::string saved = g_ifsName;
  for (size_t zone : {size_t{252}, size_t{253}}) {
    snprintf(g_ifsName, sizeof g_ifsName, "%%%s", std::string(zone - 1, 'z').c_str());
    EXPECT_EQ(netio_.NetworkConnectV6(const_cast<char*>("::1"), listener.port()),
              zone == 252 ? 0 : -1)
        << zone;
    netio_.NetworkClose(0);
  }
  snprintf(g_ifsName, sizeof g_ifsName, "%s", saved.c_str());
  rewind(sink);
  std::string text(1024, '\0');
  text.resize(fread(&text[0], 1, text.size(), sink));
  fclose(sink);
  EXPECT_EQ(text, "NetworkConnect server=::1\nNetworkConnectV6=::1%en0\nnRet = 0\nnReturn = 0\n");
}

}  // namespace
