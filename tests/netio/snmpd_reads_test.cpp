// The reads against net-snmp's snmpd, once per protocol: the status record and
// the device queries over SNMPv1 and SNMPv3 (MD5/DES, authPriv), both families.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "tests/netio/IsolatedNetio.h"
#include "tests/netio/SnmpV3Peer.h"
#include "tests/netio/StatusRecords.h"

namespace {

using std::chrono::seconds;
using testnetio::RecordBytes;
using testnetio::Untouched;
using Read = int (*)(const char*, const char*, PRINTER_STATUS*);

const char kFwOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0";
const char kMcuOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0";

// Answers SNMPv1 with "public" and SNMPv3 as the configured user.
testenv::SnmpdConfig Printer(const std::string& address, uint8_t level) {
  testenv::SnmpdConfig config;
  config.agentAddress = address;
  config.engineIdHex = "80000B9303000000000000002A";
  config.users = {testnetio::Configured()};
  config.deviceId = testenv::DeviceIdWithLevel(level);
  config.sysName = "ink-jet-7";
  config.extraLines = {std::string("override ") + kFwOid + " octet_str \"FW 2.10.3\"",
                       std::string("override ") + kMcuOid + " octet_str \"MCU 0.9\""};
  return config;
}

class FromSnmpd : public testnetio::IsolatedNetio {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
    IsolatedNetio::SetUp();
  }

  testenv::Snmpd* Start(const testenv::SnmpdConfig& config) {
    agents_.push_back(std::make_unique<testenv::Snmpd>(config));
    std::string why;
    EXPECT_TRUE(agents_.back()->Start(&why)) << why;
    return agents_.back().get();
  }

  std::vector<std::unique_ptr<testenv::Snmpd>> agents_;
};

TEST_F(FromSnmpd, ReadsTheStatusRecordOverBothProtocolsAndFamilies) {
  // Bit 7 of the level set: carried, not judged.
  testenv::Snmpd* agent = Start(Printer("udp:0.0.0.0:161,udp6:[::]:161", 0xB7));
  ASSERT_FALSE(HasFailure());
  // 200 written as 02 01 C8 reads as -56, which the agent refuses.
  SNMPv3MsgID = SNMPv3RequestID = 200;
  const struct {
    const char* what;
    Read read;
    const char* community;
    const char* host;
  } rows[] = {
      {"SNMPv1, IPv4", NetworkReadStatus, "public", "127.0.0.1"},
      {"SNMPv1, IPv6", NetworkReadStatusV6, "public", "::1"},
      {"SNMPv1, IPv6 text through the IPv4 entry", NetworkReadStatus, "public", "::1"},
      {"SNMPv3, IPv4", NetworkReadStatusSNMPv3, "public", "127.0.0.1"},
      {"SNMPv3, IPv6", NetworkReadStatusV6SNMPv3, "public", "::1"},
      {"SNMPv3, IPv6 text through the IPv4 entry, any community", NetworkReadStatusSNMPv3,
       "nobody", "::1"},
  };
  for (const auto& row : rows) {
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(row.read(row.community, row.host, &status), 1) << row.what << "\n" << agent->Log();
    EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0xB7)) << row.what;
  }
  // Three copies per SNMPv1 read; one discovery and one authenticated request per SNMPv3 read.
  EXPECT_EQ(SNMPv3MsgID, 206);
  EXPECT_EQ(SNMPv3RequestID, 206);
  EXPECT_EQ(salt_low, 3u);
  EXPECT_TRUE(agent->WaitForRequests(15, seconds(5))) << agent->Log();
  EXPECT_EQ(agent->RequestCount(), 15) << agent->Log();
  EXPECT_EQ(agent->Log().find("bad msgID"), std::string::npos) << agent->Log();
}

