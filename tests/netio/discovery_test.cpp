// Discovery's request and match, then net-snmp printers and hostile peers in a namespace lab.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "env/Lab.h"
#include "env/Responder.h"
#include "env/Snmpd.h"
#include "netio/SnmpV3.h"
#include "netio/diagnostics.h"
#include "netio/exchange.h"
#include "tests/netio/SnmpV3Peer.h"

namespace {
// Counted on the test's own thread only: the flooder allocates as it likes.
thread_local bool t_counting = false;
long g_allocations = 0;
}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
  if (t_counting) ++g_allocations;
  if (void* p = malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
#pragma GCC diagnostic pop

namespace {

using testenv::Reply;
using testmsg::Bytes;
using Reports = std::map<std::string, int>;  // every report, counted by address text

const char kFirst[] = "1.3.6.1.4.1.2963.1.1";
const char kSecond[] = "1.3.6.1.4.1.2963.2.5";
const char kSecondStart[] = "1.3.6.1.4.1.2963.2";  // a prefix of a target matches
const char kOther[] = "1.3.6.1.4.1.8072.3.2.10";
const char kAnyOid[] = "1.3.6.1.2.1.1.2.0";

bool Collect(char* address, char* second, void* reports) {
  ++(*static_cast<Reports*>(reports))[second ? "second argument set" : address];
  return false;
}

Bytes Encoded(const char* oid) {
  Bytes out(64);
  out.resize(size_t(std::max(0, CNetIO::oidEncode(oid, out.data()))));
  return out;
}

TEST(DiscoveryRequest, IsTheSysObjectIdGetRequestWithTheCommunity) {
  const auto request = [](const char* community, size_t room = 256) {
    Bytes out(room);
    out.resize(size_t(std::max(0, netio::BuildDiscoveryRequest(community, out.data(), room))));
    return out;
  };
  const Bytes expected = testmsg::Hex(
      "30 26 02 01 00 04 06 70 75 62 6C 69 63 A0 19 02 01 00 02 01 00 02 01 00 30 0E 30 0C 06 08 "
      "2B 06 01 02 01 01 02 00 05 00");
  for (const char* community : {static_cast<const char*>(nullptr), "", "public"})
    EXPECT_EQ(request(community), expected);
  EXPECT_EQ(request(std::string(95, 'c').c_str()).size(), 95u + 34);
  // Refused rather than cut: a cut community would ask with another's rights.
  EXPECT_TRUE(request(std::string(96, 'c').c_str()).empty());
  EXPECT_TRUE(request("public", 39).empty());
}

// In sequence on one client: an answer without a sysObjectID is not judged
// by the one before it; four octets never match.
TEST(DiscoveryMatch, PrefixesOfEitherTargetAndNothingStale) {
  CNetIO netio;
  netio.InitTargetOID(kFirst, kSecond);
  const auto answer = [](const char* oid) {
    return testmsg::Response(testmsg::kSysObjectIdOid, 0x06, Encoded(oid));
  };
  for (const auto& [message, match] :
       {std::pair{answer(kSecondStart), 1},
        {testmsg::Response(testmsg::kSysNameOid, 0x04, testmsg::Text("printer")), 0},
        {answer("1.3.6.1.4.1.2963.1.1.7"), 0},
        {answer("1.3.6.1.4"), 0}})
    EXPECT_EQ(netio.parseForOID(message.data(), int(message.size()), nullptr, 0), match);
}

// An authentic answer without a sysObjectID binding (snmpd always sends one)
// must not match on the value the agent before it left behind.
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
  const auto script = [&](const Bytes& toRequest) {
    return testenv::ResponderScript([=](const testenv::Datagram&, size_t index) {
      return index == 0   ? std::vector<Reply>{Reply(report)}
             : index == 1 ? std::vector<Reply>{Reply(toRequest)}
                          : std::vector<Reply>{};
    });
  };
  testenv::Responder wanted(
      "127.0.0.2",
      script(answer(100, {testmsg::kSysObjectIdOid, snmpv3test::Tlv(0x06, Encoded(kFirst))})));
  testenv::Responder bare("127.0.0.3",
                          script(answer(200, {testmsg::kSysNameOid, snmpv3test::Text("printer")})));
  ASSERT_TRUE(wanted.Start(&why)) << why;
  ASSERT_TRUE(bare.Start(&why)) << why;
  CNetIO netio;
  netio.InitTargetOID(kFirst, kSecond);
  Reports first, second;
  SNMPv3MsgID = 100;
  EXPECT_TRUE(netio.FindSnmpV3Agent(nullptr, "127.0.0.2", nullptr, Collect, &first, false));
  EXPECT_EQ(first, (Reports{{"127.0.0.2", 1}}));
  SNMPv3MsgID = 200;
  EXPECT_TRUE(netio.FindSnmpV3Agent(nullptr, "127.0.0.3", nullptr, Collect, &second, false));
  EXPECT_EQ(bare.Received().size(), 2u);
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
    agents_.clear();
    lab_.reset();
  }
  testenv::LabNode* Node(const std::string& name, bool ipv4, bool ipv6) {
    std::string why;
    testenv::LabNode* node = lab_->AddNode(name, {ipv4, ipv6, false}, &why);
    EXPECT_NE(node, nullptr) << why;
    return node;
  }
  void Shell(const testenv::LabNode& node, const std::string& script) {
    testenv::RunResult r = lab_->RunIn(node, {"/bin/sh", "-c", "set -e; " + script});
    EXPECT_EQ(r.exitCode, 0) << script << ": " << r.err << r.out;
  }
  // A second, point-to-point link eth1: MAC 02:00:00:00:01:NN, fe80::ff:fe00:1NN.
  void Link(const testenv::LabNode& a, const testenv::LabNode& b) {
    Shell(a, "ip link add eth1 address 02:00:00:00:01:0" + std::to_string(a.number) +
                 " type veth peer name eth1 address 02:00:00:00:01:0" + std::to_string(b.number) +
                 " netns " + b.netns);
    for (const auto* node : {&a, &b})
      Shell(*node,
            "sysctl -q -w net.ipv6.conf.eth1.accept_dad=0 && ip link set eth1 addrgenmode eui64 && "
            "ip link set eth1 up");
  }
  static std::string LinkLocalOfEth1(const testenv::LabNode& n) {
    return "fe80::ff:fe00:10" + std::to_string(n.number);
  }
  testenv::Snmpd* Agent(const testenv::LabNode& printer, const std::string& sysObjectID,
                        const std::string& engine = "") {
    testenv::SnmpdConfig config;
    config.sysObjectID = sysObjectID;
    config.v1 = engine.empty();
    config.engineIdHex = engine;
    if (!engine.empty()) config.users = {testnetio::Configured()};
    std::string why;
    agents_.push_back(std::make_unique<testenv::Snmpd>(config));
    EXPECT_TRUE(lab_->Enter(printer, &why)) << why;
    EXPECT_TRUE(agents_.back()->Start(&why)) << why;
    return agents_.back().get();
  }
  // The log is read once it holds the expected count, never before.
  static void ExpectRequests(const testenv::Snmpd* agent, int count) {
    agent->WaitForRequests(count, std::chrono::seconds(2));
    EXPECT_EQ(agent->RequestCount(), count) << agent->Log();
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

// One printer answers with a target, one with the start of the other, one
// with another object; the first also sits on a second link.
TEST_F(Discovery, V1BroadcastReportsEachMatchingAnswerFromEveryIPv4Interface) {
  testenv::LabNode *client = Node("client", true, false), *first = Node("first", true, false),
                   *second = Node("second", true, false), *other = Node("other", true, false);
  ASSERT_FALSE(HasFailure());
  Link(*client, *first);
  // Only the two links: loopback would cost a silent second.
  Shell(*client, "ip addr del 127.0.0.1/8 dev lo && ip addr add 10.209.0.1/24 dev eth1");
  Shell(*first, "ip addr add 10.209.0.2/24 dev eth1");
  testenv::Snmpd *firstAgent = Agent(*first, kFirst), *secondAgent = Agent(*second, kSecondStart),
                 *otherAgent = Agent(*other, kOther);
  Enter(*client);
  ASSERT_FALSE(HasFailure());
  netio_.InitTargetOID(kFirst, kSecond);
  Reports reports;
  EXPECT_TRUE(netio_.FindSnmpAgent(nullptr, "255.255.255.255", kAnyOid, Collect, &reports, true));
  // Three sends per interface, every answer reported: no de-duplication.
  EXPECT_EQ(reports, (Reports{{first->ipv4, 3}, {"10.209.0.2", 3}, {second->ipv4, 3}}));
  ExpectRequests(firstAgent, 6);
  ExpectRequests(secondAgent, 3);
  ExpectRequests(otherAgent, 3);
}

// The client has lo (1), eth0 (2) with no IPv6 agent, and eth1 (3) to the
// printer: the scan fails on loopback, meets silence and finds index 3;
// the second call sends on index 3 only (scanning on a remembered scope once
// sent the same request up to 65536 times).
TEST_F(Discovery, V1ScanProbesOnceThenUsesTheRememberedIndex) {
  testenv::LabNode *client = Node("client", true, true), *printer = Node("printer", true, false);
  ASSERT_FALSE(HasFailure());
  Link(*client, *printer);
  Shell(*client, "ip -6 route add multicast ff00::/8 dev eth0 table local metric 1");
  testenv::Snmpd* agent = Agent(*printer, kFirst);
  Enter(*client);
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(if_nametoindex("eth1"), 3u);
  netio_.InitTargetOID(kFirst, kSecond);
  const std::string printerV6 = LinkLocalOfEth1(*printer);
  for (const int v6Answers : {1, 3}) {
    Reports reports;
    EXPECT_TRUE(netio_.FindSnmpAgent3Times(nullptr, kAnyOid, Collect, &reports));
    EXPECT_EQ(reports, (Reports{{printer->ipv4, 3}, {printerV6, v6Answers}}));
    EXPECT_EQ(scope_id, 3);
    EXPECT_STREQ(g_ifsName, "%eth1");
    ExpectRequests(agent, v6Answers == 1 ? 4 : 10);
  }
}

// Printers that answer SNMPv3 only: one we look for, one of another kind, one
// whose engine ID has another enterprise's form.
TEST_F(Discovery, V3ReportsOnlyTheAuthenticatedMatchingAgentByBroadcastAndMulticast) {
  testenv::LabNode *client = Node("client", true, true), *wanted = Node("wanted", true, true),
                   *other = Node("other", true, true), *foreign = Node("foreign", true, true);
  ASSERT_FALSE(HasFailure());
  Shell(*client, "ip addr del 127.0.0.1/8 dev lo");
  testenv::Snmpd *wantedAgent = Agent(*wanted, kFirst, "80000B930300000000AA01"),
                 *otherAgent = Agent(*other, kOther, "80000B930300000000AA02"),
                 *foreignAgent = Agent(*foreign, kFirst, "80000B920300000000AA03");
  Enter(*client);
  ASSERT_FALSE(HasFailure());
  netio_.InitTargetOID(kFirst, kSecond);
  Reports byBroadcast, byMulticast;
  EXPECT_TRUE(
      netio_.FindSnmpV3Agent("unused", "255.255.255.255", "unused", Collect, &byBroadcast, true));
  EXPECT_EQ(byBroadcast, (Reports{{wanted->ipv4, 1}}));
  scope_id = 7;  // a scope once remembered is never moved
  EXPECT_TRUE(netio_.FindSnmpV3Agent(nullptr, "ff02::1", nullptr, Collect, &byMulticast, false));
  EXPECT_EQ(byMulticast, (Reports{{wanted->linkLocal, 1}}));
  EXPECT_EQ(scope_id, 7);
  // Per scan the engine-ID request, then the authenticated one where the engine ID is accepted.
  for (const testenv::Snmpd* agent : {wantedAgent, otherAgent}) ExpectRequests(agent, 4);
  ExpectRequests(foreignAgent, 2);
}

// The printer on eth0 stays silent; an impostor on the client's eth1 holds
// its link-local address and answers to the client's only ports every few
// milliseconds. Taken, it once gave its level as the printer's.
TEST_F(Discovery, ASecondLinkHoldingThePrintersLinkLocalAddressIsNotTaken) {
  testenv::LabNode *client = Node("client", false, true), *printer = Node("printer", false, true),
                   *impostor = Node("impostor", false, true);
  ASSERT_FALSE(HasFailure());
  Link(*client, *impostor);
  Shell(*impostor, "ip addr add " + printer->linkLocal + "/64 dev eth1 nodad");
  Shell(*client, "sysctl -q -w net.ipv4.ip_local_port_range='40000 40001'");
  std::string why;
  Enter(*printer);
  testenv::Responder silent("::",
                            [](const testenv::Datagram&, size_t) { return std::vector<Reply>{}; });
  ASSERT_TRUE(silent.Start(&why)) << why;
  Enter(*impostor);
  netio::SocketAddress local{}, targets[2];
  ASSERT_TRUE(
      netio::ParseNumericAddress((printer->linkLocal + "%eth1").c_str(), AF_INET6, 161, &local));
  const int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
  ASSERT_EQ(bind(fd, &local.sa, sizeof local.v6), 0) << strerror(errno);
  for (uint16_t i = 0; i < 2; ++i)
    ASSERT_TRUE(netio::ParseNumericAddress((LinkLocalOfEth1(*client) + "%eth1").c_str(), AF_INET6,
                                           uint16_t(40000 + i), &targets[i]));
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
  char name[256] = "untouched";
  EXPECT_EQ(NetworkReadStatusV6("public", host.c_str(), &status), 0);
  EXPECT_EQ(netio_.TavraNetworkGetPrinterName(host.c_str(), 0, name, 256), -1);
  EXPECT_STREQ(name, "untouched");
  EXPECT_TRUE(silent.WaitForRequests(6, std::chrono::milliseconds(2000)))
      << "the requests left by eth0";
}

// IPv4 and UDP headers and `payload`, from `source`:161 to `to`.
std::vector<uint8_t> Forged(uint32_t source, const sockaddr_in& to, const Bytes& payload) {
  std::vector<uint8_t> packet(sizeof(iphdr) + sizeof(udphdr) + payload.size());
  auto* ip = reinterpret_cast<iphdr*>(packet.data());
  ip->version = 4, ip->ihl = 5, ip->ttl = 64, ip->protocol = IPPROTO_UDP;
  ip->tot_len = htons(static_cast<uint16_t>(packet.size()));
  ip->saddr = htonl(source), ip->daddr = to.sin_addr.s_addr;
  auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
  udp->source = htons(161), udp->dest = to.sin_port;
  udp->len = htons(static_cast<uint16_t>(sizeof(udphdr) + payload.size()));
  memcpy(packet.data() + sizeof(iphdr) + sizeof(udphdr), payload.data(), payload.size());
  return packet;
}

// Matching answers from 3000 forged sources, twice over, in one scan: at most
// 1024 agents are reported and the allocations stay those of the agents kept.
// Unbounded, it once grew to millions of agents and hundreds of megabytes.
TEST_F(Discovery, AFloodOfForgedAgentsKeepsAtMost1024) {
  testenv::LabNode *client = Node("client", true, false), *flooder = Node("flooder", true, false);
  ASSERT_FALSE(HasFailure());
  Shell(*client, "sysctl -q -w net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.eth0.rp_filter=0");
  Enter(*flooder);
  netio::SocketAddress local{};
  ASSERT_TRUE(netio::ParseNumericAddress("0.0.0.0", AF_INET, 161, &local));
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
      for (int pass = 0; pass < 2 && !stop_; ++pass) {
        for (uint32_t i = 0; i < 3000 && !stop_; ++i) {
          const auto packet =
              Forged((10u << 24) | (99u << 16) | (i / 250 << 8) | (i % 250 + 1), client, answer);
          sendto(raw, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&client),
                 sizeof client);
          std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
      }
    }
    close(listener);
    close(raw);
  });
  Enter(*client);
  netio_.InitTargetOID(kFirst, kSecond);
  netio::SetDiagnosticsSink(nullptr);
  Reports reports;
  g_allocations = 0;
  t_counting = true;
  EXPECT_TRUE(netio_.FindSnmpAgent("public", "255.255.255.255", kFirst, Collect, &reports, true));
  t_counting = false;
  EXPECT_EQ(reports.size(), 1024u);
  EXPECT_LT(g_allocations, 1024 + 64);  // one map node per agent kept, and a little for the scan
}

}  // namespace
