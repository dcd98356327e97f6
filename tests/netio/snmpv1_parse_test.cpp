// The SNMPv1 GetResponse reader and the value callbacks behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "env/Snmpd.h"
#include "netio/NetIO.h"
#include "netio/refusal.h"
#include "tests/netio/MessageProperties.h"
#include "tests/netio/Messages.h"
#include "tests/netio/SeenBindings.h"

namespace {

using namespace testmsg;
using testnetio::g_seen;

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

const Bytes kValue = Text("hello");
const Bytes kValid = Response(kSysNameOid, 0x04, kValue);
const Bytes kHeader = Hex("02 01 00 04 06 70 75 62 6C 69 63");
const Bytes kInts = Hex("02 01 00 02 01 00 02 01 00");

Bytes WithOctet(Bytes msg, size_t at, unsigned char octet) {
  msg[at] = octet;
  return msg;
}

// Shapes the reader accepts (1) and refuses (0), and how many bindings it reports.
TEST(ParseGetResponse, ShapeTable) {
  const size_t pdu = 13;  // after 30 len, the version and "public"
  const Bytes binding = Binding(kSysNameOid, 0x04, kValue);
  const Bytes name = Tlv(0x06, kSysNameOid), value = Tlv(0x04, kValue);
  const struct {
    const char* what;
    Bytes msg;
    int result;
    size_t bindings;
  } rows[] = {
      {"valid", kValid, 1, 1},
      {"outer length one more", WithOctet(kValid, 1, kValid[1] + 1), 0, 0},
      {"outer length one less", WithOctet(kValid, 1, kValid[1] - 1), 0, 0},
      {"PDU length one more", WithOctet(kValid, pdu + 1, kValid[pdu + 1] + 1), 0, 0},
      {"PDU length one less", WithOctet(kValid, pdu + 1, kValid[pdu + 1] - 1), 0, 0},
      {"PDU tag A0", WithOctet(kValid, pdu, 0xA0), 0, 0},
      {"PDU tag A8", WithOctet(kValid, pdu, 0xA8), 0, 0},
      {"PDU tag A3", WithOctet(kValid, pdu, 0xA3), 1, 1},
      {"not a SEQUENCE", WithOctet(kValid, 0, 0x31), 0, 0},
      {"version not INTEGER", WithOctet(kValid, 2, 0x04), 0, 0},
      {"community not OCTET STRING", WithOctet(kValid, 5, 0x02), 0, 0},
      {"one extra octet", Cat({kValid, {0x00}}), 0, 0},
      {"empty list", ResponseWithList({}), 1, 0},
      {"lone 80 list", Tlv(0x30, Cat({kHeader, Tlv(0xA2, Cat({kInts, {0x30, 0x80}}))})), 1, 0},
      {"two bindings", ResponseWithList(Cat({binding, Binding(kDeviceIdOid, 0x05, {})})), 1, 2},
      {"binding not a SEQUENCE", ResponseWithList(WithOctet(binding, 0, 0x31)), 0, 0},
      {"name not an OID", ResponseWithList(WithOctet(binding, 2, 0x04)), 0, 0},
      {"error-status not INTEGER",
       Tlv(0x30, Cat({kHeader, Tlv(0xA2, Cat({Hex("02 01 00 04 01 00 02 01 00"),
                                              Tlv(0x30, binding)}))})), 0, 0},
      {"long-form lengths everywhere",
       Cat({Hex("30 82 00 2C"), kHeader, Hex("A2 81 1E"), kInts,
            Hex("30 81 12 30 84 00 00 00 0C 06 81 03 2B 06 01 04 82 00 02 6F 6B")}), 1, 1},
      {"lone 80 as a binding length", ResponseWithList(Cat({{0x30, 0x80}, name, value})), 1, 1},
      {"octets after the list inside the PDU",
       Tlv(0x30, Cat({kHeader, Tlv(0xA2, Cat({kInts, Tlv(0x30, binding), {0x00, 0x00}}))})), 1, 1},
      // Inner lengths past their container, the outer ones kept right.
      {"value past the list", ResponseWithList(Lying(0x30, name.size() + value.size(),
                                                     Cat({name, Lying(0x04, 6, kValue)}))), 0, 0},
      {"value claims 4 GB", ResponseWithList(Cat({{0x30, 0x0F}, name, Hex("04 84 FF FF FF FF"),
                                                  kValue})), 0, 0},
      {"name past the list", ResponseWithList(Cat({{0x30, 0x0A}, Lying(0x06, 9, kSysNameOid)})),
       0, 0},
      {"binding past the list", ResponseWithList(Lying(0x30, 40, Cat({name, value}))), 0, 0},
      {"length octets cut by the list", ResponseWithList(Cat({{0x30, 0x0B}, name, Hex("04 82 01")})),
       0, 0},
      {"list past the PDU",
       Tlv(0x30, Cat({Hex("02 01 00 04 00"),
                      Tlv(0xA2, Cat({kInts, Lying(0x30, 30, Binding(kSysNameOid, 0x05, {}))}))})),
       0, 0},
      {"community past the message", Tlv(0x30, Cat({Hex("02 01 00"), Lying(0x04, 200, {'p'})})),
       0, 0},
      {"integer past the message", Tlv(0x30, Lying(0x02, 3, {0x00})), 0, 0},
      {"length of length 5", Hex("30 85 00 00 00 00 03 02 01 00"), 0, 0},
      {"outer length 2^31", Hex("30 84 80 00 00 00 02 01 00"), 0, 0},
      {"outer length 2^32 - 1", Hex("30 84 FF FF FF FF 02 01 00"), 0, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Parse(row.msg), row.result) << row.what;
    EXPECT_EQ(g_seen.size(), row.bindings) << row.what;
  }
  ASSERT_EQ(Parse(kValid), 1);
  EXPECT_EQ(g_seen[0].oid, kSysNameOid);
  EXPECT_EQ(g_seen[0].tag, 0x04);
  EXPECT_EQ(g_seen[0].value, kValue);
  EXPECT_EQ(CNetIO::parseGetResponse(nullptr, 10, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr), 0);
  EXPECT_EQ(CNetIO::parseGetResponse(kValid.data(), -1, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr), 0);
}

TEST(ParseGetResponse, EveryPrefixIsRefused) {
  for (const Bytes& msg : {kValid, Response(kDeviceIdOid, 0x04,
                                            Text(testenv::DeviceIdWithLevel(42)))}) {
    msgprop::ExpectEveryPrefixRefused(msg, [](uint8_t* data, size_t size) {
      return CNetIO::parseGetResponse(data, int(size), nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr)
                 ? std::optional<std::string>("1") : std::nullopt;
    });
  }
}

TEST(ParseGetResponse, HeaderFieldsAndTheirBounds) {
  const Bytes msg = Tlv(0x30, Cat({Hex("02 02 01 07 04 00"),
                                   Tlv(0xA2, Cat({Hex("02 02 01 00 02 00 02 05 09 01 02 03 04"),
                                                  Tlv(0x30, {})}))}));
  unsigned char requestId = 0, status = 0xEE, index = 0;
  int version = -1;
  char community[kCommunityOutSize] = "x";
  ASSERT_EQ(CNetIO::parseGetResponse(msg.data(), int(msg.size()), &version, community,
                                     &requestId, &status, &index, nullptr), 1);
  // INTEGERs give their first octet; an empty one reads as 0, never the next octet.
  EXPECT_EQ(version, 1);
  EXPECT_STREQ(community, "");
  EXPECT_EQ(requestId, 1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(index, 9);
  const std::string fits(kCommunityOutSize - 1, 'c');
  ASSERT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits), community), 1);
  EXPECT_EQ(std::string(community), fits);
  EXPECT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits + "c"), community), 0);
  EXPECT_EQ(netio::LastRefusal(), netio::Refusal::kVersionOrCommunity);
  EXPECT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits + "c")), 1);  // nothing to write
}

