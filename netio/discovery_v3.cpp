#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/exchange_discovery.h"
#include "netio/oids.h"
#include "netio/snmpv3_exchange.h"

using netio::Diagnose;
using netio::InterfaceAddresses;
using netio::ReceiveLoop;
using netio::ReportErrno;
using netio::SocketAddress;
using netio::UdpSocket;

unsigned char _sysObjIdOid[kCaptureSize];
int _sysObjIdOidLen = 0;
unsigned char _sysNameOid[kCaptureSize];
int _sysNameOidLen = 0;
unsigned char _pvtFwVerOid[kCaptureSize];
int _pvtFwVerOidLen = 0;
unsigned char _pvtMcuVerOid[kCaptureSize];
int _pvtMcuVerOidLen = 0;

unsigned char _sysObjIdValue[kCaptureSize];
int _sysObjIdLen = 0;
char _sysNameValue[kCaptureSize];
char _pvtFwVerValue[kCaptureSize];
char _pvtMcuVerValue[kCaptureSize];

namespace {

// The device ID is asked for with the others, as printers expect; discovery does not read it.
const char* const kRequestedOids[] = {netio::kSysObjectIdOid.text, netio::kSysNameOid.text,
                                      netio::kDeviceIdOid.text};
const int kRequestedCount = 3;

bool SameName(const unsigned char* oid, int oidLength, const unsigned char* stored,
              int storedLength) {
  return storedLength > 0 && oidLength == storedLength &&
         memcmp(oid, stored, static_cast<size_t>(oidLength)) == 0;
}

void CaptureText(char* buffer, const unsigned char* value, int valueLength) {
  const size_t n = std::min(static_cast<size_t>(valueLength), size_t{kCaptureSize - 1});
  if (n > 0) memcpy(buffer, value, n);
  buffer[n] = '\0';
}

// The engine-ID discovery request, with the names the answers are captured by set.
int StartDiscovery(unsigned char* request) {
  const int length = netio::BuildEngineDiscovery(request);
  EncodeCaptureOid(netio::kSysObjectIdOid.text, _sysObjIdOid, &_sysObjIdOidLen);
  EncodeCaptureOid(netio::kSysNameOid.text, _sysNameOid, &_sysNameOidLen);
  return length;
}

struct Search {
  CNetIO& netio;
  netio::Scan& scan;
};

// One authenticated answer: true when it carries, itself, a sysObjectID of
// one of the targets. `_sysObjIdLen` is cleared first, so an answer without
// one is never judged by a value an earlier agent left behind.
bool TargetAnswer(const Search& search, unsigned char* answer, ssize_t length, uint16_t msgId,
                  _SNMP_PARAM_V3* params, bool* parsed) {
  _sysObjIdLen = 0;
  *parsed = netio::AcceptedAnswer(answer, length, msgId, params, searchAgentProCallbackEx2);
  return *parsed && (search.netio.MatchesTargetOid(_sysObjIdValue, _sysObjIdLen) ||
                     netio::Refuse(netio::Refusal::kValue));
}

// The second step for one responder: the authenticated request from a new
// socket on the same local address, then the responder's answers until a
// second of silence or the interface's deadline.
void AskResponder(const Search& search, const SocketAddress& local, const SocketAddress& agent,
                  _SNMP_PARAM_V3* params, const netio::Deadline& deadline) {
  const bool v6 = local.sa.sa_family == AF_INET6;
  UdpSocket sock(local.sa.sa_family);
  if (!sock.open()) return;
  netio::SetBroadcast(sock.fd(), false);
  if (bind(sock.fd(), &local.sa, netio::AddressLength(local)) != 0) {
    if (!v6) ReportErrno("nSendSock2 [ipv4 BC] ERROR on binding");
    return;
  }

  unsigned char request[kSnmpV3WorkSize];
  uint16_t msgId;
  const int length =
      netio::BuildAuthenticatedGet(params, kRequestedCount, kRequestedOids, request, &msgId);
  if (v6) Diagnose("snmpv3RequestPacketLen = %d", length);
  if (!netio::SendRequest(sock.fd(), request, length, agent)) return;

  ReceiveLoop loop(sock.fd(), deadline, netio::kDiscoverySilence, &agent);
  unsigned char answer[kSnmpV3WorkSize];
  SocketAddress from = agent;
  char text[INET6_ADDRSTRLEN];
  for (;;) {
    memset(answer, 0, sizeof answer);
    const ssize_t n = loop.Next(answer, sizeof answer, &from);
    if (!v6) {
      Diagnose("recvfrom nRecv2 = %d, szAddr=%s\n", static_cast<int>(n),
               netio::AddressText(from, text, sizeof text));
    }
    if (n <= 0) {
      if (!v6) Diagnose("break");
      return;
    }
    if (v6) Diagnose("szAddr=%s\n", netio::AddressText(from, text, sizeof text));
    if (!v6) Diagnose("parseSnmpV3Response begin");
    bool parsed = false;
    const bool accepted = TargetAnswer(search, answer, n, msgId, params, &parsed);
    if (!v6) Diagnose(parsed ? "parseSnmpV3Response end1" : "parseSnmpV3Response end");
    if (accepted) {
      netio::ReportAgent(from, search.scan,
                         v6 ? "FindSnmpV3AgentV6_ szAddr=" : "FindSnmpV3Agent szAddr=");
    } else {
      netio::ReportRefusal(from);
    }
  }
}

}  // namespace

