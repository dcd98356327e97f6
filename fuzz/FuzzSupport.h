// The fuzz targets' set-up: an aborting check, exact copies, and the library prepared once, its
// keys localised to a fixed engine (a derivation digests 1 MiB, too slow per input).
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

// A private copy of exactly `size` octets (uninitialised for no data): parsers write in place.
inline std::unique_ptr<uint8_t[]> Copy(const void* data, size_t size) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
  if (size && data) memcpy(copy.get(), data, size);
  return copy;
}

struct Library {
  CNetIO discoverer;        // matches the printers' sysObjectIDs
  _SNMP_PARAM_V3 params{};  // the configured credentials and their localised keys
};

inline Library& Setup() {
  static Library* lib = [] {
    netio::SetDiagnosticsSink(nullptr);
    const std::string prefix = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.";
    FUZZ_CHECK(EncodeCaptureOid("1.3.6.1.2.1.1.2.0", _sysObjIdOid, &_sysObjIdOidLen));
    FUZZ_CHECK(EncodeCaptureOid("1.3.6.1.2.1.1.5.0", _sysNameOid, &_sysNameOidLen));
    FUZZ_CHECK(EncodeCaptureOid((prefix + "1.0").c_str(), _pvtFwVerOid, &_pvtFwVerOidLen));
    FUZZ_CHECK(EncodeCaptureOid((prefix + "3.0").c_str(), _pvtMcuVerOid, &_pvtMcuVerOidLen));
    auto* l = new Library;
    l->discoverer.InitTargetOID("1.3.6.1.4.1.40719.886.1", "1.3.6.1.4.1.40719.886.2.1");
    _SNMP_PARAM_V3& p = l->params;
    SnmpV3FillCredentials(&p);
    for (auto [password, key] : {std::pair{p.authPassword, p.authKey}, {p.privPassword, p.privKey}})
      FUZZ_CHECK(Password_to_Key_md5(password, unsigned(strlen(password)), kEngineId,
                                     sizeof kEngineId, key));
    return l;
  }();
  return *lib;
}

// A fresh record for one parse: credentials and keys in, callback as given.
inline _SNMP_PARAM_V3 Params(SnmpValueCallback callback) {
  _SNMP_PARAM_V3 params = Setup().params;
  params.valueCallback = callback;
  return params;
}

// What an SNMPv3 parse leaves behind must fit the buffers it wrote.
inline void CheckCaptureBuffers() {
  FUZZ_CHECK(strnlen(g_deviceid, kDeviceIdSize) < kDeviceIdSize);
  FUZZ_CHECK(_sysObjIdLen >= 0 && _sysObjIdLen <= kCaptureSize);
  for (const char* text : {_sysNameValue, _pvtFwVerValue, _pvtMcuVerValue})
    FUZZ_CHECK(strnlen(text, kCaptureSize) < kCaptureSize);
}

}  // namespace fuzz
