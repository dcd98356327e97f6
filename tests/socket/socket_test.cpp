// CSocket against a loopback TCP peer: transfers, the peer's end, the cancel channel.
#include "socket/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Probe : CSocket {
  using CSocket::m_socket;
};

// Connects `s` to a listener on 127.0.0.1 and gives the peer's end.
int Connected(CSocket& s) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  EXPECT_TRUE(bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
              listen(listener, 1) == 0 &&
              getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
  EXPECT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
  EXPECT_EQ(s.Connect(reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const int peer = accept(listener, nullptr, nullptr);
  close(listener);
  return peer;
}

// A read that needs no wait proceeds despite a cancel; a reopened socket
// starts uncancelled; a closed peer is EPIPE, for a write too, without SIGPIPE.
TEST(CSocket, ReadsAndWritesEndAsThePeerAndTheCancelSay) {
  CSocket closed;
  unsigned long moved = 77;
  EXPECT_EQ(closed.Read(&moved, 1, &moved), -1);
  EXPECT_EQ(closed.Select(SELECTMODE_READ, nullptr), EBADF);
  const struct {
    std::string sent;
    bool peerCloses, cancelled;
    unsigned long length;
    int result;
    unsigned long moved;
  } rows[] = {{"", false, true, 10, ECANCELED, 0},
              {"abcd", false, true, 4, 0, 4},
              {"1234", true, false, 10, EPIPE, 4}};
  for (const auto& row : rows) {
    CSocket s;
    const int peer = Connected(s);
    ASSERT_EQ(write(peer, row.sent.data(), row.sent.size()), ssize_t(row.sent.size()));
    if (row.peerCloses) close(peer);
    if (row.cancelled) {
      ASSERT_TRUE(s.Cancel() == 0 && s.Cancel() == 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    char buf[10];
    moved = 99;
    EXPECT_EQ(s.Read(buf, row.length, &moved), row.result) << row.sent;
    EXPECT_EQ(moved, row.moved) << row.sent;
    bool ready = false;
    if (row.cancelled) {
      EXPECT_EQ(s.Select(SELECTMODE_READ, &ready), ECANCELED);
      ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
      EXPECT_EQ(s.Select(SELECTMODE_WRITE, &ready), 0);
      close(peer);
    }
  }
  CSocket a;
  close(Connected(a));
  int err = 0;  // the first write meets the FIN and draws a reset
  for (int i = 0; i < 50 && err == 0;
       ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
    err = a.Write("x", 1, nullptr);
  EXPECT_EQ(err, EPIPE);
}

// Larger than the socket buffers, so both sides wait in between.
TEST(CSocket, WriteAndReadMoveEverything) {
  CSocket a;
  const int peer = Connected(a);
  std::vector<char> out(4 << 20), in(out.size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(i * 7);
  std::thread echo([&] {
    std::vector<char> buf(out.size());
    const ssize_t got = recv(peer, buf.data(), buf.size(), MSG_WAITALL);
    if (got > 0) send(peer, buf.data(), size_t(got), 0);  // blocking: all of it
  });
  unsigned long moved = 0;
  EXPECT_TRUE(a.Write(out.data(), out.size(), &moved) == 0 && moved == out.size());
  EXPECT_TRUE(a.Read(in.data(), in.size(), &moved) == 0 && moved == in.size());
  echo.join();
  EXPECT_EQ(in, out);
  close(peer);
}

// A cancel from another thread wakes a blocked read, on a descriptor past
// FD_SETSIZE when the limit allows: waits use poll, not select.
TEST(CSocket, CancelFromAnotherThreadWakesBlockedRead) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  rlimit raised = limit;
  raised.rlim_cur = std::min<rlim_t>(limit.rlim_max, FD_SETSIZE + 64);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  std::vector<int> fillers{open("/dev/null", O_RDONLY)};
  while (raised.rlim_cur == FD_SETSIZE + 64 && fillers.back() >= 0 &&
         fillers.back() < FD_SETSIZE + 8)
    fillers.push_back(dup(fillers[0]));
  Probe s;
  const int peer = Connected(s);
  EXPECT_TRUE(raised.rlim_cur < FD_SETSIZE + 64 || s.m_socket >= FD_SETSIZE);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    s.Cancel();
  });
  char buf[10];
  unsigned long moved = 99;
  EXPECT_EQ(s.Read(buf, sizeof buf, &moved), ECANCELED);
  EXPECT_EQ(moved, 0u);
  canceller.join();
  close(peer);
  for (int fd : fillers) close(fd);
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace
