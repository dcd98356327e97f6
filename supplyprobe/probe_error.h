// Exit statuses of supplyprobe and the one line that explains a failure.
#pragma once

#include <string>

namespace supplyprobe {

enum Status {
  kOk = 0,
  kNoMatch = 1,     // no connected printer matches the URI
  kUsage = 2,       // usage error, or not a usb URI
  kNoAccess = 3,    // found, but the device node cannot be opened
  kNoAnswer = 4,    // no answer, a malformed device ID, or busy past the wait
};

struct Failure {
  Status status = kOk;
  std::string message;
};

}  // namespace supplyprobe
