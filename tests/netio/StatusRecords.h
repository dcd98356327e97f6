// Status records as the read tests compare them.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "status/TavraCmd.h"

namespace testnetio {

inline std::vector<uint8_t> RecordBytes(const PRINTER_STATUS& status) {
  return std::vector<uint8_t>(&status.blackLevel, &status.blackLevel + sizeof status);
}
// A record no read wrote: any change shows.
inline PRINTER_STATUS Untouched() {
  PRINTER_STATUS status;
  memset(&status, 0xEE, sizeof status);
  return status;
}

}  // namespace testnetio
