#include "tool/probe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads up to and including the first newline, at most kProbeLineMax bytes.
// Bytes after the newline are dropped with the pipe. False on time-out.
bool ReadLine(int fd, Clock::time_point deadline, char* line) {
  size_t length = 0;
  while (length < kProbeLineMax) {
    pollfd p = {fd, POLLIN, 0};
    int ready = poll(&p, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = read(fd, line + length, kProbeLineMax - length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const char* newline = static_cast<const char*>(memchr(line + length, '\n', n));
    if (newline) {
      length = static_cast<size_t>(newline - line) + 1;
      break;
    }
    length += static_cast<size_t>(n);
  }
  line[length] = '\0';
  return true;
}

bool Reap(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    pid_t r = waitpid(pid, nullptr, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

bool ProbeCommandFits(const char* probePath, const char* queue, const char* uri) {
  return strlen(probePath) + 1 + strlen(queue) + 1 + strlen(uri) <= kProbeCommandMax;
}

ProbeResult RunProbe(const char* probePath, const char* queue, const char* uri,
                     std::chrono::milliseconds limit, char* line) {
  auto deadline = Clock::now() + limit;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return ProbeResult::kNotStarted;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  char* argv[] = {const_cast<char*>(probePath), const_cast<char*>(queue),
                  const_cast<char*>(uri), nullptr};
  pid_t pid = -1;
  int err = posix_spawn(&pid, probePath, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (err != 0) {
    close(fds[0]);
    return ProbeResult::kNotStarted;
  }

  bool gotLine = ReadLine(fds[0], deadline, line);
  // Closing first lets a probe blocked on a full pipe die of SIGPIPE.
  close(fds[0]);
  if (gotLine && Reap(pid, deadline)) return ProbeResult::kLine;
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return ProbeResult::kTimedOut;
}
