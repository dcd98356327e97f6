// SNMP messages both ways: BER primitives; SNMPv1 GetRequests octet for octet and the
// GetResponse reader with its callbacks; SNMPv3 answers read (the Report octet for octet, sealed
// Responses, forgeries, msgID, limits, every prefix and edit) and requests built octet for octet
// or refused instead of overrun.
#include <gtest/gtest.h>

#include "env/Snmpd.h"
#include "netio/BerReader.h"
#include "netio/BerWriter.h"
#include "netio/refusal.h"
#include "tests/netio/MessageProperties.h"
#include "tests/netio/SnmpV3Messages.h"

namespace {

// Every binding a parser hands its value callback.
struct Seen {
  testmsg::Bytes oid;
  unsigned char tag;
  testmsg::Bytes value;
};
std::vector<Seen> g_seen;
bool Record(const unsigned char* oid, int oidLength, unsigned char tag, const unsigned char* value,
            int valueLength) {
  g_seen.push_back({{oid, oid + oidLength}, tag, {value, value + valueLength}});
  return true;
}

namespace v1 {

using namespace testmsg;

TEST(Ber, LengthsBothWaysAndTheBoundedReaderAndWriter) {
  const std::pair<uint32_t, const char*> encodings[] = {{0, "00"}, {127, "7F"}, {128, "81 80"},
      {255, "81 FF"}, {256, "82 01 00"}, {65535, "82 FF FF"}, {65536, "83 01 00 00"},
      {4294967295u, "84 FF FF FF FF"}};
  for (const auto& [length, octets] : encodings) {
    unsigned char buf[16];
    memset(buf, 0xEE, sizeof buf);
    unsigned char* front = CNetIO::berEncodeLength(buf + 8, length);
    EXPECT_EQ(Bytes(front - 1, buf + 9), Cat({{0xEE}, Hex(octets), {0xEE}})) << length;
  }
  // consumed -1: refused. The lone 80 reads as 0; a non-minimal form is still read.
  const std::tuple<const char*, int, int> decodings[] = {{"00", 0, 1}, {"7F", 127, 1},
      {"80", 0, 1}, {"81 80", 128, 2}, {"81 05", 5, 2}, {"83 01 00 00", 65536, 4},
      {"84 7F FF FF FF", 2147483647, 5}, {"84 80 00 00 00", 0, -1}, {"85 00 00 00 00 01", 0, -1},
      {"FF 00", 0, -1}};
  for (const auto& [octets, expected, consumed] : decodings) {
    Bytes in = Hex(octets);
    int length = -7;
    unsigned char* next = CNetIO::parseLength(in.data(), &length);
    EXPECT_EQ(std::make_pair(next ? next - in.data() : -1, length),
              std::make_pair(long(consumed), next ? expected : -7)) << octets;
  }
  // An element whose length reaches past its container is refused, not clamped.
  for (const char* bytes : {"04 02 41", "04 82 01", "04", "04 84 FF FF FF FF 41",
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
  EXPECT_FALSE(w.Byte(0x30));
  for (const auto& [octets, length, value] : {std::tuple{"01 00", 2, 256u}, {"FF", 1, 255u},
           {"01 02 03 04 05", 5, 0x02030405u}, {"80 00 00 00", 4, 0x80000000u}, {"12", 0, 0u},
           {"12", -3, 0u}})
    EXPECT_EQ(readIntValue(Hex(octets).data(), length), value) << octets;
}

TEST(Ber, OidTexts) {
  std::vector<std::pair<std::string, const char*>> rows = {
      {"1.3.6.1.2.1.1.5.0", "2B 06 01 02 01 01 05 00"}, {"1.3.127", "2B 7F"},
      {"1.3.6.1.4.1.40719.886.300.369.8531.1.1.0",
       "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00"},
      {"1.3.128", "2B 81 00"}, {"1.3.16383", "2B FF 7F"}, {"1.3.16384", "2B 81 80 00"},
      {"1.3.4294967295", "2B 8F FF FF FF 7F"}, {"1.3", "2B"}, {"2.47", "7F"}, {"0.0", "00"},
      {"1.3.00042", "2B 2A"}};
  for (const char* refused : {"1.3.a", "1.3.-1", "1.3. 6", " 1.3", "1.3.6 ", "", "1", "42", ".1.3",
                              "1.3.", "1..3", "1.3..6", "3.8", "2.48", "1.3.4294967296",
                              "1.3.99999999999999999999", "4294967296.1", "1.3.6\n"})
    rows.push_back({refused, ""});  // nothing written
  for (const auto& [text, contents] : rows) {
    unsigned char out[64];
    memset(out, 0xEE, sizeof out);
    const int n = CNetIO::oidEncode(text.c_str(), out);
    EXPECT_EQ(Bytes(out, out + std::max(n, 0) + 1), Cat({Hex(contents), {0xEE}})) << text;
  }
  std::string longest = "1.3";  // 127 characters
  for (int i = 0; i < 62; ++i) longest += ".1";
  unsigned char out[64];
  EXPECT_GT(CNetIO::oidEncode(longest.c_str(), out), 0);
  EXPECT_EQ(CNetIO::oidEncode((longest + "0").c_str(), out), 0);
  EXPECT_EQ(CNetIO::oidEncode(nullptr, out), -1);
  EXPECT_EQ(CNetIO::oidEncode("1.3.6", nullptr), -1);
}

const char kSysName[] = "1.3.6.1.2.1.1.5.0";
const char kDeviceId[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0";

Bytes Request(const std::string& community, const Bytes& oid, int copies = 1) {
  Bytes list;
  for (int i = 0; i < copies; ++i) list = Cat({list, Binding(oid, 0x05, {})});
  return Tlv(0x30, Cat({Hex("02 01 00"), Tlv(0x04, Text(community)),
                        Tlv(0xA0, Cat({Hex("02 01 00 02 01 00 02 01 00"), Tlv(0x30, list)}))}));
}

// Every length of the layout is one octet: what would need more is refused.
TEST(SnmpV1Build, RequestOctetsAndTheirLimits) {
  const Bytes status = Hex("30 31 02 01 00 04 06 70 75 62 6C 69 63 A0 24 02 01 00 02 01 00 02 01 00"
                           "30 19 30 17 06 13 2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01"
                           "01 00 05 00");
  unsigned char out[2048];
  auto build = [&](int count, const char* oid, const char* community) {
    const int n = CNetIO::BuildGetRequestFor(count, oid, community, out);
    return n < 0 ? Bytes() : Bytes(out, out + n);
  };
  EXPECT_EQ(build(1, kDeviceId, "public"), status);
  EXPECT_EQ(build(1, kSysName, nullptr), Request("public", kSysNameOid));
  EXPECT_EQ(build(3, kSysName, "ab"), Request("ab", kSysNameOid, 3));
  // count, OID, community length, size or -1 for refused
  const std::tuple<int, const char*, size_t, int> rows[] = {{1, kSysName, 95, 129},
      {1, kSysName, 96, -1}, {1, kDeviceId, 84, 129}, {1, kDeviceId, 85, -1}, {7, kSysName, 4, 122},
      {8, kSysName, 0, -1}, {1000000, kSysName, 6, -1}, {1, kSysName, 5000, -1},
      {0, kSysName, 6, -1}, {-1, kSysName, 6, -1}, {1, "1.3.6.x", 6, -1}, {1, nullptr, 6, -1}};
  for (const auto& [count, oid, community, size] : rows)
    EXPECT_EQ(CNetIO::BuildGetRequestFor(count, oid, std::string(community, 'c').c_str(), out),
              size) << count << " " << community;
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, kSysName, "public", nullptr), -1);
  for (const char* community : {"public", static_cast<const char*>(nullptr)}) {
    ASSERT_EQ(netio::BuildStatusRequest(community, out, sizeof out), 51);
    EXPECT_EQ(Bytes(out, out + 51), status);
  }
  for (size_t c : {0, 84}) {
    const int n = netio::BuildStatusRequest(std::string(c, 'k').c_str(), out, sizeof out);
    EXPECT_EQ(Bytes(out, out + std::max(n, 0)), Request(std::string(c, 'k'), kDeviceIdOid)) << c;
  }
  EXPECT_EQ(netio::BuildStatusRequest(std::string(85, 'k').c_str(), out, sizeof out), -1);
  EXPECT_EQ(netio::BuildStatusRequest("public", out, 50), -1);
}

int Parse(const Bytes& msg, char* community = nullptr, SnmpValueCallback callback = Record) {
  g_seen.clear();
  return *msgprop::DecodeExact([&](uint8_t* data, size_t size) {
    return std::to_string(CNetIO::parseGetResponse(data, int(size), nullptr, community, nullptr,
                                                   nullptr, nullptr, callback));
  }, msg) == "1";
}

// `msg` with octet `at` moved by `delta`, or set to `octet`.
Bytes Edit(Bytes msg, size_t at, int delta, int octet = -1) {
  msg[at] = uint8_t(octet >= 0 ? octet : msg[at] + delta);
  return msg;
}

// Shapes the reader accepts (1) and refuses (0), and how many bindings it reports.
TEST(SnmpV1Parse, ShapeTable) {
  const Bytes value = Text("hello"), valid = Response(kSysNameOid, 0x04, value);
  const Bytes header = Hex("02 01 00 04 06 70 75 62 6C 69 63");
  const Bytes ints = Hex("02 01 00 02 01 00 02 01 00");
  const size_t pdu = 13;  // after 30 len, the version and "public"
  const Bytes binding = Binding(kSysNameOid, 0x04, value);
  const Bytes name = Tlv(0x06, kSysNameOid), element = Tlv(0x04, value);
  auto list = [&](const Bytes& pdu) { return Tlv(0x30, Cat({header, Tlv(0xA2, pdu)})); };
  const std::tuple<const char*, Bytes, int, size_t> rows[] = {
      {"valid", valid, 1, 1}, {"outer length +1", Edit(valid, 1, 1), 0, 0},
      {"outer length -1", Edit(valid, 1, -1), 0, 0}, {"PDU len +1", Edit(valid, pdu + 1, 1), 0, 0},
      {"PDU len -1", Edit(valid, pdu + 1, -1), 0, 0}, {"A0", Edit(valid, pdu, 0, 0xA0), 0, 0},
      {"A8", Edit(valid, pdu, 0, 0xA8), 0, 0}, {"A3", Edit(valid, pdu, 0, 0xA3), 1, 1},
      {"not a SEQUENCE", Edit(valid, 0, 0, 0x31), 0, 0},
      {"version not INTEGER", Edit(valid, 2, 0, 0x04), 0, 0},
      {"community not OCTET STRING", Edit(valid, 5, 0, 0x02), 0, 0},
      {"one extra octet", Cat({valid, {0x00}}), 0, 0}, {"empty list", ResponseWithList({}), 1, 0},
      {"lone 80 list", list(Cat({ints, {0x30, 0x80}})), 1, 0},
      {"two bindings", ResponseWithList(Cat({binding, Binding(kDeviceIdOid, 0x05, {})})), 1, 2},
      {"binding not a SEQUENCE", ResponseWithList(Edit(binding, 0, 0, 0x31)), 0, 0},
      {"name not an OID", ResponseWithList(Edit(binding, 2, 0, 0x04)), 0, 0},
      {"error-status not INTEGER",
       list(Cat({Hex("02 01 00 04 01 00 02 01 00"), Tlv(0x30, binding)})), 0, 0},
      {"long-form lengths everywhere", Cat({Hex("30 82 00 2C"), header, Hex("A2 81 1E"), ints,
           Hex("30 81 12 30 84 00 00 00 0C 06 81 03 2B 06 01 04 82 00 02 6F 6B")}), 1, 1},
      {"lone 80 as a binding length", ResponseWithList(Cat({{0x30, 0x80}, name, element})), 1, 1},
      {"octets after the list in the PDU", list(Cat({ints, Tlv(0x30, binding), {0, 0}})), 1, 1},
      // Inner lengths past their container, the outer ones kept right.
      {"value past the list", ResponseWithList(Lying(0x30, name.size() + element.size(),
                                                     Cat({name, Lying(0x04, 6, value)}))), 0, 0},
      {"value claims 4 GB",
       ResponseWithList(Cat({{0x30, 0x0F}, name, Hex("04 84 FF FF FF FF"), value})), 0, 0},
      {"name past list", ResponseWithList(Cat({{0x30, 0x0A}, Lying(0x06, 9, kSysNameOid)})), 0, 0},
      {"binding past the list", ResponseWithList(Lying(0x30, 40, Cat({name, element}))), 0, 0},
      {"length octets cut", ResponseWithList(Cat({{0x30, 0x0B}, name, Hex("04 82 01")})), 0, 0},
      {"list past the PDU", Tlv(0x30, Cat({Hex("02 01 00 04 00"), Tlv(0xA2, Cat({ints,
           Lying(0x30, 30, Binding(kSysNameOid, 0x05, {}))}))})), 0, 0},
      {"community past end", Tlv(0x30, Cat({Hex("02 01 00"), Lying(0x04, 200, {'p'})})), 0, 0},
      {"integer past the message", Tlv(0x30, Lying(0x02, 3, {0x00})), 0, 0},
      {"length of length 5", Hex("30 85 00 00 00 00 03 02 01 00"), 0, 0},
      {"outer length 2^31", Hex("30 84 80 00 00 00 02 01 00"), 0, 0},
      {"outer length 2^32 - 1", Hex("30 84 FF FF FF FF 02 01 00"), 0, 0}};
  for (const auto& [what, msg, result, bindings] : rows) {
    const int parsed = Parse(msg);
    EXPECT_EQ(std::make_pair(parsed, g_seen.size()), std::make_pair(result, bindings)) << what;
  }
  ASSERT_EQ(Parse(valid), 1);
  EXPECT_EQ(std::tie(g_seen[0].oid, g_seen[0].tag, g_seen[0].value),
            std::make_tuple(kSysNameOid, 0x04, value));
  EXPECT_EQ(CNetIO::parseGetResponse(nullptr, 10, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr), 0);
  for (const Bytes& msg : {valid, Response(kDeviceIdOid, 4, Text(testenv::DeviceIdWithLevel(42)))})
    msgprop::ExpectEveryPrefixRefused(msg, [](uint8_t* data, size_t size) {
      return Parse(Bytes(data, data + size), nullptr, nullptr) ? std::optional<std::string>("")
                                                                : std::nullopt;
    });
}

TEST(SnmpV1Parse, HeaderFieldsAndTheirBounds) {
  const Bytes msg = Tlv(0x30, Cat({Hex("02 02 01 07 04 00"),
      Tlv(0xA2, Cat({Hex("02 02 01 00 02 00 02 05 09 01 02 03 04"), Tlv(0x30, {})}))}));
  unsigned char requestId = 0, status = 0xEE, index = 0;
  int version = -1;
  char community[kCommunityOutSize] = "x";
  ASSERT_EQ(CNetIO::parseGetResponse(msg.data(), int(msg.size()), &version, community, &requestId,
                                     &status, &index, nullptr), 1);
  // INTEGERs give their first octet; an empty one reads as 0, never the next octet.
  EXPECT_EQ(std::make_tuple(version, std::string(community), requestId, status, index),
            std::make_tuple(1, std::string(), 1, 0, 9));
  const std::string fits(kCommunityOutSize - 1, 'c');
  ASSERT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits), community), 1);
  EXPECT_EQ(std::string(community), fits);
  EXPECT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits + "c"), community), 0);
  EXPECT_EQ(netio::LastRefusal(), netio::Refusal::kVersionOrCommunity);
  EXPECT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits + "c")), 1);  // nothing to write
}

TEST(SnmpV1Parse, TheReadersOnTheCallbacks) {
  // parseForRecvBuf: the last value, if it fits.
  const std::tuple<Bytes, int, std::string> texts[] = {
      {ResponseWithList(Cat({Binding(kSysNameOid, 0x04, Text("first")),
                             Binding(kSysNameOid, 0x04, Text("second"))})), 1, "second"},
      {ResponseWithList(Binding(kSysNameOid, 0x05, {}), "public", 0xA2, 2), 1, ""},
      {Response(kSysNameOid, 0x04, Bytes(1023, 'v')), 1, std::string(1023, 'v')},
      {Response(kSysNameOid, 0x04, Bytes(1024, 'v')), 0, "stale"}};
  for (const auto& [msg, result, text] : texts) {
    std::vector<char> out(4096, 0);
    strcpy(out.data(), "stale");
    EXPECT_EQ(CNetIO::parseForRecvBuf(msg.data(), int(msg.size()), out.data()), result);
    EXPECT_EQ(std::string(out.data()), text);
  }
  // outputOidValue keeps sysObjectID's value when the name fits and the OID does.
  const Bytes value = Hex("2B 06 01 04 01 82 BE 0F"), sysObjId = kSysObjectIdOid;
  const std::tuple<Bytes, unsigned char, Bytes, bool> oids[] = {{sysObjId, 0x06, value, true},
      {Cat({sysObjId, {0x07}}), 0x06, value, true}, {kSysNameOid, 0x06, value, false},
      {Bytes(sysObjId.begin(), sysObjId.end() - 1), 0x06, value, false}, {{}, 0x06, value, false},
      {sysObjId, 0x04, value, false}, {sysObjId, 0x06, Bytes(kSysObjIdSize, 0x01), true},
      {sysObjId, 0x06, Bytes(kSysObjIdSize + 1, 0x02), false}};
  for (const auto& [name, tag, v, accepted] : oids) {
    sysObjIdLen = -5;
    auto exact = std::make_unique<unsigned char[]>(name.size() + 1);  // no reading past the name
    std::copy(name.begin(), name.end(), exact.get());
    EXPECT_EQ(outputOidValue(exact.get(), int(name.size()), tag, v.data(), int(v.size())),
              accepted);
    EXPECT_EQ(sysObjIdLen, accepted ? int(v.size()) : -5) << name.size() << " " << v.size();
    EXPECT_EQ(Bytes(::sysObjId, ::sysObjId + std::max(sysObjIdLen, 0)), accepted ? v : Bytes());
  }
  // parseForOID matches either discovery target.
  const char first[] = "1.3.6.1.4.1.40719.886", second[] = "1.3.6.1.4.1.2435.2";
  unsigned char enc[64];
  const Bytes firstOid(enc, enc + CNetIO::oidEncode(first, enc));
  const Bytes secondOid(enc, enc + CNetIO::oidEncode(second, enc));
  Bytes padded = firstOid;
  padded.resize(12, 0x00);
  const std::tuple<const char*, Bytes, Bytes, int> matches[] = {{second, sysObjId, firstOid, 1},
      {second, sysObjId, secondOid, 1}, {"", sysObjId, firstOid, 1}, {second, sysObjId, padded, 1},
      {second, sysObjId, Bytes(firstOid.begin(), firstOid.begin() + 4), 0},
      {second, sysObjId, Hex("2B 06 01 04 01 09"), 0}, {second, sysObjId, Bytes(40, 0x00), 0},
      {second, kSysNameOid, firstOid, 0}};
  for (const auto& [target, name, v, match] : matches) {
    CNetIO netio;
    netio.InitTargetOID(first, target);
    const Bytes msg = Response(name, 0x06, v);
    EXPECT_EQ(netio.parseForOID(msg.data(), int(msg.size()), nullptr, 0), match) << v.size();
  }
  CNetIO netio;
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", "1.3.6.1.4.1.40719.886"), 10);
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", "1.3.x"), 0);
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", nullptr), -1);
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", "1.3.4294967295.4294967295.4294967295.4294967295."
                                           "4294967295.4294967295.4294967295"), 0);  // 36 octets
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
              decoded ? testenv::StatusRecord(57) : Bytes(sizeof status, 0)) << msg.size();
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
  int result;
  unsigned char requestId = 0xEE, errorStatus = 0xEE, errorIndex = 0xEE;
  int version = -1;
  _SNMP_PARAM_V3 params{};
  Bytes engine() const { return Bytes(params.engineID, params.engineID + params.engineIDLen); }
};

Outcome ParseIn(uint8_t* msg, size_t size, bool authenticated = false,
                const Bytes& authKey = kMapleKey) {
  g_seen.clear();
  Outcome o;
  memcpy(o.params.authKey, authKey.data(), 16);
  memcpy(o.params.privKey, kPrivKey.data(), 16);
  o.params.valueCallback = Record;
  auto parse =
      authenticated ? CNetIO::parseSnmpV3AuthenticatedResponse : CNetIO::parseSnmpV3Response;
  o.result = parse(msg, int(size), &o.version, &o.requestId, &o.errorStatus, &o.errorIndex,
                   &o.params);
  return o;
}

Outcome Parse(Bytes msg, bool authenticated = false, const Bytes& authKey = kMapleKey) {
  return ParseIn(msg.data(), msg.size(), authenticated, authKey);
}

// Everything a parse hands back, for comparing two parses.
std::optional<std::string> Summary(uint8_t* msg, size_t size, bool authenticated) {
  const Outcome o = ParseIn(msg, size, authenticated);
  if (o.result != 1) return std::nullopt;
  std::string s = testing::PrintToString(std::make_tuple(o.version, o.requestId, o.errorStatus,
      o.errorIndex, o.params.engineBoots, o.params.engineTime, o.engine()));
  for (const auto& b : g_seen) s += testing::PrintToString(std::tie(b.oid, b.tag, b.value));
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
  EXPECT_EQ(std::make_tuple(o.result, o.engine(), o.params.engineBoots, o.params.engineTime,
                            o.version, o.requestId, o.errorStatus, o.errorIndex),
            std::make_tuple(1, kEngine, 3u, 1234u, 3, 0, 0, 0));
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(std::tie(g_seen[0].oid, g_seen[0].tag, g_seen[0].value),
            std::make_tuple(UnknownEngineIdsOid(), 0x41, Hex("07")));
  EXPECT_EQ(Parse(kReport, true).result, 0) << "a Report without authentication";
  // Edits at the octets after a marker.
  // Outer length one more and one less, a GetRequest is no answer, a long form running out,
  // contextEngineID differs, msgGlobalData no SEQUENCE, empty msgFlags, engine time's length
  // runs out, last value one past the message, USM sequence one past its OCTET STRING.
  const std::tuple<const char*, size_t, uint8_t, int> rows[] = {
      {"30 60", 1, 0x61, 0}, {"30 60", 1, 0x5F, 0}, {"A8 1C", 0, 0xA0, 0}, {"A8 1C", 0, 0xA2, 1},
      {"A8 1C", 0, 0xA3, 1}, {"A8 1C", 1, 0x83, 0}, {"11 22 33 04 00 A8", 2, 0x32, 0},
      {"30 0E", 0, 0x31, 0}, {"04 01 00 02 01 03 04", 1, 0x00, 0}, {"02 02 04 D2", 1, 0x84, 0},
      {"41 01 07", 1, 0x02, 0}, {"30 1A 04 0B", 1, 0x1B, 0}};
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
  const msgprop::Decode plain = [](uint8_t* m, size_t n) { return Summary(m, n, false); },
                        authenticated = [](uint8_t* m, size_t n) { return Summary(m, n, true); },
                        accepted = [](uint8_t* m, size_t n) {
                          return Summary(m, n, false) ? std::optional<std::string>("")
                                                      : std::nullopt;
                        };
  for (const auto& decode : {plain, authenticated})
    msgprop::ExpectEveryPrefixRefused(Encode(Signed()), decode);
  msgprop::ExpectEveryEditRefusedOrSame(Encode(Signed()), plain);
  for (const Bytes& msg : {kReport, Encode(Unsigned())}) {
    msgprop::ExpectEveryPrefixRefused(msg, accepted);
    msgprop::ExpectEveryEditRefusedOrSame(msg, accepted);
  }
}

TEST(SnmpV3Parse, CopiesLimitsAndPduFields) {
  // Engine ID, user, salt, context name of n octets; a 13-octet authentication field.
  const std::function<void(Message&, size_t)> fields[] = {
      [](Message& m, size_t n) { m.engineId = m.contextEngineId = Bytes(n, 0x80); },
      [](Message& m, size_t n) { m.user.assign(n, 'u'); },
      [](Message& m, size_t n) { m.salt.assign(n, 1); },
      [](Message& m, size_t n) { m.contextName.assign(n, 'c'); }};
  for (size_t i = 0; i < 4; ++i)
    for (size_t extra : {0, 1}) {
      Message m = Report(kEngine, 1, 2);
      fields[i](m, (i ? 64 : 32) + extra);
      EXPECT_EQ(Parse(Encode(m)).result, 1 - int(extra)) << i;
    }
  Message m = Report(kEngine, 1, 2);
  m.authLen = 13;
  EXPECT_EQ(Parse(Encode(m)).result, 0);
  m.authLen = 0;
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
    ASSERT_EQ(std::make_tuple(o.result, g_seen.size(), o.params.engineBoots, o.params.engineTime),
              std::make_tuple(1, size_t{1}, 7u, 4000u));
    EXPECT_EQ(std::tie(g_seen[0].oid, g_seen[0].tag, g_seen[0].value),
              std::make_tuple(DeviceIdOid(), 0x04, testmsg::Text("MFG:Acme;STS:x;")));
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
  EXPECT_EQ(std::make_tuple(o.result, g_seen.size(), o.engine(), o.params.engineBoots,
                            o.params.engineTime),
            std::make_tuple(0, size_t{0}, kEngine, 7u, 4000u));
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
      EXPECT_EQ(Parse(msg, entry).result, accepted) << int(flags) << " " << authLen << " " << entry;
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
    {70000, "02 04 00 01 11 70"}, {0x7FFFFFFF, "02 04 7F FF FF FF"},
    {0x80000000, "02 05 00 80 00 00 00"}};

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
    const int n = CNetIO::BuildSnmpV3GetEngineIdPacket(uint16_t(r), uint16_t(m), out, sizeof out);
    EXPECT_EQ(Out(out, n), Cat({{0x30, uint8_t(0x37 + growM + growR)}, Hex("02 01 03 30"),
        {uint8_t(0x0D + growM)}, msgId, Hex("02 02 08 00 04 01 04 02 01 03 04 10 30 0E 04 00 02"
        "01 00 02 01 00 04 00 04 00 04 00 30"), {uint8_t(0x11 + growR)}, Hex("04 00 04 00 A0"),
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
    EXPECT_EQ(Out(out, CNetIO::BuildSnmpV3msgSecurityParameters(engine.data(), 9, 1, value, "abc",
                                                               nullptr, nullptr, 0, out, nullptr)),
              Cat({{0x04, uint8_t(usm.size() + 2), 0x30, uint8_t(usm.size())}, usm})) << value;
  }
  const Bytes salt = Hex("00 01 11 70 FF FF FF FF");
  uint32_t offset = 99;
  EXPECT_EQ(Out(out, CNetIO::BuildSnmpV3msgSecurityParameters(nullptr, 0, 0, 0, "u", "password",
                                                             salt.data(), 8, out, &offset)),
            Hex("04 25 30 23 04 00 02 01 00 02 01 00 04 01 75 04 0C 00 00 00 00 00 00 00 00"
                "00 00 00 00 04 08 00 01 11 70 FF FF FF FF"));
  EXPECT_EQ(offset, 17u);
  const std::string user(130, 'u');
  EXPECT_EQ(Out(out, CNetIO::BuildSnmpV3msgSecurityParameters(nullptr, 0, 0, 0, user.c_str(),
                                                             nullptr, nullptr, 0, out, nullptr)),
            Cat({Hex("04 81 94 30 81 91 04 00 02 01 00 02 01 00 04 81 82"), testmsg::Text(user),
                 Hex("04 00 04 00")}));
}

class SnmpV3Request : public ::testing::Test {
 protected:
  void SetUp() override { SNMPv3MsgID = SNMPv3RequestID = 0, salt_low = 0; }
  // 17 octets: its device-ID scoped PDU is 61 octets, enciphered as 64.
  const Bytes engine17 = Hex("80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A");
  unsigned char authKey[16], privKey[16], out[kSnmpV3WorkSize];
  Bytes Build(const Bytes& engine, uint32_t boots, uint32_t time, const char* user,
              const char* auth, const char* priv, const unsigned char* const* values = nullptr,
              const signed char* lens = nullptr, const unsigned char* tags = nullptr) {
    memset(authKey, 0xEE, sizeof authKey);
    memset(privKey, 0xEE, sizeof privKey);
    return Out(out, CNetIO::BuildSnmpV3RequestPacket(engine.data(), int(engine.size()), boots,
                                                     time, 1, kDeviceIdOids, values, lens, tags,
                                                     user, auth, priv, authKey, privKey, out));
  }
  Bytes Keys() const { return Cat({Bytes(authKey, authKey + 16), Bytes(privKey, privKey + 16)}); }
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
            Hex("30 7D 02 01 03 30 0E 02 02 00 FF 02 02 08 00 04 01 04 02 01 03 04 2A 30 28 04 11"
                "80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A 02 01 01 02 02 01 2C 04 08"
                "69 6E 6B 70 72 6F 62 65 04 00 04 00 30 3C 04 11 80 00 0B 93 03 00 00 00 00 00"
                "00 00 00 00 00 00 2A 04 00 A0 25 02 02 01 00 02 01 00 02 01 00 30 19 30 17 06 13"
                "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00"));
  EXPECT_EQ(std::make_tuple(SNMPv3MsgID, SNMPv3RequestID, salt_low), std::make_tuple(256, 257, 0u));
  EXPECT_EQ(Keys(), Bytes(32, 0));
  // Authentication only: the PDU stays in plaintext, the key is RFC 3414's.
  SNMPv3MsgID = SNMPv3RequestID = 0;
  const Bytes msg = Build(Hex("00 00 00 00 00 00 00 00 00 00 00 02"), 1, 70000, "inkprobe",
                          "maplesyrup", nullptr);
  ASSERT_EQ(msg.size(), 129u);
  Bytes blank = msg;
  std::fill(blank.begin() + 59, blank.begin() + 71, 0);
  EXPECT_EQ(blank, Hex("30 7F 02 01 03 30 0D 02 01 00 02 02 08 00 04 01 05 02 01 03 04 33 30 31"
                       "04 0C 00 00 00 00 00 00 00 00 00 00 00 02 02 01 01 02 04 00 01 11 70"
                       "04 08 69 6E 6B 70 72 6F 62 65 04 0C 00 00 00 00 00 00 00 00 00 00 00 00"
                       "04 00 30 36 04 0C 00 00 00 00 00 00 00 00 00 00 00 02 04 00 A0 24 02 01"
                       "00 02 01 00 02 01 00 30 19 30 17 06 13 2B 06 01 04 01 82 BE 0F 86 76 82"
                       "2C 82 71 C2 53 01 01 00 05 00"));
  EXPECT_EQ(Keys(), Cat({kMapleKey, Bytes(16, 0)}));
  ExpectSigned(msg, 59);
}

