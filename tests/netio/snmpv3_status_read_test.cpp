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
#include "tests/netio/Diagnostics.h"
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
  Diagnostics diagnostics;
  PRINTER_STATUS status = Untouched();
  EXPECT_EQ(NetworkReadStatusSNMPv3("public", "127.0.0.2", &status), 0);
  EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched()));
  EXPECT_EQ(printer_->Received().size(), 2u) << "the stranger's Report drew no request";
  EXPECT_TRUE(printer_->Errors().empty());
  // One line per refused answer, with its sender and why.
  const std::string printer = "127.0.0.2 port 161: ", stranger = "127.0.0.3 port 161: ";
  const std::vector<std::string> expected = {
      stranger + "wrong sender",           stranger + "wrong sender",
      printer + "no usable value",         printer + "authentication wrong",
      printer + "authentication wrong",    printer + "authentication wrong",
      printer + "authentication wrong",    printer + "authentication missing",
      printer + "no usable value",
  };
  EXPECT_EQ(diagnostics.Refusals(), expected) << diagnostics.Text();
}

// The rest of the SNMPv3 reasons, each from the printer's own address.
TEST_F(SnmpV3FromResponder, RefusedAnswersSayWhy) {
  Message otherMsgId = Answer(keys_, testenv::DeviceIdWithLevel(1));
  otherMsgId.msgId = 4242;
  Message wrongKey = Answer(keys_, testenv::DeviceIdWithLevel(2));
  const Keys stranger = LocalisedKeys(Hex("80 00 0B 93 01"));
  wrongKey.privKey = stranger.priv;
  Message otherContext = Answer(keys_, testenv::DeviceIdWithLevel(3));
  otherContext.contextEngineId = Hex("80 00 0B 93 01");
  Message request = Answer(keys_, testenv::DeviceIdWithLevel(4));
  request.pduTag = 0xA0;
  const Bytes foreignEngine = Encode(Report(Hex("80 00 1F 88 04 01"), 1, 1));
  const struct {
    const char* what;
    std::vector<Reply> toDiscovery, toRequest;
    const char* reason;
  } rows[] = {
      {"engine of another form", {After(0, foreignEngine)}, {}, "engine refused"},
      {"msgID of another request", {After(0, report_)}, {After(0, Encode(otherMsgId))},
       "msgID of another request"},
      {"enciphered with another key", {After(0, report_)}, {After(0, Encode(wrongKey))},
       "decryption failed"},
      {"context of another engine", {After(0, report_)}, {After(0, Encode(otherContext))},
       "engine refused"},
      {"a GetRequest", {After(0, report_)}, {After(0, Encode(request))}, "not a response"},
  };
  for (const auto& row : rows) {
    ASSERT_NO_FATAL_FAILURE(Start(Script(row.toDiscovery, row.toRequest)));
    SNMPv3MsgID = 0;  // the request then carries msgID 1, as the answers do
    Diagnostics diagnostics;
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(NetworkReadStatusSNMPv3("public", "127.0.0.2", &status), 0) << row.what;
    EXPECT_EQ(diagnostics.Refusals(),
              std::vector<std::string>{std::string("127.0.0.2 port 161: ") + row.reason})
        << row.what << "\n" << diagnostics.Text();
    printer_->Stop();
  }
}

// A keyless peer at the printer's address: junk every half second, a Report
// late in the discovery loop, then junk at the authenticated request. The
// read has one deadline, 10 s, for all its loops (the loops' own caps once
// added up to 19 s).
TEST_F(SnmpV3FromResponder, AKeylessPeerCannotHoldTheReadPastItsDeadline) {
  std::vector<Reply> junk, toDiscovery;
  for (int i = 0; i < 40; ++i) junk.push_back(After(500 * i, Hex("30 00")));
  for (int i = 0; i < 18; ++i) toDiscovery.push_back(After(500 * i, Hex("30 00")));
  toDiscovery.push_back(After(9000, report_));
  ASSERT_NO_FATAL_FAILURE(Start(Script(toDiscovery, junk)));
  PRINTER_STATUS status = Untouched();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NetworkReadStatusSNMPv3("public", "127.0.0.2", &status), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(13));
  EXPECT_EQ(printer_->Received().size(), 2u) << "the late Report drew its request";
}

}  // namespace
