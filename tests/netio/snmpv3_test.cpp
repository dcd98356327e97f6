// SNMPv3: the discovery Report octet for octet, authenticated and enciphered
// Responses, forged authentication fields, msgID matching, the copies' limits,
// every prefix and single-octet edit; the requests built octet for octet,
// INTEGERs that stay non-negative under BER, and refusals instead of overruns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
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

// As an agent sends it: msgMaxSize 65507, flags 00, engine 80 00 0B 93 03 00
// 0C 29 11 22 33, boots 3, time 1234, usmStatsUnknownEngineIDs.0 = 7.
const Bytes kReport = Hex(
    "30 60 02 01 03 30 0E 02 01 01 02 03 00 FF E3 04 01 00 02 01 03"
    "04 1C 30 1A 04 0B 80 00 0B 93 03 00 0C 29 11 22 33 02 01 03 02 02 04 D2 04 00 04 00 04 00"
    "30 2D 04 0B 80 00 0B 93 03 00 0C 29 11 22 33 04 00"
    "A8 1C 02 01 00 02 01 00 02 01 00 30 11 30 0F 06 0A 2B 06 01 06 03 0F 01 01 04 00 41 01 07");
const Bytes kEngine = Hex("80 00 0B 93 03 00 0C 29 11 22 33");
// RFC 3414 A.3.1: "maplesyrup" localised to engine 00..02.
const Bytes kMapleKey = Hex("52 6f 5e ed 9f cc e2 6f 89 64 c2 93 07 87 d8 2b");
const Bytes kPrivKey = Hex("0f 1e 2d 3c 4b 5a 69 78 87 96 a5 b4 c3 d2 e1 f0");

struct Outcome {
  int result;
  unsigned char requestId = 0xEE, errorStatus = 0xEE, errorIndex = 0xEE;
  int version = -1;
  _SNMP_PARAM_V3 params{};
};

Outcome ParseIn(uint8_t* msg, size_t size, bool authenticated = false, const Bytes& authKey = kMapleKey) {
  g_seen.clear();
  Outcome o;
  memcpy(o.params.authKey, authKey.data(), 16);
  memcpy(o.params.privKey, kPrivKey.data(), 16);
  o.params.valueCallback = testnetio::Record;
  auto parse = authenticated ? CNetIO::parseSnmpV3AuthenticatedResponse : CNetIO::parseSnmpV3Response;
  o.result = parse(msg, int(size), &o.version, &o.requestId, &o.errorStatus, &o.errorIndex, &o.params);
  return o;
}

Outcome Parse(Bytes msg, bool authenticated = false, const Bytes& authKey = kMapleKey) {
  return ParseIn(msg.data(), msg.size(), authenticated, authKey);
}

// Everything a parse hands back, for comparing two parses.
std::optional<std::string> Summary(uint8_t* msg, size_t size, bool authenticated) {
  const Outcome o = ParseIn(msg, size, authenticated);
  if (o.result != 1) return std::nullopt;
  std::string s = testing::PrintToString(std::make_tuple(
      o.version, o.requestId, o.errorStatus, o.errorIndex, o.params.engineBoots, o.params.engineTime,
      Bytes(o.params.engineID, o.params.engineID + o.params.engineIDLen)));
  for (const auto& b : g_seen) s += testing::PrintToString(std::make_tuple(b.oid, b.tag, b.value));
  return s;
}

Message Signed(const std::string& deviceId = "MFG:Acme;") {
  return Response(kEngine, "inkprobe", kMapleKey.data(), kPrivKey.data(), deviceId);
}

Message Unsigned() {
  Message m = Signed();
  m.flags = 0;
  m.authLen = 0;
  m.salt.clear();
  return m;
}

