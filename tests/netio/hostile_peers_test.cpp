// Peers that attack the exchange layer, each in a lab of namespaces of the
// test's own: a second link holding the printer's link-local address, a
// keyless peer holding a scan with Reports and junk, and a flood of forged
// agents.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "env/Responder.h"
#include "netio/exchange.h"
#include "tests/netio/DiscoveryLab.h"
#include "tests/netio/Messages.h"
#include "tests/netio/SnmpV3Messages.h"
#include "tests/netio/SnmpV3Peer.h"

namespace {

// Counted on the test's own thread only: the flooder allocates as it likes.
thread_local bool t_counting = false;
long g_allocations = 0;

}  // namespace

// Every allocation of the program while a test counts them. GCC takes the
// malloc and free of a replacement pair for a mismatch.
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

using namespace discoverytest;
using std::chrono::milliseconds;
using testenv::Reply;

class HostilePeers : public DiscoveryLab {
 protected:
  void TearDown() override {
    stop_ = true;
    if (sender_.joinable()) sender_.join();
    DiscoveryLab::TearDown();
  }

  CNetIO netio_;
  std::thread sender_;
  std::atomic<bool> stop_{false};
};

// The client's requests leave by eth0 to the printer, which stays silent; an
// impostor on the client's eth1 holds the printer's link-local address and
// answers every few milliseconds to the client's only ports. Taken, it once
// gave its level as the printer's.
TEST_F(HostilePeers, ASecondLinkHoldingThePrintersLinkLocalAddressIsNotTaken) {
  testenv::LabNode* client = Node("client", false, true);
  testenv::LabNode* printer = Node("printer", false, true);
  testenv::LabNode* impostor = Node("impostor", false, true);
  ASSERT_FALSE(HasFailure());
  Link(*client, *impostor);
  Shell(*impostor, "ip addr add " + printer->linkLocal + "/64 dev eth1 nodad");
  Shell(*client, "sysctl -q -w net.ipv4.ip_local_port_range='40000 40001'");
  std::string why;
  ASSERT_TRUE(lab_->Enter(*printer, &why)) << why;
  testenv::Responder silent("::",
                            [](const testenv::Datagram&, size_t) { return std::vector<Reply>{}; });
  ASSERT_TRUE(silent.Start(&why)) << why;
  ASSERT_TRUE(lab_->Enter(*impostor, &why)) << why;
  netio::SocketAddress local{};
  ASSERT_TRUE(netio::ParseNumericAddress((printer->linkLocal + "%eth1").c_str(), AF_INET6, 161,
                                         &local));
  const int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
  ASSERT_EQ(bind(fd, &local.sa, sizeof local.v6), 0) << strerror(errno);
  const std::string eth1 = std::to_string(if_nametoindex("eth1"));
  const testmsg::Bytes answer =
      testmsg::Response(testmsg::kDeviceIdOid, 0x04, testmsg::Text(testenv::DeviceIdWithLevel(77)));
  netio::SocketAddress targets[2];
  for (uint16_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(netio::ParseNumericAddress((LinkLocalOfEth1(*client) + "%eth1").c_str(), AF_INET6,
                                           static_cast<uint16_t>(40000 + i), &targets[i]));
  }
  sender_ = std::thread([this, fd, answer, targets] {
    for (int i = 0; i < 5000 && !stop_; ++i) {
      for (const auto& to : targets)
        sendto(fd, answer.data(), answer.size(), 0, &to.sa, sizeof to.v6);
      std::this_thread::sleep_for(milliseconds(2));
    }
    close(fd);
  });
  EnterClient(*client);

  const std::string host = printer->linkLocal + "%eth0";
  const std::string line = printer->linkLocal + "%" + eth1 + " port 161: wrong sender";
  for (const bool statusRead : {true, false}) {
    Diagnostics diagnostics;
    PRINTER_STATUS status{};
    char name[256];
    EXPECT_FALSE(statusRead ? NetworkReadStatusV6("public", host.c_str(), &status) == 1
                            : netio_.TavraNetworkGetPrinterName(host.c_str(), 0, name, 256) == 0);
    const auto refusals = diagnostics.Refusals();
    EXPECT_NE(std::find(refusals.begin(), refusals.end(), line), refusals.end())
        << diagnostics.Text();
  }
  EXPECT_TRUE(silent.WaitForRequests(6, milliseconds(2000))) << "the requests left by eth0";
}

