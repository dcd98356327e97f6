// Ctrl-C for a transfer: SIGINT and SIGTERM are taken by a thread of their
// own (sigwait), which cancels the stream socket and wakes the reader of the
// input. No handler runs in signal context, so nothing unsafe is called there.
#pragma once

#include <signal.h>

#include <atomic>
#include <thread>

class CSocket;

namespace cli {

class InterruptWatch {
 public:
  // Blocks the signals in the calling thread (and those it starts later).
  explicit InterruptWatch(CSocket& socket);
  // Ends the watcher before the socket may be closed, and gives the calling
  // thread its signal mask back.
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool interrupted() const { return interrupted_; }
  // Readable once interrupted: poll it beside the input.
  int wakeFd() const { return wake_[0]; }

 private:
  void Watch();

  CSocket& socket_;
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> done_{false};
  int wake_[2] = {-1, -1};
  sigset_t previousMask_;
  std::thread thread_;
};

}  // namespace cli
