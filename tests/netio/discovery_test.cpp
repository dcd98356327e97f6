// The exchange layer's address rules and refusals, discovery's match, then net-snmp printers and
// hostile peers in a namespace lab.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "env/Lab.h"
#include "env/Responder.h"
#include "env/Snmpd.h"
#include "netio/SnmpV3.h"
#include "netio/diagnostics.h"
#include "netio/exchange.h"
#include "tests/netio/SnmpV3Peer.h"

// Sockets opened through the library; the C library's own (getifaddrs) do not come through here.
static int g_sockets = 0;
extern "C" int socket(int domain, int type, int protocol) noexcept {
  ++g_sockets;
  return static_cast<int>(syscall(SYS_socket, domain, type, protocol));
}

namespace {

using testenv::Reply;
using testmsg::Bytes;
using Reports = std::map<std::string, int>;  // every report, counted by address text

const char kFirst[] = "1.3.6.1.4.1.2963.1.1";
const char kSecond[] = "1.3.6.1.4.1.2963.2.5";
const char kSecondStart[] = "1.3.6.1.4.1.2963.2";  // a prefix of a target matches
const char kOther[] = "1.3.6.1.4.1.8072.3.2.10";

bool Collect(char* address, char* second, void* reports) {
  ++(*static_cast<Reports*>(reports))[second ? "second argument set" : address];
  return false;
}

Bytes Encoded(const char* oid) {
  Bytes out(64);
  out.resize(size_t(std::max(0, CNetIO::oidEncode(oid, out.data()))));
  return out;
}

netio::SocketAddress At(const char* text, uint16_t port, uint32_t scope = 0) {
  netio::SocketAddress a{};
  EXPECT_TRUE(netio::ParseNumericAddress(text, AF_UNSPEC, port, &a)) << text;
  if (a.sa.sa_family == AF_INET6) a.v6.sin6_scope_id = scope;
  return a;
}

TEST(PrinterDestination, NumericTextsZonesAndTheDiscoveredScope) {
  const uint32_t lo = if_nametoindex("lo");
  // host, scope_id as discovery leaves it, the address and scope to send to
  for (const auto& [host, scope, address, scopeId] :
       std::vector<std::tuple<std::string, int, const char*, uint32_t>>{
           {"127.0.0.1", 0, "127.0.0.1", 0},
           {"fe80::1%" + std::to_string(lo), 0, "fe80::1", lo},
           {"fe80::1%4294967295", 0, "fe80::1", 4294967295u},
           {"fe80::1%lo", 7, "fe80::1", 7}}) {  // a scope chosen by discovery wins over the zone
    scope_id = scope;
    netio::SocketAddress to{};
    const bool ok = netio::PrinterDestination(host.c_str(), AF_UNSPEC, &to);
    scope_id = 0;
    ASSERT_TRUE(ok) << host;
    char text[INET6_ADDRSTRLEN];
    EXPECT_STREQ(netio::AddressText(to, text, sizeof text), address) << host;
    EXPECT_EQ(to.sa.sa_family == AF_INET6 ? to.v6.sin6_scope_id : 0u, scopeId) << host;
  }
  netio::SocketAddress to;
  EXPECT_FALSE(netio::PrinterDestination("127.0.0.1", AF_INET6, &to));
}

TEST(FromPrinter, AddressPortAndForALinkLocalPrinterItsInterface) {
  for (const auto& [printer, sender, taken] :
       std::vector<std::tuple<netio::SocketAddress, netio::SocketAddress, bool>>{
           {At("10.0.0.2", 161), At("10.0.0.2", 161), true},
           {At("10.0.0.2", 161), At("10.0.0.3", 161), false},
           {At("10.0.0.2", 161), At("10.0.0.2", 1161), false},
           {At("fe80::1", 161, 2), At("fe80::1", 161, 2), true},
           {At("fe80::1", 161, 2), At("fe80::1", 161, 3), false},
           {At("fd00::2", 161, 0), At("fd00::2", 161, 5), true}})
    EXPECT_EQ(netio::FromPrinter(printer, sender), taken);
}

// Refused with no socket opened: a name would become a broadcast or a lookup.
TEST(Refusal, AddressFormsOidsAndCommunitiesAtEveryEntryPoint) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  netio::SetDiagnosticsSink(nullptr);
  using Find =
      bool (CNetIO::*)(char const*, char const*, char const*, SearchAgentCallback, void*, bool);
  int found = 0;
  const SearchAgentCallback count = [](char*, char*, void* c) {
    return ++*static_cast<int*>(c), false;
  };
  CNetIO n;
  PRINTER_STATUS s;
  char a[64], b[64], c[64];
  for (const std::string& form :
       std::vector<std::string>{"127.1", "1.2.3.4%lo", "fd00::1%lo", "fe80::1%4294967296",
                                "fe80::1%nosuchif", std::string(4096, ':'), "localhost", ""}) {
    const char* h = form.c_str();
    g_sockets = 0;
    bool refused = NetworkReadStatus("public", h, nullptr) == 0 &&
                   NetworkReadStatusV6("public", h, nullptr) == 0 &&
                   NetworkReadStatusSNMPv3("public", h, &s) == 0 &&
                   NetworkReadStatusV6SNMPv3("public", h, &s) == 0 &&
                   n.TavraNetworkGetPrinterName(h, 0, a, sizeof a) == -1 &&
                   !n.NetSnmpGetV4(h, "public", "1.3.6.1.2.1.1.5.0", a, sizeof a) &&
                   !n.NetSnmpGetV6(h, "public", "1.3.6.1.2.1.1.5.0", a, sizeof a) &&
                   n.TavraNetworkGetNameAndFwAndMCUVersion(h, a, b, c, 64) == -1 &&
                   n.NetworkConnect(h, 9100) == -1;
    for (Find find : {&CNetIO::FindSnmpAgent, &CNetIO::FindSnmpAgentV6_, &CNetIO::FindSnmpAgentV6,
                      &CNetIO::FindSnmpV3Agent, &CNetIO::FindSnmpV3AgentV6_})
      refused = refused && (n.*find)("public", h, "1.3.6.1.4.1", count, &found, true);
    EXPECT_TRUE(refused && g_sockets == 0 && found == 0) << h << ", sockets " << g_sockets;
  }
  const std::string tooLong(96, 'c');  // a community over 95 octets
  g_sockets = 0;
  EXPECT_FALSE(n.FindSnmpAgent(tooLong.c_str(), "255.255.255.255", "1.3.6", count, &found, true));
  EXPECT_FALSE(n.FindSnmpAgent3Times("public", "1.3.6.c", nullptr, nullptr));
  EXPECT_EQ(g_sockets + found, 0);
  EXPECT_EQ(NetworkReadStatus("public", "127.0.0.1", &s), 0);
  EXPECT_EQ(g_sockets, 1);
}

