#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <queue>

#include "netio/Fleet.h"
#include "netio/KeyCache.h"
#include "netio/exchange.h"
#include "netio/oids.h"
#include "netio/snmpv3_exchange.h"

namespace netio {

namespace {

// The single reads' community; their figures come from the exchange layer.
const char kCommunity[] = "public";
// Descriptors kept back for the rest of the process.
constexpr rlim_t kSpareDescriptors = 64;
constexpr int kEventBatch = 256;

enum class Phase { kIdle, kV1, kDiscovery, kAsk };
enum Role { kFirst = 0, kAsk = 1 };  // the v1 or discovery socket; the authenticated request's

class Fd {
 public:
  Fd() = default;
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

struct Printer {
  Phase phase = Phase::kIdle;
  size_t index = 0;
  SocketAddress to{};
  Fd sock[2];
  uint32_t serial[2] = {};
  uint64_t timer = 0;
  Clock::time_point deadline, cap;
  int foreign = 0;
  bool taken = false;
  uint16_t msgId = 0;
  _SNMP_PARAM_V3 params{};
  PRINTER_STATUS status{};
};

struct Timer {
  Clock::time_point when;
  uint32_t slot;
  uint64_t id;
  bool operator>(const Timer& other) const { return when > other.when; }
};

int FittingParallel(int parallel) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return parallel;
  const rlim_t usable = limit.rlim_cur > 2 * kSpareDescriptors ? limit.rlim_cur - kSpareDescriptors
                                                                : kSpareDescriptors;
  return static_cast<int>(std::min<rlim_t>(static_cast<rlim_t>(parallel), usable / 2));
}

class FleetLoop {
 public:
  FleetLoop(const std::vector<std::string>& addresses, int parallel, const FleetCallback& done)
      : addresses_(addresses), done_(done), slots_(static_cast<size_t>(std::max(1, parallel))) {
    for (size_t i = slots_.size(); i-- > 0;) free_.push_back(static_cast<uint32_t>(i));
  }
  ~FleetLoop() {
    if (epoll_ >= 0) close(epoll_);
  }

  bool Run() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) return false;
    epoll_event events[kEventBatch];
    while (next_ < addresses_.size() || free_.size() < slots_.size()) {
      while (next_ < addresses_.size() && !free_.empty()) {
        const uint32_t slot = free_.back();
        free_.pop_back();
        Start(slot, next_++);
      }
      const int n = epoll_wait(epoll_, events, kEventBatch, WaitMilliseconds());
      for (int i = 0; i < n; ++i) Readable(events[i].data.u64);
      Expire();
    }
    return true;
  }

 private:
  void Start(uint32_t slot, size_t index) {
    Printer& p = slots_[slot];
    p.phase = Phase::kV1;
    p.index = index;
    p.taken = false;
    p.status = PRINTER_STATUS{};
    if (!ParseNumericAddress(addresses_[index].c_str(), AF_UNSPEC, kSnmpPort, &p.to))
      return Finish(slot, FleetProtocol::kNone, "not a numeric address");
    // A zone written in the text wins; else the scope discovery found, as in a single read.
    if (p.to.sa.sa_family == AF_INET6 && p.to.v6.sin6_scope_id == 0 && scope_id > 0)
      p.to.v6.sin6_scope_id = static_cast<uint32_t>(scope_id);
    unsigned char request[kSnmpV3WorkSize];
    const int length = BuildStatusRequest(kCommunity, request, sizeof request);
    if (length < 0 || !Open(slot, kFirst)) return StartV3(slot);
    const int broadcast = 0;
    setsockopt(p.sock[kFirst].get(), SOL_SOCKET, SO_BROADCAST, &broadcast, sizeof broadcast);
    ssize_t sent = 0;
    for (int i = 0; i < kStatusCopies; ++i) sent = SendTo(p, kFirst, request, length);
    if (sent < 1) return StartV3(slot);
    p.foreign = 0;
    Watch(slot, kFirst, EPOLLIN);
    SetDeadline(slot, Clock::now() + kStatusAnswerWait);
  }

