#include "tool/print_queue.h"

#include <cups/cups.h>

bool GetDeviceUri(const char* queue, std::string* uri) {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue, nullptr);
  if (!dest) return false;
  const char* value = cupsGetOption("device-uri", dest->num_options, dest->options);
  if (value) *uri = value;
  cupsFreeDests(1, dest);
  return value != nullptr;
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
