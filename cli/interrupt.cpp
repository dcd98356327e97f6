#include "cli/Interrupt.h"

#include <pthread.h>
#include <unistd.h>

#include <ctime>

#include "socket/Socket.h"

namespace cli {

namespace {

// Sent by the destructor: the watcher's own signal to stop.
const int kQuit = SIGUSR1;

sigset_t Watched() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, kQuit);
  return set;
}

}  // namespace

InterruptWatch::InterruptWatch(CSocket& socket) : socket_(socket) {
  const sigset_t set = Watched();
  pthread_sigmask(SIG_BLOCK, &set, &previousMask_);
  if (pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
  thread_ = std::thread([this] { Watch(); });
}

InterruptWatch::~InterruptWatch() {
  done_ = true;
  pthread_kill(thread_.native_handle(), kQuit);
  thread_.join();
  for (int fd : wake_) {
    if (fd >= 0) close(fd);
  }
  if (interrupted_) {
    // A second Ctrl-C asked for the same end: it must not kill the process
    // before it reports what was sent.
    const sigset_t set = Watched();
    const timespec now = {0, 0};
    while (sigtimedwait(&set, nullptr, &now) > 0) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void InterruptWatch::Watch() {
  const sigset_t set = Watched();
  int signal = 0;
  if (sigwait(&set, &signal) != 0 || signal == kQuit) return;
  interrupted_ = true;
  if (wake_[1] >= 0) (void)!write(wake_[1], "x", 1);
  // A cancel that lands while the connection's socket is still being opened
  // finds no channel: repeat until the transfer has stopped.
  const timespec pause = {0, 20 * 1000 * 1000};
  sigset_t quit;
  sigemptyset(&quit);
  sigaddset(&quit, kQuit);
  while (!done_) {
    socket_.Cancel();
    if (sigtimedwait(&quit, nullptr, &pause) == kQuit) return;
  }
}

}  // namespace cli
