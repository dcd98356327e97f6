// usbink end to end over USB: the queue's URI is the one `supplyprobe --list`
// wrote for a simulated printer, and the stand-in at the probe path runs the
// real supplyprobe, which reads that printer through the umockdev preload
// that reaches it through usbink's spawn.
#include <string>

#include "env/Cupsd.h"
#include "env/TestEnv.h"
#include "env/UsbPrinters.h"
#include "tool/PrinterScript.h"

namespace {

using namespace std::chrono_literals;

const std::string kBin = USBINK_BIN_DIR;

TEST(UsbinkOverUsb, ReportsThePrinterTheListNamed) {
  std::string why;
  REQUIRE_ENV(USBINK_STANDIN_READY,
              "SUPPLYPROBE_PATH lies outside the build tree; configure with "
              "-DSUPPLYPROBE_PATH=<build>/standin/supplyprobe as scripts/test.sh does");
  REQUIRE_ENV(testenv::UsbPrinters::Available(&why), why);
  testenv::Cupsd cupsd;
  REQUIRE_ENV(cupsd.Start(&why), why);

  testenv::UsbPrinters usb;
  // Bit 7 of the level octet is not part of the level.
  std::string id = tooltest::DeviceIdLine(0xCB);
  id.pop_back();
  testenv::UsbPrinterTraits other;
  other.reply = testenv::DeviceIdReply(tooltest::DeviceIdLine(0x10));
  other.serial = "OTHER";
  usb.Add(other);
  testenv::UsbPrinterTraits traits;
  traits.reply = testenv::DeviceIdReply(id);
  usb.Add(traits);

  testenv::RunResult list = testenv::Run({kBin + "/supplyprobe", "--list"}, usb.Env(), 30s);
  ASSERT_EQ(0, list.exitCode) << list.err;
  size_t line = list.out.find("?serial=A1B2C3\t");
  ASSERT_NE(std::string::npos, line) << list.out;
  size_t start = list.out.rfind('\n', line) == std::string::npos ? 0 : list.out.rfind('\n', line) + 1;
  std::string uri = list.out.substr(start, list.out.find('\t', start) - start);
  EXPECT_EQ("usb://Acme/Laser%20100?serial=A1B2C3", uri);
  ASSERT_TRUE(cupsd.AddQueue("UsbLaser", uri, &why)) << why;

  std::vector<std::string> env = usb.Env();
  env.insert(env.end(), {cupsd.ServerEnv(), "USBINK_STANDIN_PROBE=" + kBin + "/supplyprobe",
                         "LC_ALL=", "LC_MESSAGES=", "LANGUAGE="});
  testenv::RunResult r = testenv::Run({kBin + "/usbink", "UsbLaser"}, env, 60s);
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(tooltest::ReportFor("Black Print Cartridge", 75), r.out);
}

}  // namespace
