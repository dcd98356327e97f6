// Printer addresses on the command line. The library takes numeric texts
// only; people also write host names, which are resolved here as usbink
// resolves a socket:// host.
#pragma once

#include <string>

namespace cli {

enum class AddressForm {
  kNumeric,  // by the library's one rule
  kName,     // for the system resolver
  kRefused,  // an IPv4 number in another form, an IPv6 text that does not parse, empty
};

AddressForm ClassifyAddress(const std::string& text);

// The numeric text to ask for `text`: itself when numeric, else the
// resolver's first IPv6 address, else its first IPv4 one; standard error
// names the address asked. False with the reason in `error`.
bool ResolveAddress(const std::string& text, std::string* numeric, std::string* error);

}  // namespace cli
