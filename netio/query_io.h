// What the device queries share: the family of a numeric host text, and the
// answers of one printer read with a silence and a cap.
#pragma once

#include <sys/types.h>

#include <chrono>

#include "netio/discovery_io.h"

namespace netio {

// AF_INET or AF_INET6 for a numeric address text (an IPv6 zone allowed); 0,
// with the resolver's message reported, for anything else: a host name must
// not cost a resolver query, let alone a request.
int NumericFamily(const char* host);

// `text` and its NUL into `out` when they fit `outSize`; false, `out`
// untouched, when they do not: a cut version text would pass for a true one.
bool CopyFitting(const char* text, char* out, int outSize);

// Datagrams from `printer`, each awaited for at most `silence`, and none
// after `cap` from the start. Anyone else's datagrams are not answers: they
// neither count nor extend the wait.
class PrinterAnswers {
 public:
  PrinterAnswers(int fd, const SocketAddress& printer, std::chrono::microseconds silence,
                 std::chrono::microseconds cap);
  // The next answer's length; 0 or less ends the loop.
  ssize_t Next(unsigned char* buffer, size_t size);

 private:
  int fd_;
  const SocketAddress& printer_;
  std::chrono::microseconds silence_;
  std::chrono::steady_clock::time_point cap_;
};

}  // namespace netio
