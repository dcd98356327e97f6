#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/ipv6_dest.h"

using netio::Diagnose;

namespace {

using Clock = std::chrono::steady_clock;

const char kDeviceIdOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0";
// RFC 3411 enterprise form (high bit set) for enterprise 2963.
const unsigned char kEnginePrefix[] = {0x80, 0x00, 0x0B, 0x93};
const uint16_t kSnmpPort = 161;
const auto kSilence = std::chrono::seconds(1);
// A peer that never falls silent for a second still cannot hold a loop longer.
const auto kLoopCap = std::chrono::seconds(10);

union Address {
  sockaddr sa;
  sockaddr_in v4;
  sockaddr_in6 v6;
};

socklen_t AddressLength(const Address& a) {
  return a.sa.sa_family == AF_INET ? sizeof a.v4 : sizeof a.v6;
}

bool FromPrinter(const sockaddr_storage& from, const Address& printer) {
  if (from.ss_family != printer.sa.sa_family) return false;
  if (from.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&from);
    return a->sin_port == printer.v4.sin_port && a->sin_addr.s_addr == printer.v4.sin_addr.s_addr;
  }
  const auto* a = reinterpret_cast<const sockaddr_in6*>(&from);
  return a->sin6_port == printer.v6.sin6_port &&
         memcmp(&a->sin6_addr, &printer.v6.sin6_addr, sizeof a->sin6_addr) == 0;
}

class Socket {
 public:
  explicit Socket(int family) : fd_(socket(family, SOCK_DGRAM, IPPROTO_UDP)) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Datagrams from the printer, each awaited for at most a second, and none
// after kLoopCap from the loop's start. Anyone else's datagrams are not
// answers: they neither count nor extend the wait.
class ReceiveLoop {
 public:
  ReceiveLoop(int fd, const Address& printer)
      : fd_(fd), printer_(printer), cap_(Clock::now() + kLoopCap) {}

  // The next datagram's length; 0 or less ends the loop.
  ssize_t Next(unsigned char* buffer, size_t size) {
    const auto until = std::min(Clock::now() + kSilence, cap_);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now()).count();
      // A zero SO_RCVTIMEO would wait for ever.
      if (left <= 0) return 0;
      timeval tv{};
      tv.tv_sec = static_cast<time_t>(left / 1000000);
      tv.tv_usec = static_cast<suseconds_t>(left % 1000000);
      if (setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return -1;
      sockaddr_storage from{};
      socklen_t fromLength = sizeof from;
      const ssize_t n =
          recvfrom(fd_, buffer, size, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n;
      if (FromPrinter(from, printer_)) return n;
    }
  }

