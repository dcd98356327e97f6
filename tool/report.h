// The supply report: one row of the Printer MIB's marker-supplies table
// (RFC 3805) as a property list, without any line break.
#pragma once

#include <cstdio>

// Writes the report for `blackLevel` (its top bit cleared) and flushes it;
// the description's & < > " ' are written as XML entities.
// False when it could not be written whole.
bool WriteSupplyReport(FILE* out, const char* description, unsigned char blackLevel);