TEST_F(FromSnmpd, AgentsThatMustNotYieldARecord) {
  testenv::SnmpdConfig noObject = Printer("udp:127.0.0.2:161", 1), noField = noObject,
                       otherVendor = Printer("udp:127.0.0.4:161", 3),
                       wrongAuth = Printer("udp:127.0.0.5:161", 4),
                       wrongPriv = Printer("udp:127.0.0.6:161", 5);
  noObject.deviceId = "";
  noField.agentAddress = "udp:127.0.0.3:161";
  noField.deviceId = "MFG:Acme;CMD:PCL;MDL:Model 1;";
  otherVendor.engineIdHex = "80000B9203000000000000002A";
  wrongAuth.users[0].authPass[0] ^= 1;
  wrongPriv.users[0].privPass[0] ^= 1;
  const struct {
    const char* what;
    testenv::SnmpdConfig* config;
    Read read;
    const char* community;
    const char* host;
    int requests;  // what the agent must have seen
  } rows[] = {
      {"noSuchName with a NULL value", &noObject, NetworkReadStatus, "public", "127.0.0.2", 3},
      {"a device ID without a status field", &noField, NetworkReadStatus, "public", "127.0.0.3",
       3},
      {"another community", &noField, NetworkReadStatus, "private", "127.0.0.3", 6},
      {"engine ID 80 00 0B 92: no authenticated request", &otherVendor, NetworkReadStatusSNMPv3,
       "public", "127.0.0.4", 1},
      {"another authentication password", &wrongAuth, NetworkReadStatusSNMPv3, "public",
       "127.0.0.5", 2},
      {"another privacy password", &wrongPriv, NetworkReadStatusSNMPv3, "public", "127.0.0.6", 2},
      {"no agent", nullptr, NetworkReadStatus, "public", "127.0.0.7", 0},
      {"no agent", nullptr, NetworkReadStatusSNMPv3, "public", "127.0.0.7", 0},
  };
  std::map<const testenv::SnmpdConfig*, testenv::Snmpd*> started;
  for (const auto& row : rows) {
    if (row.config && !started.count(row.config)) started[row.config] = Start(*row.config);
    testenv::Snmpd* agent = row.config ? started[row.config] : nullptr;
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(row.read(row.community, row.host, &status), 0) << row.what;
    EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched())) << row.what;
    if (agent) {
      EXPECT_TRUE(agent->WaitForRequests(row.requests, seconds(5))) << row.what;
      EXPECT_EQ(agent->RequestCount(), row.requests) << row.what;
    }
  }
}

TEST_F(FromSnmpd, ReadsTheDeviceFactsOverBothProtocols) {
  testenv::Snmpd* agent = Start(Printer("udp:0.0.0.0:161,udp6:[::]:161", 0));
  ASSERT_FALSE(HasFailure());
  using Getter = int (CNetIO::*)(char const*, unsigned char, char*, int);
  const struct {
    const char* what;
    Getter get;
    const char* expected;
  } facts[] = {
      {"name", &CNetIO::TavraNetworkGetPrinterName, "ink-jet-7"},
      {"firmware", &CNetIO::TavraNetworkGetFwVersion, "FW 2.10.3"},
      {"MCU firmware", &CNetIO::TavraNetworkGetFwMCUVersion, "MCU 0.9"},
  };
  SNMPv3MsgID = 10;
  for (const char* host : {"127.0.0.1", "::1"}) {
    for (const auto& fact : facts) {
      char out[256];
      memset(out, 'x', sizeof out);
      EXPECT_EQ((netio_.*fact.get)(host, 0, out, sizeof out), 0) << fact.what << " " << host;
      EXPECT_STREQ(out, fact.expected) << fact.what << " " << host;
    }
    char name[128] = "", fw[128] = "", mcu[128] = "";
    EXPECT_EQ(netio_.TavraNetworkGetNameAndFwAndMCUVersion(host, name, fw, mcu, sizeof name), 0)
        << host << "\n" << agent->Log();
    EXPECT_EQ(std::string(name) + "/" + fw + "/" + mcu, "ink-jet-7/FW 2.10.3/MCU 0.9") << host;
  }
  // Three copies per SNMPv1 get, none retried; one discovery and one
  // authenticated request per SNMPv3 query. The log lags the answers.
  EXPECT_EQ(SNMPv3MsgID, 14);
  ASSERT_TRUE(agent->WaitForRequests(22, seconds(5))) << agent->Log();
  EXPECT_EQ(agent->RequestCount(), 22) << agent->Log();
}

TEST_F(FromSnmpd, SnmpV1QueriesKeepWithinTheirOutput) {
  testenv::SnmpdConfig config = Printer("udp:0.0.0.0:161,udp6:[::]:161", 0);
  config.extraLines.clear();
  Start(config);
  ASSERT_FALSE(HasFailure());
  for (const char* host : {"127.0.0.1", "::1"}) {
    char out[256] = "earlier";
    EXPECT_EQ(netio_.TavraNetworkGetFwVersion(host, 0, out, sizeof out), 0) << host;
    EXPECT_STREQ(out, "") << host << ": a missing object is an empty text";
  }
  char out[256] = "untouched";
  EXPECT_FALSE(netio_.NetSnmpGetV4("127.0.0.1", "private", "1.3.6.1.2.1.1.5.0", out, sizeof out));
  EXPECT_STREQ(out, "untouched");
  EXPECT_TRUE(netio_.NetSnmpGetV4("127.0.0.1", "public", "1.3.6.1.2.1.1.5.0", out, sizeof out));
  EXPECT_STREQ(out, "ink-jet-7");
  // "ink-jet-7" needs 10 octets with its NUL.
  for (int size : {0, 1, 9, 10}) {
    char small[16] = "untouched";
    EXPECT_EQ(netio_.TavraNetworkGetPrinterName("127.0.0.1", 0, small, size), size < 10 ? -1 : 0);
    EXPECT_STREQ(small, size < 10 ? "untouched" : "ink-jet-7") << size;
  }
}

}  // namespace
