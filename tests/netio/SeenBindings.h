// A value callback that records every binding a parser hands it.
#pragma once

#include <vector>

namespace testnetio {

struct Seen {
  std::vector<unsigned char> oid;
  unsigned char tag;
  std::vector<unsigned char> value;
};
inline std::vector<Seen> g_seen;  // cleared by each test's parse helper

inline bool Record(const unsigned char* oid, int oidLength, unsigned char tag,
                   const unsigned char* value, int valueLength) {
  g_seen.push_back({{oid, oid + oidLength}, tag, {value, value + valueLength}});
  return true;
}

}  // namespace testnetio
