#include "tool/address.h"

#include <arpa/inet.h>
#include <cups/http.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>

#include <algorithm>
#include <initializer_list>

#include "tool/dnssd.h"

std::vector<std::string> mDNSIP;
std::vector<std::string> mDNSType;

namespace {

bool lookupTimedOut = false;

bool SchemeIs(const char* scheme, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return strcasecmp(scheme, n) == 0; });
}

// Appends one IPv4 or IPv6 address; other families and failed conversions add nothing.
void Append(const sockaddr* sa) {
  char text[256];
  if (sa->sa_family == AF_INET) {
    if (!inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text)) return;
    mDNSType.emplace_back("IPv4");
    mDNSIP.emplace_back(text);
  } else if (sa->sa_family == AF_INET6) {
    const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(sa);
    if (!inet_ntop(AF_INET6, &sin6->sin6_addr, text, sizeof text)) return;
    std::string address = text;
    if (IN6_IS_ADDR_LINKLOCAL(&sin6->sin6_addr) && sin6->sin6_scope_id != 0) {
      char ifname[IF_NAMESIZE];
      address += '%';
      address += if_indextoname(sin6->sin6_scope_id, ifname) ? ifname : std::to_string(sin6->sin6_scope_id);
    }
    mDNSType.emplace_back("IPv6");
    mDNSIP.push_back(address);
  }
}

bool ResolveHost(const std::string& host, int family) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* answer = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &answer) != 0) return false;
  Append(answer->ai_addr);
  freeaddrinfo(answer);
  return true;
}

void ResolveHostPath(std::string host) {
  for (char c : {']', '[', ' '}) host.erase(std::remove(host.begin(), host.end(), c), host.end());
  if (host.empty()) return;
  if (!ResolveHost(host, AF_INET6)) ResolveHost(host, AF_INET);
}

void ResolveServicePath(const std::string& host) {
  // CUPS writes "Instance Name._printer._tcp.local."; the host arrives percent-decoded.
  std::string name = host.substr(0, host.find('.'));
  if (name.empty()) return;
  const ServiceAddresses found = ResolvePrinterService(name);
  lookupTimedOut = found.timedOut;
  for (const auto& ss : found.addresses) Append(reinterpret_cast<const sockaddr*>(&ss));
}

}  // namespace

void getAddressFromURL(const char* url) {
  mDNSIP.clear();
  mDNSType.clear();
  lookupTimedOut = false;
  char scheme[HTTP_MAX_URI], user[HTTP_MAX_URI], host[HTTP_MAX_URI], resource[HTTP_MAX_URI];
  int port = 0;
  if (!url || httpSeparateURI(HTTP_URI_CODING_ALL, url, scheme, sizeof scheme, user, sizeof user, host,
                              sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    return;
  }
  if (SchemeIs(scheme, {"socket", "ipp", "lpd"})) {
    ResolveHostPath(host);
  } else if (SchemeIs(scheme, {"mdns", "dnssd"})) {
    ResolveServicePath(host);
  }
}

bool AddressLookupTimedOut() { return lookupTimedOut; }
