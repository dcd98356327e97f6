// An SNMPv3 answer whose scoped PDU is the fuzzer's, sealed with the fixed
// engine's keys (enciphered when the first octet asks for privacy), so the
// mutations reach the reading of the deciphered scoped PDU and the callbacks.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kSnmpV3WorkSize) return 0;
  fuzz::Input in{data, data + size};
  const uint8_t variant = in.Byte();
  snmpv3test::Message m;
  m.engineId.assign(fuzz::kEngineId, fuzz::kEngineId + sizeof fuzz::kEngineId);
  m.boots = 7;
  m.time = 4000;
  m.user = fuzz::Setup().credentials.userName;
  const std::string message = fuzz::Seal(m, in.Bytes(in.remaining()), variant & 1,
                                         std::string("\0\0\0\x07\x11\x22\x33\x44", 8));
  const auto msg = fuzz::Copy(message.data(), message.size());
  _SNMP_PARAM_V3 params =
      fuzz::Params(variant & 2 ? searchAgentProCallbackEx2 : outputDeviceIdValue);
  unsigned char errorStatus, errorIndex;
  const int result = CNetIO::parseSnmpV3AuthenticatedResponse(
      msg.get(), int(message.size()), nullptr, nullptr, &errorStatus, &errorIndex, &params);
  FUZZ_CHECK(result == 0 || result == 1);
  // Stored before the code is checked, whatever the scoped PDU holds.
  FUZZ_CHECK(params.engineIDLen == sizeof fuzz::kEngineId &&
             memcmp(params.engineID, fuzz::kEngineId, sizeof fuzz::kEngineId) == 0);
  FUZZ_CHECK(params.engineBoots == 7 && params.engineTime == 4000);
  fuzz::CheckCaptureBuffers();
  return 0;
}
