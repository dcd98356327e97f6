// supplyprobe against umockdev's simulated USB printers: libusb in the probe
// sees them in sysfs, and this process answers its usbdevfs requests.
#include <sys/stat.h>
#include <unistd.h>

#include "env/TestEnv.h"
#include "env/UsbPrinters.h"

namespace {

using testenv::DeviceIdReply;
using testenv::UsbPrinterTraits;

const std::string kProbe = std::string(USBINK_BIN_DIR) + "/supplyprobe";
const std::string kId = "MFG:Acme;CMD:PCL,PJL;MDL:Laser 100;CLS:PRINTER;";
const std::string kModel = "usb://Acme/Laser%20100", kUri = kModel + "?serial=A1B2C3";

UsbPrinterTraits Printer(const std::string& reply, const std::string& serial = "A1B2C3",
                         int interface = 0, bool printerInterface = true, bool stalls = false,
                         bool busy = false) {
  return {"Acme", "Laser 100", serial, printerInterface, static_cast<uint8_t>(interface),
          reply,  stalls,      busy};
}

// Exit status and output per case (`uri` "" for none), and no interface left claimed.
// Root passes any file mode; without CAP_DAC_OVERRIDE it does not.
TEST(Supplyprobe, FindsListsAndReads) {
  std::string why, setpriv = testenv::FindProgram("setpriv");
  REQUIRE_ENV(testenv::UsbPrinters::Available(&why), why);
  REQUIRE_ENV(!setpriv.empty() || geteuid() != 0, "setpriv is not installed (util-linux)");
  const UsbPrinterTraits one = Printer(DeviceIdReply(kId)),
                         two = Printer(DeviceIdReply(kId + "SN:2;"), "Z9");
  const UsbPrinterTraits stalls = Printer("", "A1B2C3", 0, true, true);
  const std::string longId = kId + "DES:" + std::string(1023 - kId.size() - 5, 'x') + ";";
  const std::string hp = "MANUFACTURER:Hewlett-Packard;MODEL:HP LaserJet 1020;";
  const unsigned n = static_cast<unsigned>(kId.size()) + 2;
  const auto Prefixed = [](unsigned first, unsigned second, const std::string& id) {
    return std::string{char(first), char(second)} + id;
  };
  const struct {
    std::vector<UsbPrinterTraits> printers;
    std::string uri;
    int status;
    std::string out;
    bool locked = false;  // the node's mode 0, for a prober without CAP_DAC_OVERRIDE
  } rows[] = {
      {{one}, "USB://Acme/Laser%20100?serial=A1B2C3", 0, kId + "\n"},
      {{one}, kModel + "?serial=?", 0, kId + "\n"},
      // Between printers of one model the serial decides; without one, the first.
      {{two, one}, kUri, 0, kId + "\n"},
      {{one, two}, kModel + "?serial=Z9", 0, kId + "SN:2;\n"},
      {{one, two}, kModel + "?serial=X1", 1, ""},
      {{two, one}, kModel, 0, kId + "SN:2;\n"},
      {{Printer(DeviceIdReply(kId), "")}, kUri, 0, kId + "\n"},
      {{one}, kUri + "&interface=2", 0, kId + "\n"},
      {{Printer(DeviceIdReply(kId), "", 1)}, kModel + "?interface=1", 0, kId + "\n"},
      {{one}, "usb://Acme/Laser%20200", 1, ""},
      {{Printer(DeviceIdReply(kId), "A1B2C3", 0, false)}, kUri, 1, ""},
      {{one}, "socket://127.0.0.1", 2, ""},
      {{one}, "", 2, ""},
      {{one}, kUri, 3, "", true},
      // The reply: a big-endian length that counts itself; some printers send it little-endian.
      {{Printer(DeviceIdReply(longId))}, kUri, 0, longId + "\n"},
      {{Printer(Prefixed(n & 0xff, n >> 8, kId))}, kUri, 0, kId + "\n"},
      {{Printer(DeviceIdReply(kId + "\r\n" + std::string(3, '\0')))}, kUri, 0, kId + "\n"},
      {{Printer(Prefixed(0, 0, kId))}, kUri, 4, ""},
      {{Printer(Prefixed(0, 1, kId))}, kUri, 4, ""},
      {{Printer(Prefixed(0, n + 1, kId))}, kUri, 4, ""},
      {{stalls}, kUri, 4, ""},
      {{Printer(DeviceIdReply(kId), "A1B2C3", 0, true, false, true)}, kUri, 4, ""},
      {{one, Printer(DeviceIdReply(hp), "", 1), Printer(DeviceIdReply("CMD:PCL;"), "S 1")},
       "--list",
       0,
       kUri + "\t" + kId + "\nusb://HP/LaserJet%201020?interface=1\t" + hp + "\n" + kModel +
           "?serial=S%201\tCMD:PCL;\n"},
      {{stalls, one}, "--list", 4, kUri + "\t" + kId + "\n"},
      {{}, "--list", 1, ""},
  };
  for (const auto& row : rows) {
    testenv::UsbPrinters usb;
    std::vector<std::string> nodes, argv = {kProbe};
    for (const auto& traits : row.printers) nodes.push_back(usb.Add(traits));
    if (row.locked && geteuid() == 0)
      argv.insert(argv.begin(),
                  {setpriv, "--bounding-set", "-dac_override,-dac_read_search", "--"});
    ASSERT_TRUE(!row.locked || chmod((usb.Root() + nodes[0]).c_str(), 0) == 0);
    if (row.uri != "--list") argv.push_back("Q");
    if (!row.uri.empty()) argv.push_back(row.uri);
    const testenv::RunResult r = testenv::Run(argv, usb.Env(), std::chrono::seconds(30));
    EXPECT_EQ(row.status, r.exitCode) << row.uri << ": " << r.err;
    EXPECT_EQ(row.out, r.out) << row.uri;
    for (const auto& node : nodes) EXPECT_EQ(0, usb.Counts(node).second) << row.uri << " " << node;
    EXPECT_TRUE(!row.locked || usb.Counts(nodes[0]).first == 0);
  }
}

}  // namespace
