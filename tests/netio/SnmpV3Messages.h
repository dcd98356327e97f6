// SNMPv3 messages on the tests' encoder, signed and enciphered by the USM functions under test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "netio/NetIO.h"
#include "netio/Usm.h"
#include "tests/netio/Messages.h"

namespace snmpv3test {

using testmsg::Bytes;
using testmsg::Cat;
using testmsg::Hex;
using testmsg::Tlv;

inline Bytes Int(uint32_t v) {
  Bytes c;
  do c.insert(c.begin(), uint8_t(v));
  while (v >>= 8);
  if (c[0] & 0x80) c.insert(c.begin(), 0);
  return Tlv(0x02, c);
}
inline Bytes Octets(const Bytes& b) { return Tlv(0x04, b); }
inline Bytes Text(const std::string& s) { return Octets(Bytes(s.begin(), s.end())); }
// usmStatsUnknownEngineIDs.0
inline Bytes UnknownEngineIdsOid() { return Hex("2B 06 01 06 03 0F 01 01 04 00"); }

struct Binding {
  Bytes oid;
  Bytes value;  // the whole value element
};

struct Message {
  uint8_t flags = 0x00;
  uint32_t msgId = 1, boots = 0, time = 0;
  Bytes engineId;
  std::string user;
  // Octets of msgAuthenticationParameters. Signed with `authKey`, they are the
  // first octets of the true code, as a forger who guessed them would send.
  size_t authLen = 0;
  const uint8_t* authKey = nullptr;
  const uint8_t* privKey = nullptr;  // enciphers when the privacy flag is set
  Bytes salt, contextEngineId;
  uint8_t pduTag = 0xA2;
  uint32_t errorStatus = 0;
  std::vector<Binding> bindings;
  Bytes scoped;  // the scoped PDU's octets, enciphered with privacy, when not empty
};

inline Bytes ScopedPdu(const Message& m) {
  Bytes list;
  for (const auto& b : m.bindings) list = Cat({list, Tlv(0x30, Cat({Tlv(0x06, b.oid), b.value}))});
  const Bytes pdu = Tlv(m.pduTag, Cat({Int(1), Int(m.errorStatus), Int(0), Tlv(0x30, list)}));
  return Tlv(0x30, Cat({Octets(m.contextEngineId), Text(""), pdu}));
}

inline Bytes Encode(const Message& m) {
  Bytes msgData = m.scoped.empty() ? ScopedPdu(m) : m.scoped;
  if (m.flags & kSnmpV3FlagPriv) {
    Bytes cipher((msgData.size() + 7) & ~size_t{7});
    uint8_t salt[kUsmSaltLen] = {}, iv[kUsmSaltLen];
    memcpy(salt, m.salt.data(), std::min(m.salt.size(), sizeof salt));
    PrivacyIV(m.privKey, salt, iv);
    DesEncryption(m.privKey, iv, msgData.data(), unsigned(msgData.size()), cipher.data(),
                  int(cipher.size()));
    msgData = Octets(cipher);
  }
  const Bytes privacy = Octets(m.salt);
  const Bytes usm = Tlv(0x30, Cat({Octets(m.engineId), Int(m.boots), Int(m.time), Text(m.user),
                                   Octets(Bytes(m.authLen, 0)), privacy}));
  const Bytes global = Tlv(0x30, Cat({Int(m.msgId), Int(2048), Octets({m.flags}), Int(3)}));
  Bytes msg = Tlv(0x30, Cat({Int(3), global, Octets(usm), msgData}));
  if (m.authKey && m.authLen) {
    uint8_t K1[kUsmPadLen], K2[kUsmPadLen], code[kUsmAuthLen];
    AuthKey2K1K2(m.authKey, K1, K2);
    CalcuateAuthParams(msg.data(), unsigned(msg.size()), K1, K2, code);
    memcpy(msg.data() + msg.size() - msgData.size() - privacy.size() - m.authLen, code,
           std::min(m.authLen, sizeof code));
  }
  return msg;
}

// The discovery Report of an agent with this engine.
inline Message Report(const Bytes& engineId, uint32_t boots, uint32_t time) {
  Message m;
  m.engineId = m.contextEngineId = engineId;
  m.boots = boots;
  m.time = time;
  m.pduTag = 0xA8;
  m.bindings = {{UnknownEngineIdsOid(), Hex("41 01 07")}};
  return m;
}

// An authenticated, enciphered Response carrying one device-ID binding.
inline Message Response(const Bytes& engineId, const std::string& user, const uint8_t* authKey,
                        const uint8_t* privKey, const std::string& deviceId) {
  Message m = Report(engineId, 7, 4000);
  m.flags = kSnmpV3FlagAuth | kSnmpV3FlagPriv;
  m.user = user;
  m.authLen = kUsmAuthLen;
  m.authKey = authKey;
  m.privKey = privKey;
  m.salt = Hex("00 00 00 07 11 22 33 44");
  m.pduTag = 0xA2;
  m.bindings = {{testmsg::kDeviceIdOid, Text(deviceId)}};
  return m;
}

}  // namespace snmpv3test
