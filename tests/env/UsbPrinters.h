// umockdev's sysfs testbed; this process answers the usbdevfs ioctls of a program run with Env().
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testenv {

// An "Acme" "Laser 100" with one printer interface.
struct UsbPrinterTraits {
  std::string reply;  // octets answered to GET_DEVICE_ID, length prefix included
  std::string serial = "A1B2C3";
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

  struct Device;

 private:
  void* testbed_;
  std::map<std::string, std::unique_ptr<Device>> devices_;
};

}  // namespace testenv
