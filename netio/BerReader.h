// Bounded BER reading: a cursor and an end. Every fetch checks what it needs
// lies before the end; a constructed element hands out a reader whose end is
// that element's own end, so an inner length can never reach past its container.
#pragma once

#include <cstddef>
#include <cstdint>

#include "netio/refusal.h"

namespace netio {

class BerReader {
 public:
  BerReader() = default;
  BerReader(const uint8_t* begin, const uint8_t* end) : p_(begin), end_(end) {}
  BerReader(const uint8_t* begin, size_t size) : p_(begin), end_(begin + size) {}

  const uint8_t* cursor() const { return p_; }
  const uint8_t* end() const { return end_; }
  size_t remaining() const { return static_cast<size_t>(end_ - p_); }
  bool empty() const { return p_ >= end_; }

  bool Byte(uint8_t* out) {
    if (empty()) return Refuse(Refusal::kTruncated);
    *out = *p_++;
    return true;
  }

  // The next octet equals `tag`; consumed only then.
  bool Tag(uint8_t tag) {
    if (empty()) return Refuse(Refusal::kTruncated);
    if (*p_ != tag) return Refuse(Refusal::kTag);
    ++p_;
    return true;
  }

  // A definite length: short form, long form of up to four octets, or the lone
  // 0x80 read as 0. A longer length-of-length cannot be held in 32 bits and is
  // refused. The value is not checked against the remaining octets here.
  bool Length(uint32_t* out) {
    uint8_t first;
    if (!Byte(&first)) return false;
    if (first < 0x80) {
      *out = first;
      return true;
    }
    const size_t k = first & 0x7F;
    if (k > 4) return Refuse(Refusal::kLength);
    if (k > remaining()) return Refuse(Refusal::kTruncated);
    uint32_t value = 0;
    for (size_t i = 0; i < k; ++i) value = (value << 8) | *p_++;
    *out = value;
    return true;
  }

  // `n` octets of contents, handed out as a reader of their own.
  bool Take(size_t n, BerReader* contents) {
    if (n > remaining()) return Refuse(Refusal::kLength);
    *contents = BerReader(p_, n);
    p_ += n;
    return true;
  }

  // Tag, length and contents; the contents must lie within this reader.
  bool Element(uint8_t tag, BerReader* contents) {
    uint32_t n;
    return Tag(tag) && Length(&n) && Take(n, contents);
  }

  // Like Element, for any tag, which is reported.
  bool AnyElement(uint8_t* tag, BerReader* contents) {
    uint32_t n;
    return Byte(tag) && Length(&n) && Take(n, contents);
  }

 private:
  const uint8_t* p_ = nullptr;
  const uint8_t* end_ = nullptr;
};

}  // namespace netio
