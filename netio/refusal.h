// Why an answer was refused. The parsers keep their specified results and
// leave the reason of their last refusal in a per-thread slot, written only
// on the refusing path, so an accepted message costs nothing extra.
#pragma once

#include <cstdint>

namespace netio {

enum class Refusal : uint8_t {
  kNone,
  kTruncated,           // ran out of octets before a tag or a length
  kTag,                 // another tag than the one the layout has there
  kLength,              // a length past its container, or one an int cannot hold
  kVersionOrCommunity,  // not this protocol's version, or a community the caller cannot take
  kNotResponse,         // a PDU other than a response (or a Report in SNMPv3)
  kMsgId,               // not the msgID of the request
  kAuthMissing,         // no authentication where the request had it
  kAuthWrong,           // an authentication code that does not match
  kEngine,              // an engine the exchange does not talk to, or an error in its Report
  kDecryption,          // a scoped PDU that does not decipher
  kSender,              // not the printer's address, port 161 and link
  kLate,                // arrived after the operation's deadline
  kValue,               // well formed, but without the value the exchange asked for
};

// Cold and out of line: the readers' accepting path stays as small as it was.
__attribute__((cold, noinline)) void RecordRefusal(Refusal reason);

// Records `reason` in this thread's slot; false, so a check can end with
// `return Refuse(...)`.
inline bool Refuse(Refusal reason) {
  RecordRefusal(reason);
  return false;
}

// The reason of this thread's last refusal.
Refusal LastRefusal();

const char* RefusalText(Refusal reason);

}  // namespace netio
