// The device ID's "STS:" field decoded into the 108-byte status record.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "status/TavraCmd.h"
#include "tests/netio/MessageProperties.h"

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

TEST(DeviceId, DecodeTable) {
  const struct {
    std::string name;
    std::string deviceId;
    int result;
    size_t bytesFilled;  // leading bytes of the record that must match kRecord
  } rows[] = {
      {"last key", "MFG:Acme;CMD:PCL;STS:" + kField + ";", 0, 108},
      {"newline after", "MFG:Acme;STS:" + kField + ";\n", 0, 108},
      {"separators inside", "STS:" + kField.substr(0, 70) + " \r\n;" + kField.substr(70) + ";", 0,
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
      {"key without its colon before the key", "CMD:STS;STS:" + kField, 0, 108},
  };
  for (const auto& row : rows) {
    PRINTER_STATUS out;
    memset(&out, 0, sizeof out);
    EXPECT_EQ(row.result, DecodStatusFromDeviceID(row.deviceId.c_str(), &out)) << row.name;
    EXPECT_EQ(0, memcmp(&out, &kRecord, row.bytesFilled)) << row.name;
    CTavraCmd cmd;
    std::string writable = row.deviceId;
    PRINTER_STATUS viaMember;
    memset(&viaMember, 0, sizeof viaMember);
    EXPECT_EQ(row.result, cmd.DecodStatusFromDeviceID(writable.data(), &viaMember)) << row.name;
    EXPECT_EQ(0, memcmp(&out, &viaMember, sizeof out)) << row.name;
  }
}

TEST(DeviceId, RefusesMissingInputsWithoutTouchingTheRecord) {
  PRINTER_STATUS out;
  memset(&out, 0x5A, sizeof out);
  const PRINTER_STATUS untouched = out;
  const std::string id = "STS:" + kField;
  EXPECT_EQ(-1, DecodStatusFromDeviceID("", &out));
  EXPECT_EQ(-1, DecodStatusFromDeviceID(nullptr, &out));
  EXPECT_EQ(-1, DecodStatusFromDeviceID(id.c_str(), nullptr));
  EXPECT_EQ(0, memcmp(&out, &untouched, sizeof out));
}

// The text and its terminator exactly sized on the heap: a read past the
// terminator is an ASan report.
TEST(DeviceId, EveryPrefixIsRefused) {
  const std::string id = "MFG:Acme;CMD:PCL;STS:" + kField;
  msgprop::ExpectEveryPrefixRefused(
      msgprop::Bytes(id.begin(), id.end()),
      [](uint8_t* data, size_t size) -> std::optional<std::string> {
        auto text = std::make_unique<char[]>(size + 1);
        memcpy(text.get(), data, size);
        text[size] = '\0';
        PRINTER_STATUS out;
        if (DecodStatusFromDeviceID(text.get(), &out) != 0) return std::nullopt;
        return std::string(reinterpret_cast<const char*>(&out), sizeof out);
      });
}

}  // namespace