TEST(SnmpV3Parse, DiscoveryReportAndItsEdits) {
  const Outcome o = Parse(kReport);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(Bytes(o.params.engineID, o.params.engineID + o.params.engineIDLen), kEngine);
  EXPECT_EQ(std::make_tuple(o.params.engineBoots, o.params.engineTime, o.version, o.requestId,
                            o.errorStatus, o.errorIndex), std::make_tuple(3u, 1234u, 3, 0, 0, 0));
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(std::tie(g_seen[0].oid, g_seen[0].tag, g_seen[0].value),
            std::make_tuple(UnknownEngineIdsOid(), 0x41, Hex("07")));
  EXPECT_EQ(Parse(kReport, true).result, 0) << "a Report without authentication";
  // Edits at the octets after a marker.
  const std::tuple<const char*, size_t, uint8_t, int> rows[] = {
      {"30 60", 1, 0x61, 0}, {"30 60", 1, 0x5F, 0},  // outer length one more, one less
      {"A8 1C", 0, 0xA0, 0}, {"A8 1C", 0, 0xA2, 1}, {"A8 1C", 0, 0xA3, 1},  // a GetRequest is no answer
      {"A8 1C", 1, 0x83, 0},                  // long form running out
      {"11 22 33 04 00 A8", 2, 0x32, 0},      // contextEngineID differs in its last octet
      {"30 0E", 0, 0x31, 0},                  // msgGlobalData not a SEQUENCE
      {"04 01 00 02 01 03 04", 1, 0x00, 0},   // empty msgFlags
      {"02 02 04 D2", 1, 0x84, 0},            // engine time's length runs out
      {"41 01 07", 1, 0x02, 0},               // last value one past the message
      {"30 1A 04 0B", 1, 0x1B, 0},            // USM sequence one past its OCTET STRING
  };
  for (const auto& [marker, offset, value, result] : rows) {
    Bytes m = kReport;
    const Bytes at = Hex(marker);
    auto it = std::search(m.begin(), m.end(), at.begin(), at.end());
    ASSERT_NE(it, m.end()) << marker;
    it[long(offset)] = value;
    EXPECT_EQ(Parse(m).result, result) << marker << " +" << offset << " = " << int(value);
  }
  EXPECT_EQ(Parse(Cat({kReport, {0}})).result, 0) << "a trailing octet";
}

// An authenticated message allows no edit that changes what it says; the
// others are checked for staying inside their buffers.
TEST(SnmpV3Parse, EveryPrefixRefusedEveryEditRefusedOrTheSame) {
  for (bool authenticated : {false, true})
    msgprop::ExpectEveryPrefixRefused(Encode(Signed()), [authenticated](uint8_t* m, size_t n) {
      return Summary(m, n, authenticated);
    });
  msgprop::ExpectEveryEditRefusedOrSame(Encode(Signed()), [](uint8_t* m, size_t n) { return Summary(m, n, false); });
  for (const Bytes& msg : {kReport, Encode(Unsigned())}) {
    const msgprop::Decode accepted = [](uint8_t* m, size_t n) {
      return Summary(m, n, false) ? std::optional<std::string>("") : std::nullopt;
    };
    msgprop::ExpectEveryPrefixRefused(msg, accepted);
    msgprop::ExpectEveryEditRefusedOrSame(msg, accepted);
  }
}

TEST(SnmpV3Parse, CopiesLimitsAndPduFields) {
  const std::pair<std::function<void(Message&)>, int> rows[] = {
      {[](Message& m) { m.engineId = m.contextEngineId = Bytes(32, 0x80); }, 1},
      {[](Message& m) { m.engineId = m.contextEngineId = Bytes(33, 0x80); }, 0},
      {[](Message& m) { m.user.assign(64, 'u'); }, 1}, {[](Message& m) { m.user.assign(65, 'u'); }, 0},
      {[](Message& m) { m.salt.assign(64, 1); }, 1}, {[](Message& m) { m.salt.assign(65, 1); }, 0},
      {[](Message& m) { m.contextName.assign(64, 'c'); }, 1},
      {[](Message& m) { m.contextName.assign(65, 'c'); }, 0},
      {[](Message& m) { m.authLen = 13; }, 0}};
  for (size_t i = 0; i < std::size(rows); ++i) {
    Message m = Report(kEngine, 1, 2);
    rows[i].first(m);
    EXPECT_EQ(Parse(Encode(m)).result, rows[i].second) << "row " << i;
  }
  Message m = Report(kEngine, 1, 2);
  m.pduTag = 0xA2;
  m.requestId = 300;
  m.errorStatus = 2;
  Outcome o = Parse(Encode(m));
  EXPECT_EQ(std::make_tuple(o.result, o.requestId, o.errorStatus), std::make_tuple(1, 0x01, 2))
      << "the first octet of 02 02 01 2C";
  m.bindings.clear();
  Bytes empty = Encode(m);
  EXPECT_EQ(Parse(empty).result, 1);
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
  EXPECT_EQ(g_seen[0].value, testmsg::Text("first"));
}