TEST_F(SnmpV3Request, PrivacyEnciphersTheFilledUpScopedPdu) {
  salt_low = 0xFFFFFFFF;
  SNMPv3RequestID = 5;
  const Bytes msg = Build(engine17, 70000, 12, "inkprobe", "maplesyrup", "maplesyrup");
  ASSERT_GT(msg.size(), 66u);
  EXPECT_EQ(std::make_tuple(msg[17], salt_low, SNMPv3RequestID), std::make_tuple(0x07, 0u, 6));
  // msgPrivacyParameters: boots 70 000, the salt_low in use; then 64 enciphered octets.
  const Bytes privacy = Hex("04 08 00 01 11 70 FF FF FF FF 04 40");
  const auto at = std::search(msg.begin(), msg.end(), privacy.begin(), privacy.end());
  ASSERT_EQ(msg.end() - at, long(privacy.size()) + 64);
  Bytes data(at + long(privacy.size()), msg.end());
  ASSERT_EQ(DecryptMsgData(data.data(), 64, privKey, privacy.data() + 2), 1);
  EXPECT_EQ(data, Cat({Hex("30 3B 04 11"), engine17, Hex("04 00 A0 24 02 01 05 02 01 00 02 01 00"
      "30 19 30 17 06 13 2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00 05 00"),
      Bytes(3, 0)}));
  ExpectSigned(msg, unsigned(at - msg.begin()) - 12);
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
  for (const auto& [oids, key] : {std::pair{badOids, authKey}, {kDeviceIdOids, nullptr}})
    EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(engine17.data(), 17, 0, 0, 1, oids, nullptr,
                                               nullptr, nullptr, "u", nullptr, nullptr, key,
                                               privKey, out), 0);
  // 15 bindings of 19-octet names and 127-octet values overrun the work area;
  // 13 fit the scoped PDU but not the whole message.
  std::vector<const char*> oids(15, kDeviceIdOidText);
  const unsigned char big[127] = {};
  std::vector<const unsigned char*> many(15, big);
  std::vector<signed char> lens(15, 127);
  std::vector<unsigned char> octetTags(15, 0x04);
  for (int count : {15, 13, 12}) {
    EXPECT_EQ(CNetIO::BuildSnmpV3RequestPacket(engine17.data(), 17, 0, 0, count, oids.data(),
                                               many.data(), lens.data(), octetTags.data(), "u",
                                               "maplesyrup", "maplesyrup", authKey, privKey,
                                               out) > 0,
              count == 12) << count;
    if (count == 15) {
      EXPECT_EQ(salt_low, 0u) << "a salt used up for a message refused before its PDU";
    }
  }
}

}  // namespace v3

}  // namespace
