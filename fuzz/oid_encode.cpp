// CNetIO::oidEncode on arbitrary text, into exactly the room its contract
// asks for, against an independent reading of the dotted text: accepted
// exactly when it is a valid OID, and the contents decode back to its arcs.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "netio/NetIO.h"

namespace {

// The arcs of a text within the encoder's contract, or none.
std::vector<uint32_t> Arcs(const char* text) {
  std::vector<uint32_t> arcs;
  if (strlen(text) > 127) return {};
  const char* p = text;
  for (;;) {
    if (*p < '0' || *p > '9') return {};
    uint64_t arc = 0;
    while (*p >= '0' && *p <= '9') {
      arc = arc * 10 + static_cast<uint64_t>(*p++ - '0');
      if (arc > UINT32_MAX) return {};
    }
    arcs.push_back(static_cast<uint32_t>(arc));
    if (*p == '\0') break;
    if (*p++ != '.') return {};
  }
  if (arcs.size() < 2 || 40ULL * arcs[0] + arcs[1] > 127) return {};
  return arcs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t dots = 0;
  for (const char* p = text.c_str(); *p; ++p) dots += *p == '.';
  const size_t room = dots >= 1 ? 1 + 5 * (dots - 1) : 1;
  std::unique_ptr<unsigned char[]> out(new unsigned char[room]);
  const int n = CNetIO::oidEncode(text.c_str(), out.get());
  const std::vector<uint32_t> arcs = Arcs(text.c_str());
  if (arcs.empty()) {
    FUZZ_CHECK(n == 0);
    return 0;
  }
  FUZZ_CHECK(n >= 1 && static_cast<size_t>(n) <= room);
  FUZZ_CHECK(out[0] == 40 * arcs[0] + arcs[1]);
  size_t at = 1;
  for (size_t i = 2; i < arcs.size(); ++i) {
    uint64_t arc = 0;
    size_t groups = 0;
    do {
      FUZZ_CHECK(at < static_cast<size_t>(n) && ++groups <= 5);
      arc = arc << 7 | (out[at] & 0x7F);
    } while (out[at++] & 0x80);
    FUZZ_CHECK(groups == 1 || (out[at - groups] & 0x7F) != 0);  // minimal
    FUZZ_CHECK(arc == arcs[i]);
  }
  FUZZ_CHECK(at == static_cast<size_t>(n));
  FUZZ_CHECK(CNetIO::oidEncode(nullptr, out.get()) == -1);
  return 0;
}
