// The exchange layer's rules on their own: the printer's destination, the
// sender rule with its zone, the late datagrams and the agents one scan keeps.
#include "netio/exchange.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <string>
#include <vector>

#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "tests/netio/Diagnostics.h"

namespace {

netio::SocketAddress At(const char* text, uint16_t port, uint32_t scope = 0) {
  netio::SocketAddress a{};
  EXPECT_TRUE(netio::ParseNumericAddress(text, AF_UNSPEC, port, &a)) << text;
  if (a.sa.sa_family == AF_INET6) a.v6.sin6_scope_id = scope;
  return a;
}

TEST(PrinterDestination, NumericTextsZonesAndTheDiscoveredScope) {
  const uint32_t lo = if_nametoindex("lo");
  ASSERT_NE(lo, 0u);
  const std::string longest = "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255";  // 45 characters
  const struct {
    std::string host;
    int family;
    int scope;            // scope_id, as discovery leaves it
    const char* address;  // expected numeric text
    uint32_t scopeId;
  } rows[] = {
      {"127.0.0.1", AF_UNSPEC, 0, "127.0.0.1", 0},
      {"::1", AF_UNSPEC, 0, "::1", 0},
      {"fe80::ff:fe00:2%lo", AF_INET6, 0, "fe80::ff:fe00:2", lo},
      {"fe80::1%" + std::to_string(lo), AF_UNSPEC, 0, "fe80::1", lo},
      {"fe80::1%4294967295", AF_INET6, 0, "fe80::1", 4294967295u},
      // A scope chosen by discovery wins over the zone.
      {"fe80::1%lo", AF_INET6, 7, "fe80::1", 7},
      {"fe80::1", AF_INET6, 7, "fe80::1", 7},
      {longest, AF_INET6, 0, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 0},
  };
  for (const auto& row : rows) {
    scope_id = row.scope;
    netio::SocketAddress to{};
    const bool ok = netio::PrinterDestination(row.host.c_str(), row.family, &to);
    scope_id = 0;
    ASSERT_TRUE(ok) << row.host;
    char text[INET6_ADDRSTRLEN];
    EXPECT_STREQ(netio::AddressText(to, text, sizeof text), row.address) << row.host;
    const bool v6 = to.sa.sa_family == AF_INET6;
    EXPECT_EQ(v6 ? to.v6.sin6_port : to.v4.sin_port, htons(161)) << row.host;
    EXPECT_EQ(v6 ? to.v6.sin6_scope_id : 0u, row.scopeId) << row.host;
  }
  // Refused, `to` untouched: the resolver's IPv4 forms, which reach another
  // host than the one written, a zone off link-local or a bad one, the wrong
  // family, other forms.
  const std::string refused[] = {
      "127.1", "010.0.0.1", "0x7f.0.0.1", "2130706433", "1.2.3.4%lo", "fd00::1%lo",
      longest + "%lo", "fe80::1%", "fe80::1%0", "fe80::1%4294967296",
      "fe80::1%" + std::string(IF_NAMESIZE, 'x'), "fe80::1%lo%lo", "[::1]", " ::1", "127.0.0.1.",
      std::string(4096, ':')};
  for (const std::string& host : refused) {
    netio::SocketAddress to;
    memset(&to, 0xEE, sizeof to);
    EXPECT_FALSE(netio::PrinterDestination(host.c_str(), AF_UNSPEC, &to)) << host;
    EXPECT_EQ(to.sa.sa_family, 0xEEEE) << host;
  }
  netio::SocketAddress to;
  EXPECT_FALSE(netio::PrinterDestination("127.0.0.1", AF_INET6, &to));
  EXPECT_FALSE(netio::PrinterDestination("::1", AF_INET, &to));
}

TEST(FromPrinter, AddressPortAndForALinkLocalPrinterItsInterface) {
  const struct {
    const char* what;
    netio::SocketAddress printer, sender;
    bool taken;
  } rows[] = {
      {"IPv4 printer", At("10.0.0.2", 161), At("10.0.0.2", 161), true},
      {"IPv4, other address", At("10.0.0.2", 161), At("10.0.0.3", 161), false},
      {"IPv4, other port", At("10.0.0.2", 161), At("10.0.0.2", 1161), false},
      {"IPv4 printer, IPv6 sender", At("10.0.0.2", 161), At("::ffff:10.0.0.2", 161), false},
      {"link-local, same link", At("fe80::1", 161, 2), At("fe80::1", 161, 2), true},
      {"link-local, another link", At("fe80::1", 161, 2), At("fe80::1", 161, 3), false},
      {"link-local, other port", At("fe80::1", 161, 2), At("fe80::1", 162, 2), false},
      {"global IPv6: any link", At("fd00::2", 161, 0), At("fd00::2", 161, 5), true},
      {"global IPv6, other address", At("fd00::2", 161), At("fd00::3", 161), false},
      {"global IPv6, other port", At("fd00::2", 161), At("fd00::2", 1161), false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(netio::FromPrinter(row.printer, row.sender), row.taken) << row.what;
  }
}

// What is already waiting when the deadline has passed is refused, one line
// each: late from the printer, a wrong sender from anyone else.
TEST(ReceiveLoop, DatagramsWaitingAtTheDeadlineAreRefused) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  netio::UdpSocket client(AF_INET), printer(AF_INET), stranger(AF_INET);
  netio::SocketAddress at = At("127.0.0.1", 0), printerAt = At("127.0.0.2", 161),
                       strangerAt = At("127.0.0.3", 161);
  ASSERT_EQ(bind(client.fd(), &at.sa, sizeof at.v4), 0);
  ASSERT_EQ(bind(printer.fd(), &printerAt.sa, sizeof printerAt.v4), 0);
  ASSERT_EQ(bind(stranger.fd(), &strangerAt.sa, sizeof strangerAt.v4), 0);
  socklen_t length = sizeof at.v4;
  ASSERT_EQ(getsockname(client.fd(), &at.sa, &length), 0);
  const unsigned char datagram[] = {0x30, 0x00};
  ASSERT_TRUE(netio::SendRequest(printer.fd(), datagram, sizeof datagram, at));
  ASSERT_TRUE(netio::SendRequest(stranger.fd(), datagram, sizeof datagram, at));

  testnetio::Diagnostics diagnostics;
  netio::ReceiveLoop loop(client.fd(), netio::Deadline(std::chrono::seconds(0)),
                          std::chrono::seconds(1), &printerAt);
  unsigned char buffer[16];
  EXPECT_EQ(loop.Next(buffer, sizeof buffer), 0);
  EXPECT_EQ(diagnostics.Refusals(),
            (std::vector<std::string>{"127.0.0.2 port 161: after the deadline",
                                      "127.0.0.3 port 161: wrong sender"}));
}

// Agents are told apart by family, address and, for IPv6, the link.
TEST(AgentCap, KeepsTheFirst1024AgentsAndCountsTheAnswersOfTheRest) {
  testnetio::Diagnostics diagnostics;
  {
    netio::AgentCap cap;
    for (uint32_t i = 0; i < 1023; ++i) {
      netio::SocketAddress agent{};
      agent.v4.sin_family = AF_INET;
      agent.v4.sin_addr.s_addr = htonl(0x0A000001 + i);
      EXPECT_TRUE(cap.Admit(agent)) << i;
    }
    EXPECT_TRUE(cap.Admit(At("fe80::1", 161, 2)));
    EXPECT_FALSE(cap.Admit(At("fe80::1", 161, 3)));
    EXPECT_FALSE(cap.Admit(At("::ffff:10.0.0.1", 161)));
    EXPECT_TRUE(cap.Admit(At("10.0.0.1", 161)));  // a kept agent answers again
    EXPECT_TRUE(cap.Admit(At("fe80::1", 161, 2)));
    EXPECT_EQ(cap.dropped(), 2u);
  }
  EXPECT_EQ(diagnostics.Text(), "2 answers of agents beyond the first 1024 dropped\n");
}

}  // namespace
