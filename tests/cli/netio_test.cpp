// The `netio` executable end to end, each command once: net-snmp's snmpd
// printers and TCP listeners on loopback in the test's own network namespace.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "env/Lab.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/SnmpV3.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const char kFwOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0";
const char kPrinter[] = "1.3.6.1.4.1.40719.886.1";
// A firmware text that would clear the screen and forge a line on a terminal.
const std::string kHostileFw = "FW 2.10.3\x1b[2J\r\nname: forged\\\xc2\x9b" "1m";

std::string Netio() { return std::string(USBINK_BIN_DIR) + "/netio"; }

testenv::RunResult RunNetio(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), Netio());
  return testenv::Run(args, {}, seconds(60), input);
}

// Lines in a fixed order: a fleet's printers finish in the order they answer.
std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

class NetioTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  }
  testenv::TempDir dir_;
};

TEST_F(NetioTest, UsageErrorsAndHelp) {
  const struct {
    std::vector<std::string> args;
    std::string input;
    int exitCode;
    std::string says;  // on standard error, or standard output for help
  } rows[] = {
      {{"status", "127.1"}, "", 2, "usage: netio status"},
      {{"status", "--from", "-"}, "# none\nhost.example\n", 2, "no address to read"},
      {{"status", "--from", "/nonexistent/list"}, "", 2, "cannot read /nonexistent/list"},
      {{"send", "--help"}, "", 0, "PORT [FILE]"},
  };
  for (const auto& row : rows) {
    const auto r = RunNetio(row.args, row.input);
    EXPECT_EQ(r.exitCode, row.exitCode) << row.args[1];
    const std::string& says = row.exitCode ? r.err : r.out;
    EXPECT_EQ(row.exitCode ? r.out : r.err, "") << row.args[1];
    EXPECT_EQ(says.rfind(row.exitCode ? "netio: " : "usage: netio", 0), 0u) << says;
    EXPECT_NE(says.find(row.says), std::string::npos) << says;
  }
}

// One answering SNMPv1 and SNMPv3 on 127.0.0.1 and ::1, one SNMPv3 only, one
// with an engine of another vendor; 127.0.0.2 stays silent.
class NetioPrinters : public NetioTest {
 protected:
  void SetUp() override {
    NetioTest::SetUp();
    if (IsSkipped()) return;
    std::string why;
    REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
    REQUIRE_ENV(testenv::UsePrivateHosts(
                    hosts_, "127.0.0.1 v4.test\n127.0.0.1 dual.test\n::1 dual.test\n", &why),
                why);
    _SNMP_PARAM_V3 params{};
    SnmpV3FillCredentials(&params);
    const struct {
      const char* agentAddress;
      bool v1;
      const char* engine;
      uint8_t level;  // bit 7 is not part of the level
    } rows[] = {
        {"udp:127.0.0.1:161,udp6:[::1]:161", true, "80000B9303000000000000002A", 0xAA},
        {"udp:127.0.0.3:161", false, "80000B9303000000000000002B", 17},
        {"udp:127.0.0.4:161", false, "80001F8803000000000000002C", 50},
    };
    for (const auto& row : rows) {
      testenv::SnmpdConfig config;
      config.agentAddress = row.agentAddress;
      config.v1 = row.v1;
      config.engineIdHex = row.engine;
      config.users = {{params.userName, params.authPassword, params.privPassword}};
      config.deviceId = testenv::DeviceIdWithLevel(row.level);
      config.sysObjectID = kPrinter;
      config.sysName = "ink-jet-7";
      config.extraLines = {std::string("override ") + kFwOid + " octet_str 0x" +
                           testenv::Hex({kHostileFw.begin(), kHostileFw.end()})};
      agents_.push_back(std::make_unique<testenv::Snmpd>(config));
      ASSERT_TRUE(agents_.back()->Start(&why)) << why;
    }
  }

  testenv::TempDir hosts_;
  std::vector<std::unique_ptr<testenv::Snmpd>> agents_;
};

