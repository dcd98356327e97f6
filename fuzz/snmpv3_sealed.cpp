// An SNMPv3 answer around the fuzzer's scoped PDU, sealed with the fixed engine's keys (enciphered
// when the first octet asks), so mutations reach past HMAC and DES.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kSnmpV3WorkSize) return 0;
  const uint8_t variant = size ? data[0] : 0;
  _SNMP_PARAM_V3 params =
      fuzz::Params(variant & 2 ? searchAgentProCallbackEx2 : outputDeviceIdValue);
  const snmpv3test::Bytes engine(std::begin(fuzz::kEngineId), std::end(fuzz::kEngineId));
  snmpv3test::Message m =
      snmpv3test::Response(engine, params.userName, params.authKey, params.privKey, "");
  if (size) m.scoped.assign(data + 1, data + size);
  if (!(variant & 1)) m.flags = kSnmpV3FlagAuth, m.salt.clear();
  const snmpv3test::Bytes message = snmpv3test::Encode(m);
  const auto msg = fuzz::Copy(message.data(), message.size());
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
