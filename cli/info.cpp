#include <cstdio>
#include <string>

#include "cli/Address.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Text.h"
#include "netio/NetIO.h"

namespace cli {

namespace {

// The SNMPv1 getters' outputs need 256 octets, the SNMPv3 ones 128.
const int kFactSize = 256;

struct Fact {
  const char* key;    // JSON key
  const char* label;  // text output
  bool read = false;
  char value[kFactSize] = {};
};

}  // namespace

int RunInfo(const Options& options) {
  std::string address, error;
  if (!ResolveAddress(options.operands[0], &address, &error))
    return Failed(options, options.operands[0], error);
  Fact facts[3] = {{"name", "name"}, {"firmware", "firmware"}, {"mcu_firmware", "MCU firmware"}};
  CNetIO netio;
  const char* host = address.c_str();
  if (options.v3) {
    // An output is written only when its fact arrived, and never with an empty text.
    netio.TavraNetworkGetNameAndFwAndMCUVersion(host, facts[0].value, facts[1].value,
                                                facts[2].value, kCaptureSize);
    for (Fact& f : facts) f.read = f.value[0] != '\0';
  } else {
    // An agent without the object answers with an error: read, and empty.
    facts[0].read = netio.TavraNetworkGetPrinterName(host, 0, facts[0].value, kFactSize) == 0;
    facts[1].read = netio.TavraNetworkGetFwVersion(host, 0, facts[1].value, kFactSize) == 0;
    facts[2].read = netio.TavraNetworkGetFwMCUVersion(host, 0, facts[2].value, kFactSize) == 0;
  }
  bool any = false;
  for (const Fact& f : facts) any = any || f.read;
  if (!any)
    return Failed(options, address,
                  "no answer from " + address + (options.v3 ? " over SNMPv3" : " over SNMPv1"));
  if (options.json) {
    printf("{\"address\": %s, \"protocol\": \"%s\"", JsonString(address).c_str(),
           options.v3 ? "SNMPv3" : "SNMPv1");
    for (const Fact& f : facts)
      printf(", \"%s\": %s", f.key, f.read ? JsonString(f.value).c_str() : "null");
    printf("}\n");
    return kExitOk;
  }
  for (const Fact& f : facts) {
    if (f.read) {
      printf("%s: %s\n", f.label, TerminalText(f.value).c_str());
    } else {
      Complain(std::string("no ") + f.label + " from " + address);
    }
  }
  return kExitOk;
}

}  // namespace cli
