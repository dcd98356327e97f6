// CNetIO::parseLength within its five-octet window, checked against
// readIntValue and against berEncodeLength's minimal form; readIntValue over
// the whole input.
#include <cstring>
#include <memory>

#include "fuzz/FuzzSupport.h"
#include "netio/NetIO.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<unsigned char[]> window(new unsigned char[5]());
  memcpy(window.get(), data, size < 5 ? size : 5);
  int length = -1;
  const unsigned char* contents = CNetIO::parseLength(window.get(), &length);
  const unsigned first = window[0];
  const unsigned k = first & 0x7F;
  if (first < 0x80 || k == 0) {
    FUZZ_CHECK(contents == window.get() + 1);
    FUZZ_CHECK(length == static_cast<int>(first < 0x80 ? first : 0));
  } else if (k > 4 || readIntValue(window.get() + 1, static_cast<int>(k)) > INT32_MAX) {
    FUZZ_CHECK(contents == nullptr);
  } else {
    FUZZ_CHECK(contents == window.get() + 1 + k);
    FUZZ_CHECK(static_cast<uint32_t>(length) == readIntValue(window.get() + 1, static_cast<int>(k)));
  }
  if (contents) {
    unsigned char encoded[5];
    unsigned char* front = CNetIO::berEncodeLength(encoded + sizeof encoded,
                                                   static_cast<uint32_t>(length));
    FUZZ_CHECK(front >= encoded);
    int again = -1;
    std::unique_ptr<unsigned char[]> copy(new unsigned char[5]());
    memcpy(copy.get(), front, static_cast<size_t>(encoded + sizeof encoded - front));
    FUZZ_CHECK(CNetIO::parseLength(copy.get(), &again) == copy.get() + (encoded + 5 - front));
    FUZZ_CHECK(again == length);
  }

  uint32_t expected = 0;
  for (size_t i = 0; i < size; ++i) expected = expected << 8 | data[i];
  FUZZ_CHECK(readIntValue(data, static_cast<int>(size)) == expected);
  return 0;
}
