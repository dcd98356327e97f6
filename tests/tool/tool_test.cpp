// usbink's pieces in process, and the tool end to end once per device-URI family
// (usb through the stand-in at the probe path; socket/ipp/lpd/DNS-SD against snmpd).
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <future>

#include "env/Cupsd.h"
#include "env/Lab.h"
#include "env/Snmpd.h"
#include "env/UsbPrinters.h"
#include "netio/SnmpV3.h"
#include "tool/address.h"
#include "tool/probe.h"
#include "tool/report.h"
#include "tool/usb_path.h"

namespace {

using namespace std::chrono_literals;
using testenv::RunResult;
using Pairs = std::vector<std::pair<std::string, std::string>>;  // (tag, text), sorted
const std::string kBin = USBINK_BIN_DIR, kBlack = "Black Print Cartridge";
const std::string kPeer = std::string(USBINK_SOURCE_DIR) + "/tests/env/holding-peer.py";

// A shell script that plays the printer behind supplyprobe: it records its
// arguments ("ARGC|ARG1|ARG2|") and PID beside itself, writes `output`, then runs `tail`.
struct PrinterScript {
  explicit PrinterScript(const std::string& output, const std::string& tail = "") {
    testenv::WriteFile(dir / "output", output);
    testenv::WriteFile(path,
                       "#!/bin/sh\nd='" + dir.path() +
                           "'\necho $$ >\"$d/pid\"\nprintf '%s|' $# \"$@\" >\"$d/args\"\n" +
                           "cat \"$d/output\"\n" + tail + "\n",
                       0755);
  }
  std::string args() const { return testenv::ReadFile(dir / "args"); }
  testenv::TempDir dir;
  const std::string path = dir / "printer";
};

std::string DeviceIdLine(uint8_t level) { return testenv::DeviceIdWithLevel(level) + "\n"; }

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

// The tool's address list for a device URI.
struct ResolveRow {
  const char* uri;
  Pairs expected;
};

Pairs Resolve(const char* uri) {
  getAddressFromURL(uri);
  EXPECT_EQ(mDNSIP.size(), mDNSType.size());
  Pairs out;
  for (size_t i = 0; i < std::min(mDNSIP.size(), mDNSType.size()); ++i)
    out.emplace_back(mDNSType[i], mDNSIP[i]);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Report, ExactBytesAndWriteErrors) {
  const struct {
    const char* description;
    unsigned char byte;  // bit 7 is not part of the level
    const char* written;
    int level;
  } rows[] = {
      {"Black Print Cartridge", 0x4B, "Black Print Cartridge", 75},
      {"x", 0xCB, "x", 75},
      {"x", 0xFF, "x", 127},
      {"x", 0x80, "x", 0},
      {"Noir & <blanc>", 0, "Noir &amp; &lt;blanc&gt;", 0},
      {"\"Ink\" 'n' toner", 0, "&quot;Ink&quot; &apos;n&apos; toner", 0},
      {"&amp;", 0, "&amp;amp;", 0},
  };
  for (const auto& row : rows) {
    char* text = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    EXPECT_TRUE(WriteSupplyReport(f, row.description, row.byte));
    fclose(f);
    EXPECT_EQ(ReportFor(row.written, row.level), std::string(text, size)) << row.description;
    free(text);
  }
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(nullptr, full);
  EXPECT_FALSE(WriteSupplyReport(full, "x", 75));
  fclose(full);
}

// Queue names the print system refuses can still come from elsewhere: none may
// reach a shell. The line is the first one, up to 2048 characters. A probe
// that never writes, or never ends after its line, is killed at the bound; one
// that keeps writing ends with the pipe; every one is reaped.
TEST(Probe, ArgumentsVerbatimFirstLineAndEveryProbeReaped) {
  testenv::TempDir cwd;
  ASSERT_EQ(0, chdir(cwd.path().c_str()));
  const struct {
    const char *queue, *uri;
    std::string output, line, tail = "";
    ProbeResult result = ProbeResult::kLine;
  } rows[] = {
      {"a b", "usb://Acme/Laser 100?serial=1", "first\nsecond\n", "first\n"},
      {"it's \"hi\"", "usb://Acme/Laser#frag", "", ""},
      {"$(touch pwned1)", "`touch pwned2`", "no newline", "no newline"},
      {"q|touch pwned3;x", "q&&touch pwned4 >pwned5", std::string(3000, 'x') + "\n",
       std::string(2048, 'x')},
      {"q;touch${IFS}pwned6{a,b}<>", "*", std::string(2047, 'x') + "\nmore",
       std::string(2047, 'x') + "\n"},
      {"line\nbreak", "--", "", "y\n", "exec yes"},
      {"Q", "usb://x", "", "", "exec sleep 600", ProbeResult::kTimedOut},
      {"Q", "usb://x", DeviceIdLine(75), "", "exec sleep 600", ProbeResult::kTimedOut},
  };
  for (const auto& row : rows) {
    PrinterScript printer(row.output, row.tail);
    char line[kProbeLineMax + 1];
    ASSERT_EQ(row.result, RunProbe(printer.path.c_str(), row.queue, row.uri, 2s, line)) << row.tail;
    EXPECT_EQ("2|" + std::string(row.queue) + "|" + row.uri + "|", printer.args());
    EXPECT_TRUE(row.result != ProbeResult::kLine || row.line == line) << row.queue << ": " << line;
    EXPECT_TRUE(kill(std::stoi("0" + testenv::ReadFile(printer.dir / "pid")), 0) != 0 &&
                errno == ESRCH)
        << row.tail;
  }
  for (const auto& entry : std::filesystem::directory_iterator(cwd.path()))
    ADD_FAILURE() << "a shell ran: " << entry.path();
}

// A record only from a line that decodes, a command line ("P Q U") that
// fits 255 characters, and a program that runs.
TEST(UsbPath, RecordOnlyFromAProbeLineThatDecodes) {
  const std::string full = DeviceIdLine(0xCB), field = full.substr(full.find("STS:") + 4, 144);
  EXPECT_FALSE(ProbeLineLongEnough(std::string(126, 'x').c_str()));
  EXPECT_TRUE(ProbeLineLongEnough(std::string(127, 'x').c_str()));
  for (const std::string& output :
       {"MFG:Acme;STS:" + field.substr(0, 100) + ";\n",
        full.substr(0, full.size() - 1) + "MDL:x;\n",
        "MFG:Acme;CMD:PCL;MDL:Laser 100;" + std::string(150, 'A') + ";\n", std::string()}) {
    PrinterScript printer(output);
    PRINTER_STATUS status{};
    EXPECT_EQ(-1, RunUsbPath(printer.path.c_str(), "Q", "usb://x", &status)) << output;
  }
  PrinterScript printer(full);
  const std::string room(255 - printer.path.size() - 3, 'u');
  PRINTER_STATUS status{};
  EXPECT_EQ(-1, RunUsbPath(printer.path.c_str(), "Q", (room + "u").c_str(), &status));
  EXPECT_EQ("", printer.args());
  EXPECT_EQ(0, RunUsbPath(printer.path.c_str(), "Q", room.c_str(), &status));
  EXPECT_EQ(0xCB, status.blackLevel);
  char line[kProbeLineMax + 1];
  for (const char* path : {"/nonexistent", "/", ""})
    EXPECT_EQ(ProbeResult::kNotStarted, RunProbe(path, "Q", "usb://x", 5s, line)) << path;
}

// Numeric hosts never reach a name service; each call replaces the last list.
TEST(Address, NumericHostsAndNoBus) {
  const ResolveRow rows[] = {
      {"socket://127.0.0.1:9100", {{"IPv4", "127.0.0.1"}}},
      {"SOCKET://192.0.2.9", {{"IPv4", "192.0.2.9"}}},
      {"IPP://[::1]/ipp/print", {{"IPv6", "::1"}}},
      {"lpd://[2001:DB8:0:0::7]/queue", {{"IPv6", "2001:db8::7"}}},
      // Only a link-local address keeps its zone: Linux cannot send without it.
      {"ipp://[fe80::1%25lo]:631/", {{"IPv6", "fe80::1%lo"}}},
      {"https://[::1]/", {}},
      {"ipps://127.0.0.1/", {}},
      {"usb://Acme/Laser", {}},
      {"socket://", {}},
      {"ipp://127.0.0.1:notaport/", {}},
      {"", {}},
      {"dnssd://Acme%20Laser._printer._tcp.local./", {}},
  };
  testenv::TempDir dir;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (dir / "no-bus")).c_str(), 1);
  for (const auto& row : rows) EXPECT_EQ(Resolve(row.uri), row.expected) << row.uri;
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
    std::vector<std::future<RunResult>> runs;
    for (const Row& row : rows) {
      std::vector<std::string> argv = {kBin + "/usbink", row.queue}, env = row.env;
      if (row.queue.empty()) argv.pop_back();
      env.insert(env.end(),
                 {cupsd_.ServerEnv(), "LC_ALL=", "LC_MESSAGES=", "LANG=C.UTF-8", "LANGUAGE="});
      runs.push_back(
          std::async(std::launch::async, [argv, env] { return testenv::Run(argv, env, 60s); }));
    }
    for (size_t i = 0; i < rows.size(); ++i) {
      const RunResult r = runs[i].get();
      EXPECT_EQ(rows[i].exitCode, r.exitCode) << rows[i].queue << ": " << r.err;
      EXPECT_EQ(rows[i].out, r.out) << rows[i].queue;
    }
  }
  testenv::Cupsd cupsd_;
};

