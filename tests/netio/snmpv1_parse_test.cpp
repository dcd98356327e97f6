#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Messages.h"
#include "env/Snmpd.h"
#include "netio/NetIO.h"
#include "netio/refusal.h"
#include "tests/netio/SeenBindings.h"

namespace {

using namespace testmsg;
using testnetio::g_seen;
using testnetio::Record;

// Parses from a heap buffer of exactly the message's size, so AddressSanitizer
// catches any read past it.
int Parse(const Bytes& msg, unsigned char* requestId = nullptr, char* community = nullptr,
          int* version = nullptr) {
  g_seen.clear();
  std::unique_ptr<unsigned char[]> exact(new unsigned char[msg.size() ? msg.size() : 1]);
  if (!msg.empty()) memcpy(exact.get(), msg.data(), msg.size());
  unsigned char status = 0xEE, index = 0xEE;
  return CNetIO::parseGetResponse(exact.get(), static_cast<int>(msg.size()), version, community,
                                  requestId, &status, &index, Record);
}

const Bytes kValue = Text("hello");
const Bytes kValid = Response(kSysNameOid, 0x04, kValue);

TEST(ParseGetResponse, AcceptsAWellFormedResponse) {
  int version = -1;
  char community[kCommunityOutSize];
  unsigned char requestId = 0xEE;
  ASSERT_EQ(Parse(kValid, &requestId, community, &version), 1);
  EXPECT_EQ(version, 0);
  EXPECT_STREQ(community, "public");
  EXPECT_EQ(requestId, 0);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].oid, kSysNameOid);
  EXPECT_EQ(g_seen[0].tag, 0x04);
  EXPECT_EQ(g_seen[0].value, kValue);
}

Bytes WithOctet(Bytes msg, size_t at, unsigned char octet) {
  msg[at] = octet;
  return msg;
}

// Shapes the reader accepts (1) and refuses (0), and how many bindings it reports.
TEST(ParseGetResponse, ShapeTable) {
  const size_t pduAt = 2 + 3 + 8;  // after 30 len, version, community "public"
  const Bytes header = {0x02, 0x01, 0x00, 0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c'};
  const Bytes ints = {0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00};
  const Bytes binding = Binding(kSysNameOid, 0x04, kValue);
  const struct {
    const char* what;
    Bytes msg;
    int result;
    size_t bindings;
  } rows[] = {
      {"valid", kValid, 1, 1},
      {"outer length one more", WithOctet(kValid, 1, kValid[1] + 1), 0, 0},
      {"outer length one less", WithOctet(kValid, 1, kValid[1] - 1), 0, 0},
      {"PDU length one more", WithOctet(kValid, pduAt + 1, kValid[pduAt + 1] + 1), 0, 0},
      {"PDU length one less", WithOctet(kValid, pduAt + 1, kValid[pduAt + 1] - 1), 0, 0},
      {"PDU tag A0", WithOctet(kValid, pduAt, 0xA0), 0, 0},
      {"PDU tag A8", WithOctet(kValid, pduAt, 0xA8), 0, 0},
      {"PDU tag A3", WithOctet(kValid, pduAt, 0xA3), 1, 1},
      {"not a SEQUENCE", WithOctet(kValid, 0, 0x31), 0, 0},
      {"version not INTEGER", WithOctet(kValid, 2, 0x04), 0, 0},
      {"community not OCTET STRING", WithOctet(kValid, 5, 0x02), 0, 0},
      {"empty list", ResponseWithList({}), 1, 0},
      {"lone 80 list", Tlv(0x30, Cat({header, Tlv(0xA2, Cat({ints, {0x30, 0x80}}))})), 1, 0},
      {"two bindings", ResponseWithList(Cat({binding, Binding(kDeviceIdOid, 0x05, {})})), 1, 2},
      {"binding not a SEQUENCE", ResponseWithList(WithOctet(binding, 0, 0x31)), 0, 0},
      {"name not an OID", ResponseWithList(WithOctet(binding, 2, 0x04)), 0, 0},
      {"error-status not INTEGER",
       Tlv(0x30, Cat({header, Tlv(0xA2, Cat({{0x02, 0x01, 0x00, 0x04, 0x01, 0x00, 0x02, 0x01, 0x00},
                                             Tlv(0x30, binding)}))})),
       0, 0},
      {"long-form lengths everywhere",
       Cat({{0x30, 0x82, 0x00, 0x2C},
            header,
            {0xA2, 0x81, 0x1E},
            ints,
            {0x30, 0x81, 0x12, 0x30, 0x84, 0x00, 0x00, 0x00, 0x0C, 0x06, 0x81, 0x03, 0x2B, 0x06,
             0x01, 0x04, 0x82, 0x00, 0x02, 'o', 'k'}}),
       1, 1},
      {"lone 80 as a binding length",
       ResponseWithList(Cat({{0x30, 0x80}, Tlv(0x06, kSysNameOid), Tlv(0x04, kValue)})), 1, 1},
      {"octets after the list inside the PDU",
       Tlv(0x30, Cat({header, Tlv(0xA2, Cat({ints, Tlv(0x30, binding), {0x00, 0x00}}))})), 1, 1},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Parse(row.msg), row.result) << row.what;
    EXPECT_EQ(g_seen.size(), row.bindings) << row.what;
  }
}

