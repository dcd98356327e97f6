// usbink's pieces in process, supplyprobe on simulated USB printers, the tool end to end.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <future>
#include <thread>

#include "env/Cupsd.h"
#include "env/Lab.h"
#include "env/Snmpd.h"
#include "env/UsbPrinters.h"
#include "tests/netio/SnmpV3Peer.h"
#include "tool/probe.h"
#include "tool/report.h"
#include "tool/usb_path.h"

namespace {

using namespace std::chrono_literals;
const std::string kBin = USBINK_BIN_DIR, kBlack = "Black Print Cartridge";
const std::string kPeer = std::string(USBINK_SOURCE_DIR) + "/tests/env/holding-peer.py";
const std::string kId = "MFG:Acme;CMD:PCL,PJL;MDL:Laser 100;CLS:PRINTER;";
const std::string kModel = "usb://Acme/Laser%20100", kUri = kModel + "?serial=A1B2C3";

// Plays the printer behind supplyprobe: records its arguments ("ARGC|ARG1|ARG2|") and PID,
// writes `output`, then runs `tail`.
struct PrinterScript {
  explicit PrinterScript(const std::string& output, const std::string& tail = "") {
    testenv::WriteFile(dir / "output", output);
    testenv::WriteFile(path,
                       "#!/bin/sh\nd='" + dir.path() +
                           "'\necho $$ >\"$d/pid\"\nprintf '%s|' $# \"$@\" >\"$d/args\"\n" +
                           "cat \"$d/output\"\n" + tail + "\n",
                       0755);
  }
  testenv::TempDir dir;
  const std::string path = dir / "printer";
};

std::string ReportFor(const std::string& description, int level) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <!DOCTYPE plist PUBLIC \"-//Apple Computer"
         "//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"><plist version="
         "\"1.0\"><dict><key>prtMarkerSuppliesTable</key><array><dict><key>prtMarkerSuppliesClass"
         "</key><integer>3</integer><key>prtMarkerSuppliesDescription</key><string>" +
         description + "</string><key>prtMarkerSuppliesLevel</key><integer>" +
         std::to_string(level) +
         "</integer><key>prtMarkerSuppliesMaxCapacity</key><integer>100</integer><key>prtMarkerSRGB"
         "Representation</key><array><integer>00</integer><integer>00</integer><integer>00"
         "</integer></array><key>prtMarkerSuppliesSupplyUnit</key><integer>19</integer><key>"
         "prtMarkerSuppliesType</key><integer>3</integer><key>prtMarkerPartNumber</key><string> "
         "</string></dict></array></dict></plist>";
}

TEST(Report, ExactBytesAndEscapes) {
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  EXPECT_TRUE(WriteSupplyReport(f, "\"Ink\" & 'n' <toner>", 0xCB));  // bit 7 is not the level's
  fclose(f);
  EXPECT_EQ(ReportFor("&quot;Ink&quot; &amp; &apos;n&apos; &lt;toner&gt;", 75),
            std::string(text, size));
  free(text);
}

// Queue and URI reach the probe verbatim, never a shell; a probe past the bound is killed; every
// one is reaped. A record comes only from a command line ("P Q U") that fits 255 characters.
TEST(Probe, ArgumentsVerbatimNoShellReapedAndBounded) {
  testenv::TempDir cwd;
  ASSERT_EQ(0, chdir(cwd.path().c_str()));
  const struct {
    const char *queue, *uri;
    std::string output, line, tail = "";
    ProbeResult result = ProbeResult::kLine;
  } rows[] = {
      {"a b$(touch pwned1);`touch pwned2`", "q|touch pwned3;x&&touch pwned4 >pwned5",
       "first\nsecond\n", "first\n"},
      {"Q", "usb://x", "first\n", "", "exec sleep 600", ProbeResult::kTimedOut},
  };
  for (const auto& row : rows) {
    PrinterScript printer(row.output, row.tail);
    char line[kProbeLineMax + 1];
    // A probe left running would hold the test: past 10 s it is ended here, and the row fails.
    std::atomic<bool> done{false}, ended{false};
    std::thread watchdog([&] {
      for (int i = 0; i < 1000 && !done; ++i) std::this_thread::sleep_for(10ms);
      const pid_t probe = std::stoi("0" + testenv::ReadFile(printer.dir / "pid"));
      if (!done && probe > 0) ended = kill(probe, SIGKILL) == 0;
    });
    EXPECT_EQ(row.result, RunProbe(printer.path.c_str(), row.queue, row.uri, 2s, line)) << row.tail;
    done = true;
    watchdog.join();
    EXPECT_FALSE(ended) << "the probe outlived its bound: " << row.tail;
    EXPECT_EQ("2|" + std::string(row.queue) + "|" + row.uri + "|",
              testenv::ReadFile(printer.dir / "args"));
    EXPECT_TRUE(row.result != ProbeResult::kLine || row.line == line) << row.queue << ": " << line;
    const pid_t pid = std::stoi("0" + testenv::ReadFile(printer.dir / "pid"));
    const bool reaped = pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
    EXPECT_TRUE(reaped) << row.tail;
    if (!reaped && pid > 0) kill(pid, SIGKILL);  // a stray probe would hold the test's output
  }
  for (const auto& entry : std::filesystem::directory_iterator(cwd.path()))
    ADD_FAILURE() << "a shell ran: " << entry.path();
  PRINTER_STATUS status{};
  PrinterScript printer(testenv::DeviceIdWithLevel(0xCB) + "\n");
  const std::string room(255 - printer.path.size() - 3, 'u');
  EXPECT_EQ(-1, RunUsbPath(printer.path.c_str(), "Q", (room + "u").c_str(), &status));
  EXPECT_EQ(0, RunUsbPath(printer.path.c_str(), "Q", room.c_str(), &status));
  EXPECT_EQ(0xCB, status.blackLevel);
}

