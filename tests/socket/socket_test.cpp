#include "socket/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// Exposes the descriptors so the tests can look into the cancel channel.
struct Probe : CSocket {
  using CSocket::m_cancelRead;
  using CSocket::m_socket;

  int PendingCancelBytes() {
    int n = -1;
    ioctl(m_cancelRead, FIONREAD, &n);
    return n;
  }
};

// A listening TCP socket on 127.0.0.1 with an ephemeral port.
struct Listener {
  int fd = -1;
  sockaddr_in address{};

  Listener() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on loopback: " << strerror(errno);
    }
  }
  ~Listener() { close(fd); }
  int Accept() { return accept(fd, nullptr, nullptr); }
  const sockaddr* addr() const { return reinterpret_cast<const sockaddr*>(&address); }
};

void OpenAndConnect(CSocket& s, Listener& l) {
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
  ASSERT_EQ(s.Connect(l.addr(), sizeof l.address), 0);
}

TEST(CSocket, ValidFollowsOpenAndClose) {
  CSocket s;
  EXPECT_FALSE(s.Valid());
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
  EXPECT_TRUE(s.Valid());
  EXPECT_EQ(s.Close(), 0);
  EXPECT_FALSE(s.Valid());
  EXPECT_EQ(s.Close(), -1);
  EXPECT_FALSE(s.Valid());
}

TEST(CSocket, OpenFailureLeavesItClosed) {
  CSocket s;
  EXPECT_EQ(s.Open(-1, SOCK_STREAM, 0), EAFNOSUPPORT);
  EXPECT_FALSE(s.Valid());
  EXPECT_EQ(s.Close(), -1);
}

TEST(CSocket, OperationsOnAClosedObjectReturnMinusOne) {
  CSocket s;
  char buf[4];
  unsigned long moved = 77;
  EXPECT_EQ(s.Read(buf, sizeof buf, &moved), -1);
  EXPECT_EQ(s.Write(buf, sizeof buf, &moved), -1);
  EXPECT_EQ(moved, 77u);
  EXPECT_EQ(s.Connect(nullptr, 0), -1);
}

TEST(CSocket, SelectReportsReadiness) {
  Listener l;
  CSocket s;
  OpenAndConnect(s, l);
  int peer = l.Accept();
  ASSERT_EQ(write(peer, "x", 1), 1);
  const struct {
    SOCKETSELECTMODE mode;
    bool ready;
  } rows[] = {{SELECTMODE_READ, true}, {SELECTMODE_WRITE, true}};
  for (const auto& row : rows) {
    bool ready = !row.ready;
    EXPECT_EQ(s.Select(row.mode, &ready), 0) << row.mode;
    EXPECT_EQ(ready, row.ready) << row.mode;
  }
  bool untouched = false;
  EXPECT_EQ(s.Select(SELECTMODE_CONNECT, &untouched), 0);
  EXPECT_FALSE(untouched);
  EXPECT_EQ(s.Select(SELECTMODE_READ, nullptr), 0);
  s.Cancel();
  bool flag = false;
  EXPECT_EQ(s.Select(SELECTMODE_READ, &flag), ECANCELED);
  s.Close();
  EXPECT_EQ(s.Select(SELECTMODE_READ, nullptr), EBADF);
  close(peer);
}

TEST(CSocket, SecondCancelWritesNoSecondByte) {
  Probe s;
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
  EXPECT_EQ(s.PendingCancelBytes(), 0);
  EXPECT_EQ(s.Cancel(), 0);
  EXPECT_EQ(s.Cancel(), 0);
  EXPECT_EQ(s.PendingCancelBytes(), 1);
}

TEST(CSocket, ReopenGivesFreshUncancelledDescriptors) {
  Probe s;
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
  ASSERT_EQ(s.Cancel(), 0);
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
  EXPECT_TRUE(s.Valid());
  EXPECT_EQ(s.PendingCancelBytes(), 0);
  EXPECT_EQ(s.Cancel(), 0);
  EXPECT_EQ(s.PendingCancelBytes(), 1);
}

TEST(CSocket, ReadAfterCancelFailsAtOnceWithNothingMoved) {
  Listener l;
  CSocket s;
  OpenAndConnect(s, l);
  int peer = l.Accept();
  ASSERT_EQ(s.Cancel(), 0);
  char buf[10];
  unsigned long moved = 99;
  EXPECT_EQ(s.Read(buf, sizeof buf, &moved), ECANCELED);
  EXPECT_EQ(moved, 0u);
  close(peer);
}

