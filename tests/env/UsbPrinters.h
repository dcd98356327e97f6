// Simulated USB printers: a umockdev testbed describes each device in sysfs,
// and an ioctl handler in this process answers the usbdevfs requests that
// libusb sends from a program started with Env() (the umockdev preload).
#pragma once

#include <cstdint>
#include <map>
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
  static bool Available(std::string* why);  // false without umockdev's preload library
  // Plugs in a printer; returns its node, "/dev/bus/usb/001/NNN".
  std::string Add(const UsbPrinterTraits& traits);
  std::string Root() const;              // a node's file lies at Root() + node
  std::vector<std::string> Env() const;  // for a program that should see these printers
  // Per node: GET_DEVICE_ID requests seen, interfaces claimed and not released.
  std::pair<int, int> Counts(const std::string& node) const;

  struct Device;

 private:
  void* testbed_;
  std::map<std::string, std::unique_ptr<Device>> devices_;
};

}  // namespace testenv
