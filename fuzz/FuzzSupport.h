// The one set-up of every fuzz target: a check that aborts (a crash to
// libFuzzer, a failure to the replay test), exactly sized copies of the
// input, a bounded reader over it, and the library prepared once: diagnostics
// off, discovery's capture names and targets set, the configured credentials
// localised to the seed capture's fixed engine (a derivation digests 1 MiB,
// far too slow per input), and sealing under those keys so that mutations
// reach past the HMAC and DES.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "netio/BerWriter.h"
#include "netio/Discovery.h"
#include "netio/NetIO.h"
#include "netio/Usm.h"
#include "netio/diagnostics.h"

#define FUZZ_CHECK(cond) \
  ((cond) ? (void)0 : (fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond), abort()))

namespace fuzz {

constexpr uint8_t kEngineId[] = {0x80, 0x00, 0x0B, 0x93, 0x03, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0xF0, 0x22};
constexpr char kEngineIdHex[] = "80000B9303000000000000F022";

// A private copy of exactly `size` octets (uninitialised for no data): parsers write in place.
inline std::unique_ptr<uint8_t[]> Copy(const void* data, size_t size) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
  if (size && data) memcpy(copy.get(), data, size);
  return copy;
}

// Fields off the front of the input; past its end they read 0 or empty.
struct Input {
  const uint8_t *p, *end;
  size_t remaining() const { return size_t(end - p); }
  uint8_t Byte() { return p < end ? *p++ : 0; }
  uint16_t U16() { return uint16_t(Byte() << 8 | Byte()); }
  uint32_t U32() { return uint32_t(U16()) << 16 | U16(); }
  std::string Bytes(size_t n) {
    std::string out(reinterpret_cast<const char*>(p), std::min(n, remaining()));
    p += out.size();
    return out;
  }
};

struct Library {
  CNetIO discoverer;  // matches the printers' sysObjectIDs
  _SNMP_PARAM_V3 credentials{};
  uint8_t auth[kUsmKeyLen], priv[kUsmKeyLen], K1[kUsmPadLen], K2[kUsmPadLen];
};

inline Library& Setup() {
  static Library* lib = [] {
    netio::SetDiagnosticsSink(nullptr);
    FUZZ_CHECK(EncodeCaptureOid("1.3.6.1.2.1.1.2.0", _sysObjIdOid, &_sysObjIdOidLen));
    FUZZ_CHECK(EncodeCaptureOid("1.3.6.1.2.1.1.5.0", _sysNameOid, &_sysNameOidLen));
    FUZZ_CHECK(EncodeCaptureOid("1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0", _pvtFwVerOid, &_pvtFwVerOidLen));
    FUZZ_CHECK(EncodeCaptureOid("1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0", _pvtMcuVerOid, &_pvtMcuVerOidLen));
    auto* l = new Library;
    l->discoverer.InitTargetOID("1.3.6.1.4.1.40719.886.1", "1.3.6.1.4.1.40719.886.2.1");
    SnmpV3FillCredentials(&l->credentials);
    const _SNMP_PARAM_V3& c = l->credentials;
    FUZZ_CHECK(Password_to_Key_md5(c.authPassword, unsigned(strlen(c.authPassword)), kEngineId, sizeof kEngineId, l->auth));
    FUZZ_CHECK(Password_to_Key_md5(c.privPassword, unsigned(strlen(c.privPassword)), kEngineId, sizeof kEngineId, l->priv));
    AuthKey2K1K2(l->auth, l->K1, l->K2);
    return l;
  }();
  return *lib;
}

// A fresh record for one parse: credentials and keys in, callback as given.
inline _SNMP_PARAM_V3 Params(SnmpValueCallback callback) {
  const Library& lib = Setup();
  _SNMP_PARAM_V3 params = lib.credentials;
  memcpy(params.authKey, lib.auth, kUsmKeyLen);
  memcpy(params.privKey, lib.priv, kUsmKeyLen);
  params.valueCallback = callback;
  return params;
}

struct Envelope {
  const uint8_t* engineId = kEngineId;
  int engineIdLen = sizeof kEngineId;
  uint32_t boots = 0, time = 0;
  uint16_t msgId = 0;
  std::string user;
  bool privacy = false;
  uint8_t salt[kUsmSaltLen] = {};
};

// The library's own assembly of the message around `scoped` (zero-filled to a
// multiple of 8 and enciphered with privacy), authenticated with the fixed
// keys. Empty when the library refuses to assemble it.
inline std::string Seal(const Envelope& e, const std::string& scoped) {
  const Library& lib = Setup();
  unsigned char global[kSnmpV3WorkSize], security[kSnmpV3WorkSize], message[kSnmpV3WorkSize];
  unsigned char data[kSnmpV3WorkSize + 16] = {}, plain[kSnmpV3WorkSize] = {};
  const int globalLen = CNetIO::BuildSnmpV3msgGlobalDataUSM(e.msgId, kSnmpV3WorkSize, 0, e.privacy, 1, global);
  uint32_t authOffset = 0;
  const int securityLen = CNetIO::BuildSnmpV3msgSecurityParameters(
      e.engineId, e.engineIdLen, e.boots, e.time, e.user.c_str(), "fixed keys",
      e.privacy ? e.salt : nullptr, e.privacy ? kUsmSaltLen : 0, security, &authOffset);
  const unsigned char* msgData = reinterpret_cast<const unsigned char*>(scoped.data());
  size_t msgDataLen = scoped.size();
  const size_t padded = (scoped.size() + 7) & ~size_t{7};
  if (globalLen < 0 || securityLen < 0 || (e.privacy && padded > kSnmpV3WorkSize)) return {};
  if (e.privacy) {
    memcpy(plain, scoped.data(), scoped.size());
    uint8_t iv[kUsmSaltLen];
    PrivacyIV(lib.priv, e.salt, iv);
    FUZZ_CHECK(DesEncryption(lib.priv, iv, plain, unsigned(scoped.size()), plain, sizeof plain) == int(scoped.size()));
    netio::BerWriter w(data, sizeof data);
    if (!w.Bytes(plain, padded) || !w.Header(0x04, padded)) return {};
    msgData = w.front();
    msgDataLen = w.size();
  }
  const int len = CNetIO::BuildSnmpV3Packet(global, globalLen, security, securityLen, msgData,
                                            int(msgDataLen), &authOffset, message);
  if (len <= 0) return {};
  FUZZ_CHECK(authOffset + kUsmAuthLen <= unsigned(len));
  CalcuateAuthParams(message, unsigned(len), lib.K1, lib.K2, message + authOffset);
  return std::string(reinterpret_cast<const char*>(message), size_t(len));
}

// What an SNMPv3 parse leaves behind must fit the buffers it wrote.
inline void CheckCaptureBuffers() {
  FUZZ_CHECK(strnlen(g_deviceid, kDeviceIdSize) < kDeviceIdSize);
  FUZZ_CHECK(_sysObjIdLen >= 0 && _sysObjIdLen <= kCaptureSize);
  for (const char* text : {_sysNameValue, _pvtFwVerValue, _pvtMcuVerValue})
    FUZZ_CHECK(strnlen(text, kCaptureSize) < kCaptureSize);
}

}  // namespace fuzz
