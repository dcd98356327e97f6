// The SNMPv3 status read under hostile input: a responder on the printer's
// address wraps the Report and the Response in floods of junk, cut, oversized
// and replayed datagrams; answers forged without the printer's keys, or made
// for another engine, must never count. Every read waits out one-second
// silences, so related checks share a read where they can.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "env/Responder.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/BerReader.h"
#include "netio/NetIO.h"
#include "netio/Usm.h"
#include "netio/diagnostics.h"
#include "tests/netio/RobustPeer.h"
#include "tests/netio/SnmpV3Messages.h"
#include "tests/netio/StatusRecords.h"

namespace {

using testnetio::RecordBytes;
using testnetio::Untouched;

using namespace snmpv3test;
using std::chrono::milliseconds;
using testenv::Reply;

const char kPrinter[] = "127.0.0.2";
const Bytes kEngine = Hex("80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 3C");
const Bytes kOtherEngine = Hex("80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 3D");

struct Keys {
  uint8_t auth[kUsmKeyLen], priv[kUsmKeyLen];
};

Keys Localised(const Bytes& engine, const std::string& authPass, const std::string& privPass) {
  Keys k;
  Password_to_Key_md5(authPass.c_str(), unsigned(authPass.size()), engine.data(),
                      unsigned(engine.size()), k.auth);
  Password_to_Key_md5(privPass.c_str(), unsigned(privPass.size()), engine.data(),
                      unsigned(engine.size()), k.priv);
  return k;
}

_SNMP_PARAM_V3 Configured() {
  _SNMP_PARAM_V3 params{};
  SnmpV3FillCredentials(&params);
  return params;
}

// msgFlags of a request as the client builds it (msgMaxSize 2048 before it).
uint8_t RequestFlags(const testenv::Datagram& d) {
  const Bytes marker = {0x02, 0x02, 0x08, 0x00, 0x04, 0x01};
  auto at = std::search(d.bytes.begin(), d.bytes.end(), marker.begin(), marker.end());
  return at + 6 < d.bytes.end() ? *(at + 6) : 0;
}

// msgID of a request, which its answers must echo.
uint32_t RequestMsgId(const testenv::Datagram& d) {
  netio::BerReader in(d.bytes.data(), d.bytes.size()), message, version, global, msgId;
  if (!in.Element(0x30, &message) || !message.Element(0x02, &version) ||
      !message.Element(0x30, &global) || !global.Element(0x02, &msgId))
    return UINT32_MAX;
  return readIntValue(msgId.cursor(), static_cast<int>(msgId.remaining()));
}

std::vector<Reply> Replies(const std::vector<Bytes>& datagrams) {
  std::vector<Reply> out;
  for (const auto& d : datagrams) out.push_back(Reply(d));
  return out;
}

// The answer, replayed once, inside everything a flood carries; for an
// authenticated answer also the answer with one bit flipped.
std::vector<Bytes> Flood(const Bytes& answer, bool withAnswer, bool authenticated) {
  std::vector<Bytes> out;
  if (authenticated) {
    Bytes flipped = answer;
    flipped[answer.size() - 3] ^= 0x01;
    out.push_back(flipped);
  }
  for (const auto& hostile : robust::HostileFrom(answer)) {
    out.push_back(hostile.bytes);
    if (withAnswer && out.size() == 4) out.push_back(answer);
  }
  if (withAnswer) out.push_back(answer);  // replayed
  return out;
}

class RobustV3 : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
    netio::SetDiagnosticsSink(nullptr);
  }

  // The discovery request is answered with `toDiscovery`, every
  // authenticated request with `toRequest`. Messages are made beforehand:
  // the MD5 context is the process's one.
  void Start(std::vector<Bytes> toDiscovery, std::vector<Bytes> toRequest) {
    printer_ = std::make_unique<testenv::Responder>(
        kPrinter, [=](const testenv::Datagram& d, size_t) {
          return Replies(RequestFlags(d) & kSnmpV3FlagAuth ? toRequest : toDiscovery);
        });
    std::string why;
    ASSERT_TRUE(printer_->Start(&why)) << why;
  }

  size_t AuthenticatedRequests() {
    size_t n = 0;
    for (const auto& d : printer_->Received()) n += (RequestFlags(d) & kSnmpV3FlagAuth) != 0;
    return n;
  }

  // Answers echo msgID 1, the first authenticated request's in a fresh process.
  Bytes Answer(uint8_t level, const Keys& keys, const Bytes& engine = kEngine,
               uint32_t msgId = 1) {
    Message m = Response(engine, user_.userName, keys.auth, keys.priv,
                         testenv::DeviceIdWithLevel(level));
    m.msgId = msgId;
    return Encode(m);
  }

  const _SNMP_PARAM_V3 user_ = Configured();
  const Keys keys_ = Localised(kEngine, user_.authPassword, user_.privPassword);
  const Bytes report_ = Encode(Report(kEngine, 7, 4000));
  std::unique_ptr<testenv::Responder> printer_;
};

