// Keys from a password digested once and localised per engine must be the
// keys of the full derivation, for every engine a fleet may show.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "netio/KeyCache.h"

namespace {

using Octets = std::vector<uint8_t>;

Octets FromHex(const std::string& hex) {
  Octets out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

Octets Cached(const std::string& password, const Octets& engine) {
  uint8_t key[kUsmKeyLen];
  EXPECT_TRUE(netio::CachedLocalisedKey(password.c_str(), engine.data(),
                                        static_cast<unsigned>(engine.size()), key));
  return Octets(key, key + kUsmKeyLen);
}

Octets Full(const std::string& password, const Octets& engine) {
  uint8_t key[kUsmKeyLen];
  EXPECT_TRUE(Password_to_Key_md5(password.data(), static_cast<unsigned>(password.size()),
                                  engine.data(), static_cast<unsigned>(engine.size()), key));
  return Octets(key, key + kUsmKeyLen);
}

TEST(KeyCache, Rfc3414A31Vector) {
  // Twice: the second answer comes from the cached digest.
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(Cached("maplesyrup", FromHex("000000000000000000000002")),
              FromHex("526f5eed9fcce26f8964c2930787d82b"));
}

TEST(KeyCache, SameKeysAsTheFullDerivationForEveryEngine) {
  const std::vector<std::string> passwords = {"Mx7-kQ2v.Lr9_Tz4wB6p", "Dp3+Hs8n.Wc5=Gy1qJ0f",
                                              std::string(70, 'x') + "long"};
  const std::vector<Octets> engines = {
      {},
      FromHex("80000B9303000000000000002A"),
      FromHex("80000B9303000000000000002B"),
      FromHex("80001F8880E9630000D61FF449"),
      Octets(32, 0xA5),
  };
  for (const auto& password : passwords)
    for (const auto& engine : engines)
      EXPECT_EQ(Cached(password, engine), Full(password, engine))
          << password << " / " << engine.size() << " octets";
}

TEST(KeyCache, RefusesWhatTheFullDerivationRefuses) {
  const Octets engine33(33, 1);
  uint8_t key[kUsmKeyLen] = {1};
  EXPECT_FALSE(netio::CachedLocalisedKey("", engine33.data(), 4, key));
  EXPECT_EQ(Octets(key, key + kUsmKeyLen), Octets(kUsmKeyLen, 0));
  EXPECT_FALSE(netio::CachedLocalisedKey(nullptr, engine33.data(), 4, key));
  EXPECT_FALSE(netio::CachedLocalisedKey("maplesyrup", engine33.data(), 33, key));
  EXPECT_FALSE(netio::CachedLocalisedKey("maplesyrup", nullptr, 4, key));
}

}  // namespace
