#include "tool/dnssd.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/simple-watch.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>

#include "tool/bounded_child.h"

namespace {

constexpr char kServiceType[] = "_printer._tcp";
constexpr char kDomain[] = "local";
// The Avahi client connects over D-Bus synchronously, each call waiting up
// to libdbus' 25 s for a bus that accepts and stays silent: the resolution
// runs in a child, and this process waits a second for it to connect.
constexpr std::chrono::milliseconds kConnectLimit(1000);
constexpr std::chrono::milliseconds kWaitLimit(3000);
constexpr size_t kEnoughAddresses = 2;
constexpr char kConnected = 'C';

// The child's side: each new address goes to the parent as it arrives.
struct Resolution {
  int fd;
  std::vector<sockaddr_storage> addresses;
  bool clientFailed = false;
};

bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET) {
    return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
  }
  const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
  const auto& y = reinterpret_cast<const sockaddr_in6&>(b);
  return memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0 &&
         x.sin6_scope_id == y.sin6_scope_id;
}

void OnResolved(AvahiServiceResolver*, AvahiIfIndex interface, AvahiProtocol, AvahiResolverEvent event,
                const char*, const char*, const char*, const char*, const AvahiAddress* address, uint16_t,
                AvahiStringList*, AvahiLookupResultFlags, void* userdata) {
  if (event != AVAHI_RESOLVER_FOUND || !address) return;
  sockaddr_storage ss{};
  if (address->proto == AVAHI_PROTO_INET) {
    auto& sin = reinterpret_cast<sockaddr_in&>(ss);
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = address->data.ipv4.address;
  } else if (address->proto == AVAHI_PROTO_INET6) {
    auto& sin6 = reinterpret_cast<sockaddr_in6&>(ss);
    sin6.sin6_family = AF_INET6;
    memcpy(&sin6.sin6_addr, address->data.ipv6.address, sizeof sin6.sin6_addr);
    // fe80::/10 is unreachable on Linux without the interface it was seen on.
    if (IN6_IS_ADDR_LINKLOCAL(&sin6.sin6_addr) && interface > 0) sin6.sin6_scope_id = interface;
  } else {
    return;
  }
  auto* r = static_cast<Resolution*>(userdata);
  for (const auto& known : r->addresses) {
    if (SameAddress(known, ss)) return;
  }
  r->addresses.push_back(ss);
  BoundedChild::WriteAll(r->fd, &ss, sizeof ss);
}

void OnClientState(AvahiClient*, AvahiClientState state, void* userdata) {
  if (state == AVAHI_CLIENT_FAILURE) static_cast<Resolution*>(userdata)->clientFailed = true;
}

// In the child: kConnected once the client is connected, then each address.
void Resolve(const std::string& name, int fd) {
  Resolution r{fd, {}};
  AvahiSimplePoll* poll = avahi_simple_poll_new();
  if (!poll) return;
  // Without AVAHI_CLIENT_NO_FAIL a missing daemon fails here, not after the wait.
  int error = 0;
  AvahiClient* client =
      avahi_client_new(avahi_simple_poll_get(poll), AvahiClientFlags(0), OnClientState, &r, &error);
  if (!client) {
    avahi_simple_poll_free(poll);
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  BoundedChild::WriteAll(fd, &kConnected, 1);
  // One resolver per family: an unspecified protocol yields a single address,
  // and A records travel only over IPv4 by default.
  AvahiServiceResolver* resolvers[2] = {};
  const AvahiProtocol families[2] = {AVAHI_PROTO_INET, AVAHI_PROTO_INET6};
  bool started = false;
  for (int i = 0; i < 2; ++i) {
    resolvers[i] = avahi_service_resolver_new(client, AVAHI_IF_UNSPEC, families[i], name.c_str(),
                                              kServiceType, kDomain, families[i], AvahiLookupFlags(0),
                                              OnResolved, &r);
    started |= resolvers[i] != nullptr;
  }

  while (started && !r.clientFailed && r.addresses.size() < kEnoughAddresses) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (avahi_simple_poll_iterate(poll, static_cast<int>(left.count())) != 0) break;
  }

  for (auto* resolver : resolvers) {
    if (resolver) avahi_service_resolver_free(resolver);
  }
  avahi_client_free(client);
  avahi_simple_poll_free(poll);
}

}  // namespace

ServiceAddresses ResolvePrinterService(const std::string& name) {
  ServiceAddresses result;
  BoundedChild child([&name](int fd) { Resolve(name, fd); });
  char connected = 0;
  switch (child.ReadFull(&connected, 1, BoundedChild::Clock::now() + kConnectLimit)) {
    case BoundedChild::Read::kTimedOut:
      result.timedOut = true;
      return result;
    case BoundedChild::Read::kEnd:
      return result;
    case BoundedChild::Read::kDone:
      break;
  }
  const auto deadline = BoundedChild::Clock::now() + kWaitLimit;
  sockaddr_storage ss;
  while (result.addresses.size() < kEnoughAddresses &&
         child.ReadFull(&ss, sizeof ss, deadline) == BoundedChild::Read::kDone)
    result.addresses.push_back(ss);
  return result;
}