TEST_F(RobustV3, TheAnswersInAFloodAreReadAndTheFloodIsNot) {
  ASSERT_NO_FATAL_FAILURE(Start(Flood(report_, true, false), Flood(Answer(0x33, keys_), true, true)));
  PRINTER_STATUS status = Untouched();
  EXPECT_EQ(NetworkReadStatusSNMPv3("public", kPrinter, &status), 1);
  EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0x33));
  // The Report and its replay each draw one authenticated request.
  EXPECT_EQ(AuthenticatedRequests(), 2u);
  EXPECT_TRUE(printer_->Errors().empty()) << printer_->Errors().front();
}

TEST_F(RobustV3, FloodsWithoutAnAnswerNeverYieldARecord) {
  const struct {
    const char* what;
    std::vector<Bytes> toDiscovery, toRequest;
  } rows[] = {
      {"no Report", Flood(report_, false, false), {}},
      {"no Response", {report_}, Flood(Answer(0x44, keys_), false, true)},
  };
  // An earlier printer's device ID must not be decoded for a broken answer.
  const std::string earlier = testenv::DeviceIdWithLevel(0x63);
  for (const auto& row : rows) {
    ASSERT_NO_FATAL_FAILURE(Start(row.toDiscovery, row.toRequest));
    memcpy(g_deviceid, earlier.c_str(), earlier.size() + 1);
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(NetworkReadStatusSNMPv3("public", kPrinter, &status), 0) << row.what;
    EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched())) << row.what;
    printer_->Stop();
  }
}

TEST_F(RobustV3, SpoofedResponsesAreNeverAccepted) {
  const Keys wrongAuth = Localised(kEngine, std::string(user_.authPassword) + "x",
                                   user_.privPassword);
  const Keys wrongPriv = Localised(kEngine, user_.authPassword,
                                   std::string(user_.privPassword) + "x");
  Keys mixedPriv;
  memcpy(mixedPriv.auth, keys_.auth, sizeof mixedPriv.auth);
  memcpy(mixedPriv.priv, wrongPriv.priv, sizeof mixedPriv.priv);
  const Keys otherEngine = Localised(kOtherEngine, user_.authPassword, user_.privPassword);
  const struct {
    const char* what;
    Bytes response;
  } rows[] = {
      {"12-octet code under another authentication key", Answer(0x51, wrongAuth)},
      {"enciphered with another privacy key, code right", Answer(0x52, mixedPriv)},
      {"a genuine answer of another engine", Answer(0x53, otherEngine, kOtherEngine)},
  };
  for (const auto& row : rows) {
    ASSERT_NO_FATAL_FAILURE(Start({report_}, {row.response}));
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(NetworkReadStatusSNMPv3("public", kPrinter, &status), 0) << row.what;
    EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched())) << row.what;
    EXPECT_EQ(AuthenticatedRequests(), 1u) << row.what;
    printer_->Stop();
  }
}

TEST_F(RobustV3, AnAuthenticAnswerReplayedToALaterReadIsNotTaken) {
  ASSERT_NO_FATAL_FAILURE(Start({report_}, {Answer(0x35, keys_)}));
  PRINTER_STATUS status = Untouched();
  ASSERT_EQ(NetworkReadStatusSNMPv3("public", kPrinter, &status), 1);
  EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0x35));
  // The same octets again: authentic, but an answer to the earlier request.
  status = Untouched();
  EXPECT_EQ(NetworkReadStatusSNMPv3("public", kPrinter, &status), 0);
  EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched()));
  EXPECT_EQ(AuthenticatedRequests(), 2u);
}

TEST_F(RobustV3, MemoryAndDescriptorsStayFlatUnderAttack) {
  // Every read asks anew, so each request gets the flood made for its msgID.
  std::vector<std::vector<Bytes>> floods;
  for (uint32_t msgId = 0; msgId < 16; ++msgId)
    floods.push_back(Flood(Answer(0x34, keys_, kEngine, msgId), true, true));
  const std::vector<Bytes> reports = Flood(report_, true, false);
  printer_ = std::make_unique<testenv::Responder>(
      kPrinter, [=](const testenv::Datagram& d, size_t) {
        const uint32_t msgId = RequestMsgId(d);
        if (!(RequestFlags(d) & kSnmpV3FlagAuth)) return Replies(reports);
        return msgId < floods.size() ? Replies(floods[msgId]) : std::vector<Reply>{};
      });
  std::string why;
  ASSERT_TRUE(printer_->Start(&why)) << why;
  PRINTER_STATUS status;
  NetworkReadStatusSNMPv3("public", kPrinter, &status);  // first-use allocations
  const long residentBefore = robust::ResidentKiB();
  const int descriptorsBefore = robust::OpenDescriptors();
  for (int i = 0; i < 3; ++i) {
    status = Untouched();
    EXPECT_EQ(NetworkReadStatusSNMPv3("public", kPrinter, &status), 1) << "read " << i;
    EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0x34)) << "read " << i;
  }
  EXPECT_EQ(robust::OpenDescriptors(), descriptorsBefore);
  if (robust::kResidentSizeMeaningful) {
    EXPECT_LT(robust::ResidentKiB() - residentBefore, 512);
  }
}

}  // namespace
