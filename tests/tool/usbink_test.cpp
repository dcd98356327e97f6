// usbink end to end: a private cupsd holds the queues, and the stand-in at
// the configured supplyprobe path runs the script that plays the printer.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
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

TEST_F(Usbink, ReportsTheLevelOfTheRecordsFirstByte) {
  AddQueue("Laser", kUsbUri);
  const struct {
    unsigned char byte;
    int level;
  } cases[] = {{0x4B, 75}, {0xE4, 100}, {0xFF, 127}, {0x00, 0}};
  for (const auto& c : cases) {
    PrinterScript printer(DeviceIdLine(c.byte));
    RunResult r = Tool({"Laser"}, printer);
    EXPECT_EQ(0, r.exitCode) << int(c.byte);
    EXPECT_EQ(ReportFor("Black Print Cartridge", c.level), r.out) << int(c.byte);
    EXPECT_EQ("Laser", printer.arg(1));
    EXPECT_EQ(kUsbUri, printer.arg(2));
  }
}

TEST_F(Usbink, ReportParsesAsPropertyList) {
  std::string python = testenv::FindProgram("python3");
  REQUIRE_ENV(!python.empty(), "python3 is not installed");
  AddQueue("Laser", kUsbUri);
  PrinterScript printer(DeviceIdLine(0x4B));
  RunResult r = Tool({"Laser"}, printer);
  ASSERT_EQ(0, r.exitCode);
  auto parsed = testenv::Run(
      {python, "-c",
       "import plistlib, sys\n"
       "row = plistlib.loads(sys.stdin.buffer.read())['prtMarkerSuppliesTable'][0]\n"
       "print(row['prtMarkerSuppliesDescription'], row['prtMarkerSuppliesLevel'],"
       " row['prtMarkerSuppliesMaxCapacity'], row['prtMarkerSuppliesType'])\n"},
      {}, 30s, r.out);
  ASSERT_EQ(0, parsed.exitCode) << parsed.err;
  EXPECT_EQ("Black Print Cartridge 75 100 3\n", parsed.out);
}

TEST_F(Usbink, LinesThatDoNotDecodeGiveNoReport) {
  AddQueue("Laser", kUsbUri);
  const std::string full = DeviceIdLine(0x4B);
  const struct {
    const char* name;
    std::string output;
  } cases[] = {
      {"short line", "MFG:Acme;STS:" + full.substr(full.find("STS:") + 4, 100) + ";\n"},
      {"no STS key", "MFG:Acme;CMD:PCL;MDL:Laser 100;" + std::string(150, 'A') + ";\n"},
      {"key after the field", full.substr(0, full.size() - 1) + "MDL:Laser;\n"},
      {"nothing at all", ""},
  };
  for (const auto& c : cases) {
    PrinterScript printer(c.output);
    RunResult r = Tool({"Laser"}, printer);
    EXPECT_EQ(255, r.exitCode) << c.name;
    EXPECT_EQ("", r.out) << c.name;
    EXPECT_TRUE(printer.ran()) << c.name;
  }
}

TEST_F(Usbink, ProbeThatCannotRunGivesNoReport) {
  AddQueue("Laser", kUsbUri);
  PrinterScript printer(DeviceIdLine(0x4B));
  ASSERT_EQ(0, chmod(printer.path().c_str(), 0644));
  RunResult r = Tool({"Laser"}, printer);
  EXPECT_EQ(255, r.exitCode);
  EXPECT_EQ("", r.out);
}

TEST_F(Usbink, UnknownQueueGivesNoReport) {
  AddQueue("Laser", kUsbUri);
  PrinterScript printer(DeviceIdLine(0x4B));
  RunResult r = Tool({"NoSuchQueue"}, printer);
  EXPECT_EQ(255, r.exitCode);
  EXPECT_EQ("", r.out);
  EXPECT_FALSE(printer.ran());
}

