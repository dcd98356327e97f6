// A UDP peer of the tests' own on a loopback address inside the test's
// namespace: it records every datagram and answers as the test scripts,
// late or from another address when asked. For what a real agent cannot be
// made to do (timing, copies, foreign senders, broken answers).
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

// Addresses are numeric texts; an IPv6 zone is written "%index" ("%lo" is read too).
struct Datagram {
  std::vector<uint8_t> bytes;
  std::string fromAddress;
  uint16_t fromPort = 0;
};

struct Reply {
  Reply(std::vector<uint8_t> octets = {}, std::chrono::milliseconds after = {})
      : bytes(std::move(octets)), delay(after) {}
  std::vector<uint8_t> bytes;
  std::chrono::milliseconds delay{0};
  // Sender of the reply; empty address or port 0: the responder's own.
  std::string fromAddress;
  uint16_t fromPort = 0;
};

// Called for the index-th datagram received (0 first).
using ResponderScript = std::function<std::vector<Reply>(const Datagram& request, size_t index)>;

// Answers only the first request, once.
ResponderScript AnswerFirst(Reply reply);

class Responder {
 public:
  Responder(std::string address, ResponderScript script, uint16_t port = 161);
  ~Responder();
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  // Binds address:port and starts answering.
  bool Start(std::string* why);
  void Stop();
  // Waits until `count` datagrams arrived; true when they did in time.
  bool WaitForRequests(size_t count, std::chrono::milliseconds limit);
  std::vector<Datagram> Received();
  // Replies that could not be sent, with the reason.
  std::vector<std::string> Errors();

 private:
  struct Pending {
    Reply reply;
    Datagram to;
    std::chrono::steady_clock::time_point due;
  };
  void Run();
  void Send(const Pending& pending);

  std::string address_;
  uint16_t port_;
  ResponderScript script_;
  int fd_ = -1;
  int family_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  bool stop_ = false;
  std::vector<Datagram> received_;
  std::vector<std::string> errors_;
};

}  // namespace testenv
