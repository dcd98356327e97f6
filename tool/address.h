// Printer addresses of a network device URI, in the order the status search
// tries them.
#pragma once

#include <string>
#include <vector>

// Parallel lists: mDNSIP[i] is an address text, mDNSType[i] its tag "IPv4"
// or "IPv6". A link-local IPv6 text carries its zone ("fe80::1%eth0"): Linux
// cannot send to it without one.
extern std::vector<std::string> mDNSIP;
extern std::vector<std::string> mDNSType;

// Replaces both lists with the addresses of `url`, a device URI:
// "socket", "ipp", "lpd" name a host (at most one address, IPv6 first);
// "mdns", "dnssd" name a DNS-SD printer service in "local"; any other scheme
// yields no address.
void getAddressFromURL(const char* url);

// True when the last getAddressFromURL gave up on an Avahi daemon (or its
// bus) that did not answer in time: the lists are empty for that, not for
// want of an address.
bool AddressLookupTimedOut();
