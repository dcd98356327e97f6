// The front end's command line: one subcommand, its operands and options.
#pragma once

#include <string>
#include <vector>

namespace cli {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitInterrupted = 130 };

enum class Scan { kDefault, kIpv6, kScanIndex, kBoth };

struct Options {
  std::string command;  // status, info, discover, send; empty with --help alone
  std::vector<std::string> operands;
  bool help = false;
  bool verbose = false;
  bool json = false;
  bool raw = false;
  bool v3 = false;
  Scan scan = Scan::kDefault;
  std::string target;
  std::vector<std::string> sysObjectIds;
  std::string community = "public";
  int port = 0;  // send's PORT
  // status over a fleet: addresses from a file ("-": standard input), the
  // printers in flight at once, and the Prometheus text format.
  std::string from;
  int parallel = 0;  // 0: not given
  bool prometheus = false;
};

// False with the reason in `error` for anything the command does not take,
// addresses in a form ClassifyAddress refuses (and a --target that is not
// numeric) and ports outside 1 to 65535 included.
bool ParseArguments(int argc, char** argv, Options* options, std::string* error);

// The whole usage text, or one command's when `command` names one.
std::string Usage(const std::string& command);

}  // namespace cli