// The probe gets the queue and its URI; the description follows the language.
// The real probe reads the printer `supplyprobe --list` named for a queue.
TEST_F(Usbink, UsbQueues) {
  std::string why;
  REQUIRE_ENV(testenv::UsbPrinters::Available(&why), why);
  testenv::UsbPrinters usb;
  for (const auto& [serial, level] : {std::pair{"OTHER", 0x10}, {"A1B2C3", 0xCB}})
    usb.Add({"Acme", "Laser 100", serial, true, 0,
             testenv::DeviceIdReply(testenv::DeviceIdWithLevel(static_cast<uint8_t>(level)))});
  const RunResult list = testenv::Run({kBin + "/supplyprobe", "--list"}, usb.Env(), 30s);
  const size_t end = list.out.find("?serial=A1B2C3\t"), start = list.out.rfind('\n', end) + 1;
  ASSERT_NE(std::string::npos, end) << list.out << list.err;
  const std::string uri = "usb://Acme/Laser%20100?serial=A1B2C3", upperUri = "USB://Acme/Laser";
  PrinterScript laser(DeviceIdLine(0x4B)), upper(DeviceIdLine(0xE4));
  const auto probe = [](const std::string& path) { return "USBINK_STANDIN_PROBE=" + path; };
  std::vector<std::string> real = usb.Env();
  real.push_back(probe(kBin + "/supplyprobe"));
  const std::string viaLaser = probe(laser.path), de = "Schwarze Druckkartusche",
                    fr = "Cartouche d’impression noire";
  RunRows({{"Laser", uri, {viaLaser}, 0, ReportFor(kBlack, 75)},
           {"Upper", upperUri, {probe(upper.path), "LANGUAGE=de"}, 0, ReportFor(de, 100)},
           {"Laser", "", {viaLaser, "LANGUAGE=fr_CA:de"}, 0, ReportFor(fr, 75)},
           {"NoSuchQueue", "", {viaLaser}, 255, ""},
           {"", "", {viaLaser}, 255, ""},
           {"Real", list.out.substr(start, end + 14 - start), real, 0, ReportFor(kBlack, 75)}});
  EXPECT_EQ("2|Laser|" + uri + "|", laser.args());
  EXPECT_EQ("2|Upper|" + upperUri + "|", upper.args());
}

