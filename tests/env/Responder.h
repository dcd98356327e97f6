// A scripted UDP peer in the test's namespace: records datagrams, answers late.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testenv {

using Datagram = std::vector<uint8_t>;

struct Reply {
  std::vector<uint8_t> bytes;
  std::chrono::milliseconds delay{0};
};

// Called for the index-th datagram received (0 first).
using ResponderScript = std::function<std::vector<Reply>(const Datagram& request, size_t index)>;

class Responder {
 public:
  Responder(std::string address, ResponderScript script);  // on port 161
  ~Responder();
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  bool Start(std::string* why);
  bool WaitForRequests(size_t count, std::chrono::milliseconds limit);
  std::vector<Datagram> Received();

 private:
  void Run();

  std::string address_;
  ResponderScript script_;
  int fd_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  bool stop_ = false;
  std::vector<Datagram> received_;
};

}  // namespace testenv
