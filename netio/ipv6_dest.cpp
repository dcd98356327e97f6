#include "netio/ipv6_dest.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <cstdint>
#include <cstring>

#include "netio/NetIO.h"

namespace {

const uint16_t kSnmpPort = 161;

// Interface index of a zone: decimal digits, or the name of an interface.
// 0 when there is none.
uint32_t ZoneIndex(const char* zone) {
  const size_t length = strnlen(zone, IF_NAMESIZE);
  if (length == 0 || length >= IF_NAMESIZE) return 0;
  if (strspn(zone, "0123456789") == length) {
    uint64_t index = 0;
    for (size_t i = 0; i < length; ++i) {
      index = index * 10 + static_cast<uint64_t>(zone[i] - '0');
      if (index > UINT32_MAX) return 0;
    }
    return static_cast<uint32_t>(index);
  }
  return if_nametoindex(zone);
}

}  // namespace

bool netio::SnmpDestinationV6(const char* host, int scope, sockaddr_in6* to) {
  if (!host || !to) return false;
  char address[INET6_ADDRSTRLEN];
  const char* percent = strchr(host, '%');
  const size_t length = percent ? static_cast<size_t>(percent - host) : strlen(host);
  if (length >= sizeof address) return false;
  memcpy(address, host, length);
  address[length] = '\0';

  sockaddr_in6 result{};
  result.sin6_family = AF_INET6;
  result.sin6_port = FLIPWORD(kSnmpPort);
  if (inet_pton(AF_INET6, address, &result.sin6_addr) != 1) return false;
  uint32_t zone = 0;
  if (percent && (zone = ZoneIndex(percent + 1)) == 0) return false;
  result.sin6_scope_id = scope > 0 ? static_cast<uint32_t>(scope) : zone;
  *to = result;
  return true;
}
