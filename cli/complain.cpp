#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "cli/Json.h"

namespace cli {

void Complain(const std::string& message) { fprintf(stderr, "netio: %s\n", message.c_str()); }

int Failed(const Options& options, const std::string& address, const std::string& message) {
  Complain(message);
  if (options.json)
    printf("{\"address\": %s, \"error\": %s}\n", JsonString(address).c_str(),
           JsonString(message).c_str());
  return kExitFailed;
}

}  // namespace cli
