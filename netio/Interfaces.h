// The host's interfaces as (name, index) pairs, and the IPv6 scope that
// discovery remembers for every later IPv6 exchange.
#pragma once

#include <cstdint>

enum { kIfsNameSize = 16, kIfsZoneSize = 256 };

struct ifs_info {
  char ifs_name[kIfsNameSize];  // NUL-terminated within the 16 bytes
  int32_t ifs_index;            // also the interface's IPv6 scope id
  ifs_info* next;
};

// "%" and the name of the interface on which an IPv6 agent first answered.
extern char g_ifsName[kIfsZoneSize];

// The interfaces in the kernel's order, index 0 skipped; the caller releases
// the list with free_ifs_info. Null when there is none or the query fails.
// Neither argument is consulted.
ifs_info* get_ifs_info(int, int);
// First node with that index, or null.
ifs_info* find_ifname(ifs_info* list, int index);
// Index of the first node with exactly that name; 4 when there is none, as
// callers expect (a missing name cannot be told from index 4).
int find_ifscope_id(ifs_info* list, const char* name);
void free_ifs_info(ifs_info* list);
