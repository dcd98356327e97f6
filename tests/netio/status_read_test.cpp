// Reads from net-snmp's snmpd (SNMPv1, SNMPv3 MD5/DES authPriv, both families), then from
// scripted responders: the tool's order, hostile, forged and keyless peers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "env/Responder.h"
#include "env/Snmpd.h"
#include "tests/netio/IsolatedNetio.h"
#include "tests/netio/Messages.h"
#include "tests/netio/SnmpV3Peer.h"
#include "tests/netio/StatusRecords.h"
#include "tool/network_search.h"

namespace {

using namespace testnetio;
using testenv::Reply;
using Replies = std::vector<Reply>;

Bytes V1Answer(uint8_t level) {
  return testmsg::Response(testmsg::kDeviceIdOid, 0x04,
                           testmsg::Text(testenv::DeviceIdWithLevel(level)));
}

class FromSnmpd : public IsolatedNetio {};

TEST_F(FromSnmpd, ReadsTheStatusRecordAndTheFactsOverBothProtocolsAndFamilies) {
  std::string why;
  REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
  testenv::SnmpdConfig config;
  config.engineIdHex = "80000B9303000000000000002A";
  config.users = {testnetio::Configured()};
  config.deviceId = testenv::DeviceIdWithLevel(0xB7);  // bit 7 set: carried, not judged
  config.sysName = "ink-jet-7";
  config.extraLines = {
      "override 1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0 octet_str \"FW 2.10.3\"",
      "override 1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0 octet_str \"MCU 0.9\""};
  testenv::Snmpd agent(config);
  ASSERT_TRUE(agent.Start(&why)) << why;
  // 200 written as 02 01 C8 reads as -56, which the agent refuses.
  SNMPv3MsgID = SNMPv3RequestID = 200;
  using Read = int (*)(const char*, const char*, PRINTER_STATUS*);
  for (const auto& [read, community, host] :
       {std::tuple<Read, const char*, const char*>{NetworkReadStatus, "public", "127.0.0.1"},
        {NetworkReadStatusV6, "public", "::1"},
        {NetworkReadStatusSNMPv3, "nobody", "127.0.0.1"},
        {NetworkReadStatusV6SNMPv3, "public", "::1"}}) {
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(read(community, host, &status), 1) << host << "\n" << agent.Log();
    EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0xB7)) << host;
  }
  // "ink-jet-7" needs 10 octets with its NUL: a shorter output is left untouched.
  for (int size : {9, 10}) {
    char small[16] = "untouched";
    EXPECT_EQ(netio_.TavraNetworkGetPrinterName("::1", 0, small, size), size < 10 ? -1 : 0);
    EXPECT_STREQ(small, size < 10 ? "untouched" : "ink-jet-7") << size;
  }
  char name[128] = "", fw[128] = "", mcu[128] = "";
  EXPECT_EQ(netio_.TavraNetworkGetNameAndFwAndMCUVersion("::1", name, fw, mcu, sizeof name), 0);
  EXPECT_EQ(std::string(name) + "/" + fw + "/" + mcu, "ink-jet-7/FW 2.10.3/MCU 0.9");
  EXPECT_EQ(SNMPv3MsgID, 206);
  EXPECT_EQ(salt_low, 3u);
  EXPECT_EQ(agent.WaitForRequests(12 + 9, std::chrono::seconds(5)), 12 + 9) << agent.Log();
  EXPECT_EQ(agent.Log().find("bad msgID"), std::string::npos) << agent.Log();
}

class Reads : public IsolatedNetio {
 protected:
  testenv::Responder* Start(const std::string& address, testenv::ResponderScript script) {
    responders_.push_back(std::make_unique<testenv::Responder>(address, std::move(script)));
    std::string why;
    EXPECT_TRUE(responders_.back()->Start(&why)) << why;
    return responders_.back().get();
  }

  const Bytes report_ = snmpv3test::Encode(snmpv3test::Report(kEngine, 7, 4000));
  std::vector<std::unique_ptr<testenv::Responder>> responders_;
};

// A printer that answers SNMPv1 is read without waiting on SNMPv3's discovery.
TEST_F(Reads, TheToolAsksSnmpV1First) {
  testenv::Responder* printer = Start("127.0.0.2", [](const testenv::Datagram&, size_t i) {
    return i == 0 ? Replies{{V1Answer(5)}} : Replies{};
  });
  PRINTER_STATUS status{};
  EXPECT_EQ(RunNetworkSearch("socket://127.0.0.2:9100", &status), 0);
  ASSERT_FALSE(printer->Received().empty());
  EXPECT_EQ(printer->Received()[0][4], 0) << "version 0: SNMPv1";
}

