// scripts/lib/private-cupsd.sh's cupsd in a TempDir, reached through a socket, stopped by PID.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "env/TestEnv.h"

namespace testenv {

class Cupsd {
 public:
  // Starts the daemon and waits until it answers; `why` says what failed.
  bool Start(std::string* why) {
    const std::string cupsd = FindProgram("cupsd");
    if (cupsd.empty() || FindProgram("lpadmin").empty())
      return *why = "cupsd or lpadmin is not installed (cups-daemon, cups-client)", false;
    // Scheme names match as written.
    const RunResult wrote = RunRecipe(
        "private-cupsd.sh",
        {"write_private_cupsd_conf", dir_.path(), "USB", "ipp", "socket", "LPD", "dnssd", "MDNS"});
    if (wrote.exitCode != 0) return *why = "cupsd's files not written: " + wrote.err, false;
    daemon_ =
        std::make_unique<Process>(std::vector<std::string>{cupsd, "-f", "-c", dir_ / "cupsd.conf",
                                                           "-s", dir_ / "cups-files.conf"},
                                  std::vector<std::string>{}, dir_ / "cupsd.log");
    for (int i = 0; i < 100 && daemon_->running(); ++i) {
      if (Run({FindProgram("lpstat"), "-r"}, {ServerEnv()}, std::chrono::seconds(5))
              .out.find("is running") != std::string::npos)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    *why = "cupsd did not come up: " + daemon_->Log() + ReadFile(dir_ / "log/error_log");
    return false;
  }
  // A raw queue printing to `deviceUri`; `why` carries lpadmin's words.
  bool AddQueue(const std::string& name, const std::string& deviceUri, std::string* why) {
    const RunResult r =
        Run({FindProgram("lpadmin"), "-p", name, "-v", deviceUri, "-m", "raw", "-E"}, {ServerEnv()},
            std::chrono::seconds(20));
    *why = r.err;
    return r.exitCode == 0;
  }
  // "CUPS_SERVER=<socket>", for the environment of clients.
  std::string ServerEnv() const { return "CUPS_SERVER=" + dir_ / "cups.sock"; }

 private:
  TempDir dir_;
  std::unique_ptr<Process> daemon_;
};

}  // namespace testenv
