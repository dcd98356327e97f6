// Shared by the fuzz targets: a check that aborts (libFuzzer reports it as a
// crash, the replay test as a failure), a bounded reader over the input, and
// the fixed SNMPv3 engine the targets and the seed capture agree on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(cond)                                                      \
  do {                                                                        \
    if (!(cond)) {                                                            \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                                \
    }                                                                         \
  } while (0)

namespace fuzz {

// Engine ID of the agent whose answers seed the SNMPv3 corpora; the targets
// localise the configured passwords to it once, at start-up.
constexpr uint8_t kEngineId[] = {0x80, 0x00, 0x0B, 0x93, 0x03, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0xF0, 0x22};
constexpr char kEngineIdHex[] = "80000B9303000000000000F022";

// Takes fields off the front of the input; past its end every field reads 0
// or empty, so any input yields one well-defined case.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  size_t remaining() const { return static_cast<size_t>(end_ - p_); }

  uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) << 16 | U16(); }

  std::string Bytes(size_t n) {
    if (n > remaining()) n = remaining();
    std::string out(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return out;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

}  // namespace fuzz
