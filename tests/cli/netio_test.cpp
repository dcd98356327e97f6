// The `netio` front end end to end: every subcommand against net-snmp's snmpd
// and TCP listeners in the test's own network namespace, its JSON read back by
// python3, its usage errors, and Ctrl-C during a transfer.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "env/Lab.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/SnmpV3.h"
#include "socket/Socket.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const char kFwOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0";
// A firmware text that would clear the screen and forge a line on a
// terminal: ESC, CR, LF, a backslash and a C1 CSI.
const std::string kHostileFw = "FW 2.10.3\x1b[2J\r\nname: forged\\\xc2\x9b" "1m";
const char kHostileFwText[] = "FW 2.10.3\\x1b[2J\\r\\nname: forged\\\\\\xc2\\x9b1m";
const char kHostileFwRepr[] = "'FW 2.10.3\\x1b[2J\\r\\nname: forged\\\\\\x9b1m'";
const char kPrinterObjectId[] = "1.3.6.1.4.1.40719.886.1";

std::string Netio() { return std::string(USBINK_BIN_DIR) + "/netio"; }

testenv::RunResult RunNetio(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), Netio());
  return testenv::Run(args, {}, seconds(30), input);
}

// `expression` over the parsed document `d`, as python3 prints it; a
// document that does not parse fails the test.
std::string Json(const std::string& document, const std::string& expression) {
  const auto r =
      testenv::Run({testenv::FindProgram("python3"), "-c",
                    "import json,sys; d=json.load(sys.stdin); print(" + expression + ")"},
                   {}, seconds(10), document);
  EXPECT_EQ(r.exitCode, 0) << "not JSON: " << document << r.err;
  return r.out.substr(0, r.out.find_last_not_of('\n') + 1);
}

testenv::SnmpUser Configured() {
  _SNMP_PARAM_V3 params{};
  SnmpV3FillCredentials(&params);
  return {params.userName, params.authPassword, params.privPassword};
}

// In a namespace of its own: a row that parsed by mistake must not reach a real network.
class NetioUsage : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  }
};

TEST_F(NetioUsage, BadArgumentsGiveAUsageError) {
  const std::vector<std::vector<std::string>> rows = {
      {},
      {"frobnicate"},
      {"--json"},
      {"status"},
      {"status", "127.0.0.1", "printer.local"},
      {"status", "127.0.0.1", "--parallel", "0"},
      {"status", "127.0.0.1", "--prometheus", "--json"},
      {"status", "--from"},
      // IPv4 numbers the resolver would read another way: never resolved.
      {"status", "127.1"},
      {"info", "010.0.0.1"},
      {"send", "0x7f.1", "9100"},
      {"status", "fe80::1%no-such-if"},
      {"status", ""},
      {"status", "127.0.0.1", "--v3"},
      {"info", "127.0.0.1", "--raw"},
      {"info", "::1", "--bogus"},
      {"send", "127.0.0.1"},
      {"send", "127.0.0.1", "0"},
      {"send", "127.0.0.1", "65536"},
      {"send", "127.0.0.1", "91x0"},
      {"send", "127.0.0.1", "9100", "--json"},
      {"discover"},
      {"discover", "--sysobjectid"},
      {"discover", "--sysobjectid", "1.3.6.x"},
      // 33 octets encoded: one more than a target holds.
      {"discover", "--sysobjectid",
       "1.3.6.1.4.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1"},
      {"discover", "--sysobjectid", "1.3.6.1", "--ipv6", "--both"},
      {"discover", "--sysobjectid", "1.3.6.1", "--v3", "--scan-index"},
      {"discover", "--sysobjectid", "1.3.6.1", "--both", "--target", "127.0.0.1"},
      {"discover", "--sysobjectid", "1.3.6.1", "--target", "localhost"},
      {"discover", "--sysobjectid", "1.3.6.1", "--target", ""},
      {"discover", "--sysobjectid", "1.3.6.1", "--target", "127.1"},
      {"discover", "--sysobjectid", "1.3.6.1", "--community", ""},
      {"discover", "--sysobjectid", "1.3.6.1", "extra"},
  };
  for (const auto& args : rows) {
    std::string line;
    for (const auto& a : args) line += " " + a;
    const auto r = RunNetio(args);
    EXPECT_EQ(r.exitCode, 2) << line;
    EXPECT_EQ(r.out, "") << line;
    EXPECT_EQ(r.err.rfind("netio: ", 0), 0u) << line << ": " << r.err;
    EXPECT_NE(r.err.find("usage: netio"), std::string::npos) << line << ": " << r.err;
  }
}

