#include "env/UsbPrinters.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>

#include "env/TestEnv.h"

namespace testenv {

static std::string PreloadLibrary() {
  for (std::string dir : {"/usr/lib/x86_64-linux-gnu", "/usr/lib/aarch64-linux-gnu", "/usr/lib"})
    if (access((dir + "/libumockdev-preload.so.0").c_str(), R_OK) == 0)
      return dir + "/libumockdev-preload.so.0";
  return "";
}

struct UsbPrinters::Device {
  UsbPrinterTraits traits;
  UMockdevIoctlBase* handler = nullptr;
  std::mutex mutex;  // the testbed answers on its own thread
  std::deque<UMockdevIoctlData*> reapable;

  std::string Answer(const uint8_t* setup, int* status) {
    const unsigned value = setup[2] | setup[3] << 8, index = value & 0xff;
    if (setup[0] == 0x80 && setup[1] == 6 && value >> 8 == 3 && index <= 3) {
      if (index == 0) return {4, 3, 0x09, 0x04};  // US English only
      const std::string text = index == 1 ? "Acme" : index == 2 ? "Laser 100" : traits.serial;
      std::string d = {static_cast<char>(2 + 2 * text.size()), 3};
      for (char c : text) d += {c, 0};
      return d;
    }
    if (setup[0] == 0xa1 && setup[1] == 0) return traits.reply;
    *status = -EPIPE;
    return "";
  }

  gboolean Ioctl(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const auto done = [client](int result, int error) {
      umockdev_ioctl_client_complete(client, result, error);
      return TRUE;
    };
    switch (umockdev_ioctl_client_get_request(client)) {
      case USBDEVFS_GET_CAPABILITIES:
        *reinterpret_cast<guint32*>(
            umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr)->data) = 0;
        return done(0, 0);
      case USBDEVFS_GETDRIVER:
        return done(-1, ENODATA);
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_RELEASEINTERFACE:
        return done(0, 0);
      case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData* urbData =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->buffer_length < 8) return FALSE;
        uint8_t* buffer =
            umockdev_ioctl_data_resolve(urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                        urb->buffer_length, nullptr)
                ->data;
        int status = 0;
        const std::string answer = Answer(buffer, &status);
        const size_t n = std::min(
            {answer.size(), size_t(buffer[6] | buffer[7] << 8), size_t(urb->buffer_length - 8)});
        memcpy(buffer + 8, answer.data(), n);
        urb->actual_length = static_cast<int>(n);
        urb->status = status;
        reapable.push_back(umockdev_ioctl_data_ref(urbData));
        return done(0, 0);
      }
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: {
        if (reapable.empty()) return done(-1, EAGAIN);
        UMockdevIoctlData* urbData = reapable.front();
        reapable.pop_front();
        umockdev_ioctl_data_set_ptr(umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr),
                                    0, urbData);
        umockdev_ioctl_data_unref(urbData);
        return done(0, 0);
      }
      default:
        return FALSE;
    }
  }
};

std::string DeviceIdReply(const std::string& id) {
  const size_t length = id.size() + 2;
  return std::string{static_cast<char>(length >> 8), static_cast<char>(length & 0xff)} + id;
}

UsbPrinters::UsbPrinters() : testbed_(umockdev_testbed_new()) {}

UsbPrinters::~UsbPrinters() {
  g_object_unref(testbed_);
  for (auto& [node, device] : devices_) {
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
  const unsigned address = static_cast<unsigned>(devices_.size()) + 2;
  char node[32];
  snprintf(node, sizeof node, "/dev/bus/usb/001/%03u", address);
  auto device = std::make_unique<Device>();
  device->traits = traits;
  device->handler = umockdev_ioctl_base_new();
  g_signal_connect(device->handler, "handle-ioctl",
                   G_CALLBACK(+[](UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer d) {
                     return static_cast<Device*>(d)->Ioctl(client);
                   }),
                   device.get());
  // The handler first, so the node answers from the moment it appears.
  umockdev_testbed_attach_ioctl(static_cast<UMockdevTestbed*>(testbed_), node, device->handler,
                                nullptr);
  char product[3];
  snprintf(product, sizeof product, "%02x", address);
  const std::string record =
      "P: /devices/usb1/1-" + std::to_string(address - 1) + "\nN: " + (node + 5) +
      "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=" +
      (node + 17) + "\nE: DEVNAME=" + node +
      "\nA: busnum=1\\n\nA: devnum=" + std::to_string(address) +
      "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\n" +
      // Product 0x01NN at address NN; a printer interface with 512-octet bulk OUT and IN.
      "H: descriptors=1201000200000040114a" + product + "01000101020301" + "09022000010100c001" +
      "090400000207010200" + "07050102000200" + "07058202000200\n";
  umockdev_testbed_add_from_string(static_cast<UMockdevTestbed*>(testbed_), record.c_str(),
                                   nullptr);
  devices_[node] = std::move(device);
  return node;
}

std::string UsbPrinters::Root() const {
  gchar* root = umockdev_testbed_get_root_dir(static_cast<UMockdevTestbed*>(testbed_));
  const std::string path = root;
  g_free(root);
  return path;
}

std::vector<std::string> UsbPrinters::Env() const {
  // ASan would insist on coming first; the preload only wraps libc calls ASan intercepts too.
  const char* asan = getenv("ASAN_OPTIONS");
  return {"LD_PRELOAD=" + PreloadLibrary(), "UMOCKDEV_DIR=" + Root(),
          std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
}

}  // namespace testenv
