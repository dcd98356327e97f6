// DNS-SD resolution of a printer service instance through the Avahi daemon.
#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

struct ServiceAddresses {
  // In the order they arrived. A link-local IPv6 address keeps the interface
  // it was seen on as its scope id.
  std::vector<sockaddr_storage> addresses;
  // The bus or the daemon did not answer the connection within its second.
  bool timedOut = false;
};

// Socket addresses of the "_printer._tcp" instance `name` in "local", within
// 1 s to connect to the daemon and then the 3.0 s wait (less once two are
// known). Empty at once when no Avahi daemon is reachable.
ServiceAddresses ResolvePrinterService(const std::string& name);
