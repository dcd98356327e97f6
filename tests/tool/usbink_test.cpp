// usbink end to end: a private cupsd holds the queues, and the stand-in at
// the configured supplyprobe path runs the script that plays the printer.

#include <future>
#include <string>
#include <vector>

#include "PrinterScript.h"
#include "env/Cupsd.h"
#include "env/StallPeer.h"
#include "env/TestEnv.h"

namespace {

using testenv::RunResult;
using tooltest::DeviceIdLine;
using tooltest::PrinterScript;
using tooltest::ReportFor;
using namespace std::chrono_literals;

const std::string kTool = std::string(USBINK_BIN_DIR) + "/usbink";
const std::string kUsbUri = "usb://Acme/Laser%20100?serial=A1B2C3";

class Usbink : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ENV(USBINK_STANDIN_READY,
                "SUPPLYPROBE_PATH lies outside the build tree; configure with "
                "-DSUPPLYPROBE_PATH=<build>/standin/supplyprobe as scripts/test.sh does");
    std::string why;
    REQUIRE_ENV(cupsd_.Start(&why), why);
  }

  void AddQueue(const std::string& name, const std::string& uri) {
    std::string why;
    ASSERT_TRUE(cupsd_.AddQueue(name, uri, &why)) << name << ": " << why;
  }

  RunResult Tool(const std::vector<std::string>& args, const PrinterScript& printer,
                 std::vector<std::string> env = {}, std::chrono::milliseconds limit = 60s) {
    std::vector<std::string> argv = {kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    env.push_back(cupsd_.ServerEnv());
    env.push_back("USBINK_STANDIN_PROBE=" + printer.path());
    env.push_back("LC_ALL=");
    env.push_back("LC_MESSAGES=");
    env.push_back("LANGUAGE=");
    return testenv::Run(argv, env, limit);
  }

  testenv::Cupsd cupsd_;
};

// A USB queue's report: the probe's record, the description in the
// language asked for; no report for a queue the print system does not know.
TEST_F(Usbink, ReportsWhatTheProbeRead) {
  AddQueue("Laser", kUsbUri);
  AddQueue("Upper", "USB://Acme/Laser");
  const struct {
    std::vector<std::string> args;
    const char* language;
    unsigned char byte;
    int exitCode;
    std::string out;
  } rows[] = {
      {{"Laser"}, "", 0x4B, 0, ReportFor("Black Print Cartridge", 75)},
      {{"Laser", "Other", "--help"}, "", 0xE4, 0, ReportFor("Black Print Cartridge", 100)},
      {{"Upper"}, "de", 0x4B, 0, ReportFor("Schwarze Druckkartusche", 75)},
      {{"Laser"}, "fr_CA:de", 0x4B, 0, ReportFor("Cartouche d’impression noire", 75)},
      {{"Laser"}, "it", 0x4B, 0, ReportFor("Black Print Cartridge", 75)},
      {{"NoSuchQueue"}, "", 0x4B, 255, ""},
  };
  for (const auto& row : rows) {
    PrinterScript printer(DeviceIdLine(row.byte));
    RunResult r = Tool(row.args, printer, {"LANG=C.UTF-8", std::string("LANGUAGE=") + row.language});
    EXPECT_EQ(row.exitCode, r.exitCode) << row.args[0] << " " << row.language;
    EXPECT_EQ(row.out, r.out) << row.args[0] << " " << row.language;
    EXPECT_EQ(row.exitCode == 0, printer.ran()) << row.args[0];
    if (row.exitCode == 0) {
      EXPECT_EQ(row.args[0], printer.arg(1));
      EXPECT_EQ(row.args[0] == "Laser" ? kUsbUri : "USB://Acme/Laser", printer.arg(2));
    }
  }
}

// Installed elsewhere, the binary finds the catalogues under its prefix.
TEST_F(Usbink, InstalledToolFindsItsCatalogues) {
  AddQueue("Laser", kUsbUri);
  testenv::TempDir prefix;
  auto install = testenv::Run(
      {USBINK_CMAKE_COMMAND, "--install", USBINK_BUILD_DIR, "--prefix", prefix.path()}, {}, 60s);
  ASSERT_EQ(0, install.exitCode) << install.out << install.err;
  PrinterScript printer(DeviceIdLine(0x4B));
  std::vector<std::string> env = {cupsd_.ServerEnv(), "USBINK_STANDIN_PROBE=" + printer.path(),
                                  "LC_ALL=", "LC_MESSAGES=", "LANG=C.UTF-8", "LANGUAGE=de"};
  RunResult r = testenv::Run({prefix / "bin/usbink", "Laser"}, env, 60s);
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(ReportFor("Schwarze Druckkartusche", 75), r.out);
}

// Peers that accept and then hold the tool: the print server within 10 s,
// the system bus of a DNS-SD queue within 1 s on top of the 3 s wait. The
// runs go side by side, so the bounds overlap instead of adding up.
TEST_F(Usbink, HangingPeersEndWith255) {
  using testenv::StallPeer;
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  AddQueue("Service", "dnssd://Acme%20Laser._printer._tcp.local./");
  testenv::TempDir dir;
  StallPeer stalled(StallPeer::Mode::kSilent), trickling(StallPeer::Mode::kTrickle),
      bus(StallPeer::Mode::kSilent, dir / "bus");
  for (StallPeer* peer : {&stalled, &trickling, &bus}) ASSERT_TRUE(peer->Start(&why)) << why;
  const auto server = [](const StallPeer& p) {
    return "CUPS_SERVER=127.0.0.1:" + std::to_string(p.port());
  };
  const struct {
    const char* what;
    const StallPeer& peer;
    std::vector<std::string> env;
  } rows[] = {
      {"stalled print server", stalled, {server(stalled)}},
      {"trickling print server", trickling, {server(trickling)}},
      {"silent bus", bus, {cupsd_.ServerEnv(), "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (dir / "bus")}},
  };
  std::vector<std::future<RunResult>> runs;
  for (const auto& row : rows) {
    runs.push_back(std::async(std::launch::async, [&row] {
      return testenv::Run({kTool, "Service"}, row.env, 20s);
    }));
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    const RunResult r = runs[i].get();
    EXPECT_FALSE(r.timedOut) << rows[i].what;
    EXPECT_EQ(255, r.exitCode) << rows[i].what;
    EXPECT_EQ("", r.out) << rows[i].what;
    EXPECT_GE(rows[i].peer.accepted(), 1) << rows[i].what;
  }
}

TEST_F(Usbink, NoArgumentGivesUsage) {
  PrinterScript printer(DeviceIdLine(0x4B));
  RunResult r = Tool({}, printer);
  EXPECT_EQ(255, r.exitCode);
  EXPECT_EQ("", r.out);
  EXPECT_EQ("usage: usbink QUEUE\n", r.err);
}

TEST_F(Usbink, ReportThatCannotBeWrittenFails) {
  AddQueue("Laser", kUsbUri);
  for (const char* redirect : {">/dev/full", ">&-"}) {
    PrinterScript printer(DeviceIdLine(0x4B));
    RunResult r = testenv::Run(
        {"/bin/sh", "-c", std::string("exec \"$0\" \"$1\" ") + redirect, kTool, "Laser"},
        {cupsd_.ServerEnv(), "USBINK_STANDIN_PROBE=" + printer.path()}, 60s);
    EXPECT_EQ(255, r.exitCode) << redirect;
    EXPECT_TRUE(printer.ran()) << redirect;
  }
}

}  // namespace