TEST(SnmpV3Parse, AuthenticatedEncipheredResponseAndItsMsgId) {
  for (bool authenticated : {false, true}) {
    const Outcome o = Parse(Encode(Signed("MFG:Acme;STS:x;")), authenticated);
    EXPECT_EQ(o.result, 1);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(std::tie(g_seen[0].oid, g_seen[0].tag, g_seen[0].value),
              std::make_tuple(DeviceIdOid(), 0x04, testmsg::Text("MFG:Acme;STS:x;")));
    EXPECT_EQ(std::make_pair(o.params.engineBoots, o.params.engineTime), std::make_pair(7u, 4000u));
  }
  // Only the answer that echoes the request's msgID counts, all 16 bits of it.
  Message m = Signed();
  m.msgId = 257;
  for (uint16_t expected : {257, 1, 2}) {
    Bytes msg = Encode(m);
    Outcome o;
    memcpy(o.params.authKey, kMapleKey.data(), 16);
    memcpy(o.params.privKey, kPrivKey.data(), 16);
    EXPECT_EQ(CNetIO::parseSnmpV3AnswerTo(expected, msg.data(), int(msg.size()), &o.errorStatus,
                                          &o.errorIndex, &o.params), expected == 257) << expected;
  }
  // A wrong key: nothing delivered, the engine still recorded.
  const Outcome o = Parse(Encode(Signed()), false, Cat({Bytes(15, 0x52), {0x2c}}));
  EXPECT_EQ(o.result, 0);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(Bytes(o.params.engineID, o.params.engineID + o.params.engineIDLen), kEngine);
  EXPECT_EQ(std::make_pair(o.params.engineBoots, o.params.engineTime), std::make_pair(7u, 4000u));
  // The privacy flag and msgData must agree.
  m = Signed();
  m.rawMsgData = Octets(Bytes(60, 0x5A));
  EXPECT_EQ(Parse(Encode(m)).result, 0) << "60 enciphered octets";
  m.rawMsgData = Octets(Bytes(64, 0x5A));
  m.flags = kSnmpV3FlagAuth;
  EXPECT_EQ(Parse(Encode(m)).result, 0) << "an enciphered OCTET STRING without the privacy flag";
}

// Each forgery carries the true first octets of the code for its own field,
// which a comparison over the field's length alone would accept.
TEST(SnmpV3Parse, ForgedAuthenticationFieldsNeverPass) {
  // flags, octets of the field, accepted by the plain and by the authenticated entry
  const std::tuple<uint8_t, size_t, int, int> rows[] = {
      {0x03, 0, 0, 0}, {0x03, 1, 0, 0}, {0x03, 4, 0, 0}, {0x03, 11, 0, 0},
      {0x03, 12, 1, 1}, {0x00, 4, 0, 0}, {0x00, 12, 1, 0}, {0x00, 0, 1, 0}};
  for (const auto& [flags, authLen, plain, authenticated] : rows) {
    Message m = Signed();
    m.flags = flags;
    m.authLen = authLen;
    if (!(flags & kSnmpV3FlagPriv)) m.salt.clear();
    const Bytes msg = Encode(m);
    for (const auto& [entry, accepted] : {std::pair{false, plain}, {true, authenticated}}) {
      EXPECT_EQ(Parse(msg, entry).result, accepted) << int(flags) << ", " << authLen << ", " << entry;
      EXPECT_EQ(g_seen.size(), size_t(accepted)) << "delivered";
    }
  }
}

