#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/Address.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "netio/NetIO.h"

namespace cli {

namespace {

const size_t kChunk = 64 * 1024;

// An open input closed on every return path.
class Input {
 public:
  explicit Input(const std::string& path)
      : fd_(path.empty() || path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC)),
        owned_(fd_ != STDIN_FILENO) {}
  ~Input() {
    if (owned_ && fd_ >= 0) close(fd_);
  }
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
  bool owned_;
};

enum class Outcome { kDone, kInterrupted, kInputFailed, kConnectionLost };

// The input's bytes to the printer until its end, a failure or Ctrl-C.
Outcome Copy(CNetIO& netio, const Input& input, const InterruptWatch& watch, unsigned long* sent,
             int* inputError) {
  char buffer[kChunk];
  for (;;) {
    // A terminal or a pipe may hold the read for ever: wait for Ctrl-C too.
    pollfd fds[2] = {{input.fd(), POLLIN, 0}, {watch.wakeFd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      *inputError = errno;
      return Outcome::kInputFailed;
    }
    if (watch.interrupted()) return Outcome::kInterrupted;
    const ssize_t n = read(input.fd(), buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) {
      *inputError = errno;
      return Outcome::kInputFailed;
    }
    if (n == 0) return Outcome::kDone;
    const unsigned long written = netio.NetworkWrite(0, buffer, static_cast<unsigned long>(n));
    *sent += written;
    if (written < static_cast<unsigned long>(n))
      return watch.interrupted() ? Outcome::kInterrupted : Outcome::kConnectionLost;
  }
}

}  // namespace

int RunSend(const Options& options) {
  const int port = options.port;
  const std::string path = options.operands.size() > 2 ? options.operands[2] : "";
  Input input(path);
  if (input.fd() < 0) {
    Complain("cannot open " + path + ": " + strerror(errno));
    return kExitFailed;
  }
  std::string address, error;
  if (!ResolveAddress(options.operands[0], &address, &error)) {
    Complain(error);
    return kExitFailed;
  }

  CNetIO netio;
  Outcome outcome;
  unsigned long sent = 0;
  int connectError = 0, inputError = 0;
  {
    InterruptWatch watch(netio.StreamSocket());
    connectError = watch.interrupted() ? ECANCELED : netio.NetworkConnect(address.c_str(), port);
    if (connectError == ECANCELED || (connectError == 0 && watch.interrupted())) {
      outcome = Outcome::kInterrupted;
    } else if (connectError != 0) {
      outcome = Outcome::kConnectionLost;
    } else {
      outcome = Copy(netio, input, watch, &sent, &inputError);
    }
  }
  netio.NetworkClose(0);

  const std::string where = address + " port " + std::to_string(port);
  switch (outcome) {
    case Outcome::kDone:
      return kExitOk;
    case Outcome::kInterrupted:
      Complain("interrupted after " + std::to_string(sent) + " bytes to " + where);
      return kExitInterrupted;
    case Outcome::kInputFailed:
      Complain("cannot read " + (path.empty() ? std::string("standard input") : path) + ": " +
               strerror(inputError));
      return kExitFailed;
    case Outcome::kConnectionLost:
      break;
  }
  if (connectError == -1) {
    Complain("cannot open a connection to " + where);
  } else if (connectError != 0) {
    Complain("cannot connect to " + where + ": " + strerror(connectError));
  } else {
    Complain("connection to " + where + " lost after " + std::to_string(sent) + " bytes");
  }
  return kExitFailed;
}

}  // namespace cli
