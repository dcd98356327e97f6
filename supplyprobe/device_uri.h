// usb:// device URIs as the print system's own usb backend writes and
// matches them, so a queue made from `supplyprobe --list` names its printer.
#pragma once

#include <string>

namespace supplyprobe {

// What the URI of one connected printer is built from. Make and model come
// from the device ID, else from the device's string descriptors.
struct UriParts {
  std::string deviceId;
  std::string serial;         // the serial-number string descriptor; "" when none
  std::string descriptorMake;  // manufacturer string descriptor, "" when none
  std::string descriptorModel; // product string descriptor, "" when none
  int interfaceNumber = 0;
};

std::string MakeDeviceUri(const UriParts& parts);

// A usb URI that the URI functions can split; its canonical spelling in `canonical`.
bool CanonicalUsbUri(const std::string& uri, std::string* canonical);

// The backend's rule: equal once an interface or serial that only one side
// names is left out, and "serial=?" means no serial.
bool UriMatches(const std::string& requested, const std::string& detected);

}  // namespace supplyprobe
