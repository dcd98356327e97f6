// DNS-SD resolution of a printer service instance through the Avahi daemon.
#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

// Socket addresses of the "_printer._tcp" instance `name` in "local", in the
// order they arrive, within the 3.0 s wait (less once two are known). A
// link-local IPv6 address keeps the interface it was seen on as its scope id.
// Empty at once when no Avahi daemon is reachable.
std::vector<sockaddr_storage> ResolvePrinterService(const std::string& name);
