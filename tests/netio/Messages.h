// The tests' one message encoder, front to back over vectors, so the client's
// readers and builders (back to front) are checked against something other
// than each other. SNMPv1 messages here; SNMPv3 ones build on it.
#pragma once

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
  if (n < 0x80) return {static_cast<unsigned char>(n)};
  Bytes octets;
  for (; n; n >>= 8) octets.insert(octets.begin(), static_cast<unsigned char>(n));
  octets.insert(octets.begin(), static_cast<unsigned char>(0x80 | octets.size()));
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
  int high = -1;
  for (char c : text) {
    const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<unsigned char>(high << 4 | v));
      high = -1;
    }
  }
  return out;
}

const Bytes kDeviceIdOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0xBE, 0x0F, 0x86, 0x76,
                            0x82, 0x2C, 0x82, 0x71, 0xC2, 0x53, 0x01, 0x01, 0x00};
const Bytes kSysNameOid = {0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00};
const Bytes kSysObjectIdOid = {0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x02, 0x00};

inline Bytes Binding(const Bytes& oid, unsigned char tag, const Bytes& value) {
  return Tlv(0x30, Cat({Tlv(0x06, oid), Tlv(tag, value)}));
}

// A GetResponse around an already encoded binding list's contents.
inline Bytes ResponseWithList(const Bytes& listContents, const std::string& community = "public",
                              unsigned char pduTag = 0xA2, unsigned char errorStatus = 0) {
  const Bytes pdu = Cat({Tlv(0x02, {0x00}), Tlv(0x02, {errorStatus}), Tlv(0x02, {0x00}),
                         Tlv(0x30, listContents)});
  return Tlv(0x30, Cat({Tlv(0x02, {0x00}), Tlv(0x04, Text(community)), Tlv(pduTag, pdu)}));
}

inline Bytes Response(const Bytes& oid, unsigned char tag, const Bytes& value,
                      const std::string& community = "public") {
  return ResponseWithList(Binding(oid, tag, value), community);
}

}  // namespace testmsg
