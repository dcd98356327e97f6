// The front end's subcommands; each returns the process's exit status.
#pragma once

#include "cli/Options.h"

namespace cli {

int RunStatus(const Options& options);
// status with several addresses, --from, --parallel or --prometheus (fleet.cpp).
bool IsFleetStatus(const Options& options);
int RunFleetStatus(const Options& options);
int RunInfo(const Options& options);
int RunDiscover(const Options& options);
int RunSend(const Options& options);

// "netio: " and the message on standard error.
void Complain(const std::string& message);

// A failed status or info: the complaint, and with --json the object
// {"address": ..., "error": message} on standard output. kExitFailed.
int Failed(const Options& options, const std::string& address, const std::string& message);

}  // namespace cli
