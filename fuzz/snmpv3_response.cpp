// CNetIO::parseSnmpV3Response on an arbitrary datagram, with the keys of the
// fixed engine (so captured authPriv answers verify and decipher), once with
// the status read's callback and once with discovery's capture callback; the
// authenticated-only entry may never accept what the plain one refuses.
#include <cstring>
#include <memory>

#include "fuzz/FuzzSnmpV3.h"
#include "netio/Discovery.h"

namespace {

const char* const kCaptured[] = {"1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.5.0",
                                  "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0",
                                  "1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0"};

CNetIO& Discoverer() {
  static CNetIO* net = [] {
    FUZZ_CHECK(EncodeCaptureOid(kCaptured[0], _sysObjIdOid, &_sysObjIdOidLen));
    FUZZ_CHECK(EncodeCaptureOid(kCaptured[1], _sysNameOid, &_sysNameOidLen));
    FUZZ_CHECK(EncodeCaptureOid(kCaptured[2], _pvtFwVerOid, &_pvtFwVerOidLen));
    FUZZ_CHECK(EncodeCaptureOid(kCaptured[3], _pvtMcuVerOid, &_pvtMcuVerOidLen));
    auto* n = new CNetIO;
    n->InitTargetOID("1.3.6.1.4.1.40719.886.1", "1.3.6.1.4.1.40719.886.2.1");
    return n;
  }();
  return *net;
}

// Parses a private copy of exactly `size` octets: the parser writes in place.
int Parse(const uint8_t* data, size_t size, SnmpValueCallback callback, bool authenticated,
          _SNMP_PARAM_V3* params) {
  std::unique_ptr<unsigned char[]> msg(new unsigned char[size]);
  memcpy(msg.get(), data, size);
  *params = fuzz::Params(callback);
  int version = -1;
  unsigned char requestId, errorStatus, errorIndex;
  const int length = static_cast<int>(size);
  const int result =
      authenticated
          ? CNetIO::parseSnmpV3AuthenticatedResponse(msg.get(), length, &version, &requestId,
                                                     &errorStatus, &errorIndex, params)
          : CNetIO::parseSnmpV3Response(msg.get(), length, &version, &requestId, &errorStatus,
                                        &errorIndex, params);
  FUZZ_CHECK(result == 0 || result == 1);
  FUZZ_CHECK(params->engineIDLen >= 0 && params->engineIDLen <= kSnmpV3MaxEngineIdLen);
  if (result == 1) FUZZ_CHECK(version >= 0 && version <= 0xFF);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kSnmpV3WorkSize) return 0;  // the reads receive at most 2048 octets
  CNetIO& net = Discoverer();
  _SNMP_PARAM_V3 params;
  const int plain = Parse(data, size, outputDeviceIdValue, false, &params);
  FUZZ_CHECK(strnlen(g_deviceid, kDeviceIdSize) < kDeviceIdSize);

  if (Parse(data, size, searchAgentProCallbackEx2, true, &params) == 1) FUZZ_CHECK(plain == 1);
  FUZZ_CHECK(_sysObjIdLen >= 0 && _sysObjIdLen <= kCaptureSize);
  FUZZ_CHECK(strnlen(_sysNameValue, kCaptureSize) < kCaptureSize);
  FUZZ_CHECK(strnlen(_pvtFwVerValue, kCaptureSize) < kCaptureSize);
  FUZZ_CHECK(strnlen(_pvtMcuVerValue, kCaptureSize) < kCaptureSize);
  net.MatchesTargetOid(_sysObjIdValue, _sysObjIdLen);
  return 0;
}
