#include "netio/Usm.h"

#include <cstring>

#include "digest/cMD5.h"

namespace {

constexpr unsigned kExpansionLen = 1048576;  // RFC 3414 A.2.1

}  // namespace

bool Password_to_Key_md5(const char *password, unsigned passwordLen, const uint8_t *engineID,
                         unsigned engineIDLen, uint8_t key[kUsmKeyLen]) {
  if (!key) return false;
  memset(key, 0, kUsmKeyLen);
  if (engineIDLen > kUsmMaxEngineIDLen || (engineIDLen && !engineID)) return false;
  uint8_t ku[kUsmKeyLen];
  return PasswordDigest(password, passwordLen, ku) && LocaliseKey(ku, engineID, engineIDLen, key);
}

bool PasswordDigest(const char *password, unsigned passwordLen, uint8_t ku[kUsmKeyLen]) {
  if (!password || passwordLen == 0 || !ku) return false;
  const uint8_t *pw = reinterpret_cast<const uint8_t *>(password);

  // Octet i of the stream is pw[i mod len]. A password of up to 64 octets is
  // laid out repeated once, so every block is a slice of `window`; a longer
  // one is sliced directly and only blocks crossing its end are assembled.
  uint8_t window[2 * kUsmPadLen];
  if (passwordLen <= kUsmPadLen)
    for (unsigned i = 0; i < sizeof window; i++) window[i] = pw[i % passwordLen];

  MD5Init();
  unsigned off = 0;
  for (unsigned done = 0; done < kExpansionLen; done += kUsmPadLen) {
    const uint8_t *block = window + off;
    if (passwordLen > kUsmPadLen) {
      unsigned tail = passwordLen - off;
      if (tail >= kUsmPadLen) {
        block = pw + off;
      } else {
        memcpy(window, pw + off, tail);
        memcpy(window + tail, pw, kUsmPadLen - tail);
        block = window;
      }
    }
    MD5Update(block, kUsmPadLen);
    off = (off + kUsmPadLen) % passwordLen;
  }
  MD5Final(ku);
  md5FreeBuffer();
  return true;
}

bool LocaliseKey(const uint8_t ku[kUsmKeyLen], const uint8_t *engineID, unsigned engineIDLen,
                 uint8_t key[kUsmKeyLen]) {
  if (!ku || !key || engineIDLen > kUsmMaxEngineIDLen || (engineIDLen && !engineID)) return false;
  uint8_t buf[kUsmPadLen];
  memcpy(buf, ku, kUsmKeyLen);
  if (engineIDLen) memcpy(buf + kUsmKeyLen, engineID, engineIDLen);
  memcpy(buf + kUsmKeyLen + engineIDLen, ku, kUsmKeyLen);
  MD5Init();
  MD5Update(buf, 2 * kUsmKeyLen + engineIDLen);
  MD5Final(key);
  md5FreeBuffer();
  return true;
}

void AuthKey2K1K2(const uint8_t key[kUsmKeyLen], uint8_t K1[kUsmPadLen], uint8_t K2[kUsmPadLen]) {
  for (unsigned i = 0; i < kUsmPadLen; i++) {
    uint8_t k = i < kUsmKeyLen ? key[i] : 0;
    K1[i] = k ^ 0x36;
    K2[i] = k ^ 0x5C;
  }
}

void CalcuateAuthParams(const uint8_t *msg, unsigned msgLen, const uint8_t K1[kUsmPadLen],
                        const uint8_t K2[kUsmPadLen], uint8_t out[kUsmAuthLen]) {
  uint8_t inner[16], outer[16];
  MD5Init();
  MD5Update(K1, kUsmPadLen);
  MD5Update(msg, msgLen);
  MD5Final(inner);
  md5FreeBuffer();
  MD5Init();
  MD5Update(K2, kUsmPadLen);
  MD5Update(inner, sizeof inner);
  MD5Final(outer);
  md5FreeBuffer();
  memcpy(out, outer, kUsmAuthLen);
}

bool AuthParamsMatch(const uint8_t *received, unsigned receivedLen,
                     const uint8_t computed[kUsmAuthLen]) {
  if (!received || receivedLen != kUsmAuthLen) return false;
  uint8_t diff = 0;
  for (unsigned i = 0; i < kUsmAuthLen; i++) diff |= received[i] ^ computed[i];
  return diff == 0;
}

bool VerifyAuthParams(uint8_t *msg, unsigned msgLen, unsigned authOffset, unsigned authLen,
                      const uint8_t authKey[kUsmKeyLen]) {
  if (!msg || !authKey || authLen != kUsmAuthLen || authOffset > msgLen ||
      msgLen - authOffset < kUsmAuthLen)
    return false;
  uint8_t received[kUsmAuthLen];
  memcpy(received, msg + authOffset, kUsmAuthLen);
  memset(msg + authOffset, 0, kUsmAuthLen);
  uint8_t K1[kUsmPadLen], K2[kUsmPadLen], computed[kUsmAuthLen];
  AuthKey2K1K2(authKey, K1, K2);
  CalcuateAuthParams(msg, msgLen, K1, K2, computed);
  return AuthParamsMatch(received, kUsmAuthLen, computed);
}
