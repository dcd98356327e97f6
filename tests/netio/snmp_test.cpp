// SNMP messages both ways, octet for octet: built or refused, read or refused.
#include <gtest/gtest.h>

#include "env/Snmpd.h"
#include "netio/BerReader.h"
#include "netio/BerWriter.h"
#include "netio/refusal.h"
#include "tests/netio/MessageProperties.h"
#include "tests/netio/SnmpV3Messages.h"

namespace {

// Every binding a parser hands its value callback: OID, tag, value.
std::vector<std::tuple<testmsg::Bytes, unsigned char, testmsg::Bytes>> g_seen;
bool Record(const unsigned char* oid, int oidLength, unsigned char tag, const unsigned char* value,
            int valueLength) {
  g_seen.emplace_back(testmsg::Bytes(oid, oid + oidLength), tag,
                      testmsg::Bytes(value, value + valueLength));
  return true;
}

namespace v1 {

using namespace testmsg;

TEST(Ber, LengthsBothWaysAndTheBoundedReaderAndWriter) {
  for (const auto& [length, octets] :
       {std::pair{127u, "7F"}, {128u, "81 80"}, {4294967295u, "84 FF FF FF FF"}}) {
    unsigned char buf[16];
    memset(buf, 0xEE, sizeof buf);
    unsigned char* front = CNetIO::berEncodeLength(buf + 8, length);
    EXPECT_EQ(Bytes(front - 1, buf + 9), Cat({{0xEE}, Hex(octets), {0xEE}})) << length;
  }
  // consumed -1: refused. The lone 80 reads as 0.
  const std::tuple<const char*, int, int> decodings[] = {{"80", 0, 1},
                                                         {"84 7F FF FF FF", 2147483647, 5},
                                                         {"84 80 00 00 00", 0, -1},
                                                         {"85 00 00 00 00 01", 0, -1}};
  for (const auto& [octets, expected, consumed] : decodings) {
    Bytes in = Hex(octets);
    int length = -7;
    unsigned char* next = CNetIO::parseLength(in.data(), &length);
    EXPECT_EQ(std::make_pair(next ? next - in.data() : -1, length),
              std::make_pair(long(consumed), next ? expected : -7))
        << octets;
  }
  // An element whose length reaches past its container is refused, not clamped.
  for (const char* bytes : {"04 02 41", "04 82 01", "04 84 FF FF FF FF 41",
                            "04 85 00 00 00 00 01 41", "30 03 04 02 41 42"}) {
    const Bytes b = Hex(bytes);
    netio::BerReader r(b.data(), b.size()), inner, contents;
    if (b[0] == 0x30 && r.Element(0x30, &inner)) r = inner;
    EXPECT_FALSE(r.Element(0x04, &contents)) << bytes;
  }
  unsigned char area[4];
  netio::BerWriter w(area, sizeof area);
  EXPECT_TRUE(w.Bytes("ab", 2));
  EXPECT_FALSE(w.Length(300));  // needs three octets, two left
  EXPECT_TRUE(w.Header(0x04, 2));
  EXPECT_EQ(Bytes(w.front(), area + 4), Hex("04 02 61 62"));
}

TEST(Ber, OidTexts) {
  std::vector<std::pair<std::string, const char*>> rows = {
      {"1.3.6.1.4.1.40719.886.300.369.8531.1.1.0",
       "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00"},
      {"1.3.4294967295", "2B 8F FF FF FF 7F"},
      {"2.47", "7F"}};
  for (const char* refused : {"1.3.a", "1..3", ".1.3", "1.3.", "3.8", "2.48", "1.3.4294967296"})
    rows.push_back({refused, ""});  // nothing written
  for (const auto& [text, contents] : rows) {
    unsigned char out[64];
    memset(out, 0xEE, sizeof out);
    const int n = CNetIO::oidEncode(text.c_str(), out);
    EXPECT_EQ(Bytes(out, out + std::max(n, 0) + 1), Cat({Hex(contents), {0xEE}})) << text;
  }
}

// Every length of the layout is one octet: what would need more is refused.
TEST(SnmpV1Build, RequestOctetsAndTheirLimits) {
  const char kSysName[] = "1.3.6.1.2.1.1.5.0",
             kDeviceId[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0";
  const Bytes status = Hex(
      "30 31 02 01 00 04 06 70 75 62 6C 69 63 A0 24 02 01 00 02 01 00 02 01 00 30 19 30 17 06 13"
      "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00");
  unsigned char out[2048];
  ASSERT_EQ(CNetIO::BuildGetRequestFor(1, kDeviceId, "public", out), 51);
  EXPECT_EQ(Bytes(out, out + 51), status);
  ASSERT_EQ(netio::BuildStatusRequest(nullptr, out, sizeof out), 51);
  EXPECT_EQ(Bytes(out, out + 51), status);
  // count, OID, community length, size or -1 for refused
  const std::tuple<int, const char*, size_t, int> rows[] = {
      {1, kSysName, 95, 129}, {1, kSysName, 96, -1}, {7, kSysName, 4, 122},
      {8, kSysName, 0, -1},   {-1, kSysName, 6, -1}, {1, "1.3.6.x", 6, -1}};
  for (const auto& [count, oid, community, size] : rows)
    EXPECT_EQ(CNetIO::BuildGetRequestFor(count, oid, std::string(community, 'c').c_str(), out),
              size)
        << count << " " << community;
  EXPECT_EQ(netio::BuildStatusRequest(std::string(84, 'k').c_str(), out, sizeof out), 129);
  EXPECT_EQ(netio::BuildStatusRequest(std::string(85, 'k').c_str(), out, sizeof out), -1);
  EXPECT_EQ(netio::BuildStatusRequest("public", out, 50), -1);
}

int Parse(const Bytes& msg, char* community = nullptr, SnmpValueCallback callback = Record) {
  g_seen.clear();
  const auto copy = std::make_unique<uint8_t[]>(msg.size());  // exactly sized
  std::copy(msg.begin(), msg.end(), copy.get());
  return CNetIO::parseGetResponse(copy.get(), int(msg.size()), nullptr, community, nullptr, nullptr,
                                  nullptr, callback);
}

// `msg` with octet `at` set to `octet`.
Bytes Edit(Bytes msg, size_t at, uint8_t octet) {
  msg[at] = octet;
  return msg;
}

// Shapes the reader accepts (1) and refuses (0), and how many bindings it reports.
TEST(SnmpV1Parse, ShapeTable) {
  const Bytes value = Text("hello"), valid = Response(kSysNameOid, 0x04, value);
  const Bytes binding = Binding(kSysNameOid, 0x04, value), name = Tlv(0x06, kSysNameOid);
  const std::tuple<const char*, Bytes, int, size_t> rows[] = {
      {"valid", valid, 1, 1},
      {"A0", Edit(valid, 13, 0xA0), 0, 0},
      {"one extra octet", Cat({valid, {0x00}}), 0, 0},
      {"binding not a SEQUENCE", ResponseWithList(Edit(binding, 0, 0x31)), 0, 0},
      // Inner lengths past their container, the outer ones kept right.
      {"value claims 4 GB",
       ResponseWithList(Cat({{0x30, 0x0F}, name, Hex("04 84 FF FF FF FF"), value})), 0, 0},
      {"community past end", Tlv(0x30, Cat({Hex("02 01 00"), Lying(0x04, 200, {'p'})})), 0, 0},
      {"outer length 2^31", Hex("30 84 80 00 00 00 02 01 00"), 0, 0}};
  for (const auto& [what, msg, result, bindings] : rows) {
    const int parsed = Parse(msg);
    EXPECT_EQ(std::make_pair(parsed, g_seen.size()), std::make_pair(result, bindings)) << what;
  }
  msgprop::ExpectEveryPrefixRefused(
      Response(kDeviceIdOid, 4, Text(testenv::DeviceIdWithLevel(42))), [](uint8_t* p, size_t n) {
        return Parse(Bytes(p, p + n), nullptr, nullptr) ? std::optional<std::string>("")
                                                        : std::nullopt;
      });
}

TEST(SnmpV1Parse, HeaderFieldsAndTheirBounds) {
  const Bytes msg =
      Hex("30 17 02 02 01 07 04 00 A2 0F 02 02 01 00 02 00 02 05 09 01 02 03 04 30 00");
  unsigned char requestId = 0, status = 0xEE, index = 0;
  int version = -1;
  char community[kCommunityOutSize] = "x";
  ASSERT_EQ(CNetIO::parseGetResponse(msg.data(), int(msg.size()), &version, community, &requestId,
                                     &status, &index, nullptr),
            1);
  // INTEGERs give their first octet; an empty one reads as 0, never the next octet.
  EXPECT_EQ(std::make_tuple(version, std::string(community), requestId, status, index),
            std::make_tuple(1, std::string(), 1, 0, 9));
  const std::string fits(kCommunityOutSize - 1, 'c');
  ASSERT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits), community), 1);
  EXPECT_EQ(std::string(community), fits);
  EXPECT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits + "c"), community), 0);
  EXPECT_EQ(netio::LastRefusal(), netio::Refusal::kVersionOrCommunity);
}

