// The exchange layer: the plumbing of every UDP conversation of the library
// (status reads, device queries, the SNMPv3 exchange, discovery). It owns the
// destination, the sender rule, the paced copies, the one deadline of an
// operation that every inner loop is given, the refusal lines and the cap on
// the agents one scan keeps. Free functions, so an event loop of its own can
// use the rules without the blocking loops.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "netio/address.h"
#include "netio/refusal.h"

namespace netio {

socklen_t AddressLength(const SocketAddress& address);

// The address without port or zone, as inet_ntop writes it; "" when it has no text.
const char* AddressText(const SocketAddress& address, char* text, socklen_t size);

// ---- destination and sender ----

// The printer at `host` (numeric, netio/address.h) of `family` (AF_UNSPEC:
// either), port 161. For IPv6 a positive scope_id (chosen by discovery)
// overrides the zone. False before any socket exists for anything else,
// with the entry points' "error in getaddrinfo" line when `report`.
bool PrinterDestination(const char* host, int family, SocketAddress* to, bool report = false);

// The sender rule: an answer counts only from the destination's address and
// port and, for a link-local destination, from the same interface.
bool FromPrinter(const SocketAddress& destination, const SocketAddress& sender);

// ---- deadlines ----

using Clock = std::chrono::steady_clock;

// A status read or a device query ends at most this long after it began.
constexpr std::chrono::seconds kReadBudget{10};
// A discovery scan gets at most this long per interface.
constexpr std::chrono::seconds kScanBudget{30};

// The SNMPv1 status read, single or in a fleet: three copies, 50 ms for the
// answer, and a 17th datagram from another sender ends that wait.
constexpr int kStatusCopies = 3;
constexpr std::chrono::milliseconds kStatusAnswerWait{50};
constexpr int kStatusMaxForeign = 16;
constexpr size_t kStatusReceiveSize = 4024;
// An SNMPv3 wait ends after a second without a datagram from the printer.
constexpr std::chrono::seconds kSnmpV3Silence{1};

// Made once where an operation begins and handed down: an inner loop waits
// until the nearer of its own silence and this, never restarting the clock.
class Deadline {
 public:
  explicit Deadline(Clock::duration budget) : end_(Clock::now() + budget) {}
  bool Passed() const { return Clock::now() >= end_; }
  // The nearer of this deadline and `wait` from now.
  Deadline Within(Clock::duration wait) const;
  Clock::time_point end() const { return end_; }

 private:
  Clock::time_point end_;
};

// ---- refusals ----

// One line through Diagnose: "refused answer from ADDRESS port P: REASON".
void ReportRefusal(Refusal reason, const SocketAddress& from);
// The same with the reason the last parse left.
void ReportRefusal(const SocketAddress& from);

// ---- sockets and sends ----

// A UDP socket closed on every return path.
class UdpSocket {
 public:
  UdpSocket() = default;
  explicit UdpSocket(int family);
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  int fd() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void Close();

 private:
  int fd_ = -1;
};

// SO_BROADCAST as given.
void SetBroadcast(int fd, bool broadcast);

// `copies` sends of the message, each followed by `pause` when that is not
// zero; the last send's result.
ssize_t SendCopies(int fd, const unsigned char* message, size_t length, const SocketAddress& to,
                   int copies, std::chrono::microseconds pause);

// The single request of an exchange: true when all of it went out. A request
// that could not be built (`length` 0 or less) is never sent as an empty datagram.
bool SendRequest(int fd, const unsigned char* request, int length, const SocketAddress& to);

// ---- receiving ----

// Datagrams until a Next that returns 0 or less: the silence or the deadline
// ran out, or an error. Empty datagrams are passed over. With a `printer`,
// datagrams that fail the sender rule are refused (one line each): they
// neither count nor extend the wait, and the (maxForeign + 1)-th ends the
// loop with -1. At the deadline, datagrams already waiting are refused as late.
class ReceiveLoop {
 public:
  ReceiveLoop(int fd, const Deadline& deadline, Clock::duration silence,
              const SocketAddress* printer = nullptr, int maxForeign = INT_MAX);
  // The sender is written to `from` (when not null) only when a datagram arrives.
  ssize_t Next(unsigned char* buffer, size_t size, SocketAddress* from = nullptr);

 private:
  void RefuseLate(unsigned char* buffer, size_t size);

  int fd_;
  Deadline deadline_;
  Clock::duration silence_;
  const SocketAddress* printer_;
  int maxForeign_;
};

// ---- the agents of one scan ----

// The distinct agents one scan keeps: 1024 is plenty for a LAN, and a flood
// of forged senders must not grow memory. Duplicates of a kept agent pass.
class AgentCap {
 public:
  static constexpr size_t kMaxAgents = 1024;
  AgentCap();
  // Reports how many were dropped, when any were.
  ~AgentCap();
  AgentCap(const AgentCap&) = delete;
  AgentCap& operator=(const AgentCap&) = delete;
  // True for a kept agent (an earlier one, or a new one while there is room);
  // false counts a dropped one.
  bool Admit(const SocketAddress& agent);
  size_t dropped() const { return dropped_; }

 private:
  struct Key {
    uint8_t address[16];
    uint32_t scope;
    uint16_t family;
    bool operator==(const Key& other) const;
  };
  std::vector<Key> kept_;
  size_t dropped_ = 0;
};

}  // namespace netio
