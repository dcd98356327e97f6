// The kernel's usblp driver holds the printer interface: ask through its
// node, /dev/usb/lpN, with LPIOC_GET_DEVICE_ID, and leave the driver alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "supplyprobe/probe_error.h"
#include "supplyprobe/usb_printer.h"

namespace supplyprobe {

// Fills `reply` (zeroed, `size` octets) with what the driver returns: the
// length prefix and the text. False with `failure` set otherwise.
bool UsblpDeviceIdReply(int bus, int address, int interfaceNumber, Clock::time_point busyUntil,
                        uint8_t* reply, size_t size, Failure* failure);

}  // namespace supplyprobe
