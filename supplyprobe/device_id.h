// The IEEE 1284 device ID as a USB printer sends it, and the keys in it.
#pragma once

#include <cstdint>
#include <string>

namespace supplyprobe {

// GET_DEVICE_ID asks for this much: two length octets and up to 1023 of text.
constexpr size_t kDeviceIdReplyMax = 2 + 1023;

// Takes the device ID out of the reply [p, end): the length prefix counts
// itself and is most significant octet first, or, when that does not fit what
// arrived, least significant first. Trailing NULs and line ends are dropped.
// On failure `fault` says what was wrong with the reply.
bool ExtractDeviceId(const uint8_t* p, const uint8_t* end, std::string* id, std::string* fault);

// The value of `key` (case-insensitive) as the print system reads it: blanks
// around keys and values trimmed, a pair without its closing ';' ignored, a
// later pair replacing an earlier one. "" when the key is missing.
std::string DeviceIdValue(const std::string& id, const char* key);

}  // namespace supplyprobe
