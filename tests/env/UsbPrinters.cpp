#include "env/UsbPrinters.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

namespace testenv {

namespace {

const char* const kPreloadCandidates[] = {
    "/usr/lib/x86_64-linux-gnu/libumockdev-preload.so.0",
    "/usr/lib/aarch64-linux-gnu/libumockdev-preload.so.0",
    "/usr/lib64/libumockdev-preload.so.0",
    "/usr/lib/libumockdev-preload.so.0",
};

std::string PreloadLibrary() {
  struct stat st;
  for (const char* path : kPreloadCandidates)
    if (stat(path, &st) == 0) return path;
  return "";
}

void Put16(std::string* out, unsigned v) {
  out->push_back(static_cast<char>(v & 0xff));
  out->push_back(static_cast<char>(v >> 8));
}

std::string Interface(uint8_t number, uint8_t cls, uint8_t sub, uint8_t protocol) {
  std::string d = {9, 4, static_cast<char>(number), 0, 2, static_cast<char>(cls),
                   static_cast<char>(sub), static_cast<char>(protocol), 0};
  // Bulk OUT 1 and bulk IN 2 of 512 octets.
  for (uint8_t ep : {uint8_t(0x01 + 2 * number), uint8_t(0x82 + 2 * number)}) {
    d += std::string{7, 5, static_cast<char>(ep), 2};
    Put16(&d, 512);
    d.push_back(0);
  }
  return d;
}

// Device descriptor followed by the one configuration, as sysfs' descriptors file holds them.
std::string Descriptors(const UsbPrinterTraits& s, uint16_t product) {
  std::string interfaces;
  int count = 0;
  for (uint8_t n = 0; n < s.interfaceNumber; ++n, ++count) interfaces += Interface(n, 0xff, 0xff, 0xff);
  interfaces += s.printerInterface ? Interface(s.interfaceNumber, 7, 1, 2)
                                   : Interface(s.interfaceNumber, 0xff, 0, 0);
  ++count;
  std::string d = {18, 1};
  Put16(&d, 0x0200);
  d += std::string{0, 0, 0, 64};
  Put16(&d, 0x4a11);  // vendor
  Put16(&d, product);
  Put16(&d, 0x0100);
  d += std::string{s.manufacturer.empty() ? '\0' : '\1', s.product.empty() ? '\0' : '\2',
                   s.serial.empty() ? '\0' : '\3', 1};
  d += std::string{9, 2};
  Put16(&d, static_cast<unsigned>(9 + interfaces.size()));
  d += std::string{static_cast<char>(count), 1, 0, static_cast<char>(0xc0), 1};
  return d + interfaces;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char two[3];
  for (unsigned char c : bytes) {
    snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  return hex;
}

std::string StringDescriptor(const std::string& text) {
  std::string d = {static_cast<char>(2 + 2 * text.size()), 3};
  for (char c : text) Put16(&d, static_cast<unsigned char>(c));
  return d;
}

}  // namespace

struct UsbPrinters::Device {
  UsbPrinterTraits traits;
  UMockdevIoctlBase* handler = nullptr;
  std::mutex mutex;  // the testbed answers on its own thread
  std::deque<UMockdevIoctlData*> reapable;
  int deviceIdRequests = 0;
  int claimed = 0;

  std::string Answer(const uint8_t* setup, int* status) {
    uint16_t value = setup[2] | setup[3] << 8;
    if (setup[0] == 0x80 && setup[1] == 6 && value >> 8 == 3) {
      switch (value & 0xff) {
        case 0: return std::string{4, 3, 0x09, 0x04};  // US English only
        case 1: return StringDescriptor(traits.manufacturer);
        case 2: return StringDescriptor(traits.product);
        case 3: return StringDescriptor(traits.serial);
      }
    } else if (setup[0] == 0xa1 && setup[1] == 0) {
      ++deviceIdRequests;
      if (!traits.stalls) return traits.reply;
    }
    *status = -EPIPE;
    return "";
  }