  // SNMPv1 gave nothing: engine-ID discovery, as NetworkReadStatusSNMPv3 begins.
  void StartV3(uint32_t slot) {
    Printer& p = slots_[slot];
    p.sock[kFirst].Close();
    p.phase = Phase::kDiscovery;
    unsigned char request[kSnmpV3WorkSize];
    const int length = CNetIO::BuildSnmpV3GetEngineIdPacket(SNMPv3RequestID, SNMPv3MsgID, request,
                                                            sizeof request);
    ++SNMPv3RequestID;
    ++SNMPv3MsgID;
    if (length <= 0 || !Open(slot, kFirst)) return Finish(slot, FleetProtocol::kNone, "no socket");
    const int broadcast = 0;
    setsockopt(p.sock[kFirst].get(), SOL_SOCKET, SO_BROADCAST, &broadcast, sizeof broadcast);
    if (SendTo(p, kFirst, request, length) < 1)
      return Finish(slot, FleetProtocol::kNone, "not sent");
    Watch(slot, kFirst, EPOLLIN);
    p.cap = Clock::now() + kReadBudget;
    SetDeadline(slot, std::min(Clock::now() + kSnmpV3Silence, p.cap));
  }

  // An accepted Report: the authenticated request from a socket of its own,
  // while Reports wait in the first socket until its answers fall silent.
  bool StartAsk(uint32_t slot) {
    Printer& p = slots_[slot];
    if (!Open(slot, kAsk)) return false;
    const char* const oids[] = {kDeviceIdOid.text};
    unsigned char request[kSnmpV3WorkSize];
    p.msgId = SNMPv3MsgID;
    const int length =
        LocaliseRecordKeys(&p.params) ? BuildSnmpV3RequestWithKeys(p.params, 1, oids, request) : 0;
    if (length <= 0 || SendTo(p, kAsk, request, length) != length) {
      p.sock[kAsk].Close();
      return false;
    }
    Watch(slot, kFirst, 0);
    Watch(slot, kAsk, EPOLLIN);
    p.phase = Phase::kAsk;
    SetDeadline(slot, std::min(Clock::now() + kSnmpV3Silence, p.cap));
    return true;
  }

  void EndAsk(uint32_t slot) {
    Printer& p = slots_[slot];
    p.sock[kAsk].Close();
    p.phase = Phase::kDiscovery;
    Watch(slot, kFirst, EPOLLIN);
    SetDeadline(slot, std::min(Clock::now() + kSnmpV3Silence, p.cap));
  }

  // The wait of the printer's phase ran out (or its socket failed).
  void Ended(uint32_t slot) {
    switch (slots_[slot].phase) {
      case Phase::kV1:
        return StartV3(slot);
      case Phase::kAsk:
        return EndAsk(slot);
      case Phase::kDiscovery:
        if (slots_[slot].taken) return Finish(slot, FleetProtocol::kSnmpV3, nullptr);
        return Finish(slot, FleetProtocol::kNone, "no answer");
      case Phase::kIdle:
        return;
    }
  }

  void Finish(uint32_t slot, FleetProtocol protocol, const char* error) {
    Printer& p = slots_[slot];
    p.sock[kFirst].Close();
    p.sock[kAsk].Close();
    p.phase = Phase::kIdle;
    ++p.timer;
    free_.push_back(slot);
    done_(FleetResult{&addresses_[p.index], protocol, error, p.status});
  }

