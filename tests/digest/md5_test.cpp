// MD5 against RFC 1321 and lengths around the padding, fed whole, octet by
// octet and in every split; the context wiped after use.
#include <gtest/gtest.h>

#include <algorithm>
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

// `msg` in pieces of `chunk` octets (the last may be shorter), from `at`
// octets into a buffer, so whole blocks are hashed at every alignment.
std::string Digest(const std::string &msg, size_t chunk, size_t at = 0) {
  std::vector<uint8_t> buf(at + msg.size() + 1);
  std::copy(msg.begin(), msg.end(), buf.begin() + long(at));
  MD5Init();
  for (size_t off = 0; off < msg.size(); off += chunk)
    MD5Update(buf.data() + at + off, uint32_t(std::min(chunk, msg.size() - off)));
  uint8_t d[16];
  MD5Final(d);
  return Hex(d, 16);
}

TEST(MD5, Rfc1321AndPaddingBoundariesWholeAndOctetByOctet) {
  const struct {
    std::string msg;
    const char *md5;
  } rows[] = {
      // RFC 1321 appendix A.5.
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      // 55 octets leave room for the length in the last block, 56 do not, 64 fill it.
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
      {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(Digest(row.msg, std::max<size_t>(row.msg.size(), 1)), row.md5) << row.msg.size();
    EXPECT_EQ(Digest(row.msg, 1), row.md5) << row.msg.size();
  }
  MD5Init();
  MD5Update(reinterpret_cast<const uint8_t *>("abc"), 3);
  EXPECT_STREQ(MD5FinalToString(), "900150983CD24FB0D6963F7D28E17F72");
}

// Updates start and end at every offset in the block, completing a partial
// block and then hashing whole ones from misaligned memory.
TEST(MD5, AnySplitAtAnyAlignmentGivesTheSameDigest) {
  std::string msg;
  for (int i = 0; i < 200; i++) msg += char(i % 251);
  for (size_t chunk = 1; chunk <= msg.size(); chunk++)
    ASSERT_EQ(Digest(msg, chunk, chunk % 8), "fb7001d34b8e82c9b579be5005d5b0a5") << chunk;
}

TEST(MD5, FinalWipesTheContext) {
  uint8_t d[16];
  md5cMD5();
  MD5Init();
  MD5Update(reinterpret_cast<const uint8_t *>("secret"), 6);
  md5FreeBuffer();
  MD5Final(d);
  const MD5DigestContext &c = md5Context();
  const uint8_t *raw = reinterpret_cast<const uint8_t *>(&c);
  EXPECT_EQ(std::vector<uint8_t>(raw, raw + sizeof c), std::vector<uint8_t>(sizeof c, 0));
  EXPECT_EQ(Hex(d, 16), "5ebe2294ecd0e0f08eab7690d2a6ee69") << "unchanged by md5FreeBuffer";
}

// The compression function alone: the padded block of the empty message from
// the initial chaining values gives the empty message's digest.
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
