// Many printers' status records at once: what NetworkReadStatus and then
// NetworkReadStatusSNMPv3 do for one address, for every address of a list,
// overlapped in one thread and one epoll loop. The waits that make an SNMPv3
// read last two seconds are the printers', not the client's, so a thousand
// of them take little longer than one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "status/TavraCmd.h"

namespace netio {

enum class FleetProtocol { kNone, kSnmpV1, kSnmpV3 };

struct FleetResult {
  const std::string* address;  // as given
  FleetProtocol protocol;      // kNone: no record
  // Null with a record, else why there is none.
  const char* error;
  PRINTER_STATUS status;  // filled only with a record
};

using FleetCallback = std::function<void(const FleetResult&)>;

constexpr int kDefaultFleetParallel = 256;

// Reads every address (a numeric text, ParseNumericAddress's rule) with at
// most `parallel` printers in flight, each with the requests, acceptance
// rules and deadlines of the single reads; `done` gets each printer as it
// finishes. Each in-flight printer holds up to two sockets, so `parallel` is
// held below the process's descriptor limit. False when the loop itself
// cannot run (no epoll instance); every address has been reported otherwise.
bool ReadFleet(const std::vector<std::string>& addresses, int parallel, const FleetCallback& done);

}  // namespace netio
