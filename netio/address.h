// The one rule for the address texts the library and its front ends accept:
// dotted-quad IPv4 and standard IPv6 text, a zone only on a link-local IPv6
// address. The resolver's laxer IPv4 forms ("127.1", "010.0.0.1", "0x7f.1")
// would reach another host than the one the user wrote, so they are refused.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

namespace netio {

constexpr uint16_t kSnmpPort = 161;

union SocketAddress {
  sockaddr sa;
  sockaddr_in v4;
  sockaddr_in6 v6;
  sockaddr_storage any;
};

// `text` of `family` (AF_INET, AF_INET6, or AF_UNSPEC for either) at `port`
// into `out`. An IPv6 zone is decimal or an interface name known here; its
// index becomes the scope. False, `out` untouched, for anything else.
bool ParseNumericAddress(const char* text, int family, uint16_t port, SocketAddress* out);

// True for a text made only of digits, dots and hexadecimal prefixes with at
// least one dot or prefix: what some parsers read as an IPv4 number. Such a
// text that ParseNumericAddress refuses must not be handed to a resolver.
bool LooksLikeIPv4Number(const char* text);

}  // namespace netio
