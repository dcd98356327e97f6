// SNMPv3 discovery: the capture callback on its own, and real net-snmp
// printers answering SNMPv3 only, in a lab of namespaces.
#include <gtest/gtest.h>
#include <net/if.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/netio/DiscoveryLab.h"

namespace {

using namespace discoverytest;

const char kSysName[] = "1.3.6.1.2.1.1.5.0";
const char kFwVersion[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.0";
const char kMcuVersion[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.3.0";

std::vector<uint8_t> Encoded(const char* text) {
  std::vector<uint8_t> out(kCaptureSize);
  const int n = CNetIO::oidEncode(text, out.data());
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

// Name and value in heap blocks of exactly their size, so a read past
// either is caught by AddressSanitizer.
bool Capture(std::vector<uint8_t> name, std::vector<uint8_t> value, uint8_t type = 0x04) {
  auto* oid = new unsigned char[name.size() + 1];
  auto* octets = new unsigned char[value.size() + 1];
  std::copy(name.begin(), name.end(), oid);
  std::copy(value.begin(), value.end(), octets);
  const bool captured = searchAgentProCallbackEx2(oid, static_cast<int>(name.size()), type, octets,
                                                  static_cast<int>(value.size()));
  delete[] oid;
  delete[] octets;
  return captured;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(SearchAgentCapture, TakesOnlyBindingsWhoseNameIsExactlyAStoredOne) {
  ASSERT_TRUE(EncodeCaptureOid(kAnyOid, _sysObjIdOid, &_sysObjIdOidLen));
  ASSERT_TRUE(EncodeCaptureOid(kSysName, _sysNameOid, &_sysNameOidLen));
  // Nothing recognises the firmware OID until the device queries set it.
  EXPECT_FALSE(Capture(Encoded(kFwVersion), Bytes("1.0")));
  ASSERT_TRUE(EncodeCaptureOid(kFwVersion, _pvtFwVerOid, &_pvtFwVerOidLen));
  ASSERT_TRUE(EncodeCaptureOid(kMcuVersion, _pvtMcuVerOid, &_pvtMcuVerOidLen));

  memset(_sysNameValue, 'x', sizeof _sysNameValue);
  EXPECT_TRUE(Capture(Encoded(kSysName), Bytes("inkjt")));
  EXPECT_EQ(std::string(_sysNameValue, 6), std::string("inkjt\0", 6));

  const std::vector<uint8_t> objectId = Encoded(kFirstTarget);
  memset(_sysObjIdValue, 0xEE, sizeof _sysObjIdValue);
  EXPECT_TRUE(Capture(Encoded(kAnyOid), objectId, 0x06));
  EXPECT_EQ(_sysObjIdLen, static_cast<int>(objectId.size()));
  EXPECT_EQ(std::vector<uint8_t>(_sysObjIdValue, _sysObjIdValue + objectId.size()), objectId);
  EXPECT_EQ(_sysObjIdValue[objectId.size()], 0xEE) << "no terminator";

  EXPECT_TRUE(Capture(Encoded(kFwVersion), Bytes("FW 2.01")));
  EXPECT_STREQ(_pvtFwVerValue, "FW 2.01");
  EXPECT_TRUE(Capture(Encoded(kMcuVersion), Bytes("M7"), 0x02));  // the type is not examined
  EXPECT_STREQ(_pvtMcuVerValue, "M7");

  // Refused bindings change nothing.
  std::vector<uint8_t> sysName = Encoded(kSysName);
  std::vector<uint8_t> longer = sysName;
  longer.push_back(0x01);
  const struct {
    const char* what;
    std::vector<uint8_t> name;
  } refused[] = {
      {"device-ID object", Encoded("1.3.6.1.4.1.40719.886.300.369.8531.1.1.0")},
      {"shorter than the stored name", std::vector<uint8_t>(sysName.begin(), sysName.end() - 1)},
      {"longer than the stored name", longer},
      {"empty name", {}},
  };
  for (const auto& row : refused) {
    EXPECT_FALSE(Capture(row.name, Bytes("spoiled"))) << row.what;
  }
  EXPECT_STREQ(_sysNameValue, "inkjt");
  EXPECT_EQ(_sysObjIdLen, static_cast<int>(objectId.size()));

  // Over-long values: a sysObjectID is skipped, a text is cut.
  EXPECT_FALSE(Capture(Encoded(kAnyOid), std::vector<uint8_t>(kCaptureSize + 1, 0x2B)));
  EXPECT_EQ(_sysObjIdLen, static_cast<int>(objectId.size()));
  EXPECT_TRUE(Capture(Encoded(kAnyOid), std::vector<uint8_t>(kCaptureSize, 0x2B)));
  EXPECT_EQ(_sysObjIdLen, kCaptureSize);
  EXPECT_TRUE(Capture(Encoded(kSysName), std::vector<uint8_t>(300, 'n')));
  EXPECT_EQ(strlen(_sysNameValue), size_t{kCaptureSize - 1});
}

testenv::SnmpUser Configured() {
  _SNMP_PARAM_V3 params{};
  SnmpV3FillCredentials(&params);
  return {params.userName, params.authPassword, params.privPassword};
}

// Printers that answer SNMPv3 only: one we look for, one of another kind,
// one whose engine ID has another enterprise's form, and one that would
// match but hides its sysObjectID from the user.
class V3Discovery : public DiscoveryLab {
 protected:
  void SetUp() override {
    DiscoveryLab::SetUp();
    if (IsSkipped() || HasFailure()) return;
    testenv::NodeOptions options;
    options.ipv6Global = false;
    client_ = Node("client", options);
    wanted_ = Node("wanted", options);
    other_ = Node("other", options);
    foreign_ = Node("foreign", options);
    hidden_ = Node("hidden", options);
    ASSERT_FALSE(HasFailure());
    // Loopback's 127.0.0.1 would cost a silent second.
    Shell(*client_, "ip addr del 127.0.0.1/8 dev lo");
    wantedAgent_ = Agent(*wanted_, V3Printer(kFirstTarget, "80000B930300000000AA01", "wanted"));
    otherAgent_ = Agent(*other_, V3Printer(kOtherObject, "80000B930300000000AA02", "other"));
    foreignAgent_ = Agent(*foreign_, V3Printer(kFirstTarget, "80000B920300000000AA03", "foreign"));
    testenv::SnmpdConfig hidden = V3Printer(kFirstTarget, "80000B930300000000AA04", "hidden");
    const testenv::SnmpUser user = hidden.users.front();
    hidden.users.clear();
    hidden.extraLines = {
        "view nosysobject included .1",
        "view nosysobject excluded .1.3.6.1.2.1.1.2",
        "createUser " + user.name + " MD5 \"" + user.authPass + "\" DES \"" + user.privPass + "\"",
        "rouser " + user.name + " priv -V nosysobject",
    };
    hiddenAgent_ = Agent(*hidden_, hidden);
    EnterClient(*client_);
    ASSERT_FALSE(HasFailure());
    netio_.InitTargetOID(kFirstTarget, kSecondTarget);
  }

  static testenv::SnmpdConfig V3Printer(const std::string& sysObjectID, const std::string& engine,
                                        const std::string& name) {
    testenv::SnmpdConfig config;
    config.v1 = false;
    config.sysObjectID = sysObjectID;
    config.sysName = name;
    config.engineIdHex = engine;
    config.users = {Configured()};
    config.deviceId = testenv::DeviceIdWithLevel(42);
    return config;
  }

  void ExpectEachAskedAsTheRulesSay() {
    // The engine-ID request, then the authenticated one where the engine ID is accepted.
    EXPECT_EQ(wantedAgent_->RequestCount(), 2) << wantedAgent_->Log();
    EXPECT_EQ(otherAgent_->RequestCount(), 2);
    EXPECT_EQ(hiddenAgent_->RequestCount(), 2);
    EXPECT_EQ(foreignAgent_->RequestCount(), 1);
  }

  testenv::LabNode *client_ = nullptr, *wanted_ = nullptr, *other_ = nullptr,
                   *foreign_ = nullptr, *hidden_ = nullptr;
  testenv::Snmpd *wantedAgent_ = nullptr, *otherAgent_ = nullptr, *foreignAgent_ = nullptr,
                 *hiddenAgent_ = nullptr;
  CNetIO netio_;
  Diagnostics diagnostics_;
  Reports reports_;
};

TEST_F(V3Discovery, BroadcastReportsOnlyTheAuthenticatedMatchingAgent) {
  EXPECT_TRUE(netio_.FindSnmpV3Agent("unused", "255.255.255.255", "unused", Reports::Collect,
                                     &reports_, true));
  const std::map<std::string, int> expected = {{wanted_->ipv4, 1}};
  EXPECT_EQ(reports_.count, expected) << diagnostics_.Text();
  ExpectEachAskedAsTheRulesSay();
  EXPECT_EQ(diagnostics_.Count("FindSnmpV3Agent szAddr=" + wanted_->ipv4 + "\n"), 1);
  // Three authenticated answers read; the hidden agent's, without a
  // sysObjectID of its own, is judged by nothing an earlier one left.
  EXPECT_EQ(diagnostics_.Count("parseSnmpV3Response end1"), 3) << diagnostics_.Text();
  EXPECT_EQ(SNMPv3RequestID, 1 + 3);
  EXPECT_EQ(SNMPv3MsgID, 1 + 3);
}

TEST_F(V3Discovery, MulticastRemembersTheScopeAndNeverTouchesIPv4) {
  const int eth0 = static_cast<int>(if_nametoindex("eth0"));
  EXPECT_TRUE(netio_.FindSnmpV3Agent(nullptr, "ff02::1", nullptr, Reports::Collect, &reports_,
                                     false));
  const std::map<std::string, int> expected = {{wanted_->linkLocal, 1}};
  EXPECT_EQ(reports_.count, expected) << diagnostics_.Text();
  ExpectEachAskedAsTheRulesSay();
  EXPECT_EQ(diagnostics_.Count("[ipv4 BC]"), 0);
  EXPECT_EQ(diagnostics_.Count("FindSnmpV3AgentV6_ szAddr=" + wanted_->linkLocal + "\n"), 1);
  EXPECT_EQ(scope_id, eth0);
  EXPECT_STREQ(g_ifsName, "%eth0");
}

}  // namespace
