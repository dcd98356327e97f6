#include "netio/address.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cctype>
#include <cstring>

namespace {

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

bool ParseV6(const char* text, uint16_t port, netio::SocketAddress* out) {
  char address[INET6_ADDRSTRLEN];
  const char* percent = strchr(text, '%');
  const size_t length = percent ? static_cast<size_t>(percent - text) : strlen(text);
  if (length >= sizeof address) return false;
  memcpy(address, text, length);
  address[length] = '\0';

  sockaddr_in6 result{};
  result.sin6_family = AF_INET6;
  result.sin6_port = htons(port);
  if (inet_pton(AF_INET6, address, &result.sin6_addr) != 1) return false;
  if (percent) {
    if (!IN6_IS_ADDR_LINKLOCAL(&result.sin6_addr)) return false;
    if ((result.sin6_scope_id = ZoneIndex(percent + 1)) == 0) return false;
  }
  *out = netio::SocketAddress{};
  out->v6 = result;
  return true;
}

bool ParseV4(const char* text, uint16_t port, netio::SocketAddress* out) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(port);
  if (inet_pton(AF_INET, text, &result.sin_addr) != 1) return false;
  *out = netio::SocketAddress{};
  out->v4 = result;
  return true;
}

}  // namespace

bool netio::ParseNumericAddress(const char* text, int family, uint16_t port, SocketAddress* out) {
  if (!text || !out) return false;
  if (family != AF_INET6 && ParseV4(text, port, out)) return true;
  return family != AF_INET && ParseV6(text, port, out);
}

bool netio::LooksLikeIPv4Number(const char* text) {
  if (!text || !*text) return false;
  bool separated = false;
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '.' || c == 'x' || c == 'X') {
      separated = true;
    } else if (!isxdigit(c)) {
      return false;
    }
  }
  return separated && isdigit(static_cast<unsigned char>(text[0]));
}
