// Simulated USB printers: a umockdev testbed describes each device in sysfs,
// and an ioctl handler in this process answers the usbdevfs requests that
// libusb sends from a program started with Env() (the umockdev preload).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testenv {

struct UsbPrinterTraits {
  std::string manufacturer = "Acme";  // string descriptors; "" leaves the index 0
  std::string product = "Laser 100";
  std::string serial = "A1B2C3";
  bool printerInterface = true;  // false: one vendor-specific interface only
  uint8_t interfaceNumber = 0;   // above 0, vendor-specific interfaces come first
  std::string reply;             // octets answered to GET_DEVICE_ID, length prefix included
  bool stalls = false;           // GET_DEVICE_ID ends in a stall
  bool busy = false;             // claiming the interface fails with EBUSY
};

// The reply of a printer that sends `id` correctly: big-endian length first.
std::string DeviceIdReply(const std::string& id);

class UsbPrinters {
 public:
  UsbPrinters();
  ~UsbPrinters();
  UsbPrinters(const UsbPrinters&) = delete;
  UsbPrinters& operator=(const UsbPrinters&) = delete;

  // False (and `why`) when umockdev's preload library is not installed.
  static bool Available(std::string* why);

  // Plugs in a printer; returns its node, "/dev/bus/usb/001/NNN".
  std::string Add(const UsbPrinterTraits& traits);
  // The file behind a node inside the testbed (for its permissions).
  std::string Backing(const std::string& node) const;
  // Environment for a program that should see these printers.
  std::vector<std::string> Env() const;

  // Per node: GET_DEVICE_ID requests seen, and interfaces claimed but not released.
  int DeviceIdRequests(const std::string& node) const;
  int Unreleased(const std::string& node) const;

  struct Device;

 private:
  struct Bed;
  std::unique_ptr<Bed> bed_;
};

}  // namespace testenv