  gboolean Ioctl(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        *reinterpret_cast<guint32*>(caps->data) = 0;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_GETDRIVER:
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return TRUE;
      case USBDEVFS_CLAIMINTERFACE:
        if (traits.busy) {
          umockdev_ioctl_client_complete(client, -1, EBUSY);
          return TRUE;
        }
        ++claimed;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      case USBDEVFS_RELEASEINTERFACE:
        --claimed;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->buffer_length < 8) return FALSE;
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
            urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), urb->buffer_length, nullptr);
        int status = 0;
        std::string answer = Answer(buffer->data, &status);
        size_t room = std::min<size_t>(buffer->data[6] | buffer->data[7] << 8, urb->buffer_length - 8);
        size_t n = std::min(answer.size(), room);
        memcpy(buffer->data + 8, answer.data(), n);
        urb->actual_length = static_cast<int>(n);
        urb->status = status;
        reapable.push_back(umockdev_ioctl_data_ref(urbData));
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: {
        if (reapable.empty()) {
          umockdev_ioctl_client_complete(client, -1, EAGAIN);
          return TRUE;
        }
        UMockdevIoctlData* urbData = reapable.front();
        reapable.pop_front();
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, urbData);
        umockdev_ioctl_data_unref(urbData);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      default:
        return FALSE;
    }
  }
};

namespace {

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer device) {
  return static_cast<UsbPrinters::Device*>(device)->Ioctl(client);
}

}  // namespace

struct UsbPrinters::Bed {
  UMockdevTestbed* testbed = nullptr;
  std::map<std::string, std::unique_ptr<Device>> devices;
};

std::string DeviceIdReply(const std::string& id) {
  size_t length = id.size() + 2;
  return std::string{static_cast<char>(length >> 8), static_cast<char>(length & 0xff)} + id;
}

UsbPrinters::UsbPrinters() : bed_(std::make_unique<Bed>()) { bed_->testbed = umockdev_testbed_new(); }

UsbPrinters::~UsbPrinters() {
  g_object_unref(bed_->testbed);
  for (auto& [node, device] : bed_->devices) {
    for (UMockdevIoctlData* urb : device->reapable) umockdev_ioctl_data_unref(urb);
    g_object_unref(device->handler);
  }
}

bool UsbPrinters::Available(std::string* why) {
  if (!PreloadLibrary().empty()) return true;
  *why = "umockdev's preload library is not installed (umockdev, libumockdev-dev)";
  return false;
}

std::string UsbPrinters::Add(const UsbPrinterTraits& traits) {
  unsigned address = static_cast<unsigned>(bed_->devices.size()) + 2;
  char node[32];
  snprintf(node, sizeof node, "/dev/bus/usb/001/%03u", address);
  auto device = std::make_unique<Device>();
  device->traits = traits;
  device->handler = umockdev_ioctl_base_new();
  g_signal_connect(device->handler, "handle-ioctl", G_CALLBACK(OnIoctl), device.get());
  // The handler first, so the node answers from the moment it appears.
  umockdev_testbed_attach_ioctl(bed_->testbed, node, device->handler, nullptr);
  std::string sysName = "1-" + std::to_string(address - 1);
  std::string record = "P: /devices/usb1/" + sysName + "\nN: " + std::string(node + 5) +
                       "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001"
                       "\nE: DEVNUM=" + std::string(node + 17) + "\nE: DEVNAME=" + node +
                       "\nA: busnum=1\\n\nA: devnum=" + std::to_string(address) +
                       "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\nH: descriptors=" +
                       Hex(Descriptors(traits, static_cast<uint16_t>(0x0100 + address))) + "\n";
  umockdev_testbed_add_from_string(bed_->testbed, record.c_str(), nullptr);
  bed_->devices[node] = std::move(device);
  return node;
}

std::string UsbPrinters::Backing(const std::string& node) const {
  gchar* root = umockdev_testbed_get_root_dir(bed_->testbed);
  std::string path = std::string(root) + node;
  g_free(root);
  return path;
}

std::vector<std::string> UsbPrinters::Env() const {
  gchar* root = umockdev_testbed_get_root_dir(bed_->testbed);
  std::vector<std::string> env = {"LD_PRELOAD=" + PreloadLibrary(), std::string("UMOCKDEV_DIR=") + root};
  g_free(root);
  // An instrumented program insists on the ASan runtime coming first; the
  // preload only wraps libc calls, which ASan's own interceptors then see.
  const char* asan = getenv("ASAN_OPTIONS");
  env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
  return env;
}

int UsbPrinters::DeviceIdRequests(const std::string& node) const {
  Device& d = *bed_->devices.at(node);
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.deviceIdRequests;
}

int UsbPrinters::Unreleased(const std::string& node) const {
  Device& d = *bed_->devices.at(node);
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.claimed;
}

}  // namespace testenv
