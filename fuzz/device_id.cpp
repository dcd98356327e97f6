// The device-ID decoder on arbitrary text: a record is reported only when
// "STS:" is there and exactly 108 octets decode after it.
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "status/TavraCmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  PRINTER_STATUS free, member;
  memset(&free, 0xEE, sizeof free);
  memset(&member, 0xEE, sizeof member);
  const int result = DecodStatusFromDeviceID(text.c_str(), &free);
  FUZZ_CHECK(result == 0 || result == -1);
  CTavraCmd cmd;
  FUZZ_CHECK(cmd.DecodStatusFromDeviceID(&text[0], &member) == result);
  FUZZ_CHECK(memcmp(&free, &member, sizeof free) == 0);
  if (result == 0) FUZZ_CHECK(strstr(text.c_str(), "STS:") != nullptr);
  return 0;
}