// A peer without any key answers the discovery request with junk every half
// second and a Report late in the scan, and the authenticated request with
// junk: the interface's scan still ends 30 s after it began (the loops' own
// caps once added up to 60 s).
TEST_F(HostilePeers, AKeylessPeerCannotHoldAnSnmpV3ScanPastItsDeadline) {
  testenv::LabNode* client = Node("client", true, false);
  testenv::LabNode* peer = Node("peer", true, false);
  ASSERT_FALSE(HasFailure());
  std::vector<Reply> toDiscovery, toRequest;
  for (int i = 0; i < 58; ++i)
    toDiscovery.push_back(Reply(snmpv3test::Hex("30 00"), milliseconds(500 * i)));
  toDiscovery.push_back(Reply(snmpv3test::Encode(snmpv3test::Report(testnetio::kEngine, 7, 4000)),
                              milliseconds(29000)));
  for (int i = 0; i < 80; ++i)
    toRequest.push_back(Reply(snmpv3test::Hex("30 00"), milliseconds(500 * i)));
  std::string why;
  ASSERT_TRUE(lab_->Enter(*peer, &why)) << why;
  testenv::Responder keyless(peer->ipv4, [&](const testenv::Datagram&, size_t index) {
    return index == 0 ? toDiscovery : index == 1 ? toRequest : std::vector<Reply>{};
  });
  ASSERT_TRUE(keyless.Start(&why)) << why;
  EnterClient(*client);

  const auto start = std::chrono::steady_clock::now();
  Reports reports;
  EXPECT_TRUE(
      netio_.FindSnmpV3Agent(nullptr, peer->ipv4.c_str(), nullptr, Collect, &reports, false));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(40));
  EXPECT_EQ(keyless.Received().size(), 2u) << "the late Report drew its request";
  keyless.Stop();
}

// IPv4 and UDP headers and `payload`, from `source`:161 to `to`.
std::vector<uint8_t> Forged(uint32_t source, const sockaddr_in& to, const testmsg::Bytes& payload) {
  std::vector<uint8_t> packet(sizeof(iphdr) + sizeof(udphdr) + payload.size());
  auto* ip = reinterpret_cast<iphdr*>(packet.data());
  ip->version = 4;
  ip->ihl = 5;
  ip->ttl = 64;
  ip->protocol = IPPROTO_UDP;
  ip->tot_len = htons(static_cast<uint16_t>(packet.size()));
  ip->saddr = htonl(source);
  ip->daddr = to.sin_addr.s_addr;
  auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
  udp->source = htons(161);
  udp->dest = to.sin_port;
  udp->len = htons(static_cast<uint16_t>(sizeof(udphdr) + payload.size()));
  memcpy(packet.data() + sizeof(iphdr) + sizeof(udphdr), payload.data(), payload.size());
  return packet;
}

// Matching answers from 3000 forged sources, twice over, during one scan:
// at most 1024 agents are reported, the rest counted, and the program's
// allocations stay those of the agents kept. Unbounded, it once grew to
// millions of agents and hundreds of megabytes in one scan.
TEST_F(HostilePeers, AFloodOfForgedAgentsKeepsAtMost1024) {
  testenv::LabNode* client = Node("client", true, false);
  testenv::LabNode* flooder = Node("flooder", true, false);
  ASSERT_FALSE(HasFailure());
  Shell(*client, "sysctl -q -w net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.eth0.rp_filter=0");
  std::string why;
  ASSERT_TRUE(lab_->Enter(*flooder, &why)) << why;
  netio::SocketAddress local{};
  ASSERT_TRUE(netio::ParseNumericAddress("0.0.0.0", AF_INET, 161, &local));
  const int listener = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(bind(listener, &local.sa, netio::AddressLength(local)), 0) << strerror(errno);
  const int raw = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
  ASSERT_GE(raw, 0) << strerror(errno);
  unsigned char target[64];
  const int targetLength = CNetIO::oidEncode(kFirstTarget, target);
  const testmsg::Bytes answer = testmsg::Response(testmsg::kSysObjectIdOid, 0x06,
                                                  testmsg::Bytes(target, target + targetLength));
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
  EnterClient(*client);
  netio_.InitTargetOID(kFirstTarget, kSecondTarget);

  Diagnostics diagnostics;
  Reports reports;
  g_allocations = 0;
  t_counting = true;
  EXPECT_TRUE(netio_.FindSnmpAgent("public", "255.255.255.255", kFirstTarget, Collect, &reports,
                                   true));
  t_counting = false;
  EXPECT_EQ(reports.size(), 1024u);
  EXPECT_NE(diagnostics.Text().find("beyond the first 1024 dropped"), std::string::npos);
  // One map node per agent kept, and a little for the scan itself.
  EXPECT_LT(g_allocations, 1024 + 64);
}

}  // namespace
