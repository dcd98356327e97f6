// Back-to-front BER writing: contents first, then length, then tag, with the
// cursor moving down from the end of a work area and never below its start.
// A write that does not fit fails and leaves the cursor where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace netio {

class BerWriter {
 public:
  BerWriter(uint8_t* start, uint8_t* end) : start_(start), end_(end), p_(end) {}
  BerWriter(uint8_t* start, size_t size) : BerWriter(start, start + size) {}

  uint8_t* front() const { return p_; }
  // Octets written so far; differences of two marks measure an element's contents.
  size_t size() const { return static_cast<size_t>(end_ - p_); }

  bool Byte(uint8_t b) {
    if (p_ == start_) return false;
    *--p_ = b;
    return true;
  }

  bool Bytes(const void* data, size_t n) {
    if (n > static_cast<size_t>(p_ - start_)) return false;
    p_ -= n;
    if (n) memcpy(p_, data, n);
    return true;
  }

  // Minimal definite length: 0..127 in one octet, else 0x80|k and k octets.
  bool Length(uint32_t n) {
    uint8_t octets[5];
    size_t k = 0;
    do {
      octets[4 - k++] = static_cast<uint8_t>(n);
      n >>= 8;
    } while (n != 0);
    if (k > 1 || octets[4] >= 0x80) {
      octets[4 - k] = static_cast<uint8_t>(0x80 | k);
      ++k;
    }
    return Bytes(octets + 5 - k, k);
  }

  // Tag and length before contents of `n` octets already written.
  bool Header(uint8_t tag, size_t n) {
    return n <= UINT32_MAX && Length(static_cast<uint32_t>(n)) && Byte(tag);
  }

  // The same for layouts fixed to one length octet: longer contents are refused.
  bool ShortHeader(uint8_t tag, size_t n) { return n <= 0x7F && Header(tag, n); }

 private:
  uint8_t* start_;
  uint8_t* end_;
  uint8_t* p_;
};

}  // namespace netio
