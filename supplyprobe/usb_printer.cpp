#include "supplyprobe/usb_printer.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>
#include <tuple>

#include "supplyprobe/device_id.h"
#include "supplyprobe/device_uri.h"
#include "supplyprobe/usblp.h"

namespace supplyprobe {

namespace {

constexpr std::chrono::milliseconds kRequestLimit(5000);
// A job holds the interface; wait this long for it to come free.
constexpr std::chrono::seconds kBusyWait(2);

// Bidirectional first, as the print system's backend prefers it; 1284.4 last.
int ProtocolRank(int protocol) { return protocol == 2 ? 3 : protocol == 1 ? 2 : protocol == 3 ? 1 : 0; }

struct HandleCloser {
  void operator()(libusb_device_handle* h) const { libusb_close(h); }
};
using Handle = std::unique_ptr<libusb_device_handle, HandleCloser>;

struct ConfigFree {
  void operator()(libusb_config_descriptor* c) const { libusb_free_config_descriptor(c); }
};

// Milliseconds for one request: at most kRequestLimit, never past the deadline.
unsigned RequestTimeout(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<unsigned>(std::clamp(left, std::chrono::milliseconds(1), kRequestLimit).count());
}

std::string StringDescriptor(libusb_device_handle* h, uint8_t index) {
  unsigned char text[256];
  int n = index ? libusb_get_string_descriptor_ascii(h, index, text, sizeof text - 1) : 0;
  return n > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<size_t>(n)) : std::string();
}

// GET_DEVICE_ID through usbfs: the interface is claimed for this one request.
bool ControlDeviceIdReply(libusb_device_handle* h, const PrinterInterface& printer, const std::string& node,
                          Clock::time_point deadline, uint8_t* reply, int* length, Failure* failure) {
  auto busyUntil = std::min(deadline, Clock::now() + kBusyWait);
  int rc;
  while ((rc = libusb_claim_interface(h, printer.interfaceNumber)) == LIBUSB_ERROR_BUSY &&
         Clock::now() < busyUntil)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (rc == LIBUSB_ERROR_BUSY) {
    *failure = {kNoAnswer, node + ": the printer interface stayed busy for 2 s (a job is printing)"};
    return false;
  }
  if (rc != 0) {
    *failure = {kNoAnswer, node + ": cannot claim the printer interface: " + libusb_strerror(rc)};
    return false;
  }
  if (Clock::now() >= deadline) {
    libusb_release_interface(h, printer.interfaceNumber);
    *failure = {kNoAnswer, node + ": no time left to ask for the device ID"};
    return false;
  }
  rc = libusb_control_transfer(
      h, LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_CLASS | LIBUSB_RECIPIENT_INTERFACE, 0,
      static_cast<uint16_t>(printer.configIndex),
      static_cast<uint16_t>(printer.interfaceNumber << 8 | printer.altSetting), reply,
      static_cast<uint16_t>(kDeviceIdReplyMax), RequestTimeout(deadline));
  libusb_release_interface(h, printer.interfaceNumber);
  if (rc == LIBUSB_ERROR_PIPE) {
    *failure = {kNoAnswer, node + ": the printer refused the device-ID request (stall)"};
    return false;
  }
  if (rc == LIBUSB_ERROR_TIMEOUT) {
    *failure = {kNoAnswer, node + ": the printer did not answer the device-ID request in time"};
    return false;
  }
  if (rc < 0) {
    *failure = {kNoAnswer, node + ": the device-ID request failed: " + libusb_strerror(rc)};
    return false;
  }
  *length = rc;
  return true;
}

// "/dev/bus/usb/BBB/DDD", the node a user needs access to.
std::string DeviceNode(libusb_device* device) {
  char node[32];
  snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
           libusb_get_device_address(device));
  return node;
}

}  // namespace