// parseForRecvBuf gives the value only if it fits.
TEST(SnmpV1Parse, TheTextAndSysObjectIdReaders) {
  const std::tuple<Bytes, int, std::string> texts[] = {
      {Response(kSysNameOid, 0x04, Bytes(1023, 'v')), 1, std::string(1023, 'v')},
      {Response(kSysNameOid, 0x04, Bytes(1024, 'v')), 0, "stale"}};
  for (const auto& [msg, result, text] : texts) {
    std::vector<char> out(4096, 0);
    strcpy(out.data(), "stale");
    EXPECT_EQ(CNetIO::parseForRecvBuf(msg.data(), int(msg.size()), out.data()), result);
    EXPECT_EQ(std::string(out.data()), text);
  }
  // outputOidValue keeps sysObjectID's value when the name fits and the OID does.
  const Bytes sysObjId = kSysObjectIdOid, shorter(sysObjId.begin(), sysObjId.end() - 1);
  const std::tuple<Bytes, size_t, bool> oids[] = {{Cat({sysObjId, {0x07}}), kSysObjIdSize, true},
                                                  {shorter, 8, false},
                                                  {sysObjId, kSysObjIdSize + 1, false}};
  for (const auto& [name, size, accepted] : oids) {
    sysObjIdLen = -5;
    const Bytes v(size, 0x2B);
    auto exact = std::make_unique<unsigned char[]>(name.size() + 1);  // no reading past the name
    std::copy(name.begin(), name.end(), exact.get());
    EXPECT_EQ(outputOidValue(exact.get(), int(name.size()), 0x06, v.data(), int(size)), accepted);
    EXPECT_EQ(Bytes(::sysObjId, ::sysObjId + std::max(sysObjIdLen, 0)), accepted ? v : Bytes());
  }
}