// One client in sequence: no answer is judged by a stale sysObjectID; four octets never match.
TEST(DiscoveryMatch, PrefixesOfEitherTargetAndNothingStale) {
  CNetIO netio;
  netio.InitTargetOID(kFirst, kSecond);
  const auto answer = [](const char* oid) {
    return testmsg::Response(testmsg::kSysObjectIdOid, 0x06, Encoded(oid));
  };
  for (const auto& [message, match] :
       {std::pair{answer(kSecondStart), 1},
        {testmsg::Response(testmsg::kSysNameOid, 0x04, testmsg::Text("printer")), 0},
        {answer("1.3.6.1.4"), 0}})
    EXPECT_EQ(netio.parseForOID(message.data(), int(message.size()), nullptr, 0), match);
}

// An authentic answer without sysObjectID (snmpd always sends one) must not match on a stale one.
TEST(V3DiscoveryFromResponder, AnAnswerWithoutASysObjectIdNeverMatchesOnAnEarlierOne) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  const testnetio::Keys keys = testnetio::LocalisedKeys(testnetio::kEngine);
  const Bytes report = snmpv3test::Encode(snmpv3test::Report(testnetio::kEngine, 7, 4000));
  const auto answer = [&](uint16_t msgId, const snmpv3test::Binding& binding) {
    snmpv3test::Message m = snmpv3test::Response(testnetio::kEngine, testnetio::Configured().name,
                                                 keys.auth, keys.priv, "");
    m.msgId = msgId + 1;  // each scan's discovery takes one msgID first
    m.bindings = {binding};
    return snmpv3test::Encode(m);
  };
  const Bytes wanted =
                  answer(100, {testmsg::kSysObjectIdOid, snmpv3test::Tlv(0x06, Encoded(kFirst))}),
              bare = answer(200, {testmsg::kSysNameOid, snmpv3test::Text("printer")});
  testenv::Responder printer("127.0.0.2", [=](const testenv::Datagram&, size_t i) {
    return std::vector<Reply>{{i % 2 == 0 ? report : i == 1 ? wanted : bare}};
  });
  ASSERT_TRUE(printer.Start(&why)) << why;
  CNetIO netio;
  netio.InitTargetOID(kFirst, kSecond);
  Reports first, second;
  SNMPv3MsgID = 100;
  EXPECT_TRUE(netio.FindSnmpV3Agent(nullptr, "127.0.0.2", nullptr, Collect, &first, false));
  EXPECT_EQ(first, (Reports{{"127.0.0.2", 1}}));
  SNMPv3MsgID = 200;
  EXPECT_TRUE(netio.FindSnmpV3Agent(nullptr, "127.0.0.2", nullptr, Collect, &second, false));
  EXPECT_EQ(printer.Received().size(), 4u);
  EXPECT_TRUE(second.empty());
}