// Root passes any file mode; without CAP_DAC_OVERRIDE it does not.
TEST(Supplyprobe, FindsAndReads) {
  std::string why, setpriv = testenv::FindProgram("setpriv");
  REQUIRE_ENV(testenv::UsbPrinters::Available(&why), why);
  const testenv::UsbPrinterTraits one{testenv::DeviceIdReply(kId)},
      two{testenv::DeviceIdReply(kId + "SN:2;"), "Z9"};
  const struct {
    std::vector<testenv::UsbPrinterTraits> printers;
    int status;
    std::string out;
    bool locked = false;  // the node's mode 0, for a prober without CAP_DAC_OVERRIDE
  } rows[] = {
      // Between printers of one model the serial decides.
      {{two, one}, 0, kId + "\n"},
      {{one}, 3, "", true},
      // Some printers send the length that counts itself little-endian.
      {{{std::string{char(kId.size() + 2), 0} + kId}}, 0, kId + "\n"},
  };
  for (const auto& row : rows) {
    testenv::UsbPrinters usb;
    std::vector<std::string> nodes, argv = {kBin + "/supplyprobe", "Q", kUri};
    for (const auto& traits : row.printers) nodes.push_back(usb.Add(traits));
    if (row.locked && geteuid() == 0)
      argv.insert(argv.begin(),
                  {setpriv, "--bounding-set", "-dac_override,-dac_read_search", "--"});
    ASSERT_TRUE(!row.locked || chmod((usb.Root() + nodes[0]).c_str(), 0) == 0);
    const testenv::RunResult r = testenv::Run(argv, usb.Env(), std::chrono::seconds(30));
    EXPECT_EQ(row.status, r.exitCode) << r.err;
    EXPECT_EQ(row.out, r.out);
  }
}

struct Row {
  std::string queue, uri;        // a queue added to cupsd unless `uri` is ""
  std::vector<std::string> env;  // before the test's: the first of a name wins
  int exitCode;
  std::string out;
};

class Usbink : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ENV(USBINK_STANDIN_READY,
                "SUPPLYPROBE_PATH lies outside the build tree (see scripts/test.sh)");
    std::string why;
    REQUIRE_ENV(cupsd_.Start(&why), why);
  }
  void RunRows(const std::vector<Row>& rows) {
    std::string why;
    for (const Row& row : rows)
      EXPECT_TRUE(row.uri.empty() || cupsd_.AddQueue(row.queue, row.uri, &why)) << why;
    std::vector<std::future<testenv::RunResult>> runs;
    for (const Row& row : rows) {
      std::vector<std::string> argv = {kBin + "/usbink", row.queue}, env = row.env;
      env.insert(env.end(),
                 {cupsd_.ServerEnv(), "LC_ALL=", "LC_MESSAGES=", "LANG=C.UTF-8", "LANGUAGE="});
      runs.push_back(
          std::async(std::launch::async, [argv, env] { return testenv::Run(argv, env, 60s); }));
    }
    for (size_t i = 0; i < rows.size(); ++i) {
      const testenv::RunResult r = runs[i].get();
      EXPECT_EQ(rows[i].exitCode, r.exitCode) << rows[i].queue << ": " << r.err;
      EXPECT_EQ(rows[i].out, r.out) << rows[i].queue;
    }
  }
  testenv::Cupsd cupsd_;
};

