// The one set-up of every fuzz target: a check that aborts (libFuzzer reports
// it as a crash, the replay test as a failure), exactly sized copies of the
// input, a bounded reader over it, and the library prepared once: diagnostics
// off, discovery's capture names and target OIDs set, the configured SNMPv3
// credentials localised to the fixed engine that the seed capture also uses
// (a derivation digests 1 MiB, far too slow per input), and the sealing of a
// scoped PDU under those keys so that mutations reach past the HMAC and DES.
#pragma once

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

#define FUZZ_CHECK(cond)                                                      \
  do {                                                                        \
    if (!(cond)) {                                                            \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                                \
    }                                                                         \
  } while (0)

namespace fuzz {

constexpr uint8_t kEngineId[] = {0x80, 0x00, 0x0B, 0x93, 0x03, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0xF0, 0x22};
constexpr char kEngineIdHex[] = "80000B9303000000000000F022";

// A private copy of exactly `size` octets: parsers write in place, and a read
// past the end is caught under AddressSanitizer.
inline std::unique_ptr<uint8_t[]> Copy(const void* data, size_t size) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
  if (size) memcpy(copy.get(), data, size);
  return copy;
}

// Takes fields off the front of the input; past its end every field reads 0
// or empty, so any input yields one well-defined case.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  size_t remaining() const { return static_cast<size_t>(end_ - p_); }
  uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) << 16 | U16(); }
  std::string Bytes(size_t n) {
    if (n > remaining()) n = remaining();
    std::string out(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return out;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
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
    FUZZ_CHECK(EncodeCaptureOid("1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0", _pvtFwVerOid,
                                &_pvtFwVerOidLen));
    FUZZ_CHECK(EncodeCaptureOid("1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0", _pvtMcuVerOid,
                                &_pvtMcuVerOidLen));
    auto* l = new Library;
    l->discoverer.InitTargetOID("1.3.6.1.4.1.40719.886.1", "1.3.6.1.4.1.40719.886.2.1");
    SnmpV3FillCredentials(&l->credentials);
    const _SNMP_PARAM_V3& c = l->credentials;
    FUZZ_CHECK(Password_to_Key_md5(c.authPassword, static_cast<unsigned>(strlen(c.authPassword)),
                                   kEngineId, sizeof kEngineId, l->auth));
    FUZZ_CHECK(Password_to_Key_md5(c.privPassword, static_cast<unsigned>(strlen(c.privPassword)),
                                   kEngineId, sizeof kEngineId, l->priv));
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
  const Library& lib = Setup();
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
    PrivacyIV(lib.priv, e.salt, iv);
    FUZZ_CHECK(DesEncryption(lib.priv, iv, plain, static_cast<unsigned>(scoped.size()), plain,
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
  CalcuateAuthParams(message, static_cast<unsigned>(len), lib.K1, lib.K2, code);
  memcpy(message + authOffset, code, sizeof code);
  return std::string(reinterpret_cast<const char*>(message), static_cast<size_t>(len));
}

// What an SNMPv3 parse leaves behind must fit the buffers it wrote.
inline void CheckCaptureBuffers() {
  FUZZ_CHECK(strnlen(g_deviceid, kDeviceIdSize) < kDeviceIdSize);
  FUZZ_CHECK(_sysObjIdLen >= 0 && _sysObjIdLen <= kCaptureSize);
  FUZZ_CHECK(strnlen(_sysNameValue, kCaptureSize) < kCaptureSize);
  FUZZ_CHECK(strnlen(_pvtFwVerValue, kCaptureSize) < kCaptureSize);
  FUZZ_CHECK(strnlen(_pvtMcuVerValue, kCaptureSize) < kCaptureSize);
}

}  // namespace fuzz
