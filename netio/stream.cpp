#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "netio/Interfaces.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/ipv6_dest.h"
#include "netio/query_io.h"

using netio::Diagnose;

namespace {

uint16_t PortOctets(int port) { return FLIPWORD(static_cast<uint16_t>(port & 0xFFFF)); }

}  // namespace

int CNetIO::NetworkConnect(char const* host, int port) {
  Diagnose("NetworkConnect server=%s\n", host ? host : "");
  const int family = netio::NumericFamily(host);
  if (family == 0) return -1;
  if (family == AF_INET6) {
    const int result = NetworkConnectV6(host, port);
    Diagnose("nReturn = %x\n", result);
    return result;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = PortOctets(port);
  // Converted before the socket opens: a text that is no address costs nothing.
  if (inet_aton(host, &to.sin_addr) == 0) return -1;
  if (m_socket.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP) != 0) return -1;
  return m_socket.Connect(reinterpret_cast<sockaddr*>(&to), sizeof to);
}

int CNetIO::NetworkConnectV6(char const* host, int port) {
  if (!host) return -1;
  char zoned[kIfsZoneSize];
  const int n = snprintf(zoned, sizeof zoned, "%s%s", host, g_ifsName);
  // The host and the zone suffix share one 256-octet text; a cut one would name another host.
  if (n < 0 || static_cast<size_t>(n) >= sizeof zoned) return -1;
  Diagnose("NetworkConnectV6=%s\n", zoned);
  sockaddr_in6 to{};
  if (!netio::SnmpDestinationV6(host, scope_id, &to)) return -1;
  to.sin6_port = PortOctets(port);
  if (m_socket.Open(AF_INET6, SOCK_STREAM, IPPROTO_TCP) != 0) return -1;
  const int result = m_socket.Connect(reinterpret_cast<sockaddr*>(&to), sizeof to);
  Diagnose("nRet = %x\n", result);
  return result;
}

unsigned long CNetIO::NetworkRead(int, void* buffer, unsigned long length) {
  unsigned long transferred = 0;
  m_socket.Read(buffer, length, &transferred);
  return transferred;
}

unsigned long CNetIO::NetworkWrite(int, void const* data, unsigned long length) {
  unsigned long transferred = 0;
  m_socket.Write(data, length, &transferred);
  return transferred;
}

int CNetIO::NetworkClose(int) { return m_socket.Close(); }