// The real probe reads the printer its queue names; the description follows the language.
TEST_F(Usbink, UsbQueues) {
  std::string why;
  REQUIRE_ENV(testenv::UsbPrinters::Available(&why), why);
  testenv::UsbPrinters usb;
  usb.Add({testenv::DeviceIdReply(testenv::DeviceIdWithLevel(0xCB))});
  std::vector<std::string> env = usb.Env();
  env.insert(env.begin(), {"USBINK_STANDIN_PROBE=" + kBin + "/supplyprobe", "LANGUAGE=fr_CA:de"});
  RunRows(
      {{"Real", "USB" + kUri.substr(3), env, 0, ReportFor("Cartouche d’impression noire", 75)}});
}

// Lab node N is 10.208.0.N, fd00:208::N. Bounds that once failed: a print server that accepts
// and holds the tool, silent or trickling a header, and a DNS-SD queue's silent bus.
TEST_F(Usbink, NetworkQueuesAgainstSnmpd) {
  std::string why, python = testenv::FindProgram("python3");
  REQUIRE_ENV(testenv::Lab::Available(&why) && testenv::Snmpd::Available(&why), why);
  REQUIRE_ENV(testenv::Lab::AvahiAvailable(&why) && !python.empty(), why + "python3");
  testenv::TempDir dir;
  ASSERT_TRUE(testenv::UsePrivateHosts(dir, "10.208.0.4 dual.test\nfd00:208::2 dual.test\n", &why))
      << why;
  testenv::Lab lab;
  testenv::NodeOptions linkLocalOnly;
  linkLocalOnly.ipv4 = linkLocalOnly.ipv6Global = false;
  std::vector<testenv::LabNode*> nodes;
  for (const char* name : {"client", "v1", "v3", "link"})
    nodes.push_back(lab.AddNode(
        name, name == std::string("link") ? linkLocalOnly : testenv::NodeOptions{}, &why));
  ASSERT_TRUE(nodes[0] && nodes[1] && nodes[2] && nodes[3]) << why;
  ASSERT_TRUE(lab.StartAvahi(*nodes[0], &why) && lab.StartAvahi(*nodes[1], &why)) << why;
  std::vector<std::unique_ptr<testenv::Snmpd>> agents;
  for (const auto& [node, level] :
       {std::pair{nodes[1], 0x4B}, {nodes[2], 0x9C}, {nodes[3], 0x22}}) {
    testenv::SnmpdConfig config;
    config.v1 = node == nodes[1];
    config.deviceId = testenv::DeviceIdWithLevel(static_cast<uint8_t>(level));
    config.engineIdHex = "80000B930300000000000000";
    config.users = {testnetio::Configured()};
    agents.push_back(std::make_unique<testenv::Snmpd>(config));
    ASSERT_TRUE(lab.Enter(*node, &why) && agents.back()->Start(&why)) << node->name << ": " << why;
  }
  ASSERT_TRUE(lab.WaitReady(&why)) << why;
  lab.PublishAddress(*nodes[1], "link.local", nodes[3]->linkLocal);
  lab.PublishService(*nodes[1], "Link Laser", "_printer._tcp", 515, "link.local");
  ASSERT_TRUE(lab.WaitReady(&why) && lab.Enter(*nodes[0], &why)) << why;
  lab.UseBusOf(*nodes[0]);
  std::vector<std::unique_ptr<testenv::Process>> peers;
  for (const std::string at : {"8631", "8632", "bus"}) {
    peers.push_back(std::make_unique<testenv::Process>(
        std::vector<std::string>{python, kPeer, at == "bus" ? dir / "bus" : at},
        std::vector<std::string>{}, dir / (at + ".log")));
    ASSERT_TRUE(peers.back()->WaitForLog("ready", 10s)) << peers.back()->Log();
  }
  RunRows({{"V4", "socket://10.208.0.2:9100", {}, 0, ReportFor(kBlack, 75)},
           {"V6", "LPD://[fd00:208::2]/queue", {}, 0, ReportFor(kBlack, 75)},
           {"V3", "ipp://10.208.0.3/ipp/print", {}, 0, ReportFor(kBlack, 0x1C)},
           {"Dual", "socket://dual.test:9100", {}, 0, ReportFor(kBlack, 75)},
           {"Link", "MDNS://Link%20Laser._printer._tcp.local.", {}, 0, ReportFor(kBlack, 0x22)},
           {"Service",
            "dnssd://Acme%20Laser._printer._tcp.local./",
            {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + dir / "bus"},
            255,
            ""},
           {"Service", "", {"CUPS_SERVER=127.0.0.1:8631"}, 255, ""},
           {"Service", "", {"CUPS_SERVER=127.0.0.1:8632"}, 255, ""}});
  for (const auto& peer : peers)
    EXPECT_NE(std::string::npos, peer->Log().find("accepted")) << peer->Log();
}

}  // namespace
