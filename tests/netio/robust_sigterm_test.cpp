// usbink asks SNMPv1, then SNMPv3; SIGTERM mid-read kills it without a report.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "env/Cupsd.h"
#include "env/Responder.h"
#include "env/TestEnv.h"

namespace {

using std::chrono::seconds;

TEST(RobustTool, SigtermMidReadEndsTheToolWithoutAReport) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  const std::string tool = std::string(USBINK_BIN_DIR) + "/usbink";
  ASSERT_EQ(access(tool.c_str(), X_OK), 0) << tool << " is not built";
  testenv::Cupsd cupsd;
  REQUIRE_ENV(cupsd.Start(&why), why);
  ASSERT_TRUE(cupsd.AddQueue("Silent", "socket://127.0.0.2:9100", &why)) << why;
  testenv::Responder printer(
      "127.0.0.2", [](const testenv::Datagram&, size_t) { return std::vector<testenv::Reply>{}; });
  ASSERT_TRUE(printer.Start(&why)) << why;
  testenv::TempDir dir;
  testenv::Process run({tool, "Silent"}, {cupsd.ServerEnv()}, dir / "usbink.log");
  ASSERT_TRUE(printer.WaitForRequests(4, seconds(10))) << run.Log();
  const auto sent = printer.Received();
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(sent[i].bytes[4], i < 3 ? 0 : 3) << "version of request " << i;
  ASSERT_TRUE(run.running()) << run.Log();
  // Stop sends SIGTERM and falls back to SIGKILL only after a grace period.
  const int status = run.Stop();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
      << "wait status " << status << "\n"
      << run.Log();
  EXPECT_EQ(run.Log().find("plist"), std::string::npos) << run.Log();
}

}  // namespace
