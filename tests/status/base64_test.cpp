// The base64 codec: RFC 4648 vectors and the whole alphabet both ways, the
// encoder's target sizes, and a decoder that skips separators, stops at the
// first short or malformed group and never stores past its capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "status/TavraCmd.h"

namespace {

std::string Encode(const std::string& bytes) {
  std::vector<char> out(4 * ((bytes.size() + 2) / 3) + 1);
  EXPECT_EQ(1, base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                             static_cast<unsigned>(bytes.size()), out.data(),
                             static_cast<unsigned>(out.size())));
  return out.data();
}

const struct {
  std::string bytes;
  const char* text;
} kVectors[] = {
    // RFC 4648, section 10.
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    // Every character of the alphabet in its place.
    {std::string("\x00\x10\x83\x10\x51\x87\x20\x92\x8b\x30\xd3\x8f\x41\x14\x93\x51\x55\x97\x61\x96"
                 "\x9b\x71\xd7\x9f\x82\x18\xa3\x92\x59\xa7\xa2\x9a\xab\xb2\xdb\xaf\xc3\x1c\xb3\xd3"
                 "\x5d\xb7\xe3\x9e\xbb\xf3\xdf\xbf",
                 48),
     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"},
    {"\xff\xff", "//8="},
    {"\xff", "/w=="},
};

TEST(Base64, VectorsBothWays) {
  for (const auto& v : kVectors) {
    EXPECT_EQ(v.text, Encode(v.bytes)) << v.text;
    std::vector<unsigned char> out(64);
    const int n = base64_decode(v.text, out.data(), 64);
    EXPECT_EQ(v.bytes, std::string(out.begin(), out.begin() + (n > 0 ? n : 0))) << v.text;
  }
}

TEST(Base64, EncoderRefusesEveryTargetBelowTheNeededSize) {
  const unsigned char src[] = {0xde, 0xad, 0xbe, 0xef, 0x00};
  for (unsigned n = 0; n <= sizeof src; ++n) {
    const unsigned needed = 4 * ((n + 2) / 3) + 1;
    for (unsigned size = 0; size < needed; ++size) {
      std::vector<char> target(size + 1, 'Z');
      EXPECT_EQ(0, base64_encode(src, n, target.data(), size)) << n << " " << size;
      EXPECT_EQ(std::string(size + 1, 'Z'), std::string(target.begin(), target.end()));
    }
    // Exactly sized on the heap: a write past it is an ASan report.
    auto exact = std::make_unique<char[]>(needed);
    EXPECT_EQ(1, base64_encode(src, n, exact.get(), needed));
    EXPECT_EQ(needed - 1, strlen(exact.get()));
  }
}

TEST(Base64, DecodeTable) {
  const struct {
    const char* text;
    unsigned capacity;
    int result;
    const char* bytes;  // what the target holds afterwards, also on -1
  } rows[] = {
      // Separators are skipped wherever they stand; so are URL-safe letters.
      {"Zm9v YmFy", 64, 6, "foobar"},
      {"Zm9v\r\nYmFy\n", 64, 6, "foobar"},
      {";Z;m;9;v;Y;m;F;y;", 64, 6, "foobar"},
      {"\x80Zm9v\xff-_.YmFy", 64, 6, "foobar"},
      // A text that stops mid-group decodes as if padded.
      {"YQ", 64, 1, "a"},
      {"YWI", 64, 2, "ab"},
      {"Y", 64, 0, ""},
      {"", 64, 0, ""},
      // Decoding stops after the first short group.
      {"YQ==Zm9v", 64, 1, "a"},
      {"YWI=YWJj", 64, 2, "ab"},
      {"Y===", 64, 0, ""},
      {"====", 64, 0, ""},
      // Malformed groups end the decoding quietly.
      {"YW=j", 64, 0, ""},
      {"YWJjYW=j", 64, 3, "abc"},
      {"=YWJ", 64, 0, ""},
      {"Y=Q=", 64, 0, ""},
      {"A==A", 64, 0, ""},
      {"YWJj=WJj", 64, 3, "abc"},
      // Capacity: a group that does not fit fails the call; earlier ones stay.
      {"YWJj", 2, -1, ""},
      {"YWJjYWJj", 4, -1, "abc"},
      {"YWJj", 3, 3, "abc"},
      {"YWI=", 2, 2, "ab"},
      {"YWI=", 1, -1, ""},
      {"YWJjYQ==", 3, -1, "abc"},
      {"YWJj====", 3, 3, "abc"},
      {"YWJj", 0, -1, ""},
      {"====", 0, 0, ""},
  };
  for (const auto& row : rows) {
    // The text exactly sized on the heap: a read past its terminator is an ASan report.
    const size_t size = strlen(row.text) + 1;
    auto text = std::make_unique<char[]>(size);
    memcpy(text.get(), row.text, size);
    std::vector<unsigned char> out(row.capacity + 1, 0xA5);
    EXPECT_EQ(row.result, base64_decode(text.get(), out.data(), row.capacity)) << row.text;
    const size_t n = strlen(row.bytes);
    EXPECT_EQ(std::string(row.bytes), std::string(out.begin(), out.begin() + long(n))) << row.text;
    for (size_t i = n; i <= row.capacity; ++i) EXPECT_EQ(0xA5, out[i]) << row.text << " @" << i;
  }
}

TEST(Base64, Big2LittleEndianGivesTheLittleEndianValue) {
  const unsigned char wire[4] = {0x01, 0x02, 0x03, 0x04};
  uint32_t v;
  memcpy(&v, wire, sizeof v);
  Big2LittleEndian(&v);
  EXPECT_EQ(0x04030201u, v);
}

}  // namespace