// Bounds that once failed: a print server that accepts and then holds the
// tool (within 10 s), silent or trickling a header, and a DNS-SD queue's silent bus.
TEST_F(Usbink, HangingPeersEndWith255) {
  std::string why, python = testenv::FindProgram("python3");
  REQUIRE_ENV(testenv::IsolateNetwork(&why) && !python.empty(), why + "python3");
  testenv::TempDir dir;
  std::vector<std::unique_ptr<testenv::Process>> peers;
  for (const std::string at : {"8631", "8632", "bus"}) {
    peers.push_back(std::make_unique<testenv::Process>(
        std::vector<std::string>{python, kPeer, at == "bus" ? dir / "bus" : at},
        std::vector<std::string>{}, dir / (at + ".log")));
    ASSERT_TRUE(peers.back()->WaitForLog("ready", 10s)) << peers.back()->Log();
  }
  const std::string bus = "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (dir / "bus");
  RunRows({{"Service", "dnssd://Acme%20Laser._printer._tcp.local./", {bus}, 255, ""},
           {"Service", "", {"CUPS_SERVER=127.0.0.1:8631"}, 255, ""},
           {"Service", "", {"CUPS_SERVER=127.0.0.1:8632"}, 255, ""}});
  for (const auto& peer : peers)
    EXPECT_NE(std::string::npos, peer->Log().find("accepted")) << peer->Log();
}

