// SNMPv3 message parsing: a discovery Report octet for octet, authenticated
// and enciphered Responses, forged authentication fields, the Data model's
// limits, and truncated or overrunning input in exactly sized heap buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "netio/NetIO.h"
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
  Bytes after;  // the message as the parser left it
};

// Parses a copy in a heap buffer of exactly its size, so ASan sees any over-read.
Outcome Parse(const Bytes& msg, bool requireAuth = false, const Bytes& authKey = kAuthKey) {
  g_seen.clear();
  Outcome o;
  memcpy(o.params.authKey, authKey.data(), 16);
  memcpy(o.params.privKey, kPrivKey.data(), 16);
  o.params.valueCallback = Record;
  auto copy = std::make_unique<unsigned char[]>(std::max<size_t>(msg.size(), 1));
  if (!msg.empty()) memcpy(copy.get(), msg.data(), msg.size());
  auto parse = requireAuth ? CNetIO::parseSnmpV3AuthenticatedResponse
                           : CNetIO::parseSnmpV3Response;
  o.result = parse(copy.get(), int(msg.size()), &o.version, &o.requestId, &o.errorStatus,
                   &o.errorIndex, &o.params);
  o.after.assign(copy.get(), copy.get() + msg.size());
  return o;
}

Message Signed(const std::string& deviceId = "MFG:Acme;") {
  return Response(kEngine, "inkprobe", kAuthKey.data(), kPrivKey.data(), deviceId);
}

TEST(SnmpV3Parse, DiscoveryReport) {
  ASSERT_EQ(kReport.size(), 98u);
  const Outcome o = Parse(kReport);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(Bytes(o.params.engineID, o.params.engineID + o.params.engineIDLen), kEngine);
  EXPECT_EQ(o.params.engineBoots, 3u);
  EXPECT_EQ(o.params.engineTime, 1234u);
  EXPECT_EQ(o.version, 3);
  EXPECT_EQ(o.requestId, 0);
  EXPECT_EQ(o.errorStatus, 0);
  EXPECT_EQ(o.errorIndex, 0);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].oid, UnknownEngineIdsOid());
  EXPECT_EQ(g_seen[0].tag, 0x41);
  EXPECT_EQ(g_seen[0].value, Hex("07"));
  EXPECT_EQ(Parse(kReport, true).result, 0) << "a Report without authentication";
}

TEST(SnmpV3Parse, ReportEdits) {
  struct Row {
    const char* what;
    std::function<void(Bytes&)> edit;
    int result;
  } rows[] = {
      {"outer length one more", [](Bytes& m) { m[1] = 0x61; }, 0},
      {"outer length one less", [](Bytes& m) { m[1] = 0x5F; }, 0},
      {"a trailing octet", [](Bytes& m) { m.push_back(0); }, 0},
      {"PDU tag A0", [](Bytes& m) { m[m.size() - 30] = 0xA0; }, 0},
      {"PDU tag A2", [](Bytes& m) { m[m.size() - 30] = 0xA2; }, 1},
      {"PDU tag A3", [](Bytes& m) { m[m.size() - 30] = 0xA3; }, 1},
      {"contextEngineID differs in its last octet", [](Bytes& m) { m[m.size() - 33] ^= 1; }, 0},
      {"msgGlobalData not a SEQUENCE", [](Bytes& m) { m[5] = 0x31; }, 0},
      {"empty msgFlags", [](Bytes& m) { m[16] = 0x00; }, 0},
  };
  for (const auto& row : rows) {
    Bytes m = kReport;
    row.edit(m);
    EXPECT_EQ(Parse(m).result, row.result) << row.what;
  }
}

// Each length octet raised beyond its container, or to a long form that runs out.
TEST(SnmpV3Parse, InnerLengthsThatOverrun) {
  struct Row {
    const char* at;
    size_t offset;
    uint8_t value;
  } rows[] = {
      {"04 1C 30 1A", 1, 0x7F}, {"30 1A 04 0B", 1, 0x1B}, {"04 0B 80", 1, 0x7F},
      {"02 02 04 D2", 1, 0x7F}, {"02 02 04 D2", 1, 0x84}, {"04 00 04 00 04 00 30", 1, 0x7F},
      {"A8 1C", 1, 0x1D},       {"A8 1C", 1, 0x83},       {"30 11 30 0F", 1, 0x12},
      {"30 0F 06", 1, 0x10},    {"06 0A 2B", 1, 0x0D},    {"41 01 07", 1, 0x02},
      {"41 01 07", 1, 0xFF},    {"30 2D 04 0B", 1, 0x2E},
  };
  for (const auto& row : rows) {
    Bytes m = kReport;
    const Bytes at = Hex(row.at);
    auto it = std::search(m.begin(), m.end(), at.begin(), at.end());
    ASSERT_NE(it, m.end()) << row.at;
    it[long(row.offset)] = row.value;
    EXPECT_EQ(Parse(m).result, 0) << row.at << " -> " << int(row.value);
  }
}

