// Both SNMPv3 readers on an arbitrary datagram with the fixed engine's keys: the authenticated
// one (discovery's callback) never accepts what the plain one (the status read's) refuses.
#include "fuzz/FuzzSupport.h"

static int Parse(const uint8_t* data, size_t size, SnmpValueCallback callback, bool authenticated) {
  const auto msg = fuzz::Copy(data, size);
  _SNMP_PARAM_V3 params = fuzz::Params(callback);
  int version = -1;
  unsigned char requestId, errorStatus, errorIndex;
  const int result =
      (authenticated ? CNetIO::parseSnmpV3AuthenticatedResponse : CNetIO::parseSnmpV3Response)(
          msg.get(), int(size), &version, &requestId, &errorStatus, &errorIndex, &params);
  FUZZ_CHECK(result == 0 || result == 1);
  FUZZ_CHECK(params.engineIDLen >= 0 && params.engineIDLen <= kSnmpV3MaxEngineIdLen);
  FUZZ_CHECK(result == 0 || (version >= 0 && version <= 0xFF));
  return result;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kSnmpV3WorkSize) return 0;  // the reads receive at most 2048 octets
  const int plain = Parse(data, size, outputDeviceIdValue, false);
  if (Parse(data, size, searchAgentProCallbackEx2, true) == 1) FUZZ_CHECK(plain == 1);
  fuzz::CheckCaptureBuffers();
  fuzz::Setup().discoverer.MatchesTargetOid(_sysObjIdValue, _sysObjIdLen);
  return 0;
}
