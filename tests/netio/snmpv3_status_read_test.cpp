// The SNMPv3 reads against a responder of our own, for what snmpd cannot be
// made to do: forged, foreign, late and refused answers. Every read waits out
// one-second silences, so related checks share a test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "env/Responder.h"
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

class SnmpV3FromResponder : public testnetio::IsolatedNetio {
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
  const Keys wrongAuth = LocalisedKeys(Hex("80 00 0B 93 01"));
  Message forged = Answer(keys_, testenv::DeviceIdWithLevel(5));
  forged.authKey = wrongAuth.auth;
  const Bytes otherEngine = Hex("80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 3D");
  const Keys otherKeys = LocalisedKeys(otherEngine);
  const Message ofOtherEngine =
      Response(otherEngine, Configured().name, otherKeys.auth, otherKeys.priv,
               testenv::DeviceIdWithLevel(6));
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
      {"a 12-octet code under another key", {After(0, report_)}, {After(0, Encode(forged))},
       "authentication wrong"},
      {"a genuine answer of another engine", {After(0, report_)},
       {After(0, Encode(ofOtherEngine))}, "authentication wrong"},
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

// The device query takes the facts of authentic answers only, and asks no
// engine but its own printer's.
TEST_F(SnmpV3FromResponder, QueriesTakeOnlyAuthenticFacts) {
  const auto answer = [&](const char* oid, const std::string& text) {
    Message m = Answer(keys_, "");
    unsigned char encoded[64];
    m.bindings = {{Bytes(encoded, encoded + CNetIO::oidEncode(oid, encoded)), Text(text)}};
    return m;
  };
  const char fwOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0";
  const char mcuOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0";
  Message unauthenticated = answer("1.3.6.1.2.1.1.5.0", "forged name");
  unauthenticated.flags = 0;
  unauthenticated.authLen = 0;
  unauthenticated.salt.clear();
  Message failed = answer(mcuOid, "MCU failed");
  failed.errorStatus = 2;
  ASSERT_NO_FATAL_FAILURE(Start(Script(
      {After(0, report_)},
      {After(0, Encode(unauthenticated)),
       After(20, Encode(answer(mcuOid, "MCU from elsewhere")), "127.0.0.3"),
       After(40, Encode(failed)), After(60, Encode(answer(fwOid, "FW 3.1")))})));
  char name[128] = "untouched", fw[128] = "untouched", mcu[128] = "untouched";
  EXPECT_TRUE(netio_.NetSnmpGetV4SNMPv3("127.0.0.2", name, fw, mcu, sizeof name));
  EXPECT_EQ(std::string(name) + "/" + fw + "/" + mcu, "untouched/FW 3.1/untouched");
  EXPECT_EQ(printer_->Received().size(), 2u);
  printer_->Stop();
  // Reports of another vendor's engine, or from another address, draw no request.
  const Bytes otherVendor = Hex("80 00 0B 92 03 00 00 00 00 00 00 00 00 00 00 00 2A");
  ASSERT_NO_FATAL_FAILURE(Start(Script({After(0, Encode(Report(otherVendor, 7, 4000))),
                                        After(10, report_, "127.0.0.3")}, {})));
  EXPECT_EQ(netio_.TavraNetworkGetNameAndFwAndMCUVersion("127.0.0.2", name, fw, mcu, sizeof name),
            -1);
  // A host name is refused before anything is sent.
  EXPECT_EQ(netio_.TavraNetworkGetNameAndFwAndMCUVersion("localhost", name, fw, mcu, sizeof name),
            -1);
  EXPECT_EQ(std::string(name) + "/" + fw + "/" + mcu, "untouched/FW 3.1/untouched");
  EXPECT_EQ(printer_->Received().size(), 1u);
}

}  // namespace