TEST(ParseForRecvBuf, TheLastValueIfItFits) {
  const struct {
    const char* what;
    Bytes msg;
    int result;
    std::string out;
  } rows[] = {
      {"two values", ResponseWithList(Cat({Binding(kSysNameOid, 0x04, Text("first")),
                                           Binding(kSysNameOid, 0x04, Text("second"))})),
       1, "second"},
      {"agent error", ResponseWithList(Binding(kSysNameOid, 0x05, {}), "public", 0xA2, 2), 1, ""},
      {"1023 octets", Response(kSysNameOid, 0x04, Bytes(1023, 'v')), 1, std::string(1023, 'v')},
      {"1024 octets", Response(kSysNameOid, 0x04, Bytes(1024, 'v')), 0, "stale"},
      {"3000 octets", Response(kSysNameOid, 0x04, Bytes(3000, 'v')), 0, "stale"},
  };
  for (const auto& row : rows) {
    std::vector<char> out(4096, 0);
    strcpy(out.data(), "stale");
    EXPECT_EQ(CNetIO::parseForRecvBuf(row.msg.data(), int(row.msg.size()), out.data()),
              row.result) << row.what;
    EXPECT_EQ(std::string(out.data()), row.out) << row.what;
  }
}

TEST(ValueCallback, SysObjectIdNeedsTheNameAndAFittingOid) {
  const Bytes value = Hex("2B 06 01 04 01 82 BE 0F");
  const struct {
    const char* what;
    Bytes name;
    unsigned char tag;
    Bytes value;
    bool accepted;
  } rows[] = {
      {"sysObjectID.0", kSysObjectIdOid, 0x06, value, true},
      {"longer name with that prefix", Cat({kSysObjectIdOid, {0x07}}), 0x06, value, true},
      {"sysName.0", kSysNameOid, 0x06, value, false},
      {"name of 7 octets", Bytes(kSysObjectIdOid.begin(), kSysObjectIdOid.end() - 1), 0x06, value,
       false},
      {"empty name", {}, 0x06, value, false},
      {"value not an OID", kSysObjectIdOid, 0x04, value, false},
      {"value of 128", kSysObjectIdOid, 0x06, Bytes(kSysObjIdSize, 0x01), true},
      {"value of 129", kSysObjectIdOid, 0x06, Bytes(kSysObjIdSize + 1, 0x02), false},
  };
  for (const auto& row : rows) {
    sysObjIdLen = -5;
    // Exactly sized, so comparing more name than there is would be caught.
    std::unique_ptr<unsigned char[]> name(new unsigned char[row.name.size() + 1]);
    std::copy(row.name.begin(), row.name.end(), name.get());
    EXPECT_EQ(outputOidValue(name.get(), int(row.name.size()), row.tag, row.value.data(),
                             int(row.value.size())), row.accepted) << row.what;
    EXPECT_EQ(row.accepted ? Bytes(sysObjId, sysObjId + std::max(sysObjIdLen, 0)) : Bytes(),
              row.accepted ? row.value : Bytes()) << row.what;
    EXPECT_EQ(sysObjIdLen, row.accepted ? int(row.value.size()) : -5) << row.what;
  }
}

