#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "netio/BerWriter.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/ipv6_dest.h"

using netio::Diagnose;

namespace {

// GetRequest-PDU for the device-ID object, after the community.
const unsigned char kStatusRequestTail[] = {
    0xA0, 0x24, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x19,
    0x30, 0x17, 0x06, 0x13, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0xBE, 0x0F, 0x86,
    0x76, 0x82, 0x2C, 0x82, 0x71, 0xC2, 0x53, 0x01, 0x01, 0x00, 0x05, 0x00};
const unsigned char kVersion1[] = {0x02, 0x01, 0x00};
// The message length stays one short-form octet: 43 + c <= 127.
const size_t kMaxStatusCommunity = 84;
const size_t kRequestArea = 256;
const uint16_t kSnmpPort = 161;
const int kCopies = 3;
const auto kReceiveTimeout = std::chrono::microseconds(50000);
const size_t kReceiveSize = 4024;
// Datagrams from other senders that one read sets aside before giving up.
const int kMaxForeignDatagrams = 16;

bool SetReceiveTimeout(int fd, std::chrono::microseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000000);
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool SameSender(const sockaddr_storage& from, const sockaddr* to) {
  if (from.ss_family != to->sa_family) return false;
  if (to->sa_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&from);
    const auto* b = reinterpret_cast<const sockaddr_in*>(to);
    return a->sin_port == b->sin_port && a->sin_addr.s_addr == b->sin_addr.s_addr;
  }
  const auto* a = reinterpret_cast<const sockaddr_in6*>(&from);
  const auto* b = reinterpret_cast<const sockaddr_in6*>(to);
  return a->sin6_port == b->sin6_port && memcmp(&a->sin6_addr, &b->sin6_addr, sizeof a->sin6_addr) == 0;
}

// One answer from `to` within the time-out; datagrams from anyone else are
// not answers and are passed over while time remains.
ssize_t ReceiveAnswer(int fd, const sockaddr* to, unsigned char* buffer, size_t size) {
  const auto deadline = std::chrono::steady_clock::now() + kReceiveTimeout;
  for (int foreign = 0; foreign <= kMaxForeignDatagrams; ++foreign) {
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    ssize_t n = recvfrom(fd, buffer, size, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0 || SameSender(from, to)) return n;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    // A zero SO_RCVTIMEO would wait for ever.
    if (left.count() <= 0 || !SetReceiveTimeout(fd, left)) break;
  }
  return -1;
}

// The exchange both families share; the IPv6 read also reports its steps.
bool ReadStatusFrom(const sockaddr* to, socklen_t toLength, const char* community,
                    PRINTER_STATUS* status, bool reportSteps) {
  unsigned char request[kRequestArea];
  const int requestLength = netio::BuildStatusRequest(community, request, sizeof request);
  if (requestLength < 0) return false;

  const int fd = socket(to->sa_family, SOCK_DGRAM, IPPROTO_UDP);
  if (fd < 0) return false;
  const int broadcast = 0;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &broadcast, sizeof broadcast);
  SetReceiveTimeout(fd, kReceiveTimeout);

  ssize_t sent = 0;
  for (int i = 0; i < kCopies; ++i) {
    sent = sendto(fd, request, static_cast<size_t>(requestLength), 0, to, toLength);
  }
  if (reportSteps) {
    Diagnose("Sendto nRet = %d, request_oid_len=%d\n", static_cast<int>(sent), requestLength);
  }
  bool ok = false;
  if (sent >= 1) {
    unsigned char answer[kReceiveSize];
    const ssize_t received = ReceiveAnswer(fd, to, answer, sizeof answer);
    if (reportSteps) Diagnose("recvfrom nRecv = %d\n", static_cast<int>(received));
    if (received > 0) {
      if (reportSteps) Diagnose("NetworkReadStatus response=\n");
      ok = CNetIO::parseForDeviceId(answer, static_cast<int>(received), status);
    }
  }
  close(fd);
  return ok;
}

}  // namespace

int netio::BuildStatusRequest(const char* community, unsigned char* out, size_t outSize) {
  if (!community) community = "public";
  const size_t c = strnlen(community, kMaxStatusCommunity + 1);
  if (c > kMaxStatusCommunity) return -1;
  unsigned char area[kRequestArea];
  BerWriter w(area, sizeof area);
  if (!w.Bytes(kStatusRequestTail, sizeof kStatusRequestTail) || !w.Bytes(community, c) ||
      !w.ShortHeader(0x04, c) || !w.Bytes(kVersion1, sizeof kVersion1) ||
      !w.ShortHeader(0x30, w.size()) || w.size() > outSize)
    return -1;
  memcpy(out, w.front(), w.size());
  return static_cast<int>(w.size());
}

CNetIO::CNetIO() : m_firstTargetOid(), m_secondTargetOid() {}

CNetIO::~CNetIO() {}

bool CNetIO::NetworkReadStatus(const char* community, const char* host, PRINTER_STATUS* status) {
  // Numeric texts only: a host name must not cost a resolver query, let alone a request.
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host, nullptr, &hints, &found);
  if (rc != 0) {
    Diagnose("error in getaddrinfo: %s\n", gai_strerror(rc));
    return false;
  }
  const int family = found->ai_family;
  freeaddrinfo(found);
  if (family == AF_INET6) return NetworkReadStatusV6(community, host, status);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = FLIPWORD(kSnmpPort);
  if (inet_aton(host, &to.sin_addr) == 0) return false;
  return ReadStatusFrom(reinterpret_cast<sockaddr*>(&to), sizeof to, community, status, false);
}

bool CNetIO::NetworkReadStatusV6(const char* community, const char* host, PRINTER_STATUS* status) {
  sockaddr_in6 to;
  if (!netio::SnmpDestinationV6(host, scope_id, &to)) return false;
  return ReadStatusFrom(reinterpret_cast<sockaddr*>(&to), sizeof to, community, status, true);
}

int NetworkReadStatus(char const* community, char const* host, PRINTER_STATUS* status) {
  CNetIO netio;
  return netio.NetworkReadStatus(community, host, status) ? 1 : 0;
}

int NetworkReadStatusV6(char const* community, char const* host, PRINTER_STATUS* status) {
  CNetIO netio;
  return netio.NetworkReadStatusV6(community, host, status) ? 1 : 0;
}