TEST_F(NetioUsage, HelpGoesToStandardOutput) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"send", "--help"}, {"discover", "-h"}}) {
    const auto r = RunNetio(args);
    EXPECT_EQ(r.exitCode, 0) << args[0];
    EXPECT_EQ(r.out.rfind("usage: netio", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_NE(RunNetio({"send", "--help"}).out.find("PORT [FILE]"), std::string::npos);
}

// Hostile texts from a printer still make JSON that parses back to them.
TEST(NetioJson, AnyTextBecomesAStringThatParses) {
  const struct {
    std::string text;
    std::string parsed;  // python3's repr of what it reads back
  } rows[] = {
      {"plain", "'plain'"},
      {"quote \" back\\slash", "'quote \" back\\\\slash'"},
      {std::string("nul \0 tab \t nl \n", 16), "'nul \\x00 tab \\t nl \\n'"},
      {"caf\xC3\xA9", "'café'"},
      {"bad \xC3 end \xFF \xED\xA0\x80", "'bad \ufffd end \ufffd \ufffd\ufffd\ufffd'"},
      {"cut \xE2\x82", "'cut \ufffd\ufffd'"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Json(cli::JsonString(row.text), "repr(d)"), row.parsed) << row.text;
  }
}

class NetioAgainstPrinters : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
    REQUIRE_ENV(!testenv::FindProgram("python3").empty(), "python3 is not installed");
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  }

  // Answers SNMPv1 ("public") and SNMPv3 on 127.0.0.1 and ::1; 127.0.0.2 stays silent.
  void StartPrinter(bool v1) {
    testenv::SnmpdConfig config;
    config.agentAddress = "udp:127.0.0.1:161,udp6:[::1]:161";
    config.v1 = v1;
    config.engineIdHex = "80000B9303000000000000002A";
    config.users = {Configured()};
    config.deviceId = testenv::DeviceIdWithLevel(0xAA);  // bit 7 is not part of the level
    config.sysObjectID = kPrinterObjectId;
    config.sysName = "ink-jet-7";
    config.extraLines = {std::string("override ") + kFwOid + " octet_str 0x" +
                         testenv::Hex({kHostileFw.begin(), kHostileFw.end()})};
    agent_ = std::make_unique<testenv::Snmpd>(config);
    std::string why;
    ASSERT_TRUE(agent_->Start(&why)) << why;
  }

  std::unique_ptr<testenv::Snmpd> agent_;
};

