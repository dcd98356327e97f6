#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

#include "netio/Interfaces.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "netio/exchange.h"

using netio::Diagnose;
using netio::SocketAddress;

namespace {

uint16_t PortOctets(int port) { return FLIPWORD(static_cast<uint16_t>(port & 0xFFFF)); }

}  // namespace

int CNetIO::NetworkConnect(char const* host, int port) {
  Diagnose("NetworkConnect server=%s\n", host ? host : "");
  SocketAddress to;
  // Converted before the socket opens: a text that is no address costs nothing.
  if (!netio::PrinterDestination(host, AF_UNSPEC, &to, true)) return -1;
  if (to.sa.sa_family == AF_INET6) {
    const int result = NetworkConnectV6(host, port);
    Diagnose("nReturn = %x\n", result);
    return result;
  }
  to.v4.sin_port = PortOctets(port);
  if (m_socket.Open(AF_INET, SOCK_STREAM, IPPROTO_TCP) != 0) return -1;
  return m_socket.Connect(&to.sa, sizeof to.v4);
}

int CNetIO::NetworkConnectV6(char const* host, int port) {
  if (!host) return -1;
  char zoned[kIfsZoneSize];
  const int n = snprintf(zoned, sizeof zoned, "%s%s", host, g_ifsName);
  // The host and the zone suffix share one 256-octet text; a cut one would name another host.
  if (n < 0 || static_cast<size_t>(n) >= sizeof zoned) return -1;
  Diagnose("NetworkConnectV6=%s\n", zoned);
  SocketAddress to;
  if (!netio::PrinterDestination(host, AF_INET6, &to)) return -1;
  to.v6.sin6_port = PortOctets(port);
  if (m_socket.Open(AF_INET6, SOCK_STREAM, IPPROTO_TCP) != 0) return -1;
  const int result = m_socket.Connect(&to.sa, sizeof to.v6);
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
