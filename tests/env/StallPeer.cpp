#include "env/StallPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace testenv {

namespace {

// What a trickling print server sends: a status line, then header lines
// that never end.
const std::string kStatusLine = "HTTP/1.1 200 OK\r\n";
const std::string kHeaderLine = "X-Hold: 1\r\n";

struct Held {
  int fd;
  size_t sent;
};

char NextOctet(size_t sent) {
  if (sent < kStatusLine.size()) return kStatusLine[sent];
  return kHeaderLine[(sent - kStatusLine.size()) % kHeaderLine.size()];
}
// Connections held at once; a client that keeps reconnecting gets the rest closed.
const size_t kMaxHeld = 64;

}  // namespace

StallPeer::StallPeer(Mode mode, std::string unixPath) : mode_(mode), unixPath_(std::move(unixPath)) {}

StallPeer::~StallPeer() { Stop(); }

bool StallPeer::Start(std::string* why) {
  sockaddr_storage address{};
  socklen_t length;
  if (unixPath_.empty()) {
    auto* in = reinterpret_cast<sockaddr_in*>(&address);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof *in;
  } else {
    auto* un = reinterpret_cast<sockaddr_un*>(&address);
    un->sun_family = AF_UNIX;
    if (unixPath_.size() >= sizeof un->sun_path) {
      *why = "socket path too long: " + unixPath_;
      return false;
    }
    memcpy(un->sun_path, unixPath_.c_str(), unixPath_.size() + 1);
    length = sizeof *un;
  }
  listener_ = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, 16) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *why = std::string("cannot listen: ") + strerror(errno);
    return false;
  }
  if (unixPath_.empty()) port_ = ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void StallPeer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
  if (!unixPath_.empty()) unlink(unixPath_.c_str());
}

void StallPeer::Run() {
  std::vector<Held> held;
  while (!stop_) {
    std::vector<pollfd> fds = {{listener_, POLLIN, 0}};
    poll(fds.data(), fds.size(), 100);
    if (fds[0].revents & POLLIN) {
      const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (c >= 0 && held.size() < kMaxHeld) {
        held.push_back({c, 0});
        ++accepted_;
      } else if (c >= 0) {
        close(c);
      }
    }
    // Whatever the client says is taken and ignored, so its writes never block.
    char sink[4096];
    for (Held& h : held) {
      while (read(h.fd, sink, sizeof sink) > 0) {
      }
      if (mode_ != Mode::kTrickle) continue;
      const char octet = NextOctet(h.sent);
      if (send(h.fd, &octet, 1, MSG_NOSIGNAL) == 1) ++h.sent;
    }
  }
  for (const Held& h : held) close(h.fd);
}

}  // namespace testenv
