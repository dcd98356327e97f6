// BER primitives: definite lengths both ways, integer contents, byte order,
// OID contents, and the bounded reader and writer under them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "netio/BerReader.h"
#include "netio/BerWriter.h"
#include "netio/NetIO.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(Ber, LengthEncoding) {
  const struct {
    uint32_t length;
    Bytes octets;
  } rows[] = {
      {0, {0x00}},
      {127, {0x7F}},
      {128, {0x81, 0x80}},
      {255, {0x81, 0xFF}},
      {256, {0x82, 0x01, 0x00}},
      {65535, {0x82, 0xFF, 0xFF}},
      {65536, {0x83, 0x01, 0x00, 0x00}},
      {16777216, {0x84, 0x01, 0x00, 0x00, 0x00}},
      {4294967295u, {0x84, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& row : rows) {
    unsigned char buf[16];
    memset(buf, 0xEE, sizeof buf);
    unsigned char* front = CNetIO::berEncodeLength(buf + 8, row.length);
    EXPECT_EQ(Bytes(front, buf + 8), row.octets) << row.length;
    EXPECT_EQ(buf[8], 0xEE) << "wrote past the end for " << row.length;
    EXPECT_EQ(front[-1], 0xEE) << "wrote before the front for " << row.length;
  }
}

TEST(Ber, LengthDecoding) {
  const struct {
    Bytes octets;
    int length;
    int consumed;  // -1: refused
  } rows[] = {
      {{0x00}, 0, 1},
      {{0x7F}, 127, 1},
      {{0x80}, 0, 1},  // the lone 80
      {{0x81, 0x80}, 128, 2},
      {{0x81, 0x05}, 5, 2},  // not minimal, still read
      {{0x82, 0x01, 0x00}, 256, 3},
      {{0x83, 0x01, 0x00, 0x00}, 65536, 4},
      {{0x84, 0x7F, 0xFF, 0xFF, 0xFF}, 2147483647, 5},
      {{0x84, 0x80, 0x00, 0x00, 0x00}, 0, -1},  // 2^31 does not fit an int
      {{0x85, 0x00, 0x00, 0x00, 0x00, 0x01}, 0, -1},  // more than 32 bits of length
      {{0xFF, 0x00}, 0, -1},
  };
  for (const auto& row : rows) {
    Bytes in = row.octets;
    int length = -7;
    unsigned char* next = CNetIO::parseLength(in.data(), &length);
    const std::string what = testing::PrintToString(row.octets);
    if (row.consumed < 0) {
      EXPECT_EQ(next, nullptr) << what;
    } else {
      EXPECT_EQ(next - in.data(), row.consumed) << what;
      EXPECT_EQ(length, row.length) << what;
    }
  }
}

// An element whose length reaches past its container is refused, not clamped.
TEST(Ber, ReaderRefusesLengthsPastItsEnd) {
  const Bytes rows[] = {
      {0x04, 0x02, 0x41},                                // contents one short
      {0x04, 0x82, 0x01},                                // length octets cut
      {0x04},                                            // no length at all
      {0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x41},        // 4 GB claimed
      {0x04, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0x41},  // a fifth length octet
  };
  for (const auto& bytes : rows) {
    netio::BerReader r(bytes.data(), bytes.size());
    netio::BerReader contents;
    EXPECT_FALSE(r.Element(0x04, &contents)) << testing::PrintToString(bytes);
  }
  const Bytes inner = {0x30, 0x03, 0x04, 0x02, 0x41, 0x42};
  netio::BerReader outer(inner.data(), inner.size()), sequence, contents;
  ASSERT_TRUE(outer.Element(0x30, &sequence));
  EXPECT_FALSE(sequence.Element(0x04, &contents)) << "past the SEQUENCE, inside the buffer";
}

TEST(Ber, WriterStopsAtItsStart) {
  unsigned char area[4];
  netio::BerWriter w(area, sizeof area);
  EXPECT_TRUE(w.Bytes("ab", 2));
  EXPECT_FALSE(w.Length(300));  // needs three octets, two left
  EXPECT_EQ(w.size(), 2u);
  EXPECT_TRUE(w.Header(0x04, 2));
  EXPECT_EQ(Bytes(w.front(), area + 4), (Bytes{0x04, 0x02, 'a', 'b'}));
  EXPECT_FALSE(w.Byte(0x30));
  EXPECT_FALSE(w.ShortHeader(0x30, 128));
}

TEST(Ber, ReadIntValueAndByteOrder) {
  const struct {
    Bytes octets;
    int length;
    uint32_t value;
  } rows[] = {
      {{0x01, 0x00}, 2, 256},
      {{0xFF}, 1, 255},
      {{0x01, 0x02, 0x03, 0x04, 0x05}, 5, 0x02030405},
      {{0x80, 0x00, 0x00, 0x00}, 4, 0x80000000u},
      {{0x12}, 0, 0},
      {{0x12}, -3, 0},
  };
  for (const auto& row : rows)
    EXPECT_EQ(readIntValue(row.octets.data(), row.length), row.value)
        << testing::PrintToString(row.octets);
  const uint16_t port = FLIPWORD(0x1234);
  const uint32_t dword = FLIPDWORD(0x12345678);
  EXPECT_EQ(Bytes(reinterpret_cast<const unsigned char*>(&port),
                  reinterpret_cast<const unsigned char*>(&port) + 2),
            (Bytes{0x12, 0x34}));
  EXPECT_EQ(Bytes(reinterpret_cast<const unsigned char*>(&dword),
                  reinterpret_cast<const unsigned char*>(&dword) + 4),
            (Bytes{0x12, 0x34, 0x56, 0x78}));
}

TEST(Ber, OidEncoding) {
  const struct {
    const char* text;
    Bytes contents;
  } rows[] = {
      {"1.3.6.1.2.1.1.5.0", {0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00}},
      {"1.3.6.1.4.1.40719.886.300.369.8531.1.1.0",
       {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0xBE, 0x0F, 0x86, 0x76, 0x82, 0x2C, 0x82, 0x71, 0xC2,
        0x53, 0x01, 0x01, 0x00}},
      {"1.3.127", {0x2B, 0x7F}},
      {"1.3.128", {0x2B, 0x81, 0x00}},
      {"1.3.16383", {0x2B, 0xFF, 0x7F}},
      {"1.3.16384", {0x2B, 0x81, 0x80, 0x00}},
      {"1.3.4294967295", {0x2B, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
      {"1.3", {0x2B}},
      {"2.47", {0x7F}},  // the largest first pair one octet holds
      {"0.0", {0x00}},
      {"1.3.00042", {0x2B, 0x2A}},
  };
  for (const auto& row : rows) {
    unsigned char out[64];
    memset(out, 0xEE, sizeof out);
    const int n = CNetIO::oidEncode(row.text, out);
    ASSERT_EQ(n, static_cast<int>(row.contents.size())) << row.text;
    EXPECT_EQ(Bytes(out, out + n), row.contents) << row.text;
    EXPECT_EQ(out[n], 0xEE) << row.text;
  }
}

TEST(Ber, OidEncodingRefusesTextsOutsideTheContract) {
  std::string exactly127 = "1.3";
  for (int i = 0; i < 62; ++i) exactly127 += ".1";
  const std::string rows[] = {
      "1.3.a", "1.3.-1", "1.3. 6", " 1.3", "1.3.6 ", "",  "1", "42", ".1.3", "1.3.",
      "1..3", "1.3..6", "3.8", "2.48", "1.3.4294967296", "1.3.99999999999999999999",
      "4294967296.1", exactly127 + "0", "1.3.6\n",
  };
  for (const auto& text : rows) {
    unsigned char out[64];
    memset(out, 0xEE, sizeof out);
    EXPECT_EQ(CNetIO::oidEncode(text.c_str(), out), 0) << '"' << text << '"';
    EXPECT_EQ(out[0], 0xEE) << "wrote for \"" << text << '"';
  }
  unsigned char out[64];
  EXPECT_GT(CNetIO::oidEncode(exactly127.c_str(), out), 0) << exactly127;
  EXPECT_EQ(CNetIO::oidEncode(nullptr, out), -1);
  EXPECT_EQ(CNetIO::oidEncode("1.3.6", nullptr), -1);
}

}  // namespace
