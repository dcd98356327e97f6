// SNMPv3 discovery: the capture callback on its own, real net-snmp printers
// answering SNMPv3 only in a lab of namespaces, and responders of our own for
// answers snmpd will not give.
#include <gtest/gtest.h>
#include <net/if.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "env/Responder.h"
#include "netio/SnmpV3.h"
#include "tests/netio/DiscoveryLab.h"
#include "tests/netio/IsolatedNetio.h"
#include "tests/netio/SnmpV3Messages.h"
#include "tests/netio/SnmpV3Peer.h"

namespace {

using namespace discoverytest;
using Bytes = std::vector<uint8_t>;

const char kSysName[] = "1.3.6.1.2.1.1.5.0";
const char kFwVersion[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.0";

Bytes Encoded(const char* text) {
  Bytes out(kCaptureSize);
  out.resize(static_cast<size_t>(std::max(0, CNetIO::oidEncode(text, out.data()))));
  return out;
}

// Name and value in heap blocks of exactly their size, so a read past
// either is caught by AddressSanitizer.
bool Capture(const Bytes& name, const Bytes& value, uint8_t type = 0x04) {
  std::unique_ptr<uint8_t[]> oid(new uint8_t[name.size() + 1]);
  std::unique_ptr<uint8_t[]> octets(new uint8_t[value.size() + 1]);
  std::copy(name.begin(), name.end(), oid.get());
  std::copy(value.begin(), value.end(), octets.get());
  return searchAgentProCallbackEx2(oid.get(), int(name.size()), type, octets.get(),
                                   int(value.size()));
}

TEST(SearchAgentCapture, TakesOnlyBindingsWhoseNameIsExactlyAStoredOne) {
  ASSERT_TRUE(EncodeCaptureOid(kAnyOid, _sysObjIdOid, &_sysObjIdOidLen));
  ASSERT_TRUE(EncodeCaptureOid(kSysName, _sysNameOid, &_sysNameOidLen));
  // Nothing recognises the firmware OID until the device queries set it.
  EXPECT_FALSE(Capture(Encoded(kFwVersion), {'1'}));
  ASSERT_TRUE(EncodeCaptureOid(kFwVersion, _pvtFwVerOid, &_pvtFwVerOidLen));
  EXPECT_TRUE(Capture(Encoded(kFwVersion), {'F', 'W', '2'}, 0x02));  // the type is not examined
  EXPECT_STREQ(_pvtFwVerValue, "FW2");
  EXPECT_TRUE(Capture(Encoded(kSysName), {'i', 'n', 'k'}));
  const Bytes objectId = Encoded(kFirstTarget);
  memset(_sysObjIdValue, 0xEE, sizeof _sysObjIdValue);
  EXPECT_TRUE(Capture(Encoded(kAnyOid), objectId, 0x06));
  Bytes unterminated = objectId;
  unterminated.push_back(0xEE);
  EXPECT_EQ(Bytes(_sysObjIdValue, _sysObjIdValue + unterminated.size()), unterminated);

  Bytes sysName = Encoded(kSysName), longer = sysName;
  longer.push_back(0x01);
  const Bytes refused[] = {Encoded("1.3.6.1.4.1.40719.886.300.369.8531.1.1.0"),
                           Bytes(sysName.begin(), sysName.end() - 1), longer, {}};
  for (const Bytes& name : refused) EXPECT_FALSE(Capture(name, {'x'})) << name.size();
  EXPECT_STREQ(_sysNameValue, "ink");
  // Over-long values: a sysObjectID is skipped, a text is cut.
  EXPECT_FALSE(Capture(Encoded(kAnyOid), Bytes(kCaptureSize + 1, 0x2B)));
  EXPECT_EQ(_sysObjIdLen, int(objectId.size()));
  EXPECT_TRUE(Capture(Encoded(kSysName), Bytes(300, 'n')));
  EXPECT_EQ(strlen(_sysNameValue), size_t{kCaptureSize - 1});
}

testenv::SnmpdConfig V3Printer(const std::string& sysObjectID, const std::string& engine) {
  _SNMP_PARAM_V3 params{};
  SnmpV3FillCredentials(&params);
  testenv::SnmpdConfig config;
  config.v1 = false;
  config.sysObjectID = sysObjectID;
  config.engineIdHex = engine;
  config.users = {{params.userName, params.authPassword, params.privPassword}};
  return config;
}

class V3Discovery : public DiscoveryLab {};

// Printers that answer SNMPv3 only: one we look for, one of another kind,
// one whose engine ID has another enterprise's form, and one that would
// match but hides its sysObjectID from the user, so that only a value an
// earlier agent left could make it match.
TEST_F(V3Discovery, ReportsOnlyTheAuthenticatedMatchingAgentByBroadcastAndMulticast) {
  testenv::LabNode* client = Node("client", true, true);
  testenv::LabNode* wanted = Node("wanted", true, true);
  testenv::LabNode* other = Node("other", true, true);
  testenv::LabNode* foreign = Node("foreign", true, true);
  testenv::LabNode* hidden = Node("hidden", true, true);
  ASSERT_FALSE(HasFailure());
  // Loopback's 127.0.0.1 would cost a silent second.
  Shell(*client, "ip addr del 127.0.0.1/8 dev lo");
  testenv::Snmpd* wantedAgent = Agent(*wanted, V3Printer(kFirstTarget, "80000B930300000000AA01"));
  testenv::Snmpd* otherAgent = Agent(*other, V3Printer(kOtherObject, "80000B930300000000AA02"));
  testenv::Snmpd* foreignAgent = Agent(*foreign, V3Printer(kFirstTarget, "80000B920300000000AA03"));
  testenv::SnmpdConfig hiding = V3Printer(kFirstTarget, "80000B930300000000AA04");
  const testenv::SnmpUser user = hiding.users.front();
  hiding.users.clear();
  hiding.extraLines = {
      "view nosysobject included .1", "view nosysobject excluded .1.3.6.1.2.1.1.2",
      "createUser " + user.name + " MD5 \"" + user.authPass + "\" DES \"" + user.privPass + "\"",
      "rouser " + user.name + " priv -V nosysobject"};
  testenv::Snmpd* hiddenAgent = Agent(*hidden, hiding);
  EnterClient(*client);
  ASSERT_FALSE(HasFailure());

  CNetIO netio;
  netio.InitTargetOID(kFirstTarget, kSecondTarget);
  Diagnostics diagnostics;
  Reports byBroadcast, byMulticast;
  EXPECT_TRUE(netio.FindSnmpV3Agent("unused", "255.255.255.255", "unused", Collect, &byBroadcast,
                                    true));
  EXPECT_EQ(byBroadcast, (Reports{{wanted->ipv4, 1}})) << diagnostics.Text();
  EXPECT_TRUE(netio.FindSnmpV3Agent(nullptr, "ff02::1", nullptr, Collect, &byMulticast, false));
  EXPECT_EQ(byMulticast, (Reports{{wanted->linkLocal, 1}})) << diagnostics.Text();
  EXPECT_EQ(scope_id, static_cast<int>(if_nametoindex("eth0")));
  EXPECT_STREQ(g_ifsName, "%eth0");
  // Per scan the engine-ID request, then the authenticated one where the engine ID is accepted.
  for (const testenv::Snmpd* agent : {wantedAgent, otherAgent, hiddenAgent})
    ExpectRequests(agent, 4);
  ExpectRequests(foreignAgent, 2);
}

class V3DiscoveryFromResponder : public testnetio::IsolatedNetio {};

// An authentic answer that carries no sysObjectID binding at all (snmpd
// always sends one, if only as an exception) must not match on the value the
// agent found before it left behind.
TEST_F(V3DiscoveryFromResponder, AnAnswerWithoutASysObjectIdNeverMatchesOnAnEarlierOne) {
  using testnetio::After;
  const testnetio::Keys keys = testnetio::LocalisedKeys(testnetio::kEngine);
  const Bytes report = snmpv3test::Encode(snmpv3test::Report(testnetio::kEngine, 7, 4000));
  const Bytes target = Encoded(kFirstTarget);
  // msgIDs of the authenticated requests: each scan's discovery takes one first.
  const uint16_t firstScan = 100, secondScan = 200;
  const auto answer = [&](uint16_t msgId, const snmpv3test::Binding& binding) {
    snmpv3test::Message m = snmpv3test::Response(testnetio::kEngine, testnetio::Configured().name,
                                                 keys.auth, keys.priv, "");
    m.msgId = msgId + 1;
    m.bindings = {binding};
    return snmpv3test::Encode(m);
  };
  const Bytes matching =
      answer(firstScan, {testmsg::kSysObjectIdOid, snmpv3test::Tlv(0x06, target)});
  const Bytes nameOnly = answer(secondScan, {testmsg::kSysNameOid, snmpv3test::Text("printer")});
  const auto script = [&](const Bytes& toRequest) {
    return testenv::ResponderScript([=](const testenv::Datagram&, size_t index) {
      return index == 0   ? std::vector<testenv::Reply>{After(0, report)}
             : index == 1 ? std::vector<testenv::Reply>{After(0, toRequest)}
                          : std::vector<testenv::Reply>{};
    });
  };
  testenv::Responder wanted("127.0.0.2", script(matching));
  testenv::Responder bare("127.0.0.3", script(nameOnly));
  std::string why;
  ASSERT_TRUE(wanted.Start(&why)) << why;
  ASSERT_TRUE(bare.Start(&why)) << why;
  netio_.InitTargetOID(kFirstTarget, kSecondTarget);

  Reports first, second;
  SNMPv3MsgID = firstScan;
  EXPECT_TRUE(netio_.FindSnmpV3Agent(nullptr, "127.0.0.2", nullptr, Collect, &first, false));
  EXPECT_EQ(first, (Reports{{"127.0.0.2", 1}}));
  SNMPv3MsgID = secondScan;
  EXPECT_TRUE(netio_.FindSnmpV3Agent(nullptr, "127.0.0.3", nullptr, Collect, &second, false));
  EXPECT_EQ(bare.Received().size(), 2u);
  EXPECT_TRUE(second.empty());
}

}  // namespace
