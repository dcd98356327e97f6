// The objects the system asks for, each as its text and its encoded
// contents side by side: one name per object, and the two forms are checked
// against each other by the tests, not re-derived at run time.
#pragma once

#include <cstddef>

namespace netio {

struct KnownOid {
  const char* text;
  const unsigned char* encoded;  // OBJECT IDENTIFIER contents
  size_t length;
};

extern const KnownOid kSysObjectIdOid;  // sysObjectID.0
extern const KnownOid kSysNameOid;      // sysName.0
extern const KnownOid kDeviceIdOid;     // the IEEE 1284 device ID with the status field
extern const KnownOid kFwVersionOid;    // firmware version
extern const KnownOid kMcuVersionOid;   // MCU firmware version

}  // namespace netio
