// SNMPv1 discovery: the request's octets, the match of an answer, and real
// net-snmp printers answering broadcast and multicast in a lab of namespaces.
#include <gtest/gtest.h>
#include <net/if.h>

#include <string>
#include <vector>

#include "tests/netio/DiscoveryLab.h"
#include "tests/netio/Messages.h"

namespace {

using namespace discoverytest;
using testmsg::Bytes;

Bytes Request(const char* community, size_t room = 256) {
  Bytes out(room);
  const int n = netio::BuildDiscoveryRequest(community, out.data(), room);
  out.resize(static_cast<size_t>(std::max(0, n)));
  return out;
}

TEST(DiscoveryRequest, IsTheSysObjectIdGetRequestWithTheCommunity) {
  const Bytes publicRequest = {0x30, 0x26, 0x02, 0x01, 0x00, 0x04, 0x06, 'p',  'u',  'b',
                               'l',  'i',  'c',  0xA0, 0x19, 0x02, 0x01, 0x00, 0x02, 0x01,
                               0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30, 0x0C, 0x06, 0x08,
                               0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x02, 0x00, 0x05, 0x00};
  for (const char* community : {static_cast<const char*>(nullptr), "", "public"})
    EXPECT_EQ(Request(community), publicRequest);
  const Bytes longest = Request(std::string(95, 'c').c_str());
  ASSERT_EQ(longest.size(), 95u + 34);
  EXPECT_EQ(Bytes(longest.begin(), longest.begin() + 7), (Bytes{0x30, 0x7F, 2, 1, 0, 4, 95}));
  EXPECT_TRUE(std::equal(longest.end() - 27, longest.end(), publicRequest.end() - 27));
  // Refused rather than cut: a cut community would ask with another's rights.
  EXPECT_TRUE(Request(std::string(96, 'c').c_str()).empty());
  EXPECT_TRUE(Request("public", 39).empty());
}

// The start of either target matches; an answer without a sysObjectID of
// its own is not judged by an earlier one's.
TEST(DiscoveryMatch, PrefixesOfEitherTargetAndNothingStale) {
  CNetIO netio;
  netio.InitTargetOID(kFirstTarget, kSecondTarget);
  // SNMPv3 discovery applies the same match to the value it captured.
  const auto answer = [&](const char* oid) {
    unsigned char encoded[32];
    const int n = CNetIO::oidEncode(oid, encoded);
    EXPECT_TRUE(netio.MatchesTargetOid(encoded, n)) << oid;
    return testmsg::Response(testmsg::kSysObjectIdOid, 0x06, Bytes(encoded, encoded + n));
  };
  for (const auto& [message, match] :
       {std::pair{answer("1.3.6.1.4.1.2963.1"), 1}, {answer(kSecondStart), 1},
        {testmsg::Response(testmsg::kSysNameOid, 0x04, testmsg::Text("printer")), 0}}) {
    EXPECT_EQ(netio.parseForOID(message.data(), int(message.size()), nullptr, 0), match);
  }
}

class V1Discovery : public DiscoveryLab {};

// Printers on the client's bridge: one answers with a target, one with the
// start of the other, one with another object, one SNMPv3 only; the first also
// sits on a second link of the client.
TEST_F(V1Discovery, BroadcastReportsEachMatchingAnswerFromEveryIPv4Interface) {
  testenv::LabNode* client = Node("client", true, false);
  testenv::LabNode* first = Node("first", true, false);
  testenv::LabNode* second = Node("second", true, false);
  testenv::LabNode* other = Node("other", true, false);
  testenv::LabNode* v3only = Node("v3only", true, false);
  ASSERT_FALSE(HasFailure());
  Link(*client, *first);
  // Only the two links: loopback would cost a silent second.
  Shell(*client, "ip addr del 127.0.0.1/8 dev lo && ip addr add 10.209.0.1/24 dev eth1");
  Shell(*first, "ip addr add 10.209.0.2/24 dev eth1");
  testenv::Snmpd* firstAgent = V1Agent(*first, kFirstTarget);
  testenv::Snmpd* secondAgent = V1Agent(*second, kSecondStart);
  testenv::Snmpd* otherAgent = V1Agent(*other, kOtherObject);
  testenv::SnmpdConfig silent;
  silent.v1 = false;
  Agent(*v3only, silent);
  EnterClient(*client);
  ASSERT_FALSE(HasFailure());

  CNetIO netio;
  netio.InitTargetOID(kFirstTarget, kSecondTarget);
  Reports reports;
  EXPECT_TRUE(netio.FindSnmpAgent(nullptr, "255.255.255.255", kAnyOid, Collect, &reports, true));
  // Three sends per interface, every answer reported: no de-duplication.
  EXPECT_EQ(reports, (Reports{{first->ipv4, 3}, {"10.209.0.2", 3}, {second->ipv4, 3}}));
  ExpectRequests(firstAgent, 6);
  ExpectRequests(secondAgent, 3);
  ExpectRequests(otherAgent, 3);
}

// Multicast from every IPv6 interface; the scope of the first answer is
// remembered, also without a callback, and never moved once positive.
TEST_F(V1Discovery, MulticastRemembersTheScopeOfTheFirstAnswerOnly) {
  testenv::LabNode* client = Node("client", false, true);
  testenv::LabNode* first = Node("first", false, true);
  testenv::LabNode* other = Node("other", false, true);
  ASSERT_FALSE(HasFailure());
  testenv::Snmpd* firstAgent = V1Agent(*first, kFirstTarget);
  testenv::Snmpd* otherAgent = V1Agent(*other, kOtherObject);
  EnterClient(*client);
  ASSERT_FALSE(HasFailure());

  CNetIO netio;
  netio.InitTargetOID(kFirstTarget, kSecondTarget);
  scope_id = -1;  // "0 or less" is not yet remembered
  EXPECT_TRUE(netio.FindSnmpAgentV6_("public", "ff02::1", kAnyOid, nullptr, nullptr, false));
  EXPECT_EQ(scope_id, static_cast<int>(if_nametoindex("eth0")));
  EXPECT_STREQ(g_ifsName, "%eth0");
  ExpectRequests(firstAgent, 1);
  // An IPv6 target given to FindSnmpAgent takes this path too.
  scope_id = 7;
  snprintf(g_ifsName, sizeof g_ifsName, "%%keep");
  Reports reports;
  EXPECT_TRUE(netio.FindSnmpAgent("public", "ff02::1", kAnyOid, Collect, &reports, false));
  EXPECT_EQ(reports, (Reports{{first->linkLocal, 1}}));
  ExpectRequests(otherAgent, 2);
  EXPECT_EQ(scope_id, 7);
  EXPECT_STREQ(g_ifsName, "%keep");
}

}  // namespace