TEST(ParseGetResponse, IntegersOfAnyLengthGiveTheirFirstOctet) {
  const Bytes header = {0x02, 0x02, 0x01, 0x07, 0x04, 0x00};
  const Bytes msg = Tlv(0x30, Cat({header, Tlv(0xA2, Cat({{0x02, 0x02, 0x01, 0x00, 0x02, 0x00,
                                                           0x02, 0x05, 0x09, 1, 2, 3, 4},
                                                          Tlv(0x30, {})}))}));
  unsigned char requestId = 0, status = 0xEE, index = 0;
  int version = -1;
  char community[kCommunityOutSize] = "x";
  ASSERT_EQ(CNetIO::parseGetResponse(msg.data(), static_cast<int>(msg.size()), &version, community,
                                     &requestId, &status, &index, nullptr),
            1);
  EXPECT_EQ(version, 1);
  EXPECT_STREQ(community, "");
  EXPECT_EQ(requestId, 1);
  EXPECT_EQ(status, 0);  // an empty INTEGER reads as 0, never the next octet
  EXPECT_EQ(index, 9);
}

TEST(ParseGetResponse, NullOutputsAndCallbackAreSkipped) {
  EXPECT_EQ(CNetIO::parseGetResponse(kValid.data(), static_cast<int>(kValid.size()), nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr),
            1);
  EXPECT_EQ(CNetIO::parseGetResponse(nullptr, 10, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr),
            0);
  EXPECT_EQ(CNetIO::parseGetResponse(kValid.data(), -1, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr),
            0);
}

TEST(ParseGetResponse, EveryPrefixAndOneExtraOctetAreRefused) {
  const Bytes big = Response(kDeviceIdOid, 0x04, Text(testenv::DeviceIdWithLevel(42)));
  for (const Bytes& msg : {kValid, big}) {
    for (size_t n = 0; n < msg.size(); ++n) {
      EXPECT_EQ(Parse(Bytes(msg.begin(), msg.begin() + static_cast<long>(n))), 0) << n;
    }
    Bytes longer = msg;
    longer.push_back(0x00);
    EXPECT_EQ(Parse(longer), 0);
    EXPECT_EQ(Parse(msg), 1);
  }
}

// Inner lengths that run past their container, with the outer lengths kept right.
TEST(ParseGetResponse, InnerOverrunsAreRefused) {
  const Bytes name = Tlv(0x06, kSysNameOid);
  const Bytes value = Tlv(0x04, kValue);
  const struct {
    const char* what;
    Bytes msg;
  } rows[] = {
      {"value past the list", ResponseWithList(Lying(0x30, name.size() + value.size(),
                                                     Cat({name, Lying(0x04, 6, kValue)})))},
      {"value claims 4 GB",
       ResponseWithList(Cat({{0x30, 0x0F}, name, {0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}, kValue}))},
      {"name past the list", ResponseWithList(Cat({{0x30, 0x0A}, Lying(0x06, 9, kSysNameOid)}))},
      {"binding past the list", ResponseWithList(Lying(0x30, 40, Cat({name, value})))},
      {"length octets cut by the list",
       ResponseWithList(Cat({{0x30, 0x0B}, name, {0x04, 0x82, 0x01}}))},
      {"list past the PDU",
       Tlv(0x30, Cat({{0x02, 0x01, 0x00, 0x04, 0x00},
                      Tlv(0xA2, Cat({{0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00},
                                     Lying(0x30, 30, Binding(kSysNameOid, 0x05, {}))}))}))},
      {"community past the message", Tlv(0x30, Cat({{0x02, 0x01, 0x00}, Lying(0x04, 200, {'p'})}))},
      {"integer past the message", Tlv(0x30, Lying(0x02, 3, {0x00}))},
      {"length of length 5", Cat({{0x30, 0x85, 0x00, 0x00, 0x00, 0x00, 0x03}, {0x02, 0x01, 0x00}})},
      {"outer length 2^31", Cat({{0x30, 0x84, 0x80, 0x00, 0x00, 0x00}, {0x02, 0x01, 0x00}})},
      {"outer length 2^32 - 1", Cat({{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}, {0x02, 0x01, 0x00}})},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Parse(row.msg), 0) << row.what;
    EXPECT_TRUE(g_seen.empty()) << row.what;
  }
}

