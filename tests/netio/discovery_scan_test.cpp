// SNMPv1 discovery by interface-index scan. The client has lo (1), eth0 (2)
// on the bridge, where no IPv6 agent answers, and eth1 (3), a link of its
// own to the printer; scope 0 is routed out of eth0. So the scan meets a
// silent step, a failed one (loopback has no multicast), another silent
// one, and finds the printer at index 3.
#include <gtest/gtest.h>
#include <net/if.h>

#include <map>
#include <string>

#include "tests/netio/DiscoveryLab.h"

namespace {

using namespace discoverytest;

class ScanDiscovery : public DiscoveryLab {
 protected:
  void SetUp() override {
    DiscoveryLab::SetUp();
    if (IsSkipped() || HasFailure()) return;
    testenv::NodeOptions client;
    client.ipv6Global = false;
    testenv::NodeOptions printer;
    printer.ipv6 = false;
    client_ = Node("client", client);
    printer_ = Node("printer", printer);
    ASSERT_FALSE(HasFailure());
    Link(*client_, *printer_);
    Shell(*client_, "ip -6 route add multicast ff00::/8 dev eth0 table local metric 1");
    agent_ = Agent(*printer_, V1Printer(kFirstTarget));
    EnterClient(*client_);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(if_nametoindex("eth1"), 3u);
    netio_.InitTargetOID(kFirstTarget, kSecondTarget);
  }

  int IPv6Requests() const { return Occurrences(agent_->Log(), "Connection from UDP/IPv6"); }

  testenv::LabNode* client_ = nullptr;
  testenv::LabNode* printer_ = nullptr;
  testenv::Snmpd* agent_ = nullptr;
  CNetIO netio_;
  Diagnostics diagnostics_;
  Reports reports_;
};

TEST_F(ScanDiscovery, FindsTheAgentAtItsInterfaceIndexAfterTheSilentSteps) {
  EXPECT_TRUE(netio_.FindSnmpAgentV6("public", "ff02::1", kAnyOid, Reports::Collect, &reports_,
                                     false));
  const std::map<std::string, int> expected = {{LinkLocalOfEth1(*printer_), 3}};
  EXPECT_EQ(reports_.count, expected) << diagnostics_.Text();
  EXPECT_EQ(scope_id, 3);
  EXPECT_STREQ(g_ifsName, "%eth1");
  // Steps 0 to 3, and none after the one that was answered.
  EXPECT_EQ(diagnostics_.Count("\nfound="), 4) << diagnostics_.Text();
  EXPECT_EQ(diagnostics_.Count(" index = 1"), 1);
  EXPECT_EQ(diagnostics_.Count("RecvAddr.sin6_scope_id=3"), 1);
  EXPECT_EQ(diagnostics_.Count("szAddr=" + LinkLocalOfEth1(*printer_) + "\n"), 3);
  EXPECT_EQ(IPv6Requests(), 3);
}

// With the scope remembered every step would send the same request to the
// same interface, up to 65536 times: one step is made.
TEST_F(ScanDiscovery, MakesOneStepOnARememberedScope) {
  scope_id = 2;
  EXPECT_TRUE(netio_.FindSnmpAgentV6("public", "ff02::1", kAnyOid, Reports::Collect, &reports_,
                                     false));
  EXPECT_EQ(reports_.total, 0);
  EXPECT_EQ(diagnostics_.Count("\nfound="), 1) << diagnostics_.Text();
  EXPECT_EQ(diagnostics_.Count("[if] scope_id=2"), 1);
  EXPECT_EQ(scope_id, 2);
  EXPECT_EQ(IPv6Requests(), 0);
}

TEST_F(ScanDiscovery, BothFamiliesProbeOnceThenUseTheRememberedIndex) {
  EXPECT_TRUE(netio_.FindSnmpAgent3Times(nullptr, kAnyOid, Reports::Collect, &reports_));
  // Three broadcasts, one probe answered at index 3.
  const std::map<std::string, int> first = {{printer_->ipv4, 3}, {LinkLocalOfEth1(*printer_), 1}};
  EXPECT_EQ(reports_.count, first) << diagnostics_.Text();
  EXPECT_EQ(IPv6Requests(), 1);
  EXPECT_EQ(scope_id, 3);
  EXPECT_STREQ(g_ifsName, "%eth1");
  EXPECT_EQ(diagnostics_.Count("sendto failed"), 1);

  // The second call sends three times on index 3 and probes nowhere else.
  diagnostics_.Clear();
  Reports again;
  EXPECT_TRUE(netio_.FindSnmpAgent3Times(nullptr, kAnyOid, Reports::Collect, &again));
  const std::map<std::string, int> second = {{printer_->ipv4, 3}, {LinkLocalOfEth1(*printer_), 3}};
  EXPECT_EQ(again.count, second) << diagnostics_.Text();
  EXPECT_EQ(IPv6Requests(), 4);
  EXPECT_EQ(diagnostics_.Count("sendto failed"), 0) << diagnostics_.Text();
  EXPECT_EQ(scope_id, 3);
}

}  // namespace
