// Peers that attack the exchange layer, each in a lab of namespaces of the
// test's own: a second link holding the printer's link-local address, and a
// keyless peer holding a scan with Reports and junk.
#include <gtest/gtest.h>
#include <net/if.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "env/Responder.h"
#include "netio/exchange.h"
#include "tests/netio/DiscoveryLab.h"
#include "tests/netio/Messages.h"
#include "tests/netio/SnmpV3Messages.h"
#include "tests/netio/SnmpV3Peer.h"

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

}  // namespace
