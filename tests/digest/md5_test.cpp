#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "digest/cMD5.h"

namespace {

std::string Hex(const uint8_t *p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; i++) s += {digits[p[i] >> 4], digits[p[i] & 15]};
  return s;
}

const uint8_t *Octets(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

std::string DigestWhole(const std::string &msg) {
  uint8_t d[16];
  MD5Init();
  MD5Update(Octets(msg), uint32_t(msg.size()));
  MD5Final(d);
  return Hex(d, 16);
}

// Feeds `msg` in pieces of `chunk` octets (the last may be shorter).
std::string DigestChunked(const std::string &msg, size_t chunk) {
  uint8_t d[16];
  MD5Init();
  for (size_t off = 0; off < msg.size(); off += chunk)
    MD5Update(Octets(msg) + off, uint32_t(std::min(chunk, msg.size() - off)));
  MD5Final(d);
  return Hex(d, 16);
}

struct Vector {
  std::string msg;
  const char *md5;
};

// RFC 1321 appendix A.5.
const Vector kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(MD5, Rfc1321SuiteWholeAndByteByByte) {
  for (const Vector &v : kRfc1321) {
    EXPECT_EQ(DigestWhole(v.msg), v.md5) << '"' << v.msg << '"';
    EXPECT_EQ(DigestChunked(v.msg, 1), v.md5) << '"' << v.msg << '"';
  }
}

// Around the padding boundaries: 55 octets leave room for the length in the
// last block, 56 do not, 64 fill a block exactly.
TEST(MD5, PaddingBoundaries) {
  const struct {
    size_t n;
    const char *md5;
  } cases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {120, "5f61c0ccad4cac44c75ff505e1f1e537"}, {128, "e510683b3f5ffe4093d021808bc6ff70"},
  };
  for (const auto &c : cases) {
    std::string msg(c.n, 'a');
    EXPECT_EQ(DigestWhole(msg), c.md5) << c.n;
    EXPECT_EQ(DigestChunked(msg, 1), c.md5) << c.n;
  }
}

// Every chunk size, so updates start and end at every offset in the block,
// including ones that complete a partial block and then hash whole blocks.
TEST(MD5, AnySplitGivesTheSameDigest) {
  std::string msg;
  for (int i = 0; i < 200; i++) msg += char(i % 251);
  for (size_t chunk = 1; chunk <= msg.size(); chunk++)
    ASSERT_EQ(DigestChunked(msg, chunk), "fb7001d34b8e82c9b579be5005d5b0a5") << chunk;
}

// Whole blocks are hashed from the caller's memory: misaligned input must do.
TEST(MD5, MisalignedWholeBlocks) {
  std::vector<uint8_t> buf(128 + 64 + 8, 0);
  for (size_t shift = 0; shift < 8; shift++) {
    uint8_t *p = buf.data() + shift;
    memset(p, 'a', 128);
    uint8_t d[16];
    MD5Init();
    MD5Update(p, 64);
    MD5Update(p + 64, 64);
    MD5Final(d);
    EXPECT_EQ(Hex(d, 16), "e510683b3f5ffe4093d021808bc6ff70") << shift;
  }
}

TEST(MD5, OneMiBInBlockSizedUpdates) {
  std::string block(64, 'x');
  uint8_t d[16];
  MD5Init();
  for (int i = 0; i < 16384; i++) MD5Update(Octets(block), 64);
  MD5Final(d);
  EXPECT_EQ(Hex(d, 16), "b561f87202d04959e37588ee05cf5b10");
}

TEST(MD5, FinalToStringIsUpperCaseHex) {
  const struct {
    const char *msg;
    const char *text;
  } cases[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
  };
  for (const auto &c : cases) {
    MD5Init();
    MD5Update(reinterpret_cast<const uint8_t *>(c.msg), uint32_t(strlen(c.msg)));
    EXPECT_STREQ(MD5FinalToString(), c.text);
  }
}

TEST(MD5, FinalWipesTheContext) {
  uint8_t d[16];
  MD5Init();
  MD5Update(reinterpret_cast<const uint8_t *>("secret"), 6);
  MD5Final(d);
  const MD5DigestContext &c = md5Context();
  const uint8_t *raw = reinterpret_cast<const uint8_t *>(&c);
  for (size_t i = 0; i < sizeof c; i++) ASSERT_EQ(raw[i], 0) << "octet " << i;
}

TEST(MD5, FreeBufferWithoutBufferLeavesDigestAlone) {
  md5cMD5();
  md5FreeBuffer();
  MD5Init();
  MD5Update(reinterpret_cast<const uint8_t *>("abc"), 3);
  md5FreeBuffer();
  EXPECT_STREQ(MD5FinalToString(), "900150983CD24FB0D6963F7D28E17F72");
}

// The compression function on its own: the padded block of the empty message
// from the initial chaining values gives the empty message's digest.
TEST(MD5, TransformOfPaddedEmptyMessage) {
  uint32_t state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
  uint32_t words[16] = {0x80};
  MD5Transform(state, words);
  uint8_t d[16];
  memcpy(d, state, 16);
  md5byteReverse(d, 4);
  EXPECT_EQ(Hex(d, 16), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
