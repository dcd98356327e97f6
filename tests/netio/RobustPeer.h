// Shared by the robustness tests: hostile datagrams made from a valid answer,
// and the process's resident memory and open descriptors, which many reads
// under attack must leave where they were.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace robust {

using Bytes = std::vector<uint8_t>;

// The largest UDP payload over IPv4.
constexpr size_t kMaxDatagram = 65507;

inline Bytes Junk(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

struct Hostile {
  std::string what;
  Bytes bytes;
};

// Everything a flood around `valid` carries that must never count: junk of
// several sizes, every kind of cut, the answer with octets added, a length
// that claims the whole address space, and datagrams as large as UDP allows.
inline std::vector<Hostile> HostileFrom(const Bytes& valid) {
  std::vector<Hostile> out = {
      // recvfrom gives 0 for it, as for a time-out: it must not end a read.
      {"an empty datagram", {}},
      {"one junk octet", Junk(1, 1)},
      {"64 junk octets", Junk(64, 2)},
      {"a SEQUENCE of 2^32 - 1 octets", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x01, 0x00}},
      {"a length of five octets", {0x30, 0x85, 0x01, 0x00, 0x00, 0x00, 0x05, 0x02}},
      {"junk of the largest datagram", Junk(kMaxDatagram, 3)},
  };
  for (size_t cut : {size_t{1}, size_t{2}, valid.size() / 2, valid.size() - 1})
    out.push_back({"the answer cut to " + std::to_string(cut) + " octets",
                   Bytes(valid.begin(), valid.begin() + static_cast<long>(cut))});
  Bytes longer = valid;
  longer.push_back(0x00);
  out.push_back({"the answer and one octet more", longer});
  Bytes padded = valid;
  padded.resize(kMaxDatagram, 0x00);
  out.push_back({"the answer padded to the largest datagram", padded});
  return out;
}

// The flood's datagrams around `valid`: when `withAnswer`, the answer comes
// after an empty datagram and junk (which must not end the read) and again
// at the end, replayed.
inline std::vector<Bytes> Flood(const Bytes& valid, bool withAnswer) {
  std::vector<Bytes> out;
  for (const auto& hostile : HostileFrom(valid)) {
    out.push_back(hostile.bytes);
    if (withAnswer && out.size() == 3) out.push_back(valid);
  }
  if (withAnswer) out.push_back(valid);
  return out;
}

inline long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = -1;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      break;
    }
  }
  return value;
}

inline int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

// Under the sanitizers freed memory stays quarantined, so resident size says
// nothing there; LeakSanitizer checks leaks in that build instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

}  // namespace robust
