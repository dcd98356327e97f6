// The device-ID decoder on arbitrary text: a record's base64 text is the first 144 significant
// characters after the first "STS:".
#include <cctype>

#include "fuzz/FuzzSupport.h"
#include "status/TavraCmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  PRINTER_STATUS status;
  memset(&status, 0xEE, sizeof status);
  CTavraCmd cmd;
  const int result = cmd.DecodStatusFromDeviceID(
      reinterpret_cast<char*>(fuzz::Copy(text.c_str(), size + 1).get()), &status);
  FUZZ_CHECK(result == 0 || result == -1);
  if (result != 0) return 0;
  const char* field = strstr(text.c_str(), "STS:");
  FUZZ_CHECK(field != nullptr);
  std::string significant;
  for (const char* p = field + 4; *p && significant.size() < 144; ++p)
    if (isalnum(static_cast<unsigned char>(*p)) || *p == '+' || *p == '/' || *p == '=')
      significant += *p;
  char encoded[145];
  FUZZ_CHECK(base64_encode(&status.blackLevel, sizeof status, encoded, sizeof encoded) == 1);
  FUZZ_CHECK(significant == encoded);
  return 0;
}
