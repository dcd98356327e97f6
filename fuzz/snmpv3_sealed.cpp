// An SNMPv3 answer whose scoped PDU is the fuzzer's, sealed with the fixed
// engine's keys (enciphered when the first octet asks for privacy), so the
// mutations reach the reading of the deciphered scoped PDU and the callbacks.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kSnmpV3WorkSize) return 0;
  fuzz::Input in{data, data + size};
  const uint8_t variant = in.Byte();
  fuzz::Envelope e;
  e.privacy = variant & 1;
  e.boots = 7;
  e.time = 4000;
  e.msgId = 1;
  e.user = fuzz::Setup().credentials.userName;
  memcpy(e.salt, "\x00\x00\x00\x07\x11\x22\x33\x44", sizeof e.salt);
  const std::string message = fuzz::Seal(e, in.Bytes(in.remaining()));
  if (message.empty()) return 0;
  const auto msg = fuzz::Copy(message.data(), message.size());
  _SNMP_PARAM_V3 params = fuzz::Params(variant & 2 ? searchAgentProCallbackEx2 : outputDeviceIdValue);
  unsigned char errorStatus, errorIndex;
  const int result = CNetIO::parseSnmpV3AuthenticatedResponse(msg.get(), int(message.size()), nullptr,
                                                              nullptr, &errorStatus, &errorIndex, &params);
  FUZZ_CHECK(result == 0 || result == 1);
  // Stored before the code is checked, whatever the scoped PDU holds.
  FUZZ_CHECK(params.engineIDLen == sizeof fuzz::kEngineId &&
             memcmp(params.engineID, fuzz::kEngineId, sizeof fuzz::kEngineId) == 0);
  FUZZ_CHECK(params.engineBoots == 7 && params.engineTime == 4000);
  fuzz::CheckCaptureBuffers();
  return 0;
}
