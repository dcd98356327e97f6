// What the device queries of both protocol versions share.
#pragma once

namespace netio {

// `text` and its NUL into `out` when they fit `outSize`; false, `out`
// untouched, when they do not: a cut version text would pass for a true one.
bool CopyFitting(const char* text, char* out, int outSize);

}  // namespace netio
