#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "cli/Json.h"
#include "netio/NetIO.h"

namespace cli {

void Complain(const std::string& message) { fprintf(stderr, "netio: %s\n", message.c_str()); }

int RunStatus(const Options& options) {
  if (IsFleetStatus(options)) return RunFleetStatus(options);
  const std::string& address = options.operands[0];
  PRINTER_STATUS status{};
  const char* protocol = "SNMPv1";
  if (NetworkReadStatus("public", address.c_str(), &status) != 1) {
    protocol = "SNMPv3";
    if (NetworkReadStatusSNMPv3("public", address.c_str(), &status) != 1) {
      Complain("no status record from " + address);
      return kExitFailed;
    }
  }
  const int level = status.blackLevel & 0x7F;
  std::string raw;
  const unsigned char* octets = &status.blackLevel;
  for (size_t i = 0; i < sizeof status; ++i) {
    char hex[3];
    snprintf(hex, sizeof hex, "%02x", octets[i]);
    raw += hex;
  }
  if (options.json) {
    printf("{\"address\": %s, \"protocol\": \"%s\", \"black_level\": %d",
           JsonString(address).c_str(), protocol, level);
    if (options.raw) printf(", \"raw\": \"%s\"", raw.c_str());
    printf("}\n");
  } else {
    printf("black: %d%%\n", level);
    if (options.raw) printf("%s\n", raw.c_str());
  }
  return kExitOk;
}

}  // namespace cli
