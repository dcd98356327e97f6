// What the device queries share, with the status reads: the facts' OIDs, the
// family of a numeric host text, and the bounded copy of an answer's text.
#pragma once

namespace netio {

extern const char kSysNameOid[];
extern const char kFwVersionOid[];
extern const char kMcuVersionOid[];

// AF_INET or AF_INET6 for a numeric address text (an IPv6 zone allowed); 0
// for anything else, with the resolver's message reported when `report`: a
// host name must not cost a resolver query, let alone a request.
int NumericFamily(const char* host, bool report = true);

// `text` and its NUL into `out` when they fit `outSize`; false, `out`
// untouched, when they do not: a cut version text would pass for a true one.
bool CopyFitting(const char* text, char* out, int outSize);

}  // namespace netio
