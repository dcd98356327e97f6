// Every prefix of an accepted message is refused; every single-octet edit is refused or decodes
// the same. Each variant lies in an exactly sized heap buffer, so ASan reports a read past it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace msgprop {

using Bytes = std::vector<uint8_t>;
// What the decoder made of the octets (which it may change in place), or nothing if refused.
using Decode = std::function<std::optional<std::string>(uint8_t* data, size_t size)>;

inline std::optional<std::string> DecodeExact(const Decode& decode, const Bytes& msg) {
  auto copy = std::make_unique<uint8_t[]>(msg.size());
  if (!msg.empty()) memcpy(copy.get(), msg.data(), msg.size());
  return decode(copy.get(), msg.size());
}

inline void ExpectEveryPrefixRefused(const Bytes& msg, const Decode& decode) {
  ASSERT_TRUE(DecodeExact(decode, msg)) << "the whole message is refused";
  for (size_t n = 0; n < msg.size(); ++n)
    if (DecodeExact(decode, Bytes(msg.begin(), msg.begin() + long(n))))
      return ADD_FAILURE() << "the prefix of " << n << " of " << msg.size() << " is accepted";
}

inline void ExpectEveryEditRefusedOrSame(const Bytes& msg, const Decode& decode) {
  const std::optional<std::string> whole = DecodeExact(decode, msg);
  ASSERT_TRUE(whole) << "the whole message is refused";
  for (size_t i = 0; i < msg.size() * 256; ++i) {
    Bytes edited = msg;
    edited[i / 256] = uint8_t(i);
    const std::optional<std::string> got = DecodeExact(decode, edited);
    if (got && *got != *whole)
      return ADD_FAILURE() << "octet " << i / 256 << " set to " << i % 256 << ": " << *got;
  }
}

}  // namespace msgprop
