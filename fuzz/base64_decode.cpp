// base64_decode over arbitrary text into every capacity up to 255 octets, and
// the encoder's text for the same octets read back.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "status/TavraCmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const unsigned capacity = in.Byte();
  const std::string rest = in.Bytes(in.remaining());

  // Exactly `capacity` octets, so a store past them is caught.
  std::unique_ptr<unsigned char[]> target(new unsigned char[capacity]);
  const auto source = fuzz::Copy(rest.c_str(), rest.size() + 1);
  const int stored = base64_decode(reinterpret_cast<const char*>(source.get()), target.get(),
                                   capacity);
  FUZZ_CHECK(stored >= -1 && stored <= static_cast<int>(capacity));

  const unsigned n = static_cast<unsigned>(rest.size());
  const unsigned textSize = 4 * ((n + 2) / 3) + 1;
  std::unique_ptr<char[]> text(new char[textSize]);
  FUZZ_CHECK(base64_encode(reinterpret_cast<const unsigned char*>(rest.data()), n, text.get(),
                           textSize - 1) == 0);
  FUZZ_CHECK(base64_encode(reinterpret_cast<const unsigned char*>(rest.data()), n, text.get(),
                           textSize) == 1);
  FUZZ_CHECK(strlen(text.get()) == textSize - 1);
  std::unique_ptr<unsigned char[]> back(new unsigned char[n]);
  FUZZ_CHECK(base64_decode(text.get(), back.get(), n) == static_cast<int>(n));
  FUZZ_CHECK(n == 0 || memcmp(back.get(), rest.data(), n) == 0);
  return 0;
}
