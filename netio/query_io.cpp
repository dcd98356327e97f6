#include "netio/query_io.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "netio/diagnostics.h"

namespace netio {

namespace {

using Clock = std::chrono::steady_clock;

bool FromPrinter(const SocketAddress& from, const SocketAddress& printer) {
  if (from.sa.sa_family != printer.sa.sa_family) return false;
  if (from.sa.sa_family == AF_INET) {
    return from.v4.sin_port == printer.v4.sin_port &&
           from.v4.sin_addr.s_addr == printer.v4.sin_addr.s_addr;
  }
  return from.v6.sin6_port == printer.v6.sin6_port &&
         memcmp(&from.v6.sin6_addr, &printer.v6.sin6_addr, sizeof from.v6.sin6_addr) == 0;
}

}  // namespace

int NumericFamily(const char* host) {
  if (!host) return 0;
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host, nullptr, &hints, &found);
  if (rc != 0) {
    Diagnose("error in getaddrinfo: %s\n", gai_strerror(rc));
    return 0;
  }
  const int family = found->ai_family;
  freeaddrinfo(found);
  return family == AF_INET || family == AF_INET6 ? family : 0;
}

bool CopyFitting(const char* text, char* out, int outSize) {
  if (!out || outSize <= 0) return false;
  const size_t length = strnlen(text, static_cast<size_t>(outSize));
  if (length >= static_cast<size_t>(outSize)) return false;
  memcpy(out, text, length + 1);
  return true;
}

PrinterAnswers::PrinterAnswers(int fd, const SocketAddress& printer,
                               std::chrono::microseconds silence, std::chrono::microseconds cap)
    : fd_(fd), printer_(printer), silence_(silence), cap_(Clock::now() + cap) {}

ssize_t PrinterAnswers::Next(unsigned char* buffer, size_t size) {
  const auto until = std::min(Clock::now() + silence_, cap_);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now()).count();
    // A zero SO_RCVTIMEO would wait for ever.
    if (left <= 0) return 0;
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(left / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(left % 1000000);
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return -1;
    SocketAddress from{};
    socklen_t fromLength = sizeof from.any;
    const ssize_t n = recvfrom(fd_, buffer, size, 0, &from.sa, &fromLength);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || FromPrinter(from, printer_)) return n;
  }
}

}  // namespace netio
