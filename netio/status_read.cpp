#include <cstring>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/exchange.h"
#include "netio/oids.h"

using netio::Diagnose;
using netio::SocketAddress;

namespace {

// The message length stays one short-form octet: 43 + c <= 127.
const size_t kMaxStatusCommunity = 84;
const size_t kRequestArea = 256;

// The exchange both families share; the IPv6 read also reports its steps.
bool ReadStatusFrom(const SocketAddress& to, const char* community, PRINTER_STATUS* status,
                    bool reportSteps) {
  const netio::Deadline deadline(netio::kReadBudget);
  unsigned char request[kRequestArea];
  const int requestLength = netio::BuildStatusRequest(community, request, sizeof request);
  if (requestLength < 0) return false;

  netio::UdpSocket sock(to.sa.sa_family);
  if (!sock.open()) return false;
  netio::SetBroadcast(sock.fd(), false);

  const ssize_t sent = netio::SendCopies(sock.fd(), request, static_cast<size_t>(requestLength), to,
                                         netio::kStatusCopies, std::chrono::microseconds(0));
  if (reportSteps) {
    Diagnose("Sendto nRet = %d, request_oid_len=%d\n", static_cast<int>(sent), requestLength);
  }
  if (sent < 1) return false;
  unsigned char answer[netio::kStatusReceiveSize];
  netio::ReceiveLoop answers(sock.fd(), deadline.Within(netio::kStatusAnswerWait),
                             netio::kStatusAnswerWait, &to, netio::kStatusMaxForeign);
  const ssize_t received = answers.Next(answer, sizeof answer);
  if (reportSteps) Diagnose("recvfrom nRecv = %d\n", static_cast<int>(received));
  if (received <= 0) return false;
  if (reportSteps) Diagnose("NetworkReadStatus response=\n");
  if (CNetIO::parseForDeviceId(answer, static_cast<int>(received), status)) return true;
  netio::ReportRefusal(to);
  return false;
}

}  // namespace

int netio::BuildStatusRequest(const char* community, unsigned char* out, size_t outSize) {
  if (!community) community = "public";
  if (strnlen(community, kMaxStatusCommunity + 1) > kMaxStatusCommunity) return -1;
  unsigned char area[kRequestArea];
  const int n = CNetIO::BuildGetRequestFor(1, kDeviceIdOid.text, community, area);
  if (n < 0 || static_cast<size_t>(n) > outSize) return -1;
  memcpy(out, area, static_cast<size_t>(n));
  return n;
}

CNetIO::CNetIO() : m_firstTargetOid(), m_secondTargetOid() {}

CNetIO::~CNetIO() {}

bool CNetIO::NetworkReadStatus(const char* community, const char* host, PRINTER_STATUS* status) {
  SocketAddress to;
  if (!netio::PrinterDestination(host, AF_UNSPEC, &to, true)) return false;
  if (to.sa.sa_family == AF_INET6) return NetworkReadStatusV6(community, host, status);
  return ReadStatusFrom(to, community, status, false);
}

bool CNetIO::NetworkReadStatusV6(const char* community, const char* host, PRINTER_STATUS* status) {
  SocketAddress to;
  if (!netio::PrinterDestination(host, AF_INET6, &to)) return false;
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