class Discovery : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::Lab::Available(&why), why);
    REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
    lab_ = std::make_unique<testenv::Lab>();
  }
  void TearDown() override {
    stop_ = true;
    if (sender_.joinable()) sender_.join();
  }
  testenv::LabNode* Node(const std::string& name, bool ipv4, bool ipv6) {
    std::string why;
    testenv::LabNode* node = lab_->AddNode(name, {ipv4, ipv6, false}, &why);
    EXPECT_NE(node, nullptr) << why;
    return node;
  }
  void Shell(const testenv::LabNode& node, const std::string& script) {
    const testenv::RunResult r = testenv::Run({testenv::FindProgram("ip"), "netns", "exec",
                                               node.netns, "/bin/sh", "-c", "set -e; " + script});
    EXPECT_EQ(r.exitCode, 0) << script << ": " << r.err << r.out;
  }
  testenv::Snmpd* Agent(const testenv::LabNode& printer, const std::string& sysObjectID,
                        const std::string& engine) {
    testenv::SnmpdConfig config;
    config.sysObjectID = sysObjectID;
    config.engineIdHex = engine;
    config.users = {testnetio::Configured()};
    std::string why;
    agents_.push_back(std::make_unique<testenv::Snmpd>(config));
    EXPECT_TRUE(lab_->Enter(printer, &why)) << why;
    EXPECT_TRUE(agents_.back()->Start(&why)) << why;
    return agents_.back().get();
  }
  void Enter(const testenv::LabNode& node) {
    std::string why;
    ASSERT_TRUE(lab_->Enter(node, &why)) << why;
  }

  std::unique_ptr<testenv::Lab> lab_;
  std::vector<std::unique_ptr<testenv::Snmpd>> agents_;
  CNetIO netio_;
  std::thread sender_;
  std::atomic<bool> stop_{false};
};

// Printers answering both versions: one we look for, one of another kind, one whose engine ID
// has another enterprise's form. SNMPv1 has no engine to judge.
TEST_F(Discovery, V1ReportsEveryMatchV3OnlyTheAuthenticatedOneByBroadcastAndMulticast) {
  testenv::LabNode *client = Node("client", true, true), *wanted = Node("wanted", true, true),
                   *other = Node("other", true, true), *foreign = Node("foreign", true, true);
  ASSERT_FALSE(HasFailure());
  // Only eth0: loopback would cost a silent second.
  Shell(*client, "ip addr del 127.0.0.1/8 dev lo");
  testenv::Snmpd *wantedAgent = Agent(*wanted, kFirst, "80000B930300000000AA01"),
                 *otherAgent = Agent(*other, kOther, "80000B930300000000AA02"),
                 *foreignAgent = Agent(*foreign, kFirst, "80000B920300000000AA03");
  Enter(*client);
  ASSERT_FALSE(HasFailure());
  netio_.InitTargetOID(kFirst, kSecond);
  Reports byV1, byBroadcast, byMulticast;
  EXPECT_TRUE(
      netio_.FindSnmpAgent(nullptr, "255.255.255.255", "1.3.6.1.2.1.1.2.0", Collect, &byV1, true));
  EXPECT_EQ(byV1, (Reports{{wanted->ipv4, 3}, {foreign->ipv4, 3}}));
  EXPECT_TRUE(
      netio_.FindSnmpV3Agent("unused", "255.255.255.255", "unused", Collect, &byBroadcast, true));
  EXPECT_EQ(byBroadcast, (Reports{{wanted->ipv4, 1}}));
  scope_id = 7;  // a scope once remembered is never moved
  EXPECT_TRUE(netio_.FindSnmpV3Agent(nullptr, "ff02::1", nullptr, Collect, &byMulticast, false));
  EXPECT_EQ(byMulticast, (Reports{{wanted->linkLocal, 1}}));
  EXPECT_EQ(scope_id, 7);
  for (const auto& [agent, count] :
       {std::pair{wantedAgent, 3 + 4}, {otherAgent, 3 + 4}, {foreignAgent, 3 + 2}})
    EXPECT_EQ(agent->WaitForRequests(count, std::chrono::seconds(2)), count) << agent->Log();
}

