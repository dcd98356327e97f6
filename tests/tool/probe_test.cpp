// The USB path in process: the probe spawned without a shell, its first line
// read under a bound, and the line decoded, against scripts that play it.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "PrinterScript.h"
#include "env/TestEnv.h"
#include "tool/probe.h"
#include "tool/usb_path.h"

namespace {

using tooltest::DeviceIdLine;
using tooltest::PrinterScript;
using namespace std::chrono_literals;

bool Gone(int pid) { return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH; }

// Queue names the print system itself refuses (blanks, quotes, "#", "/", "?")
// can still come from elsewhere; none may reach a shell.
TEST(Probe, ArgumentsArriveVerbatimAndRunNothing) {
  testenv::TempDir cwd;
  ASSERT_EQ(0, chdir(cwd.path().c_str()));
  const struct {
    const char* queue;
    const char* uri;
  } cases[] = {
      {"a b", "usb://Acme/Laser 100?serial=1"},
      {"it's", "usb://Acme/it's"},
      {"say \"hi\"", "usb://\"x\""},
      {"#hash", "usb://Acme/Laser#frag"},
      {"a/b?c", "usb://Acme/Laser?serial=1&x=2"},
      {"$(touch pwned1)", "$(touch pwned2)"},
      {"`touch pwned3`", "x;touch pwned4"},
      {"q|touch pwned5", "q&&touch pwned6 >pwned7"},
      {"q;touch${IFS}pwned8{a,b}<>", "usb://x;touch${IFS}pwned9"},
      {"line\nbreak", "*"},
      {"-x", "--"},
  };
  for (const auto& c : cases) {
    PrinterScript printer("");
    char line[kProbeLineMax + 1];
    ASSERT_EQ(ProbeResult::kLine, RunProbe(printer.path().c_str(), c.queue, c.uri, 10s, line));
    EXPECT_EQ("2\n", printer.argc()) << c.queue;
    EXPECT_EQ(c.queue, printer.arg(1));
    EXPECT_EQ(c.uri, printer.arg(2));
  }
  for (const auto& entry : std::filesystem::directory_iterator(cwd.path()))
    ADD_FAILURE() << "a shell ran: " << entry.path();
}

TEST(Probe, TakesTheFirstLineUpTo2048Characters) {
  const struct {
    std::string output;
    std::string line;
  } cases[] = {
      {"first\nsecond\n", "first\n"},
      {"", ""},
      {"no newline", "no newline"},
      {std::string(3000, 'x') + "\n", std::string(2048, 'x')},
      {std::string(2047, 'x') + "\nmore", std::string(2047, 'x') + "\n"},
  };
  for (const auto& c : cases) {
    PrinterScript printer(c.output);
    char line[kProbeLineMax + 1];
    ASSERT_EQ(ProbeResult::kLine, RunProbe(printer.path().c_str(), "Q", "usb://x", 10s, line));
    EXPECT_EQ(c.line, std::string(line)) << c.output.substr(0, 20);
  }
}

// A probe that never writes, or never ends after its line, is killed and
// reaped at the bound; one that keeps writing ends with the pipe.
TEST(Probe, EveryProbeEndsAndIsReaped) {
  const struct {
    std::string output;
    const char* tail;
    ProbeResult result;
  } cases[] = {
      {"", "exec sleep 600", ProbeResult::kTimedOut},
      {DeviceIdLine(75), "exec sleep 600", ProbeResult::kTimedOut},
      {"", "exec yes", ProbeResult::kLine},
  };
  for (const auto& c : cases) {
    PrinterScript printer(c.output, c.tail);
    char line[kProbeLineMax + 1];
    EXPECT_EQ(c.result, RunProbe(printer.path().c_str(), "Q", "usb://x", 500ms, line)) << c.tail;
    EXPECT_TRUE(Gone(printer.pid())) << c.tail;
  }
}

TEST(Probe, CommandLineFitsIn255Characters) {
  // "P Q U": two blanks between the three parts.
  const struct {
    size_t path, queue, uri;
    bool fits;
  } cases[] = {
      {100, 100, 53, true}, {100, 100, 54, false}, {1, 1, 251, true},
      {1, 1, 252, false},   {253, 0, 0, true},     {254, 0, 0, false},
  };
  for (const auto& c : cases) {
    std::string p(c.path, 'p'), q(c.queue, 'q'), u(c.uri, 'u');
    EXPECT_EQ(c.fits, ProbeCommandFits(p.c_str(), q.c_str(), u.c_str()))
        << c.path << "+" << c.queue << "+" << c.uri;
  }
}

// The whole path: what a probe writes, and whether a record comes of it.
TEST(UsbPath, RecordOnlyFromALineThatDecodes) {
  const std::string full = DeviceIdLine(0xCB);
  const std::string field = full.substr(full.find("STS:") + 4, 144);
  const std::string head = "MFG:Acme;STS:";
  // The line check starts at 127 characters.
  EXPECT_FALSE(ProbeLineLongEnough(std::string(126, 'x').c_str()));
  EXPECT_TRUE(ProbeLineLongEnough(std::string(127, 'x').c_str()));
  const struct {
    const char* name;
    std::string output;
    int result;
  } cases[] = {
      {"a printer", full, 0},
      {"short field", head + field.substr(0, 100) + ";\n", -1},
      {"no STS key", "MFG:Acme;CMD:PCL;MDL:Laser 100;" + std::string(150, 'A') + ";\n", -1},
      {"key after the field", full.substr(0, full.size() - 1) + "MDL:Laser;\n", -1},
      {"nothing at all", "", -1},
  };
  for (const auto& c : cases) {
    PrinterScript printer(c.output);
    PRINTER_STATUS status{};
    EXPECT_EQ(c.result, RunUsbPath(printer.path().c_str(), "Q", "usb://x", &status)) << c.name;
    if (c.result == 0) {
      EXPECT_EQ(0xCB, status.blackLevel);
    }
  }
  // A command line one character too long never starts the probe; neither does a program
  // that cannot run.
  PrinterScript printer(full);
  const std::string room(255 - printer.path().size() - 1 - 1 - 1, 'u');
  PRINTER_STATUS status{};
  EXPECT_EQ(0, RunUsbPath(printer.path().c_str(), "Q", room.c_str(), &status));
  printer.Forget();
  EXPECT_EQ(-1, RunUsbPath(printer.path().c_str(), "Q", (room + "u").c_str(), &status));
  EXPECT_FALSE(printer.ran());
  ASSERT_EQ(0, chmod(printer.path().c_str(), 0644));
  EXPECT_EQ(-1, RunUsbPath(printer.path().c_str(), "Q", "usb://x", &status));
  EXPECT_FALSE(printer.ran());
  testenv::TempDir dir;
  for (const std::string& path : {dir / "missing", dir.path(), std::string()}) {
    char line[kProbeLineMax + 1];
    EXPECT_EQ(ProbeResult::kNotStarted, RunProbe(path.c_str(), "Q", "usb://x", 5s, line)) << path;
  }
}

}  // namespace
