// Connected USB printers through libusb: which interfaces are printers, and
// the device ID asked of one with the printer class's GET_DEVICE_ID.
#pragma once

#include <libusb.h>

#include <chrono>
#include <string>
#include <vector>

#include "supplyprobe/probe_error.h"

namespace supplyprobe {

using Clock = std::chrono::steady_clock;

// One printer interface: class 7, subclass 1, protocol 1, 2 or 3.
struct PrinterInterface {
  libusb_device* device = nullptr;
  int configIndex = 0;
  int interfaceNumber = 0;
  int altSetting = 0;
};

std::vector<PrinterInterface> FindPrinterInterfaces(libusb_device* const* devices, ssize_t count);

struct PrinterFacts {
  std::string deviceId;
  std::string uri;
};

// Opens the printer, asks for its device ID (through usblp's node when that
// driver holds the interface) and builds its URI. Nothing is left claimed or
// detached. Every request ends by `deadline`.
bool ReadPrinter(const PrinterInterface& printer, Clock::time_point deadline, PrinterFacts* facts,
                 Failure* failure);

}  // namespace supplyprobe
