#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

#include "netio/Interfaces.h"
#include "netio/diagnostics.h"

char g_ifsName[kIfsZoneSize] = "%en0";

namespace {

const int kNotFound = 4;

}  // namespace

// Linux keeps no link-level records in SIOCGIFCONF; getifaddrs lists one
// AF_PACKET entry per link, in the kernel's order, ahead of the addresses.
ifs_info* get_ifs_info(int, int) {
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) {
    netio::Diagnose("ioctl error");
    return nullptr;
  }
  ifs_info* head = nullptr;
  ifs_info** tail = &head;
  for (const ifaddrs* entry = all; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET || !entry->ifa_name) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    if (link->sll_ifindex == 0) continue;
    auto* node = static_cast<ifs_info*>(calloc(1, sizeof(ifs_info)));
    if (!node) {
      // Half a table would hide interfaces from the scans: all or nothing.
      free_ifs_info(head);
      head = nullptr;
      break;
    }
    strncpy(node->ifs_name, entry->ifa_name, sizeof node->ifs_name - 1);
    node->ifs_index = link->sll_ifindex;
    *tail = node;
    tail = &node->next;
    netio::Diagnose("ifr_name: %s, scope id: %d\n", node->ifs_name, node->ifs_index);
  }
  freeifaddrs(all);
  return head;
}

ifs_info* find_ifname(ifs_info* list, int index) {
  for (ifs_info* node = list; node; node = node->next) {
    if (node->ifs_index == index) return node;
  }
  return nullptr;
}

int find_ifscope_id(ifs_info* list, const char* name) {
  if (!name) return kNotFound;
  for (const ifs_info* node = list; node; node = node->next) {
    if (strncmp(node->ifs_name, name, sizeof node->ifs_name) == 0) return node->ifs_index;
  }
  return kNotFound;
}

void free_ifs_info(ifs_info* list) {
  while (list) {
    ifs_info* next = list->next;
    free(list);
    list = next;
  }
}
