// SNMPv1 discovery by broadcast and multicast: the request's octets, the
// refusals that send nothing, and real net-snmp printers in a lab of
// namespaces (never the machine's own interfaces).
#include <gtest/gtest.h>
#include <net/if.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/netio/DiscoveryLab.h"
#include "tests/netio/SocketCount.h"

namespace {

using namespace discoverytest;
using testnetio::g_sockets;

class V1Discovery : public DiscoveryLab {};

std::vector<uint8_t> Request(const char* community) {
  std::vector<uint8_t> out(256);
  const int n = netio::BuildDiscoveryRequest(community, out.data(), out.size());
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

TEST(DiscoveryRequest, IsTheSysObjectIdGetRequestWithTheCommunity) {
  const std::vector<uint8_t> publicRequest = {
      0x30, 0x26, 0x02, 0x01, 0x00, 0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  0xA0,
      0x19, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30, 0x0C,
      0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x02, 0x00, 0x05, 0x00};
  EXPECT_EQ(Request(nullptr), publicRequest);
  EXPECT_EQ(Request(""), publicRequest);
  EXPECT_EQ(Request("public"), publicRequest);

  const std::string longest(95, 'c');
  const std::vector<uint8_t> request = Request(longest.c_str());
  ASSERT_EQ(request.size(), 95u + 34);
  EXPECT_EQ(request[1], 0x7F);
  EXPECT_EQ(request[6], 95);
  EXPECT_EQ(std::vector<uint8_t>(request.end() - 27, request.end()),
            std::vector<uint8_t>(publicRequest.end() - 27, publicRequest.end()));

  // Refused rather than cut: a cut community would ask with another's rights.
  EXPECT_TRUE(Request(std::string(96, 'c').c_str()).empty());
  std::vector<uint8_t> small(39);
  EXPECT_EQ(netio::BuildDiscoveryRequest("public", small.data(), small.size()), -1);
}

// Nothing may leave when the arguments are refused; a private namespace
// keeps the machine's networks out of reach should anything leave anyway.
TEST(DiscoveryRefusal, SendsNothingAndOpensNoSocket) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  Diagnostics diagnostics;
  const std::string tooLong(96, 'c');
  using Find = bool (CNetIO::*)(char const*, char const*, char const*, SearchAgentCallback, void*,
                                bool);
  const struct {
    const char* what;
    Find find;  // null: FindSnmpAgent3Times
    const char* community;
    const char* target;
    const char* oid;
    bool result;
  } rows[] = {
      {"letter in the OID", &CNetIO::FindSnmpAgent, "public", "255.255.255.255", "1.3.6.1.a", false},
      {"letter in the OID, IPv6", &CNetIO::FindSnmpAgentV6_, "public", "ff02::1", "1.3.b", false},
      {"letter in the OID, scan", &CNetIO::FindSnmpAgentV6, "public", "ff02::1", "x", false},
      {"letter in the OID, both", nullptr, "public", nullptr, "1.3.6.1.2.1.1.2.0c", false},
      {"one arc only", &CNetIO::FindSnmpAgent, "public", "255.255.255.255", "1", false},
      {"community over 95 octets", &CNetIO::FindSnmpAgent, tooLong.c_str(), "255.255.255.255",
       kAnyOid, false},
      {"community over 95 octets, IPv6", &CNetIO::FindSnmpAgentV6_, tooLong.c_str(), "ff02::1",
       kAnyOid, false},
      {"community over 95 octets, both", nullptr, tooLong.c_str(), nullptr, kAnyOid, false},
      // inet_addr would have made this 255.255.255.255.
      {"host name", &CNetIO::FindSnmpAgent, "public", "printer.example", kAnyOid, true},
      {"host name, IPv6", &CNetIO::FindSnmpAgentV6_, "public", "printer.example", kAnyOid, true},
      {"host name, scan", &CNetIO::FindSnmpAgentV6, "public", "printer.example", kAnyOid, true},
  };
  for (const auto& row : rows) {
    CNetIO netio;
    Reports reports;
    g_sockets = 0;
    const bool result =
        row.find ? (netio.*row.find)(row.community, row.target, row.oid, Reports::Collect,
                                     &reports, true)
                 : netio.FindSnmpAgent3Times(row.community, row.oid, Reports::Collect, &reports);
    EXPECT_EQ(result, row.result) << row.what;
    EXPECT_EQ(g_sockets, 0) << row.what;
    EXPECT_EQ(reports.total, 0) << row.what;
  }
  EXPECT_EQ(diagnostics.Count("error in getaddrinfo: "), 3) << diagnostics.Text();

  // The count does see the library's sockets: a status read opens one.
  PRINTER_STATUS status;
  g_sockets = 0;
  EXPECT_EQ(NetworkReadStatus("public", "127.0.0.1", &status), 0);
  EXPECT_EQ(g_sockets, 1);
}

// Printers on the client's bridge: two match a target, one does not, one
// answers SNMPv3 only; the first also sits on a second link of the client.
TEST_F(V1Discovery, BroadcastReportsEachMatchingAnswerFromEveryIPv4Interface) {
  testenv::NodeOptions v4only;
  v4only.ipv6 = false;
  testenv::LabNode* client = Node("client", v4only);
  testenv::LabNode* first = Node("first", v4only);
  testenv::LabNode* second = Node("second", v4only);
  testenv::LabNode* other = Node("other", v4only);
  testenv::LabNode* v3only = Node("v3only", v4only);
  ASSERT_FALSE(HasFailure());
  Link(*client, *first);
  // Only the two links: loopback would cost a silent second.
  Shell(*client, "ip addr del 127.0.0.1/8 dev lo && ip addr add 10.209.0.1/24 dev eth1");
  Shell(*first, "ip addr add 10.209.0.2/24 dev eth1");
  testenv::Snmpd* firstAgent = Agent(*first, V1Printer(kFirstTarget));
  testenv::Snmpd* secondAgent = Agent(*second, V1Printer(kSecondTarget));
  testenv::Snmpd* otherAgent = Agent(*other, V1Printer(kOtherObject));
  testenv::SnmpdConfig silent = V1Printer(kFirstTarget);
  silent.v1 = false;
  Agent(*v3only, silent);
  EnterClient(*client);
  ASSERT_FALSE(HasFailure());

  CNetIO netio;
  netio.InitTargetOID(kFirstTarget, kSecondTarget);
  Diagnostics diagnostics;
  Reports reports;
  EXPECT_TRUE(netio.FindSnmpAgent(nullptr, "255.255.255.255", kAnyOid, Reports::Collect, &reports,
                                  true));

  // Three sends per interface, every answer reported: no de-duplication.
  const std::map<std::string, int> expected = {
      {first->ipv4, 3}, {"10.209.0.2", 3}, {second->ipv4, 3}};
  EXPECT_EQ(reports.count, expected) << diagnostics.Text();
  EXPECT_EQ(firstAgent->RequestCount(), 6);
  EXPECT_EQ(secondAgent->RequestCount(), 3);
  // Heard and answered, but not a printer we look for.
  EXPECT_EQ(otherAgent->RequestCount(), 3);
  EXPECT_EQ(diagnostics.Count("[ipv4 BC] eth0\n"), 1);
  EXPECT_EQ(diagnostics.Count("[ipv4 BC] eth1\n"), 1);
  EXPECT_EQ(diagnostics.Count("[ipv4 BC] IPv4   : 10.209.0.1\n[ipv4 BC] netmask: 255.255.255.0\n"), 1)
      << diagnostics.Text();
}

// Multicast from every IPv6 interface; the scope of the first answer is
// remembered, also without a callback, and never moved once positive.
TEST_F(V1Discovery, MulticastRemembersTheScopeOfTheFirstAnswerOnly) {
  testenv::NodeOptions linkLocal;
  linkLocal.ipv4 = false;
  linkLocal.ipv6Global = false;
  testenv::LabNode* client = Node("client", linkLocal);
  testenv::LabNode* first = Node("first", linkLocal);
  testenv::LabNode* other = Node("other", linkLocal);
  ASSERT_FALSE(HasFailure());
  testenv::Snmpd* firstAgent = Agent(*first, V1Printer(kFirstTarget));
  testenv::Snmpd* otherAgent = Agent(*other, V1Printer(kOtherObject));
  EnterClient(*client);
  ASSERT_FALSE(HasFailure());
  const int eth0 = static_cast<int>(if_nametoindex("eth0"));
  ASSERT_GT(eth0, 0);

  CNetIO netio;
  netio.InitTargetOID(kFirstTarget, kSecondTarget);
  Diagnostics diagnostics;
  scope_id = -1;  // "0 or less" is not yet remembered
  EXPECT_TRUE(netio.FindSnmpAgentV6_("public", "ff02::1", kAnyOid, nullptr, nullptr, false));
  EXPECT_EQ(scope_id, eth0);
  EXPECT_STREQ(g_ifsName, "%eth0");
  EXPECT_EQ(firstAgent->RequestCount(), 1);
  EXPECT_EQ(diagnostics.Count("[ipv6 BC] sin6_scope_id: "), 2) << diagnostics.Text();
  EXPECT_EQ(diagnostics.Count("tmpip=ff02::1%en0\n"), 2);
  // Loopback has no multicast route: its send fails at once.
  EXPECT_EQ(diagnostics.Count("[ipv6 BC] snedto failed: "), 1);

  // An IPv6 target given to FindSnmpAgent takes this path too.
  scope_id = 7;
  snprintf(g_ifsName, sizeof g_ifsName, "%%keep");
  Reports reports;
  EXPECT_TRUE(netio.FindSnmpAgent("public", "ff02::1", kAnyOid, Reports::Collect, &reports, false));
  const std::map<std::string, int> expected = {{first->linkLocal, 1}};
  EXPECT_EQ(reports.count, expected);
  EXPECT_EQ(otherAgent->RequestCount(), 2);
  EXPECT_EQ(scope_id, 7);
  EXPECT_STREQ(g_ifsName, "%keep");
}

}  // namespace
