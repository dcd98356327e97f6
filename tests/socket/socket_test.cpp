// CSocket against a loopback TCP peer: the cancel channel, then the peer's end.
#include "socket/Socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

// A closed peer is EPIPE once what it sent is read, for a write too, without SIGPIPE.
TEST(CSocket, CancelWakesABlockedReadThenThePeersEndIsEpipe) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_TRUE(bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
              listen(listener, 1) == 0 &&
              getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
  CSocket s;
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
  ASSERT_EQ(s.Connect(reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const int peer = accept(listener, nullptr, nullptr);
  close(listener);
  std::atomic<bool> returned{false};
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    s.Cancel();
    // A cancel that does not wake the read fails once the peer's bytes end it.
    for (int i = 0; i < 300 && !returned; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!returned && write(peer, "0123456789", 10) != 10) ADD_FAILURE() << "cannot wake the read";
  });
  char buf[10];
  unsigned long moved = 99;
  EXPECT_EQ(s.Read(buf, sizeof buf, &moved), ECANCELED);
  returned = true;
  EXPECT_EQ(moved, 0u);
  canceller.join();
  ASSERT_EQ(write(peer, "1234", 4), 4);
  close(peer);
  EXPECT_EQ(s.Read(buf, sizeof buf, &moved), EPIPE);
  EXPECT_EQ(moved, 4u);
  int err = 0;  // the first write meets the FIN and draws a reset
  for (int i = 0; i < 50 && err == 0;
       ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
    err = s.Write("x", 1, nullptr);
  EXPECT_EQ(err, EPIPE);
}

}  // namespace
