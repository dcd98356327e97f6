// Test environments shared by every suite: temporary directories, child
// processes ended by PID, private network namespaces, and the rule that a
// missing peer skips locally but fails in CI.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testenv {

// CI=true: every peer and privilege must be there.
bool InCI();
// Skips the test with `why`, or fails it in CI.
#define REQUIRE_ENV(cond, why)                                      \
  do {                                                              \
    if (!(cond)) {                                                  \
      if (::testenv::InCI()) FAIL() << "required in CI: " << (why); \
      GTEST_SKIP() << (why);                                        \
    }                                                               \
  } while (0)

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
// Lower-case hexadecimal, two digits an octet.
std::string Hex(const std::vector<uint8_t>& bytes);
void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644);

// Absolute path of an installed program, or "" when it is missing.
std::string FindProgram(const std::string& name);

// A child started by the test, stdout and stderr into `logPath`; ended by PID.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
          const std::string& logPath);
  ~Process();
  Process(const Process&) = delete;
  pid_t pid() const { return pid_; }
  bool running();
  // Polls the log until it holds `text`, the child dies, or time runs out.
  bool WaitForLog(const std::string& text, std::chrono::milliseconds limit);
  std::string Log() const { return ReadFile(logPath_); }
  // SIGTERM, then SIGKILL after a grace period; returns the wait status.
  int Stop();

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  std::string logPath_;
};

struct RunResult {
  int exitCode = -1;  // exit status, or 128 + signal
  std::string out, err;
};

// Runs a program to completion (killed after `limit`), feeding `input` on stdin.
RunResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
              std::chrono::milliseconds limit = std::chrono::seconds(30),
              const std::string& input = "");

// Calls a function of the set-up recipe scripts/lib/`script`, which the scripts share:
// `call` is the function's name and its arguments.
RunResult RunRecipe(const std::string& script, std::vector<std::string> call);

// Moves this process (and the children it starts later) into a private network
// namespace whose loopback is up: 127.0.0.0/8 and ::1, port 161 free.
// Root uses CLONE_NEWNET; others try a user namespace first. `why` explains a failure.
bool IsolateNetwork(std::string* why);

}  // namespace testenv
