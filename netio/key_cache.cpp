#include "netio/KeyCache.h"

#include <array>
#include <cstring>
#include <map>
#include <string>

namespace netio {

bool CachedLocalisedKey(const char* password, const uint8_t* engineID, unsigned engineIDLen,
                        uint8_t key[kUsmKeyLen]) {
  if (!key) return false;
  memset(key, 0, kUsmKeyLen);
  if (!password || !*password) return false;
  // A fleet has one or two passwords; the map holds no more than a run uses.
  static std::map<std::string, std::array<uint8_t, kUsmKeyLen>> digests;
  auto found = digests.find(password);
  if (found == digests.end()) {
    std::array<uint8_t, kUsmKeyLen> ku;
    if (!PasswordDigest(password, static_cast<unsigned>(strlen(password)), ku.data()))
      return false;
    found = digests.emplace(password, ku).first;
  }
  return LocaliseKey(found->second.data(), engineID, engineIDLen, key);
}

bool LocaliseRecordKeys(_SNMP_PARAM_V3* params) {
  if (!params || params->engineIDLen < 0) return false;
  const unsigned length = static_cast<unsigned>(params->engineIDLen);
  return CachedLocalisedKey(params->authPassword, params->engineID, length, params->authKey) &&
         CachedLocalisedKey(params->privPassword, params->engineID, length, params->privKey);
}

}  // namespace netio
