// Printer-supplied text for a terminal and for JSON.
#pragma once

#include <cstddef>
#include <string>

namespace cli {

// Length of the valid UTF-8 sequence at `s[i]`, 0 when there is none (RFC 3629).
size_t Utf8Length(const std::string& s, size_t i);

// `text` with nothing a terminal acts on: control characters (C0, DEL, C1)
// and octets that are not UTF-8 become \xHH, \n \r \t stay readable as
// such, and a backslash is doubled, so a printer cannot forge lines.
std::string TerminalText(const std::string& text);

}  // namespace cli
