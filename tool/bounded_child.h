// Library calls that can block without bound on a peer (the print system's
// client, libdbus under the Avahi client) run in a forked child. The parent
// reads what the child writes to a pipe against deadlines of its own and
// ends the child by its PID, so a server that accepts and then stalls or
// trickles cannot hold the tool.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>

class BoundedChild {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Read {
    kDone,     // the buffer is full
    kEnd,      // the child closed the pipe (or could not be started) first
    kTimedOut  // the deadline passed first
  };

  // Forks; the child runs `work` with the pipe's writing end, then _exits.
  explicit BoundedChild(const std::function<void(int fd)>& work);
  // Kills the child, whether it still runs or not, and reaps it.
  ~BoundedChild();
  BoundedChild(const BoundedChild&) = delete;
  BoundedChild& operator=(const BoundedChild&) = delete;

  // Exactly `size` octets into `buffer` before `deadline`.
  Read ReadFull(void* buffer, size_t size, Clock::time_point deadline);

  // For the child: all of `data` to `fd`; false when the pipe refused it.
  static bool WriteAll(int fd, const void* data, size_t size);

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};
