// base64_decode over arbitrary text into every capacity up to 255 octets, and
// the encoder's text for the same octets read back.
#include "fuzz/FuzzSupport.h"
#include "status/TavraCmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const unsigned capacity = size ? data[0] : 0;
  const std::string rest(reinterpret_cast<const char*>(data) + (size ? 1 : 0), size ? size - 1 : 0);
  const auto target = fuzz::Copy(nullptr, capacity);  // exactly `capacity` octets
  const auto source = fuzz::Copy(rest.c_str(), rest.size() + 1);
  const int stored =
      base64_decode(reinterpret_cast<const char*>(source.get()), target.get(), capacity);
  FUZZ_CHECK(stored >= -1 && stored <= int(capacity));

  const auto octets = reinterpret_cast<const unsigned char*>(rest.data());
  const unsigned n = unsigned(rest.size()), textSize = 4 * ((n + 2) / 3) + 1;
  std::unique_ptr<char[]> text(new char[textSize]);
  FUZZ_CHECK(base64_encode(octets, n, text.get(), textSize - 1) == 0);
  FUZZ_CHECK(base64_encode(octets, n, text.get(), textSize) == 1 &&
             strlen(text.get()) == textSize - 1);
  const auto back = fuzz::Copy(nullptr, n);
  FUZZ_CHECK(base64_decode(text.get(), back.get(), n) == int(n));
  FUZZ_CHECK(n == 0 || memcmp(back.get(), octets, n) == 0);
  return 0;
}
