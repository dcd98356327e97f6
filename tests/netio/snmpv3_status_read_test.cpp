// The status read over SNMPv3: against net-snmp's snmpd as a printer that
// answers only SNMPv3 (MD5/DES, authPriv), and against a responder of our own
// for what snmpd cannot be made to do. Every read waits out two one-second
// silences, so related checks share a test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "env/Responder.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/Usm.h"
#include "netio/diagnostics.h"
#include "tests/netio/IsolatedNetio.h"
#include "tests/netio/SnmpV3Messages.h"
#include "tests/netio/SnmpV3Peer.h"
#include "tests/netio/StatusRecords.h"

namespace {

using namespace snmpv3test;
using namespace testnetio;
using testenv::Reply;
using std::chrono::milliseconds;

class SnmpV3Read : public testnetio::IsolatedNetio {};

// ---- net-snmp's snmpd ----

class SnmpV3FromSnmpd : public SnmpV3Read {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
    SnmpV3Read::SetUp();
  }

  testenv::Snmpd* Start(const std::string& address, const std::string& engineHex,
                        const testenv::SnmpUser& user, uint8_t level) {
    testenv::SnmpdConfig config;
    config.agentAddress = address;
    config.v1 = false;
    config.engineIdHex = engineHex;
    config.users = {user};
    config.deviceId = testenv::DeviceIdWithLevel(level);
    agents_.push_back(std::make_unique<testenv::Snmpd>(config));
    std::string why;
    EXPECT_TRUE(agents_.back()->Start(&why)) << why;
    return agents_.back().get();
  }

  std::vector<std::unique_ptr<testenv::Snmpd>> agents_;
};

TEST_F(SnmpV3FromSnmpd, ReadsTheRecordFromAnAgentThatAnswersOnlySnmpV3) {
  testenv::Snmpd* agent = Start("udp:0.0.0.0:161,udp6:[::]:161", "80000B9303000000000000002A",
                                Configured(), 0x9C);
  ASSERT_FALSE(HasFailure());
  // 200 written as 02 01 C8 reads as -56, which the agent refuses.
  SNMPv3MsgID = 200;
  SNMPv3RequestID = 200;
  const struct {
    const char* what;
    int (*read)(const char*, const char*, PRINTER_STATUS*);
    const char* community;
    const char* host;
  } rows[] = {
      {"IPv4", NetworkReadStatusSNMPv3, "public", "127.0.0.1"},
      {"IPv6", NetworkReadStatusV6SNMPv3, "public", "::1"},
      {"IPv6 text through the IPv4 entry, any community", NetworkReadStatusSNMPv3, "nobody",
       "::1"},
  };
  for (const auto& row : rows) {
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(row.read(row.community, row.host, &status), 1) << row.what << "\n" << agent->Log();
    EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0x9C)) << row.what;
  }
  // One discovery and one authenticated request per read.
  EXPECT_EQ(SNMPv3MsgID, 206);
  EXPECT_EQ(SNMPv3RequestID, 206);
  EXPECT_EQ(salt_low, 3u);
  EXPECT_EQ(agent->RequestCount(), 6);
  EXPECT_EQ(agent->Log().find("bad msgID"), std::string::npos) << agent->Log();
}

TEST_F(SnmpV3FromSnmpd, AgentsThatMustNotYieldARecord) {
  const testenv::SnmpUser user = Configured();
  testenv::SnmpUser wrongAuth = user, wrongPriv = user;
  wrongAuth.authPass[0] ^= 1;
  wrongPriv.privPass[0] ^= 1;
  testenv::Snmpd* otherVendor = Start("udp:127.0.0.2:161", "80000B9203000000000000002A", user, 1);
  testenv::Snmpd* badAuth = Start("udp:127.0.0.3:161", "80000B9303000000000000002B", wrongAuth, 2);
  testenv::Snmpd* badPriv = Start("udp:127.0.0.4:161", "80000B9303000000000000002C", wrongPriv, 3);
  ASSERT_FALSE(HasFailure());
  const struct {
    const char* what;
    const char* host;
  } rows[] = {
      {"engine ID 80 00 0B 92", "127.0.0.2"},
      {"agent with another authentication password", "127.0.0.3"},
      {"agent with another privacy password", "127.0.0.4"},
      {"no agent", "127.0.0.5"},
  };
  for (const auto& row : rows) {
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(NetworkReadStatusSNMPv3("public", row.host, &status), 0) << row.what;
    EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched())) << row.what;
  }
  EXPECT_EQ(otherVendor->RequestCount(), 1) << "no authenticated request to another vendor";
  EXPECT_EQ(badAuth->RequestCount(), 2);
  EXPECT_EQ(badPriv->RequestCount(), 2);
}

// ---- our own responder ----

Message Answer(const Keys& k, const std::string& deviceId) {
  return Response(kEngine, Configured().name, k.auth, k.priv, deviceId);
}

// Replies to the discovery request, then to the authenticated request. Every
// message is made before the read starts: the MD5 context is the process's one.
testenv::ResponderScript Script(std::vector<Reply> toDiscovery, std::vector<Reply> toRequest) {
  return [=](const testenv::Datagram&, size_t index) {
    return index == 0 ? toDiscovery : index == 1 ? toRequest : std::vector<Reply>{};
  };
}

class SnmpV3FromResponder : public SnmpV3Read {
 protected:
  void Start(testenv::ResponderScript script) {
    printer_ = std::make_unique<testenv::Responder>("127.0.0.2", std::move(script));
    std::string why;
    ASSERT_TRUE(printer_->Start(&why)) << why;
  }

