// Playing the printer: the configured credentials, the accepted engine and its keys, late replies.
#pragma once

#include <chrono>
#include <string>

#include "env/Responder.h"
#include "env/Snmpd.h"
#include "netio/NetIO.h"
#include "netio/Usm.h"
#include "tests/netio/SnmpV3Messages.h"

namespace testnetio {

using snmpv3test::Bytes;

inline testenv::SnmpUser Configured() {
  _SNMP_PARAM_V3 params{};
  SnmpV3FillCredentials(&params);
  return {params.userName, params.authPassword, params.privPassword};
}

inline const Bytes kEngine = snmpv3test::Hex("80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 2A");

struct Keys {
  uint8_t auth[16], priv[16];
};

inline Keys LocalisedKeys(const Bytes& engine) {
  const testenv::SnmpUser user = Configured();
  Keys k;
  Password_to_Key_md5(user.authPass.c_str(), unsigned(user.authPass.size()), engine.data(),
                      unsigned(engine.size()), k.auth);
  Password_to_Key_md5(user.privPass.c_str(), unsigned(user.privPass.size()), engine.data(),
                      unsigned(engine.size()), k.priv);
  return k;
}

inline testenv::Reply After(int ms, const Bytes& bytes) {
  return {bytes, std::chrono::milliseconds(ms)};
}

}  // namespace testnetio
