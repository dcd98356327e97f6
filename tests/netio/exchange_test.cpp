// The exchange layer's rules on their own: the printer's destination, the
// sender rule with its zone, and the OID table's two forms.
#include "netio/exchange.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <string>
#include <vector>

#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/oids.h"
#include "tests/netio/Diagnostics.h"

namespace {

const uint32_t kLo = if_nametoindex("lo");

netio::SocketAddress V6(const char* text, uint16_t port, uint32_t scope) {
  netio::SocketAddress a{};
  a.v6.sin6_family = AF_INET6;
  a.v6.sin6_port = htons(port);
  a.v6.sin6_scope_id = scope;
  EXPECT_EQ(inet_pton(AF_INET6, text, &a.v6.sin6_addr), 1) << text;
  return a;
}

netio::SocketAddress V4(const char* text, uint16_t port) {
  netio::SocketAddress a{};
  a.v4.sin_family = AF_INET;
  a.v4.sin_port = htons(port);
  EXPECT_EQ(inet_pton(AF_INET, text, &a.v4.sin_addr), 1) << text;
  return a;
}

TEST(PrinterDestination, NumericTextsZonesAndTheDiscoveredScope) {
  ASSERT_NE(kLo, 0u);
  const std::string longest = "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255";  // 45 characters
  const struct {
    std::string host;
    int family;
    int scope;            // scope_id, as discovery leaves it
    const char* address;  // expected numeric text, null: refused
    uint32_t scopeId;
  } rows[] = {
      {"127.0.0.1", AF_UNSPEC, 0, "127.0.0.1", 0},
      {"::1", AF_UNSPEC, 0, "::1", 0},
      {"fe80::ff:fe00:2%lo", AF_INET6, 0, "fe80::ff:fe00:2", kLo},
      {"fe80::1%" + std::to_string(kLo), AF_UNSPEC, 0, "fe80::1", kLo},
      {"fe80::1%4294967295", AF_INET6, 0, "fe80::1", 4294967295u},
      // A scope chosen by discovery wins over the zone.
      {"fe80::1%lo", AF_INET6, 7, "fe80::1", 7},
      {"fe80::1", AF_INET6, 7, "fe80::1", 7},
      {longest, AF_INET6, 0, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 0},
      // Refused: a zone off link-local, bad zones, other families, other forms.
      {longest + "%lo", AF_INET6, 0, nullptr, 0},
      {"fd00::1%lo", AF_UNSPEC, 0, nullptr, 0},
      {"fe80::1%", AF_INET6, 0, nullptr, 0},
      {"fe80::1%0", AF_INET6, 0, nullptr, 0},
      {"fe80::1%4294967296", AF_INET6, 0, nullptr, 0},
      {"fe80::1%" + std::string(IF_NAMESIZE, 'x'), AF_INET6, 0, nullptr, 0},
      {"fe80::1%lo%lo", AF_INET6, 0, nullptr, 0},
      {"127.0.0.1", AF_INET6, 0, nullptr, 0},
      {"::1", AF_INET, 0, nullptr, 0},
      {"[::1]", AF_UNSPEC, 0, nullptr, 0},
      {" ::1", AF_UNSPEC, 0, nullptr, 0},
      {"127.0.0.1.", AF_UNSPEC, 0, nullptr, 0},
      {std::string(4096, ':'), AF_UNSPEC, 0, nullptr, 0},
  };
  for (const auto& row : rows) {
    scope_id = row.scope;
    netio::SocketAddress to;
    memset(&to, 0xEE, sizeof to);
    const bool ok = netio::PrinterDestination(row.host.c_str(), row.family, &to);
    scope_id = 0;
    ASSERT_EQ(ok, row.address != nullptr) << row.host;
    if (!ok) {
      EXPECT_EQ(to.sa.sa_family, 0xEEEE) << "written on failure: " << row.host;
      continue;
    }
    char text[INET6_ADDRSTRLEN];
    EXPECT_STREQ(netio::AddressText(to, text, sizeof text), row.address) << row.host;
    if (to.sa.sa_family == AF_INET) {
      EXPECT_EQ(to.v4.sin_port, htons(161)) << row.host;
      continue;
    }
    EXPECT_EQ(to.v6.sin6_port, htons(161)) << row.host;
    EXPECT_EQ(to.v6.sin6_scope_id, row.scopeId) << row.host;
    EXPECT_EQ(to.v6.sin6_flowinfo, 0u) << row.host;
  }
}

TEST(FromPrinter, AddressPortAndForALinkLocalPrinterItsInterface) {
  const struct {
    const char* what;
    netio::SocketAddress printer, sender;
    bool taken;
  } rows[] = {
      {"IPv4 printer", V4("10.0.0.2", 161), V4("10.0.0.2", 161), true},
      {"IPv4, other address", V4("10.0.0.2", 161), V4("10.0.0.3", 161), false},
      {"IPv4, other port", V4("10.0.0.2", 161), V4("10.0.0.2", 1161), false},
      {"IPv4 printer, IPv6 sender", V4("10.0.0.2", 161), V6("::ffff:10.0.0.2", 161, 0), false},
      {"link-local, same link", V6("fe80::1", 161, 2), V6("fe80::1", 161, 2), true},
      {"link-local, another link", V6("fe80::1", 161, 2), V6("fe80::1", 161, 3), false},
      {"link-local, other port", V6("fe80::1", 161, 2), V6("fe80::1", 162, 2), false},
      {"global IPv6: any link", V6("fd00::2", 161, 0), V6("fd00::2", 161, 0), true},
      {"global IPv6, other address", V6("fd00::2", 161, 0), V6("fd00::3", 161, 0), false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(netio::FromPrinter(row.printer, row.sender), row.taken) << row.what;
  }
}

// The text and the octets are written side by side in the table; here a
// third party, the encoder, checks that they name the same object.
TEST(KnownOids, TextAndEncodedFormAgree) {
  for (const netio::KnownOid* oid :
       {&netio::kSysObjectIdOid, &netio::kSysNameOid, &netio::kDeviceIdOid, &netio::kFwVersionOid,
        &netio::kMcuVersionOid}) {
    unsigned char encoded[128];
    const int n = CNetIO::oidEncode(oid->text, encoded);
    ASSERT_GT(n, 0) << oid->text;
    EXPECT_EQ(std::vector<unsigned char>(encoded, encoded + n),
              std::vector<unsigned char>(oid->encoded, oid->encoded + oid->length))
        << oid->text;
  }
}

// What is already waiting when the deadline has passed is refused, one line
// each: late from the printer, a wrong sender from anyone else.
TEST(ReceiveLoop, DatagramsWaitingAtTheDeadlineAreRefused) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  netio::UdpSocket client(AF_INET), printer(AF_INET), stranger(AF_INET);
  netio::SocketAddress at = V4("127.0.0.1", 0), printerAt = V4("127.0.0.2", 161),
                       strangerAt = V4("127.0.0.3", 161);
  ASSERT_EQ(bind(client.fd(), &at.sa, sizeof at.v4), 0);
  ASSERT_EQ(bind(printer.fd(), &printerAt.sa, sizeof printerAt.v4), 0);
  ASSERT_EQ(bind(stranger.fd(), &strangerAt.sa, sizeof strangerAt.v4), 0);
  socklen_t length = sizeof at.v4;
  ASSERT_EQ(getsockname(client.fd(), &at.sa, &length), 0);
  const unsigned char datagram[] = {0x30, 0x00};
  ASSERT_TRUE(netio::SendRequest(printer.fd(), datagram, sizeof datagram, at));
  ASSERT_TRUE(netio::SendRequest(stranger.fd(), datagram, sizeof datagram, at));

  testnetio::Diagnostics diagnostics;
  const netio::Deadline passed(std::chrono::seconds(0));
  netio::ReceiveLoop loop(client.fd(), passed, std::chrono::seconds(1), &printerAt);
  unsigned char buffer[16];
  EXPECT_EQ(loop.Next(buffer, sizeof buffer), 0);
  EXPECT_EQ(diagnostics.Refusals(),
            (std::vector<std::string>{"127.0.0.2 port 161: after the deadline",
                                      "127.0.0.3 port 161: wrong sender"}));
}

}  // namespace
