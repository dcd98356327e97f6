// A private print system: cupsd with its own ServerRoot in a TempDir,
// reached through a socket path (CUPS_SERVER), stopped by PID.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "env/TestEnv.h"

namespace testenv {

class Cupsd {
 public:
  Cupsd() = default;
  Cupsd(const Cupsd&) = delete;
  Cupsd& operator=(const Cupsd&) = delete;

  // Starts the daemon and waits until it answers; `why` says what failed.
  bool Start(std::string* why);
  // Adds a raw queue printing to `deviceUri`; `why` carries lpadmin's words.
  bool AddQueue(const std::string& name, const std::string& deviceUri, std::string* why);
  // "CUPS_SERVER=<socket>", for the environment of clients.
  std::string ServerEnv() const { return "CUPS_SERVER=" + dir_ / "cups.sock"; }

 private:
  TempDir dir_;
  std::unique_ptr<Process> daemon_;
};

}  // namespace testenv
