// The print system's side of the tool: which device a queue prints to.
#pragma once

#include <string>

// The device URI of print queue `queue`, exactly as the print system keeps it.
// Asks the server named by CUPS_SERVER (or the default one). False when the
// queue is unknown, has no device URI, or the server took more than 10 s.
bool GetDeviceUri(const char* queue, std::string* uri);

// The scheme of `uri` as written; false when the URI has none or is malformed.
bool GetUriScheme(const char* uri, std::string* scheme);
