#include "status/TavraCmd.h"

#include <cstdlib>
#include <cstring>

const char* BASE64_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

// The decoder's working copy ends in four "=", so text that stops mid-group
// decodes as if padded.
constexpr char kPadding[] = "====";
constexpr size_t kPaddingLength = sizeof kPadding - 1;

bool IsSignificant(char c) { return c == '=' || _base64_char_value(c) >= 0; }

// Takes the next four significant characters of [*cursor, end) into group.
bool NextGroup(const char** cursor, const char* end, char group[4]) {
  int taken = 0;
  for (const char* p = *cursor; p < end; ++p) {
    if (!IsSignificant(*p)) continue;
    group[taken++] = *p;
    if (taken == 4) {
      *cursor = p + 1;
      return true;
    }
  }
  return false;
}

}  // namespace

void _base64_encode_triple(const unsigned char triple[3], char result[4]) {
  unsigned long v = (static_cast<unsigned long>(triple[0]) << 16) |
                    (static_cast<unsigned long>(triple[1]) << 8) | triple[2];
  result[0] = BASE64_CHARS[(v >> 18) & 63];
  result[1] = BASE64_CHARS[(v >> 12) & 63];
  result[2] = BASE64_CHARS[(v >> 6) & 63];
  result[3] = BASE64_CHARS[v & 63];
}

int _base64_char_value(char base64char) {
  unsigned char c = static_cast<unsigned char>(base64char);
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int _base64_decode_triple(const char quadruple[4], unsigned char* result) {
  int value[4];
  for (int i = 0; i < 4; ++i) value[i] = _base64_char_value(quadruple[i]);

  int count = 3;
  bool padding = false;
  if (value[3] < 0) {
    if (quadruple[3] != '=') return 0;
    count = 2;
    value[3] = 0;
    padding = true;
  }
  // "=" may only continue padding that began further right.
  for (int i = 2; i >= 0; --i) {
    if (value[i] >= 0) {
      padding = false;
      continue;
    }
    if (!padding || quadruple[i] != '=') return 0;
    --count;
    value[i] = 0;
  }
  if (count < 0) count = 0;

  unsigned long v = (static_cast<unsigned long>(value[0]) << 18) |
                    (static_cast<unsigned long>(value[1]) << 12) |
                    (static_cast<unsigned long>(value[2]) << 6) | value[3];
  for (int i = 0; i < count; ++i) result[i] = static_cast<unsigned char>(v >> (16 - 8 * i));
  return count;
}

int base64_encode(const unsigned char* source, unsigned int sourcelen, char* target,
                  unsigned int targetlen) {
  unsigned long long needed = 4ULL * ((sourcelen + 2ULL) / 3) + 1;
  if (needed > targetlen) return 0;

  const unsigned char* end = source + sourcelen;
  while (end - source >= 3) {
    _base64_encode_triple(source, target);
    source += 3;
    target += 4;
  }
  if (end > source) {
    unsigned char last[3] = {0, 0, 0};
    memcpy(last, source, static_cast<size_t>(end - source));
    _base64_encode_triple(last, target);
    target[3] = '=';
    if (end - source == 1) target[2] = '=';
    target += 4;
  }
  *target = '\0';
  return 1;
}

int base64_decode(const char* source, unsigned char* target, unsigned int targetlen) {
  size_t length = strlen(source);
  char* copy = static_cast<char*>(malloc(length + kPaddingLength + 1));
  if (!copy) return -1;
  memcpy(copy, source, length);
  memcpy(copy + length, kPadding, kPaddingLength + 1);

  const char* cursor = copy;
  const char* end = copy + length + kPaddingLength;
  unsigned int stored = 0;
  char group[4];
  unsigned char bytes[3];
  while (NextGroup(&cursor, end, group)) {
    int n = _base64_decode_triple(group, bytes);
    if (static_cast<unsigned int>(n) > targetlen - stored) {
      free(copy);
      return -1;
    }
    memcpy(target + stored, bytes, static_cast<size_t>(n));
    stored += static_cast<unsigned int>(n);
    if (n < 3) break;
  }
  free(copy);
  return static_cast<int>(stored);
}
