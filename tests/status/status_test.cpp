// The base64 codec and the device ID's "STS:" field decoded into the 108-byte record.
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
  const std::pair<std::string, std::string> rows[] = {{"", ""},
                                                      {"f", "Zg=="},
                                                      {"fo", "Zm8="},
                                                      {"foo", "Zm9v"},
                                                      {"foob", "Zm9vYg=="},
                                                      {"fooba", "Zm9vYmE="},
                                                      {"foobar", "Zm9vYmFy"}};
  for (const auto& [bytes, text] : rows) {
    std::vector<char> encoded(text.size() + 1);
    EXPECT_EQ(1, base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                               unsigned(bytes.size()), encoded.data(), unsigned(encoded.size())));
    EXPECT_EQ(text, encoded.data());
    std::vector<unsigned char> out(64);
    const int n = base64_decode(text.c_str(), out.data(), 64);
    EXPECT_EQ(bytes, std::string(out.begin(), out.begin() + std::max(n, 0))) << text;
  }
}

TEST(Base64, DecodeTable) {
  // text, capacity, result, what the target holds afterwards (also on -1)
  const std::tuple<const char*, unsigned, int, const char*> rows[] = {
      // Separators and URL-safe letters are skipped; a text stopping mid-group reads as padded.
      {"\x80Zm9v\r\n\xff-_.YmFy", 64, 6, "foobar"},
      {"YWI", 64, 2, "ab"},
      {"+/+/", 64, 3, "\xfb\xff\xbf"},
      // Decoding stops after the first short group, and quietly at a malformed one.
      {"YQ==Zm9v", 64, 1, "a"},
      {"YWJjYW=j", 64, 3, "abc"},
      // A group that does not fit fails the call; earlier ones stay.
      {"YWJjYWJj", 4, -1, "abc"},
      {"YWJj", 3, 3, "abc"}};
  for (const auto& [text, capacity, result, bytes] : rows) {
    const size_t size = strlen(text) + 1;  // exactly sized: no read past the terminator
    auto exact = std::make_unique<char[]>(size);
    memcpy(exact.get(), text, size);
    std::vector<unsigned char> out(capacity + 1, 0xA5);
    EXPECT_EQ(result, base64_decode(exact.get(), out.data(), capacity)) << text;
    EXPECT_EQ(bytes + std::string(capacity + 1 - strlen(bytes), '\xA5'),
              std::string(out.begin(), out.end()))
        << text;
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
      {"MFG:Acme;CMD:PCL;STS:" + f + ";", 0, 108},
      {"STS:" + cut + ";", 0, 108},
      {"STS:" + f + ";1", 0, 108},
      {"STS:" + f + ";12", -1, 108},
      {"MFG:Acme;STS:" + f.substr(0, 140) + ";", -1, 105},
      {"MFG:Acme;sts:" + f + ";", -1, 0},
      {"CMD:STS;STS:" + f, 0, 108},
      {"STS:" + f.substr(0, 8) + ";STS:" + f + ";", -1, 6}};
  for (const auto& [id, result, filled] : rows) {
    PRINTER_STATUS out{};
    EXPECT_EQ(result, DecodStatusFromDeviceID(id.c_str(), &out)) << id;
    EXPECT_EQ(0, memcmp(&out, &record, filled)) << id;
  }
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