  const Keys keys_ = LocalisedKeys(kEngine);
  const Bytes report_ = Encode(Report(kEngine, 7, 4000));
  std::unique_ptr<testenv::Responder> printer_;
};

TEST_F(SnmpV3FromResponder, EveryGoodAnswerCountsAndABadOneSpoilsNothing) {
  // 140 base64 characters decode to 105 bytes: not a record.
  const std::string shortStatus =
      "MFG:Acme;STS:" + testenv::Base64(testenv::StatusRecord(30)).substr(0, 140) + ";";
  ASSERT_NO_FATAL_FAILURE(
      Start(Script({After(0, report_)},
                   {After(0, Encode(Answer(keys_, testenv::DeviceIdWithLevel(10)))),
                    After(100, Encode(Answer(keys_, testenv::DeviceIdWithLevel(20)))),
                    After(200, Encode(Answer(keys_, shortStatus)))})));
  PRINTER_STATUS status = Untouched();
  EXPECT_EQ(NetworkReadStatusSNMPv3("public", "127.0.0.2", &status), 1);
  EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(20));
  EXPECT_EQ(printer_->Received().size(), 2u);
}

TEST_F(SnmpV3FromResponder, AnswersThatMustNotCount) {
  const Bytes strangerEngine = Hex("80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 99");
  std::vector<Reply> toRequest = {
      After(0, Encode(Answer(keys_, testenv::DeviceIdWithLevel(50))), "127.0.0.3"),
  };
  Message failed = Answer(keys_, testenv::DeviceIdWithLevel(51));
  failed.errorStatus = 2;
  toRequest.push_back(After(20, Encode(failed)));
  // Forgeries with the true first octets of the code for their own field.
  int delay = 40;
  for (size_t authLen : {0, 1, 4, 11}) {
    Message forged = Answer(keys_, testenv::DeviceIdWithLevel(uint8_t(52 + authLen)));
    forged.authLen = authLen;
    toRequest.push_back(After(delay += 20, Encode(forged)));
  }
  Message unauthenticated = Answer(keys_, testenv::DeviceIdWithLevel(60));
  unauthenticated.flags = 0;
  unauthenticated.authLen = 0;
  unauthenticated.salt.clear();
  toRequest.push_back(After(delay += 20, Encode(unauthenticated)));
  // An authenticated Report: its counter is no device ID, and whatever
  // g_deviceid held before must not be taken for one.
  Message report = Answer(keys_, "");
  report.pduTag = 0xA8;
  report.bindings = {{Hex("2B 06 01 06 03 0F 01 01 02 00"), Hex("41 01 01")}};
  toRequest.push_back(After(delay += 20, Encode(report)));

  ASSERT_NO_FATAL_FAILURE(Start(Script(
      {After(0, Encode(Report(strangerEngine, 1, 1)), "127.0.0.3"), After(50, report_)},
      toRequest)));
  const std::string earlier = testenv::DeviceIdWithLevel(99);
  memcpy(g_deviceid, earlier.c_str(), earlier.size() + 1);
  PRINTER_STATUS status = Untouched();
  EXPECT_EQ(NetworkReadStatusSNMPv3("public", "127.0.0.2", &status), 0);
  EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched()));
  EXPECT_EQ(printer_->Received().size(), 2u) << "the stranger's Report drew no request";
  EXPECT_TRUE(printer_->Errors().empty());
}

// Junk every half second for 20 s: the discovery loop, then the response loop,
// must still end 10 s after it began.
TEST_F(SnmpV3FromResponder, APeerThatNeverFallsSilentCannotHoldTheRead) {
  std::vector<Reply> chatter;
  for (int i = 0; i < 40; ++i) chatter.push_back(After(500 * i, Hex("30 00")));
  const struct {
    const char* what;
    std::vector<Reply> toDiscovery, toRequest;
  } rows[] = {
      {"discovery loop", chatter, {}},
      {"response loop", {After(0, report_)}, chatter},
  };
  for (const auto& row : rows) {
    ASSERT_NO_FATAL_FAILURE(Start(Script(row.toDiscovery, row.toRequest)));
    PRINTER_STATUS status = Untouched();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(NetworkReadStatusSNMPv3("public", "127.0.0.2", &status), 0) << row.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15)) << row.what;
    printer_->Stop();
  }
}

TEST_F(SnmpV3Read, OnlyNumericAddressesOfTheRightFamilyAreAddressed) {
  // Bound to [::]:161 it hears IPv4 too, and a send to "::" as well.
  testenv::Responder listener("::", [](const testenv::Datagram&, size_t) {
    return std::vector<Reply>{};
  });
  std::string why;
  ASSERT_TRUE(listener.Start(&why)) << why;
  const struct {
    int (*read)(const char*, const char*, PRINTER_STATUS*);
    const char* host;
  } rows[] = {
      {NetworkReadStatusSNMPv3, "printer.example"}, {NetworkReadStatusV6SNMPv3, "printer.example"},
      {NetworkReadStatusV6SNMPv3, "127.0.0.1"},     {NetworkReadStatusSNMPv3, ""},
      {NetworkReadStatusV6SNMPv3, ""},              {NetworkReadStatusSNMPv3, nullptr},
  };
  for (const auto& row : rows) {
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(row.read("public", row.host, &status), 0) << (row.host ? row.host : "(null)");
  }
  EXPECT_FALSE(listener.WaitForRequests(1, milliseconds(200)));
}

}  // namespace
