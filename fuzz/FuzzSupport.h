// The one set-up of every fuzz target: a check that aborts (a crash to
// libFuzzer, a failure to the replay test), exactly sized copies of the input,
// a bounded reader over it, and the library prepared once: diagnostics off,
// discovery's capture names and targets set, and the configured credentials
// localised to the seed capture's fixed engine (a derivation digests 1 MiB, far
// too slow per input), so that answers sealed under them reach past HMAC and DES.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "netio/Discovery.h"
#include "netio/diagnostics.h"
#include "tests/netio/SnmpV3Messages.h"

#define FUZZ_CHECK(cond) \
  ((cond) ? (void)0      \
          : (fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond), abort()))

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
  uint8_t auth[kUsmKeyLen], priv[kUsmKeyLen];
};

inline Library& Setup() {
  static Library* lib = [] {
    netio::SetDiagnosticsSink(nullptr);
    const char* const prefix = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.";
    FUZZ_CHECK(EncodeCaptureOid("1.3.6.1.2.1.1.2.0", _sysObjIdOid, &_sysObjIdOidLen));
    FUZZ_CHECK(EncodeCaptureOid("1.3.6.1.2.1.1.5.0", _sysNameOid, &_sysNameOidLen));
    FUZZ_CHECK(
        EncodeCaptureOid((prefix + std::string("1.0")).c_str(), _pvtFwVerOid, &_pvtFwVerOidLen));
    FUZZ_CHECK(
        EncodeCaptureOid((prefix + std::string("3.0")).c_str(), _pvtMcuVerOid, &_pvtMcuVerOidLen));
    auto* l = new Library;
    l->discoverer.InitTargetOID("1.3.6.1.4.1.40719.886.1", "1.3.6.1.4.1.40719.886.2.1");
    SnmpV3FillCredentials(&l->credentials);
    for (auto [password, key] :
         {std::pair{l->credentials.authPassword, l->auth}, {l->credentials.privPassword, l->priv}})
      FUZZ_CHECK(Password_to_Key_md5(password, unsigned(strlen(password)), kEngineId,
                                     sizeof kEngineId, key));
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

// `m` around the scoped PDU `scoped`, authenticated with the fixed keys and
// enciphered under `salt` with privacy.
inline std::string Seal(snmpv3test::Message m, const std::string& scoped, bool privacy,
                        const std::string& salt) {
  m.flags = uint8_t(kSnmpV3FlagAuth | (privacy ? kSnmpV3FlagPriv : 0));
  m.authLen = kUsmAuthLen;
  m.authKey = Setup().auth;
  m.privKey = Setup().priv;
  m.salt = privacy ? snmpv3test::Bytes(salt.begin(), salt.end()) : snmpv3test::Bytes();
  if (privacy) m.salt.resize(kUsmSaltLen);
  m.scoped.assign(scoped.begin(), scoped.end());
  const snmpv3test::Bytes msg = snmpv3test::Encode(m);
  return std::string(msg.begin(), msg.end());
}

// What an SNMPv3 parse leaves behind must fit the buffers it wrote.
inline void CheckCaptureBuffers() {
  FUZZ_CHECK(strnlen(g_deviceid, kDeviceIdSize) < kDeviceIdSize);
  FUZZ_CHECK(_sysObjIdLen >= 0 && _sysObjIdLen <= kCaptureSize);
  for (const char* text : {_sysNameValue, _pvtFwVerValue, _pvtMcuVerValue})
    FUZZ_CHECK(strnlen(text, kCaptureSize) < kCaptureSize);
}

}  // namespace fuzz
