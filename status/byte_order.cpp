#include "status/TavraCmd.h"

#include <utility>

void Big2LittleEndian(uint32_t* value) {
  const uint16_t probe = 1;
  if (*reinterpret_cast<const unsigned char*>(&probe) == 1) return;
  unsigned char* b = reinterpret_cast<unsigned char*>(value);
  std::swap(b[0], b[3]);
  std::swap(b[1], b[2]);
}
