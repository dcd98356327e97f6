// CSocket against a TCP peer of the test on loopback: transfers, the peer's
// end, and the cancel channel that cuts any wait short.
#include "socket/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Probe : CSocket {
  using CSocket::m_socket;
};

// A listening TCP socket on 127.0.0.1 with an ephemeral port.
struct Listener {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  Listener() {
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      ADD_FAILURE() << "cannot listen on loopback: " << strerror(errno);
  }
  ~Listener() { close(fd); }
  // Connects `s` and gives the peer's end.
  int Connect(CSocket& s) {
    EXPECT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
    EXPECT_EQ(s.Connect(reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return accept(fd, nullptr, nullptr);
  }
};

TEST(CSocket, ClosedObjectRefusesEverything) {
  CSocket s;
  char buf[4];
  unsigned long moved = 77;
  EXPECT_EQ(s.Read(buf, sizeof buf, &moved), -1);
  EXPECT_EQ(s.Write(buf, sizeof buf, &moved), -1);
  EXPECT_EQ(moved, 77u);
  EXPECT_EQ(s.Connect(nullptr, 0), -1);
  EXPECT_EQ(s.Select(SELECTMODE_READ, nullptr), EBADF);
  EXPECT_EQ(s.Open(-1, SOCK_STREAM, 0), EAFNOSUPPORT);
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
  EXPECT_EQ(s.Close(), 0);
  EXPECT_EQ(s.Close(), -1);
}

// What a read ends with when the peer wrote `sent` and perhaps closed, with the
// socket cancelled (twice) before it or not: a read that needs no wait proceeds;
// a reopened socket starts uncancelled.
TEST(CSocket, ReadEndsAsThePeerAndTheCancelSay) {
  const struct {
    std::string sent;
    bool peerCloses, cancelled;
    unsigned long length;
    int result;
    unsigned long moved;
  } rows[] = {
      {"", false, true, 10, ECANCELED, 0},
      {"abcd", false, true, 4, 0, 4},
      {"1234", true, false, 10, EPIPE, 4},
  };
  for (const auto& row : rows) {
    Listener l;
    CSocket s;
    const int peer = l.Connect(s);
    ASSERT_EQ(write(peer, row.sent.data(), row.sent.size()), ssize_t(row.sent.size()));
    if (row.peerCloses) close(peer);
    if (row.cancelled) {
      ASSERT_TRUE(s.Cancel() == 0 && s.Cancel() == 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    char buf[10];
    unsigned long moved = 99;
    EXPECT_EQ(s.Read(buf, row.length, &moved), row.result) << row.sent;
    EXPECT_EQ(moved, row.moved) << row.sent;
    if (row.cancelled) {
      bool ready = false;
      EXPECT_EQ(s.Select(SELECTMODE_READ, &ready), ECANCELED);
      ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
      EXPECT_EQ(s.Select(SELECTMODE_WRITE, &ready), 0);
    }
    if (!row.peerCloses) close(peer);
  }
}

TEST(CSocket, WriteAndReadMoveEverythingAndAClosedPeerIsEpipe) {
  Listener l;
  CSocket a;
  const int peer = l.Connect(a);
  // Larger than the socket buffers, so both sides wait in between.
  std::vector<char> out(4 << 20), in(out.size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(i * 7);
  std::thread echo([&] {
    std::vector<char> buf(out.size());
    size_t got = 0;
    for (ssize_t n; got < buf.size() && (n = read(peer, buf.data() + got, buf.size() - got)) > 0;) got += size_t(n);
    for (ssize_t n, sent = 0; size_t(sent) < got && (n = write(peer, buf.data() + sent, got - sent)) > 0;) sent += n;
  });
  unsigned long moved = 5;
  EXPECT_EQ(a.Write("", 0, &moved), 0);
  EXPECT_EQ(moved, 0u);
  EXPECT_EQ(a.Write(out.data(), out.size(), &moved), 0);
  EXPECT_EQ(moved, out.size());
  EXPECT_EQ(a.Read(in.data(), in.size(), &moved), 0);
  EXPECT_EQ(moved, in.size());
  echo.join();
  EXPECT_EQ(in, out);
  close(peer);
  // The first write meets the peer's FIN and draws a reset; a later one fails, without SIGPIPE.
  int err = 0;
  for (int i = 0; i < 50 && err == 0; ++i) {
    err = a.Write("x", 1, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(err, EPIPE);
}

// A cancel from another thread wakes a blocked read, on a descriptor past
// FD_SETSIZE when the limit allows: waits use poll, not select.
TEST(CSocket, CancelFromAnotherThreadWakesBlockedRead) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  rlimit raised = limit;
  raised.rlim_cur = std::min<rlim_t>(limit.rlim_max, FD_SETSIZE + 64);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  const bool high = raised.rlim_cur == FD_SETSIZE + 64;
  std::vector<int> fillers{open("/dev/null", O_RDONLY)};
  while (high && fillers.back() >= 0 && fillers.back() < FD_SETSIZE + 8) fillers.push_back(dup(fillers[0]));
  {
    Listener l;
    Probe s;
    const int peer = l.Connect(s);
    if (high) {
      EXPECT_GE(s.m_socket, FD_SETSIZE);
    }
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
  }
  for (int fd : fillers)
    if (fd >= 0) close(fd);
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace
