// BER primitives, the SNMPv1 GetRequests octet for octet, and the GetResponse
// reader with the value callbacks behind it, hostile lengths included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "env/Snmpd.h"
#include "netio/BerReader.h"
#include "netio/BerWriter.h"
#include "netio/NetIO.h"
#include "netio/refusal.h"
#include "tests/netio/MessageProperties.h"
#include "tests/netio/Messages.h"
#include "tests/netio/SeenBindings.h"

namespace {

using namespace testmsg;
using testnetio::g_seen;

TEST(Ber, LengthsBothWaysAndTheBoundedReaderAndWriter) {
  const std::pair<uint32_t, const char*> encodings[] = {
      {0, "00"}, {127, "7F"}, {128, "81 80"}, {255, "81 FF"}, {256, "82 01 00"},
      {65535, "82 FF FF"}, {65536, "83 01 00 00"}, {4294967295u, "84 FF FF FF FF"}};
  for (const auto& [length, octets] : encodings) {
    unsigned char buf[16];
    memset(buf, 0xEE, sizeof buf);
    unsigned char* front = CNetIO::berEncodeLength(buf + 8, length);
    EXPECT_EQ(Bytes(front - 1, buf + 9), Cat({{0xEE}, Hex(octets), {0xEE}})) << length;
  }
  // consumed -1: refused. The lone 80 reads as 0; a non-minimal form is still read.
  const std::tuple<const char*, int, int> decodings[] = {{"00", 0, 1}, {"7F", 127, 1}, {"80", 0, 1}, {"81 80", 128, 2}, {"81 05", 5, 2},
                   {"83 01 00 00", 65536, 4}, {"84 7F FF FF FF", 2147483647, 5},
                   {"84 80 00 00 00", 0, -1}, {"85 00 00 00 00 01", 0, -1}, {"FF 00", 0, -1}};
  for (const auto& [octets, expected, consumed] : decodings) {
    Bytes in = Hex(octets);
    int length = -7;
    unsigned char* next = CNetIO::parseLength(in.data(), &length);
    EXPECT_EQ(next ? next - in.data() : -1, consumed) << octets;
    EXPECT_EQ(length, next ? expected : -7) << octets;
  }
  // An element whose length reaches past its container is refused, not clamped.
  for (const char* bytes : {"04 02 41", "04 82 01", "04", "04 84 FF FF FF FF 41",
                            "04 85 00 00 00 00 01 41", "30 03 04 02 41 42"}) {
    const Bytes b = Hex(bytes);
    netio::BerReader r(b.data(), b.size()), inner, contents;
    if (b[0] == 0x30) {
      ASSERT_TRUE(r.Element(0x30, &inner));
      r = inner;
    }
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
       {"01 02 03 04 05", 5, 0x02030405u}, {"80 00 00 00", 4, 0x80000000u}, {"12", 0, 0u}, {"12", -3, 0u}})
    EXPECT_EQ(readIntValue(Hex(octets).data(), length), value) << octets;
}

