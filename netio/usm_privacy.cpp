#include <cstring>

#include "netio/Usm.h"

extern "C" {
#include <libavutil/des.h>
}

uint32_t salt_low;

namespace {

void Put32(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

}  // namespace

void FormSalt(uint32_t engineBoots, uint8_t salt[kUsmSaltLen]) {
  Put32(salt, engineBoots);
  Put32(salt + 4, salt_low++);
}

void PrivacyIV(const uint8_t privKey[kUsmKeyLen], const uint8_t salt[kUsmSaltLen],
               uint8_t iv[kUsmSaltLen]) {
  for (unsigned i = 0; i < kUsmSaltLen; i++) iv[i] = privKey[8 + i] ^ salt[i];
}

int DesEncryption(const uint8_t *key, const uint8_t *iv, const uint8_t *src, unsigned length,
                  uint8_t *dst, int dstCapacity) {
  uint64_t padded = (uint64_t{length} + 7) & ~uint64_t{7};
  if (!key || !iv || !dst || (!src && length) || dstCapacity < 0 ||
      padded > uint64_t(dstCapacity))
    return 0;
  // Only `length` octets are read: the filling is ours, not the caller's.
  if (length) memmove(dst, src, length);
  memset(dst + length, 0, padded - length);
  AVDES des;
  av_des_init(&des, key, 64, 0);
  alignas(8) uint8_t chain[kUsmSaltLen];
  memcpy(chain, iv, sizeof chain);
  av_des_crypt(&des, dst, dst, int(padded / 8), chain, 0);
  return int(length);
}

int DecryptMsgData(uint8_t *data, unsigned length, const uint8_t *privKey, const uint8_t *salt) {
  if (!data || !privKey || !salt || length % 8) return 0;
  alignas(8) uint8_t iv[kUsmSaltLen];
  PrivacyIV(privKey, salt, iv);
  AVDES des;
  av_des_init(&des, privKey, 64, 0);
  av_des_crypt(&des, data, data, int(length / 8), iv, 1);
  return 1;
}
