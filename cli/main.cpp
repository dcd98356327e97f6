#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "netio/diagnostics.h"

int main(int argc, char** argv) {
  cli::Options options;
  std::string error;
  if (!cli::ParseArguments(argc, argv, &options, &error)) {
    cli::Complain(error);
    fputs(cli::Usage(options.command).c_str(), stderr);
    return cli::kExitUsage;
  }
  if (options.help) {
    fputs(cli::Usage(options.command).c_str(), stdout);
    return cli::kExitOk;
  }
  // Standard output is the command's own, for people and scripts alike.
  netio::SetDiagnosticsSink(options.verbose ? stderr : nullptr);
  if (options.command == "status") return cli::RunStatus(options);
  if (options.command == "info") return cli::RunInfo(options);
  if (options.command == "discover") return cli::RunDiscover(options);
  return cli::RunSend(options);
}
