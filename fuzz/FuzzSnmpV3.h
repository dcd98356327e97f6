// SNMPv3 helpers of the fuzz targets: the configured credentials localised to
// the fixed engine once (a derivation digests 1 MiB, far too slow per input),
// and the sealing of a scoped PDU into a message signed, and with privacy
// enciphered, under those keys, so that mutations reach past the HMAC and DES.
#pragma once

#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "netio/BerWriter.h"
#include "netio/NetIO.h"
#include "netio/Usm.h"
#include "netio/diagnostics.h"

namespace fuzz {

struct EngineKeys {
  _SNMP_PARAM_V3 credentials{};
  uint8_t auth[kUsmKeyLen];
  uint8_t priv[kUsmKeyLen];
  uint8_t K1[kUsmPadLen];
  uint8_t K2[kUsmPadLen];
};

inline const EngineKeys& Keys() {
  static const EngineKeys keys = [] {
    // The builders' diagnostic line would flood the fuzzer's output.
    netio::SetDiagnosticsSink(nullptr);
    EngineKeys k;
    SnmpV3FillCredentials(&k.credentials);
    const _SNMP_PARAM_V3& c = k.credentials;
    FUZZ_CHECK(Password_to_Key_md5(c.authPassword, static_cast<unsigned>(strlen(c.authPassword)),
                                   kEngineId, sizeof kEngineId, k.auth));
    FUZZ_CHECK(Password_to_Key_md5(c.privPassword, static_cast<unsigned>(strlen(c.privPassword)),
                                   kEngineId, sizeof kEngineId, k.priv));
    AuthKey2K1K2(k.auth, k.K1, k.K2);
    return k;
  }();
  return keys;
}

// A fresh record for one parse: credentials and keys in, callback as given.
inline _SNMP_PARAM_V3 Params(SnmpValueCallback callback) {
  _SNMP_PARAM_V3 params = Keys().credentials;
  memcpy(params.authKey, Keys().auth, kUsmKeyLen);
  memcpy(params.privKey, Keys().priv, kUsmKeyLen);
  params.valueCallback = callback;
  return params;
}

struct Envelope {
  const uint8_t* engineId = kEngineId;
  int engineIdLen = sizeof kEngineId;
  uint32_t boots = 0;
  uint32_t time = 0;
  uint16_t msgId = 0;
  std::string user;
  bool privacy = false;
  uint8_t salt[kUsmSaltLen] = {};
};

// The message around `scoped` (sent as is, or zero-filled to a multiple of 8
// and enciphered), authenticated with the fixed keys. Empty when the library
// refuses to assemble it.
inline std::string Seal(const Envelope& e, const std::string& scoped) {
  const EngineKeys& keys = Keys();
  unsigned char global[kSnmpV3WorkSize], security[kSnmpV3WorkSize], message[kSnmpV3WorkSize];
  const int globalLen =
      CNetIO::BuildSnmpV3msgGlobalDataUSM(e.msgId, kSnmpV3WorkSize, 0, e.privacy, 1, global);
  uint32_t authOffset = 0;
  const int securityLen = CNetIO::BuildSnmpV3msgSecurityParameters(
      e.engineId, e.engineIdLen, e.boots, e.time, e.user.c_str(), "fixed keys",
      e.privacy ? e.salt : nullptr, e.privacy ? kUsmSaltLen : 0, security, &authOffset);
  if (globalLen < 0 || securityLen < 0) return {};

  unsigned char data[kSnmpV3WorkSize + 16] = {};
  const unsigned char* msgData = reinterpret_cast<const unsigned char*>(scoped.data());
  size_t msgDataLen = scoped.size();
  if (e.privacy) {
    const size_t padded = (scoped.size() + 7) & ~size_t{7};
    if (padded > kSnmpV3WorkSize) return {};
    unsigned char plain[kSnmpV3WorkSize] = {};
    memcpy(plain, scoped.data(), scoped.size());
    uint8_t iv[kUsmSaltLen];
    PrivacyIV(keys.priv, e.salt, iv);
    FUZZ_CHECK(DesEncryption(keys.priv, iv, plain, static_cast<unsigned>(scoped.size()), plain,
                             sizeof plain) == static_cast<int>(scoped.size()));
    netio::BerWriter w(data, sizeof data);
    if (!w.Bytes(plain, padded) || !w.Header(0x04, padded)) return {};
    msgData = w.front();
    msgDataLen = w.size();
  }
  const int len = CNetIO::BuildSnmpV3Packet(global, globalLen, security, securityLen, msgData,
                                            static_cast<int>(msgDataLen), &authOffset, message);
  if (len <= 0) return {};
  FUZZ_CHECK(authOffset + kUsmAuthLen <= static_cast<unsigned>(len));
  uint8_t code[kUsmAuthLen];
  CalcuateAuthParams(message, static_cast<unsigned>(len), keys.K1, keys.K2, code);
  memcpy(message + authOffset, code, sizeof code);
  return std::string(reinterpret_cast<const char*>(message), static_cast<size_t>(len));
}

}  // namespace fuzz
