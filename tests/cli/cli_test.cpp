// The netio front end: rules and texts in process, the executable against snmpd.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <iterator>
#include <sstream>
#include <thread>

#include "cli/Json.h"
#include "cli/Options.h"
#include "cli/Text.h"
#include "env/Lab.h"
#include "env/Snmpd.h"
#include "tests/netio/SnmpV3Peer.h"

namespace {

using namespace std::literals;
const std::string kNetio = std::string(USBINK_BIN_DIR) + "/netio";
const char kFwOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0";
const char kPrinter[] = "1.3.6.1.4.1.40719.886.1";
// A firmware text that would clear the screen and forge a line on a terminal.
const std::string kHostileFw = "FW 2.10.3\x1b[2J\r\nname: forged\\\u009b1m";

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// SNMPv1 and SNMPv3 on 127.0.0.1 and ::1 (level octet 0xAA: bit 7 is not the level's).
class Netio : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why) && testenv::Snmpd::Available(&why), why);
    REQUIRE_ENV(testenv::UsePrivateHosts(hosts_, "127.0.0.1 dual.test\n::1 dual.test\n", &why),
                why);
    testenv::SnmpdConfig config;
    config.agentAddress = "udp:127.0.0.1:161,udp6:[::1]:161";
    config.engineIdHex = "80000B9303000000000000002A";
    config.users = {testnetio::Configured()};
    config.deviceId = testenv::DeviceIdWithLevel(0xAA);
    config.sysObjectID = kPrinter;
    config.sysName = "ink-jet-7";
    config.extraLines = {std::string("override ") + kFwOid + " octet_str 0x" +
                         testenv::Hex({kHostileFw.begin(), kHostileFw.end()})};
    agent_ = std::make_unique<testenv::Snmpd>(config);
    ASSERT_TRUE(agent_->Start(&why)) << why;
  }
  testenv::TempDir hosts_;
  std::unique_ptr<testenv::Snmpd> agent_;
};

// Every row at once, so the waits for silent printers overlap.
TEST_F(Netio, StatusInfoAndDiscover) {
  const std::string noRecord = "no status record from ";
  const std::string v1 = R"("protocol": "SNMPv1", "black_level": 42, "raw": ")" +
                         testenv::Hex(testenv::StatusRecord(0xAA)) + "\"";
  const std::string info =
      "\"protocol\": \"SNMPv3\", \"name\": \"ink-jet-7\", \"firmware\": \"FW 2.10.3\\u001b[2J"
      "\\u000d\\u000aname: forged\\\\\u009b1m\", \"mcu_firmware\": null";
  const auto json = [](const std::string& address, const std::string& rest) {
    return R"({"address": ")" + address + "\", " + rest + "}";
  };
  // Each row's out and err are lines, "" for none.
  const struct {
    std::string line;
    int exitCode;
    std::string out, err;
  } rows[] = {
      {"status 127.0.0.1", 0, "black: 42%", ""},
      {"status ::1 --raw --json", 0, json("::1", v1), ""},
      {"status 127.0.0.2 --json", 1, json("127.0.0.2", R"("error": ")" + noRecord + "127.0.0.2\""),
       "netio: " + noRecord + "127.0.0.2"},
      // A name through the system resolver, IPv6 first.
      {"status dual.test", 0, "black: 42%", "netio: dual.test: asking ::1"},
      // The MCU object is not served: SNMPv3 leaves it out.
      {"info ::1 --v3 --json", 0, json("::1", info), ""},
      // Three copies of the request draw three answers: one line.
      {"discover --ipv6 --target ::1 --sysobjectid 1.3.6.1.4.1.9.1 --sysobjectid 1.3.6.1.4.1.11.2"s +
           " --sysobjectid " + kPrinter,
       0, "::1", ""},
  };
  std::vector<std::future<testenv::RunResult>> runs;
  for (const auto& row : rows) {
    std::vector<std::string> argv = Words(kNetio + " " + row.line);
    runs.push_back(std::async(std::launch::async, [argv] { return testenv::Run(argv, {}, 60s); }));
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    const testenv::RunResult r = runs[i].get();
    EXPECT_EQ(rows[i].exitCode, r.exitCode) << rows[i].line;
    EXPECT_EQ(rows[i].out.empty() ? "" : rows[i].out + "\n", r.out) << rows[i].line;
    EXPECT_EQ(rows[i].err.empty() ? "" : rows[i].err + "\n", r.err) << rows[i].line;
  }
}