TEST(CSocket, TransferNeedingNoWaitProceedsWhenCancelled) {
  Listener l;
  CSocket s;
  OpenAndConnect(s, l);
  int peer = l.Accept();
  ASSERT_EQ(write(peer, "abcd", 4), 4);
  ASSERT_EQ(s.Cancel(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  char buf[4];
  unsigned long moved = 0;
  EXPECT_EQ(s.Read(buf, sizeof buf, &moved), 0);
  EXPECT_EQ(moved, 4u);
  close(peer);
}

TEST(CSocket, PeerClosingEarlyGivesEpipeAndTheBytesMoved) {
  Listener l;
  CSocket s;
  OpenAndConnect(s, l);
  int peer = l.Accept();
  ASSERT_EQ(write(peer, "1234", 4), 4);
  close(peer);
  char buf[10];
  unsigned long moved = 0;
  EXPECT_EQ(s.Read(buf, sizeof buf, &moved), EPIPE);
  EXPECT_EQ(moved, 4u);
}

TEST(CSocket, ZeroByteWriteSucceeds) {
  Listener l;
  CSocket s;
  OpenAndConnect(s, l);
  unsigned long moved = 5;
  EXPECT_EQ(s.Write("", 0, &moved), 0);
  EXPECT_EQ(moved, 0u);
}

TEST(CSocket, WriteAndReadMoveEverything) {
  Listener l;
  CSocket a;
  OpenAndConnect(a, l);
  int peer = l.Accept();
  // Larger than the socket buffers, so both sides wait in between.
  std::vector<char> out(4 << 20), in(out.size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(i * 7);
  std::thread echo([&] {
    std::vector<char> buf(out.size());
    size_t got = 0;
    while (got < buf.size()) {
      ssize_t n = read(peer, buf.data() + got, buf.size() - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    for (size_t sent = 0; sent < got;) {
      ssize_t n = write(peer, buf.data() + sent, got - sent);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  });
  unsigned long moved = 0;
  EXPECT_EQ(a.Write(out.data(), out.size(), &moved), 0);
  EXPECT_EQ(moved, out.size());
  EXPECT_EQ(a.Read(in.data(), in.size(), &moved), 0);
  EXPECT_EQ(moved, in.size());
  echo.join();
  EXPECT_EQ(in, out);
  close(peer);
}

TEST(CSocket, WriteToClosedPeerIsEpipeNotSigpipe) {
  Listener l;
  CSocket s;
  OpenAndConnect(s, l);
  close(l.Accept());
  // The first write meets the peer's FIN and draws a reset; a later one fails.
  int err = 0;
  for (int i = 0; i < 50 && err == 0; ++i) {
    err = s.Write("x", 1, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(err, EPIPE);
}

TEST(CSocket, ConnectToClosedPortReportsRefusal) {
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
  close(probe);  // bound, never listening: the port is closed
  CSocket s;
  ASSERT_EQ(s.Open(AF_INET, SOCK_STREAM, 0), 0);
  EXPECT_EQ(s.Connect(reinterpret_cast<sockaddr*>(&address), sizeof address), ECONNREFUSED);
}

TEST(CSocket, CancelFromAnotherThreadWakesBlockedRead) {
  Listener l;
  CSocket s;
  OpenAndConnect(s, l);
  int peer = l.Accept();
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

// Waiting with poll, not select: descriptors past FD_SETSIZE work too.
TEST(CSocket, DescriptorsAboveFdSetSizeWait) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_max < FD_SETSIZE + 64) GTEST_SKIP() << "descriptor limit too low";
  rlimit raised = limit;
  raised.rlim_cur = FD_SETSIZE + 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  std::vector<int> fillers{open("/dev/null", O_RDONLY)};
  while (fillers.back() >= 0 && fillers.back() < FD_SETSIZE + 8) fillers.push_back(dup(fillers[0]));
  {
    Listener l;
    Probe s;
    OpenAndConnect(s, l);
    EXPECT_GE(s.m_socket, FD_SETSIZE);
    int peer = l.Accept();
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      s.Cancel();
    });
    char buf[4];
    EXPECT_EQ(s.Read(buf, sizeof buf, nullptr), ECANCELED);
    canceller.join();
    close(peer);
  }
  for (int fd : fillers) {
    if (fd >= 0) close(fd);
  }
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace
