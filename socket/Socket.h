// A non-blocking stream socket whose every wait can be cut short from another
// thread through a private cancel channel. Results are errno values, 0 for success.
#pragma once

#include <sys/socket.h>

#include <mutex>

enum SOCKETSELECTMODE {
  SELECTMODE_CONNECT = 0,
  SELECTMODE_READ = 1,
  SELECTMODE_WRITE = 2,
};

class CSocket {
 public:
  CSocket();
  ~CSocket();
  CSocket(const CSocket&) = delete;
  CSocket& operator=(const CSocket&) = delete;

  int Open(int domain, int type, int protocol);
  int Close();
  bool Valid();
  int Cancel();
  // Waits with poll(2), so descriptors at or above FD_SETSIZE work as well as low ones.
  int Select(SOCKETSELECTMODE mode, bool* ready);
  int Connect(sockaddr const* address, int addressLength);
  int Write(void const* data, unsigned long length, unsigned long* transferred);
  int Read(void* buffer, unsigned long length, unsigned long* transferred);

 protected:
  int m_socket;
  int m_cancelWrite;
  int m_cancelRead;
  int m_maxFd;
  bool m_cancelled;

 private:
  // Cancel runs on another thread than Open and Close: without the lock it
  // could write its byte into a descriptor just closed and handed out again.
  std::mutex m_channelLock;

  int CancelLocked();
  void CloseDescriptors();
  template <typename Io>
  int Transfer(Io io, SOCKETSELECTMODE waitMode, unsigned long length, unsigned long* transferred);
};