// Each printer once however spelt (four up or down, two with a level); no near-JSON line.
TEST_F(Netio, FleetToPrometheus) {
  const std::string fleet =
      "# printers\n127.0.0.1\n127.0.0.3  # v3\n\nname.test\n127.0.0.2\n\t::1\r\n"
      "{\"agents\": [\"127.0.0.1\", \"0::1\"]}\n{\"agents\": [\"127.0.0.5\"]} x\n"
      "{\"agents\": [\"127.0.0.\\u0034\"]}\n";
  const auto r = testenv::Run({kNetio, "status", "--from", "-", "--prometheus"}, {}, 60s, fleet);
  EXPECT_EQ(1, r.exitCode) << r.err;
  const auto count = [&](char c) { return std::count(r.out.begin(), r.out.end(), c); };
  EXPECT_EQ(6, count('\n') - count('#')) << r.out;
}

// Ctrl-C ends a transfer the printer (reading 4 KiB every 100 ms) does not take.
TEST(NetioSend, CtrlCEndsAHeldTransfer) {
  std::string why, python = testenv::FindProgram("python3");
  REQUIRE_ENV(testenv::IsolateNetwork(&why) && !python.empty(), why + "python3");
  testenv::TempDir dir;
  testenv::Process printer(
      {python, std::string(USBINK_SOURCE_DIR) + "/tests/env/holding-peer.py", "9100"}, {},
      dir / "printer.log");
  ASSERT_TRUE(printer.WaitForLog("ready", 10s)) << printer.Log();
  testenv::WriteFile(dir / "job.prn", "");
  ASSERT_EQ(0, truncate((dir / "job.prn").c_str(), 512L * 1024 * 1024));
  testenv::Process sender({kNetio, "send", "127.0.0.1", "9100", dir / "job.prn"}, {},
                          dir / "send.log");
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(sender.running()) << sender.Log();
  kill(sender.pid(), SIGINT);
  for (int i = 0; i < 500 && sender.running(); ++i) std::this_thread::sleep_for(10ms);
  const int status = sender.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status << sender.Log();
}

// The command-line rules and the texts made of what a printer sends.
TEST(NetioInProcess, OptionsAndTexts) {
  const struct {
    std::string line;
    bool ok;
  } commands[] = {
      // IPv4 numbers the resolver would read another way: never resolved.
      {"status 127.1", false},
      {"send 127.0.0.1 65535 job.prn", true},
      {"send 127.0.0.1 65536", false},
      // A name never becomes a broadcast target.
      {"discover --sysobjectid 1.3.6.1 --target localhost", false},
  };
  for (const auto& row : commands) {
    std::vector<std::string> args = Words("netio " + row.line);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    cli::Options options;
    std::string error;
    EXPECT_EQ(row.ok,
              cli::ParseArguments(static_cast<int>(args.size()), argv.data(), &options, &error))
        << row.line;
  }

  // Printer texts: JSON with controls escaped and bad UTF-8 replaced; terminal text inert.
  const struct {
    std::string text, json, terminal;
  } hostile[] = {
      {"quote \" back\\slash nul \0 tab \t nl \n"s,
       R"("quote \" back\\slash nul \u0000 tab \u0009 nl \u000a")",
       R"(quote " back\\slash nul \x00 tab \t nl \n)"},
      {"caf\xC3\xA9 \xC3 \xFF \xED\xA0\x80 \xE2\x82",
       "\"caf\xC3\xA9 \ufffd \ufffd \ufffd\ufffd\ufffd \ufffd\ufffd\"",
       R"(café \xc3 \xff \xed\xa0\x80 \xe2\x82)"},
      {"FW\x1b[2J\r\x7f\xc2\x9b", "\"FW\\u001b[2J\\u000d\x7f\xc2\x9b\"",
       R"(FW\x1b[2J\r\x7f\xc2\x9b)"},
  };
  for (const auto& row : hostile) {
    EXPECT_EQ(row.json, cli::JsonString(row.text));
    EXPECT_EQ(row.terminal, cli::TerminalText(row.text));
  }
}

}  // namespace