// Printers as net-snmp agents on lab nodes (node N is 10.208.0.N, fd00:208::N):
// SNMPv1 over both families, SNMPv3, a link-local printer found through Avahi,
// a name that does not resolve, a node without an agent. Then the addresses
// of device URIs in this process, on the client's bus: names from a private
// hosts file (IPv6 first, one address only), services through Avahi.
TEST_F(Usbink, NetworkQueuesAgainstSnmpd) {
  std::string why;
  REQUIRE_ENV(testenv::Lab::Available(&why) && testenv::Snmpd::Available(&why), why);
  REQUIRE_ENV(testenv::Lab::AvahiAvailable(&why), why);
  testenv::TempDir hosts;
  ASSERT_TRUE(testenv::UsePrivateHosts(
      hosts, "10.1.2.3 dual.test\nfd00:1::5 dual.test\n10.1.2.4 v4.test\n", &why))
      << why;
  testenv::Lab lab;
  testenv::NodeOptions linkLocalOnly;
  linkLocalOnly.ipv4 = linkLocalOnly.ipv6Global = false;
  std::vector<testenv::LabNode*> nodes;
  for (const char* name : {"client", "v1", "v3", "silent", "link"})
    nodes.push_back(lab.AddNode(
        name, name == std::string("link") ? linkLocalOnly : testenv::NodeOptions{}, &why));
  ASSERT_TRUE(nodes[0] && nodes[1] && nodes[2] && nodes[3] && nodes[4]) << why;
  ASSERT_TRUE(lab.StartAvahi(*nodes[0], &why) && lab.StartAvahi(*nodes[1], &why)) << why;
  _SNMP_PARAM_V3 params{};
  SnmpV3FillCredentials(&params);
  std::vector<std::unique_ptr<testenv::Snmpd>> agents;
  for (const auto& [node, level] :
       {std::pair{nodes[1], 0x4B}, {nodes[2], 0x9C}, {nodes[4], 0x22}}) {
    testenv::SnmpdConfig config;
    config.v1 = node == nodes[1];
    config.deviceId = testenv::DeviceIdWithLevel(static_cast<uint8_t>(level));
    config.engineIdHex = "80000B930300000000000000";
    config.users = {{params.userName, params.authPassword, params.privPassword}};
    agents.push_back(std::make_unique<testenv::Snmpd>(config));
    ASSERT_TRUE(lab.Enter(*node, &why) && agents.back()->Start(&why)) << node->name << ": " << why;
  }
  ASSERT_TRUE(lab.WaitReady(&why)) << why;
  lab.PublishAddress(*nodes[1], "link.local", nodes[4]->linkLocal);
  lab.PublishService(*nodes[1], "Link Laser", "_printer._tcp", 515, "link.local");
  lab.PublishService(*nodes[1], "Acme Laser", "_printer._tcp", 515);
  lab.PublishAddress(*nodes[1], "v4.local", nodes[1]->ipv4);
  lab.PublishService(*nodes[1], "V4 Laser", "_printer._tcp", 515, "v4.local");
  ASSERT_TRUE(lab.WaitReady(&why) && lab.Enter(*nodes[0], &why)) << why;
  lab.UseBusOf(*nodes[0]);
  RunRows({{"V4", "socket://10.208.0.2:9100", {}, 0, ReportFor(kBlack, 75)},
           {"V6", "LPD://[fd00:208::2]/queue", {}, 0, ReportFor(kBlack, 75)},
           {"V3", "ipp://10.208.0.3/ipp/print", {}, 0, ReportFor(kBlack, 0x1C)},
           {"Unresolved", "ipp://nothing.invalid/", {}, 1, ""},
           {"Silent", "lpd://[fd00:208::4]/", {}, 255, ""},
           {"Link", "MDNS://Link%20Laser._printer._tcp.local.", {}, 0, ReportFor(kBlack, 0x22)},
           {"Missing", "dnssd://Missing%20Laser._printer._tcp.local./", {}, 1, ""}});
  const Pairs both = {{"IPv4", nodes[1]->ipv4}, {"IPv6", nodes[1]->ipv6}};
  const ResolveRow rows[] = {
      {"IPP://Dual.Test:631/", {{"IPv6", "fd00:1::5"}}},
      {"socket://v4.test:9100", {{"IPv4", "10.1.2.4"}}},
      {"dnssd://Acme%20Laser._printer._tcp.local./?uuid=1", both},
      // The URI's type and domain are not looked at; a host without "." is the instance.
      {"mdns://Acme%20Laser._pdl-datastream._tcp.example.com./", both},
      {"MDNS://Acme%20Laser", both},
      {"dnssd://V4%20Laser._printer._tcp.local./", {{"IPv4", nodes[1]->ipv4}}},
      {"mdns://Link%20Laser._printer._tcp.local.",
       {{"IPv6", nodes[4]->linkLocal + "%" + nodes[0]->ifname}}},
  };
  for (const auto& row : rows) EXPECT_EQ(Resolve(row.uri), row.expected) << row.uri;
}

}  // namespace
