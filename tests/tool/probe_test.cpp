#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "env/TestEnv.h"
#include "PrinterScript.h"
#include "tool/probe.h"
#include "tool/usb_path.h"

namespace {

using tooltest::PrinterScript;
using namespace std::chrono_literals;

bool Gone(int pid) { return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH; }

struct ArgCase {
  const char* queue;
  const char* uri;
};

// Queue names the print system itself refuses (blanks, quotes, "#", "/", "?")
// can still come from elsewhere; none may reach a shell.
TEST(Probe, ArgumentsArriveVerbatimAndRunNothing) {
  testenv::TempDir cwd;
  ASSERT_EQ(0, chdir(cwd.path().c_str()));
  const ArgCase cases[] = {
      {"a b", "usb://Acme/Laser 100?serial=1"},
      {"it's", "usb://Acme/it's"},
      {"say \"hi\"", "usb://\"x\""},
      {"#hash", "usb://Acme/Laser#frag"},
      {"a/b?c", "usb://Acme/Laser?serial=1&x=2"},
      {"$(touch pwned1)", "$(touch pwned2)"},
      {"`touch pwned3`", "x;touch pwned4"},
      {"q|touch pwned5", "q&&touch pwned6 >pwned7"},
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

TEST(Probe, ProgramThatCannotRunIsNotStarted) {
  testenv::TempDir dir;
  testenv::WriteFile(dir / "plain", "#!/bin/sh\necho hi\n", 0644);
  const std::string paths[] = {dir / "missing", dir / "plain", dir.path(), ""};
  for (const auto& path : paths) {
    char line[kProbeLineMax + 1];
    EXPECT_EQ(ProbeResult::kNotStarted, RunProbe(path.c_str(), "Q", "usb://x", 5s, line)) << path;
  }
}

struct LineCase {
  std::string output;
  std::string line;
};

TEST(Probe, TakesTheFirstLineUpTo2048Characters) {
  const LineCase cases[] = {
      {"first\nsecond\n", "first\n"},
      {"", ""},
      {"no newline", "no newline"},
      {"\n", "\n"},
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

TEST(Probe, ProbeThatNeverWritesIsKilledAndReaped) {
  PrinterScript printer("", "exec sleep 600");
  char line[kProbeLineMax + 1];
  EXPECT_EQ(ProbeResult::kTimedOut, RunProbe(printer.path().c_str(), "Q", "usb://x", 500ms, line));
  EXPECT_TRUE(Gone(printer.pid()));
}

TEST(Probe, ProbeThatNeverExitsAfterItsLineIsKilledAndReaped) {
  PrinterScript printer(tooltest::DeviceIdLine(75), "exec sleep 600");
  char line[kProbeLineMax + 1];
  EXPECT_EQ(ProbeResult::kTimedOut, RunProbe(printer.path().c_str(), "Q", "usb://x", 500ms, line));
  EXPECT_TRUE(Gone(printer.pid()));
}

// Closing the pipe after the line ends a probe that keeps writing.
TEST(Probe, EndlessWriterEndsWithThePipe) {
  PrinterScript printer("", "exec yes");
  char line[kProbeLineMax + 1];
  EXPECT_EQ(ProbeResult::kLine, RunProbe(printer.path().c_str(), "Q", "usb://x", 10s, line));
  EXPECT_STREQ("y\n", line);
  EXPECT_TRUE(Gone(printer.pid()));
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

TEST(Probe, LineCheckStartsAt127Characters) {
  const struct {
    size_t length;
    bool enough;
  } cases[] = {{0, false}, {126, false}, {127, true}, {2048, true}};
  for (const auto& c : cases)
    EXPECT_EQ(c.enough, ProbeLineLongEnough(std::string(c.length, 'x').c_str())) << c.length;
}

}  // namespace
