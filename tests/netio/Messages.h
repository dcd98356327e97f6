// The tests' one message encoder, front to back, so the client's back-to-front builders and its
// readers are checked against something other than each other.
#pragma once

#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testmsg {

using Bytes = std::vector<unsigned char>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Minimal definite length.
inline Bytes Length(size_t n) {
  if (n < 0x80) return {uint8_t(n)};
  Bytes octets;
  for (size_t m = n; m; m >>= 8) octets.insert(octets.begin(), uint8_t(m));
  octets.insert(octets.begin(), uint8_t(0x80 | octets.size()));
  return octets;
}

inline Bytes Tlv(unsigned char tag, const Bytes& contents) {
  return Cat({{tag}, Length(contents.size()), contents});
}
// A header whose length says `declared`, whatever follows.
inline Bytes Lying(unsigned char tag, size_t declared, const Bytes& contents) {
  return Cat({{tag}, Length(declared), contents});
}
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Octets from hex digits; anything else (spaces) is skipped.
inline Bytes Hex(const std::string& text) {
  Bytes out;
  std::string digits;
  for (char c : text)
    if (isxdigit(static_cast<unsigned char>(c))) digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

const Bytes kDeviceIdOid = Hex("2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00");
const Bytes kSysNameOid = Hex("2B 06 01 02 01 01 05 00");
const Bytes kSysObjectIdOid = Hex("2B 06 01 02 01 01 02 00");

inline Bytes Binding(const Bytes& oid, unsigned char tag, const Bytes& value) {
  return Tlv(0x30, Cat({Tlv(0x06, oid), Tlv(tag, value)}));
}

// A GetResponse around an already encoded binding list's contents.
inline Bytes ResponseWithList(const Bytes& listContents, const std::string& community = "public",
                              unsigned char pduTag = 0xA2, unsigned char errorStatus = 0) {
  const Bytes pdu =
      Cat({Hex("02 01 00 02 01"), {errorStatus}, Hex("02 01 00"), Tlv(0x30, listContents)});
  return Tlv(0x30, Cat({Hex("02 01 00"), Tlv(0x04, Text(community)), Tlv(pduTag, pdu)}));
}

inline Bytes Response(const Bytes& oid, unsigned char tag, const Bytes& value,
                      const std::string& community = "public") {
  return ResponseWithList(Binding(oid, tag, value), community);
}

}  // namespace testmsg