std::vector<PrinterInterface> FindPrinterInterfaces(libusb_device* const* devices, ssize_t count) {
  std::vector<PrinterInterface> found;
  for (ssize_t d = 0; d < count; ++d) {
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(devices[d], &desc) < 0 || !desc.bNumConfigurations ||
        !desc.idVendor || !desc.idProduct)
      continue;
    for (int c = 0; c < desc.bNumConfigurations; ++c) {
      libusb_config_descriptor* raw = nullptr;
      if (libusb_get_config_descriptor(devices[d], static_cast<uint8_t>(c), &raw) < 0) continue;
      std::unique_ptr<libusb_config_descriptor, ConfigFree> config(raw);
      for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& iface = config->interface[i];
        const libusb_interface_descriptor* best = nullptr;
        for (int a = 0; a < iface.num_altsetting; ++a) {
          const libusb_interface_descriptor& alt = iface.altsetting[a];
          if (alt.bInterfaceClass != LIBUSB_CLASS_PRINTER || alt.bInterfaceSubClass != 1 ||
              !ProtocolRank(alt.bInterfaceProtocol))
            continue;
          if (!best || ProtocolRank(alt.bInterfaceProtocol) > ProtocolRank(best->bInterfaceProtocol))
            best = &alt;
        }
        if (best) found.push_back({devices[d], c, best->bInterfaceNumber, best->bAlternateSetting});
      }
    }
  }
  // In bus and address order, so a list reads the same from run to run.
  auto key = [](const PrinterInterface& p) {
    return std::make_tuple(libusb_get_bus_number(p.device), libusb_get_device_address(p.device),
                           p.configIndex, p.interfaceNumber);
  };
  std::sort(found.begin(), found.end(),
            [&](const PrinterInterface& a, const PrinterInterface& b) { return key(a) < key(b); });
  return found;
}

bool ReadPrinter(const PrinterInterface& printer, Clock::time_point deadline, PrinterFacts* facts,
                 Failure* failure) {
  const std::string node = DeviceNode(printer.device);
  libusb_device_handle* raw = nullptr;
  int rc = libusb_open(printer.device, &raw);
  if (rc == LIBUSB_ERROR_ACCESS) {
    *failure = {kNoAccess, "cannot open " + node +
                               ": permission denied; members of the lp group (or a udev rule "
                               "granting access) may open it"};
    return false;
  }
  if (rc != 0) {
    *failure = {kNoAnswer, "cannot open " + node + ": " + libusb_strerror(rc)};
    return false;
  }
  Handle h(raw);

  uint8_t reply[kDeviceIdReplyMax];
  int length = 0;
  if (libusb_kernel_driver_active(h.get(), printer.interfaceNumber) == 1) {
    if (!UsblpDeviceIdReply(libusb_get_bus_number(printer.device),
                            libusb_get_device_address(printer.device), printer.interfaceNumber,
                            std::min(deadline, Clock::now() + kBusyWait), reply, sizeof reply, failure))
      return false;
    length = sizeof reply;
  } else if (!ControlDeviceIdReply(h.get(), printer, node, deadline, reply, &length, failure)) {
    return false;
  }
  std::string fault;
  if (!ExtractDeviceId(reply, reply + length, &facts->deviceId, &fault)) {
    *failure = {kNoAnswer, node + ": the printer answered with a malformed device ID: " + fault};
    return false;
  }

  libusb_device_descriptor desc;
  libusb_get_device_descriptor(printer.device, &desc);
  UriParts parts;
  parts.deviceId = facts->deviceId;
  parts.serial = StringDescriptor(h.get(), desc.iSerialNumber);
  if (DeviceIdValue(facts->deviceId, "MANUFACTURER").empty() && DeviceIdValue(facts->deviceId, "MFG").empty())
    parts.descriptorMake = StringDescriptor(h.get(), desc.iManufacturer);
  if (DeviceIdValue(facts->deviceId, "MODEL").empty() && DeviceIdValue(facts->deviceId, "MDL").empty())
    parts.descriptorModel = StringDescriptor(h.get(), desc.iProduct);
  parts.interfaceNumber = printer.interfaceNumber;
  facts->uri = MakeDeviceUri(parts);
  return true;
}

}  // namespace supplyprobe
