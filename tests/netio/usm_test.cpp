// MD5, HMAC-MD5-96, key localisation with its cache and DES-CBC on their RFC and FIPS vectors,
// and the refusals that keep hostile lengths out of their buffers.
#include "netio/Usm.h"

#include <gtest/gtest.h>

#include "digest/cMD5.h"
#include "netio/KeyCache.h"
#include "tests/netio/Messages.h"

namespace {

using testmsg::Bytes;
using testmsg::Hex;
using testmsg::Text;

Bytes Md5(const Bytes& data, size_t chunk = 0, size_t at = 0) {
  Bytes buf(at + data.size() + 1);  // fed from `at` octets in: every alignment
  std::copy(data.begin(), data.end(), buf.begin() + long(at));
  MD5Init();
  if (chunk == 0) chunk = std::max<size_t>(data.size(), 1);
  for (size_t off = 0; off < data.size(); off += chunk)
    MD5Update(buf.data() + at + off, uint32_t(std::min(chunk, data.size() - off)));
  uint8_t d[16];
  MD5Final(d);
  return Bytes(d, d + 16);
}

// 55 octets leave room for the bit length in the last block, 56 do not.
TEST(MD5, Rfc1321AndPaddingBoundariesInAnySplit) {
  const std::pair<std::string, const char*> rows[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"}};
  for (const auto& [msg, md5] : rows)
    for (size_t chunk : {0, 1, 7, 64})
      EXPECT_EQ(Md5(Text(msg), chunk, chunk % 8), Hex(md5)) << msg.size();
}

Bytes Key(const std::string& password, const Bytes& engine, bool cached = false) {
  uint8_t key[16];
  EXPECT_TRUE(cached ? netio::CachedLocalisedKey(password.c_str(), engine.data(),
                                                 unsigned(engine.size()), key)
                     : Password_to_Key_md5(password.data(), unsigned(password.size()),
                                           engine.data(), unsigned(engine.size()), key));
  return Bytes(key, key + 16);
}

// RFC 3414 A.2.1 as written is the reference for the fast expansion and the cache.
TEST(PasswordToKey, Rfc3414TheReferenceAndTheCache) {
  const Bytes rfcEngine = Hex("000000000000000000000002");
  for (bool cached : {false, true, true})
    EXPECT_EQ(Key("maplesyrup", rfcEngine, cached), Hex("526f5eed9fcce26f8964c2930787d82b"));
  for (size_t len : {63, 64, 65}) {
    std::string pw;
    for (size_t i = 0; i < len; i++) pw += char('!' + (i * 7) % 90);
    for (const Bytes& engine : {Hex("80000B9303000000000000002A"), Bytes(), Bytes(32, 0xA5)}) {
      Bytes stream(1048576);
      for (size_t i = 0; i < stream.size(); i++) stream[i] = uint8_t(pw[i % pw.size()]);
      const Bytes ku = Md5(stream), key = Md5(testmsg::Cat({ku, engine, ku}));
      EXPECT_EQ(Key(pw, engine), key) << len << " / " << engine.size();
      EXPECT_EQ(Key(pw, engine, true), key) << len << " / " << engine.size();
    }
  }
  const Bytes engine33(33, 0x42);
  const std::tuple<const char*, unsigned, const uint8_t*, unsigned> refused[] = {
      {nullptr, 10, rfcEngine.data(), 12},
      {"maplesyrup", 10, engine33.data(), 33},
      {"maplesyrup", 10, engine33.data(), 0xFFFFFFFFu}};
  for (const auto& [pw, pwLen, engine, engineLen] : refused) {
    uint8_t key[16];
    memset(key, 0xAA, sizeof key);
    EXPECT_FALSE(Password_to_Key_md5(pw, pwLen, engine, engineLen, key)) << engineLen;
    EXPECT_EQ(Bytes(key, key + 16), Bytes(16, 0));
    EXPECT_FALSE(pwLen && netio::CachedLocalisedKey(pw, engine, engineLen, key));
  }
}

// RFC 2202 cases 1, 2 and 6; a code passes only as a whole 12-octet field inside the message.
TEST(Hmac, Rfc2202AndOnlyAWholeTwelveOctetCodeMatches) {
  Bytes K1(64), K2(64), code(12);
  const std::tuple<Bytes, Bytes, const char*> rows[] = {
      {Bytes(16, 0x0b), Text("Hi There"), "9294727a3638bb1c13f48ef8"},
      {Text("Jefe"), Text("what do ya want for nothing?"), "750c783e6ab0b503eaa86e31"},
      {Md5(Bytes(80, 0xaa)), Text("Test Using Larger Than Block-Size Key - Hash Key First"),
       "6b1ab7fe4bd7bf8f0b62e6ce"}};
  for (auto [key, data, digest] : rows) {
    key.resize(16, 0);
    AuthKey2K1K2(key.data(), K1.data(), K2.data());
    CalcuateAuthParams(data.data(), unsigned(data.size()), K1.data(), K2.data(), code.data());
    EXPECT_EQ(code, Hex(digest)) << digest;
  }
  // A prefix of the code in a shorter field must not pass (CVE-2008-0960).
  EXPECT_TRUE(AuthParamsMatch(code.data(), 12, code.data()));
  for (unsigned i = 0; i < 12; i++) {
    Bytes forged = code;
    forged[i] ^= 0x80;
    EXPECT_FALSE(AuthParamsMatch(forged.data(), 12, code.data())) << i;
  }
  const Bytes key = Key("maplesyrup", Hex("000000000000000000000002"));
  Bytes good(60);
  for (size_t i = 0; i < good.size(); i++) good[i] = i >= 40 && i < 52 ? 0 : uint8_t(i * 31 + 7);
  AuthKey2K1K2(key.data(), K1.data(), K2.data());
  CalcuateAuthParams(good.data(), 60, K1.data(), K2.data(), good.data() + 40);
  const std::tuple<unsigned, unsigned, unsigned> fields[] = {
      {60, 40, 12}, {60, 40, 11}, {60, 40, 13}, {51, 40, 12}, {60, 0xFFFFFFF8u, 12}};
  for (const auto& [msgLen, offset, authLen] : fields) {
    Bytes msg = good;
    const bool ok = authLen == 12 && msgLen == 60 && offset == 40;
    EXPECT_EQ(VerifyAuthParams(msg.data(), msgLen, offset, authLen, key.data()), ok) << authLen;
    EXPECT_TRUE(ok || msg == good) << "touched";
  }
}

// FIPS 81's CBC example; the IV is the pre-IV XOR the salt, so either may carry all of it.
TEST(Des, Fips81TheIvAndTheSalt) {
  const Bytes key = Hex("0123456789abcdef"), iv = Hex("1234567890abcdef");
  const Bytes plain = Text("Now is the time for all ");
  const Bytes cipher = Hex("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
  Bytes out(24), ivCopy = iv;
  EXPECT_EQ(DesEncryption(key.data(), ivCopy.data(), plain.data(), 24, out.data(), 24), 24);
  EXPECT_EQ(out, cipher);
  EXPECT_EQ(ivCopy, iv) << "the caller's IV is not chained on";
  const Bytes preIVKey = testmsg::Cat({key, iv}), saltKey = testmsg::Cat({key, Bytes(8, 0)});
  for (const auto& [privKey, salt] : {std::pair{preIVKey, Bytes(8, 0)}, {saltKey, iv}}) {
    Bytes datagram = testmsg::Cat({Bytes(3, 0x30), cipher});  // unaligned, as in a datagram
    EXPECT_EQ(DecryptMsgData(datagram.data() + 3, 24, privKey.data(), salt.data()), 1);
    EXPECT_EQ(Bytes(datagram.begin() + 3, datagram.end()), plain);
  }
  Bytes dst(16, 0x5A);
  EXPECT_EQ(DesEncryption(key.data(), iv.data(), plain.data(), 0xFFFFFFFFu, dst.data(), 0x7FFFFFFF),
            0);
  EXPECT_EQ(DecryptMsgData(dst.data(), 15, preIVKey.data(), iv.data()), 0);
  EXPECT_EQ(dst, Bytes(16, 0x5A));
  // The salt: engine boots, then the counter, most significant octet first; the counter after.
  salt_low = 0xFFFFFFFFu;
  uint8_t salt[8];
  FormSalt(70000, salt);
  EXPECT_EQ(Bytes(salt, salt + 8), Hex("00011170ffffffff"));
  EXPECT_EQ(salt_low, 0u);
}

}  // namespace
