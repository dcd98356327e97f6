// Keys from a password digested once and localised per engine must be the
// keys of the full derivation, for every engine a fleet may show.
#include <gtest/gtest.h>

#include <string>

#include "netio/KeyCache.h"
#include "tests/netio/Messages.h"

namespace {

using testmsg::Bytes;
using testmsg::Hex;

Bytes Cached(const std::string& password, const Bytes& engine) {
  uint8_t key[kUsmKeyLen];
  EXPECT_TRUE(netio::CachedLocalisedKey(password.c_str(), engine.data(), unsigned(engine.size()),
                                        key));
  return Bytes(key, key + kUsmKeyLen);
}

TEST(KeyCache, SameKeysAsTheFullDerivationForEveryEngine) {
  // RFC 3414 A.3.1, twice: the second answer comes from the cached digest.
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(Cached("maplesyrup", Hex("000000000000000000000002")),
              Hex("526f5eed9fcce26f8964c2930787d82b"));
  for (const std::string& password : {std::string("Mx7-kQ2v.Lr9_Tz4wB6p"),
                                      std::string("Dp3+Hs8n.Wc5=Gy1qJ0f"),
                                      std::string(70, 'x') + "long"}) {
    for (const Bytes& engine : {Bytes(), Hex("80000B9303000000000000002A"),
                                Hex("80000B9303000000000000002B"), Bytes(32, 0xA5)}) {
      uint8_t full[kUsmKeyLen];
      ASSERT_TRUE(Password_to_Key_md5(password.data(), unsigned(password.size()), engine.data(),
                                      unsigned(engine.size()), full));
      EXPECT_EQ(Cached(password, engine), Bytes(full, full + kUsmKeyLen))
          << password << " / " << engine.size() << " octets";
    }
  }
}

TEST(KeyCache, RefusesWhatTheFullDerivationRefuses) {
  const Bytes engine33(33, 1);
  uint8_t key[kUsmKeyLen] = {1};
  EXPECT_FALSE(netio::CachedLocalisedKey("", engine33.data(), 4, key));
  EXPECT_EQ(Bytes(key, key + kUsmKeyLen), Bytes(kUsmKeyLen, 0));
  EXPECT_FALSE(netio::CachedLocalisedKey(nullptr, engine33.data(), 4, key));
  EXPECT_FALSE(netio::CachedLocalisedKey("maplesyrup", engine33.data(), 33, key));
  EXPECT_FALSE(netio::CachedLocalisedKey("maplesyrup", nullptr, 4, key));
}

}  // namespace
