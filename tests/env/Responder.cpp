#include "env/Responder.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace testenv {

namespace {

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
  sockaddr* sa() { return reinterpret_cast<sockaddr*>(&storage); }
};

}  // namespace

Responder::Responder(std::string address, ResponderScript script)
    : address_(std::move(address)), script_(std::move(script)) {}

Responder::~Responder() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) close(fd_);
}

bool Responder::Start(std::string* why) {
  Address a;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&a.storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
  if (inet_pton(AF_INET, address_.c_str(), &v4->sin_addr) == 1)
    v4->sin_family = AF_INET, v4->sin_port = htons(161), a.length = sizeof *v4;
  else if (inet_pton(AF_INET6, address_.c_str(), &v6->sin6_addr) == 1)
    v6->sin6_family = AF_INET6, v6->sin6_port = htons(161), a.length = sizeof *v6;
  fd_ = a.length ? socket(a.storage.ss_family, SOCK_DGRAM, 0) : -1;
  if (fd_ < 0 || bind(fd_, a.sa(), a.length) != 0)
    return *why = "cannot bind " + address_ + ":161: " + strerror(errno), false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void Responder::Run() {
  using Clock = std::chrono::steady_clock;
  std::vector<std::pair<Clock::time_point, std::pair<Reply, Address>>> pending;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    pollfd pfd{fd_, POLLIN, 0};
    Address from;
    from.length = sizeof from.storage;
    uint8_t buf[65536];
    const ssize_t n =
        poll(&pfd, 1, 2) > 0 ? recvfrom(fd_, buf, sizeof buf, 0, from.sa(), &from.length) : -1;
    if (n >= 0) {
      const Datagram d(buf, buf + n);
      size_t index;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        index = received_.size();
        received_.push_back(d);
      }
      arrived_.notify_all();
      for (auto& r : script_(d, index)) pending.push_back({Clock::now() + r.delay, {r, from}});
    }
    for (auto it = pending.begin(); it != pending.end();) {
      const Reply& r = it->second.first;
      Address& to = it->second.second;
      const bool due = it->first <= Clock::now();
      if (due) sendto(fd_, r.bytes.data(), r.bytes.size(), 0, to.sa(), to.length);
      it = due ? pending.erase(it) : it + 1;
    }
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

}  // namespace testenv
