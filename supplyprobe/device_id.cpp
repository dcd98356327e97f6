#include "supplyprobe/device_id.h"

#include <strings.h>

namespace supplyprobe {

namespace {

bool LengthFits(unsigned length, size_t arrived) { return length >= 2 && length <= arrived; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string Trimmed(const char* begin, const char* end) {
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
  return std::string(begin, end);
}

}  // namespace

bool ExtractDeviceId(const uint8_t* p, const uint8_t* end, std::string* id, std::string* fault) {
  size_t arrived = static_cast<size_t>(end - p);
  if (arrived < 2) {
    *fault = "a reply of " + std::to_string(arrived) + " octets, too short for its length";
    return false;
  }
  unsigned length = (unsigned(p[0]) << 8) | p[1];
  // Some printers send the length least significant octet first.
  if (!LengthFits(length, arrived)) length = (unsigned(p[1]) << 8) | p[0];
  if (!LengthFits(length, arrived)) {
    *fault = "a length prefix of " + std::to_string((unsigned(p[0]) << 8) | p[1]) + " for " +
             std::to_string(arrived) + " octets that arrived";
    return false;
  }
  const uint8_t* text = p + 2;
  const uint8_t* textEnd = p + length;
  while (textEnd > text && (textEnd[-1] == 0 || textEnd[-1] == '\n' || textEnd[-1] == '\r')) --textEnd;
  for (const uint8_t* c = text; c < textEnd; ++c) {
    // The ID must stay one line of text for whoever reads our output.
    if (*c == 0 || *c == '\n' || *c == '\r') {
      *fault = "a device ID with a NUL or line break inside";
      return false;
    }
  }
  if (text == textEnd) {
    *fault = "an empty device ID";
    return false;
  }
  id->assign(reinterpret_cast<const char*>(text), static_cast<size_t>(textEnd - text));
  return true;
}

std::string DeviceIdValue(const std::string& id, const char* key) {
  std::string value;
  const char* p = id.data();
  const char* end = p + id.size();
  while (p < end) {
    const char* colon = p;
    while (colon < end && *colon != ':') ++colon;
    if (colon == end) break;
    const char* semicolon = colon + 1;
    while (semicolon < end && *semicolon != ';') ++semicolon;
    if (semicolon == end) break;
    if (strcasecmp(Trimmed(p, colon).c_str(), key) == 0) value = Trimmed(colon + 1, semicolon);
    p = semicolon + 1;
  }
  return value;
}

}  // namespace supplyprobe
