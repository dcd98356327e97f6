#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
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

struct Decoded {
  int result;
  std::string bytes;
};

Decoded Decode(const std::string& text, unsigned capacity = 64) {
  std::vector<unsigned char> out(capacity);
  int r = base64_decode(text.c_str(), out.data(), capacity);
  return {r, std::string(out.begin(), out.begin() + (r > 0 ? r : 0))};
}

struct Vector {
  const char* bytes;
  const char* text;
};

// RFC 4648, section 10, and the codec's own cases.
const Vector kVectors[] = {
    {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"},
    {"ab", "YWI="},   {"a", "YQ=="},
};

TEST(Base64, EncodesRfcVectors) {
  for (const auto& v : kVectors) EXPECT_EQ(v.text, Encode(v.bytes)) << v.bytes;
}

TEST(Base64, DecodesRfcVectors) {
  for (const auto& v : kVectors) {
    Decoded d = Decode(v.text);
    EXPECT_EQ(static_cast<int>(strlen(v.bytes)), d.result) << v.text;
    EXPECT_EQ(v.bytes, d.bytes) << v.text;
  }
}

TEST(Base64, EncoderRefusesEveryTargetBelowTheNeededSize) {
  const unsigned char src[] = {0xde, 0xad, 0xbe, 0xef, 0x00};
  for (unsigned n = 0; n <= sizeof src; ++n) {
    unsigned needed = 4 * ((n + 2) / 3) + 1;
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

TEST(Base64, EncodingNothingWritesOnlyTheTerminator) {
  char target[1] = {'Z'};
  EXPECT_EQ(1, base64_encode(reinterpret_cast<const unsigned char*>(""), 0, target, 1));
  EXPECT_EQ('\0', target[0]);
}

struct DecodeCase {
  const char* text;
  unsigned capacity;
  int result;
  const char* bytes;  // what the target holds afterwards, also on -1
};

const DecodeCase kDecodeCases[] = {
    // Separators are skipped wherever they stand.
    {"Zm9v YmFy", 64, 6, "foobar"},
    {"Zm9v\r\nYmFy\n", 64, 6, "foobar"},
    {";Z;m;9;v;Y;m;F;y;", 64, 6, "foobar"},
    {"\x80Zm9v\xffYmFy", 64, 6, "foobar"},
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

TEST(Base64, DecodeTable) {
  for (const auto& c : kDecodeCases) {
    std::vector<unsigned char> out(c.capacity + 1, 0xA5);
    int r = base64_decode(c.text, out.data(), c.capacity);
    EXPECT_EQ(c.result, r) << c.text;
    size_t n = strlen(c.bytes);
    EXPECT_EQ(std::string(c.bytes), std::string(out.begin(), out.begin() + n)) << c.text;
    for (size_t i = n; i <= c.capacity; ++i) EXPECT_EQ(0xA5, out[i]) << c.text << " @" << i;
  }
}

TEST(Base64, CharValuesCoverEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char* at = b ? strchr(BASE64_CHARS, b) : nullptr;
    int expected = at ? static_cast<int>(at - BASE64_CHARS) : -1;
    EXPECT_EQ(expected, _base64_char_value(static_cast<char>(b))) << b;
  }
  EXPECT_EQ(64u, strlen(BASE64_CHARS));
}

struct GroupCase {
  const char* group;
  int count;
  std::vector<unsigned char> bytes;
};

TEST(Base64, DecodeTripleGroups) {
  const GroupCase cases[] = {
      {"////", 3, {0xff, 0xff, 0xff}}, {"AAAA", 3, {0, 0, 0}}, {"+/+/", 3, {0xfb, 0xff, 0xbf}},
      {"//8=", 2, {0xff, 0xff}},       {"/w==", 1, {0xff}},    {"/===", 0, {}},
      {"====", 0, {}},                 {"AA=A", 0, {}},        {"A=AA", 0, {}},
      {"=AAA", 0, {}},                 {"A==A", 0, {}},        {"AAA.", 0, {}},
      {"A.==", 0, {}},
  };
  for (const auto& c : cases) {
    unsigned char out[4] = {0xA5, 0xA5, 0xA5, 0xA5};
    EXPECT_EQ(c.count, _base64_decode_triple(c.group, out)) << c.group;
    EXPECT_EQ(c.bytes, std::vector<unsigned char>(out, out + c.count)) << c.group;
    EXPECT_EQ(0xA5, out[3]) << c.group;
  }
}

TEST(Base64, RoundTripsEveryLengthUpTo120) {
  std::mt19937 rng(7);
  for (size_t n = 0; n <= 120; ++n) {
    std::string bytes(n, '\0');
    for (auto& b : bytes) b = static_cast<char>(rng());
    Decoded d = Decode(Encode(bytes), 120);
    EXPECT_EQ(static_cast<int>(n), d.result);
    EXPECT_EQ(bytes, d.bytes);
  }
}

// Every prefix in a heap buffer of exactly its size: any read past the
// terminator is an ASan report.
TEST(Base64, DecodesEveryPrefixWithinItsBuffer) {
  const std::string text = "Zm9v YmFy\nYWJj;YWI=";
  for (size_t n = 0; n <= text.size(); ++n) {
    auto buf = std::make_unique<char[]>(n + 1);
    memcpy(buf.get(), text.data(), n);
    buf[n] = '\0';
    unsigned char out[16];
    int r = base64_decode(buf.get(), out, sizeof out);
    EXPECT_GE(r, 0) << n;
    EXPECT_LE(r, 11) << n;
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