// An earlier printer's device ID must never become this printer's status.
TEST(SnmpV1Parse, DeviceIdOnlyFromThisAnswer) {
  const std::pair<Bytes, bool> rows[] = {
      {Response(kDeviceIdOid, 0x04, Text(testenv::DeviceIdWithLevel(57))), true},
      {Response(kDeviceIdOid, 0x04, Text("MFG:Acme;CMD:PCL;")), false},
      {ResponseWithList(Binding(kDeviceIdOid, 0x05, {}), "public", 0xA2, 2), false},
      {Response(kDeviceIdOid, 0x04, Bytes(kDeviceIdSize, 'S')), false}};
  for (const auto& [msg, decoded] : rows) {
    const std::string earlier = testenv::DeviceIdWithLevel(99);
    memcpy(g_deviceid, earlier.c_str(), earlier.size() + 1);
    PRINTER_STATUS status{};
    EXPECT_EQ(CNetIO::parseForDeviceId(msg.data(), int(msg.size()), &status), decoded);
    EXPECT_EQ(Bytes(&status.blackLevel, &status.blackLevel + sizeof status),
              decoded ? testenv::StatusRecord(57) : Bytes(sizeof status, 0))
        << msg.size();
  }
}

}  // namespace v1

namespace v3 {

using namespace snmpv3test;

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
  int result = 0, version = -1;
  unsigned char requestId = 0xEE, errorStatus = 0xEE, errorIndex = 0xEE;
  _SNMP_PARAM_V3 params{};
  Bytes engine() const { return Bytes(params.engineID, params.engineID + params.engineIDLen); }
};

// The keys of `Signed` messages.
Outcome Keyed() {
  Outcome o;
  memcpy(o.params.authKey, kMapleKey.data(), 16);
  memcpy(o.params.privKey, kPrivKey.data(), 16);
  o.params.valueCallback = Record;
  return o;
}

Outcome ParseIn(uint8_t* msg, size_t size, bool authenticated = false) {
  g_seen.clear();
  Outcome o = Keyed();
  o.result =
      (authenticated ? CNetIO::parseSnmpV3AuthenticatedResponse : CNetIO::parseSnmpV3Response)(
          msg, int(size), &o.version, &o.requestId, &o.errorStatus, &o.errorIndex, &o.params);
  return o;
}

Outcome Parse(Bytes msg, bool authenticated = false) {
  return ParseIn(msg.data(), msg.size(), authenticated);
}

// Everything a parse hands back, for comparing two parses.
std::optional<std::string> Summary(uint8_t* msg, size_t size, bool authenticated) {
  const Outcome o = ParseIn(msg, size, authenticated);
  if (o.result != 1) return std::nullopt;
  return testing::PrintToString(std::make_tuple(o.version, o.requestId, o.errorStatus, o.errorIndex,
                                                o.params.engineBoots, o.params.engineTime,
                                                o.engine(), g_seen));
}

Message Signed() { return Response(kEngine, "inkprobe", kMapleKey.data(), kPrivKey.data(), "ID"); }

// An authenticated message allows no edit that changes what it says; a Report stays in bounds.
TEST(SnmpV3Parse, DiscoveryReportEveryPrefixAndEdit) {
  const Outcome o = Parse(kReport);
  EXPECT_EQ(std::make_tuple(o.result, o.engine(), o.params.engineBoots, o.params.engineTime,
                            o.version, o.requestId, o.errorStatus, o.errorIndex),
            std::make_tuple(1, kEngine, 3u, 1234u, 3, 0, 0, 0));
  EXPECT_EQ(g_seen, decltype(g_seen)({{UnknownEngineIdsOid(), 0x41, Hex("07")}}));
  EXPECT_EQ(Parse(kReport, true).result, 0) << "a Report without authentication";
  const msgprop::Decode plain = [](uint8_t* m, size_t n) { return Summary(m, n, false); };
  msgprop::ExpectEveryPrefixRefused(Encode(Signed()), plain);
  msgprop::ExpectEveryEditRefusedOrSame(Encode(Signed()), plain);
  msgprop::ExpectEveryPrefixRefused(kReport, plain);
}

TEST(SnmpV3Parse, CopiesLimits) {
  // Engine ID of 32 octets and user of 64 fit, one more does not; nor a 13-octet code field.
  for (size_t extra : {0, 1}) {
    Message engine = Report(kEngine, 1, 2), user = engine;
    engine.engineId = engine.contextEngineId = Bytes(32 + extra, 0x80);
    user.user.assign(64 + extra, 'u');
    EXPECT_EQ(std::make_pair(Parse(Encode(engine)).result, Parse(Encode(user)).result),
              std::make_pair(1 - int(extra), 1 - int(extra)));
  }
  Message m = Report(kEngine, 1, 2);
  m.authLen = 13;
  EXPECT_EQ(Parse(Encode(m)).result, 0);
}

// Only the answer that echoes the request's msgID counts, all 16 bits of it.
TEST(SnmpV3Parse, AuthenticatedEncipheredResponseAndItsMsgId) {
  Message m = Signed();
  m.msgId = 257;
  for (uint16_t expected : {257, 1, 2}) {
    Bytes msg = Encode(m);
    Outcome o = Keyed();
    EXPECT_EQ(CNetIO::parseSnmpV3AnswerTo(expected, msg.data(), int(msg.size()), &o.errorStatus,
                                          &o.errorIndex, &o.params),
              expected == 257)
        << expected;
  }
  // A wrong key: nothing delivered, the engine still recorded.
  const Bytes wrongKey = Cat({Bytes(15, 0x52), {0x2c}});
  const Outcome o =
      Parse(Encode(Response(kEngine, "inkprobe", wrongKey.data(), kPrivKey.data(), "ID")));
  EXPECT_EQ(std::make_tuple(o.result, g_seen.size(), o.engine(), o.params.engineBoots,
                            o.params.engineTime),
            std::make_tuple(0, size_t{0}, kEngine, 7u, 4000u));
}

// Each forgery carries the true first octets of the code, as a short comparison would accept.
TEST(SnmpV3Parse, ForgedAuthenticationFieldsNeverPass) {
  // flags, octets of the field, accepted by the plain and by the authenticated entry
  const std::tuple<uint8_t, size_t, int, int> rows[] = {
      {0x03, 0, 0, 0}, {0x03, 11, 0, 0}, {0x03, 12, 1, 1}, {0x00, 12, 1, 0}, {0x00, 0, 1, 0}};
  for (const auto& [flags, authLen, plain, authenticated] : rows) {
    Message m = Signed();
    m.flags = flags;
    m.authLen = authLen;
    if (!(flags & kSnmpV3FlagPriv)) m.salt.clear();
    const Bytes msg = Encode(m);
    for (const auto& [entry, accepted] : {std::pair{false, plain}, {true, authenticated}}) {
      EXPECT_EQ(Parse(msg, entry).result, accepted) << int(flags) << " " << authLen << " " << entry;
      EXPECT_EQ(g_seen.size(), size_t(accepted)) << "delivered";
    }
  }
}

