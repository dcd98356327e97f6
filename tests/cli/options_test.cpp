// The netio front end in process: its command-line rules, its fleet input,
// the texts it makes of what a printer sends, and the interrupt watch.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "cli/FleetInput.h"
#include "cli/Interrupt.h"
#include "cli/Json.h"
#include "cli/Options.h"
#include "cli/Text.h"
#include "env/TestEnv.h"
#include "socket/Socket.h"

namespace {

bool Parses(std::vector<std::string> args) {
  args.insert(args.begin(), "netio");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  cli::Options options;
  std::string error;
  const bool ok = cli::ParseArguments(static_cast<int>(args.size()), argv.data(), &options, &error);
  EXPECT_EQ(ok, error.empty()) << error;
  return ok;
}

TEST(NetioOptions, AcceptsWhatEachCommandTakesOnly) {
  const std::string oid = "1.3.6.1";
  const struct {
    std::vector<std::string> args;
    bool ok;
  } rows[] = {
      {{"--help"}, true},
      {{"status", "printer.example"}, true},
      {{"status", "127.0.0.1", "::1", "--parallel", "1", "--prometheus"}, true},
      {{"info", "fe80::1%lo", "--v3", "--json"}, true},
      {{"send", "127.0.0.1", "65535", "job.prn"}, true},
      {{"discover", "--sysobjectid", oid, "--target", "::1", "--community", "x"}, true},
      {{}, false},
      {{"frobnicate"}, false},
      {{"--json"}, false},
      {{"status"}, false},
      {{"status", "127.0.0.1", "printer.local"}, false},
      {{"status", "127.0.0.1", "--parallel", "0"}, false},
      {{"status", "127.0.0.1", "--prometheus", "--json"}, false},
      {{"status", "--from"}, false},
      // IPv4 numbers the resolver would read another way: never resolved.
      {{"status", "127.1"}, false},
      {{"info", "010.0.0.1"}, false},
      {{"send", "0x7f.1", "9100"}, false},
      {{"status", "fe80::1%no-such-if"}, false},
      {{"status", ""}, false},
      {{"status", "127.0.0.1", "--v3"}, false},
      {{"info", "127.0.0.1", "--raw"}, false},
      {{"info", "::1", "--bogus"}, false},
      {{"send", "127.0.0.1"}, false},
      {{"send", "127.0.0.1", "0"}, false},
      {{"send", "127.0.0.1", "65536"}, false},
      {{"send", "127.0.0.1", "91x0"}, false},
      {{"send", "127.0.0.1", "9100", "--json"}, false},
      {{"discover"}, false},
      {{"discover", "--sysobjectid"}, false},
      {{"discover", "--sysobjectid", "1.3.6.x"}, false},
      // 33 octets encoded: one more than a target holds.
      {{"discover", "--sysobjectid",
        "1.3.6.1.4.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1"},
       false},
      {{"discover", "--sysobjectid", oid, "--ipv6", "--both"}, false},
      {{"discover", "--sysobjectid", oid, "--v3", "--scan-index"}, false},
      {{"discover", "--sysobjectid", oid, "--both", "--target", "127.0.0.1"}, false},
      // A name never becomes a broadcast target.
      {{"discover", "--sysobjectid", oid, "--target", "localhost"}, false},
      {{"discover", "--sysobjectid", oid, "--target", ""}, false},
      {{"discover", "--sysobjectid", oid, "--target", "127.1"}, false},
      {{"discover", "--sysobjectid", oid, "--community", ""}, false},
      {{"discover", "--sysobjectid", oid, "extra"}, false},
  };
  for (const auto& row : rows) {
    std::string line;
    for (const auto& a : row.args) line += " " + a;
    EXPECT_EQ(Parses(row.args), row.ok) << line;
  }
}

// Lines of a fleet file; each printer once, however its address is spelt.
TEST(NetioFleetInput, LinesGiveEachPrinterOnce) {
  const struct {
    const char* line;
    bool ok;
    std::vector<std::string> texts;
  } rows[] = {
      {"", true, {}},
      {"  # printers", true, {}},
      {"127.0.0.3   # SNMPv3 only", true, {"127.0.0.3"}},
      {"\t::1\r", true, {"::1"}},
      {R"({"agents": ["127.0.0.1", "::1"]})", true, {"127.0.0.1", "::1"}},
      {R"({"agents": []})", true, {}},
      {R"({"agents": ["127.0.0.1"]} x)", false, {}},
      {R"({"agents": ["127.0.0.\u0031"]})", false, {}},
      {R"({"other": ["127.0.0.1"]})", false, {}},
  };
  for (const auto& row : rows) {
    std::vector<std::string> texts;
    EXPECT_EQ(cli::LineAddresses(row.line, &texts), row.ok) << row.line;
    EXPECT_EQ(texts, row.texts) << row.line;
  }
  cli::FleetAddresses fleet;
  for (const char* text : {"127.0.0.1", "::1", "0::1", "127.0.0.1", "fe80::1%lo", "fe80::1"})
    EXPECT_TRUE(fleet.Add(text)) << text;
  for (const char* text : {"printer.local", "127.1", ""}) EXPECT_FALSE(fleet.Add(text)) << text;
  EXPECT_EQ(fleet.list(), (std::vector<std::string>{"127.0.0.1", "::1", "fe80::1%lo", "fe80::1"}));
}

// Hostile texts from a printer: JSON that parses back to them, terminal text
// that cannot clear the screen or forge a line.
TEST(NetioText, AnyTextIsSafeInJsonAndOnATerminal) {
  const std::string python = testenv::FindProgram("python3");
  REQUIRE_ENV(!python.empty(), "python3 is not installed");
  const struct {
    std::string text;
    std::string parsed;  // python3's repr of the JSON it reads back
    std::string terminal;
  } rows[] = {
      {"plain", "'plain'", "plain"},
      {"quote \" back\\slash", "'quote \" back\\\\slash'", "quote \" back\\\\slash"},
      {std::string("nul \0 tab \t nl \n", 16), "'nul \\x00 tab \\t nl \\n'",
       "nul \\x00 tab \\t nl \\n"},
      {"caf\xC3\xA9", "'café'", "caf\xC3\xA9"},
      {"bad \xC3 end \xFF \xED\xA0\x80", "'bad \ufffd end \ufffd \ufffd\ufffd\ufffd'",
       "bad \\xc3 end \\xff \\xed\\xa0\\x80"},
      {"cut \xE2\x82", "'cut \ufffd\ufffd'", "cut \\xe2\\x82"},
      {"FW\x1b[2J\r\x7f\xc2\x9b", "'FW\\x1b[2J\\r\\x7f\\x9b'", "FW\\x1b[2J\\r\\x7f\\xc2\\x9b"},
  };
  for (const auto& row : rows) {
    const auto r = testenv::Run({python, "-c", "import json,sys; print(repr(json.load(sys.stdin)))"},
                                {}, std::chrono::seconds(10), cli::JsonString(row.text));
    EXPECT_EQ(r.out, row.parsed + "\n") << row.text << r.err;
    EXPECT_EQ(cli::TerminalText(row.text), row.terminal) << row.text;
  }
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
  for (int signal : {SIGINT, SIGTERM}) {
    EXPECT_FALSE(sigismember(&before, signal)) << signal;
    EXPECT_TRUE(sigismember(&during, signal)) << signal;
    EXPECT_FALSE(sigismember(&after, signal)) << signal;
  }
}

}  // namespace
