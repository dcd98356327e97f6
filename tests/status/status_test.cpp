// The base64 codec (RFC 4648 vectors, separators, short and malformed groups,
// capacities) and the device ID's "STS:" field decoded into the 108-byte record.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "status/TavraCmd.h"
#include "tests/netio/MessageProperties.h"

namespace {

TEST(Base64, VectorsBothWaysAndExactTargets) {
  std::string all;  // every character of the alphabet in its place
  for (int i = 0; i < 64; i += 4) {  // the 6-bit values i .. i + 3 in three octets
    const int v = i << 18 | (i + 1) << 12 | (i + 2) << 6 | (i + 3);
    all += {char(v >> 16), char(v >> 8), char(v)};
  }
  const std::pair<std::string, std::string> rows[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xff\xff", "//8="}, {"\xff", "/w=="},
      {all, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"}};
  for (const auto& [bytes, text] : rows) {
    std::vector<char> encoded(text.size() + 1);
    EXPECT_EQ(1, base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                               unsigned(bytes.size()), encoded.data(), unsigned(encoded.size())));
    EXPECT_EQ(text, encoded.data());
    std::vector<unsigned char> out(64);
    const int n = base64_decode(text.c_str(), out.data(), 64);
    EXPECT_EQ(bytes, std::string(out.begin(), out.begin() + std::max(n, 0))) << text;
  }
  // Every target below the needed size is refused untouched; an exact one is not overrun.
  const unsigned char src[] = {0xde, 0xad, 0xbe, 0xef, 0x00};
  for (unsigned n = 0; n <= sizeof src; ++n) {
    const unsigned needed = 4 * ((n + 2) / 3) + 1;
    for (unsigned size = 0; size <= needed; ++size) {
      auto target = std::make_unique<char[]>(size + 1);
      memset(target.get(), 'Z', size + 1);
      EXPECT_EQ(size == needed, base64_encode(src, n, target.get(), size)) << n << " " << size;
      EXPECT_EQ(size == needed ? needed - 1 : size + 1, strnlen(target.get(), size + 1)) << n;
    }
  }
}

TEST(Base64, DecodeTable) {
  // text, capacity, result, what the target holds afterwards (also on -1)
  const std::tuple<const char*, unsigned, int, const char*> rows[] = {
      // Separators and URL-safe letters are skipped; a text stopping mid-group reads as padded.
      {"Zm9v YmFy", 64, 6, "foobar"}, {"Zm9v\r\nYmFy\n", 64, 6, "foobar"},
      {";Z;m;9;v;Y;m;F;y;", 64, 6, "foobar"}, {"\x80Zm9v\xff-_.YmFy", 64, 6, "foobar"},
      {"YQ", 64, 1, "a"}, {"YWI", 64, 2, "ab"}, {"Y", 64, 0, ""}, {"", 64, 0, ""},
      // Decoding stops after the first short group, and quietly at a malformed one.
      {"YQ==Zm9v", 64, 1, "a"}, {"YWI=YWJj", 64, 2, "ab"}, {"Y===", 64, 0, ""},
      {"====", 64, 0, ""}, {"YW=j", 64, 0, ""}, {"YWJjYW=j", 64, 3, "abc"}, {"=YWJ", 64, 0, ""},
      {"Y=Q=", 64, 0, ""}, {"A==A", 64, 0, ""}, {"YWJj=WJj", 64, 3, "abc"},
      // A group that does not fit fails the call; earlier ones stay.
      {"YWJj", 2, -1, ""}, {"YWJjYWJj", 4, -1, "abc"}, {"YWJj", 3, 3, "abc"},
      {"YWI=", 2, 2, "ab"}, {"YWI=", 1, -1, ""}, {"YWJjYQ==", 3, -1, "abc"},
      {"YWJj====", 3, 3, "abc"}, {"YWJj", 0, -1, ""}, {"====", 0, 0, ""},
  };
  for (const auto& [text, capacity, result, bytes] : rows) {
    const size_t size = strlen(text) + 1;  // exactly sized: no read past the terminator
    auto exact = std::make_unique<char[]>(size);
    memcpy(exact.get(), text, size);
    std::vector<unsigned char> out(capacity + 1, 0xA5);
    EXPECT_EQ(result, base64_decode(exact.get(), out.data(), capacity)) << text;
    EXPECT_EQ(bytes + std::string(capacity + 1 - strlen(bytes), '\xA5'),
              std::string(out.begin(), out.end())) << text;
  }
}

TEST(DeviceId, DecodeTable) {
  PRINTER_STATUS record;
  auto* b = reinterpret_cast<unsigned char*>(&record);
  for (size_t i = 0; i < sizeof record; ++i) b[i] = static_cast<unsigned char>(i * 37 + 0x4B);
  char text[145];
  ASSERT_EQ(1, base64_encode(b, sizeof record, text, sizeof text));
  const std::string f = text, cut = f.substr(0, 70) + " \r\n;" + f.substr(70);
  // device ID, result, leading bytes of the record that must match
  const std::tuple<std::string, int, size_t> rows[] = {
      {"MFG:Acme;CMD:PCL;STS:" + f + ";", 0, 108}, {"MFG:Acme;STS:" + f + ";\n", 0, 108},
      {"STS:" + cut + ";", 0, 108}, {"MFG:Acme;STS:" + f + ";MDL:X;", -1, 108},
      {"STS:" + f + ";1", 0, 108}, {"STS:" + f + ";12", -1, 108}, {"STS:" + f + "=;MDL:X;", 0, 108},
      {"MFG:Acme;STS:" + f.substr(0, 140) + ";", -1, 105}, {"MFG:Acme;sts:" + f + ";", -1, 0},
      {"XSTS:" + f, 0, 108}, {"CMD:STS:" + f + ";", 0, 108}, {"CMD:STS;STS:" + f, 0, 108},
      {"STS:" + f.substr(0, 8) + ";STS:" + f + ";", -1, 6}, {"MFG:Acme;MDL:Laser;" + f, -1, 0},
      {"MFG:Acme;STS:", -1, 0}, {"MFG:Acme;STS", -1, 0}, {"", -1, 0}};
  for (const auto& [id, result, filled] : rows) {
    PRINTER_STATUS out{};
    EXPECT_EQ(result, DecodStatusFromDeviceID(id.c_str(), &out)) << id;
    EXPECT_EQ(0, memcmp(&out, &record, filled)) << id;
  }
  PRINTER_STATUS out;
  EXPECT_EQ(-1, DecodStatusFromDeviceID(nullptr, &out));
  EXPECT_EQ(-1, DecodStatusFromDeviceID(("STS:" + f).c_str(), nullptr));
  const std::string id = "MFG:Acme;CMD:PCL;STS:" + f;
  msgprop::ExpectEveryPrefixRefused(msgprop::Bytes(id.begin(), id.end()), [](uint8_t* p, size_t n) {
    auto copy = std::make_unique<char[]>(n + 1);  // exactly sized with its terminator
    memcpy(copy.get(), p, n);
    copy[n] = '\0';
    PRINTER_STATUS s;
    return DecodStatusFromDeviceID(copy.get(), &s) ? std::nullopt : std::optional<std::string>("");
  });
}

}  // namespace
