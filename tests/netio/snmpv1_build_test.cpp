// The SNMPv1 GetRequests, octet for octet, and what their one-octet lengths refuse.
#include <gtest/gtest.h>

#include <string>

#include "netio/NetIO.h"
#include "tests/netio/Messages.h"

namespace {

using namespace testmsg;

const char kSysName[] = "1.3.6.1.2.1.1.5.0";
const char kDeviceId[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0";

Bytes Build(int count, const char* oid, const char* community) {
  unsigned char out[2048];
  const int n = CNetIO::BuildGetRequestFor(count, oid, community, out);
  return n < 0 ? Bytes() : Bytes(out, out + n);
}

Bytes Request(const std::string& community, const Bytes& oid, int copies = 1) {
  Bytes list;
  for (int i = 0; i < copies; ++i) list = Cat({list, Binding(oid, 0x05, {})});
  return Tlv(0x30, Cat({Hex("02 01 00"), Tlv(0x04, Text(community)),
                        Tlv(0xA0, Cat({Hex("02 01 00 02 01 00 02 01 00"), Tlv(0x30, list)}))}));
}

TEST(BuildGetRequestFor, Octets) {
  EXPECT_EQ(Build(1, kSysName, "public"),
            Hex("30 26 02 01 00 04 06 70 75 62 6C 69 63 A0 19 02 01 00 02 01 00 02 01 00"
                "30 0E 30 0C 06 08 2B 06 01 02 01 01 05 00 05 00"));
  EXPECT_EQ(Build(1, kSysName, nullptr), Request("public", kSysNameOid));
  EXPECT_EQ(Build(3, kSysName, "ab"), Request("ab", kSysNameOid, 3));
}

// Every length of the layout is one octet: what would need more is refused.
TEST(BuildGetRequestFor, RefusesWhatTheLayoutCannotHold) {
  const struct {
    int count;
    const char* oid;
    size_t community;
    int size;  // -1: refused
  } rows[] = {
      {1, kSysName, 95, 129}, {1, kSysName, 96, -1},  {1, kDeviceId, 84, 129},
      {1, kDeviceId, 85, -1}, {7, kSysName, 4, 122},  {8, kSysName, 0, -1},
      {9, kSysName, 0, -1},   {1000000, kSysName, 6, -1}, {1, kSysName, 5000, -1},
      {0, kSysName, 6, -1},   {-1, kSysName, 6, -1},  {1, "1.3.6.x", 6, -1},
      {1, "1", 6, -1},        {1, nullptr, 6, -1},
  };
  for (const auto& row : rows) {
    const std::string community(row.community, 'c');
    unsigned char out[2048];
    EXPECT_EQ(CNetIO::BuildGetRequestFor(row.count, row.oid, community.c_str(), out), row.size)
        << row.count << " x " << (row.oid ? row.oid : "null") << ", community of "
        << row.community;
  }
  EXPECT_EQ(CNetIO::BuildGetRequestFor(1, kSysName, "public", nullptr), -1);
}

TEST(BuildStatusRequest, The51OctetsAndTheirLimits) {
  const Bytes status = Hex("30 31 02 01 00 04 06 70 75 62 6C 69 63 A0 24 02 01 00 02 01 00"
                           "02 01 00 30 19 30 17 06 13 2B 06 01 04 01 82 BE 0F 86 76 82 2C"
                           "82 71 C2 53 01 01 00 05 00");
  EXPECT_EQ(Build(1, kDeviceId, "public"), status);
  unsigned char out[256];
  for (const char* community : {"public", static_cast<const char*>(nullptr)}) {
    ASSERT_EQ(netio::BuildStatusRequest(community, out, sizeof out), 51);
    EXPECT_EQ(Bytes(out, out + 51), status);
  }
  for (size_t c : {0, 84}) {
    const std::string community(c, 'k');
    const int n = netio::BuildStatusRequest(community.c_str(), out, sizeof out);
    EXPECT_EQ(Bytes(out, out + (n > 0 ? n : 0)), Request(community, kDeviceIdOid)) << c;
  }
  EXPECT_EQ(netio::BuildStatusRequest(std::string(85, 'k').c_str(), out, sizeof out), -1);
  EXPECT_EQ(netio::BuildStatusRequest("public", out, 50), -1);
}

}  // namespace
