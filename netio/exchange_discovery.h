// The discovery side of the exchange layer: interfaces to send from, the
// target, the paced copies, and the scan that keeps at most
// AgentCap::kMaxAgents distinct agents whatever answers.
#pragma once

#include <ifaddrs.h>
#include <sys/types.h>

#include "netio/Discovery.h"
#include "netio/exchange.h"

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

// An interface's address of `family` (AF_INET or AF_INET6) to bind to: port
// 0, and for IPv6 no flow label and the interface's index as scope where it
// has none. The interface, address and netmask are reported first. False,
// quietly, for an entry without an address of that family.
bool InterfaceAddress(const ifaddrs* entry, int family, SocketAddress* local);

// A socket with SO_BROADCAST as given, bound to the entry's IPv4 address
// (port 0), which is left in `local`; false to pass the entry over: it has no
// IPv4 address, the socket cannot be had, or binding fails ("[ipv4 BC] ERROR
// on binding").
bool OpenOnInterfaceV4(const ifaddrs* entry, bool broadcast, UdpSocket* sock, SocketAddress* local);

// `text` as a numeric address of `family` (AF_UNSPEC: either) at port 161.
// Anything else is refused with the "error in getaddrinfo" line: a name must
// never become a broadcast.
bool DiscoveryTarget(const char* text, int family, SocketAddress* out);

// Three copies, each followed by a 30 us pause; the third send's result.
ssize_t SendThreeTimes(int fd, const unsigned char* message, size_t length,
                       const SocketAddress& to);

// The wait for each discovery datagram.
constexpr std::chrono::seconds kDiscoverySilence{1};

// While scope_id is 0 or less it becomes `scope`, and g_ifsName "%" and
// `ifname` when that is not null.
void RememberScope(int scope, const char* ifname);

// The discovery request for `community`, after checking that the OID text
// encodes to at least one octet; -1 when either is refused.
int PrepareDiscovery(const char* community, const char* oid, unsigned char* out, size_t outSize);

// What one scan reports to, and the agents it keeps.
struct Scan {
  Scan(SearchAgentCallback callback, void* context) : callback(callback), context(context) {}
  SearchAgentCallback callback;
  void* context;
  AgentCap agents;
};

// Hands the agent's text to the scan's callback (nothing when it is null, or
// when the cap drops the agent); a non-null `announce` is printed before the
// text first.
void ReportAgent(const SocketAddress& from, Scan& scan, const char* announce = nullptr);

// The receive loop of 256-octet datagrams on `fd` until its silence or
// `deadline`; each one that CNetIO::parseForOID accepts is reported, each
// other one refused with its reason.
void ReportMatches(CNetIO& netio, int fd, const Deadline& deadline, Scan& scan);

// The message and the system's error text, as perror gives them.
void ReportErrno(const char* message);

}  // namespace netio