TEST_F(NetioPrinters, StatusInfoAndDiscover) {
  const std::string raw = testenv::Hex(testenv::StatusRecord(0xAA));
  const std::string fwText = "FW 2.10.3\\x1b[2J\\r\\nname: forged\\\\\\xc2\\x9b1m";
  const std::string fwJson = "\"FW 2.10.3\\u001b[2J\\u000d\\u000aname: forged\\\\\xc2\x9b" "1m\"";
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
    std::string err;
  } rows[] = {
      {{"status", "127.0.0.1"}, 0, "black: 42%\n", ""},
      {{"status", "::1", "--raw", "--json"},
       0,
       R"({"address": "::1", "protocol": "SNMPv1", "black_level": 42, "raw": ")" + raw + "\"}\n",
       ""},
      {{"status", "127.0.0.3", "--json"},
       0,
       R"({"address": "127.0.0.3", "protocol": "SNMPv3", "black_level": 17})" "\n",
       ""},
      {{"status", "127.0.0.2", "--json"},
       1,
       R"({"address": "127.0.0.2", "error": "no status record from 127.0.0.2"})" "\n",
       "netio: no status record from 127.0.0.2\n"},
      // Names through the system resolver, IPv6 first.
      {{"status", "v4.test", "--raw"}, 0, "black: 42%\n" + raw + "\n",
       "netio: v4.test: asking 127.0.0.1\n"},
      {{"status", "dual.test"}, 0, "black: 42%\n", "netio: dual.test: asking ::1\n"},
      {{"info", "nothing.invalid", "--json"},
       1,
       R"({"address": "nothing.invalid", "error": "cannot resolve nothing.invalid"})" "\n",
       "netio: cannot resolve nothing.invalid\n"},
      // The MCU object is not served: SNMPv1's error answer is an empty
      // value, SNMPv3 leaves it out.
      {{"info", "127.0.0.1"}, 0, "name: ink-jet-7\nfirmware: " + fwText + "\nMCU firmware: \n", ""},
      {{"info", "::1", "--v3", "--json"},
       0,
       R"({"address": "::1", "protocol": "SNMPv3", "name": "ink-jet-7", "firmware": )" + fwJson +
           R"(, "mcu_firmware": null})" "\n",
       ""},
      {{"info", "127.0.0.2", "--v3"}, 1, "", "netio: no answer from 127.0.0.2 over SNMPv3\n"},
      // Three copies of the request draw three answers: one line.
      {{"discover", "--target", "127.0.0.1", "--sysobjectid", kPrinter}, 0, "127.0.0.1\n", ""},
      // The third OID is searched in a scan of its own.
      {{"discover", "--ipv6", "--target", "::1", "--sysobjectid", "1.3.6.1.4.1.9.1",
        "--sysobjectid", "1.3.6.1.4.1.11.2", "--sysobjectid", kPrinter, "--json"},
       0,
       R"({"agents": ["::1"]})" "\n",
       ""},
      {{"discover", "--v3", "--target", "127.0.0.3", "--sysobjectid", kPrinter},
       0,
       "127.0.0.3\n",
       ""},
      {{"discover", "--target", "127.0.0.1", "--sysobjectid", "1.3.6.1.4.1.9.1", "--json"},
       1,
       R"({"agents": []})" "\n",
       "netio: no agent found\n"},
  };
  for (const auto& row : rows) {
    const auto r = RunNetio(row.args);
    std::string line;
    for (const auto& a : row.args) line += " " + a;
    EXPECT_EQ(r.exitCode, row.exitCode) << line;
    EXPECT_EQ(r.out, row.out) << line;
    EXPECT_EQ(r.err, row.err) << line;
  }
}

