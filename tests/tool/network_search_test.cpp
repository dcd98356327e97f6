// usbink over the network, host path: device URIs naming a host (a numeric
// literal or a name from the test's own hosts file), printers played by
// net-snmp agents on a namespace lab, SNMPv1 first and SNMPv3 second.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NetworkLab.h"

namespace {

using tooltest::NetworkLab;
using tooltest::RequestFamilies;

TEST(NetworkSearch, HostPath) {
  std::string why;
  REQUIRE_ENV(NetworkLab::Available(&why), why);
  testenv::TempDir hostsDir;
  // Before any thread exists: the private mounts are the whole process's.
  ASSERT_TRUE(testenv::UsePrivateHosts(hostsDir,
                                       "127.0.0.1 localhost\n"
                                       "10.208.0.3 twin.test\n"
                                       "fd00:208::3 twin.test\n"
                                       "10.208.0.4 v3only.test\n"
                                       "10.208.0.5 othervendor.test\n"
                                       "10.208.0.6 silent.test\n"
                                       "fd00:208::6 silent.test\n",
                                       &why))
      << why;

  NetworkLab net;
  ASSERT_TRUE(net.AddClient(&why)) << why;
  testenv::LabNode* dual = net.AddNode("dual", {}, &why);
  testenv::LabNode* twin = net.AddNode("twin", {}, &why);
  testenv::LabNode* v3only = net.AddNode("v3only", {}, &why);
  testenv::LabNode* othervendor = net.AddNode("othervendor", {}, &why);
  ASSERT_TRUE(dual && twin && v3only && othervendor && net.AddNode("silent", {}, &why)) << why;
  ASSERT_TRUE(net.StartAgent(*dual, tooltest::PrinterV1V3(0x4B), &why)) << why;
  testenv::Snmpd* twinAgent = net.StartAgent(*twin, tooltest::PrinterV1V3(0x3C), &why);
  ASSERT_TRUE(twinAgent) << why;
  // 0x9C: the top bit is not part of the level.
  testenv::Snmpd* v3Agent = net.StartAgent(*v3only, tooltest::PrinterV3Only(0x9C), &why);
  ASSERT_TRUE(v3Agent) << why;
  // Enterprise 2962, one below the vendor's: no authenticated request may follow.
  testenv::Snmpd* otherAgent = net.StartAgent(
      *othervendor, tooltest::PrinterV3Only(0x11, "80000B920300000000000005"), &why);
  ASSERT_TRUE(otherAgent) << why;
  ASSERT_TRUE(net.Finish(&why)) << why;

  const std::vector<tooltest::ToolCase> rows = {
      {"V4Literal", "socket://10.208.0.2:9100", 0, 75},
      {"DualName", "ipp://twin.test:631/ipp/print", 0, 60},
      {"LpdV6Literal", "LPD://[fd00:208::2]/queue", 0, 75},
      {"Unresolved", "ipp://nothing.test/ipp/print", 1, -1},
      {"V3Only", "socket://v3only.test", 0, 0x1C},
      {"OtherVendor", "ipp://othervendor.test/", 255, -1},
      {"Silent", "lpd://silent.test/queue", 255, -1},
  };
  const auto runs = net.RunCases(rows, &why);
  ASSERT_EQ(runs.size(), rows.size()) << why;
  tooltest::ExpectOutcomes(rows, runs);

  // A host with both families costs one attempt, over IPv6: three copies of
  // the SNMPv1 request, answered, so no SNMPv3.
  EXPECT_EQ(RequestFamilies(*twinAgent, 3), "666") << twinAgent->Log();
  // SNMPv1 (three copies, unanswered), then discovery and the authenticated request.
  EXPECT_EQ(RequestFamilies(*v3Agent, 5), "44444") << v3Agent->Log();
  // The discovery answer names another vendor's engine: nothing further.
  EXPECT_EQ(RequestFamilies(*otherAgent, 4), "4444") << otherAgent->Log();
}

}  // namespace