// The printer on eth0 stays silent; an impostor on eth1 holds its link-local address and answers
// the client's only ports every 2 ms. Taken, it once gave its level as the printer's.
TEST_F(Discovery, ASecondLinkHoldingThePrintersLinkLocalAddressIsNotTaken) {
  testenv::LabNode *client = Node("client", false, true), *printer = Node("printer", false, true),
                   *impostor = Node("impostor", false, true);
  ASSERT_FALSE(HasFailure());
  // A second, point-to-point link eth1: the client's end is fe80::ff:fe00:101.
  Shell(*client, "ip link add eth1 address 02:00:00:00:01:01 type veth peer name eth1 netns " +
                     impostor->netns);
  for (const auto* node : {client, impostor})
    Shell(*node,
          "sysctl -q -w net.ipv6.conf.eth1.accept_dad=0 && ip link set eth1 addrgenmode eui64 && "
          "ip link set eth1 up");
  Shell(*impostor, "ip addr add " + printer->linkLocal + "/64 dev eth1 nodad");
  Shell(*client, "sysctl -q -w net.ipv4.ip_local_port_range='40000 40001'");
  std::string why;
  Enter(*printer);
  testenv::Responder silent("::",
                            [](const testenv::Datagram&, size_t) { return std::vector<Reply>{}; });
  ASSERT_TRUE(silent.Start(&why)) << why;
  Enter(*impostor);
  const uint32_t eth1 = if_nametoindex("eth1");
  const netio::SocketAddress local = At(printer->linkLocal.c_str(), 161, eth1),
                             targets[2] = {At("fe80::ff:fe00:101", 40000, eth1),
                                           At("fe80::ff:fe00:101", 40001, eth1)};
  const int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
  ASSERT_EQ(bind(fd, &local.sa, sizeof local.v6), 0) << strerror(errno);
  const Bytes answer =
      testmsg::Response(testmsg::kDeviceIdOid, 0x04, testmsg::Text(testenv::DeviceIdWithLevel(77)));
  sender_ = std::thread([this, fd, answer, targets] {
    for (int i = 0; i < 5000 && !stop_; ++i) {
      for (const auto& to : targets)
        sendto(fd, answer.data(), answer.size(), 0, &to.sa, sizeof to.v6);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    close(fd);
  });
  Enter(*client);
  netio::SetDiagnosticsSink(nullptr);
  const std::string host = printer->linkLocal + "%eth0";
  PRINTER_STATUS status{};
  EXPECT_EQ(NetworkReadStatusV6("public", host.c_str(), &status), 0);
  EXPECT_TRUE(silent.WaitForRequests(3, std::chrono::milliseconds(2000)))
      << "the requests left by eth0";
}

// Matching answers from 3000 forged sources in one scan: at most 1024 agents are
// reported. Unbounded, it once grew to millions of agents and hundreds of megabytes.
TEST_F(Discovery, AFloodOfForgedAgentsKeepsAtMost1024) {
  testenv::LabNode *client = Node("client", true, false), *flooder = Node("flooder", true, false);
  ASSERT_FALSE(HasFailure());
  Shell(*client, "sysctl -q -w net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.eth0.rp_filter=0");
  Enter(*flooder);
  const netio::SocketAddress local = At("0.0.0.0", 161);
  const int listener = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(bind(listener, &local.sa, netio::AddressLength(local)), 0) << strerror(errno);
  const int raw = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
  ASSERT_GE(raw, 0) << strerror(errno);
  const Bytes answer = testmsg::Response(testmsg::kSysObjectIdOid, 0x06, Encoded(kFirst));
  sender_ = std::thread([this, listener, raw, answer] {
    timeval wait{10, 0};
    setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    unsigned char request[256];
    sockaddr_in client{};
    socklen_t length = sizeof client;
    if (recvfrom(listener, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&client),
                 &length) > 0) {
      std::vector<uint8_t> packet(sizeof(iphdr) + sizeof(udphdr) + answer.size());
      auto* ip = reinterpret_cast<iphdr*>(packet.data());
      auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
      ip->version = 4, ip->ihl = 5, ip->ttl = 64, ip->protocol = IPPROTO_UDP;
      ip->tot_len = htons(static_cast<uint16_t>(packet.size()));
      ip->daddr = client.sin_addr.s_addr;
      udp->source = htons(161), udp->dest = client.sin_port;
      udp->len = htons(static_cast<uint16_t>(sizeof(udphdr) + answer.size()));
      memcpy(packet.data() + sizeof(iphdr) + sizeof(udphdr), answer.data(), answer.size());
      for (uint32_t i = 0; i < 3000 && !stop_; ++i) {
        ip->saddr = htonl((10u << 24) | (99u << 16) | (i / 250 << 8) | (i % 250 + 1));
        sendto(raw, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&client),
               sizeof client);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    }
    close(listener);
    close(raw);
  });
  Enter(*client);
  netio_.InitTargetOID(kFirst, kSecond);
  netio::SetDiagnosticsSink(nullptr);
  Reports reports;
  EXPECT_TRUE(netio_.FindSnmpAgent("public", "255.255.255.255", kFirst, Collect, &reports, true));
  EXPECT_EQ(reports.size(), 1024u);
}

}  // namespace
