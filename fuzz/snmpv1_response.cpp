// The SNMPv1 reader on an arbitrary datagram: CNetIO::parseGetResponse with
// every out-pointer and each value callback, and the three readers built on it.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kDeviceIdSize) return 0;  // the reads receive at most 4024 octets
  CNetIO& discoverer = fuzz::Setup().discoverer;
  const int length = int(size);
  const int plain =
      CNetIO::parseGetResponse(data, length, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  FUZZ_CHECK(plain == 0 || plain == 1);
  for (SnmpValueCallback callback : {outputRecvBufValue, outputDeviceIdValue, outputOidValue}) {
    int version = -1;
    const auto community = fuzz::Copy(nullptr, kCommunityOutSize);
    unsigned char requestId, errorStatus, errorIndex;
    const int result =
        CNetIO::parseGetResponse(data, length, &version, reinterpret_cast<char*>(community.get()),
                                 &requestId, &errorStatus, &errorIndex, callback);
    // Only a community too long for the out-buffer may fail where the bare read passed.
    FUZZ_CHECK(result == plain || (plain == 1 && result == 0));
    if (result == 1)
      FUZZ_CHECK(version >= 0 && version <= 0xFF &&
                 strnlen(reinterpret_cast<char*>(community.get()), kCommunityOutSize) <
                     kCommunityOutSize);
  }
  FUZZ_CHECK(sysObjIdLen >= 0 && sysObjIdLen <= kSysObjIdSize);
  const auto out = fuzz::Copy(nullptr, kRecvBufSize);
  const int text = CNetIO::parseForRecvBuf(data, length, reinterpret_cast<char*>(out.get()));
  FUZZ_CHECK(text == 0 ||
             (text == 1 && plain == 1 &&
              strnlen(reinterpret_cast<char*>(out.get()), kRecvBufSize) < kRecvBufSize));
  // An earlier printer's device ID left behind must never be decoded as this one's.
  snprintf(g_deviceid, kDeviceIdSize, "STS:%s", std::string(144, 'A').c_str());
  PRINTER_STATUS status;
  if (CNetIO::parseForDeviceId(data, length, &status))
    FUZZ_CHECK(plain == 1 && memmem(data, size, "STS:", 4));
  FUZZ_CHECK(strnlen(g_deviceid, kDeviceIdSize) < kDeviceIdSize);
  const int matched = discoverer.parseForOID(data, length, nullptr, 0);
  FUZZ_CHECK(matched == 0 || (matched == 1 && plain == 1 && sysObjIdLen > 4));
  return 0;
}
