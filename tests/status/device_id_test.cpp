#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "status/TavraCmd.h"

namespace {

PRINTER_STATUS SampleRecord() {
  PRINTER_STATUS s;
  auto* b = reinterpret_cast<unsigned char*>(&s);
  for (size_t i = 0; i < sizeof s; ++i) b[i] = static_cast<unsigned char>(i * 37 + 0x4B);
  return s;
}

std::string Base64Of(const void* bytes, size_t n) {
  char text[512];
  EXPECT_EQ(1, base64_encode(static_cast<const unsigned char*>(bytes), static_cast<unsigned>(n),
                             text, sizeof text));
  return text;
}

const PRINTER_STATUS kRecord = SampleRecord();
const std::string kField = Base64Of(&kRecord, sizeof kRecord);

struct Case {
  std::string name;
  std::string deviceId;
  int result;
  size_t bytesFilled;  // leading bytes of the record that must match kRecord
};

TEST(DeviceId, FieldIs144CharactersWithoutPadding) {
  EXPECT_EQ(144u, kField.size());
  EXPECT_EQ(std::string::npos, kField.find('='));
}

TEST(DeviceId, DecodeTable) {
  const Case cases[] = {
      {"last key", "MFG:Acme;CMD:PCL;STS:" + kField + ";", 0, 108},
      {"newline after", "MFG:Acme;STS:" + kField + ";\n", 0, 108},
      {"CRLF after", "MFG:Acme;STS:" + kField + ";\r\n", 0, 108},
      {"separators inside", "STS:" + kField.substr(0, 70) + " \n;" + kField.substr(70) + ";", 0,
       108},
      {"key after the field", "MFG:Acme;STS:" + kField + ";MDL:X;", -1, 108},
      {"one stray letter after the field", "STS:" + kField + ";1", 0, 108},
      {"two stray letters after the field", "STS:" + kField + ";12", -1, 108},
      {"padding after the field", "STS:" + kField + "=;MDL:X;", 0, 108},
      {"140 characters", "MFG:Acme;STS:" + kField.substr(0, 140) + ";", -1, 105},
      {"lower-case key", "MFG:Acme;sts:" + kField + ";", -1, 0},
      {"one letter before the key", "XSTS:" + kField, 0, 108},
      {"key inside another value", "CMD:STS:" + kField + ";", 0, 108},
      {"first of two keys", "STS:" + kField.substr(0, 8) + ";STS:" + kField + ";", -1, 6},
      {"no key", "MFG:Acme;CMD:PCL;MDL:Laser;" + kField, -1, 0},
      {"key at the end", "MFG:Acme;STS:", -1, 0},
      {"partial key", "MFG:Acme;STS", -1, 0},
  };
  for (const auto& c : cases) {
    PRINTER_STATUS out;
    memset(&out, 0, sizeof out);
    EXPECT_EQ(c.result, DecodStatusFromDeviceID(c.deviceId.c_str(), &out)) << c.name;
    EXPECT_EQ(0, memcmp(&out, &kRecord, c.bytesFilled)) << c.name;
    CTavraCmd cmd;
    std::string writable = c.deviceId;
    PRINTER_STATUS viaMember;
    memset(&viaMember, 0, sizeof viaMember);
    EXPECT_EQ(c.result, cmd.DecodStatusFromDeviceID(writable.data(), &viaMember)) << c.name;
    EXPECT_EQ(0, memcmp(&out, &viaMember, sizeof out)) << c.name;
  }
}

TEST(DeviceId, RefusesMissingInputsWithoutTouchingTheRecord) {
  PRINTER_STATUS out;
  memset(&out, 0x5A, sizeof out);
  PRINTER_STATUS untouched = out;
  std::string id = "STS:" + kField;
  EXPECT_EQ(-1, DecodStatusFromDeviceID("", &out));
  EXPECT_EQ(-1, DecodStatusFromDeviceID(nullptr, &out));
  EXPECT_EQ(-1, DecodStatusFromDeviceID(id.c_str(), nullptr));
  EXPECT_EQ(0, memcmp(&out, &untouched, sizeof out));
}

// Every prefix in a heap buffer of exactly its size: a read past the
// terminator is an ASan report. Only prefixes holding the whole field decode.
TEST(DeviceId, EveryPrefixStaysInItsBuffer) {
  const std::string id = "MFG:Acme;CMD:PCL;STS:" + kField + ";";
  const size_t whole = id.size() - 1;
  for (size_t n = 0; n <= id.size(); ++n) {
    auto buf = std::make_unique<char[]>(n + 1);
    memcpy(buf.get(), id.data(), n);
    buf[n] = '\0';
    PRINTER_STATUS out;
    EXPECT_EQ(n >= whole ? 0 : -1, DecodStatusFromDeviceID(buf.get(), &out)) << n;
  }
}

}  // namespace
