// USM keys for many engines at the cost of one password digest each: the
// 1 MiB expansion (RFC 3414 A.2.1) depends on the password alone, so it is
// done once per password and process, and only the short localisation step
// is repeated per engine. Single-threaded, like the MD5 module under it.
#pragma once

#include <cstdint>

#include "netio/SnmpV3.h"
#include "netio/Usm.h"

namespace netio {

// The key Password_to_Key_md5 gives for `password` and `engineID`; false,
// key zeroed, for what that function refuses.
bool CachedLocalisedKey(const char* password, const uint8_t* engineID, unsigned engineIDLen,
                        uint8_t key[kUsmKeyLen]);

// The record's authentication and privacy keys for its engine and passwords.
bool LocaliseRecordKeys(_SNMP_PARAM_V3* params);

}  // namespace netio