TEST(ParseForOID, MatchesEitherTarget) {
  const char first[] = "1.3.6.1.4.1.40719.886", second[] = "1.3.6.1.4.1.2435.2";
  unsigned char enc[64];
  const Bytes firstOid(enc, enc + CNetIO::oidEncode(first, enc));
  const Bytes secondOid(enc, enc + CNetIO::oidEncode(second, enc));
  Bytes padded = firstOid;
  padded.resize(12, 0x00);
  const struct {
    const char* what;
    const char* secondTarget;
    Bytes name, value;
    int match;
  } rows[] = {
      {"first target", second, kSysObjectIdOid, firstOid, 1},
      {"second target", second, kSysObjectIdOid, secondOid, 1},
      {"first target, second empty", "", kSysObjectIdOid, firstOid, 1},
      {"target plus zero octets", second, kSysObjectIdOid, padded, 1},
      {"four octets never match", second, kSysObjectIdOid,
       Bytes(firstOid.begin(), firstOid.begin() + 4), 0},
      {"other OID", second, kSysObjectIdOid, Hex("2B 06 01 04 01 09"), 0},
      {"longer than a target", second, kSysObjectIdOid, Bytes(40, 0x00), 0},
      {"not sysObjectID.0", second, kSysNameOid, firstOid, 0},
  };
  for (const auto& row : rows) {
    CNetIO netio;
    netio.InitTargetOID(first, row.secondTarget);
    const Bytes msg = Response(row.name, 0x06, row.value);
    EXPECT_EQ(netio.parseForOID(msg.data(), int(msg.size()), nullptr, 0), row.match) << row.what;
  }
  CNetIO netio;
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", "1.3.6.1.4.1.40719.886"), 10);
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", "1.3.x"), 0);
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", nullptr), -1);
  // 1 + 7 * 5 octets: more than a 32-octet target holds.
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", "1.3.4294967295.4294967295.4294967295.4294967295."
                                           "4294967295.4294967295.4294967295"), 0);
}

// An earlier printer's device ID must never become this printer's status.
TEST(ParseForDeviceId, OnlyThisAnswersRecord) {
  const struct {
    const char* what;
    Bytes msg;
    bool decoded;
  } rows[] = {
      {"a status field", Response(kDeviceIdOid, 0x04, Text(testenv::DeviceIdWithLevel(57))), true},
      {"no status field", Response(kDeviceIdOid, 0x04, Text("MFG:Acme;CMD:PCL;")), false},
      {"noSuchName", ResponseWithList(Binding(kDeviceIdOid, 0x05, {}), "public", 0xA2, 2), false},
      {"oversized", Response(kDeviceIdOid, 0x04, Bytes(kDeviceIdSize, 'S')), false},
  };
  for (const auto& row : rows) {
    const std::string earlier = testenv::DeviceIdWithLevel(99);
    memcpy(g_deviceid, earlier.c_str(), earlier.size() + 1);
    PRINTER_STATUS status{};
    EXPECT_EQ(CNetIO::parseForDeviceId(row.msg.data(), int(row.msg.size()), &status), row.decoded)
        << row.what;
    EXPECT_EQ(Bytes(&status.blackLevel, &status.blackLevel + sizeof status),
              row.decoded ? testenv::StatusRecord(57) : Bytes(sizeof status, 0)) << row.what;
  }
}

}  // namespace