// Each read's first copy draws one hostile datagram, the last the answer; no descriptor leaks.
TEST_F(Reads, SnmpV1HostileAnswersYieldNoRecord) {
  const Bytes good = V1Answer(0x2A);
  Bytes junk(65507);
  std::mt19937 random(3);
  for (auto& b : junk) b = static_cast<uint8_t>(random());
  using testmsg::Hex;
  using testmsg::Tlv;
  const Bytes lyingList = testmsg::ResponseWithList(
      testmsg::Lying(0x30, 40, testmsg::Cat({Tlv(0x06, testmsg::kDeviceIdOid), Tlv(0x05, {})})));
  const Bytes allButLast(good.begin(), good.end() - 1), past = Hex("30 84 FF FF FF FF 02 01 00");
  // A well-formed noSuchName answer carries no device ID: the earlier one must not count.
  const Bytes noSuchName = testmsg::ResponseWithList(
      testmsg::Binding(testmsg::kDeviceIdOid, 0x05, {}), "public", 0xA2, 2);
  // The empty datagram reads as 0, like a time-out; junk is the largest UDP datagram.
  const std::vector<Bytes> rows = {{}, junk, allButLast, past, lyingList, noSuchName};
  Start("127.0.0.2", [=](const testenv::Datagram&, size_t index) {
    return index % 3 ? Replies{} : Replies{{index / 3 < rows.size() ? rows[index / 3] : good}};
  });
  const auto descriptors = [] { return testenv::Run({"/bin/ls", "/proc/self/fd"}).out; };
  const std::string before = descriptors();
  for (size_t i = 0; i <= rows.size(); ++i) {
    strcpy(g_deviceid, testenv::DeviceIdWithLevel(99).c_str());  // an earlier printer's
    PRINTER_STATUS status = Untouched();
    const bool answered = i == rows.size();
    EXPECT_EQ(NetworkReadStatus("public", "127.0.0.2", &status), answered ? 1 : 0) << "row " << i;
    EXPECT_EQ(RecordBytes(status),
              answered ? testenv::StatusRecord(0x2A) : RecordBytes(Untouched()))
        << "row " << i;
  }
  EXPECT_EQ(descriptors(), before);
}

// Failures and forgeries around one read; an authenticated Report's counter is no device ID.
TEST_F(Reads, SnmpV3AnswersThatMustNotCount) {
  using snmpv3test::Hex;
  using snmpv3test::Message;
  const Keys keys = LocalisedKeys(kEngine);
  const auto edited = [&](int level, auto edit) {
    Message m = snmpv3test::Response(kEngine, Configured().name, keys.auth, keys.priv,
                                     testenv::DeviceIdWithLevel(uint8_t(level)));
    edit(m);
    return snmpv3test::Encode(m);
  };
  const Keys stranger = LocalisedKeys(Hex("80 00 0B 93 01"));
  const Replies answers = {
      After(20, edited(51, [](Message& m) { m.errorStatus = 2; })),
      After(40, edited(52, [](Message& m) { m.msgId = 4242; })),
      After(60, edited(53, [&](Message& m) { m.privKey = stranger.priv; })),
      After(120, edited(56, [](Message& m) { m.flags = 0, m.authLen = 0, m.salt.clear(); })),
      After(140, edited(57,
                        [](Message& m) {
                          m.pduTag = 0xA8;
                          m.bindings = {{Hex("2B 06 01 06 03 0F 01 01 02 00"), Hex("41 01 01")}};
                        })),
      After(150, edited(58, [](Message& m) { m.authLen = 11; }))};
  const Bytes marker = Hex("02 02 08 00 04 01");  // msgMaxSize, then msgFlags
  testenv::Responder* printer = Start("127.0.0.2", [=](const testenv::Datagram& d, size_t) {
    auto at = std::search(d.begin(), d.end(), marker.begin(), marker.end());
    return at + 6 < d.end() && (*(at + 6) & kSnmpV3FlagAuth) ? answers
                                                             : Replies{After(50, report_)};
  });
  SNMPv3MsgID = 0;  // the request then carries msgID 1, as the answers do
  strcpy(g_deviceid, testenv::DeviceIdWithLevel(99).c_str());
  PRINTER_STATUS status = Untouched();
  EXPECT_EQ(NetworkReadStatusSNMPv3("public", "127.0.0.2", &status), 0);
  EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched()));
  EXPECT_EQ(printer->Received().size(), 2u);
}

// Keyless peers answer with junk every half second and a Report late in the
// discovery loop: a read still ends within its 10 s, a scan within its 30 s
// (the loops' own caps once added up to 19 s and 60 s). Run side by side.
TEST_F(Reads, KeylessPeersCannotHoldAReadOrAScanPastItsDeadline) {
  const auto keyless = [&](const char* address, int reportAt) {
    Replies junk;
    for (int i = 0; i < 2 * reportAt / 1000 + 20; ++i)
      junk.push_back(After(500 * i, snmpv3test::Hex("30 00")));
    Replies toDiscovery(junk.begin(), junk.begin() + 2 * reportAt / 1000);
    toDiscovery.push_back(After(reportAt, report_));
    return Start(address, [=](const testenv::Datagram&, size_t index) {
      return index == 0 ? toDiscovery : index == 1 ? junk : Replies{};
    });
  };
  testenv::Responder* reader = keyless("127.0.0.2", 9000);
  testenv::Responder* scanned = keyless("127.0.0.3", 29000);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    PRINTER_STATUS status = Untouched();
    const bool read = NetworkReadStatusSNMPv3("public", "127.0.0.2", &status) != 0;
    _exit(read || std::chrono::steady_clock::now() - start > std::chrono::seconds(13) ? 1 : 0);
  }
  ASSERT_GT(child, 0);
  int found = 0;
  EXPECT_TRUE(netio_.FindSnmpV3Agent(
      nullptr, "127.0.0.3", nullptr,
      [](char*, char*, void* n) { return ++*static_cast<int*>(n), false; }, &found, false));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(40));
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the read: no record, within 13 s";
  EXPECT_EQ(found, 0);
  EXPECT_EQ(reader->Received().size(), 2u) << "the late Report drew its request";
  EXPECT_EQ(scanned->Received().size(), 2u) << "the late Report drew its request";
}

}  // namespace
