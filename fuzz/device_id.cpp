// The device-ID decoder on arbitrary text: a record is reported only when
// "STS:" is there and exactly 108 octets decode after it, and then those are
// the octets whose base64 text follows the key.
#include <cctype>
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "status/TavraCmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  PRINTER_STATUS viaFunction, viaMember;
  memset(&viaFunction, 0xEE, sizeof viaFunction);
  memset(&viaMember, 0xEE, sizeof viaMember);
  const auto exact = fuzz::Copy(text.c_str(), size + 1);
  const int result = DecodStatusFromDeviceID(reinterpret_cast<const char*>(exact.get()),
                                             &viaFunction);
  FUZZ_CHECK(result == 0 || result == -1);
  CTavraCmd cmd;
  FUZZ_CHECK(cmd.DecodStatusFromDeviceID(&text[0], &viaMember) == result);
  FUZZ_CHECK(memcmp(&viaFunction, &viaMember, sizeof viaFunction) == 0);
  if (result != 0) return 0;

  // The record's own base64 text must be the first 144 significant
  // characters after the first "STS:", separators skipped.
  const char* field = strstr(text.c_str(), "STS:");
  FUZZ_CHECK(field != nullptr);
  std::string significant;
  for (const char* p = field + 4; *p && significant.size() < 144; ++p)
    if (isalnum(static_cast<unsigned char>(*p)) || *p == '+' || *p == '/' || *p == '=')
      significant += *p;
  char encoded[145];
  FUZZ_CHECK(base64_encode(&viaFunction.blackLevel, sizeof viaFunction, encoded, sizeof encoded) == 1);
  FUZZ_CHECK(significant == encoded);
  return 0;
}