TEST(Ber, OidTexts) {
  const std::pair<std::string, const char*> rows[] = {
      {"1.3.6.1.2.1.1.5.0", "2B 06 01 02 01 01 05 00"},
      {"1.3.6.1.4.1.40719.886.300.369.8531.1.1.0",
       "2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00"},
      {"1.3.127", "2B 7F"}, {"1.3.128", "2B 81 00"}, {"1.3.16383", "2B FF 7F"},
      {"1.3.16384", "2B 81 80 00"}, {"1.3.4294967295", "2B 8F FF FF FF 7F"}, {"1.3", "2B"},
      {"2.47", "7F"}, {"0.0", "00"}, {"1.3.00042", "2B 2A"},
      // Refused: nothing written.
      {"1.3.a", ""}, {"1.3.-1", ""}, {"1.3. 6", ""}, {" 1.3", ""}, {"1.3.6 ", ""}, {"", ""},
      {"1", ""}, {"42", ""}, {".1.3", ""}, {"1.3.", ""}, {"1..3", ""}, {"1.3..6", ""}, {"3.8", ""},
      {"2.48", ""}, {"1.3.4294967296", ""}, {"1.3.99999999999999999999", ""}, {"4294967296.1", ""},
      {"1.3.6\n", ""}};
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
  const Bytes status = Hex("30 31 02 01 00 04 06 70 75 62 6C 69 63 A0 24 02 01 00 02 01 00"
                           "02 01 00 30 19 30 17 06 13 2B 06 01 04 01 82 BE 0F 86 76 82 2C"
                           "82 71 C2 53 01 01 00 05 00");
  unsigned char out[2048];
  auto build = [&](int count, const char* oid, const char* community) {
    const int n = CNetIO::BuildGetRequestFor(count, oid, community, out);
    return n < 0 ? Bytes() : Bytes(out, out + n);
  };
  EXPECT_EQ(build(1, kDeviceId, "public"), status);
  EXPECT_EQ(build(1, kSysName, nullptr), Request("public", kSysNameOid));
  EXPECT_EQ(build(3, kSysName, "ab"), Request("ab", kSysNameOid, 3));
  // count, OID, community length, size or -1 for refused
  const std::tuple<int, const char*, size_t, int> rows[] = {{1, kSysName, 95, 129}, {1, kSysName, 96, -1}, {1, kDeviceId, 84, 129},
              {1, kDeviceId, 85, -1}, {7, kSysName, 4, 122}, {8, kSysName, 0, -1},
              {1000000, kSysName, 6, -1}, {1, kSysName, 5000, -1}, {0, kSysName, 6, -1},
              {-1, kSysName, 6, -1}, {1, "1.3.6.x", 6, -1}, {1, nullptr, 6, -1}};
  for (const auto& [count, oid, community, size] : rows)
    EXPECT_EQ(CNetIO::BuildGetRequestFor(count, oid, std::string(community, 'c').c_str(), out), size)
        << count << " " << community;
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

int Parse(const Bytes& msg, char* community = nullptr) {
  g_seen.clear();
  return *msgprop::DecodeExact(
      [community](uint8_t* data, size_t size) {
        return std::to_string(CNetIO::parseGetResponse(data, int(size), nullptr, community,
                                                       nullptr, nullptr, nullptr,
                                                       testnetio::Record));
      },
      msg) == "1";
}

Bytes WithOctet(Bytes msg, size_t at, unsigned char octet) {
  msg[at] = octet;
  return msg;
}

// Shapes the reader accepts (1) and refuses (0), and how many bindings it reports.
TEST(SnmpV1Parse, ShapeTable) {
  const Bytes value = Text("hello"), valid = Response(kSysNameOid, 0x04, value);
  const Bytes header = Hex("02 01 00 04 06 70 75 62 6C 69 63"), ints = Hex("02 01 00 02 01 00 02 01 00");
  const size_t pdu = 13;  // after 30 len, the version and "public"
  const Bytes binding = Binding(kSysNameOid, 0x04, value);
  const Bytes name = Tlv(0x06, kSysNameOid), element = Tlv(0x04, value);
  const std::tuple<const char*, Bytes, int, size_t> rows[] = {
      {"valid", valid, 1, 1},
      {"outer length one more", WithOctet(valid, 1, valid[1] + 1), 0, 0},
      {"outer length one less", WithOctet(valid, 1, valid[1] - 1), 0, 0},
      {"PDU length one more", WithOctet(valid, pdu + 1, valid[pdu + 1] + 1), 0, 0},
      {"PDU length one less", WithOctet(valid, pdu + 1, valid[pdu + 1] - 1), 0, 0},
      {"PDU tag A0", WithOctet(valid, pdu, 0xA0), 0, 0},
      {"PDU tag A8", WithOctet(valid, pdu, 0xA8), 0, 0},
      {"PDU tag A3", WithOctet(valid, pdu, 0xA3), 1, 1},
      {"not a SEQUENCE", WithOctet(valid, 0, 0x31), 0, 0},
      {"version not INTEGER", WithOctet(valid, 2, 0x04), 0, 0},
      {"community not OCTET STRING", WithOctet(valid, 5, 0x02), 0, 0},
      {"one extra octet", Cat({valid, {0x00}}), 0, 0},
      {"empty list", ResponseWithList({}), 1, 0},
      {"lone 80 list", Tlv(0x30, Cat({header, Tlv(0xA2, Cat({ints, {0x30, 0x80}}))})), 1, 0},
      {"two bindings", ResponseWithList(Cat({binding, Binding(kDeviceIdOid, 0x05, {})})), 1, 2},
      {"binding not a SEQUENCE", ResponseWithList(WithOctet(binding, 0, 0x31)), 0, 0},
      {"name not an OID", ResponseWithList(WithOctet(binding, 2, 0x04)), 0, 0},
      {"error-status not INTEGER",
       Tlv(0x30, Cat({header, Tlv(0xA2, Cat({Hex("02 01 00 04 01 00 02 01 00"), Tlv(0x30, binding)}))})), 0, 0},
      {"long-form lengths everywhere",
       Cat({Hex("30 82 00 2C"), header, Hex("A2 81 1E"), ints,
            Hex("30 81 12 30 84 00 00 00 0C 06 81 03 2B 06 01 04 82 00 02 6F 6B")}), 1, 1},
      {"lone 80 as a binding length", ResponseWithList(Cat({{0x30, 0x80}, name, element})), 1, 1},
      {"octets after the list inside the PDU",
       Tlv(0x30, Cat({header, Tlv(0xA2, Cat({ints, Tlv(0x30, binding), {0x00, 0x00}}))})), 1, 1},
      // Inner lengths past their container, the outer ones kept right.
      {"value past the list",
       ResponseWithList(Lying(0x30, name.size() + element.size(), Cat({name, Lying(0x04, 6, value)}))), 0, 0},
      {"value claims 4 GB", ResponseWithList(Cat({{0x30, 0x0F}, name, Hex("04 84 FF FF FF FF"), value})), 0, 0},
      {"name past the list", ResponseWithList(Cat({{0x30, 0x0A}, Lying(0x06, 9, kSysNameOid)})), 0, 0},
      {"binding past the list", ResponseWithList(Lying(0x30, 40, Cat({name, element}))), 0, 0},
      {"length octets cut by the list", ResponseWithList(Cat({{0x30, 0x0B}, name, Hex("04 82 01")})), 0, 0},
      {"list past the PDU", Tlv(0x30, Cat({Hex("02 01 00 04 00"), Tlv(0xA2, Cat({ints,
           Lying(0x30, 30, Binding(kSysNameOid, 0x05, {}))}))})), 0, 0},
      {"community past the message", Tlv(0x30, Cat({Hex("02 01 00"), Lying(0x04, 200, {'p'})})), 0, 0},
      {"integer past the message", Tlv(0x30, Lying(0x02, 3, {0x00})), 0, 0},
      {"length of length 5", Hex("30 85 00 00 00 00 03 02 01 00"), 0, 0},
      {"outer length 2^31", Hex("30 84 80 00 00 00 02 01 00"), 0, 0},
      {"outer length 2^32 - 1", Hex("30 84 FF FF FF FF 02 01 00"), 0, 0},
  };
  for (const auto& [what, msg, result, bindings] : rows) {
    EXPECT_EQ(Parse(msg), result) << what;
    EXPECT_EQ(g_seen.size(), bindings) << what;
  }
  ASSERT_EQ(Parse(valid), 1);
  EXPECT_EQ(std::tie(g_seen[0].oid, g_seen[0].tag, g_seen[0].value), std::make_tuple(kSysNameOid, 0x04, value));
  EXPECT_EQ(CNetIO::parseGetResponse(nullptr, 10, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  for (const Bytes& msg : {valid, Response(kDeviceIdOid, 0x04, Text(testenv::DeviceIdWithLevel(42)))})
    msgprop::ExpectEveryPrefixRefused(msg, [](uint8_t* data, size_t size) {
      return CNetIO::parseGetResponse(data, int(size), nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr) ? std::optional<std::string>("") : std::nullopt;
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
    EXPECT_EQ(CNetIO::parseForRecvBuf(msg.data(), int(msg.size()), out.data()), result) << text.size();
    EXPECT_EQ(std::string(out.data()), text);
  }
  // outputOidValue keeps sysObjectID's value when the name fits and the OID does.
  const Bytes value = Hex("2B 06 01 04 01 82 BE 0F");
  const std::tuple<Bytes, unsigned char, Bytes, bool> oids[] = {
      {kSysObjectIdOid, 0x06, value, true}, {Cat({kSysObjectIdOid, {0x07}}), 0x06, value, true},
      {kSysNameOid, 0x06, value, false}, {Bytes(kSysObjectIdOid.begin(), kSysObjectIdOid.end() - 1), 0x06, value, false},
      {{}, 0x06, value, false}, {kSysObjectIdOid, 0x04, value, false},
      {kSysObjectIdOid, 0x06, Bytes(kSysObjIdSize, 0x01), true},
      {kSysObjectIdOid, 0x06, Bytes(kSysObjIdSize + 1, 0x02), false}};
  for (const auto& [name, tag, v, accepted] : oids) {
    sysObjIdLen = -5;
    auto exact = std::make_unique<unsigned char[]>(name.size() + 1);  // no reading past the name
    std::copy(name.begin(), name.end(), exact.get());
    EXPECT_EQ(outputOidValue(exact.get(), int(name.size()), tag, v.data(), int(v.size())), accepted);
    EXPECT_EQ(sysObjIdLen, accepted ? int(v.size()) : -5) << name.size() << " " << v.size();
    if (accepted) {
      EXPECT_EQ(Bytes(sysObjId, sysObjId + sysObjIdLen), v);
    }
  }
  // parseForOID matches either discovery target.
  const char first[] = "1.3.6.1.4.1.40719.886", second[] = "1.3.6.1.4.1.2435.2";
  unsigned char enc[64];
  const Bytes firstOid(enc, enc + CNetIO::oidEncode(first, enc));
  const Bytes secondOid(enc, enc + CNetIO::oidEncode(second, enc));
  Bytes padded = firstOid;
  padded.resize(12, 0x00);
  const std::tuple<const char*, Bytes, Bytes, int> matches[] = {
      {second, kSysObjectIdOid, firstOid, 1}, {second, kSysObjectIdOid, secondOid, 1},
      {"", kSysObjectIdOid, firstOid, 1}, {second, kSysObjectIdOid, padded, 1},
      {second, kSysObjectIdOid, Bytes(firstOid.begin(), firstOid.begin() + 4), 0},
      {second, kSysObjectIdOid, Hex("2B 06 01 04 01 09"), 0},
      {second, kSysObjectIdOid, Bytes(40, 0x00), 0}, {second, kSysNameOid, firstOid, 0}};
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
    EXPECT_EQ(CNetIO::parseForDeviceId(msg.data(), int(msg.size()), &status), decoded) << msg.size();
    EXPECT_EQ(Bytes(&status.blackLevel, &status.blackLevel + sizeof status),
              decoded ? testenv::StatusRecord(57) : Bytes(sizeof status, 0)) << msg.size();
  }
}

}  // namespace