TEST(ParseGetResponse, CommunityOutputIsBounded) {
  char community[kCommunityOutSize];
  const std::string fits(kCommunityOutSize - 1, 'c');
  ASSERT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits), nullptr, community), 1);
  EXPECT_EQ(std::string(community), fits);
  EXPECT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits + "c"), nullptr, community), 0);
  EXPECT_EQ(netio::LastRefusal(), netio::Refusal::kVersionOrCommunity);
  EXPECT_EQ(Parse(Response(kSysNameOid, 0x05, {}, fits + "c")), 1);  // nothing to write
}

TEST(ParseForRecvBuf, CopiesTheLastValue) {
  char out[kRecvBufSize] = "stale";
  const Bytes two = ResponseWithList(
      Cat({Binding(kSysNameOid, 0x04, Text("first")), Binding(kSysNameOid, 0x04, Text("second"))}));
  EXPECT_EQ(CNetIO::parseForRecvBuf(two.data(), static_cast<int>(two.size()), out), 1);
  EXPECT_STREQ(out, "second");
}

TEST(ParseForRecvBuf, AnAgentErrorGivesAnEmptyText) {
  char out[kRecvBufSize] = "stale";
  const Bytes msg = ResponseWithList(Binding(kSysNameOid, 0x05, {}), "public", 0xA2, 2);
  EXPECT_EQ(CNetIO::parseForRecvBuf(msg.data(), static_cast<int>(msg.size()), out), 1);
  EXPECT_STREQ(out, "");
}

TEST(ParseForRecvBuf, ValueSizesAroundTheBuffer) {
  for (size_t size : {size_t{1023}, size_t{1024}, size_t{3000}}) {
    const Bytes msg = Response(kSysNameOid, 0x04, Bytes(size, 'v'));
    std::vector<char> out(4096, 'x');
    const int result = CNetIO::parseForRecvBuf(msg.data(), static_cast<int>(msg.size()), out.data());
    EXPECT_EQ(result, size < kRecvBufSize ? 1 : 0) << size;
    if (result) {
      EXPECT_EQ(strlen(out.data()), size);
    }
  }
}

TEST(ValueCallback, DeviceIdTakesOnlyOctetStringsThatFit) {
  strcpy(g_deviceid, "earlier");
  const unsigned char two[] = {0x02};
  EXPECT_FALSE(outputDeviceIdValue(kDeviceIdOid.data(), 19, 0x02, two, 1));
  EXPECT_STREQ(g_deviceid, "earlier");
  const Bytes fits(kDeviceIdSize - 1, 'd');
  EXPECT_TRUE(outputDeviceIdValue(nullptr, 0, 0x04, fits.data(), static_cast<int>(fits.size())));
  EXPECT_EQ(strlen(g_deviceid), fits.size());
  const Bytes tooLong(kDeviceIdSize, 'e');
  EXPECT_FALSE(outputDeviceIdValue(nullptr, 0, 0x04, tooLong.data(), static_cast<int>(tooLong.size())));
  EXPECT_EQ(strlen(g_deviceid), fits.size());
  EXPECT_EQ(g_deviceid[0], 'd');
}

TEST(ValueCallback, SysObjectIdNeedsTheNameAndAFittingOid) {
  const Bytes value = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0xBE, 0x0F};
  Bytes longerName = kSysObjectIdOid;
  longerName.push_back(0x07);
  const Bytes at128(kSysObjIdSize, 0x01), at129(kSysObjIdSize + 1, 0x02);
  const struct {
    const char* what;
    Bytes name;
    unsigned char tag;
    Bytes value;
    bool accepted;
  } rows[] = {
      {"sysObjectID.0", kSysObjectIdOid, 0x06, value, true},
      {"longer name with that prefix", longerName, 0x06, value, true},
      {"sysName.0", kSysNameOid, 0x06, value, false},
      {"name of 7 octets", Bytes(kSysObjectIdOid.begin(), kSysObjectIdOid.end() - 1), 0x06, value,
       false},
      {"empty name", {}, 0x06, value, false},
      {"value not an OID", kSysObjectIdOid, 0x04, value, false},
      {"value of 128", kSysObjectIdOid, 0x06, at128, true},
      {"value of 129", kSysObjectIdOid, 0x06, at129, false},
  };
  for (const auto& row : rows) {
    sysObjIdLen = -5;
    // Exactly sized, so comparing more name than there is would be caught.
    std::unique_ptr<unsigned char[]> name(new unsigned char[row.name.size() + 1]);
    std::copy(row.name.begin(), row.name.end(), name.get());
    EXPECT_EQ(outputOidValue(name.get(), static_cast<int>(row.name.size()), row.tag,
                             row.value.data(), static_cast<int>(row.value.size())),
              row.accepted)
        << row.what;
    EXPECT_EQ(sysObjIdLen, row.accepted ? static_cast<int>(row.value.size()) : -5) << row.what;
    if (row.accepted) {
      EXPECT_EQ(Bytes(sysObjId, sysObjId + sysObjIdLen), row.value) << row.what;
    }
  }
}

