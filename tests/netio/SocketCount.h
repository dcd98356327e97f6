// Counts the sockets the library opens, by interposing socket(); the C
// library's own (getifaddrs) do not come through here. One translation unit
// per test program may include it.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

namespace testnetio {

inline int g_sockets = 0;

}  // namespace testnetio

extern "C" int socket(int domain, int type, int protocol) noexcept {
  ++testnetio::g_sockets;
  return static_cast<int>(syscall(SYS_socket, domain, type, protocol));
}
