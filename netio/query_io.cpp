#include "netio/query_io.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

#include "netio/diagnostics.h"

namespace netio {

const char kSysNameOid[] = "1.3.6.1.2.1.1.5.0";
const char kFwVersionOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0";
const char kMcuVersionOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0";

int NumericFamily(const char* host, bool report) {
  if (!host) return 0;
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host, nullptr, &hints, &found);
  if (rc != 0) {
    if (report) Diagnose("error in getaddrinfo: %s\n", gai_strerror(rc));
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

}  // namespace netio