bool EncodeCaptureOid(const char* text, unsigned char* oid, int* oidLength) {
  // Room for any text oidEncode takes (127 characters, 1 + 5 * 62 octets).
  unsigned char encoded[kCaptureSize * 3];
  const int n = CNetIO::oidEncode(text, encoded);
  memset(oid, 0, kCaptureSize);
  *oidLength = 0;
  if (n < 1 || n > kCaptureSize) return false;
  memcpy(oid, encoded, static_cast<size_t>(n));
  *oidLength = n;
  return true;
}

bool searchAgentProCallbackEx2(const unsigned char* oid, int oidLength, unsigned char,
                               const unsigned char* value, int valueLength) {
  if (!oid || oidLength < 1 || valueLength < 0 || (valueLength > 0 && !value)) return false;
  if (SameName(oid, oidLength, _sysObjIdOid, _sysObjIdOidLen)) {
    if (valueLength > kCaptureSize) return false;
    if (valueLength > 0) memcpy(_sysObjIdValue, value, static_cast<size_t>(valueLength));
    _sysObjIdLen = valueLength;
    return true;
  }
  char* const texts[] = {_sysNameValue, _pvtFwVerValue, _pvtMcuVerValue};
  const unsigned char* const names[] = {_sysNameOid, _pvtFwVerOid, _pvtMcuVerOid};
  const int lengths[] = {_sysNameOidLen, _pvtFwVerOidLen, _pvtMcuVerOidLen};
  for (int i = 0; i < 3; ++i) {
    if (SameName(oid, oidLength, names[i], lengths[i])) {
      CaptureText(texts[i], value, valueLength);
      return true;
    }
  }
  return false;
}

bool CNetIO::MatchesTargetOid(const unsigned char* value, int length) const {
  if (!value || length < 1 || length > kTargetOidSize) return false;
  const size_t n = static_cast<size_t>(length);
  return memcmp(value, m_firstTargetOid, n) == 0 || memcmp(value, m_secondTargetOid, n) == 0;
}

