#include "tool/network_search.h"

#include <cstddef>

#include "netio/NetIO.h"
#include "netio/SnmpV3.h"
#include "tool/address.h"

namespace {

const char kCommunity[] = "public";

using Reader = int (*)(char const*, char const*, PRINTER_STATUS*);

struct Readers {
  const char* tag;
  Reader v1;
  Reader v3;
};

const Readers kReaders[] = {
    {"IPv4", NetworkReadStatus, NetworkReadStatusSNMPv3},
    {"IPv6", NetworkReadStatusV6, NetworkReadStatusV6SNMPv3},
};

}  // namespace

int RunNetworkSearch(const char* deviceUri, PRINTER_STATUS* status) {
  getAddressFromURL(deviceUri);
  const size_t count = mDNSIP.size();
  if (count < 1) return AddressLookupTimedOut() ? -1 : 1;
  for (size_t i = 0; i < count; ++i) {
    for (const Readers& r : kReaders) {
      if (mDNSType[i] != r.tag) continue;
      const char* host = mDNSIP[i].c_str();
      if (r.v1(kCommunity, host, status) || r.v3(kCommunity, host, status)) return 0;
    }
  }
  return -1;
}
