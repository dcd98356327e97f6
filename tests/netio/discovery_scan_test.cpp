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
    client_ = Node("client", true, true);
    printer_ = Node("printer", true, false);
    ASSERT_FALSE(HasFailure());
    Link(*client_, *printer_);
    Shell(*client_, "ip -6 route add multicast ff00::/8 dev eth0 table local metric 1");
    agent_ = V1Agent(*printer_, kFirstTarget);
    EnterClient(*client_);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(if_nametoindex("eth1"), 3u);
    netio_.InitTargetOID(kFirstTarget, kSecondTarget);
    printerV6_ = LinkLocalOfEth1(*printer_);
  }

  testenv::LabNode *client_ = nullptr, *printer_ = nullptr;
  testenv::Snmpd* agent_ = nullptr;
  std::string printerV6_;
  CNetIO netio_;
  Diagnostics diagnostics_;
  Reports reports_;
};

TEST_F(ScanDiscovery, FindsTheAgentAtItsInterfaceIndexAfterTheSilentSteps) {
  EXPECT_TRUE(netio_.FindSnmpAgentV6("public", "ff02::1", kAnyOid, Collect, &reports_,
                                     false));
  EXPECT_EQ(reports_, (Reports{{printerV6_, 3}})) << diagnostics_.Text();
  EXPECT_EQ(scope_id, 3);
  EXPECT_STREQ(g_ifsName, "%eth1");
  // Steps 0 to 3, and none after the one that was answered.
  EXPECT_EQ(diagnostics_.Count("\nfound="), 4) << diagnostics_.Text();
  ExpectRequests(agent_, 3);
}

// With the scope remembered every step would send the same request to the
// same interface, up to 65536 times: one step is made.
TEST_F(ScanDiscovery, MakesOneStepOnARememberedScope) {
  scope_id = 2;
  EXPECT_TRUE(netio_.FindSnmpAgentV6("public", "ff02::1", kAnyOid, Collect, &reports_,
                                     false));
  EXPECT_EQ(reports_.size(), 0u);
  EXPECT_EQ(diagnostics_.Count("\nfound="), 1) << diagnostics_.Text();
  EXPECT_EQ(scope_id, 2);
  ExpectRequests(agent_, 0);
}

TEST_F(ScanDiscovery, BothFamiliesProbeOnceThenUseTheRememberedIndex) {
  EXPECT_TRUE(netio_.FindSnmpAgent3Times(nullptr, kAnyOid, Collect, &reports_));
  // Three broadcasts, one probe answered at index 3 after loopback's failed send.
  EXPECT_EQ(reports_, (Reports{{printer_->ipv4, 3}, {printerV6_, 1}}))
      << diagnostics_.Text();
  EXPECT_EQ(scope_id, 3);
  EXPECT_STREQ(g_ifsName, "%eth1");
  EXPECT_EQ(diagnostics_.Count("sendto failed"), 1);
  ExpectRequests(agent_, 4);

  // The second call sends three times on index 3 and probes nowhere else.
  Diagnostics again;
  reports_.clear();
  EXPECT_TRUE(netio_.FindSnmpAgent3Times(nullptr, kAnyOid, Collect, &reports_));
  EXPECT_EQ(reports_, (Reports{{printer_->ipv4, 3}, {printerV6_, 3}})) << again.Text();
  EXPECT_EQ(again.Count("sendto failed"), 0) << again.Text();
  ExpectRequests(agent_, 10);
}

}  // namespace
