// SNMPv3 messages assembled by hand for the tests: a second encoder, front to
// back over vectors, so the library's builder and parser are checked against
// something other than each other. Keys sign and encipher through the USM
// functions, which have RFC vectors of their own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "netio/NetIO.h"
#include "netio/Usm.h"

namespace snmpv3test {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(const std::string& text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
            : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Tlv(uint8_t tag, const Bytes& contents) {
  Bytes out{tag};
  const size_t n = contents.size();
  if (n >= 0x100) out.insert(out.end(), {0x82, uint8_t(n >> 8), uint8_t(n)});
  else if (n >= 0x80) out.insert(out.end(), {0x81, uint8_t(n)});
  else out.push_back(uint8_t(n));
  return Cat({out, contents});
}

inline Bytes Int(uint32_t v) {
  Bytes c;
  do {
    c.insert(c.begin(), uint8_t(v));
    v >>= 8;
  } while (v);
  if (c[0] & 0x80) c.insert(c.begin(), 0);
  return Tlv(0x02, c);
}

inline Bytes Octets(const Bytes& b) { return Tlv(0x04, b); }
inline Bytes Text(const std::string& s) { return Octets(Bytes(s.begin(), s.end())); }

// Contents of the device-ID object's name.
inline Bytes DeviceIdOid() { return Hex("2B 06 01 04 01 82 BE 0F 86 76 82 2C 82 71 C2 53 01 01 00"); }
// usmStatsUnknownEngineIDs.0
inline Bytes UnknownEngineIdsOid() { return Hex("2B 06 01 06 03 0F 01 01 04 00"); }

struct Binding {
  Bytes oid;
  Bytes value;  // the whole value element
};

struct Message {
  uint8_t flags = 0x00;
  uint32_t msgId = 1;
  Bytes engineId;
  uint32_t boots = 0;
  uint32_t time = 0;
  std::string user;
  // Octets of msgAuthenticationParameters. Signed with `authKey`, they are the
  // first octets of the true code, as a forger who guessed them would send.
  size_t authLen = 0;
  const uint8_t* authKey = nullptr;
  const uint8_t* privKey = nullptr;  // enciphers when the privacy flag is set
  Bytes salt;
  Bytes contextEngineId;
  std::string contextName;
  uint8_t pduTag = 0xA2;
  uint32_t requestId = 1;
  uint32_t errorStatus = 0;
  std::vector<Binding> bindings;
  // msgData sent as is instead of the (enciphered) scoped PDU, when not empty.
  Bytes rawMsgData;
};

inline Bytes ScopedPdu(const Message& m) {
  Bytes list;
  for (const auto& b : m.bindings) list = Cat({list, Tlv(0x30, Cat({Tlv(0x06, b.oid), b.value}))});
  const Bytes pdu =
      Tlv(m.pduTag, Cat({Int(m.requestId), Int(m.errorStatus), Int(0), Tlv(0x30, list)}));
  return Tlv(0x30, Cat({Octets(m.contextEngineId), Text(m.contextName), pdu}));
}

inline Bytes Encode(const Message& m) {
  Bytes msgData = m.rawMsgData.empty() ? ScopedPdu(m) : m.rawMsgData;
  if ((m.flags & kSnmpV3FlagPriv) && m.rawMsgData.empty()) {
    Bytes cipher((msgData.size() + 7) & ~size_t{7});
    uint8_t salt[kUsmSaltLen] = {};
    memcpy(salt, m.salt.data(), std::min(m.salt.size(), sizeof salt));
    uint8_t iv[kUsmSaltLen];
    PrivacyIV(m.privKey, salt, iv);
    DesEncryption(m.privKey, iv, msgData.data(), unsigned(msgData.size()), cipher.data(),
                  int(cipher.size()));
    msgData = Octets(cipher);
  }
  const Bytes privacy = Octets(m.salt);
  const Bytes usm = Tlv(0x30, Cat({Octets(m.engineId), Int(m.boots), Int(m.time), Text(m.user),
                                   Octets(Bytes(m.authLen, 0)), privacy}));
  const Bytes global =
      Tlv(0x30, Cat({Int(m.msgId), Int(2048), Octets({m.flags}), Int(3)}));
  Bytes msg = Tlv(0x30, Cat({Int(3), global, Octets(usm), msgData}));
  if (m.authKey && m.authLen) {
    const size_t offset = msg.size() - msgData.size() - privacy.size() - m.authLen;
    uint8_t K1[kUsmPadLen], K2[kUsmPadLen], code[kUsmAuthLen];
    AuthKey2K1K2(m.authKey, K1, K2);
    CalcuateAuthParams(msg.data(), unsigned(msg.size()), K1, K2, code);
    memcpy(msg.data() + offset, code, std::min(m.authLen, sizeof code));
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
  Message m;
  m.flags = kSnmpV3FlagAuth | kSnmpV3FlagPriv;
  m.engineId = m.contextEngineId = engineId;
  m.boots = 7;
  m.time = 4000;
  m.user = user;
  m.authLen = kUsmAuthLen;
  m.authKey = authKey;
  m.privKey = privKey;
  m.salt = Hex("00 00 00 07 11 22 33 44");
  m.bindings = {{DeviceIdOid(), Text(deviceId)}};
  return m;
}

}  // namespace snmpv3test
