#include "tool/print_queue.h"

#include <cups/cups.h>

#include <cstdint>
#include <cstring>

#include "tool/bounded_child.h"

namespace {

// A print server that accepts and then stalls or trickles holds libcups for
// minutes, and its fallbacks reconnect: only ending the asker bounds it.
constexpr std::chrono::seconds kLookupLimit(10);
// Far above what the print system keeps for a device URI.
constexpr uint32_t kUriMax = 8192;

// In the child: the URI's length and its octets, nothing when there is none.
void LookUp(const char* queue, int fd) {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue, nullptr);
  if (!dest) return;
  const char* value = cupsGetOption("device-uri", dest->num_options, dest->options);
  const size_t length = value ? strlen(value) : 0;
  if (value && length <= kUriMax) {
    const uint32_t prefix = static_cast<uint32_t>(length);
    if (BoundedChild::WriteAll(fd, &prefix, sizeof prefix)) BoundedChild::WriteAll(fd, value, length);
  }
  cupsFreeDests(1, dest);
}

}  // namespace

bool GetDeviceUri(const char* queue, std::string* uri) {
  const auto deadline = BoundedChild::Clock::now() + kLookupLimit;
  BoundedChild child([queue](int fd) { LookUp(queue, fd); });
  uint32_t length = 0;
  if (child.ReadFull(&length, sizeof length, deadline) != BoundedChild::Read::kDone ||
      length > kUriMax)
    return false;
  std::string text(length, '\0');
  if (length > 0 && child.ReadFull(&text[0], length, deadline) != BoundedChild::Read::kDone)
    return false;
  *uri = std::move(text);
  return true;
}

bool GetUriScheme(const char* uri, std::string* scheme) {
  char schemeBuf[HTTP_MAX_URI], user[HTTP_MAX_URI], host[HTTP_MAX_URI], resource[HTTP_MAX_URI];
  int port = 0;
  http_uri_status_t st =
      httpSeparateURI(HTTP_URI_CODING_NONE, uri, schemeBuf, sizeof schemeBuf, user, sizeof user,
                      host, sizeof host, &port, resource, sizeof resource);
  if (st < HTTP_URI_STATUS_OK || st == HTTP_URI_STATUS_MISSING_SCHEME || schemeBuf[0] == '\0')
    return false;
  *scheme = schemeBuf;
  return true;
}
