// The exchange layer's rules, and what every entry point refuses before a socket exists.
#include "netio/exchange.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"

namespace {
int g_sockets = 0;
}  // namespace

// The C library's own sockets (getifaddrs) do not come through here.
extern "C" int socket(int domain, int type, int protocol) noexcept {
  ++g_sockets;
  return static_cast<int>(syscall(SYS_socket, domain, type, protocol));
}

namespace {

netio::SocketAddress At(const char* text, uint16_t port, uint32_t scope = 0) {
  netio::SocketAddress a{};
  EXPECT_TRUE(netio::ParseNumericAddress(text, AF_UNSPEC, port, &a)) << text;
  if (a.sa.sa_family == AF_INET6) a.v6.sin6_scope_id = scope;
  return a;
}

TEST(PrinterDestination, NumericTextsZonesAndTheDiscoveredScope) {
  const uint32_t lo = if_nametoindex("lo");
  const std::string longest = "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255";
  const struct {
    std::string host;
    int scope;  // scope_id, as discovery leaves it
    const char* address;
    uint32_t scopeId;
  } rows[] = {
      {"127.0.0.1", 0, "127.0.0.1", 0},
      {"::1", 0, "::1", 0},
      {"fe80::ff:fe00:2%lo", 0, "fe80::ff:fe00:2", lo},
      {"fe80::1%" + std::to_string(lo), 0, "fe80::1", lo},
      {"fe80::1%4294967295", 0, "fe80::1", 4294967295u},
      {"fe80::1%lo", 7, "fe80::1", 7},  // a scope chosen by discovery wins over the zone
      {longest, 0, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 0},
  };
  for (const auto& row : rows) {
    scope_id = row.scope;
    netio::SocketAddress to{};
    const bool ok = netio::PrinterDestination(row.host.c_str(), AF_UNSPEC, &to);
    scope_id = 0;
    ASSERT_TRUE(ok) << row.host;
    char text[INET6_ADDRSTRLEN];
    EXPECT_STREQ(netio::AddressText(to, text, sizeof text), row.address) << row.host;
    const bool v6 = to.sa.sa_family == AF_INET6;
    EXPECT_EQ(v6 ? to.v6.sin6_port : to.v4.sin_port, htons(161)) << row.host;
    EXPECT_EQ(v6 ? to.v6.sin6_scope_id : 0u, row.scopeId) << row.host;
  }
  // The resolver's IPv4 forms reach another host than the one written.
  for (const std::string& host : std::vector<std::string>{
           "127.1", "010.0.0.1", "0x7f.0.0.1", "2130706433", "1.2.3.4%lo", "fd00::1%lo",
           longest + "%lo", "fe80::1%", "fe80::1%0", "fe80::1%4294967296",
           "fe80::1%" + std::string(IF_NAMESIZE, 'x'), "fe80::1%lo%lo", "[::1]", " ::1",
           "127.0.0.1.", std::string(4096, ':')}) {
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
    netio::SocketAddress printer, sender;
    bool taken;
  } rows[] = {
      {At("10.0.0.2", 161), At("10.0.0.2", 161), true},
      {At("10.0.0.2", 161), At("10.0.0.3", 161), false},
      {At("10.0.0.2", 161), At("10.0.0.2", 1161), false},
      {At("10.0.0.2", 161), At("::ffff:10.0.0.2", 161), false},
      {At("fe80::1", 161, 2), At("fe80::1", 161, 2), true},
      {At("fe80::1", 161, 2), At("fe80::1", 161, 3), false},
      {At("fe80::1", 161, 2), At("fe80::1", 162, 2), false},
      {At("fd00::2", 161, 0), At("fd00::2", 161, 5), true},
      {At("fd00::2", 161), At("fd00::3", 161), false},
      {At("fd00::2", 161), At("fd00::2", 1161), false},
  };
  for (size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(netio::FromPrinter(rows[i].printer, rows[i].sender), rows[i].taken) << "row " << i;
}

// What already waits when the deadline has passed is refused, the printer's too.
TEST(ReceiveLoop, DatagramsWaitingAtTheDeadlineAreRefused) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  netio::UdpSocket client(AF_INET), printer(AF_INET);
  netio::SocketAddress at = At("127.0.0.1", 0), printerAt = At("127.0.0.2", 161);
  ASSERT_EQ(bind(client.fd(), &at.sa, sizeof at.v4), 0);
  ASSERT_EQ(bind(printer.fd(), &printerAt.sa, sizeof printerAt.v4), 0);
  socklen_t length = sizeof at.v4;
  ASSERT_EQ(getsockname(client.fd(), &at.sa, &length), 0);
  const unsigned char datagram[] = {0x30, 0x00};
  ASSERT_TRUE(netio::SendRequest(printer.fd(), datagram, sizeof datagram, at));
  netio::ReceiveLoop loop(client.fd(), netio::Deadline(std::chrono::seconds(0)),
                          std::chrono::seconds(1), &printerAt);
  unsigned char buffer[16];
  EXPECT_EQ(loop.Next(buffer, sizeof buffer), 0);
}

// Agents are told apart by family, address and, for IPv6, the link.
TEST(AgentCap, KeepsTheFirst1024AgentsAndCountsTheAnswersOfTheRest) {
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

TEST(InterfaceTable, TheKernelsOrderAndExactNames) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  // veth registers the peer first: the kernel's order is not the names' order.
  const auto made = testenv::Run({"/bin/sh", "-c", "ip link add en0 type veth peer name en1"});
  REQUIRE_ENV(made.exitCode == 0, "cannot make a veth pair: " + made.err);
  ifs_info* list = get_ifs_info(0, 0);
  std::vector<std::pair<std::string, int>> pairs;
  for (const ifs_info* node = list; node; node = node->next)
    pairs.emplace_back(node->ifs_name, node->ifs_index);
  EXPECT_EQ(pairs, (decltype(pairs){{"lo", 1}, {"en1", 2}, {"en0", 3}}));
  for (const auto& [name, index] : std::vector<std::pair<const char*, int>>{
           {"en0", 3}, {"en1", 2}, {"EN0", 4}, {"en", 4}, {"en00", 4}, {nullptr, 4}})
    EXPECT_EQ(find_ifscope_id(list, name), index) << (name ? name : "null");
  EXPECT_EQ(find_ifname(list, 3), list->next->next);
  EXPECT_EQ(find_ifname(list, 4), nullptr);
  free_ifs_info(list);
}

using Entry = std::function<bool(CNetIO&, const char*)>;
using Find = bool (CNetIO::*)(char const*, char const*, char const*, SearchAgentCallback, void*,
                              bool);

// A discovery entry point's refusal: `result`, and nothing found.
Entry Discover(Find find, const char* community = "public", const char* oid = "1.3.6.1.4.1",
               bool result = true) {
  return [=](CNetIO& n, const char* h) {
    int found = 0;
    const auto count = [](char*, char*, void* c) { return ++*static_cast<int*>(c), false; };
    return (n.*find)(community, h, oid, count, &found, true) == result && found == 0;
  };
}

// Refused with no socket opened: a name would become a broadcast or a lookup.
TEST(Refusal, AddressFormsOidsAndCommunitiesAtEveryEntryPoint) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  netio::SetDiagnosticsSink(nullptr);
  const auto expect = [](const std::string& what, const char* host, const Entry& refuses) {
    CNetIO netio;
    g_sockets = 0;
    EXPECT_TRUE(refuses(netio, host) && g_sockets == 0)
        << what << ": " << host << ", sockets " << g_sockets;
  };
  PRINTER_STATUS s;
  char a[64], b[64], c[64];
  const Entry entries[] = {
      [&](CNetIO&, const char* h) {
        return NetworkReadStatus("public", h, nullptr) == 0 &&
               NetworkReadStatusV6("public", h, nullptr) == 0 &&
               NetworkReadStatusSNMPv3("public", h, &s) == 0 &&
               NetworkReadStatusV6SNMPv3("public", h, &s) == 0;
      },
      [&](CNetIO& n, const char* h) {
        return n.TavraNetworkGetPrinterName(h, 0, a, sizeof a) == -1 &&
               !n.NetSnmpGetV4(h, "public", "1.3.6.1.2.1.1.5.0", a, sizeof a) &&
               !n.NetSnmpGetV6(h, "public", "1.3.6.1.2.1.1.5.0", a, sizeof a) &&
               n.TavraNetworkGetNameAndFwAndMCUVersion(h, a, b, c, 64) == -1 &&
               n.NetworkConnect(h, 9100) == -1;
      },
      Discover(&CNetIO::FindSnmpAgent),
      Discover(&CNetIO::FindSnmpAgentV6_),
      Discover(&CNetIO::FindSnmpAgentV6),
      Discover(&CNetIO::FindSnmpV3Agent),
      Discover(&CNetIO::FindSnmpV3AgentV6_),
  };
  for (const char* form : {"127.1", "010.0.0.1", "1.2.3.4%lo", "fd00::1%lo", "fe80::1%nosuchif",
                           "localhost", "127.0.0.1 ", ""})
    for (size_t i = 0; i < std::size(entries); ++i)
      expect("entry " + std::to_string(i), form, entries[i]);
  const std::string tooLong(96, 'c');  // a community over 95 octets
  for (const auto& [host, find, community, oid] :
       {std::tuple{"255.255.255.255", &CNetIO::FindSnmpAgent, "", "1.3.a"},
        {"ff02::1", &CNetIO::FindSnmpAgentV6_, "", "1"},
        {"ff02::1", &CNetIO::FindSnmpAgentV6, "", "x"},
        {"255.255.255.255", &CNetIO::FindSnmpAgent, tooLong.c_str(), "1.3.6"}})
    expect(oid, host, Discover(find, community, oid, false));
  for (const auto& [community, oid] : {std::pair{"public", "1.3.6.c"}, {tooLong.c_str(), "1.3.6"}})
    expect("both", oid, [&](CNetIO& n, const char*) {
      return !n.FindSnmpAgent3Times(community, oid, nullptr, nullptr);
    });
  // The count does see the library's sockets.
  g_sockets = 0;
  EXPECT_EQ(NetworkReadStatus("public", "127.0.0.1", &s), 0);
  EXPECT_EQ(g_sockets, 1);
}

}  // namespace
