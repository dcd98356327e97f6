#include "digest/cMD5.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

MD5DigestContext ctx;
uint8_t *mp_s8ReadBuffer;
char ms8_MD5[33];

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

inline uint32_t Load32(const uint8_t *p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

inline uint32_t Load32LE(const uint8_t *p) {
  return kLittleEndian ? Load32(p) : __builtin_bswap32(Load32(p));
}

inline void Store32LE(uint8_t *p, uint32_t v) {
  if (!kLittleEndian) v = __builtin_bswap32(v);
  memcpy(p, &v, 4);
}

inline uint32_t Rol(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

// Each step adds the message word and constant first, off the critical path;
// G's two disjoint terms are added rather than or-ed, so the one not
// depending on the newest word can start early.
#define STEP_F(a, b, c, d, k, s, t)      \
  a += X(k) + t;                         \
  a += ((c ^ d) & b) ^ d;                \
  a = Rol(a, s) + b;
#define STEP_G(a, b, c, d, k, s, t)      \
  a += X(k) + t;                         \
  a += ~d & c;                           \
  a += d & b;                            \
  a = Rol(a, s) + b;
#define STEP_H(a, b, c, d, k, s, t)      \
  a += X(k) + t;                         \
  a += (c ^ d) ^ b;                      \
  a = Rol(a, s) + b;
#define STEP_I(a, b, c, d, k, s, t)      \
  a += X(k) + t;                         \
  a += (b | ~d) ^ c;                     \
  a = Rol(a, s) + b;

// HostWords: `p` holds host-order words (MD5Transform); otherwise
// little-endian message octets straight from the caller.
template <bool HostWords>
inline void Compress(uint32_t *state, const uint8_t *p) {
#define X(k) (HostWords ? Load32(p + 4 * (k)) : Load32LE(p + 4 * (k)))
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  STEP_F(a, b, c, d, 0, 7, 0xd76aa478u)
  STEP_F(d, a, b, c, 1, 12, 0xe8c7b756u)
  STEP_F(c, d, a, b, 2, 17, 0x242070dbu)
  STEP_F(b, c, d, a, 3, 22, 0xc1bdceeeu)
  STEP_F(a, b, c, d, 4, 7, 0xf57c0fafu)
  STEP_F(d, a, b, c, 5, 12, 0x4787c62au)
  STEP_F(c, d, a, b, 6, 17, 0xa8304613u)
  STEP_F(b, c, d, a, 7, 22, 0xfd469501u)
  STEP_F(a, b, c, d, 8, 7, 0x698098d8u)
  STEP_F(d, a, b, c, 9, 12, 0x8b44f7afu)
  STEP_F(c, d, a, b, 10, 17, 0xffff5bb1u)
  STEP_F(b, c, d, a, 11, 22, 0x895cd7beu)
  STEP_F(a, b, c, d, 12, 7, 0x6b901122u)
  STEP_F(d, a, b, c, 13, 12, 0xfd987193u)
  STEP_F(c, d, a, b, 14, 17, 0xa679438eu)
  STEP_F(b, c, d, a, 15, 22, 0x49b40821u)

  STEP_G(a, b, c, d, 1, 5, 0xf61e2562u)
  STEP_G(d, a, b, c, 6, 9, 0xc040b340u)
  STEP_G(c, d, a, b, 11, 14, 0x265e5a51u)
  STEP_G(b, c, d, a, 0, 20, 0xe9b6c7aau)
  STEP_G(a, b, c, d, 5, 5, 0xd62f105du)
  STEP_G(d, a, b, c, 10, 9, 0x02441453u)
  STEP_G(c, d, a, b, 15, 14, 0xd8a1e681u)
  STEP_G(b, c, d, a, 4, 20, 0xe7d3fbc8u)
  STEP_G(a, b, c, d, 9, 5, 0x21e1cde6u)
  STEP_G(d, a, b, c, 14, 9, 0xc33707d6u)
  STEP_G(c, d, a, b, 3, 14, 0xf4d50d87u)
  STEP_G(b, c, d, a, 8, 20, 0x455a14edu)
  STEP_G(a, b, c, d, 13, 5, 0xa9e3e905u)
  STEP_G(d, a, b, c, 2, 9, 0xfcefa3f8u)
  STEP_G(c, d, a, b, 7, 14, 0x676f02d9u)
  STEP_G(b, c, d, a, 12, 20, 0x8d2a4c8au)

  STEP_H(a, b, c, d, 5, 4, 0xfffa3942u)
  STEP_H(d, a, b, c, 8, 11, 0x8771f681u)
  STEP_H(c, d, a, b, 11, 16, 0x6d9d6122u)
  STEP_H(b, c, d, a, 14, 23, 0xfde5380cu)
  STEP_H(a, b, c, d, 1, 4, 0xa4beea44u)
  STEP_H(d, a, b, c, 4, 11, 0x4bdecfa9u)
  STEP_H(c, d, a, b, 7, 16, 0xf6bb4b60u)
  STEP_H(b, c, d, a, 10, 23, 0xbebfbc70u)
  STEP_H(a, b, c, d, 13, 4, 0x289b7ec6u)
  STEP_H(d, a, b, c, 0, 11, 0xeaa127fau)
  STEP_H(c, d, a, b, 3, 16, 0xd4ef3085u)
  STEP_H(b, c, d, a, 6, 23, 0x04881d05u)
  STEP_H(a, b, c, d, 9, 4, 0xd9d4d039u)
  STEP_H(d, a, b, c, 12, 11, 0xe6db99e5u)
  STEP_H(c, d, a, b, 15, 16, 0x1fa27cf8u)
  STEP_H(b, c, d, a, 2, 23, 0xc4ac5665u)

  STEP_I(a, b, c, d, 0, 6, 0xf4292244u)
  STEP_I(d, a, b, c, 7, 10, 0x432aff97u)
  STEP_I(c, d, a, b, 14, 15, 0xab9423a7u)
  STEP_I(b, c, d, a, 5, 21, 0xfc93a039u)
  STEP_I(a, b, c, d, 12, 6, 0x655b59c3u)
  STEP_I(d, a, b, c, 3, 10, 0x8f0ccc92u)
  STEP_I(c, d, a, b, 10, 15, 0xffeff47du)
  STEP_I(b, c, d, a, 1, 21, 0x85845dd1u)
  STEP_I(a, b, c, d, 8, 6, 0x6fa87e4fu)
  STEP_I(d, a, b, c, 15, 10, 0xfe2ce6e0u)
  STEP_I(c, d, a, b, 6, 15, 0xa3014314u)
  STEP_I(b, c, d, a, 13, 21, 0x4e0811a1u)
  STEP_I(a, b, c, d, 4, 6, 0xf7537e82u)
  STEP_I(d, a, b, c, 11, 10, 0xbd3af235u)
  STEP_I(c, d, a, b, 2, 15, 0x2ad7d2bbu)
  STEP_I(b, c, d, a, 9, 21, 0xeb86d391u)
#undef X

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

#undef STEP_F
#undef STEP_G
#undef STEP_H
#undef STEP_I

}  // namespace

void md5cMD5() { mp_s8ReadBuffer = nullptr; }

void MD5Init() {
  mp_s8ReadBuffer = nullptr;
  ctx.state[0] = 0x67452301u;
  ctx.state[1] = 0xefcdab89u;
  ctx.state[2] = 0x98badcfeu;
  ctx.state[3] = 0x10325476u;
  ctx.bitCount[0] = 0;
  ctx.bitCount[1] = 0;
}

void MD5Update(const uint8_t *data, uint32_t length) {
  uint32_t k = (ctx.bitCount[0] >> 3) & 63;
  uint32_t low = ctx.bitCount[0] + (length << 3);
  if (low < ctx.bitCount[0]) ctx.bitCount[1]++;
  ctx.bitCount[0] = low;
  ctx.bitCount[1] += length >> 29;

  if (k != 0) {
    uint32_t room = 64 - k;
    if (length < room) {
      memcpy(ctx.block + k, data, length);
      return;
    }
    memcpy(ctx.block + k, data, room);
    Compress<false>(ctx.state, ctx.block);
    data += room;
    length -= room;
  }
  // Whole blocks are hashed where they lie: the block buffer is only for tails.
  for (; length >= 64; data += 64, length -= 64) Compress<false>(ctx.state, data);
  if (length) memcpy(ctx.block, data, length);
}

void MD5Final(uint8_t digest[16]) {
  uint32_t k = (ctx.bitCount[0] >> 3) & 63;
  ctx.block[k++] = 0x80;
  if (k > 56) {
    memset(ctx.block + k, 0, 64 - k);
    Compress<false>(ctx.state, ctx.block);
    k = 0;
  }
  memset(ctx.block + k, 0, 56 - k);
  Store32LE(ctx.block + 56, ctx.bitCount[0]);
  Store32LE(ctx.block + 60, ctx.bitCount[1]);
  Compress<false>(ctx.state, ctx.block);

  memcpy(digest, ctx.state, 16);
  md5byteReverse(digest, 4);
  memset(&ctx, 0, sizeof ctx);
}

const char *MD5FinalToString() {
  uint8_t digest[16];
  MD5Final(digest);
  ms8_MD5[0] = '\0';
  for (int i = 0; i < 16; i++) snprintf(ms8_MD5 + 2 * i, 3, "%02X", digest[i]);
  return ms8_MD5;
}

void md5FreeBuffer() {
  free(mp_s8ReadBuffer);
  mp_s8ReadBuffer = nullptr;
}

void md5byteReverse(uint8_t *buf, unsigned words) {
  if (kLittleEndian) return;
  for (unsigned i = 0; i < words; i++, buf += 4) {
    uint32_t v = Load32LE(buf);
    memcpy(buf, &v, 4);
  }
}

void MD5Transform(uint32_t state[4], const uint32_t in[16]) {
  Compress<true>(state, reinterpret_cast<const uint8_t *>(in));
}

const MD5DigestContext &md5Context() { return ctx; }