bool CNetIO::FindSnmpV3Agent(char const* unused, char const* target, char const* unusedOid,
                             SearchAgentCallback callback, void* context, bool broadcast) {
  SocketAddress to{};
  if (!netio::DiscoveryTarget(target, AF_UNSPEC, &to)) return true;
  if (to.sa.sa_family == AF_INET6) {
    return FindSnmpV3AgentV6_(unused, target, unusedOid, callback, context, broadcast);
  }
  unsigned char request[kSnmpV3WorkSize];
  const int length = StartDiscovery(request);

  InterfaceAddresses interfaces;
  if (!interfaces.Load()) {
    ReportErrno("[ipv4 BC] getifaddrs Error! errno");
    return true;
  }
  netio::Scan scan(callback, context);
  const Search search{*this, scan};
  for (const ifaddrs* entry = interfaces.first(); entry; entry = entry->ifa_next) {
    SocketAddress local{};
    UdpSocket sock;
    if (!netio::OpenOnInterfaceV4(entry, broadcast, &sock, &local)) continue;
    const netio::Deadline deadline(netio::kScanBudget);
    Diagnose("ipv4=%s\n", target);
    // A request that could not be built is never sent as an empty datagram.
    const ssize_t sent =
        length > 0 ? sendto(sock.fd(), request, static_cast<size_t>(length), 0, &to.sa, sizeof to.v4)
                   : -1;
    Diagnose("sendto: nRet=%d\n", static_cast<int>(sent));
    usleep(30);
    if (sent <= 0) continue;

    ReceiveLoop loop(sock.fd(), deadline, netio::kDiscoverySilence);
    unsigned char datagram[kSnmpV3WorkSize];
    SocketAddress from{};
    char text[INET_ADDRSTRLEN];
    for (ssize_t n; (n = loop.Next(datagram, sizeof datagram, &from)) > 0;) {
      Diagnose("recvfrom nRecv = %d, szAddr=%s\n", static_cast<int>(n),
               netio::AddressText(from, text, sizeof text));
      _SNMP_PARAM_V3 params;
      if (netio::AcceptedReport(datagram, n, &params)) {
        AskResponder(search, local, from, &params, deadline);
      } else {
        netio::ReportRefusal(from);
      }
    }
  }
  return true;
}

bool CNetIO::FindSnmpV3AgentV6_(char const*, char const* target, char const*,
                                SearchAgentCallback callback, void* context, bool broadcast) {
  unsigned char request[kSnmpV3WorkSize];
  const int length = StartDiscovery(request);
  SocketAddress to{};
  if (!netio::DiscoveryTarget(target, AF_INET6, &to)) return true;

  InterfaceAddresses interfaces;
  if (!interfaces.Load()) {
    ReportErrno("[ipv6 BC] getifaddrs Error! errno");
    return true;
  }
  netio::Scan scan(callback, context);
  const Search search{*this, scan};
  for (const ifaddrs* entry = interfaces.first(); entry; entry = entry->ifa_next) {
    SocketAddress local{};
    if (!netio::InterfaceAddress(entry, AF_INET6, &local)) continue;

    UdpSocket sock(AF_INET6);
    if (!sock.open()) {
      ReportErrno("[ipv6 BC] socket failed");
      return false;
    }
    if (bind(sock.fd(), &local.sa, sizeof local.v6) != 0) {
      ReportErrno("[ipv6 BC] ERROR on binding");
      continue;
    }
    Diagnose("tmpip=%s%s\n", target, "%en0");
    SocketAddress dest = to;
    dest.v6.sin6_scope_id = local.v6.sin6_scope_id;
    netio::SetBroadcast(sock.fd(), broadcast);
    const netio::Deadline deadline(netio::kScanBudget);
    if (length <= 0 ||
        sendto(sock.fd(), request, static_cast<size_t>(length), 0, &dest.sa, sizeof dest.v6) <= 0) {
      ReportErrno("[ipv6 BC] snedto failed");
      continue;
    }

    ReceiveLoop loop(sock.fd(), deadline, netio::kDiscoverySilence);
    unsigned char datagram[kSnmpV3WorkSize];
    SocketAddress from = dest;
    char text[INET6_ADDRSTRLEN];
    for (;;) {
      const ssize_t n = loop.Next(datagram, sizeof datagram, &from);
      Diagnose("szAddr=%s\n", netio::AddressText(from, text, sizeof text));
      Diagnose("[ipv6 BC] nRecv = %d", static_cast<int>(n));
      if (n <= 0) break;
      netio::RememberScope(static_cast<int>(from.v6.sin6_scope_id), entry->ifa_name);
      _SNMP_PARAM_V3 params;
      if (netio::AcceptedReport(datagram, n, &params)) {
        AskResponder(search, local, from, &params, deadline);
      } else {
        netio::ReportRefusal(from);
      }
    }
  }
  return true;
}
