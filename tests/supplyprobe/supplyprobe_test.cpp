// supplyprobe against umockdev's simulated USB printers: libusb in the probe
// sees them in sysfs, and this process answers its usbdevfs requests.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "env/TestEnv.h"
#include "env/UsbPrinters.h"

namespace {

using testenv::DeviceIdReply;
using testenv::RunResult;
using testenv::UsbPrinterTraits;
using testenv::UsbPrinters;

const std::string kProbe = std::string(USBINK_BIN_DIR) + "/supplyprobe";
const std::string kId = "MFG:Acme;CMD:PCL,PJL;MDL:Laser 100;CLS:PRINTER;";
const std::string kUri = "usb://Acme/Laser%20100?serial=A1B2C3";

UsbPrinterTraits Printer(const std::string& reply, const std::string& serial = "A1B2C3") {
  UsbPrinterTraits traits;
  traits.reply = reply;
  traits.serial = serial;
  return traits;
}

std::string Prefixed(unsigned char first, unsigned char second, const std::string& id) {
  return std::string{static_cast<char>(first), static_cast<char>(second)} + id;
}

struct Row {
  const char* name;
  std::vector<UsbPrinterTraits> printers;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string errHas;  // a piece of the one line on standard error
};

RunResult Probe(const UsbPrinters& usb, const std::vector<std::string>& args,
                std::vector<std::string> wrapper = {}) {
  wrapper.push_back(kProbe);
  wrapper.insert(wrapper.end(), args.begin(), args.end());
  return testenv::Run(wrapper, usb.Env(), std::chrono::seconds(30));
}

void RunRows(const std::vector<Row>& rows) {
  std::string why;
  REQUIRE_ENV(UsbPrinters::Available(&why), why);
  for (const Row& row : rows) {
    UsbPrinters usb;
    std::vector<std::string> nodes;
    for (const auto& traits : row.printers) nodes.push_back(usb.Add(traits));
    RunResult r = Probe(usb, row.args);
    EXPECT_EQ(row.status, r.exitCode) << row.name << ": " << r.err;
    EXPECT_EQ(row.out, r.out) << row.name;
    if (row.status == 0) {
      EXPECT_EQ("", r.err) << row.name;
    } else {
      EXPECT_NE(std::string::npos, r.err.find(row.errHas)) << row.name << ": " << r.err;
    }
    // One line of explanation, and no interface left claimed.
    if (row.status != 0 && row.args[0] != "--list") {
      EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << row.name << ": " << r.err;
    }
    for (const auto& node : nodes) EXPECT_EQ(0, usb.Unreleased(node)) << row.name << " " << node;
  }
}

TEST(Supplyprobe, FindsThePrinterTheUriNames) {
  UsbPrinterTraits other = Printer(DeviceIdReply(kId + "SN:2;"), "Z9");
  UsbPrinterTraits noSerial = Printer(DeviceIdReply(kId), "");
  UsbPrinterTraits second = Printer(DeviceIdReply(kId), "");
  second.interfaceNumber = 1;
  const std::string one = DeviceIdReply(kId);
  RunRows({
      {"one printer", {Printer(one)}, {"Q", kUri}, 0, kId + "\n", ""},
      {"scheme in capitals", {Printer(one)}, {"Q", "USB://Acme/Laser%20100?serial=A1B2C3"}, 0, kId + "\n", ""},
      {"same model, first serial", {Printer(one), other}, {"Q", kUri}, 0, kId + "\n", ""},
      {"same model, second serial", {Printer(one), other}, {"Q", "usb://Acme/Laser%20100?serial=Z9"}, 0, kId + "SN:2;\n", ""},
      {"another serial never matches", {Printer(one), other}, {"Q", "usb://Acme/Laser%20100?serial=X1"}, 1, "", "no connected USB printer matches"},
      {"URI without serial", {other}, {"Q", "usb://Acme/Laser%20100"}, 0, kId + "SN:2;\n", ""},
      {"device without serial", {noSerial}, {"Q", kUri}, 0, kId + "\n", ""},
      {"serial=? means none", {Printer(one)}, {"Q", "usb://Acme/Laser%20100?serial=?"}, 0, kId + "\n", ""},
      {"interface only the URI names", {Printer(one)}, {"Q", kUri + "&interface=2"}, 0, kId + "\n", ""},
      {"printer on interface 1", {second}, {"Q", "usb://Acme/Laser%20100?interface=1"}, 0, kId + "\n", ""},
      {"other model", {Printer(one)}, {"Q", "usb://Acme/Laser%20200"}, 1, "", "no connected USB printer matches"},
      {"no printer interface", {[] { auto s = Printer(DeviceIdReply(kId)); s.printerInterface = false; return s; }()},
       {"Q", kUri}, 1, "", "no connected USB printer matches"},
      {"not a usb URI", {Printer(one)}, {"Q", "socket://127.0.0.1"}, 2, "", "not a usb device URI"},
      {"no URI", {Printer(one)}, {"Q"}, 2, "", "usage: supplyprobe QUEUE DEVICE_URI"},
  });
}

TEST(Supplyprobe, TakesTheIdOutOfTheReply) {
  const std::string longId = kId + "DES:" + std::string(1023 - kId.size() - 5, 'x') + ";";
  ASSERT_EQ(1023u, longId.size());
  const unsigned n = static_cast<unsigned>(kId.size()) + 2;
  RunRows({
      {"1023 octets", {Printer(DeviceIdReply(longId))}, {"Q", kUri}, 0, longId + "\n", ""},
      {"little-endian length", {Printer(Prefixed(n & 0xff, n >> 8, kId))}, {"Q", kUri}, 0, kId + "\n", ""},
      {"trailing line end and NULs", {Printer(DeviceIdReply(kId + "\r\n" + std::string(3, '\0')))}, {"Q", kUri}, 0, kId + "\n", ""},
      {"length zero", {Printer(Prefixed(0, 0, kId))}, {"Q", kUri}, 4, "", "malformed device ID: a length prefix of 0"},
      {"length one", {Printer(Prefixed(0, 1, kId))}, {"Q", kUri}, 4, "", "malformed device ID: a length prefix of 1"},
      {"longer than sent", {Printer(Prefixed(0, n + 1, kId))}, {"Q", kUri}, 4, "", "malformed device ID"},
      {"stalls", {[&] { auto s = Printer(""); s.stalls = true; return s; }()}, {"Q", kUri}, 4, "", "refused the device-ID request (stall)"},
      {"busy past 2 s", {[&] { auto s = Printer(DeviceIdReply(kId)); s.busy = true; return s; }()}, {"Q", kUri}, 4, "", "stayed busy for 2 s"},
  });
}

TEST(Supplyprobe, ListsEveryPrinter) {
  UsbPrinterTraits onOne = Printer(DeviceIdReply("MANUFACTURER:Hewlett-Packard;MODEL:HP LaserJet 1020;"), "");
  onOne.interfaceNumber = 1;
  UsbPrinterTraits bare = Printer(DeviceIdReply("CMD:PCL;"), "S 1");
  UsbPrinterTraits stalls = Printer("");
  stalls.stalls = true;
  RunRows({
      {"three printers",
       {Printer(DeviceIdReply(kId)), onOne, bare},
       {"--list"},
       0,
       kUri + "\t" + kId + "\nusb://HP/LaserJet%201020?interface=1\tMANUFACTURER:Hewlett-Packard;MODEL:HP LaserJet 1020;\n"
           "usb://Acme/Laser%20100?serial=S%201\tCMD:PCL;\n",
       ""},
      {"one does not answer", {stalls, Printer(DeviceIdReply(kId))}, {"--list"}, 4, kUri + "\t" + kId + "\n", "stall"},
      {"none", {}, {"--list"}, 1, "", "no USB printer is connected"},
  });
}

// Root passes any file mode; without CAP_DAC_OVERRIDE it does not.
TEST(Supplyprobe, NodeWithoutPermissionNamesIt) {
  std::string why;
  REQUIRE_ENV(UsbPrinters::Available(&why), why);
  std::vector<std::string> wrapper;
  if (geteuid() == 0) {
    std::string setpriv = testenv::FindProgram("setpriv");
    REQUIRE_ENV(!setpriv.empty(), "setpriv is not installed (util-linux)");
    wrapper = {setpriv, "--bounding-set", "-dac_override,-dac_read_search", "--"};
  }
  UsbPrinters usb;
  std::string node = usb.Add(Printer(DeviceIdReply(kId)));
  ASSERT_EQ(0, chmod(usb.Backing(node).c_str(), 0));
  RunResult r = Probe(usb, {"Q", kUri}, wrapper);
  EXPECT_EQ(3, r.exitCode) << r.err;
  EXPECT_EQ("", r.out);
  EXPECT_NE(std::string::npos, r.err.find("cannot open " + node + ": permission denied")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("lp group")) << r.err;
  EXPECT_EQ(0, usb.DeviceIdRequests(node));
}

}  // namespace
