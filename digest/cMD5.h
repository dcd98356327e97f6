// MD5 (RFC 1321) over one module-wide context: one digest at a time.
#pragma once

#include <cstdint>

struct MD5DigestContext {
  uint32_t state[4];
  uint32_t bitCount[2];  // low word first
  uint8_t block[64];
};

void md5cMD5();
void MD5Init();
void MD5Update(const uint8_t *data, uint32_t length);
void MD5Final(uint8_t digest[16]);
// 32 upper-case hex digits; valid until the next call.
const char *MD5FinalToString();
void md5FreeBuffer();
// Little-endian words to host order in place (and back: it is its own inverse).
void md5byteReverse(uint8_t *buf, unsigned words);
// `in` holds the sixteen message words as host-order numbers.
void MD5Transform(uint32_t state[4], const uint32_t in[16]);

// Read-only view of the module context, for checks that it was wiped.
const MD5DigestContext &md5Context();
