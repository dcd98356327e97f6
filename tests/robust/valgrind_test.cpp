// usbink end to end under valgrind: a USB printer behind the probe stand-in,
// net-snmp agents answering SNMPv1 and SNMPv3 only, a flooding responder and
// a silent address, all on the test's own loopback. Every run must end as it
// does without valgrind and leave no invalid access and no definite or
// indirect leak in valgrind's log.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "env/Cupsd.h"
#include "env/Responder.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/SnmpV3.h"
#include "tests/netio/RobustPeer.h"

namespace {

using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

testenv::SnmpdConfig Printer(const std::string& address, bool v1, uint8_t level) {
  _SNMP_PARAM_V3 user{};
  SnmpV3FillCredentials(&user);
  testenv::SnmpdConfig config;
  config.agentAddress = "udp:" + address + ":161";
  config.v1 = v1;
  config.deviceId = testenv::DeviceIdWithLevel(level);
  config.engineIdHex = "80000B930300000000000000" + std::to_string(level);
  config.users = {{user.userName, user.authPassword, user.privPassword}};
  return config;
}

struct Row {
  const char* queue;
  const char* uri;
  int exitCode;
  bool report;
};

TEST(Valgrind, EndToEndRunsAreClean) {
  if (kSanitized) GTEST_SKIP() << "valgrind cannot run a sanitized build; the normal build runs this";
  REQUIRE_ENV(USBINK_STANDIN_READY, "SUPPLYPROBE_PATH lies outside the build tree (scripts/test.sh sets it)");
  const std::string valgrind = testenv::FindProgram("valgrind");
  REQUIRE_ENV(!valgrind.empty(), "valgrind is not installed (scripts/install-deps.sh)");
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
  testenv::Cupsd cupsd;
  REQUIRE_ENV(cupsd.Start(&why), why);

  testenv::Snmpd v1(Printer("127.0.0.2", true, 42)), v3(Printer("127.0.0.3", false, 43));
  ASSERT_TRUE(v1.Start(&why)) << why;
  ASSERT_TRUE(v3.Start(&why)) << why;
  std::vector<testenv::Reply> flood;
  for (const auto& hostile : robust::HostileFrom(robust::Junk(300, 7)))
    flood.push_back(testenv::Reply(hostile.bytes));
  testenv::Responder hostile("127.0.0.4", [flood](const testenv::Datagram&, size_t) {
    return flood;
  });
  ASSERT_TRUE(hostile.Start(&why)) << why;

  testenv::TempDir dir;
  testenv::WriteFile(dir / "probe",
                     "#!/bin/sh\nprintf 'MFG:Acme;CMD:PCL;STS:%s;\\n' '" +
                         testenv::Base64(testenv::StatusRecord(41)) + "'\n",
                     0755);
  const Row rows[] = {
      {"Usb", "usb://Acme/Laser?serial=1", 0, true},
      {"SnmpV1", "socket://127.0.0.2:9100", 0, true},
      {"SnmpV3", "ipp://127.0.0.3/ipp/print", 0, true},
      {"Flood", "lpd://127.0.0.4/queue", 255, false},
      {"Silent", "socket://127.0.0.5", 255, false},
      {"NoAddress", "socket://", 1, false},
  };
  for (const auto& row : rows) ASSERT_TRUE(cupsd.AddQueue(row.queue, row.uri, &why)) << why;

  const std::string tool = std::string(USBINK_BIN_DIR) + "/usbink";
  std::vector<std::string> queues;
  for (const auto& row : rows) queues.push_back(row.queue);
  queues.push_back("NoSuchQueue");
  for (size_t i = 0; i < queues.size(); ++i) {
    const std::string log = dir / (queues[i] + ".valgrind");
    const testenv::RunResult r = testenv::Run(
        {valgrind, "--quiet", "--error-exitcode=99", "--leak-check=full",
         "--show-leak-kinds=definite,indirect", "--errors-for-leak-kinds=definite,indirect",
         "--log-file=" + log, tool, queues[i]},
        {cupsd.ServerEnv(), "USBINK_STANDIN_PROBE=" + (dir / "probe"), "LC_ALL=C"}, 120s);
    const int expected = i < std::size(rows) ? rows[i].exitCode : 255;
    const bool report = i < std::size(rows) && rows[i].report;
    EXPECT_EQ(r.exitCode, expected) << queues[i] << "\n" << testenv::ReadFile(log);
    EXPECT_EQ(r.out.find("<integer>4") != std::string::npos, report) << queues[i] << ": " << r.out;
    EXPECT_EQ(testenv::ReadFile(log), "") << queues[i];
  }
}

}  // namespace
