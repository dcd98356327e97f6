// USM cryptography against RFC 3414, RFC 2202 and FIPS 81, and the refusals
// that keep hostile lengths out of its buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "digest/cMD5.h"
#include "netio/Usm.h"
#include "tests/netio/SnmpV3Messages.h"

namespace {

using snmpv3test::Bytes;
using snmpv3test::Hex;

Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes Md5(const Bytes &data) {
  uint8_t d[16];
  MD5Init();
  MD5Update(data.data(), uint32_t(data.size()));
  MD5Final(d);
  return Bytes(d, d + 16);
}

// RFC 3414 A.2.1 as written, octet by octet: the reference for the fast expansion.
Bytes ReferenceKey(const std::string &password, const Bytes &engineID) {
  Bytes stream(1048576);
  for (size_t i = 0; i < stream.size(); i++) stream[i] = uint8_t(password[i % password.size()]);
  const Bytes ku = Md5(stream);
  Bytes local = ku;
  local.insert(local.end(), engineID.begin(), engineID.end());
  local.insert(local.end(), ku.begin(), ku.end());
  return Md5(local);
}

Bytes Key(const std::string &password, const Bytes &engineID) {
  uint8_t key[16];
  EXPECT_TRUE(Password_to_Key_md5(password.data(), unsigned(password.size()), engineID.data(),
                                  unsigned(engineID.size()), key));
  return Bytes(key, key + 16);
}

const Bytes kRfc3414EngineID = Hex("000000000000000000000002");

TEST(PasswordToKey, Rfc3414AndTheOctetByOctetExpansion) {
  EXPECT_EQ(Key("maplesyrup", kRfc3414EngineID), Hex("526f5eed9fcce26f8964c2930787d82b"));
  // Lengths around the 64-octet block: short passwords come from a repeated
  // window, long ones are sliced in place with blocks assembled where they wrap.
  const Bytes engine = Hex("80000b930300112233445566");
  for (size_t len : {1, 20, 63, 64, 65, 128, 130}) {
    std::string pw;
    for (size_t i = 0; i < len; i++) pw += char('!' + (i * 7) % 90);
    EXPECT_EQ(Key(pw, engine), ReferenceKey(pw, engine)) << "password of " << len;
  }
  for (size_t len : {0, 1, 32}) {
    const Bytes id(len, uint8_t(0x80 + len));
    EXPECT_EQ(Key("maplesyrup", id), ReferenceKey("maplesyrup", id)) << "engine ID of " << len;
  }
}

TEST(PasswordToKey, RefusesWhatWouldOverrunOrDivideByZero) {
  const Bytes engine33(33, 0x42);
  const uint8_t *rfc = kRfc3414EngineID.data();
  const struct {
    const char *pw;
    unsigned pwLen;
    const uint8_t *engine;
    unsigned engineLen;
  } rows[] = {
      {"x", 0, rfc, 12},                        {nullptr, 10, rfc, 12},
      {"maplesyrup", 10, engine33.data(), 33},  {"maplesyrup", 10, engine33.data(), 0xFFFFFFFFu},
      {"maplesyrup", 10, nullptr, 12},
  };
  for (const auto &row : rows) {
    uint8_t key[16];
    memset(key, 0xAA, sizeof key);
    EXPECT_FALSE(Password_to_Key_md5(row.pw, row.pwLen, row.engine, row.engineLen, key))
        << row.pwLen << " " << row.engineLen;
    EXPECT_EQ(Bytes(key, key + 16), Bytes(16, 0));
  }
  EXPECT_FALSE(Password_to_Key_md5("maplesyrup", 10, nullptr, 0, nullptr));
}

Bytes Hmac96(const Bytes &K1, const Bytes &K2, const Bytes &msg) {
  uint8_t out[12];
  CalcuateAuthParams(msg.data(), unsigned(msg.size()), K1.data(), K2.data(), out);
  return Bytes(out, out + 12);
}

// RFC 2202 HMAC-MD5, truncated to 96 bits as USM sends it. Keys longer than
// 64 octets are hashed first (RFC 2104), which brings cases 6 and 7 to 16.
TEST(Hmac, Rfc2202) {
  const struct {
    int number;
    Bytes key, data;
    const char *digest;
  } rows[] = {
      {1, Bytes(16, 0x0b), Text("Hi There"), "9294727a3638bb1c13f48ef8"},
      {2, Text("Jefe"), Text("what do ya want for nothing?"), "750c783e6ab0b503eaa86e31"},
      {3, Bytes(16, 0xaa), Bytes(50, 0xdd), "56be34521d144c88dbb8c733"},
      {5, Bytes(16, 0x0c), Text("Test With Truncation"), "56461ef2342edc00f9bab995"},
      {6, Md5(Bytes(80, 0xaa)), Text("Test Using Larger Than Block-Size Key - Hash Key First"),
       "6b1ab7fe4bd7bf8f0b62e6ce"},
      {7, Md5(Bytes(80, 0xaa)),
       Text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
       "6f630fad67cda0ee1fb1f562"},
  };
  for (const auto &row : rows) {
    Bytes key = row.key;
    key.resize(16, 0);  // HMAC zero-fills short keys: "Jefe" is the same key
    Bytes K1(64), K2(64);
    AuthKey2K1K2(key.data(), K1.data(), K2.data());
    EXPECT_EQ(Hmac96(K1, K2, row.data), Hex(row.digest)) << "case " << row.number;
  }
  // Case 4's 25-octet key does not fit AuthKey2K1K2; its pads are built here.
  Bytes K1(64, 0x36), K2(64, 0x5c);
  for (uint8_t i = 0; i < 25; i++) {
    K1[i] ^= uint8_t(i + 1);
    K2[i] ^= uint8_t(i + 1);
  }
  EXPECT_EQ(Hmac96(K1, K2, Bytes(50, 0xcd)), Hex("697eaf0aca3a3aea3a751647")) << "case 4";
}

// A prefix of the right code in a field of another length must not pass
// (CVE-2008-0960), nor a code wrong in any one octet.
TEST(Hmac, OnlyTwelveEqualOctetsMatch) {
  const Bytes code = Hex("0102030405060708090a0b0c");
  EXPECT_TRUE(AuthParamsMatch(code.data(), 12, code.data()));
  for (unsigned len : {0u, 1u, 4u, 11u, 13u})
    EXPECT_FALSE(AuthParamsMatch(code.data(), len, code.data())) << len;
  EXPECT_FALSE(AuthParamsMatch(nullptr, 12, code.data()));
  for (unsigned i = 0; i < 12; i++) {
    Bytes forged = code;
    forged[i] ^= 0x80;
    EXPECT_FALSE(AuthParamsMatch(forged.data(), 12, code.data())) << i;
  }
}

// A message-shaped blob of 60 octets whose field at 40 carries its code.
TEST(Hmac, VerifyAuthParamsAcceptsOnlyAWholeFieldInside) {
  const Bytes key = Key("maplesyrup", kRfc3414EngineID);
  Bytes good(60);
  for (size_t i = 0; i < good.size(); i++) good[i] = uint8_t(i * 31 + 7);
  memset(good.data() + 40, 0, 12);
  Bytes K1(64), K2(64);
  AuthKey2K1K2(key.data(), K1.data(), K2.data());
  const Bytes code = Hmac96(K1, K2, good);
  memcpy(good.data() + 40, code.data(), 12);

  Bytes msg = good;
  EXPECT_TRUE(VerifyAuthParams(msg.data(), 60, 40, 12, key.data()));
  EXPECT_EQ(Bytes(msg.begin() + 40, msg.begin() + 52), Bytes(12, 0)) << "left zeroed";
  const struct {
    unsigned msgLen, offset, authLen;
  } refused[] = {{60, 40, 0},  {60, 40, 1},  {60, 40, 11}, {60, 40, 13},
                 {51, 40, 12}, {60, 61, 12}, {60, 0xFFFFFFF8u, 12}};
  for (const auto &row : refused) {
    msg = good;
    EXPECT_FALSE(VerifyAuthParams(msg.data(), row.msgLen, row.offset, row.authLen, key.data()))
        << row.msgLen << " " << row.offset << " " << row.authLen;
    EXPECT_EQ(msg, good) << "touched";
  }
  msg = good;
  const Bytes otherKey = Key("maplesyrup", Hex("000000000000000000000003"));
  EXPECT_FALSE(VerifyAuthParams(msg.data(), 60, 40, 12, otherKey.data()));
}

// FIPS 81 CBC example.
const Bytes kDesKey = Hex("0123456789abcdef");
const Bytes kDesIV = Hex("1234567890abcdef");
const Bytes kPlain = Text("Now is the time for all ");
const Bytes kCipher = Hex("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");

TEST(Des, Fips81ThroughDesEncryption) {
  Bytes out(24), iv = kDesIV;
  EXPECT_EQ(DesEncryption(kDesKey.data(), iv.data(), kPlain.data(), 24, out.data(), 24), 24);
  EXPECT_EQ(out, kCipher);
  EXPECT_EQ(iv, kDesIV) << "the caller's IV is not chained on";
  Bytes inPlace = kPlain;
  EXPECT_EQ(DesEncryption(kDesKey.data(), kDesIV.data(), inPlace.data(), 24, inPlace.data(), 24),
            24);
  EXPECT_EQ(inPlace, kCipher);
}

// The IV is the pre-IV (privacy key octets 8-15) XOR the salt, octet for
// octet: either may carry the whole of it.
TEST(Des, Fips81ThroughDecryptMsgData) {
  Bytes preIVKey = kDesKey, saltKey = kDesKey;
  preIVKey.insert(preIVKey.end(), kDesIV.begin(), kDesIV.end());
  saltKey.resize(16, 0);
  const struct {
    Bytes privKey, salt;
  } rows[] = {{preIVKey, Bytes(8, 0)}, {saltKey, kDesIV}};
  for (const auto &row : rows) {
    // Deciphered where it lies in a datagram: no alignment to count on.
    Bytes datagram(3, 0x30);
    datagram.insert(datagram.end(), kCipher.begin(), kCipher.end());
    EXPECT_EQ(DecryptMsgData(datagram.data() + 3, 24, row.privKey.data(), row.salt.data()), 1);
    EXPECT_EQ(Bytes(datagram.begin() + 3, datagram.end()), kPlain) << (row.salt[0] ? "salt" : "pre-IV");
  }
}

TEST(Des, FillsWithZerosAndRefusesWhatDoesNotFit) {
  const uint8_t *k = kDesKey.data(), *iv = kDesIV.data();
  const Bytes src = Text("thirteen char");
  Bytes dst(16, 0xEE);
  for (int capacity : {15, -1}) EXPECT_EQ(DesEncryption(k, iv, src.data(), 13, dst.data(), capacity), 0);
  EXPECT_EQ(DesEncryption(k, iv, src.data(), 0xFFFFFFFFu, dst.data(), 0x7FFFFFFF), 0);
  EXPECT_EQ(DesEncryption(nullptr, iv, src.data(), 13, dst.data(), 16), 0);
  EXPECT_EQ(DesEncryption(k, nullptr, src.data(), 13, dst.data(), 16), 0);
  EXPECT_EQ(DesEncryption(k, iv, nullptr, 13, dst.data(), 16), 0);
  EXPECT_EQ(DesEncryption(k, iv, src.data(), 13, nullptr, 16), 0);
  EXPECT_EQ(dst, Bytes(16, 0xEE));

  EXPECT_EQ(DesEncryption(k, iv, src.data(), 13, dst.data(), 16), 13);
  Bytes privKey = kDesKey;
  privKey.insert(privKey.end(), kDesIV.begin(), kDesIV.end());
  const Bytes salt(8, 0);
  EXPECT_EQ(DecryptMsgData(dst.data(), 16, privKey.data(), salt.data()), 1);
  Bytes expected = src;
  expected.resize(16, 0);
  EXPECT_EQ(dst, expected);

  for (unsigned len : {1u, 7u, 12u, 15u}) {
    Bytes data(16, 0x5A);
    EXPECT_EQ(DecryptMsgData(data.data(), len, privKey.data(), salt.data()), 0) << len;
    EXPECT_EQ(data, Bytes(16, 0x5A)) << len;
  }
  EXPECT_EQ(DecryptMsgData(nullptr, 16, privKey.data(), salt.data()), 0);
  EXPECT_EQ(DecryptMsgData(dst.data(), 16, nullptr, salt.data()), 0);
  EXPECT_EQ(DecryptMsgData(dst.data(), 16, privKey.data(), nullptr), 0);
}

TEST(Des, SaltIsBootsThenCounterMostSignificantFirst) {
  const struct {
    uint32_t boots, low;
    const char *salt;
    uint32_t next;
  } rows[] = {
      {70000, 0, "0001117000000000", 1},
      {1, 41, "0000000100000029", 42},
      {0, 0xFFFFFFFFu, "00000000ffffffff", 0},
  };
  for (const auto &row : rows) {
    salt_low = row.low;
    uint8_t salt[8];
    FormSalt(row.boots, salt);
    EXPECT_EQ(Bytes(salt, salt + 8), Hex(row.salt));
    EXPECT_EQ(salt_low, row.next);
  }
}

}  // namespace