const char kDeviceIdOidText[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0";
const char* const kDeviceIdOids[] = {kDeviceIdOidText};
Bytes Out(const unsigned char* p, int n) { return n > 0 ? Bytes(p, p + n) : Bytes(); }

// 1, 2, 3 or 4 octets by magnitude, a 00 in front of a set top bit.
const std::pair<uint32_t, const char*> kIntegers[] = {
    {0, "02 01 00"}, {1, "02 01 01"}, {127, "02 01 7F"}, {128, "02 02 00 80"}, {200, "02 02 00 C8"},
    {255, "02 02 00 FF"}, {256, "02 02 01 00"}, {300, "02 02 01 2C"}, {32767, "02 02 7F FF"},
    {32768, "02 03 00 80 00"}, {40000, "02 03 00 9C 40"}, {65535, "02 03 00 FF FF"},
    {70000, "02 04 00 01 11 70"}, {0x7FFFFFFF, "02 04 7F FF FF FF"}, {0x80000000, "02 05 00 80 00 00 00"}};

TEST(SnmpV3Build, DiscoveryRequestAndSecurityParameters) {
  unsigned char out[kSnmpV3WorkSize];
  // msgID m and request-id r spliced into the 57-octet request, enclosing lengths grown to fit.
  const size_t n = std::size(kIntegers);
  for (size_t i = 0; i < n; ++i) {
    const auto [m, mOctets] = kIntegers[i];
    const auto [r, rOctets] = kIntegers[(i + 5) % n];
    if (m > 0xFFFF || r > 0xFFFF) continue;
    const Bytes msgId = Hex(mOctets), requestId = Hex(rOctets);
    const int growM = int(msgId.size()) - 3, growR = int(requestId.size()) - 3;
    EXPECT_EQ(Out(out, CNetIO::BuildSnmpV3GetEngineIdPacket(uint16_t(r), uint16_t(m), out, sizeof out)),
              Cat({{0x30, uint8_t(0x37 + growM + growR)}, Hex("02 01 03 30"), {uint8_t(0x0D + growM)},
                   msgId, Hex("02 02 08 00 04 01 04 02 01 03 04 10 30 0E 04 00 02 01 00 02 01 00"
                              "04 00 04 00 04 00 30"), {uint8_t(0x11 + growR)}, Hex("04 00 04 00 A0"),
                   {uint8_t(0x0B + growR)}, requestId, Hex("02 01 00 02 01 00 30 00")})) << m << " " << r;
  }
  for (int size = 0; size <= 57; ++size) {
    auto exact = std::make_unique<unsigned char[]>(size_t(size));
    EXPECT_EQ(CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, exact.get(), size), size < 57 ? 0 : 57);
  }
  const Bytes engine = Hex("80 00 0B 93 01 02 03 04 05");
  for (const auto& [value, octets] : kIntegers) {
    const Bytes usm = Cat({Hex("04 09 80 00 0B 93 01 02 03 04 05 02 01 01"), Hex(octets),
                           Hex("04 03 61 62 63 04 00 04 00")});
    EXPECT_EQ(Out(out, CNetIO::BuildSnmpV3msgSecurityParameters(engine.data(), int(engine.size()), 1,
                                                               value, "abc", nullptr, nullptr, 0, out, nullptr)),
              Cat({{0x04, uint8_t(usm.size() + 2), 0x30, uint8_t(usm.size())}, usm})) << value;
  }
  const Bytes salt = Hex("00 01 11 70 FF FF FF FF");
  uint32_t offset = 99;
  EXPECT_EQ(Out(out, CNetIO::BuildSnmpV3msgSecurityParameters(nullptr, 0, 0, 0, "u", "password",
                                                             salt.data(), 8, out, &offset)),
            Hex("04 25 30 23 04 00 02 01 00 02 01 00 04 01 75 04 0C 00 00 00 00 00 00 00 00 00 00 00 00"
                "04 08 00 01 11 70 FF FF FF FF"));
  EXPECT_EQ(offset, 17u);
  const std::string user(130, 'u');
  EXPECT_EQ(Out(out, CNetIO::BuildSnmpV3msgSecurityParameters(nullptr, 0, 0, 0, user.c_str(), nullptr,
                                                             nullptr, 0, out, nullptr)),
            Cat({Hex("04 81 94 30 81 91 04 00 02 01 00 02 01 00 04 81 82"), testmsg::Text(user),
                 Hex("04 00 04 00")}));
}

class SnmpV3Request : public ::testing::Test {
 protected:
  void SetUp() override { SNMPv3MsgID = SNMPv3RequestID = 0, salt_low = 0; }
  // 17 octets: its device-ID scoped PDU is 61 octets, enciphered as 64.
  const Bytes engine17 = Hex("80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A");
  unsigned char authKey[16], privKey[16], out[kSnmpV3WorkSize];
  Bytes Build(const Bytes& engine, uint32_t boots, uint32_t time, const char* user, const char* auth,
              const char* priv, const unsigned char* const* values = nullptr,
              const signed char* lens = nullptr, const unsigned char* tags = nullptr) {
    memset(authKey, 0xEE, sizeof authKey);
    memset(privKey, 0xEE, sizeof privKey);
    return Out(out, CNetIO::BuildSnmpV3RequestPacket(engine.data(), int(engine.size()), boots, time, 1,
                                                     kDeviceIdOids, values, lens, tags, user, auth,
                                                     priv, authKey, privKey, out));
  }
  // The code over the whole message, recomputed from the key the builder left.
  void ExpectSigned(Bytes msg, unsigned offset) {
    EXPECT_TRUE(VerifyAuthParams(msg.data(), unsigned(msg.size()), offset, 12, authKey));
    msg.back() ^= 1;
    EXPECT_FALSE(VerifyAuthParams(msg.data(), unsigned(msg.size()), offset, 12, authKey));
  }
};

TEST_F(SnmpV3Request, PlainAndAuthenticatedRequestsAreExact) {
  SNMPv3MsgID = 255;
  SNMPv3RequestID = 256;
  EXPECT_EQ(Build(engine17, 1, 300, "inkprobe", nullptr, nullptr),
            Hex("30 7D 02 01 03 30 0E 02 02 00 FF 02 02 08 00 04 01 04 02 01 03"
                "04 2A 30 28 04 11 80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A"
                "02 01 01 02 02 01 2C 04 08 69 6E 6B 70 72 6F 62 65 04 00 04 00"
                "30 3C 04 11 80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A 04 00"
                "A0 25 02 02 01 00 02 01 00 02 01 00 30 19 30 17 06 13"
                "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00"));
  EXPECT_EQ(std::make_tuple(SNMPv3MsgID, SNMPv3RequestID, salt_low), std::make_tuple(256, 257, 0u));
  EXPECT_EQ(Cat({Bytes(authKey, authKey + 16), Bytes(privKey, privKey + 16)}), Bytes(32, 0));
  // Authentication only: the PDU stays in plaintext, the key is RFC 3414's.
  SNMPv3MsgID = SNMPv3RequestID = 0;
  const Bytes msg = Build(Hex("00 00 00 00 00 00 00 00 00 00 00 02"), 1, 70000, "inkprobe", "maplesyrup", nullptr);
  ASSERT_EQ(msg.size(), 129u);
  Bytes blank = msg;
  std::fill(blank.begin() + 59, blank.begin() + 71, 0);
  EXPECT_EQ(blank, Hex("30 7F 02 01 03 30 0D 02 01 00 02 02 08 00 04 01 05 02 01 03"
                       "04 33 30 31 04 0C 00 00 00 00 00 00 00 00 00 00 00 02 02 01 01"
                       "02 04 00 01 11 70 04 08 69 6E 6B 70 72 6F 62 65"
                       "04 0C 00 00 00 00 00 00 00 00 00 00 00 00 04 00"
                       "30 36 04 0C 00 00 00 00 00 00 00 00 00 00 00 02 04 00"
                       "A0 24 02 01 00 02 01 00 02 01 00 30 19 30 17 06 13"
                       "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00"));
  EXPECT_EQ(Cat({Bytes(authKey, authKey + 16), Bytes(privKey, privKey + 16)}), Cat({kMapleKey, Bytes(16, 0)}));
  ExpectSigned(msg, 59);
}

