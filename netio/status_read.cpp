#include <arpa/inet.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>

#include "netio/BerWriter.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/ipv6_dest.h"
#include "netio/query_io.h"
#include "netio/udp.h"

using netio::Diagnose;
using netio::SocketAddress;

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
// 50 ms for the whole receive; a 17th datagram from another sender ends it.
const netio::ReceiveLimits kAnswerWait{std::chrono::milliseconds(50), std::chrono::milliseconds(50),
                                       16};
const size_t kReceiveSize = 4024;

// The exchange both families share; the IPv6 read also reports its steps.
bool ReadStatusFrom(const SocketAddress& to, const char* community, PRINTER_STATUS* status,
                    bool reportSteps) {
  unsigned char request[kRequestArea];
  const int requestLength = netio::BuildStatusRequest(community, request, sizeof request);
  if (requestLength < 0) return false;

  netio::UdpSocket sock(to.sa.sa_family);
  if (!sock.open()) return false;
  const int broadcast = 0;
  setsockopt(sock.fd(), SOL_SOCKET, SO_BROADCAST, &broadcast, sizeof broadcast);

  const ssize_t sent = netio::SendCopies(sock.fd(), request, static_cast<size_t>(requestLength), to,
                                         kCopies, std::chrono::microseconds(0));
  if (reportSteps) {
    Diagnose("Sendto nRet = %d, request_oid_len=%d\n", static_cast<int>(sent), requestLength);
  }
  if (sent < 1) return false;
  unsigned char answer[kReceiveSize];
  netio::ReceiveLoop answers(sock.fd(), kAnswerWait, &to);
  const ssize_t received = answers.Next(answer, sizeof answer);
  if (reportSteps) Diagnose("recvfrom nRecv = %d\n", static_cast<int>(received));
  if (received <= 0) return false;
  if (reportSteps) Diagnose("NetworkReadStatus response=\n");
  return CNetIO::parseForDeviceId(answer, static_cast<int>(received), status);
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
  const int family = netio::NumericFamily(host);
  if (family == 0) return false;
  if (family == AF_INET6) return NetworkReadStatusV6(community, host, status);

  SocketAddress to{};
  to.v4.sin_family = AF_INET;
  to.v4.sin_port = FLIPWORD(kSnmpPort);
  if (inet_aton(host, &to.v4.sin_addr) == 0) return false;
  return ReadStatusFrom(to, community, status, false);
}

bool CNetIO::NetworkReadStatusV6(const char* community, const char* host, PRINTER_STATUS* status) {
  SocketAddress to{};
  if (!netio::SnmpDestinationV6(host, scope_id, &to.v6)) return false;
  return ReadStatusFrom(to, community, status, true);
}

int NetworkReadStatus(char const* community, char const* host, PRINTER_STATUS* status) {
  CNetIO netio;
  return netio.NetworkReadStatus(community, host, status) ? 1 : 0;
}

int NetworkReadStatusV6(char const* community, char const* host, PRINTER_STATUS* status) {
  CNetIO netio;
  return netio.NetworkReadStatusV6(community, host, status) ? 1 : 0;
}
