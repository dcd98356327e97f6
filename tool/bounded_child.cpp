#include "tool/bounded_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

BoundedChild::BoundedChild(const std::function<void(int fd)>& work) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // A parent killed from outside cannot end the child: the kernel does.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(1);
    close(fds[0]);
    work(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  if (pid_ < 0) {
    close(fds[0]);
    return;
  }
  fd_ = fds[0];
}

BoundedChild::~BoundedChild() {
  if (fd_ >= 0) close(fd_);
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

BoundedChild::Read BoundedChild::ReadFull(void* buffer, size_t size, Clock::time_point deadline) {
  if (fd_ < 0) return Read::kEnd;
  auto* at = static_cast<char*>(buffer);
  for (size_t done = 0; done < size;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return Read::kTimedOut;
    pollfd p = {fd_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return Read::kEnd;
    if (ready <= 0) continue;
    const ssize_t n = read(fd_, at + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Read::kEnd;
    done += static_cast<size_t>(n);
  }
  return Read::kDone;
}

bool BoundedChild::WriteAll(int fd, const void* data, size_t size) {
  const auto* at = static_cast<const char*>(data);
  for (size_t done = 0; done < size;) {
    const ssize_t n = write(fd, at + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}
