#include <cstring>

#include "netio/BerReader.h"
#include "netio/BerWriter.h"
#include "netio/NetIO.h"

namespace {

bool LittleEndianHost() {
  const int one = 1;
  return *reinterpret_cast<const unsigned char*>(&one) == 1;
}

// The text's arcs, or 0 when it lies outside what oidEncode accepts.
size_t ParseArcs(const char* text, uint32_t* arcs, size_t capacity) {
  const size_t kMaxText = 127;
  if (strnlen(text, kMaxText + 1) > kMaxText) return 0;
  size_t n = 0;
  const char* p = text;
  for (;;) {
    if (*p < '0' || *p > '9') return 0;  // also an empty arc
    uint64_t arc = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
      arc = arc * 10 + static_cast<uint64_t>(*p - '0');
      if (arc > UINT32_MAX) return 0;
    }
    if (n == capacity) return 0;
    arcs[n++] = static_cast<uint32_t>(arc);
    if (*p == '\0') break;
    if (*p++ != '.') return 0;
  }
  if (n < 2 || 40ULL * arcs[0] + arcs[1] > 0x7F) return 0;
  return n;
}

}  // namespace

uint16_t FLIPWORD(uint16_t value) {
  if (!LittleEndianHost()) return value;
  return static_cast<uint16_t>((value << 8) | (value >> 8));
}

uint32_t FLIPDWORD(uint32_t value) {
  if (!LittleEndianHost()) return value;
  return (value << 24) | ((value & 0xFF00) << 8) | ((value >> 8) & 0xFF00) | (value >> 24);
}

uint32_t readIntValue(const unsigned char* contents, int length) {
  uint32_t value = 0;
  for (int i = 0; i < length; ++i) value = (value << 8) | contents[i];
  return value;
}

int max(int a, int b) { return a > b ? a : b; }

unsigned char* CNetIO::parseLength(unsigned char* p, int* length) {
  // A length we accept spans at most five octets: 0x84 and four of value.
  netio::BerReader reader(p, 5);
  uint32_t value;
  if (!reader.Length(&value) || value > INT32_MAX) return nullptr;
  *length = static_cast<int>(value);
  return const_cast<unsigned char*>(reader.cursor());
}

unsigned char* CNetIO::berEncodeLength(unsigned char* end, uint32_t length) {
  netio::BerWriter writer(end - 5, end);
  writer.Length(length);
  return writer.front();
}

int CNetIO::oidEncode(const char* text, unsigned char* out) {
  if (!text || !out) return -1;
  uint32_t arcs[64];  // 127 characters hold at most 64 arcs
  const size_t n = ParseArcs(text, arcs, sizeof arcs / sizeof arcs[0]);
  if (n == 0) return 0;
  unsigned char* p = out;
  *p++ = static_cast<unsigned char>(40 * arcs[0] + arcs[1]);
  for (size_t i = 2; i < n; ++i) {
    unsigned char groups[5];
    size_t k = 0;
    uint32_t arc = arcs[i];
    do {
      groups[k++] = arc & 0x7F;
      arc >>= 7;
    } while (arc != 0);
    while (k > 1) *p++ = static_cast<unsigned char>(groups[--k] | 0x80);
    *p++ = groups[0];
  }
  return static_cast<int>(p - out);
}
