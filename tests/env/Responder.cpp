#include "env/Responder.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace testenv {

namespace {

// Numeric IPv4 or IPv6 text; IPv6 may carry a zone, "%lo" or "%1".
bool MakeAddress(const std::string& text, uint16_t port, sockaddr_storage* out, socklen_t* length) {
  *out = {};
  auto* v4 = reinterpret_cast<sockaddr_in*>(out);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
  const size_t zone = text.find('%');
  if (zone != std::string::npos) {
    const std::string name = text.substr(zone + 1);
    unsigned index = if_nametoindex(name.c_str());
    if (index == 0) index = static_cast<unsigned>(atoi(name.c_str()));
    if (index == 0 || !MakeAddress(text.substr(0, zone), port, out, length) ||
        out->ss_family != AF_INET6)
      return false;
    v6->sin6_scope_id = index;
    return true;
  }
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    *length = sizeof *v4;
    return true;
  }
  if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    *length = sizeof *v6;
    return true;
  }
  return false;
}

void DescribeAddress(const sockaddr_storage& a, std::string* text, uint16_t* port) {
  char buf[INET6_ADDRSTRLEN] = {};
  if (a.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
    inet_ntop(AF_INET, &v4->sin_addr, buf, sizeof buf);
    *port = ntohs(v4->sin_port);
  } else {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
    inet_ntop(AF_INET6, &v6->sin6_addr, buf, sizeof buf);
    *port = ntohs(v6->sin6_port);
    if (v6->sin6_scope_id != 0) {
      *text = std::string(buf) + "%" + std::to_string(v6->sin6_scope_id);
      return;
    }
  }
  *text = buf;
}

int BoundSocket(const std::string& address, uint16_t port, std::string* why) {
  sockaddr_storage a;
  socklen_t length;
  if (!MakeAddress(address, port, &a, &length)) {
    *why = "not a numeric address: " + address;
    return -1;
  }
  int fd = socket(a.ss_family, SOCK_DGRAM, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), length) != 0) {
    *why = "cannot bind " + address + ":" + std::to_string(port) + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

ResponderScript AnswerFirst(Reply reply) {
  return [reply](const Datagram&, size_t index) {
    return index == 0 ? std::vector<Reply>{reply} : std::vector<Reply>{};
  };
}

Responder::Responder(std::string address, ResponderScript script, uint16_t port)
    : address_(std::move(address)), port_(port), script_(std::move(script)) {}

Responder::~Responder() { Stop(); }

bool Responder::Start(std::string* why) {
  fd_ = BoundSocket(address_, port_, why);
  if (fd_ < 0) return false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void Responder::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void Responder::Run() {
  std::vector<Pending> pending;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    auto now = std::chrono::steady_clock::now();
    auto wait = std::chrono::milliseconds(10);
    for (const auto& p : pending) {
      wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(p.due - now));
    }
    pollfd pfd{fd_, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(std::max<long>(0, wait.count()))) > 0) {
      uint8_t buf[65536];
      sockaddr_storage from{};
      socklen_t fromLength = sizeof from;
      ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (n >= 0) {
        Datagram d;
        d.bytes.assign(buf, buf + n);
        DescribeAddress(from, &d.fromAddress, &d.fromPort);
        size_t index;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          index = received_.size();
          received_.push_back(d);
        }
        arrived_.notify_all();
        for (auto& r : script_(d, index)) {
          pending.push_back({r, d, std::chrono::steady_clock::now() + r.delay});
        }
      }
    }
    now = std::chrono::steady_clock::now();
    for (auto it = pending.begin(); it != pending.end();) {
      if (it->due <= now) {
        Send(*it);
        it = pending.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void Responder::Send(const Pending& p) {
  std::string why;
  const bool own = p.reply.fromAddress.empty() && p.reply.fromPort == 0;
  int fd = own ? fd_
               : BoundSocket(p.reply.fromAddress.empty() ? address_ : p.reply.fromAddress,
                             p.reply.fromPort ? p.reply.fromPort : port_, &why);
  sockaddr_storage to;
  socklen_t length;
  if (fd >= 0 && MakeAddress(p.to.fromAddress, p.to.fromPort, &to, &length) &&
      sendto(fd, p.reply.bytes.data(), p.reply.bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
             length) < 0) {
    why = std::string("sendto: ") + strerror(errno);
  }
  if (fd >= 0 && !own) close(fd);
  if (!why.empty()) {
    std::lock_guard<std::mutex> lock(mutex_);
    errors_.push_back(why);
  }
}

bool Responder::WaitForRequests(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, limit, [&] { return received_.size() >= count; });
}

std::vector<Datagram> Responder::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::vector<std::string> Responder::Errors() {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

}  // namespace testenv