TEST(ParseForOID, MatchesEitherTarget) {
  const char first[] = "1.3.6.1.4.1.40719.886";
  const char second[] = "1.3.6.1.4.1.2435.2";
  unsigned char enc[64];
  const int firstLength = CNetIO::oidEncode(first, enc);
  const Bytes firstOid(enc, enc + firstLength);
  const int secondLength = CNetIO::oidEncode(second, enc);
  const Bytes secondOid(enc, enc + secondLength);
  Bytes padded = firstOid;
  padded.resize(12, 0x00);
  const struct {
    const char* what;
    const char* secondTarget;
    Bytes value;
    int match;
  } rows[] = {
      {"first target", second, firstOid, 1},
      {"second target", second, secondOid, 1},
      {"first target, second empty", "", firstOid, 1},
      {"target plus zero octets", second, padded, 1},
      {"four octets never match", second, Bytes(firstOid.begin(), firstOid.begin() + 4), 0},
      {"other OID", second, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x09}, 0},
      {"longer than a target", second, Bytes(40, 0x00), 0},
  };
  for (const auto& row : rows) {
    CNetIO netio;
    netio.InitTargetOID(first, row.secondTarget);
    const Bytes msg = Response(kSysObjectIdOid, 0x06, row.value);
    EXPECT_EQ(netio.parseForOID(msg.data(), static_cast<int>(msg.size()), nullptr, 0), row.match)
        << row.what;
  }
  CNetIO netio;
  netio.InitTargetOID(first, second);
  const Bytes wrongName = Response(kSysNameOid, 0x06, firstOid);
  EXPECT_EQ(netio.parseForOID(wrongName.data(), static_cast<int>(wrongName.size()), nullptr, 0), 0);
}

TEST(InitTargetOID, ReturnsTheSecondEncoding) {
  CNetIO netio;
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", "1.3.6.1.4.1.40719.886"), 10);
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", "1.3.x"), 0);
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1", nullptr), -1);
  // 1 + 7 * 5 octets: more than a 32-octet target holds.
  EXPECT_EQ(netio.InitTargetOID("1.3.6.1",
                                "1.3.4294967295.4294967295.4294967295.4294967295.4294967295."
                                "4294967295.4294967295"),
            0);
}

TEST(ParseForDeviceId, DecodesTheStatusRecord) {
  const Bytes msg = Response(kDeviceIdOid, 0x04, Text(testenv::DeviceIdWithLevel(57)));
  PRINTER_STATUS status{};
  ASSERT_TRUE(CNetIO::parseForDeviceId(msg.data(), static_cast<int>(msg.size()), &status));
  EXPECT_EQ(status.blackLevel, 57);
  EXPECT_EQ(Bytes(&status.blackLevel, &status.blackLevel + sizeof status),
            testenv::StatusRecord(57));
}

TEST(ParseForDeviceId, FailsWithoutAStatusField) {
  const Bytes msg = Response(kDeviceIdOid, 0x04, Text("MFG:Acme;CMD:PCL;"));
  PRINTER_STATUS status{};
  EXPECT_FALSE(CNetIO::parseForDeviceId(msg.data(), static_cast<int>(msg.size()), &status));
}

// An earlier printer's device ID must not become this printer's status.
TEST(ParseForDeviceId, ResponseWithoutOctetStringNeverReusesAnEarlierDeviceId) {
  const Bytes good = Response(kDeviceIdOid, 0x04, Text(testenv::DeviceIdWithLevel(57)));
  PRINTER_STATUS status{};
  ASSERT_TRUE(CNetIO::parseForDeviceId(good.data(), static_cast<int>(good.size()), &status));
  const Bytes noSuchName = ResponseWithList(Binding(kDeviceIdOid, 0x05, {}), "public", 0xA2, 2);
  PRINTER_STATUS other{};
  EXPECT_FALSE(CNetIO::parseForDeviceId(noSuchName.data(), static_cast<int>(noSuchName.size()), &other));
  EXPECT_EQ(other.blackLevel, 0);
  const Bytes oversized = Response(kDeviceIdOid, 0x04, Bytes(kDeviceIdSize, 'S'));
  EXPECT_FALSE(CNetIO::parseForDeviceId(oversized.data(), static_cast<int>(oversized.size()), &other));
  EXPECT_EQ(other.blackLevel, 0);
}

}  // namespace
