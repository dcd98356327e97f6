// USM (RFC 3414) cryptography: MD5 key localisation, HMAC-MD5-96 and
// DES-CBC privacy. Every digest runs on the MD5 module's single context,
// so none of this is reentrant.
#pragma once

#include <cstdint>

constexpr unsigned kUsmKeyLen = 16;
constexpr unsigned kUsmPadLen = 64;
constexpr unsigned kUsmAuthLen = 12;
constexpr unsigned kUsmSaltLen = 8;
constexpr unsigned kUsmMaxEngineIDLen = 32;  // RFC 3411

// Low half of the next privacy salt; advanced by FormSalt.
extern uint32_t salt_low;

// Ku from the password repeated over 1 MiB, localised to `engineID`.
// Refuses (false, key zeroed) an empty password or an engine ID over 32
// octets, which the localisation buffer cannot hold.
bool Password_to_Key_md5(const char *password, unsigned passwordLen, const uint8_t *engineID,
                         unsigned engineIDLen, uint8_t key[kUsmKeyLen]);

// The two steps of Password_to_Key_md5 (RFC 3414 A.2.1), for callers that
// digest a password once and localise it to many engines: Ku from the 1 MiB
// expansion, then MD5(Ku | engine ID | Ku). False for what
// Password_to_Key_md5 refuses.
bool PasswordDigest(const char *password, unsigned passwordLen, uint8_t ku[kUsmKeyLen]);
bool LocaliseKey(const uint8_t ku[kUsmKeyLen], const uint8_t *engineID, unsigned engineIDLen,
                 uint8_t key[kUsmKeyLen]);

void AuthKey2K1K2(const uint8_t key[kUsmKeyLen], uint8_t K1[kUsmPadLen], uint8_t K2[kUsmPadLen]);

// HMAC-MD5-96 of the whole message, its authentication field zeroed.
void CalcuateAuthParams(const uint8_t *msg, unsigned msgLen, const uint8_t K1[kUsmPadLen],
                        const uint8_t K2[kUsmPadLen], uint8_t out[kUsmAuthLen]);

// Constant time; a received field of any length but 12 never matches, so a
// short or empty field cannot pass on a partial comparison.
bool AuthParamsMatch(const uint8_t *received, unsigned receivedLen,
                     const uint8_t computed[kUsmAuthLen]);

// Checks the `authLen` octets at `authOffset` in `msg` against the code
// computed under `authKey`, leaving them zeroed as the code was computed.
// Out-of-bounds or non-12 fields are refused with `msg` untouched.
bool VerifyAuthParams(uint8_t *msg, unsigned msgLen, unsigned authOffset, unsigned authLen,
                      const uint8_t authKey[kUsmKeyLen]);

// Engine boots and salt_low, most significant octet first; advances salt_low.
void FormSalt(uint32_t engineBoots, uint8_t salt[kUsmSaltLen]);

// Privacy key octets 8-15 (the pre-IV) XOR the salt.
void PrivacyIV(const uint8_t privKey[kUsmKeyLen], const uint8_t salt[kUsmSaltLen],
               uint8_t iv[kUsmSaltLen]);

// DES-CBC of `length` octets, zero-filled to a multiple of 8, into `dst`
// (which may be `src`). Returns `length`, or 0 with nothing written when a
// pointer is missing or the padded length exceeds `dstCapacity`.
int DesEncryption(const uint8_t *key, const uint8_t *iv, const uint8_t *src, unsigned length,
                  uint8_t *dst, int dstCapacity);

// Deciphers in place with the IV from PrivacyIV. Returns 1, or 0 with the
// data untouched when a pointer is missing or `length` is not a multiple of 8.
int DecryptMsgData(uint8_t *data, unsigned length, const uint8_t *privKey, const uint8_t *salt);