// CUPS refuses blanks, quotes, "#", "/" and "?" in names; the probe tests
// cover those on the spawning code.
TEST_F(Usbink, ShellMetacharactersReachTheProbeVerbatim) {
  testenv::TempDir cwd;
  ASSERT_EQ(0, chdir(cwd.path().c_str()));
  const std::string queue = "q;touch${IFS}pwned1;$(touch${IFS}pwned2){a,b}`touch${IFS}pwned3`&|<>";
  const std::string uri = "usb://Acme/Laser?serial=1;touch${IFS}pwned4";
  AddQueue(queue, uri);
  PrinterScript printer(DeviceIdLine(0x4B));
  RunResult r = Tool({queue}, printer);
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(ReportFor("Black Print Cartridge", 75), r.out);
  EXPECT_EQ("2\n", printer.argc());
  EXPECT_EQ(queue, printer.arg(1));
  EXPECT_EQ(uri, printer.arg(2));
  for (const auto& entry : std::filesystem::directory_iterator(cwd.path()))
    ADD_FAILURE() << "a shell ran: " << entry.path();
}

TEST_F(Usbink, DescriptionFollowsTheLanguage) {
  AddQueue("Laser", kUsbUri);
  const struct {
    const char* language;
    const char* description;
  } cases[] = {
      {"de", "Schwarze Druckkartusche"},
      {"fr", "Cartouche d’impression noire"},
      {"fr_CA:de", "Cartouche d’impression noire"},
      {"it", "Black Print Cartridge"},
      {"", "Black Print Cartridge"},
  };
  for (const auto& c : cases) {
    PrinterScript printer(DeviceIdLine(0x4B));
    RunResult r = Tool({"Laser"}, printer,
                       {"LANG=C.UTF-8", std::string("LANGUAGE=") + c.language});
    EXPECT_EQ(0, r.exitCode) << c.language;
    EXPECT_EQ(ReportFor(c.description, 75), r.out) << c.language;
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

TEST_F(Usbink, SchemeTestIgnoresCase) {
  AddQueue("Upper", "USB://Acme/Laser");
  PrinterScript printer(DeviceIdLine(0x4B));
  RunResult r = Tool({"Upper"}, printer);
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("USB://Acme/Laser", printer.arg(2));
}

// Network URIs take the network branch, never the probe; with no address to
// ask, the run ends with 1. The private namespace keeps the name lookup local.
TEST_F(Usbink, NetworkUriWithoutAddressEndsWithOne) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  AddQueue("Unresolved", "IPP://printer.invalid/printers/x");
  AddQueue("Web", "http://127.0.0.1/x");
  for (const char* queue : {"Unresolved", "Web"}) {
    PrinterScript printer(DeviceIdLine(0x4B));
    RunResult r = Tool({queue}, printer);
    EXPECT_EQ(1, r.exitCode) << queue;
    EXPECT_EQ("", r.out) << queue;
    EXPECT_FALSE(printer.ran()) << queue;
  }
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

// The probe's command line "PATH QUEUE URI" is held to 255 characters.
TEST_F(Usbink, CommandLineLimitIsKept) {
  const std::string queue = "Long";
  const std::string prefix = "usb://Acme/Laser?serial=";
  size_t room = 255 - std::string(SUPPLYPROBE_PATH).size() - 1 - queue.size() - 1;
  ASSERT_GT(room, prefix.size());
  for (size_t extra : {0, 1}) {
    std::string uri = prefix + std::string(room - prefix.size() + extra, '7');
    AddQueue(queue, uri);
    PrinterScript printer(DeviceIdLine(0x4B));
    RunResult r = Tool({queue}, printer);
    EXPECT_EQ(extra ? 255 : 0, r.exitCode) << uri.size();
    EXPECT_EQ(extra == 0, printer.ran()) << uri.size();
  }
}

TEST_F(Usbink, ArgumentsBeyondTheFirstAreIgnored) {
  AddQueue("Laser", kUsbUri);
  PrinterScript printer(DeviceIdLine(0x4B));
  RunResult r = Tool({"Laser", "Other", "--help"}, printer);
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(ReportFor("Black Print Cartridge", 75), r.out);
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

// The one test that waits out the tool's full 30-second bound.
TEST_F(Usbink, HangingProbeIsKilledWithinTheBound) {
  AddQueue("Laser", kUsbUri);
  PrinterScript printer("", "exec sleep 600");
  RunResult r = Tool({"Laser"}, printer, {}, 45s);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(255, r.exitCode);
  EXPECT_EQ("", r.out);
  int pid = printer.pid();
  EXPECT_TRUE(pid > 0 && kill(pid, 0) != 0 && errno == ESRCH);
}

}  // namespace
