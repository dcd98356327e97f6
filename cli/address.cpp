#include "cli/Address.h"

#include <netdb.h>
#include <sys/socket.h>

#include "cli/Commands.h"
#include "netio/address.h"

namespace cli {

namespace {

bool Resolve(const std::string& name, int family, std::string* numeric) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* answer = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &answer) != 0) return false;
  char text[NI_MAXHOST];
  // A link-local answer keeps its interface as the zone.
  const bool converted = getnameinfo(answer->ai_addr, answer->ai_addrlen, text, sizeof text,
                                     nullptr, 0, NI_NUMERICHOST) == 0;
  freeaddrinfo(answer);
  if (converted) *numeric = text;
  return converted;
}

}  // namespace

AddressForm ClassifyAddress(const std::string& text) {
  netio::SocketAddress parsed;
  if (netio::ParseNumericAddress(text.c_str(), AF_UNSPEC, netio::kSnmpPort, &parsed))
    return AddressForm::kNumeric;
  // The resolver reads "010.0.0.1" as 8.0.0.1; a colon or zone is no host name.
  if (text.empty() || netio::LooksLikeIPv4Number(text.c_str()) ||
      text.find_first_of(":%") != std::string::npos)
    return AddressForm::kRefused;
  return AddressForm::kName;
}

bool ResolveAddress(const std::string& text, std::string* numeric, std::string* error) {
  switch (ClassifyAddress(text)) {
    case AddressForm::kNumeric:
      *numeric = text;
      return true;
    case AddressForm::kRefused:
      *error = "'" + text + "' is not a numeric address";
      return false;
    case AddressForm::kName:
      break;
  }
  if (!Resolve(text, AF_INET6, numeric) && !Resolve(text, AF_INET, numeric)) {
    *error = "cannot resolve " + text;
    return false;
  }
  Complain(text + ": asking " + *numeric);
  return true;
}

}  // namespace cli