Bytes Out(const unsigned char* p, int n) { return n > 0 ? Bytes(p, p + n) : Bytes(); }

TEST(SnmpV3Build, DiscoveryRequestAndSecurityParameters) {
  unsigned char out[kSnmpV3WorkSize];
  // 1, 2, 3 or 4 octets by magnitude, a 00 in front of a set top bit; here as engine time.
  const std::pair<uint32_t, const char*> integers[] = {
      {127, "02 01 7F"}, {128, "02 02 00 80"}, {40000, "02 03 00 9C 40"}};
  for (const auto& [value, octets] : integers) {
    const Bytes v = Hex(octets), engine = Hex("80 00 0B 93 01 02 03 04 05");
    const Bytes usm =
        Cat({Hex("04 09"), engine, Hex("02 01 01"), v, Hex("04 03 61 62 63 04 00 04 00")});
    EXPECT_EQ(Out(out, CNetIO::BuildSnmpV3msgSecurityParameters(engine.data(), 9, 1, value, "abc",
                                                                nullptr, nullptr, 0, out, nullptr)),
              Cat({{0x04, uint8_t(usm.size() + 2), 0x30, uint8_t(usm.size())}, usm}))
        << value;
  }
  EXPECT_EQ(
      Out(out, CNetIO::BuildSnmpV3GetEngineIdPacket(128, 40000, out, sizeof out)),
      Hex("30 3A 02 01 03 30 0F 02 03 00 9C 40 02 02 08 00 04 01 04 02 01 03 04 10 30 0E 04 00"
          "02 01 00 02 01 00 04 00 04 00 04 00 30 12 04 00 04 00 A0 0C 02 02 00 80 02 01 00"
          "02 01 00 30 00"));
  for (int size : {56, 57}) {
    auto exact = std::make_unique<unsigned char[]>(size_t(size));
    EXPECT_EQ(CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, exact.get(), size), size < 57 ? 0 : 57);
  }
  // Values without bindings (once a fuzz finding): a SetRequest with an empty list.
  const unsigned char* const none[] = {nullptr};
  const signed char noLength[] = {0};
  const unsigned char noTag[] = {0};
  EXPECT_EQ(Out(out, CNetIO::BuildSnmpV3msgData(nullptr, 0, nullptr, 0, 0, nullptr, none, noLength,
                                                noTag, out)),
            Hex("30 11 04 00 04 00 A3 0B 02 01 00 02 01 00 02 01 00 30 00"));
}

const char* const kDeviceIdOids[] = {"1.3.6.1.4.1.40719.886.300.369.8531.1.1.0"};