  void Readable(uint64_t token) {
    const uint32_t slot = static_cast<uint32_t>(token >> 1) & 0x7FFFFFFFu;
    const int role = static_cast<int>(token & 1);
    const uint32_t serial = static_cast<uint32_t>(token >> 32);
    if (slot >= slots_.size()) return;
    Printer& p = slots_[slot];
    // A socket closed (and its number perhaps reused) earlier in this batch.
    if (p.phase == Phase::kIdle || p.serial[role] != serial || p.sock[role].get() < 0) return;
    const Phase phase = p.phase;
    if ((role == kAsk) != (phase == Phase::kAsk)) return;
    unsigned char datagram[kStatusReceiveSize];
    const size_t size = phase == Phase::kV1 ? sizeof datagram : size_t{kSnmpV3WorkSize};
    for (;;) {
      // As a blocking receive whose time is up returns before reading.
      if (Clock::now() >= p.deadline) return Ended(slot);
      SocketAddress from{};
      socklen_t fromLength = sizeof from.any;
      const ssize_t n =
          recvfrom(p.sock[role].get(), datagram, size, MSG_DONTWAIT, &from.sa, &fromLength);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n < 0) return Ended(slot);
      // An empty datagram is no answer and must not cut a read short.
      if (n == 0) continue;
      if (!FromPrinter(p.to, from)) {
        ReportRefusal(Refusal::kSender, from);
        if (phase == Phase::kV1 && p.foreign++ == kStatusMaxForeign) return StartV3(slot);
        continue;
      }
      if (!Take(slot, datagram, n, from)) return;
    }
  }

  // One datagram of the printer's; false once the phase has moved on.
  bool Take(uint32_t slot, unsigned char* datagram, ssize_t n, const SocketAddress& from) {
    Printer& p = slots_[slot];
    switch (p.phase) {
      case Phase::kV1:
        if (CNetIO::parseForDeviceId(datagram, static_cast<int>(n), &p.status)) {
          Finish(slot, FleetProtocol::kSnmpV1, nullptr);
        } else {
          ReportRefusal(from);
          StartV3(slot);
        }
        return false;
      case Phase::kDiscovery:
        SetDeadline(slot, std::min(Clock::now() + kSnmpV3Silence, p.cap));
        if (!AcceptedReport(datagram, n, &p.params)) {
          ReportRefusal(from);
          return true;
        }
        return !StartAsk(slot);
      case Phase::kAsk: {
        SetDeadline(slot, std::min(Clock::now() + kSnmpV3Silence, p.cap));
        // Only this answer's own OCTET STRING may be decoded, and a later
        // answer that does not decode must not spoil a record already good.
        memset(g_deviceid, 0, sizeof g_deviceid);
        PRINTER_STATUS scratch;
        CTavraCmd decoder;
        if (!AcceptedAnswer(datagram, n, p.msgId, &p.params, outputDeviceIdValue)) {
          ReportRefusal(from);
        } else if (decoder.DecodStatusFromDeviceID(g_deviceid, &scratch) != -1) {
          p.status = scratch;
          p.taken = true;
        } else {
          ReportRefusal(Refusal::kValue, from);
        }
        return true;
      }
      case Phase::kIdle:
        break;
    }
    return false;
  }

  bool Open(uint32_t slot, int role) {
    Printer& p = slots_[slot];
    p.sock[role].Reset(socket(p.to.sa.sa_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    p.serial[role] = ++serial_;
    epoll_event event{};
    event.data.u64 = (static_cast<uint64_t>(p.serial[role]) << 32) | (slot << 1) |
                     static_cast<uint64_t>(role);
    return p.sock[role].get() >= 0 &&
           epoll_ctl(epoll_, EPOLL_CTL_ADD, p.sock[role].get(), &event) == 0;
  }

  void Watch(uint32_t slot, int role, uint32_t events) {
    Printer& p = slots_[slot];
    epoll_event event{};
    event.events = events;
    event.data.u64 = (static_cast<uint64_t>(p.serial[role]) << 32) | (slot << 1) |
                     static_cast<uint64_t>(role);
    epoll_ctl(epoll_, EPOLL_CTL_MOD, p.sock[role].get(), &event);
  }

  static ssize_t SendTo(const Printer& p, int role, const unsigned char* message, int length) {
    return sendto(p.sock[role].get(), message, static_cast<size_t>(length), 0, &p.to.sa,
                  AddressLength(p.to));
  }

  void SetDeadline(uint32_t slot, Clock::time_point when) {
    Printer& p = slots_[slot];
    p.deadline = when;
    timers_.push(Timer{when, slot, ++p.timer});
  }

  int WaitMilliseconds() {
    while (!timers_.empty() && timers_.top().id != slots_[timers_.top().slot].timer) timers_.pop();
    if (timers_.empty()) return -1;
    const auto left = timers_.top().when - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    // Rounded up, so the wait never ends before the deadline it serves.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
  }

  void Expire() {
    const auto now = Clock::now();
    while (!timers_.empty() && timers_.top().when <= now) {
      const Timer t = timers_.top();
      timers_.pop();
      if (t.id == slots_[t.slot].timer && slots_[t.slot].phase != Phase::kIdle) Ended(t.slot);
    }
  }

  const std::vector<std::string>& addresses_;
  const FleetCallback& done_;
  std::vector<Printer> slots_;
  std::vector<uint32_t> free_;
  std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers_;
  size_t next_ = 0;
  uint32_t serial_ = 0;
  int epoll_ = -1;
};

}  // namespace

bool ReadFleet(const std::vector<std::string>& addresses, int parallel, const FleetCallback& done) {
  const int fitting = FittingParallel(std::max(1, parallel));
  const size_t inFlight = std::min(static_cast<size_t>(std::max(1, fitting)), addresses.size());
  FleetLoop loop(addresses, static_cast<int>(inFlight), done);
  return loop.Run();
}

}  // namespace netio
