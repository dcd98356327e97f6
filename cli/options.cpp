#include "cli/Options.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

#include "cli/Address.h"
#include "cli/Commands.h"
#include "netio/NetIO.h"
#include "netio/address.h"

namespace cli {

namespace {

struct Command {
  const char* name;
  int minOperands;
  int maxOperands;
  std::set<std::string> flags;  // options this command takes
  const char* usage;
};

const Command kCommands[] = {
    {"status",
     0,
     INT_MAX,
     {"--json", "--raw", "--from", "--parallel", "--prometheus"},
     "netio status ADDRESS [--raw] [--json]\n"
     "    Reads the printer's status record (SNMPv1, then SNMPv3) and prints the\n"
     "    black toner level; --raw adds the 108 octets in hex.\n"
     "netio status ADDRESS... | --from FILE|- [--parallel N] [--raw] [--json|--prometheus]\n"
     "    Reads many printers at once (at most N in flight, default 256), one\n"
     "    line each as they finish: text, JSON Lines, or Prometheus text format.\n"
     "    FILE holds one address a line (# comments) or `netio discover --json`.\n"},
    {"info",
     1,
     1,
     {"--json", "--v3"},
     "netio info ADDRESS [--v3] [--json]\n"
     "    Reads the printer's name, firmware and MCU firmware versions over\n"
     "    SNMPv1 (three requests), or over SNMPv3 in one request with --v3.\n"},
    {"discover",
     0,
     0,
     {"--json", "--v3", "--ipv6", "--scan-index", "--both", "--target", "--sysobjectid",
      "--community"},
     "netio discover --sysobjectid OID [--sysobjectid OID]... [--v3]\n"
     "               [--ipv6|--scan-index|--both] [--target ADDR] [--community C] [--json]\n"
     "    Lists every agent whose sysObjectID is one of the OIDs (or a start of\n"
     "    one), once per line. Targets: 255.255.255.255 (default), ff02::1 with\n"
     "    --ipv6 or --scan-index (IPv6 interface indexes tried in turn), both at\n"
     "    once with --both, or --target ADDR. Every two OIDs make one scan.\n"},
    {"send",
     2,
     3,
     {},
     "netio send ADDRESS PORT [FILE]\n"
     "    Copies FILE (default: standard input) to the printer over TCP, e.g. to\n"
     "    port 9100. Ctrl-C cancels the transfer.\n"},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

bool Fail(std::string* error, const std::string& text) {
  *error = text;
  return false;
}

// Two sockets per printer in flight, within what a process can be given.
constexpr long kMaxParallel = 65536;

bool ValidSysObjectId(const std::string& text) {
  unsigned char encoded[kSysObjIdSize * 3];
  const int n = CNetIO::oidEncode(text.c_str(), encoded);
  return n > 0 && n <= kTargetOidSize;
}

// A printer address may be a host name; a discovery target must be numeric,
// so that a name never becomes a broadcast.
bool AddressAllowed(const std::string& text, bool nameAllowed, std::string* error) {
  const AddressForm form = ClassifyAddress(text);
  if (form == AddressForm::kNumeric || (nameAllowed && form == AddressForm::kName)) return true;
  return Fail(error, "'" + text + "' is not a numeric address (dotted-quad IPv4 or IPv6)" +
                         (nameAllowed ? " nor a host name" : ""));
}

bool ParsePort(const std::string& text, int* port, std::string* error) {
  char* end = nullptr;
  const long value = text.empty() || !isdigit(static_cast<unsigned char>(text[0]))
                         ? 0
                         : strtol(text.c_str(), &end, 10);
  if (!end || *end != '\0' || value < 1 || value > 65535)
    return Fail(error, "'" + text + "' is not a port (1 to 65535)");
  *port = static_cast<int>(value);
  return true;
}

bool ParseParallel(const std::string& text, int* parallel, std::string* error) {
  char* end = nullptr;
  const long value = text.empty() || !isdigit(static_cast<unsigned char>(text[0]))
                         ? 0
                         : strtol(text.c_str(), &end, 10);
  if (!end || *end != '\0' || value < 1 || value > kMaxParallel)
    return Fail(error, "--parallel takes 1 to " + std::to_string(kMaxParallel));
  *parallel = static_cast<int>(value);
  return true;
}

// Operands are checked here; lines of --from are named and skipped when read.
bool CheckStatus(const Options& o, std::string* error) {
  if (o.operands.empty() && o.from.empty()) return Fail(error, "status: missing operand");
  if (o.prometheus && (o.json || o.raw))
    return Fail(error, "--prometheus takes neither --json nor --raw");
  // One printer may be named; a fleet is read by numeric address only.
  if (!IsFleetStatus(o)) return AddressAllowed(o.operands[0], true, error);
  netio::SocketAddress address;
  for (const std::string& operand : o.operands)
    if (!netio::ParseNumericAddress(operand.c_str(), AF_UNSPEC, netio::kSnmpPort, &address))
      return Fail(error, "'" + operand + "' is not a numeric IPv4 or IPv6 address");
  return true;
}

// Cross-option rules of discover.
bool CheckDiscover(const Options& o, int scanFlags, std::string* error) {
  if (o.sysObjectIds.empty()) return Fail(error, "discover needs at least one --sysobjectid");
  if (scanFlags > 1) return Fail(error, "--ipv6, --scan-index and --both exclude each other");
  if (o.v3 && (o.scan == Scan::kScanIndex || o.scan == Scan::kBoth))
    return Fail(error, "--v3 takes neither --scan-index nor --both");
  if (o.scan == Scan::kBoth && !o.target.empty())
    return Fail(error, "--both probes its own two targets and takes no --target");
  if (o.community.empty() || o.community.size() > kMaxDiscoveryCommunity)
    return Fail(error, "the community must have 1 to " + std::to_string(kMaxDiscoveryCommunity) +
                           " characters");
  return true;
}

}  // namespace

bool ParseArguments(int argc, char** argv, Options* options, std::string* error) {
  // Filled as it goes, so a failure still tells which command's usage to show.
  Options& o = *options;
  o = Options{};
  int scanFlags = 0;
  const Command* command = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      continue;
    }
    if (arg == "--verbose" || arg == "-v") {
      o.verbose = true;
      continue;
    }
    if (!command) {
      if (arg.rfind("-", 0) == 0) return Fail(error, "unknown option '" + arg + "'");
      command = FindCommand(arg);
      if (!command) return Fail(error, "unknown command '" + arg + "'");
      o.command = arg;
      continue;
    }
    // "-" alone is an operand (standard input); "--" ends the options.
    if (arg == "--") {
      for (++i; i < argc; ++i) o.operands.push_back(argv[i]);
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      o.operands.push_back(arg);
      continue;
    }
    if (!command->flags.count(arg))
      return Fail(error, o.command + " takes no option '" + arg + "'");
    const bool takesValue = arg == "--target" || arg == "--sysobjectid" || arg == "--community" ||
                            arg == "--from" || arg == "--parallel";
    if (takesValue && i + 1 >= argc) return Fail(error, arg + " needs a value");
    if (arg == "--json") o.json = true;
    if (arg == "--raw") o.raw = true;
    if (arg == "--v3") o.v3 = true;
    if (arg == "--ipv6") o.scan = Scan::kIpv6, ++scanFlags;
    if (arg == "--scan-index") o.scan = Scan::kScanIndex, ++scanFlags;
    if (arg == "--both") o.scan = Scan::kBoth, ++scanFlags;
    if (arg == "--target") {
      o.target = argv[++i];
      if (!AddressAllowed(o.target, false, error)) return false;
    }
    if (arg == "--community") o.community = argv[++i];
    if (arg == "--from") o.from = argv[++i];
    if (arg == "--prometheus") o.prometheus = true;
    if (arg == "--parallel" && !ParseParallel(argv[++i], &o.parallel, error)) return false;
    if (arg == "--sysobjectid") {
      o.sysObjectIds.push_back(argv[++i]);
      if (!ValidSysObjectId(o.sysObjectIds.back()))
        return Fail(error,
                    "'" + o.sysObjectIds.back() + "' is not an OID of at most 32 encoded octets");
    }
  }
  if (o.help) return true;
  if (!command) return Fail(error, "no command given");
  const int n = static_cast<int>(o.operands.size());
  if (n < command->minOperands) return Fail(error, o.command + ": missing operand");
  if (n > command->maxOperands)
    return Fail(error, o.command + ": unexpected operand '" + o.operands.back() + "'");
  if (o.command == "discover") return CheckDiscover(o, scanFlags, error);
  if (o.command == "status") return CheckStatus(o, error);
  return AddressAllowed(o.operands[0], true, error) &&
         (o.command != "send" || ParsePort(o.operands[1], &o.port, error));
}

std::string Usage(const std::string& command) {
  if (const Command* c = FindCommand(command)) return std::string("usage: ") + c->usage;
  std::string text =
      "usage: netio [--verbose] COMMAND ...\n"
      "Talks to network printers: status and device information over SNMP,\n"
      "agent discovery, and raw print jobs over TCP. ADDRESS is a dotted-quad\n"
      "IPv4 or an IPv6 address, or a host name (resolved, IPv6 first); a --target\n"
      "is numeric.\n\n";
  for (const Command& c : kCommands) text += std::string("  ") + c.usage;
  text +=
      "\n  --help      this text (or a command's: netio COMMAND --help)\n"
      "  --verbose   the library's diagnostic lines on standard error\n"
      "Exit status: 0 success, 1 failure, 2 usage error, 130 interrupted.\n";
  return text;
}

}  // namespace cli