TEST_F(NetioAgainstPrinters, StatusOverSnmpV1) {
  ASSERT_NO_FATAL_FAILURE(StartPrinter(true));
  auto r = RunNetio({"status", "127.0.0.1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "black: 42%\n");
  EXPECT_EQ(r.err, "");

  r = RunNetio({"status", "::1", "--raw", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Json(r.out, "d['address'], d['protocol'], d['black_level']"), "::1 SNMPv1 42");
  EXPECT_EQ(Json(r.out, "d['raw']"), testenv::Hex(testenv::StatusRecord(0xAA)));

  r = RunNetio({"status", "127.0.0.1", "--raw"});
  EXPECT_EQ(r.out, "black: 42%\n" + testenv::Hex(testenv::StatusRecord(0xAA)) + "\n");
}

TEST_F(NetioAgainstPrinters, StatusFallsBackToSnmpV3AndSaysWhenNothingAnswers) {
  ASSERT_NO_FATAL_FAILURE(StartPrinter(false));
  auto r = RunNetio({"status", "127.0.0.1", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Json(r.out, "d['protocol'], d['black_level'], 'raw' in d"), "SNMPv3 42 False");

}

// Failures say why on standard error and, with --json, as one object.
TEST_F(NetioAgainstPrinters, FailuresPrintOneJsonObject) {
  ASSERT_NO_FATAL_FAILURE(StartPrinter(true));
  const struct {
    std::vector<std::string> args;
    std::string error;
  } rows[] = {
      {{"status", "127.0.0.2"}, "no status record from 127.0.0.2"},
      {{"info", "127.0.0.2", "--v3"}, "no answer from 127.0.0.2 over SNMPv3"},
  };
  for (const auto& row : rows) {
    auto r = RunNetio(row.args);
    EXPECT_EQ(r.exitCode, 1) << row.error;
    EXPECT_EQ(r.out, "") << row.error;
    EXPECT_EQ(r.err, "netio: " + row.error + "\n");
    auto args = row.args;
    args.push_back("--json");
    r = RunNetio(args);
    EXPECT_EQ(r.exitCode, 1) << row.error;
    EXPECT_EQ(Json(r.out, "d['address'], d['error']"), "127.0.0.2 " + row.error);
  }
}

TEST_F(NetioAgainstPrinters, InfoOverSnmpV1AndV3) {
  ASSERT_NO_FATAL_FAILURE(StartPrinter(true));
  // The MCU object is not served: the agent's error answer is an empty value.
  // Text output shows the firmware's control characters escaped; JSON carries them as they came.
  auto r = RunNetio({"info", "127.0.0.1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            std::string("name: ink-jet-7\nfirmware: ") + kHostileFwText + "\nMCU firmware: \n");

  r = RunNetio({"info", "::1", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Json(r.out, "d['protocol'], d['name'], repr(d['firmware']), repr(d['mcu_firmware'])"),
            std::string("SNMPv1 ink-jet-7 ") + kHostileFwRepr + " ''");

  // SNMPv3 writes only what arrived with a text: the missing object is null.
  r = RunNetio({"info", "127.0.0.1", "--v3", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Json(r.out, "d['protocol'], d['name'], repr(d['firmware']), d['mcu_firmware']"),
            std::string("SNMPv3 ink-jet-7 ") + kHostileFwRepr + " None");
  r = RunNetio({"info", "127.0.0.1", "--v3"});
  EXPECT_EQ(r.out, std::string("name: ink-jet-7\nfirmware: ") + kHostileFwText + "\n");
}

TEST_F(NetioAgainstPrinters, DiscoverListsEachAgentOnce) {
  ASSERT_NO_FATAL_FAILURE(StartPrinter(true));
  // Three copies of the request draw three answers; one line.
  auto r = RunNetio({"discover", "--target", "127.0.0.1", "--sysobjectid", kPrinterObjectId});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "127.0.0.1\n");
  EXPECT_EQ(r.err, "") << "no progress when standard error is no terminal";

  // The third OID is searched in a scan of its own.
  r = RunNetio({"discover", "--ipv6", "--target", "::1", "--sysobjectid", "1.3.6.1.4.1.9.1",
                "--sysobjectid", "1.3.6.1.4.1.11.2", "--sysobjectid", kPrinterObjectId, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Json(r.out, "d['agents']"), "['::1']");

  r = RunNetio(
      {"discover", "--v3", "--target", "127.0.0.1", "--sysobjectid", kPrinterObjectId, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Json(r.out, "d['agents']"), "['127.0.0.1']");

  r = RunNetio({"discover", "--target", "127.0.0.1", "--sysobjectid", "1.3.6.1.4.1.9.1", "--json"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(Json(r.out, "d['agents']"), "[]");
  EXPECT_EQ(r.err, "netio: no agent found\n");
}

// ---- send ----

// A TCP peer of the test on loopback: takes one connection and keeps what
// arrives, or takes nothing when `drain` is false.
class Sink {
 public:
  Sink(const char* address, bool drain) {
    const bool v6 = strchr(address, ':') != nullptr;
    fd_ = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    sockaddr_storage a{};
    socklen_t length;
    if (v6) {
      auto* p = reinterpret_cast<sockaddr_in6*>(&a);
      p->sin6_family = AF_INET6;
      inet_pton(AF_INET6, address, &p->sin6_addr);
      length = sizeof *p;
    } else {
      auto* p = reinterpret_cast<sockaddr_in*>(&a);
      p->sin_family = AF_INET;
      inet_pton(AF_INET, address, &p->sin_addr);
      length = sizeof *p;
    }
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), length) != 0 || listen(fd_, 1) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
      return;
    port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    thread_ = std::thread([this, drain] {
      const int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      accepted_ = true;
      char buffer[65536];
      for (ssize_t n; drain && (n = read(c, buffer, sizeof buffer)) > 0;)
        received_.append(buffer, n);
      // A peer that takes nothing holds the connection until the test ends.
      if (!drain) {
        while (!stop_) std::this_thread::sleep_for(milliseconds(10));
      }
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

std::string Noise(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 2463534242u;
  for (auto& c : s) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

class NetioSend : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  }
  testenv::TempDir dir_;
};

TEST_F(NetioSend, DeliversAFileOrStandardInputByteForByte) {
  const std::string job = Noise(3 * 1024 * 1024 + 17);
  testenv::WriteFile(dir_ / "job.prn", job);
  {
    Sink printer("127.0.0.1", true);
    const auto r = RunNetio({"send", "127.0.0.1", printer.port(), dir_ / "job.prn"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(printer.Received() == job) << printer.Received().size() << " bytes arrived";
  }
  {
    Sink printer("::1", true);
    const auto r = RunNetio({"send", "::1", printer.port()}, job);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(printer.Received() == job) << printer.Received().size() << " bytes arrived";
  }
}

TEST_F(NetioSend, FailuresAreReported) {
  std::string closedPort;
  {
    // A port bound and closed again stays closed in this namespace.
    Sink gone("127.0.0.1", true);
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
TEST_F(NetioSend, InterruptEndsItCleanly) {
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
    Sink printer("127.0.0.1", row.drain);
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

// Host names go to the system resolver (a private hosts file here), IPv6 first.
TEST_F(NetioAgainstPrinters, HostNamesAreResolved) {
  ASSERT_NO_FATAL_FAILURE(StartPrinter(true));
  testenv::TempDir hosts;
  std::string why;
  REQUIRE_ENV(testenv::UsePrivateHosts(
                  hosts, "127.0.0.1 v4.test\n127.0.0.1 dual.test\n::1 dual.test\n", &why),
              why);
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
    std::string err;
  } rows[] = {
      {{"status", "v4.test"}, 0, "black: 42%\n", "netio: v4.test: asking 127.0.0.1\n"},
      {{"status", "dual.test", "--json"},
       0,
       "{\"address\": \"::1\", \"protocol\": \"SNMPv1\", \"black_level\": 42}\n",
       "netio: dual.test: asking ::1\n"},
      {{"info", "nothing.invalid", "--json"},
       1,
       "{\"address\": \"nothing.invalid\", \"error\": \"cannot resolve nothing.invalid\"}\n",
       "netio: cannot resolve nothing.invalid\n"},
  };
  for (const auto& row : rows) {
    const auto r = RunNetio(row.args);
    EXPECT_EQ(r.exitCode, row.exitCode) << row.args[1];
    EXPECT_EQ(r.out, row.out) << row.args[1];
    EXPECT_EQ(r.err, row.err) << row.args[1];
  }
  Sink printer("127.0.0.1", true);
  const auto r = RunNetio({"send", "v4.test", printer.port()}, "job");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "netio: v4.test: asking 127.0.0.1\n");
  EXPECT_EQ(printer.Received(), "job");
}

// The watch blocks SIGINT and SIGTERM for a transfer, not for the rest of the process.
TEST(NetioInterrupt, WatchGivesTheSignalMaskBack) {
  sigset_t before, during, after;
  pthread_sigmask(SIG_SETMASK, nullptr, &before);
  {
    CSocket socket;
    cli::InterruptWatch watch(socket);
    pthread_sigmask(SIG_SETMASK, nullptr, &during);
  }
  pthread_sigmask(SIG_SETMASK, nullptr, &after);
  for (int signal : {SIGINT, SIGTERM, SIGUSR1}) {
    EXPECT_FALSE(sigismember(&before, signal)) << signal;
    EXPECT_TRUE(sigismember(&during, signal)) << signal;
    EXPECT_FALSE(sigismember(&after, signal)) << signal;
  }
}

}  // namespace
