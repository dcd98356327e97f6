// JSON text for the --json outputs: quoted strings, nothing more is needed.
#pragma once

#include <string>

namespace cli {

// `text` as a JSON string; octets that are not valid UTF-8 become U+FFFD, so
// the output parses whatever a printer sent.
std::string JsonString(const std::string& text);

}  // namespace cli
