// usbink over the network, service path: "mdns" and "dnssd" device URIs name
// a _printer._tcp service that a real Avahi daemon on the lab publishes, with
// chosen addresses that lead to net-snmp agents on printer nodes. The client
// node resolves through an Avahi daemon of its own, on its own D-Bus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NetworkLab.h"

namespace {

using tooltest::NetworkLab;
using tooltest::RequestFamilies;

TEST(NetworkSearch, ServicePath) {
  std::string why;
  REQUIRE_ENV(NetworkLab::Available(&why), why);
  REQUIRE_ENV(testenv::Lab::AvahiAvailable(&why), why);

  NetworkLab net;
  ASSERT_TRUE(net.AddClient(&why)) << why;
  testenv::Lab& lab = net.lab();
  testenv::NodeOptions linkLocalOnly;
  linkLocalOnly.ipv4 = false;
  linkLocalOnly.ipv6Global = false;
  testenv::LabNode* registry = net.AddNode("registry", {}, &why);
  testenv::LabNode* dual = net.AddNode("dual", {}, &why);
  testenv::LabNode* link = net.AddNode("link", linkLocalOnly, &why);
  testenv::LabNode* quiet = net.AddNode("quiet", {}, &why);
  ASSERT_TRUE(registry && dual && link && quiet) << why;
  ASSERT_TRUE(lab.StartAvahi(net.client(), &why)) << why;
  ASSERT_TRUE(lab.StartAvahi(*registry, &why)) << why;

  testenv::Snmpd* dualAgent = net.StartAgent(*dual, tooltest::PrinterV1V3(0x4B), &why);
  ASSERT_TRUE(dualAgent) << why;
  testenv::Snmpd* linkAgent = net.StartAgent(*link, tooltest::PrinterV3Only(0x22), &why);
  ASSERT_TRUE(linkAgent) << why;
  // Another vendor's engine: every read fails, and each one shows in the log.
  testenv::Snmpd* quietAgent = net.StartAgent(
      *quiet, tooltest::PrinterV3Only(0x11, "80000B920300000000000007"), &why);
  ASSERT_TRUE(quietAgent) << why;
  ASSERT_TRUE(lab.WaitReady(&why)) << why;

  lab.PublishAddress(*registry, "dual.local", dual->ipv4);
  lab.PublishAddress(*registry, "dual.local", dual->ipv6);
  lab.PublishService(*registry, "Dual Laser", "_printer._tcp", 515, "dual.local");
  // Link-local only, as many printers announce themselves.
  lab.PublishAddress(*registry, "link.local", link->linkLocal);
  lab.PublishService(*registry, "Link Laser", "_printer._tcp", 515, "link.local");
  lab.PublishAddress(*registry, "quiet.local", quiet->ipv4);
  lab.PublishAddress(*registry, "quiet.local", quiet->ipv6);
  lab.PublishService(*registry, "Quiet Laser", "_printer._tcp", 515, "quiet.local");
  ASSERT_TRUE(lab.WaitReady(&why)) << why;

  ASSERT_TRUE(net.Finish(&why)) << why;
  lab.UseBusOf(net.client());

  const std::vector<tooltest::ToolCase> rows = {
      {"Dual", "dnssd://Dual%20Laser._printer._tcp.local./?uuid=1", 0, 75},
      {"Missing", "mdns://Missing%20Laser._printer._tcp.local./", 1, -1},
      {"LinkLocal", "MDNS://Link%20Laser._printer._tcp.local.", 0, 0x22},
      {"Quiet", "DNSSD://Quiet%20Laser._printer._tcp.local./", 255, -1},
  };
  const auto runs = net.RunCases(rows, &why);
  ASSERT_EQ(runs.size(), rows.size()) << why;
  tooltest::ExpectOutcomes(rows, runs);

  // Whichever family answered first was tried, and only that one.
  const std::string dualRequests = RequestFamilies(*dualAgent, 3);
  EXPECT_TRUE(dualRequests == "444" || dualRequests == "666") << dualAgent->Log();
  // Each address in turn gets SNMPv1 (three copies) and SNMPv3 (discovery
  // only) before the next one is tried.
  const std::string quietRequests = RequestFamilies(*quietAgent, 8);
  EXPECT_TRUE(quietRequests == "44446666" || quietRequests == "66664444") << quietAgent->Log();
  // A link-local printer is reached through the interface the service was
  // seen on, for SNMPv1 and for SNMPv3.
  EXPECT_EQ(RequestFamilies(*linkAgent, 5), "66666") << linkAgent->Log();
}

}  // namespace
