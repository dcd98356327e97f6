// Interoperability with net-snmp's snmpd: SNMPv1 and SNMPv3 (MD5/DES authPriv), both families.
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

TEST_F(FromSnmpd, ReadsTheStatusRecordAndTheFactsOverBothProtocolsAndFamilies) {
  // Bit 7 of the level set: carried, not judged.
  testenv::Snmpd* agent = Start(Printer("udp:0.0.0.0:161,udp6:[::]:161", 0xB7));
  ASSERT_FALSE(HasFailure());
  // 200 written as 02 01 C8 reads as -56, which the agent refuses.
  SNMPv3MsgID = SNMPv3RequestID = 200;
  const struct {
    Read read;
    const char* community;
    const char* host;
  } rows[] = {
      {NetworkReadStatus, "public", "127.0.0.1"},
      {NetworkReadStatusV6, "public", "::1"},
      {NetworkReadStatus, "public", "::1"},
      {NetworkReadStatusSNMPv3, "public", "127.0.0.1"},
      {NetworkReadStatusV6SNMPv3, "public", "::1"},
      {NetworkReadStatusSNMPv3, "nobody", "::1"},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(rows[i].read(rows[i].community, rows[i].host, &status), 1) << i << "\n"
                                                                         << agent->Log();
    EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0xB7)) << i;
  }
  using Getter = int (CNetIO::*)(char const*, unsigned char, char*, int);
  const std::pair<Getter, const char*> facts[] = {
      {&CNetIO::TavraNetworkGetPrinterName, "ink-jet-7"},
      {&CNetIO::TavraNetworkGetFwVersion, "FW 2.10.3"},
      {&CNetIO::TavraNetworkGetFwMCUVersion, "MCU 0.9"}};
  for (const char* host : {"127.0.0.1", "::1"}) {
    for (const auto& [get, expected] : facts) {
      char out[256];
      memset(out, 'x', sizeof out);
      EXPECT_EQ((netio_.*get)(host, 0, out, sizeof out), 0) << expected << " " << host;
      EXPECT_STREQ(out, expected) << host;
    }
    char name[128] = "", fw[128] = "", mcu[128] = "";
    EXPECT_EQ(netio_.TavraNetworkGetNameAndFwAndMCUVersion(host, name, fw, mcu, sizeof name), 0)
        << host;
    EXPECT_EQ(std::string(name) + "/" + fw + "/" + mcu, "ink-jet-7/FW 2.10.3/MCU 0.9") << host;
  }
  // Three copies per SNMPv1 read or get; a discovery and an authenticated request per SNMPv3 one.
  EXPECT_EQ(SNMPv3MsgID, 210);
  EXPECT_EQ(salt_low, 5u);
  EXPECT_TRUE(agent->WaitForRequests(15 + 22, seconds(5))) << agent->Log();
  EXPECT_EQ(agent->RequestCount(), 15 + 22) << agent->Log();
  EXPECT_EQ(agent->Log().find("bad msgID"), std::string::npos) << agent->Log();
}

TEST_F(FromSnmpd, AgentsThatMustNotYieldARecord) {
  testenv::SnmpdConfig noObject = Printer("udp:127.0.0.2:161", 1), noField = noObject,
                       otherVendor = Printer("udp:127.0.0.4:161", 3),
                       wrongAuth = Printer("udp:127.0.0.5:161", 4),
                       wrongPriv = Printer("udp:127.0.0.6:161", 5);
  noObject.deviceId = "";
  noObject.extraLines.clear();
  noField.agentAddress = "udp:127.0.0.3:161";
  noField.deviceId = "MFG:Acme;CMD:PCL;MDL:Model 1;";
  otherVendor.engineIdHex = "80000B9203000000000000002A";
  wrongAuth.users[0].authPass[0] ^= 1;
  wrongPriv.users[0].privPass[0] ^= 1;
  const struct {
    testenv::SnmpdConfig* config;
    Read read;
    const char* community;
    const char* host;
    int requests;  // what the agent must have seen
  } rows[] = {
      {&noObject, NetworkReadStatus, "public", "127.0.0.2", 3},  // noSuchName with a NULL value
      {&noField, NetworkReadStatus, "public", "127.0.0.3", 3},
      {&noField, NetworkReadStatus, "private", "127.0.0.3", 6},
      {&otherVendor, NetworkReadStatusSNMPv3, "public", "127.0.0.4",
       1},  // no authenticated request
      {&wrongAuth, NetworkReadStatusSNMPv3, "public", "127.0.0.5", 2},
      {&wrongPriv, NetworkReadStatusSNMPv3, "public", "127.0.0.6", 2},
  };
  std::map<const testenv::SnmpdConfig*, testenv::Snmpd*> started;
  for (const auto& row : rows) {
    if (!started.count(row.config)) started[row.config] = Start(*row.config);
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(row.read(row.community, row.host, &status), 0) << row.host;
    EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched())) << row.host;
    EXPECT_TRUE(started[row.config]->WaitForRequests(row.requests, seconds(5))) << row.host;
    EXPECT_EQ(started[row.config]->RequestCount(), row.requests) << row.host;
  }
  // A missing object is an empty text; an output too small is refused, untouched.
  char out[256] = "earlier";
  EXPECT_EQ(netio_.TavraNetworkGetFwVersion("127.0.0.2", 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "");
  for (int size : {0, 1, 9, 10}) {  // "ink-jet-7" needs 10 octets with its NUL
    char small[16] = "untouched";
    EXPECT_EQ(netio_.TavraNetworkGetPrinterName("127.0.0.2", 0, small, size), size < 10 ? -1 : 0);
    EXPECT_STREQ(small, size < 10 ? "untouched" : "ink-jet-7") << size;
  }
}

}  // namespace
