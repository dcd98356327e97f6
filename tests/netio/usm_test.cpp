#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "digest/cMD5.h"
#include "netio/Usm.h"

namespace {

using Octets = std::vector<uint8_t>;

Octets FromHex(const std::string &hex) {
  Octets out;
  for (size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      i++;
      continue;
    }
    out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

Octets Bytes(const std::string &s) { return Octets(s.begin(), s.end()); }

// RFC 3414 A.2.1 as written, byte by byte: the reference for the fast expansion.
Octets ReferenceKey(const std::string &password, const Octets &engineID) {
  uint8_t buf[64], ku[16], key[16];
  unsigned index = 0;
  MD5Init();
  for (unsigned count = 0; count < 1048576; count += 64) {
    for (unsigned i = 0; i < 64; i++) buf[i] = uint8_t(password[index++ % password.size()]);
    MD5Update(buf, 64);
  }
  MD5Final(ku);
  Octets local(ku, ku + 16);
  local.insert(local.end(), engineID.begin(), engineID.end());
  local.insert(local.end(), ku, ku + 16);
  MD5Init();
  MD5Update(local.data(), uint32_t(local.size()));
  MD5Final(key);
  return Octets(key, key + 16);
}

Octets Key(const std::string &password, const Octets &engineID) {
  uint8_t key[16];
  EXPECT_TRUE(Password_to_Key_md5(password.data(), unsigned(password.size()), engineID.data(),
                                  unsigned(engineID.size()), key));
  return Octets(key, key + 16);
}

const Octets kRfc3414EngineID = FromHex("000000000000000000000002");

// RFC 3414 A.3.1.
TEST(PasswordToKey, MapleSyrup) {
  EXPECT_EQ(Key("maplesyrup", kRfc3414EngineID), FromHex("526f5eed9fcce26f8964c2930787d82b"));
  // Ku, the intermediate of the same appendix, from the reference expansion.
  uint8_t buf[64], ku[16];
  const std::string pw = "maplesyrup";
  MD5Init();
  for (unsigned i = 0; i < 1048576; i += 64) {
    for (unsigned j = 0; j < 64; j++) buf[j] = uint8_t(pw[(i + j) % pw.size()]);
    MD5Update(buf, 64);
  }
  MD5Final(ku);
  EXPECT_EQ(Octets(ku, ku + 16), FromHex("9faf3283884e92834ebc9847d8edd963"));
}

// Lengths around the 64-octet block: short ones come from the repeated window,
// long ones are sliced in place with assembled blocks where they wrap.
TEST(PasswordToKey, MatchesByteByByteExpansion) {
  const Octets engine = FromHex("80000b930300112233445566");
  for (size_t len : {1, 3, 20, 63, 64, 65, 100, 128, 130, 200}) {
    std::string pw;
    for (size_t i = 0; i < len; i++) pw += char('!' + (i * 7) % 90);
    EXPECT_EQ(Key(pw, engine), ReferenceKey(pw, engine)) << len;
  }
}

TEST(PasswordToKey, EngineIDLengths) {
  for (size_t len : {0, 1, 17, 32}) {
    Octets engine(len);
    for (size_t i = 0; i < len; i++) engine[i] = uint8_t(0x80 + i);
    EXPECT_EQ(Key("maplesyrup", engine), ReferenceKey("maplesyrup", engine)) << len;
  }
}

TEST(PasswordToKey, RefusesWhatWouldOverrunOrDivideByZero) {
  const Octets engine33(33, 0x42);
  const struct {
    const char *name;
    const char *pw;
    unsigned pwLen;
    const uint8_t *engine;
    unsigned engineLen;
  } cases[] = {
      {"empty password", "x", 0, kRfc3414EngineID.data(), 12},
      {"null password", nullptr, 10, kRfc3414EngineID.data(), 12},
      {"engine ID of 33", "maplesyrup", 10, engine33.data(), 33},
      {"huge engine ID length", "maplesyrup", 10, engine33.data(), 0xFFFFFFFFu},
      {"null engine ID with a length", "maplesyrup", 10, nullptr, 12},
  };
  for (const auto &c : cases) {
    uint8_t key[16];
    memset(key, 0xAA, sizeof key);
    EXPECT_FALSE(Password_to_Key_md5(c.pw, c.pwLen, c.engine, c.engineLen, key)) << c.name;
    EXPECT_EQ(Octets(key, key + 16), Octets(16, 0)) << c.name;
  }
  EXPECT_FALSE(Password_to_Key_md5("maplesyrup", 10, nullptr, 0, nullptr));
}

Octets Hmac96(const Octets &K1, const Octets &K2, const Octets &msg) {
  uint8_t out[12];
  CalcuateAuthParams(msg.data(), unsigned(msg.size()), K1.data(), K2.data(), out);
  return Octets(out, out + 12);
}

Octets Md5(const Octets &data) {
  uint8_t d[16];
  MD5Init();
  MD5Update(data.data(), uint32_t(data.size()));
  MD5Final(d);
  return Octets(d, d + 16);
}

// RFC 2202 HMAC-MD5, truncated to 96 bits as USM sends it. Keys longer than
// 64 octets are hashed first (RFC 2104), which brings cases 6 and 7 to 16.
TEST(Hmac, Rfc2202ThroughAuthKey2K1K2) {
  const struct {
    int number;
    Octets key, data;
    const char *digest;
  } cases[] = {
      {1, Octets(16, 0x0b), Bytes("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d"},
      {2, Bytes("Jefe"), Bytes("what do ya want for nothing?"),
       "750c783e6ab0b503eaa86e310a5db738"},
      {3, Octets(16, 0xaa), Octets(50, 0xdd), "56be34521d144c88dbb8c733f0e8b3f6"},
      {5, Octets(16, 0x0c), Bytes("Test With Truncation"), "56461ef2342edc00f9bab995690efd4c"},
      {6, Md5(Octets(80, 0xaa)), Bytes("Test Using Larger Than Block-Size Key - Hash Key First"),
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {7, Md5(Octets(80, 0xaa)),
       Bytes("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
       "6f630fad67cda0ee1fb1f562db3aa53e"},
  };
  for (const auto &c : cases) {
    Octets key = c.key;
    key.resize(16, 0);  // HMAC zero-fills short keys: "Jefe" is the same key
    Octets K1(64), K2(64);
    AuthKey2K1K2(key.data(), K1.data(), K2.data());
    Octets expected = FromHex(c.digest);
    expected.resize(12);
    EXPECT_EQ(Hmac96(K1, K2, c.data), expected) << "case " << c.number;
  }
}

// Case 4's 25-octet key does not fit the 16-octet key of AuthKey2K1K2; its
// pads are built here and go through CalcuateAuthParams alone.
TEST(Hmac, Rfc2202Case4ThroughCalcuateAuthParams) {
  Octets K1(64, 0x36), K2(64, 0x5c);
  for (uint8_t i = 0; i < 25; i++) {
    K1[i] ^= uint8_t(i + 1);
    K2[i] ^= uint8_t(i + 1);
  }
  EXPECT_EQ(Hmac96(K1, K2, Octets(50, 0xcd)), FromHex("697eaf0aca3a3aea3a751647"));
}

TEST(Hmac, Case5TruncationIsTheDigestPrefix) {
  Octets K1(64), K2(64);
  AuthKey2K1K2(Octets(16, 0x0c).data(), K1.data(), K2.data());
  EXPECT_EQ(Hmac96(K1, K2, Bytes("Test With Truncation")), FromHex("56461ef2342edc00f9bab995"));
}

TEST(AuthParamsMatch, OnlyExactlyTwelveEqualOctetsMatch) {
  const Octets code = FromHex("0102030405060708090a0b0c");
  EXPECT_TRUE(AuthParamsMatch(code.data(), 12, code.data()));
  // A matching prefix of the wrong length must not pass (CVE-2008-0960).
  for (unsigned len : {0u, 1u, 4u, 11u, 13u})
    EXPECT_FALSE(AuthParamsMatch(code.data(), len, code.data())) << len;
  EXPECT_FALSE(AuthParamsMatch(nullptr, 12, code.data()));
  for (unsigned i = 0; i < 12; i++) {
    Octets forged = code;
    forged[i] ^= 0x80;
    EXPECT_FALSE(AuthParamsMatch(forged.data(), 12, code.data())) << i;
  }
}

struct SignedMessage {
  Octets msg;
  unsigned authOffset;
  Octets authKey;
};

// A message-shaped blob whose 12 octets at `authOffset` carry its code.
SignedMessage Sign(size_t size, unsigned authOffset) {
  SignedMessage s{Octets(size), authOffset, Key("maplesyrup", kRfc3414EngineID)};
  for (size_t i = 0; i < size; i++) s.msg[i] = uint8_t(i * 31 + 7);
  memset(s.msg.data() + authOffset, 0, 12);
  Octets K1(64), K2(64);
  AuthKey2K1K2(s.authKey.data(), K1.data(), K2.data());
  Octets code = Hmac96(K1, K2, s.msg);
  memcpy(s.msg.data() + authOffset, code.data(), 12);
  return s;
}

TEST(VerifyAuthParams, AcceptsTheCodeAndLeavesTheFieldZeroed) {
  SignedMessage s = Sign(150, 40);
  EXPECT_TRUE(VerifyAuthParams(s.msg.data(), 150, 40, 12, s.authKey.data()));
  EXPECT_EQ(Octets(s.msg.begin() + 40, s.msg.begin() + 52), Octets(12, 0));
}

TEST(VerifyAuthParams, RejectsAnyAlteration) {
  const SignedMessage good = Sign(150, 40);
  for (size_t i = 0; i < good.msg.size(); i++) {
    SignedMessage s = good;
    s.msg[i] ^= 1;
    EXPECT_FALSE(VerifyAuthParams(s.msg.data(), 150, 40, 12, s.authKey.data())) << i;
  }
  SignedMessage s = good;
  Octets otherKey = Key("maplesyrup", FromHex("000000000000000000000003"));
  EXPECT_FALSE(VerifyAuthParams(s.msg.data(), 150, 40, 12, otherKey.data()));
}

TEST(VerifyAuthParams, RefusesBadFieldsWithoutTouchingTheMessage) {
  const SignedMessage good = Sign(60, 48);
  const struct {
    const char *name;
    unsigned msgLen, offset, authLen;
  } cases[] = {
      {"empty field", 60, 48, 0},       {"one octet", 60, 48, 1},
      {"four octets", 60, 48, 4},       {"eleven octets", 60, 48, 11},
      {"thirteen octets", 60, 48, 13},  {"field past the end", 59, 48, 12},
      {"offset past the end", 60, 61, 12}, {"offset wraps", 60, 0xFFFFFFF8u, 12},
  };
  for (const auto &c : cases) {
    SignedMessage s = good;
    EXPECT_FALSE(VerifyAuthParams(s.msg.data(), c.msgLen, c.offset, c.authLen, s.authKey.data()))
        << c.name;
    EXPECT_EQ(s.msg, good.msg) << c.name;
  }
}

// FIPS 81 CBC example.
const Octets kDesKey = FromHex("0123456789abcdef");
const Octets kDesIV = FromHex("1234567890abcdef");
const Octets kPlain = Bytes("Now is the time for all ");
const Octets kCipher = FromHex("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");

TEST(Des, Fips81ThroughDesEncryption) {
  Octets out(24), iv = kDesIV;
  EXPECT_EQ(DesEncryption(kDesKey.data(), iv.data(), kPlain.data(), 24, out.data(), 24), 24);
  EXPECT_EQ(out, kCipher);
  EXPECT_EQ(iv, kDesIV);  // the caller's IV is not chained on

  Octets inPlace = kPlain;
  EXPECT_EQ(DesEncryption(kDesKey.data(), kDesIV.data(), inPlace.data(), 24, inPlace.data(), 24),
            24);
  EXPECT_EQ(inPlace, kCipher);
}

// The IV is the pre-IV (privacy key octets 8-15) XOR the salt: either may carry it.
TEST(Des, Fips81ThroughDecryptMsgData) {
  Octets preIVKey = kDesKey, saltKey = kDesKey;
  preIVKey.insert(preIVKey.end(), kDesIV.begin(), kDesIV.end());
  saltKey.resize(16, 0);
  const struct {
    const char *name;
    Octets privKey, salt;
  } cases[] = {
      {"IV in the pre-IV", preIVKey, Octets(8, 0)},
      {"IV in the salt", saltKey, kDesIV},
  };
  for (const auto &c : cases) {
    // Deciphered where it lies in a datagram: no alignment to count on.
    Octets datagram(3, 0x30);
    datagram.insert(datagram.end(), kCipher.begin(), kCipher.end());
    EXPECT_EQ(DecryptMsgData(datagram.data() + 3, 24, c.privKey.data(), c.salt.data()), 1)
        << c.name;
    EXPECT_EQ(Octets(datagram.begin() + 3, datagram.end()), kPlain) << c.name;
  }
}

TEST(Des, EncryptionFillsWithZerosAndChecksCapacity) {
  const Octets src = Bytes("thirteen char");
  Octets dst(16, 0xEE);
  EXPECT_EQ(DesEncryption(kDesKey.data(), kDesIV.data(), src.data(), 13, dst.data(), 15), 0);
  EXPECT_EQ(dst, Octets(16, 0xEE));
  EXPECT_EQ(DesEncryption(kDesKey.data(), kDesIV.data(), src.data(), 13, dst.data(), -1), 0);
  EXPECT_EQ(DesEncryption(kDesKey.data(), kDesIV.data(), src.data(), 0xFFFFFFFFu, dst.data(),
                          0x7FFFFFFF),
            0);
  EXPECT_EQ(dst, Octets(16, 0xEE));

  EXPECT_EQ(DesEncryption(kDesKey.data(), kDesIV.data(), src.data(), 13, dst.data(), 16), 13);
  Octets privKey = kDesKey;
  privKey.insert(privKey.end(), kDesIV.begin(), kDesIV.end());
  EXPECT_EQ(DecryptMsgData(dst.data(), 16, privKey.data(), Octets(8, 0).data()), 1);
  Octets expected = src;
  expected.resize(16, 0);
  EXPECT_EQ(dst, expected);
}

TEST(Des, MissingPointersAreRefused) {
  Octets buf(16, 0x11);
  const uint8_t *k = kDesKey.data(), *iv = kDesIV.data();
  EXPECT_EQ(DesEncryption(nullptr, iv, buf.data(), 16, buf.data(), 16), 0);
  EXPECT_EQ(DesEncryption(k, nullptr, buf.data(), 16, buf.data(), 16), 0);
  EXPECT_EQ(DesEncryption(k, iv, nullptr, 16, buf.data(), 16), 0);
  EXPECT_EQ(DesEncryption(k, iv, buf.data(), 16, nullptr, 16), 0);
  Octets key16(16, 1), salt(8, 2);
  EXPECT_EQ(DecryptMsgData(nullptr, 16, key16.data(), salt.data()), 0);
  EXPECT_EQ(DecryptMsgData(buf.data(), 16, nullptr, salt.data()), 0);
  EXPECT_EQ(DecryptMsgData(buf.data(), 16, key16.data(), nullptr), 0);
  EXPECT_EQ(buf, Octets(16, 0x11));
}

TEST(Des, DecryptionRefusesPartialBlocks) {
  Octets key16(16, 1), salt(8, 2);
  for (unsigned len : {1u, 7u, 9u, 12u, 15u, 61u}) {
    Octets data(64, 0x5A);
    EXPECT_EQ(DecryptMsgData(data.data(), len, key16.data(), salt.data()), 0) << len;
    EXPECT_EQ(data, Octets(64, 0x5A)) << len;
  }
}

TEST(Des, RoundTripsEveryLength) {
  Octets privKey = FromHex("0123456789abcdeffedcba9876543210"), salt = FromHex("0000000100000002");
  Octets iv(8);
  PrivacyIV(privKey.data(), salt.data(), iv.data());
  for (unsigned len = 1; len <= 72; len++) {
    Octets src(len);
    for (unsigned i = 0; i < len; i++) src[i] = uint8_t(i * 13 + len);
    unsigned padded = (len + 7) / 8 * 8;
    Octets buf(padded);
    ASSERT_EQ(DesEncryption(privKey.data(), iv.data(), src.data(), len, buf.data(), int(padded)),
              int(len));
    ASSERT_EQ(DecryptMsgData(buf.data(), padded, privKey.data(), salt.data()), 1);
    src.resize(padded, 0);
    ASSERT_EQ(buf, src) << len;
  }
}

TEST(Salt, BootsAndCounterMostSignificantFirst) {
  const struct {
    uint32_t boots, low;
    const char *salt;
    uint32_t next;
  } cases[] = {
      {70000, 0, "0001117000000000", 1},
      {1, 41, "0000000100000029", 42},
      {0, 0xFFFFFFFFu, "00000000ffffffff", 0},
  };
  for (const auto &c : cases) {
    salt_low = c.low;
    uint8_t salt[8];
    FormSalt(c.boots, salt);
    EXPECT_EQ(Octets(salt, salt + 8), FromHex(c.salt));
    EXPECT_EQ(salt_low, c.next);
  }
}

TEST(Salt, PrivacyIVIsPreIVXorSalt) {
  const Octets privKey = FromHex("00112233445566778899aabbccddeeff");
  const Octets salt = FromHex("0001117000000005");
  uint8_t iv[8];
  PrivacyIV(privKey.data(), salt.data(), iv);
  EXPECT_EQ(Octets(iv, iv + 8), FromHex("8898bbcbccddeefa"));
}

}  // namespace
