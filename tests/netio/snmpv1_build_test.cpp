#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "netio/NetIO.h"
#include "Messages.h"

namespace {

using testmsg::Bytes;

const char kSysName[] = "1.3.6.1.2.1.1.5.0";
const char kDeviceId[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0";

Bytes Build(int count, const char* oid, const char* community) {
  unsigned char out[2048];
  int n = CNetIO::BuildGetRequestFor(count, oid, community, out);
  return n < 0 ? Bytes() : Bytes(out, out + n);
}

const Bytes kSysNameRequest = {0x30, 0x26, 0x02, 0x01, 0x00, 0x04, 0x06, 'p',  'u',  'b',
                               'l',  'i',  'c',  0xA0, 0x19, 0x02, 0x01, 0x00, 0x02, 0x01,
                               0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30, 0x0C, 0x06, 0x08,
                               0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00, 0x05, 0x00};

const Bytes kStatusRequest = {
    0x30, 0x31, 0x02, 0x01, 0x00, 0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',
    0xA0, 0x24, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x19,
    0x30, 0x17, 0x06, 0x13, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0xBE, 0x0F, 0x86,
    0x76, 0x82, 0x2C, 0x82, 0x71, 0xC2, 0x53, 0x01, 0x01, 0x00, 0x05, 0x00};

TEST(BuildGetRequestFor, SysNameRequestOctets) {
  EXPECT_EQ(Build(1, kSysName, "public"), kSysNameRequest);
  EXPECT_EQ(Build(1, kSysName, nullptr), kSysNameRequest);
}

TEST(BuildGetRequestFor, DeviceIdRequestIsTheStatusRequest) {
  EXPECT_EQ(Build(1, kDeviceId, "public"), kStatusRequest);
}

TEST(BuildGetRequestFor, SeveralBindingsRepeatTheOid) {
  const Bytes binding = testmsg::Binding(testmsg::kSysNameOid, 0x05, {});
  const Bytes expected = testmsg::Tlv(
      0x30, testmsg::Cat({{0x02, 0x01, 0x00}, testmsg::Tlv(0x04, testmsg::Text("ab")),
                          testmsg::Tlv(0xA0, testmsg::Cat({{0x02, 0x01, 0x00, 0x02, 0x01, 0x00,
                                                            0x02, 0x01, 0x00},
                                                           testmsg::Tlv(0x30, testmsg::Cat({binding, binding, binding}))}))}));
  EXPECT_EQ(Build(3, kSysName, "ab"), expected);
}

TEST(BuildGetRequestFor, RefusesBadArguments) {
  unsigned char out[2048];
  EXPECT_EQ(CNetIO::BuildGetRequestFor(0, kSysName, "public", out), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(-1, kSysName, "public", out), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, nullptr, "public", out), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, kSysName, "public", nullptr), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, "1.3.6.x", "public", out), -1);
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, "1", "public", out), -1);
}

// Every length of the layout is one octet: what would need more is refused.
TEST(BuildGetRequestFor, LengthsAbove127AreRefused) {
  const struct {
    int count;
    const char* oid;
    size_t community;
    int size;  // -1: refused
  } rows[] = {
      {1, kSysName, 95, 129},  // message length 127
      {1, kSysName, 96, -1},
      {1, kDeviceId, 84, 129},
      {1, kDeviceId, 85, -1},
      {7, kSysName, 4, 122},   // list 98
      {8, kSysName, 0, -1},    // message length 130
      {9, kSysName, 0, -1},    // PDU length 137
      {1000000, kSysName, 6, -1},
      {1, kSysName, 5000, -1},
  };
  for (const auto& row : rows) {
    const std::string community(row.community, 'c');
    unsigned char out[2048];
    EXPECT_EQ(CNetIO::BuildGetRequestFor(row.count, row.oid, community.c_str(), out), row.size)
        << row.count << " x " << row.oid << ", community of " << row.community;
  }
}

TEST(BuildStatusRequest, PublicGivesThe51Octets) {
  unsigned char out[256];
  ASSERT_EQ(netio::BuildStatusRequest("public", out, sizeof out), 51);
  EXPECT_EQ(Bytes(out, out + 51), kStatusRequest);
  ASSERT_EQ(netio::BuildStatusRequest(nullptr, out, sizeof out), 51);
  EXPECT_EQ(Bytes(out, out + 51), kStatusRequest);
}

TEST(BuildStatusRequest, MatchesTheGeneralBuilderUpTo84Octets) {
  for (size_t c : {0, 1, 6, 83, 84}) {
    const std::string community(c, 'k');
    unsigned char out[256];
    const int n = netio::BuildStatusRequest(community.c_str(), out, sizeof out);
    ASSERT_EQ(n, static_cast<int>(45 + c));
    EXPECT_EQ(Bytes(out, out + n), Build(1, kDeviceId, community.c_str())) << c;
  }
}

TEST(BuildStatusRequest, RefusesWhatTheLayoutCannotHold) {
  unsigned char out[256];
  EXPECT_EQ(netio::BuildStatusRequest(std::string(85, 'k').c_str(), out, sizeof out), -1);
  EXPECT_EQ(netio::BuildStatusRequest(std::string(300, 'k').c_str(), out, sizeof out), -1);
  EXPECT_EQ(netio::BuildStatusRequest("public", out, 50), -1);
  EXPECT_EQ(netio::BuildStatusRequest("public", out, 51), 51);
}

}  // namespace