TEST_F(NetioPrinters, FleetFromTextLines) {
  const std::string input =
      "# printers\n127.0.0.1\n127.0.0.3   # SNMPv3 only\n\nprinter.local\n127.0.0.2\n"
      "127.0.0.4\n127.0.0.1\n0::1\n::1\n";
  const auto r = RunNetio({"status", "--from", "-"}, input);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.err, "netio: standard input:5: not a numeric address, skipped\n");
  EXPECT_EQ(SortedLines(r.out), (std::vector<std::string>{
                                    "0::1  black: 42%  (SNMPv1)",
                                    "127.0.0.1  black: 42%  (SNMPv1)",
                                    "127.0.0.2  no answer",
                                    "127.0.0.3  black: 17%  (SNMPv3)",
                                    "127.0.0.4  no answer",
                                }));
  // Each address read once: three copies of one SNMPv1 request per family.
  // The refused engine got its discovery request and nothing more.
  ASSERT_TRUE(agents_[0]->WaitForRequests(6, seconds(5))) << agents_[0]->Log();
  ASSERT_TRUE(agents_[2]->WaitForRequests(4, seconds(5))) << agents_[2]->Log();
  const std::string log = agents_[0]->Log();
  size_t toFirst = 0;
  for (size_t at = 0; (at = log.find("->[127.0.0.1]:161", at)) != std::string::npos; ++at)
    ++toFirst;
  EXPECT_EQ(toFirst, 3u) << log;
  EXPECT_EQ(agents_[0]->RequestCount(), 6) << log;
  EXPECT_EQ(agents_[2]->RequestCount(), 3 + 1);
}

TEST_F(NetioPrinters, FleetFromDiscoverJson) {
  const auto found =
      RunNetio({"discover", "--target", "127.0.0.1", "--sysobjectid", kPrinter, "--json"});
  ASSERT_EQ(found.exitCode, 0) << found.err;
  const auto r = RunNetio({"status", "127.0.0.3", "127.0.0.2", "--from", "-", "--json", "--raw"},
                          found.out);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  const std::string v1Raw = testenv::Hex(testenv::StatusRecord(0xAA));
  const std::string v3Raw = testenv::Hex(testenv::StatusRecord(17));
  EXPECT_EQ(SortedLines(r.out),
            (std::vector<std::string>{
                R"({"address": "127.0.0.1", "protocol": "SNMPv1", "black_level": 42, "raw": ")" +
                    v1Raw + "\"}",
                R"({"address": "127.0.0.2", "protocol": null, "error": "no answer"})",
                R"({"address": "127.0.0.3", "protocol": "SNMPv3", "black_level": 17, "raw": ")" +
                    v3Raw + "\"}",
            }));
}