// One exact request per kind, and those refused instead of overrunning the work area.
TEST(SnmpV3Request, ExactPerKindAndRefusedInsteadOfOverrun) {
  // 17 octets: its device-ID scoped PDU is 61 octets, enciphered as 64.
  const Bytes engine17 = Hex("80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A");
  unsigned char authKey[16], privKey[16], out[kSnmpV3WorkSize];
  auto build = [&](const Bytes& engine, uint32_t boots, uint32_t time, const char* auth,
                   const char* priv) {
    memset(authKey, 0xEE, sizeof authKey);
    memset(privKey, 0xEE, sizeof privKey);
    return Out(out, CNetIO::BuildSnmpV3RequestPacket(
                        engine.data(), int(engine.size()), boots, time, 1, kDeviceIdOids, nullptr,
                        nullptr, nullptr, "inkprobe", auth, priv, authKey, privKey, out));
  };
  // The code over the whole message, recomputed from the key the builder left.
  auto expectSigned = [&](Bytes msg, unsigned offset) {
    EXPECT_TRUE(VerifyAuthParams(msg.data(), unsigned(msg.size()), offset, 12, authKey));
    msg.back() ^= 1;
    EXPECT_FALSE(VerifyAuthParams(msg.data(), unsigned(msg.size()), offset, 12, authKey));
  };
  SNMPv3MsgID = 255;
  SNMPv3RequestID = 256;
  salt_low = 0;
  EXPECT_EQ(build(engine17, 1, 300, nullptr, nullptr),
            Hex("30 7D 02 01 03 30 0E 02 02 00 FF 02 02 08 00 04 01 04 02 01 03 04 2A 30 28 04 11"
                "80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A 02 01 01 02 02 01 2C 04 08"
                "69 6E 6B 70 72 6F 62 65 04 00 04 00 30 3C 04 11 80 00 0B 93 03 00 00 00 00 00"
                "00 00 00 00 00 00 2A 04 00 A0 25 02 02 01 00 02 01 00 02 01 00 30 19 30 17 06 13"
                "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00"));
  EXPECT_EQ(std::make_tuple(SNMPv3MsgID, SNMPv3RequestID, salt_low), std::make_tuple(256, 257, 0u));
  EXPECT_EQ(Bytes(authKey, authKey + 16), Bytes(16, 0));
  // Authentication only: the PDU stays in plaintext, the key is RFC 3414's.
  SNMPv3MsgID = SNMPv3RequestID = 0;
  const Bytes msg =
      build(Hex("00 00 00 00 00 00 00 00 00 00 00 02"), 1, 70000, "maplesyrup", nullptr);
  ASSERT_EQ(msg.size(), 129u);
  Bytes blank = msg;
  std::fill(blank.begin() + 59, blank.begin() + 71, 0);
  EXPECT_EQ(blank, Hex("30 7F 02 01 03 30 0D 02 01 00 02 02 08 00 04 01 05 02 01 03 04 33 30 31"
                       "04 0C 00 00 00 00 00 00 00 00 00 00 00 02 02 01 01 02 04 00 01 11 70"
                       "04 08 69 6E 6B 70 72 6F 62 65 04 0C 00 00 00 00 00 00 00 00 00 00 00 00"
                       "04 00 30 36 04 0C 00 00 00 00 00 00 00 00 00 00 00 02 04 00 A0 24 02 01"
                       "00 02 01 00 02 01 00 30 19 30 17 06 13 2B 06 01 04 01 82 BE 0F 86 76 82"
                       "2C 82 71 C2 53 01 01 00 05 00"));
  EXPECT_EQ(Cat({Bytes(authKey, authKey + 16), Bytes(privKey, privKey + 16)}),
            Cat({kMapleKey, Bytes(16, 0)}));
  expectSigned(msg, 59);
  // Privacy: boots 70 000 and the salt_low in use, then the filled-up scoped PDU enciphered.
  salt_low = 0xFFFFFFFF;
  SNMPv3RequestID = 5;
  const Bytes sealed = build(engine17, 70000, 12, "maplesyrup", "maplesyrup");
  ASSERT_GT(sealed.size(), 66u);
  EXPECT_EQ(std::make_tuple(sealed[17], salt_low, SNMPv3RequestID), std::make_tuple(0x07, 0u, 6));
  const Bytes privacy = Hex("04 08 00 01 11 70 FF FF FF FF 04 40");
  const auto at = std::search(sealed.begin(), sealed.end(), privacy.begin(), privacy.end());
  ASSERT_EQ(sealed.end() - at, long(privacy.size()) + 64);
  Bytes data(at + long(privacy.size()), sealed.end());
  ASSERT_EQ(DecryptMsgData(data.data(), 64, privKey, privacy.data() + 2), 1);
  EXPECT_EQ(
      data,
      Cat({Hex("30 3B 04 11"), engine17,
           Hex("04 00 A0 24 02 01 05 02 01 00 02 01 00"
               "30 19 30 17 06 13 2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00"),
           Bytes(3, 0)}));
  expectSigned(sealed, unsigned(at - sealed.begin()) - 12);

  EXPECT_EQ(build(Bytes(33, 0x80), 0, 0, "maplesyrup", "maplesyrup"), Bytes());
  EXPECT_EQ(build(engine17, 0, 0, "", nullptr), Bytes()) << "empty authentication password";
  // 15 bindings of 19-octet names and 127-octet values overrun the work area;
  // 13 fit the scoped PDU but not the whole message.
  salt_low = 0;
  std::vector<const char*> oids(15, kDeviceIdOids[0]);
  const unsigned char big[127] = {};
  std::vector<const unsigned char*> many(15, big);
  std::vector<signed char> lens(15, 127);
  std::vector<unsigned char> octetTags(15, 0x04);
  for (int count : {15, 13, 12}) {
    EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(
                  engine17.data(), 17, 0, 0, count, oids.data(), many.data(), lens.data(),
                  octetTags.data(), "u", "maplesyrup", "maplesyrup", authKey, privKey, out) > 0,
              count == 12)
        << count;
    EXPECT_TRUE(count != 15 || salt_low == 0u) << "a salt used up for a message refused early";
  }
}

}  // namespace v3

}  // namespace
