#include "status/TavraCmd.h"

#include <cstring>

namespace {

constexpr char kStatusKey[] = "STS:";
constexpr size_t kStatusKeyLength = sizeof kStatusKey - 1;

}  // namespace

// The first "STS:" anywhere wins, even inside another key's value. Letters of
// keys after the field read as base64 and overflow the record, so only a
// device ID that ends with the field decodes.
int DecodStatusFromDeviceID(const char* deviceId, PRINTER_STATUS* status) {
  if (!deviceId || !status || *deviceId == '\0') return -1;
  const char* p = deviceId;
  // strncmp stops at the terminator, so a text shorter than the key is safe.
  while (strncmp(p, kStatusKey, kStatusKeyLength) != 0) {
    if (*++p == '\0') return -1;
  }
  int n = base64_decode(p + kStatusKeyLength, reinterpret_cast<unsigned char*>(status),
                        sizeof *status);
  return n == static_cast<int>(sizeof *status) ? 0 : -1;
}

int CTavraCmd::DecodStatusFromDeviceID(char* deviceId, PRINTER_STATUS* status) {
  return ::DecodStatusFromDeviceID(deviceId, status);
}
