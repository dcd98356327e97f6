// A stream peer of the tests' own that accepts every connection and then
// holds it: silent, or trickling one octet every 100 ms so that no single
// read of the client ever times out. Stands for a print server or a system
// bus that hangs its clients. Listens on 127.0.0.1 (an ephemeral TCP port)
// or on a unix socket path; its thread ends with Stop or the destructor.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace testenv {

class StallPeer {
 public:
  enum class Mode { kSilent, kTrickle };

  // `unixPath` empty: TCP on 127.0.0.1.
  explicit StallPeer(Mode mode, std::string unixPath = "");
  ~StallPeer();
  StallPeer(const StallPeer&) = delete;
  StallPeer& operator=(const StallPeer&) = delete;

  bool Start(std::string* why);
  void Stop();
  uint16_t port() const { return port_; }
  // Connections accepted so far.
  int accepted() const { return accepted_; }

 private:
  void Run();

  Mode mode_;
  std::string unixPath_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<int> accepted_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace testenv