TEST_F(NetioPrinters, FleetPrometheusTextPassesPromtool) {
  const std::string promtool = testenv::FindProgram("promtool");
  REQUIRE_ENV(!promtool.empty(), "promtool is not installed (Debian prometheus)");
  const auto r = RunNetio({"status", "127.0.0.1", "127.0.0.2", "--prometheus"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  const auto check = testenv::Run({promtool, "check", "metrics"}, {}, seconds(10), r.out);
  EXPECT_EQ(check.exitCode, 0) << r.out << check.out << check.err;
  EXPECT_NE(r.out.find("netio_printer_up{address=\"127.0.0.2\"} 0\n"), std::string::npos);
  EXPECT_NE(r.out.find("netio_printer_black_percent{address=\"127.0.0.1\",protocol=\"SNMPv1\"} 42\n"),
            std::string::npos)
      << r.out;
}

// A TCP peer of the test on loopback: takes one connection and keeps what
// arrives, or takes nothing until the test ends when `drain` is false.
class Sink {
 public:
  Sink(int family, bool drain) {
    fd_ = socket(family, SOCK_STREAM, 0);
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_addr = in6addr_loopback;
    sockaddr_in a4{};
    a4.sin_family = AF_INET;
    a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool v6 = family == AF_INET6;
    auto* a = v6 ? reinterpret_cast<sockaddr*>(&a6) : reinterpret_cast<sockaddr*>(&a4);
    socklen_t length = v6 ? sizeof a6 : sizeof a4;
    if (bind(fd_, a, length) != 0 || listen(fd_, 1) != 0 || getsockname(fd_, a, &length) != 0)
      return;
    port_ = ntohs(v6 ? a6.sin6_port : a4.sin_port);
    thread_ = std::thread([this, drain] {
      const int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      accepted_ = true;
      char buffer[65536];
      for (ssize_t n; drain && (n = read(c, buffer, sizeof buffer)) > 0;)
        received_.append(buffer, n);
      while (!drain && !stop_) std::this_thread::sleep_for(milliseconds(10));
      close(c);
    });
  }
  ~Sink() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  std::string port() const { return std::to_string(port_); }
  bool accepted() const { return accepted_; }
  // Valid once the sender closed and the thread ended.
  const std::string& Received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> accepted_{false}, stop_{false};
  std::string received_;
};

TEST_F(NetioTest, SendDeliversByteForByteOrSaysWhyNot) {
  std::string job(3 * 1024 * 1024 + 17, '\0');
  uint32_t x = 2463534242u;
  for (auto& c : job) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  testenv::WriteFile(dir_ / "job.prn", job);
  for (const int family : {AF_INET, AF_INET6}) {
    Sink printer(family, true);
    const bool v6 = family == AF_INET6;
    // A file over IPv4, standard input over IPv6.
    const auto r = v6 ? RunNetio({"send", "::1", printer.port()}, job)
                      : RunNetio({"send", "127.0.0.1", printer.port(), dir_ / "job.prn"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_TRUE(printer.Received() == job) << printer.Received().size() << " bytes arrived";
  }
  std::string closedPort;
  {
    // A port bound and closed again stays closed in this namespace.
    Sink gone(AF_INET, true);
    closedPort = gone.port();
  }
  auto r = RunNetio({"send", "127.0.0.1", closedPort}, "data");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "netio: cannot connect to 127.0.0.1 port " + closedPort + ": Connection refused\n");
  // The input is opened before any connection is tried.
  r = RunNetio({"send", "127.0.0.1", closedPort, dir_ / "missing.prn"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "netio: cannot open " + (dir_ / "missing.prn") + ": No such file or directory\n");
}

// Ctrl-C ends the transfer through the socket's cancel, whether the sender
// waits for the printer to take more or for more input to arrive.
TEST_F(NetioTest, SendEndsCleanlyOnInterrupt) {
  const std::string big = dir_ / "big.prn";
  testenv::WriteFile(big, "");
  ASSERT_EQ(truncate(big.c_str(), 512L * 1024 * 1024), 0);
  const std::string fifo = dir_ / "input.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Held open for writing, never written: the sender's input blocks.
  const int writer = open(fifo.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  const struct {
    const char* what;
    std::string input;
    bool drain;
  } rows[] = {
      {"printer takes nothing", big, false},
      {"input stays silent", fifo, true},
  };
  for (const auto& row : rows) {
    Sink printer(AF_INET, row.drain);
    testenv::Process sender({Netio(), "send", "127.0.0.1", printer.port(), row.input}, {},
                            dir_ / "send.log");
    for (int i = 0; i < 500 && !printer.accepted(); ++i)
      std::this_thread::sleep_for(milliseconds(10));
    ASSERT_TRUE(printer.accepted()) << row.what;
    std::this_thread::sleep_for(milliseconds(300));
    ASSERT_TRUE(sender.running()) << row.what << ": " << sender.Log();
    kill(sender.pid(), SIGINT);
    for (int i = 0; i < 500 && sender.running(); ++i) std::this_thread::sleep_for(milliseconds(10));
    EXPECT_FALSE(sender.running()) << row.what << ": still sending 5 s after SIGINT";
    const int status = sender.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << row.what << ": " << status;
    EXPECT_NE(sender.Log().find("netio: interrupted after "), std::string::npos)
        << row.what << ": " << sender.Log();
    unlink((dir_ / "send.log").c_str());
  }
  close(writer);
}

}  // namespace
