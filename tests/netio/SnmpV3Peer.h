// Playing the printer for the library's reads: the configured credentials,
// the accepted engine, its localised keys, hostile datagrams and delayed replies.
#pragma once

#include <chrono>
#include <random>
#include <string>
#include <vector>

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

// `bytes` after `ms`, from `from` at port 161 when that is given.
inline testenv::Reply After(int ms, const Bytes& bytes, const std::string& from = "") {
  testenv::Reply r(bytes, std::chrono::milliseconds(ms));
  r.fromAddress = from;
  r.fromPort = from.empty() ? 0 : 161;
  return r;
}

// What a flood around `valid` carries that must never count: junk, every
// kind of cut, octets added, lengths claiming the address space, and the
// largest UDP datagram. The empty one reads as 0, like a time-out.
inline std::vector<Bytes> HostileFrom(const Bytes& valid) {
  const size_t kMax = 65507;
  const auto Junk = [](size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (auto& b : out) b = static_cast<uint8_t>(random());
    return out;
  };
  Bytes longer = valid, padded = valid;
  longer.push_back(0x00);
  padded.resize(kMax, 0x00);
  std::vector<Bytes> out = {{},
                            Junk(1, 1),
                            Junk(64, 2),
                            Junk(kMax, 3),
                            longer,
                            padded,
                            {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x01, 0x00},
                            {0x30, 0x85, 0x01, 0x00, 0x00, 0x00, 0x05, 0x02}};
  for (size_t cut : {size_t{1}, size_t{2}, valid.size() / 2, valid.size() - 1})
    out.push_back(Bytes(valid.begin(), valid.begin() + static_cast<long>(cut)));
  return out;
}

}  // namespace testnetio
