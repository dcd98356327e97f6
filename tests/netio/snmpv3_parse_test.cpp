// SNMPv3 message parsing: a discovery Report octet for octet, authenticated
// and enciphered Responses, forged authentication fields, the copies' limits,
// and every prefix and single-octet edit of each kind of message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "netio/NetIO.h"
#include "tests/netio/MessageProperties.h"
#include "tests/netio/SeenBindings.h"
#include "tests/netio/SnmpV3Messages.h"

namespace {

using namespace snmpv3test;
using testnetio::g_seen;
using testnetio::Record;

// A Report as an agent sends it: msgMaxSize 65507, flags 00, engine
// 80 00 0B 93 03 00 0C 29 11 22 33, boots 3, time 1234, usmStatsUnknownEngineIDs.0 = 7.
const Bytes kReport = Hex(
    "30 60 02 01 03"
    "30 0E 02 01 01 02 03 00 FF E3 04 01 00 02 01 03"
    "04 1C 30 1A 04 0B 80 00 0B 93 03 00 0C 29 11 22 33 02 01 03 02 02 04 D2 04 00 04 00 04 00"
    "30 2D 04 0B 80 00 0B 93 03 00 0C 29 11 22 33 04 00"
    "A8 1C 02 01 00 02 01 00 02 01 00 30 11 30 0F 06 0A 2B 06 01 06 03 0F 01 01 04 00 41 01 07");
const Bytes kEngine = Hex("80 00 0B 93 03 00 0C 29 11 22 33");
const Bytes kAuthKey = Hex("52 6f 5e ed 9f cc e2 6f 89 64 c2 93 07 87 d8 2b");
const Bytes kPrivKey = Hex("0f 1e 2d 3c 4b 5a 69 78 87 96 a5 b4 c3 d2 e1 f0");
const Bytes kOtherKey = Hex("52 6f 5e ed 9f cc e2 6f 89 64 c2 93 07 87 d8 2c");

struct Outcome {
  int result;
  unsigned char requestId = 0xEE, errorStatus = 0xEE, errorIndex = 0xEE;
  int version = -1;
  _SNMP_PARAM_V3 params{};
};

enum class Entry { kPlain, kAuthenticated };

// Parses in place; the message properties hand exactly sized heap buffers.
Outcome ParseIn(uint8_t* msg, size_t size, Entry entry = Entry::kPlain,
                const Bytes& authKey = kAuthKey) {
  g_seen.clear();
  Outcome o;
  memcpy(o.params.authKey, authKey.data(), 16);
  memcpy(o.params.privKey, kPrivKey.data(), 16);
  o.params.valueCallback = Record;
  auto parse = entry == Entry::kAuthenticated ? CNetIO::parseSnmpV3AuthenticatedResponse
                                              : CNetIO::parseSnmpV3Response;
  o.result = parse(msg, int(size), &o.version, &o.requestId, &o.errorStatus, &o.errorIndex,
                   &o.params);
  return o;
}

Outcome Parse(Bytes msg, Entry entry = Entry::kPlain, const Bytes& authKey = kAuthKey) {
  return ParseIn(msg.data(), msg.size(), entry, authKey);
}

// Everything a parse hands back, for comparing two parses.
std::optional<std::string> Summary(uint8_t* msg, size_t size, Entry entry) {
  const Outcome o = ParseIn(msg, size, entry);
  if (o.result != 1) return std::nullopt;
  std::string s = testing::PrintToString(
      std::make_tuple(o.version, o.requestId, o.errorStatus, o.errorIndex, o.params.engineBoots,
                      o.params.engineTime, Bytes(o.params.engineID,
                                                 o.params.engineID + o.params.engineIDLen)));
  for (const auto& b : g_seen) s += testing::PrintToString(std::make_tuple(b.oid, b.tag, b.value));
  return s;
}

Message Signed(const std::string& deviceId = "MFG:Acme;") {
  return Response(kEngine, "inkprobe", kAuthKey.data(), kPrivKey.data(), deviceId);
}

Message Unsigned() {
  Message m = Signed();
  m.flags = 0;
  m.authLen = 0;
  m.salt.clear();
  return m;
}

TEST(SnmpV3Parse, DiscoveryReport) {
  ASSERT_EQ(kReport.size(), 98u);
  const Outcome o = Parse(kReport);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(Bytes(o.params.engineID, o.params.engineID + o.params.engineIDLen), kEngine);
  EXPECT_EQ(o.params.engineBoots, 3u);
  EXPECT_EQ(o.params.engineTime, 1234u);
  EXPECT_EQ(std::make_tuple(o.version, o.requestId, o.errorStatus, o.errorIndex),
            std::make_tuple(3, 0, 0, 0));
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].oid, UnknownEngineIdsOid());
  EXPECT_EQ(g_seen[0].tag, 0x41);
  EXPECT_EQ(g_seen[0].value, Hex("07"));
  EXPECT_EQ(Parse(kReport, Entry::kAuthenticated).result, 0) << "a Report without authentication";
}

// Edits of the Report at the octets after a marker.
TEST(SnmpV3Parse, ReportEdits) {
  const struct {
    const char* at;
    size_t offset;
    uint8_t value;
    int result;
  } rows[] = {
      {"30 60", 1, 0x61, 0},        // outer length one more
      {"30 60", 1, 0x5F, 0},        // outer length one less
      {"A8 1C", 0, 0xA0, 0},        // a GetRequest is no answer
      {"A8 1C", 0, 0xA2, 1},        // a Response
      {"A8 1C", 0, 0xA3, 1},        // read like a Response
      {"A8 1C", 1, 0x83, 0},        // long form running out
      {"11 22 33 04 00 A8", 2, 0x32, 0},  // contextEngineID differs in its last octet
      {"30 0E", 0, 0x31, 0},        // msgGlobalData not a SEQUENCE
      {"04 01 00 02 01 03 04", 1, 0x00, 0},  // empty msgFlags
      {"02 02 04 D2", 1, 0x84, 0},  // engine time's length runs out
      {"41 01 07", 1, 0x02, 0},     // last value one past the message
      {"30 1A 04 0B", 1, 0x1B, 0},  // USM sequence one past its OCTET STRING
  };
  for (const auto& row : rows) {
    Bytes m = kReport;
    const Bytes at = Hex(row.at);
    auto it = std::search(m.begin(), m.end(), at.begin(), at.end());
    ASSERT_NE(it, m.end()) << row.at;
    it[long(row.offset)] = row.value;
    EXPECT_EQ(Parse(m).result, row.result) << row.at << " +" << row.offset << " = " << int(row.value);
  }
  Bytes trailing = kReport;
  trailing.push_back(0);
  EXPECT_EQ(Parse(trailing).result, 0) << "a trailing octet";
}

TEST(SnmpV3Parse, EveryPrefixIsRefused) {
  for (Entry entry : {Entry::kPlain, Entry::kAuthenticated}) {
    const msgprop::Decode decode = [entry](uint8_t* m, size_t n) { return Summary(m, n, entry); };
    if (entry == Entry::kPlain) {
      msgprop::ExpectEveryPrefixRefused(kReport, decode);
      msgprop::ExpectEveryPrefixRefused(Encode(Unsigned()), decode);
    }
    msgprop::ExpectEveryPrefixRefused(Encode(Signed()), decode);
  }
}

// An authenticated message allows no edit to pass that changes what it says;
// an unauthenticated one is checked for staying inside its buffer.
TEST(SnmpV3Parse, EveryOctetEditIsRefusedOrDecodesTheSame) {
  msgprop::ExpectEveryEditRefusedOrSame(
      Encode(Signed()), [](uint8_t* m, size_t n) { return Summary(m, n, Entry::kPlain); });
  for (const Bytes& msg : {kReport, Encode(Unsigned())}) {
    msgprop::ExpectEveryEditRefusedOrSame(msg, [](uint8_t* m, size_t n) {
      return Summary(m, n, Entry::kPlain) ? std::optional<std::string>("") : std::nullopt;
    });
  }
}

TEST(SnmpV3Parse, SizeLimitsOfTheCopies) {
  const struct {
    const char* what;
    std::function<void(Message&)> edit;
    int result;
  } rows[] = {
      {"engine ID of 32", [](Message& m) { m.engineId = m.contextEngineId = Bytes(32, 0x80); }, 1},
      {"engine ID of 33", [](Message& m) { m.engineId = m.contextEngineId = Bytes(33, 0x80); }, 0},
      {"user name of 64", [](Message& m) { m.user.assign(64, 'u'); }, 1},
      {"user name of 65", [](Message& m) { m.user.assign(65, 'u'); }, 0},
      {"privacy parameters of 64", [](Message& m) { m.salt.assign(64, 1); }, 1},
      {"privacy parameters of 65", [](Message& m) { m.salt.assign(65, 1); }, 0},
      {"context name of 64", [](Message& m) { m.contextName.assign(64, 'c'); }, 1},
      {"context name of 65", [](Message& m) { m.contextName.assign(65, 'c'); }, 0},
      {"authentication parameters of 13", [](Message& m) { m.authLen = 13; }, 0},
  };
  for (const auto& row : rows) {
    Message m = Report(kEngine, 1, 2);
    row.edit(m);
    EXPECT_EQ(Parse(Encode(m)).result, row.result) << row.what;
  }
}

TEST(SnmpV3Parse, PduFields) {
  Message m = Report(kEngine, 1, 2);
  m.pduTag = 0xA2;
  m.requestId = 300;
  m.errorStatus = 2;
  Outcome o = Parse(Encode(m));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.requestId, 0x01) << "the first octet of 02 02 01 2C";
  EXPECT_EQ(o.errorStatus, 2);

  m.bindings.clear();
  Bytes empty = Encode(m);
  EXPECT_EQ(Parse(empty).result, 1);
  EXPECT_TRUE(g_seen.empty());
  empty.back() = 0x80;  // the lone 80: a list of length 0
  EXPECT_EQ(Parse(empty).result, 1);
  EXPECT_TRUE(g_seen.empty());

  m.bindings = {{DeviceIdOid(), Text("first")}, {DeviceIdOid(), Text("second")}};
  Bytes two = Encode(m);
  const Bytes second = Hex("30 1D 06 13");
  auto it = std::search(two.begin() + 60, two.end(), second.begin(), second.end());
  ASSERT_NE(it, two.end());
  *it = 0x31;
  EXPECT_EQ(Parse(two).result, 0);
  ASSERT_EQ(g_seen.size(), 1u) << "the first binding still reached the callback";
  EXPECT_EQ(g_seen[0].value, Bytes({'f', 'i', 'r', 's', 't'}));
}

TEST(SnmpV3Parse, AuthenticatedEncipheredResponse) {
  const std::string id = "MFG:Acme;STS:x;";
  for (Entry entry : {Entry::kPlain, Entry::kAuthenticated}) {
    Bytes msg = Encode(Signed(id));
    const Outcome o = Parse(msg, entry);
    EXPECT_EQ(o.result, 1);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].oid, DeviceIdOid());
    EXPECT_EQ(g_seen[0].tag, 0x04);
    EXPECT_EQ(g_seen[0].value, Bytes(id.begin(), id.end()));
    EXPECT_EQ(o.params.engineBoots, 7u);
    EXPECT_EQ(o.params.engineTime, 4000u);
  }
  // Only the answer that echoes the request's msgID counts, all 16 bits of it.
  Message m = Signed(id);
  m.msgId = 257;
  for (uint16_t expected : {257, 1, 2}) {
    Bytes msg = Encode(m);
    _SNMP_PARAM_V3 params{};
    memcpy(params.authKey, kAuthKey.data(), 16);
    memcpy(params.privKey, kPrivKey.data(), 16);
    unsigned char status, index;
    EXPECT_EQ(CNetIO::parseSnmpV3AnswerTo(expected, msg.data(), int(msg.size()), &status, &index,
                                          &params),
              expected == 257)
        << expected;
  }
}

TEST(SnmpV3Parse, WrongKeyStillRecordsTheEngine) {
  const Outcome o = Parse(Encode(Signed()), Entry::kPlain, kOtherKey);
  EXPECT_EQ(o.result, 0);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(Bytes(o.params.engineID, o.params.engineID + o.params.engineIDLen), kEngine);
  EXPECT_EQ(o.params.engineBoots, 7u);
  EXPECT_EQ(o.params.engineTime, 4000u);
}

// Each forgery carries the true first octets of the code for its own field,
// which a comparison over the field's length alone would accept.
TEST(SnmpV3Parse, ForgedAuthenticationFieldsNeverPass) {
  const struct {
    uint8_t flags;
    size_t authLen;
    int plain, authenticated;
  } rows[] = {
      {0x03, 0, 0, 0}, {0x03, 1, 0, 0},  {0x03, 4, 0, 0},  {0x03, 11, 0, 0},
      {0x03, 12, 1, 1}, {0x00, 4, 0, 0}, {0x00, 12, 1, 0}, {0x00, 0, 1, 0},
  };
  for (const auto& row : rows) {
    Message m = Signed();
    m.flags = row.flags;
    m.authLen = row.authLen;
    if (!(row.flags & kSnmpV3FlagPriv)) m.salt.clear();
    const Bytes msg = Encode(m);
    const std::string what = "flags " + std::to_string(row.flags) + ", " +
                             std::to_string(row.authLen) + " octets";
    EXPECT_EQ(Parse(msg).result, row.plain) << what;
    EXPECT_EQ(g_seen.size(), size_t(row.plain)) << what;
    EXPECT_EQ(Parse(msg, Entry::kAuthenticated).result, row.authenticated) << what;
    EXPECT_EQ(g_seen.size(), size_t(row.authenticated)) << what << ": nothing delivered";
  }
}

TEST(SnmpV3Parse, PrivacyFlagAndMsgDataMustAgree) {
  Message m = Signed();
  m.rawMsgData = Octets(Bytes(60, 0x5A));
  EXPECT_EQ(Parse(Encode(m)).result, 0) << "60 enciphered octets";
  m.rawMsgData = Octets(Bytes(64, 0x5A));
  m.flags = kSnmpV3FlagAuth;
  EXPECT_EQ(Parse(Encode(m)).result, 0) << "an enciphered OCTET STRING without the privacy flag";
}

}  // namespace
