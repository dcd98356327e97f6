// The status read against net-snmp's snmpd serving the device-ID object.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"

namespace {

class StatusFromSnmpd : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
    netio::SetDiagnosticsSink(nullptr);
  }

  void StartAgent(testenv::SnmpdConfig config) {
    agent_ = std::make_unique<testenv::Snmpd>(std::move(config));
    std::string why;
    ASSERT_TRUE(agent_->Start(&why)) << why;
  }

  std::unique_ptr<testenv::Snmpd> agent_;
};

testenv::SnmpdConfig Printer(uint8_t level) {
  testenv::SnmpdConfig config;
  config.deviceId = testenv::DeviceIdWithLevel(level);
  return config;
}

TEST_F(StatusFromSnmpd, ReadsTheRecordOverBothFamilies) {
  ASSERT_NO_FATAL_FAILURE(StartAgent(Printer(0xB7)));  // bit 7 set: carried, not judged
  const struct {
    const char* what;
    int (*read)(const char*, const char*, PRINTER_STATUS*);
    const char* host;
  } rows[] = {
      {"IPv4", NetworkReadStatus, "127.0.0.1"},
      {"IPv6", NetworkReadStatusV6, "::1"},
      {"IPv6 text through the IPv4 entry", NetworkReadStatus, "::1"},
  };
  for (const auto& row : rows) {
    PRINTER_STATUS status{};
    ASSERT_EQ(row.read("public", row.host, &status), 1) << row.what << "\n" << agent_->Log();
    const auto expected = testenv::StatusRecord(0xB7);
    EXPECT_EQ(std::vector<uint8_t>(&status.blackLevel, &status.blackLevel + sizeof status), expected)
        << row.what;
  }
}

TEST_F(StatusFromSnmpd, WrongCommunityGivesFalse) {
  ASSERT_NO_FATAL_FAILURE(StartAgent(Printer(40)));
  PRINTER_STATUS status{};
  EXPECT_EQ(NetworkReadStatus("private", "127.0.0.1", &status), 0);
  EXPECT_EQ(NetworkReadStatusV6("private", "::1", &status), 0);
  EXPECT_EQ(status.blackLevel, 0);
}

// As the first read of the process: noSuchName with a NULL value is no status.
TEST_F(StatusFromSnmpd, AgentWithoutTheObjectGivesFalse) {
  ASSERT_NO_FATAL_FAILURE(StartAgent(testenv::SnmpdConfig{}));
  PRINTER_STATUS status{};
  EXPECT_EQ(NetworkReadStatus("public", "127.0.0.1", &status), 0);
  EXPECT_EQ(status.blackLevel, 0);
}

TEST_F(StatusFromSnmpd, DeviceIdWithoutStatusFieldGivesFalse) {
  testenv::SnmpdConfig config;
  config.deviceId = "MFG:Acme;CMD:PCL;MDL:Model 1;";
  ASSERT_NO_FATAL_FAILURE(StartAgent(config));
  PRINTER_STATUS status{};
  EXPECT_EQ(NetworkReadStatus("public", "127.0.0.1", &status), 0);
}

TEST_F(StatusFromSnmpd, EveryReadSendsThreeRequests) {
  ASSERT_NO_FATAL_FAILURE(StartAgent(Printer(40)));
  PRINTER_STATUS status{};
  ASSERT_EQ(NetworkReadStatus("public", "127.0.0.1", &status), 1);
  ASSERT_EQ(NetworkReadStatusV6("public", "::1", &status), 1);
  // The agent logs each request it handles; the copies arrive back to back.
  for (int i = 0; i < 100 && agent_->RequestCount() < 6; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(agent_->RequestCount(), 6) << agent_->Log();
}

// Nobody at the address: false once the 50 ms receive runs out. The bound
// below only guards against a read that hangs; speed is the benchmarks' business.
TEST_F(StatusFromSnmpd, NoAgentGivesFalseAfterTheReceiveTimeOut) {
  for (const char* host : {"127.0.0.1", "::1"}) {
    PRINTER_STATUS status{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(NetworkReadStatus("public", host, &status), 0) << host;
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(45)) << host;
    EXPECT_LT(took, std::chrono::seconds(2)) << host;
  }
}

}  // namespace
