#include "socket/Socket.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

const unsigned char kCancelMessage = 0;

void CloseFd(int* fd) {
  if (*fd != -1) {
    close(*fd);
    *fd = -1;
  }
}

}  // namespace

CSocket::CSocket() : m_socket(-1), m_cancelWrite(-1), m_cancelRead(-1), m_maxFd(-1), m_cancelled(false) {}

CSocket::~CSocket() {
  std::lock_guard<std::mutex> lock(m_channelLock);
  if (Valid()) CancelLocked();
  CloseDescriptors();
}

void CSocket::CloseDescriptors() {
  CloseFd(&m_socket);
  CloseFd(&m_cancelWrite);
  CloseFd(&m_cancelRead);
  m_cancelled = false;
}

int CSocket::Open(int domain, int type, int protocol) {
  std::lock_guard<std::mutex> lock(m_channelLock);
  if (Valid()) {
    // A wait still running on another thread must see the cancel, not closed descriptors.
    CancelLocked();
    CloseDescriptors();
  }
  int channel[2];
  int err = 0;
  m_socket = socket(domain, type, protocol);
  if (m_socket < 0) {
    err = errno;
    m_socket = -1;
  } else if (fcntl(m_socket, F_SETFL, O_NONBLOCK) != 0) {
    err = errno;
  } else if (socketpair(AF_UNIX, SOCK_STREAM, 0, channel) != 0) {
    err = errno;
  }
  if (err != 0) {
    CloseDescriptors();
    return err;
  }
  m_cancelWrite = channel[0];
  m_cancelRead = channel[1];
  m_maxFd = std::max({m_socket, m_cancelWrite, m_cancelRead});
  return 0;
}

int CSocket::Close() {
  std::lock_guard<std::mutex> lock(m_channelLock);
  const bool readOpen = m_cancelRead != -1;
  CloseFd(&m_socket);
  CloseFd(&m_cancelWrite);
  int result = -1;
  if (readOpen) {
    result = close(m_cancelRead);
    m_cancelRead = -1;
  }
  m_cancelled = false;
  return result;
}

bool CSocket::Valid() {
  return m_socket != -1 && m_cancelWrite != -1 && m_cancelRead != -1 && m_socket <= m_maxFd &&
         m_cancelWrite <= m_maxFd && m_cancelRead <= m_maxFd;
}

int CSocket::Cancel() {
  std::lock_guard<std::mutex> lock(m_channelLock);
  return CancelLocked();
}

int CSocket::CancelLocked() {
  if (m_cancelled) return 0;
  if (send(m_cancelWrite, &kCancelMessage, 1, MSG_NOSIGNAL) != 1) return errno;
  m_cancelled = true;
  return 0;
}

int CSocket::Select(SOCKETSELECTMODE mode, bool* ready) {
  // poll skips negative descriptors: without this a closed object would wait for ever.
  if (!Valid()) return EBADF;
  const short readable = POLLIN | POLLHUP | POLLERR;
  const short writable = POLLOUT | POLLHUP | POLLERR;
  short events = POLLIN | POLLOUT;
  if (mode == SELECTMODE_READ) events = POLLIN;
  if (mode == SELECTMODE_WRITE) events = POLLOUT;
  pollfd fds[2] = {{m_cancelRead, POLLIN, 0}, {m_socket, events, 0}};
  while (poll(fds, 2, -1) < 0) {
    if (errno != EINTR) return errno;
  }
  if (fds[0].revents & readable) return ECANCELED;
  if (ready && mode == SELECTMODE_READ) *ready = (fds[1].revents & readable) != 0;
  if (ready && mode == SELECTMODE_WRITE) *ready = (fds[1].revents & writable) != 0;
  return 0;
}

int CSocket::Connect(sockaddr const* address, int addressLength) {
  if (!address) return -1;
  if (connect(m_socket, address, static_cast<socklen_t>(addressLength)) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  if (int err = Select(SELECTMODE_CONNECT, nullptr)) return err;
  socklen_t peerLength = 0;
  if (getpeername(m_socket, nullptr, &peerLength) == 0) return 0;
  if (errno != ENOTCONN) return errno;
  int pending = 0;
  socklen_t pendingLength = sizeof pending;
  if (getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &pending, &pendingLength) != 0) return errno;
  return pending;
}

// Moves the whole length or fails; EAGAIN waits for the socket (or a cancel) and goes on.
template <typename Io>
int CSocket::Transfer(Io io, SOCKETSELECTMODE waitMode, unsigned long length, unsigned long* transferred) {
  if (!Valid()) return -1;
  unsigned long done = 0;
  int err = 0;
  while (err == 0 && done < length) {
    ssize_t n = io(done, length - done);
    if (n > 0) {
      done += static_cast<unsigned long>(n);
    } else if (n == 0) {
      err = EPIPE;
    } else {
      err = errno;
      if (err == EAGAIN) err = Select(waitMode, nullptr);
    }
  }
  if (transferred) *transferred = done;
  return err;
}

int CSocket::Write(void const* data, unsigned long length, unsigned long* transferred) {
  const char* p = static_cast<const char*>(data);
  // MSG_NOSIGNAL: a peer that went away is EPIPE here, not SIGPIPE for the process.
  auto io = [this, p](unsigned long at, unsigned long n) { return send(m_socket, p + at, n, MSG_NOSIGNAL); };
  return Transfer(io, SELECTMODE_WRITE, length, transferred);
}

int CSocket::Read(void* buffer, unsigned long length, unsigned long* transferred) {
  char* p = static_cast<char*>(buffer);
  auto io = [this, p](unsigned long at, unsigned long n) { return read(m_socket, p + at, n); };
  return Transfer(io, SELECTMODE_READ, length, transferred);
}