TEST_F(SnmpV3Request, PrivacyEnciphersTheFilledUpScopedPdu) {
  salt_low = 0xFFFFFFFF;
  SNMPv3RequestID = 5;
  const Bytes msg = Build(engine17, 70000, 12, "inkprobe", "maplesyrup", "maplesyrup");
  ASSERT_GT(msg.size(), 66u);
  EXPECT_EQ(std::make_tuple(msg[17], salt_low, SNMPv3RequestID), std::make_tuple(0x07, 0u, 6));
  // msgPrivacyParameters: boots 70 000, then the salt_low in use; then 04 40 and 64 ciphered octets.
  const Bytes privacy = Hex("04 08 00 01 11 70 FF FF FF FF");
  const auto saltAt = std::search(msg.begin(), msg.end(), privacy.begin(), privacy.end());
  ASSERT_NE(saltAt, msg.end());
  const size_t dataAt = size_t(saltAt - msg.begin()) + privacy.size();
  ASSERT_EQ(msg.size(), dataAt + 66);
  EXPECT_EQ(Bytes(msg.begin() + long(dataAt), msg.begin() + long(dataAt) + 2), Hex("04 40"));
  Bytes data(msg.begin() + long(dataAt) + 2, msg.end());
  ASSERT_EQ(DecryptMsgData(data.data(), 64, privKey, privacy.data() + 2), 1);
  EXPECT_EQ(data, Cat({Hex("30 3B 04 11"), engine17,
                       Hex("04 00 A0 24 02 01 05 02 01 00 02 01 00 30 19 30 17 06 13"
                           "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00 00 00 00")}));
  ExpectSigned(msg, unsigned(saltAt - msg.begin()) - 12);
}

TEST_F(SnmpV3Request, RefusesWhatItCannotBuild) {
  const unsigned char* const values[] = {reinterpret_cast<const unsigned char*>("x")};
  const signed char negative[] = {-1};
  const unsigned char tags[] = {0x04};
  const char* const badOids[] = {"1.3.six"};
  EXPECT_EQ(Build(Bytes(33, 0x80), 0, 0, "u", "maplesyrup", "maplesyrup"), Bytes());
  EXPECT_EQ(Build(engine17, 0, 0, "u", "", nullptr), Bytes()) << "empty authentication password";
  EXPECT_EQ(Build(engine17, 0, 0, "u", "maplesyrup", ""), Bytes()) << "empty privacy password";
  EXPECT_EQ(Build(engine17, 0, 0, "u", nullptr, nullptr, values, negative, tags), Bytes());
  EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(engine17.data(), 17, 0, 0, 1, badOids, nullptr, nullptr,
                                             nullptr, "u", nullptr, nullptr, authKey, privKey, out), 0);
  EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(engine17.data(), 17, 0, 0, 1, kDeviceIdOids, nullptr, nullptr,
                                             nullptr, "u", nullptr, nullptr, nullptr, privKey, out), 0);
  // 15 bindings of 19-octet names and 127-octet values overrun the work area;
  // 13 fit the scoped PDU but not the whole message.
  std::vector<const char*> oids(15, kDeviceIdOidText);
  const unsigned char big[127] = {};
  std::vector<const unsigned char*> many(15, big);
  std::vector<signed char> lens(15, 127);
  std::vector<unsigned char> octetTags(15, 0x04);
  for (int count : {15, 13, 12}) {
    EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(engine17.data(), 17, 0, 0, count, oids.data(), many.data(),
                                               lens.data(), octetTags.data(), "u", "maplesyrup",
                                               "maplesyrup", authKey, privKey, out) > 0, count == 12) << count;
    if (count == 15) {
      EXPECT_EQ(salt_low, 0u) << "a salt used up for a message refused before its PDU";
    }
  }
}

}  // namespace
