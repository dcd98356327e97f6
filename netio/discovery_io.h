// What every discovery method shares: its sockets, the paced sends, the
// receive loop with its silence and its cap, address texts and the rule that
// remembers the IPv6 scope.
#pragma once

#include <ifaddrs.h>
#include <sys/types.h>

#include "netio/Discovery.h"
#include "netio/udp.h"

class CNetIO;

namespace netio {

// getifaddrs' list, released on every return path.
class InterfaceAddresses {
 public:
  InterfaceAddresses() = default;
  ~InterfaceAddresses();
  InterfaceAddresses(const InterfaceAddresses&) = delete;
  InterfaceAddresses& operator=(const InterfaceAddresses&) = delete;
  bool Load();
  const ifaddrs* first() const { return list_; }

 private:
  ifaddrs* list_ = nullptr;
};

// The address without port or zone, as inet_ntop writes it; "" when it has no text.
const char* AddressText(const SocketAddress& address, char* text, socklen_t size);

// An interface's address of `family` (AF_INET or AF_INET6) to bind to: port
// 0, and for IPv6 no flow label and the interface's index as scope where it
// has none. The interface, address and netmask are reported first. False,
// quietly, for an entry without an address of that family.
bool InterfaceAddress(const ifaddrs* entry, int family, SocketAddress* local);

// A socket with the discovery options, bound to the entry's IPv4 address
// (port 0), which is left in `local`; false to pass the entry over: it has no
// IPv4 address, the socket cannot be had, or binding fails ("[ipv4 BC] ERROR
// on binding").
bool OpenOnInterfaceV4(const ifaddrs* entry, bool broadcast, UdpSocket* sock,
                       SocketAddress* local);

// `text` as a numeric address of `family` (AF_UNSPEC: either) at port 161.
// Host names are refused: inet_addr would make one 255.255.255.255, a
// broadcast. The resolver's message is reported; false then.
bool ResolveTarget(const char* text, int family, SocketAddress* out);

// SO_BROADCAST as given and a 1-second SO_RCVTIMEO.
void SetDiscoveryOptions(int fd, bool broadcast);

// Three copies, each followed by a 30 us pause; the third send's result.
ssize_t SendThreeTimes(int fd, const unsigned char* message, size_t length,
                       const SocketAddress& to);

// A second of silence per datagram and a 30-second cap, so a peer that
// keeps talking cannot hold a discovery for ever; any sender is an answer.
extern const ReceiveLimits kDiscoveryReceive;

// While scope_id is 0 or less it becomes `scope`, and g_ifsName "%" and
// `ifname` when that is not null.
void RememberScope(int scope, const char* ifname);

// The discovery request for `community`, after checking that the OID text
// encodes to at least one octet; -1 when either is refused.
int PrepareDiscovery(const char* community, const char* oid, unsigned char* out, size_t outSize);

// Hands the sender's text to `callback` (nothing when it is null); a
// non-null `announce` is printed before the text first.
void ReportAgent(const SocketAddress& from, SearchAgentCallback callback, void* context,
                 const char* announce = nullptr);

// A receive loop of 256-octet datagrams on `fd`; each one that
// CNetIO::parseForOID accepts is reported with its sender's text.
void ReportMatches(CNetIO& netio, int fd, SearchAgentCallback callback, void* context);

// The message and the system's error text, as perror gives them.
void ReportErrno(const char* message);

}  // namespace netio
