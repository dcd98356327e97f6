// The branch for network device URIs: the status record read by SNMP.
#pragma once

#include "status/TavraCmd.h"

// 0 when `status` was filled; otherwise the run's exit status: 1 when no
// address was found, -1 when no address answered or the Avahi daemon did not
// answer in time.
int RunNetworkSearch(const char* deviceUri, PRINTER_STATUS* status);
