// usbink over the network, service path: "mdns" and "dnssd" device URIs name
// a _printer._tcp service that a real Avahi daemon on the lab publishes, with
// chosen addresses that lead to net-snmp agents on printer nodes. The client
// node resolves through an Avahi daemon of its own, on its own D-Bus.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "NetworkLab.h"

namespace {

using namespace std::chrono_literals;
using tooltest::NetworkLab;
using tooltest::RequestFamilies;

// The resolver's wait for a service that announces fewer than two addresses.
constexpr auto kServiceWait = 3s;

testenv::NodeOptions LinkLocalOnly() {
  testenv::NodeOptions o;
  o.ipv4 = false;
  o.ipv6Global = false;
  return o;
}

TEST(NetworkSearch, ServicePath) {
  std::string why;
  REQUIRE_ENV(NetworkLab::Available(&why), why);
  REQUIRE_ENV(testenv::Lab::AvahiAvailable(&why), why);

  NetworkLab net;
  ASSERT_TRUE(net.AddClient(&why)) << why;
  testenv::Lab& lab = net.lab();
  testenv::LabNode* registry = net.AddNode("registry", {}, &why);
  testenv::LabNode* dual = net.AddNode("dual", {}, &why);
  testenv::LabNode* v3only = net.AddNode("v3only", {}, &why);
  testenv::LabNode* link = net.AddNode("link", LinkLocalOnly(), &why);
  testenv::LabNode* linkV3 = net.AddNode("linkv3", LinkLocalOnly(), &why);
  testenv::LabNode* quiet = net.AddNode("quiet", {}, &why);
  ASSERT_TRUE(registry && dual && v3only && link && linkV3 && quiet) << why;
  ASSERT_TRUE(lab.StartAvahi(net.client(), &why)) << why;
  ASSERT_TRUE(lab.StartAvahi(*registry, &why)) << why;

  testenv::Snmpd* dualAgent = net.StartAgent(*dual, tooltest::PrinterV1V3(0x4B), &why);
  ASSERT_TRUE(dualAgent) << why;
  testenv::Snmpd* v3Agent = net.StartAgent(*v3only, tooltest::PrinterV3Only(0x9C), &why);
  ASSERT_TRUE(v3Agent) << why;
  testenv::Snmpd* linkAgent = net.StartAgent(*link, tooltest::PrinterV1V3(0x3C), &why);
  ASSERT_TRUE(linkAgent) << why;
  testenv::Snmpd* linkV3Agent = net.StartAgent(*linkV3, tooltest::PrinterV3Only(0x22), &why);
  ASSERT_TRUE(linkV3Agent) << why;
  // Another vendor's engine: every read fails, and each one shows in the log.
  testenv::Snmpd* quietAgent = net.StartAgent(
      *quiet, tooltest::PrinterV3Only(0x11, "80000B920300000000000007"), &why);
  ASSERT_TRUE(quietAgent) << why;
  ASSERT_TRUE(lab.WaitReady(&why)) << why;

  lab.PublishAddress(*registry, "dual.local", dual->ipv4);
  lab.PublishAddress(*registry, "dual.local", dual->ipv6);
  lab.PublishService(*registry, "Dual Laser", "_printer._tcp", 515, "dual.local");
  lab.PublishAddress(*registry, "v3.local", v3only->ipv4);
  lab.PublishAddress(*registry, "v3.local", v3only->ipv6);
  lab.PublishService(*registry, "V3 Laser", "_printer._tcp", 515, "v3.local");
  lab.PublishAddress(*registry, "single.local", dual->ipv4);
  lab.PublishService(*registry, "Single Laser", "_printer._tcp", 515, "single.local");
  // Link-local only, as many printers announce themselves.
  lab.PublishAddress(*registry, "link.local", link->linkLocal);
  lab.PublishService(*registry, "Link Laser", "_printer._tcp", 515, "link.local");
  lab.PublishAddress(*registry, "linkv3.local", linkV3->linkLocal);
  lab.PublishService(*registry, "Link V3 Laser", "_printer._tcp", 515, "linkv3.local");
  lab.PublishAddress(*registry, "quiet.local", quiet->ipv4);
  lab.PublishAddress(*registry, "quiet.local", quiet->ipv6);
  lab.PublishService(*registry, "Quiet Laser", "_printer._tcp", 515, "quiet.local");
  ASSERT_TRUE(lab.WaitReady(&why)) << why;

  ASSERT_TRUE(net.Finish(&why)) << why;
  lab.UseBusOf(net.client());

  const std::vector<tooltest::ToolCase> rows = {
      {"Dual", "dnssd://Dual%20Laser._printer._tcp.local./?uuid=1", 0, 75},
      {"V3Only", "MDNS://V3%20Laser._printer._tcp.local.", 0, 0x1C},
      {"Single", "DNSSD://Single%20Laser._printer._tcp.local./", 0, 75},
      {"Missing", "mdns://Missing%20Laser._printer._tcp.local./", 1, -1},
      {"LinkLocal", "mdns://Link%20Laser._printer._tcp.local.", 0, 60},
      {"LinkLocalV3", "dnssd://Link%20V3%20Laser._printer._tcp.local./", 0, 0x22},
      {"Quiet", "dnssd://Quiet%20Laser._printer._tcp.local./", 255, -1},
  };
  const auto runs = net.RunCases(rows, &why);
  ASSERT_EQ(runs.size(), rows.size()) << why;

  tooltest::ExpectOutcomes(rows, runs);
  // The wait ends as soon as both addresses are known; one address waits it out.
  ASSERT_STREQ(rows[0].queue, "Dual");
  ASSERT_STREQ(rows[2].queue, "Single");
  EXPECT_LT(runs[0].elapsed, kServiceWait);
  EXPECT_GE(runs[2].elapsed, kServiceWait);

  // Whichever family answered first was tried, and only that one: SNMPv1
  // unanswered, then SNMPv3 succeeds and ends the search.
  const std::string v3Requests = RequestFamilies(*v3Agent);
  EXPECT_TRUE(v3Requests == "44444" || v3Requests == "66666") << v3Agent->Log();
  // Each address in turn gets SNMPv1 (three copies) and SNMPv3 (discovery
  // only) before the next one is tried.
  const std::string quietRequests = RequestFamilies(*quietAgent);
  EXPECT_TRUE(quietRequests == "44446666" || quietRequests == "66664444") << quietAgent->Log();

  // Link-local printers are reached through the interface the service was seen on.
  EXPECT_EQ(RequestFamilies(*linkAgent), "666") << linkAgent->Log();
  EXPECT_EQ(RequestFamilies(*linkV3Agent), "66666") << linkV3Agent->Log();
}

}  // namespace
