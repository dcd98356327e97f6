#include <cstdio>
#include <string>

#include "cli/Address.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "netio/NetIO.h"

namespace cli {

namespace {

std::string Hex(const PRINTER_STATUS& status) {
  // The record is 108 raw octets: read it as such, not through its first member.
  const auto* octets = reinterpret_cast<const unsigned char*>(&status);
  std::string hex;
  for (size_t i = 0; i < sizeof status; ++i) {
    char two[3];
    snprintf(two, sizeof two, "%02x", octets[i]);
    hex += two;
  }
  return hex;
}

}  // namespace

int RunStatus(const Options& options) {
  if (IsFleetStatus(options)) return RunFleetStatus(options);
  std::string address, error;
  if (!ResolveAddress(options.operands[0], &address, &error))
    return Failed(options, options.operands[0], error);
  PRINTER_STATUS status{};
  const char* protocol = "SNMPv1";
  if (NetworkReadStatus("public", address.c_str(), &status) != 1) {
    protocol = "SNMPv3";
    if (NetworkReadStatusSNMPv3("public", address.c_str(), &status) != 1)
      return Failed(options, address, "no status record from " + address);
  }
  const int level = status.blackLevel & 0x7F;
  if (options.json) {
    printf("{\"address\": %s, \"protocol\": \"%s\", \"black_level\": %d",
           JsonString(address).c_str(), protocol, level);
    if (options.raw) printf(", \"raw\": \"%s\"", Hex(status).c_str());
    printf("}\n");
  } else {
    printf("black: %d%%\n", level);
    if (options.raw) printf("%s\n", Hex(status).c_str());
  }
  return kExitOk;
}

}  // namespace cli
