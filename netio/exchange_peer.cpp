// Who an exchange talks to and who it listens to, and why it did not.
#include <arpa/inet.h>

#include <cstring>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/exchange.h"

namespace netio {

socklen_t AddressLength(const SocketAddress& address) {
  return address.sa.sa_family == AF_INET6 ? sizeof address.v6 : sizeof address.v4;
}

const char* AddressText(const SocketAddress& address, char* text, socklen_t size) {
  const void* raw = address.sa.sa_family == AF_INET6
                        ? static_cast<const void*>(&address.v6.sin6_addr)
                        : static_cast<const void*>(&address.v4.sin_addr);
  if (!inet_ntop(address.sa.sa_family, raw, text, size) && size > 0) text[0] = '\0';
  return text;
}

bool PrinterDestination(const char* host, int family, SocketAddress* to, bool report) {
  SocketAddress parsed;
  if (!ParseNumericAddress(host, family, kSnmpPort, &parsed)) {
    // The line callers know from the resolver; no resolver is asked any more.
    if (report) Diagnose("error in getaddrinfo: not a numeric address\n");
    return false;
  }
  if (parsed.sa.sa_family == AF_INET6 && scope_id > 0) {
    parsed.v6.sin6_scope_id = static_cast<uint32_t>(scope_id);
  }
  *to = parsed;
  return true;
}

bool FromPrinter(const SocketAddress& destination, const SocketAddress& sender) {
  if (sender.sa.sa_family != destination.sa.sa_family) return false;
  if (sender.sa.sa_family == AF_INET) {
    return sender.v4.sin_port == destination.v4.sin_port &&
           sender.v4.sin_addr.s_addr == destination.v4.sin_addr.s_addr;
  }
  // Another link may hold the same link-local address: only the interface
  // the request left by tells the printer from it.
  if (IN6_IS_ADDR_LINKLOCAL(&destination.v6.sin6_addr) &&
      sender.v6.sin6_scope_id != destination.v6.sin6_scope_id)
    return false;
  return sender.v6.sin6_port == destination.v6.sin6_port &&
         memcmp(&sender.v6.sin6_addr, &destination.v6.sin6_addr, sizeof sender.v6.sin6_addr) == 0;
}

namespace {

thread_local Refusal t_lastRefusal = Refusal::kNone;

}  // namespace

void RecordRefusal(Refusal reason) { t_lastRefusal = reason; }

Refusal LastRefusal() { return t_lastRefusal; }

const char* RefusalText(Refusal reason) {
  switch (reason) {
    case Refusal::kNone:
      break;
    case Refusal::kTruncated:
      return "truncated";
    case Refusal::kTag:
      return "unexpected tag";
    case Refusal::kLength:
      return "length past its container";
    case Refusal::kVersionOrCommunity:
      return "version or community";
    case Refusal::kNotResponse:
      return "not a response";
    case Refusal::kMsgId:
      return "msgID of another request";
    case Refusal::kAuthMissing:
      return "authentication missing";
    case Refusal::kAuthWrong:
      return "authentication wrong";
    case Refusal::kEngine:
      return "engine refused";
    case Refusal::kDecryption:
      return "decryption failed";
    case Refusal::kSender:
      return "wrong sender";
    case Refusal::kLate:
      return "after the deadline";
    case Refusal::kValue:
      return "no usable value";
  }
  return "refused";
}

void ReportRefusal(Refusal reason, const SocketAddress& from) {
  char text[INET6_ADDRSTRLEN];
  const bool v6 = from.sa.sa_family == AF_INET6;
  const unsigned port = ntohs(v6 ? from.v6.sin6_port : from.v4.sin_port);
  if (v6 && from.v6.sin6_scope_id != 0) {
    Diagnose("refused answer from %s%%%u port %u: %s\n", AddressText(from, text, sizeof text),
             static_cast<unsigned>(from.v6.sin6_scope_id), port, RefusalText(reason));
  } else {
    Diagnose("refused answer from %s port %u: %s\n", AddressText(from, text, sizeof text), port,
             RefusalText(reason));
  }
}

void ReportRefusal(const SocketAddress& from) { ReportRefusal(LastRefusal(), from); }

}  // namespace netio