TEST(SnmpV3Parse, EveryPrefixIsRefused) {
  Message plain = Signed();
  plain.flags = 0;
  plain.authLen = 0;
  plain.salt.clear();
  for (const Bytes& msg : {kReport, Encode(Signed()), Encode(plain)}) {
    ASSERT_EQ(Parse(msg).result, 1);
    for (size_t n = 0; n < msg.size(); ++n)
      EXPECT_EQ(Parse(Bytes(msg.begin(), msg.begin() + long(n))).result, 0) << n;
  }
}

// Whatever one octet becomes, the parser stays inside the datagram.
TEST(SnmpV3Parse, EveryOctetEditedStaysInBounds) {
  Message plain = Signed();
  plain.flags = 0;
  plain.authLen = 0;
  plain.salt.clear();
  for (const Bytes& msg : {kReport, Encode(plain), Encode(Signed())}) {
    for (size_t i = 0; i < msg.size(); ++i) {
      for (uint8_t v : {0x00, 0x01, 0x7F, 0x80, 0x81, 0x82, 0x84, 0x85, 0xFF}) {
        Bytes m = msg;
        m[i] = v;
        Parse(m);
      }
    }
  }
}

TEST(SnmpV3Parse, SizeLimitsOfTheCopies) {
  struct Row {
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
  ASSERT_EQ(empty.back(), 0x00);
  empty.back() = 0x80;  // the lone 80: a list of length 0
  EXPECT_EQ(Parse(empty).result, 1);
  EXPECT_TRUE(g_seen.empty());

  m.bindings = {{DeviceIdOid(), Text("first")}, {DeviceIdOid(), Text("second")}};
  Bytes two = Encode(m);
  const Bytes second = Cat({Hex("30"), {uint8_t(2 + 19 + 8)}});
  auto it = std::search(two.begin() + 40, two.end(), second.begin(), second.end());
  ASSERT_NE(it, two.end());
  ASSERT_EQ(Parse(two).result, 1);
  ASSERT_EQ(g_seen.size(), 2u);
  *it = 0x31;
  EXPECT_EQ(Parse(two).result, 0);
  ASSERT_EQ(g_seen.size(), 1u) << "the first binding still reached the callback";
  EXPECT_EQ(g_seen[0].value, Bytes({'f', 'i', 'r', 's', 't'}));
}

TEST(SnmpV3Parse, AuthenticatedEncipheredResponse) {
  const Bytes msg = Encode(Signed("MFG:Acme;STS:x;"));
  for (bool requireAuth : {false, true}) {
    const Outcome o = Parse(msg, requireAuth);
    EXPECT_EQ(o.result, 1);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].oid, DeviceIdOid());
    EXPECT_EQ(g_seen[0].tag, 0x04);
    EXPECT_EQ(g_seen[0].value, Bytes({'M', 'F', 'G', ':', 'A', 'c', 'm', 'e', ';', 'S', 'T', 'S',
                                      ':', 'x', ';'}));
    EXPECT_EQ(o.params.engineBoots, 7u);
    EXPECT_EQ(o.params.engineTime, 4000u);
    // Left zeroed and deciphered in place.
    const Bytes zeros(12, 0);
    EXPECT_NE(std::search(o.after.begin(), o.after.end(), zeros.begin(), zeros.end()),
              o.after.end());
    EXPECT_NE(std::search(o.after.begin(), o.after.end(), g_seen[0].value.begin(),
                          g_seen[0].value.end()),
              o.after.end());
  }
}

TEST(SnmpV3Parse, WrongKeyStillRecordsTheEngine) {
  const Outcome o = Parse(Encode(Signed()), false, kOtherKey);
  EXPECT_EQ(o.result, 0);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(Bytes(o.params.engineID, o.params.engineID + o.params.engineIDLen), kEngine);
  EXPECT_EQ(o.params.engineBoots, 7u);
  EXPECT_EQ(o.params.engineTime, 4000u);
}

// Each forgery carries the true first octets of the code for its own field,
// which a comparison over the field's length alone would accept.
TEST(SnmpV3Parse, ForgedAuthenticationFieldsNeverPass) {
  struct Row {
    const char* what;
    uint8_t flags;
    size_t authLen;
    int plain, authenticated;
  } rows[] = {
      {"authentication bit, empty field", 0x03, 0, 0, 0},
      {"authentication bit, 1 octet", 0x03, 1, 0, 0},
      {"authentication bit, 4 octets", 0x03, 4, 0, 0},
      {"authentication bit, 11 octets", 0x03, 11, 0, 0},
      {"authentication bit, 12 octets", 0x03, 12, 1, 1},
      {"no authentication bit, 4 octets", 0x00, 4, 0, 0},
      {"no authentication bit, 12 true octets", 0x00, 12, 1, 0},
      {"no authentication bit, empty field", 0x00, 0, 1, 0},
  };
  for (const auto& row : rows) {
    Message m = Signed();
    m.flags = row.flags;
    m.authLen = row.authLen;
    if (!(row.flags & kSnmpV3FlagPriv)) m.salt.clear();
    const Bytes msg = Encode(m);
    EXPECT_EQ(Parse(msg).result, row.plain) << row.what;
    EXPECT_EQ(g_seen.size(), size_t(row.plain)) << row.what;
    EXPECT_EQ(Parse(msg, true).result, row.authenticated) << row.what;
    EXPECT_EQ(g_seen.size(), size_t(row.authenticated)) << row.what << ": nothing delivered";
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
