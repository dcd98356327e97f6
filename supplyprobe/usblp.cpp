#include "supplyprobe/usblp.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace supplyprobe {

namespace {

// As the kernel's usblp defines it; no public header carries it.
constexpr unsigned long LpiocGetDeviceId(size_t length) { return _IOC(_IOC_READ, 'P', 1, length); }

// usblp numbers its nodes below this.
constexpr int kUsblpMinors = 16;

long SysfsNumber(const std::string& path, int base) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text)) return -1;
  char* end = nullptr;
  long value = strtol(text.c_str(), &end, base);
  return end && *end == '\0' ? value : -1;
}

}  // namespace

bool UsblpDeviceIdReply(int bus, int address, int interfaceNumber, Clock::time_point busyUntil,
                        uint8_t* reply, size_t size, Failure* failure) {
  for (int minor = 0; minor < kUsblpMinors; ++minor) {
    // device/ is the interface; its parent directory is the device.
    std::string sys = "/sys/class/usbmisc/lp" + std::to_string(minor) + "/device/";
    if (SysfsNumber(sys + "bInterfaceNumber", 16) != interfaceNumber ||
        SysfsNumber(sys + "../busnum", 10) != bus || SysfsNumber(sys + "../devnum", 10) != address)
      continue;
    std::string node = "/dev/usb/lp" + std::to_string(minor);
    int fd;
    // usblp lets one process at a time open the node: busy while a job prints.
    while ((fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == EBUSY &&
           Clock::now() < busyUntil)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (fd < 0) {
      int err = errno;
      if (err == EACCES || err == EPERM)
        *failure = {kNoAccess, "cannot open " + node +
                                   ": permission denied; members of the lp group (or a udev rule "
                                   "granting access) may open it"};
      else if (err == EBUSY)
        *failure = {kNoAnswer, node + " stayed busy for 2 s (a job is printing)"};
      else
        *failure = {kNoAnswer, "cannot open " + node + ": " + strerror(err)};
      return false;
    }
    memset(reply, 0, size);
    int rc = ioctl(fd, LpiocGetDeviceId(size), reply);
    int err = errno;
    close(fd);
    if (rc < 0) {
      *failure = {kNoAnswer, node + " did not answer the device-ID request: " + strerror(err)};
      return false;
    }
    return true;
  }
  *failure = {kNoAnswer, "the usblp driver holds the printer interface, but no /dev/usb/lp node belongs to it"};
  return false;
}

}  // namespace supplyprobe