 private:
  int fd_;
  const Address& printer_;
  const Clock::time_point cap_;
};

// The authenticated GET of the device ID for one accepted discovery answer;
// true when an answer's device ID decoded into `status`.
bool RequestStatus(const Address& printer, _SNMP_PARAM_V3& params, PRINTER_STATUS* status) {
  Socket sock(printer.sa.sa_family);
  if (sock.fd() < 0) return false;
  const char* const oids[] = {kDeviceIdOid};
  unsigned char request[kSnmpV3WorkSize];
  const int length = CNetIO::BuildSnmpV3RequestPacket(
      params.engineID, params.engineIDLen, params.engineBoots, params.engineTime, 1, oids, nullptr,
      nullptr, nullptr, params.userName, params.authPassword, params.privPassword, params.authKey,
      params.privKey, request);
  // A failed build is never sent as an empty datagram.
  if (length <= 0 ||
      sendto(sock.fd(), request, static_cast<size_t>(length), 0, &printer.sa,
             AddressLength(printer)) != length)
    return false;

  bool decoded = false;
  ReceiveLoop loop(sock.fd(), printer);
  unsigned char answer[kSnmpV3WorkSize];
  for (ssize_t n; (n = loop.Next(answer, sizeof answer)) > 0;) {
    // Only this answer's own OCTET STRING may be decoded: a Report or another
    // value type must not pass an earlier text off as the printer's.
    memset(g_deviceid, 0, sizeof g_deviceid);
    params.valueCallback = outputDeviceIdValue;
    unsigned char errorStatus = 0xFF, errorIndex = 0;
    if (CNetIO::parseSnmpV3AuthenticatedResponse(answer, static_cast<int>(n), nullptr, nullptr,
                                                 &errorStatus, &errorIndex, &params) != 1 ||
        errorStatus != 0)
      continue;
    // A later answer that does not decode must not spoil a record already good.
    PRINTER_STATUS scratch;
    CTavraCmd decoder;
    if (decoder.DecodStatusFromDeviceID(g_deviceid, &scratch) != -1) {
      *status = scratch;
      decoded = true;
    }
  }
  return decoded;
}

bool ReadStatus(const Address& printer, PRINTER_STATUS* status) {
  const bool v6 = printer.sa.sa_family == AF_INET6;
  unsigned char request[kSnmpV3WorkSize];
  const int length =
      CNetIO::BuildSnmpV3GetEngineIdPacket(SNMPv3RequestID, SNMPv3MsgID, request, sizeof request);
  ++SNMPv3RequestID;
  ++SNMPv3MsgID;
  if (length <= 0) return false;

  Socket discovery(printer.sa.sa_family);
  if (discovery.fd() < 0) return false;
  const int broadcast = 0;
  setsockopt(discovery.fd(), SOL_SOCKET, SO_BROADCAST, &broadcast, sizeof broadcast);
  if (sendto(discovery.fd(), request, static_cast<size_t>(length), 0, &printer.sa,
             AddressLength(printer)) <= 0) {
    if (v6) Diagnose("[ipv6 BC] snedto failed: %s\n", strerror(errno));
    return false;
  }

  bool result = false;
  ReceiveLoop loop(discovery.fd(), printer);
  unsigned char reply[kSnmpV3WorkSize];
  for (;;) {
    const ssize_t n = loop.Next(reply, sizeof reply);
    if (v6) Diagnose("[ipv6 BC] nRecv = %d", static_cast<int>(n));
    if (n <= 0) return result;
    _SNMP_PARAM_V3 params{};
    SnmpV3FillCredentials(&params);
    unsigned char errorStatus = 0xFF, errorIndex = 0;
    if (CNetIO::parseSnmpV3Response(reply, static_cast<int>(n), nullptr, nullptr, &errorStatus,
                                    &errorIndex, &params) != 1 ||
        errorStatus != 0 || memcmp(params.engineID, kEnginePrefix, sizeof kEnginePrefix) != 0)
      continue;
    if (RequestStatus(printer, params, status)) result = true;
  }
}

}  // namespace

bool CNetIO::NetworkReadStatusSNMPv3(const char* community, const char* host,
                                     PRINTER_STATUS* status) {
  // Numeric texts only: a host name must not cost a resolver query, let alone a request.
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (!host || !status || getaddrinfo(host, nullptr, &hints, &found) != 0) return false;
  const int family = found->ai_family;
  freeaddrinfo(found);
  if (family == AF_INET6) return NetworkReadStatusV6SNMPv3(community, host, status);

  Address printer{};
  printer.v4.sin_family = AF_INET;
  printer.v4.sin_port = FLIPWORD(kSnmpPort);
  if (inet_pton(AF_INET, host, &printer.v4.sin_addr) != 1) return false;
  return ReadStatus(printer, status);
}

bool CNetIO::NetworkReadStatusV6SNMPv3(const char*, const char* host, PRINTER_STATUS* status) {
  Address printer{};
  if (!status || !netio::SnmpDestinationV6(host, scope_id, &printer.v6)) return false;
  return ReadStatus(printer, status);
}

int NetworkReadStatusSNMPv3(char const* community, char const* host, PRINTER_STATUS* status) {
  CNetIO netio;
  return netio.NetworkReadStatusSNMPv3(community, host, status) ? 1 : 0;
}

int NetworkReadStatusV6SNMPv3(char const* community, char const* host, PRINTER_STATUS* status) {
  CNetIO netio;
  return netio.NetworkReadStatusV6SNMPv3(community, host, status) ? 1 : 0;
}
