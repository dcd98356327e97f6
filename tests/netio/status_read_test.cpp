// Reads against scripted responders: copies, waits, strangers, hostile and keyless peers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "env/Responder.h"
#include "tests/netio/IsolatedNetio.h"
#include "tests/netio/Messages.h"
#include "tests/netio/SnmpV3Peer.h"
#include "tests/netio/StatusRecords.h"

namespace {

using namespace testnetio;
using std::chrono::milliseconds;
using testenv::Reply;
using Replies = std::vector<Reply>;

Bytes V1Answer(uint8_t level) {
  return testmsg::Response(testmsg::kDeviceIdOid, 0x04,
                           testmsg::Text(testenv::DeviceIdWithLevel(level)));
}

// A broken answer must not decode the device ID an earlier printer left.
void StaleDeviceId() { strcpy(g_deviceid, testenv::DeviceIdWithLevel(99).c_str()); }

testenv::ResponderScript First(Replies replies) {
  return [=](const testenv::Datagram&, size_t i) { return i == 0 ? replies : Replies{}; };
}
const testenv::ResponderScript kSilent = First({});

int OpenDescriptors() {
  return static_cast<int>(testenv::Run({"/bin/ls", "/proc/self/fd"}).out.size());
}

class Reads : public IsolatedNetio {
 protected:
  testenv::Responder* Start(const std::string& address, testenv::ResponderScript script) {
    responders_.push_back(std::make_unique<testenv::Responder>(address, std::move(script)));
    std::string why;
    EXPECT_TRUE(responders_.back()->Start(&why)) << why;
    return responders_.back().get();
  }
  // SNMPv3: the discovery request draws `toDiscovery`, each authenticated one `toRequest`.
  testenv::Responder* StartV3(const std::string& address, Replies toDiscovery, Replies toRequest) {
    return Start(address, [=](const testenv::Datagram& d, size_t) {
      return Authenticated(d) ? toRequest : toDiscovery;
    });
  }
  static bool Authenticated(const testenv::Datagram& d) {
    const Bytes marker = snmpv3test::Hex("02 02 08 00 04 01");  // msgMaxSize, then msgFlags
    auto at = std::search(d.bytes.begin(), d.bytes.end(), marker.begin(), marker.end());
    return at + 6 < d.bytes.end() && (*(at + 6) & kSnmpV3FlagAuth);
  }
  Bytes V3Answer(uint8_t level) const {
    return snmpv3test::Encode(V3Message(testenv::DeviceIdWithLevel(level)));
  }
  snmpv3test::Message V3Message(const std::string& deviceId) const {
    return snmpv3test::Response(kEngine, Configured().name, keys_.auth, keys_.priv, deviceId);
  }

  const Keys keys_ = LocalisedKeys(kEngine);
  const Bytes report_ = snmpv3test::Encode(snmpv3test::Report(kEngine, 7, 4000));
  std::vector<std::unique_ptr<testenv::Responder>> responders_;
};

// A foreign answer comes from another address or port, the genuine one right behind it.
TEST_F(Reads, SnmpV1ThreeCopiesOneShortWaitAndOnlyThePrintersAnswer) {
  const struct {
    const char* address;
    bool v6Entry;
    const char* foreignAddress;
    uint16_t foreignPort;
  } routes[] = {{"127.0.0.1", false, "127.0.0.3", 161},
                {"127.0.0.2", false, "", 1161},
                {"::1", true, "", 1161},
                {"::1", false, "", 1161}};  // IPv6 text through the IPv4 entry too
  for (const auto& route : routes) {
    const auto read = [&](PRINTER_STATUS* status) {
      return (route.v6Entry ? NetworkReadStatusV6 : NetworkReadStatus)("public", route.address,
                                                                       status);
    };
    PRINTER_STATUS status{};
    testenv::Responder* r = Start(route.address, kSilent);
    EXPECT_EQ(read(&status), 0) << route.address;
    ASSERT_TRUE(r->WaitForRequests(3, milliseconds(2000))) << route.address;
    EXPECT_FALSE(r->WaitForRequests(4, milliseconds(200))) << route.address;
    for (const auto& d : r->Received()) EXPECT_EQ(d.bytes, r->Received()[0].bytes);
    responders_.clear();
    Start(route.address, First({Reply(V1Answer(62), milliseconds(250))}));
    EXPECT_EQ(read(&status), 0) << route.address << ": a late answer is not heard";
    responders_.clear();
    Reply foreign(V1Answer(11));
    foreign.fromAddress = route.foreignAddress;
    foreign.fromPort = route.foreignPort;
    Start(route.address, First({foreign, Reply(V1Answer(22), milliseconds(5))}));
    EXPECT_EQ(read(&status), 1) << route.address;
    EXPECT_EQ(status.blackLevel, 22) << route.address;
    responders_.clear();
  }
}

// Each read's first copy draws one hostile datagram; then strangers ahead of
// the printer, then strangers only. The reads leave no descriptor behind.
TEST_F(Reads, SnmpV1HostileAnswersYieldNoRecord) {
  const Bytes good = V1Answer(0x2A);
  std::vector<Bytes> rows = HostileFrom(good);
  Bytes notAResponse = good, versionTag = good;
  notAResponse[14] = 0xA0;
  versionTag[3] = 0x04;
  using testmsg::Tlv;
  rows.insert(rows.end(),
              {notAResponse, versionTag,
               testmsg::ResponseWithList(testmsg::Lying(
                   0x30, 40, testmsg::Cat({Tlv(0x06, testmsg::kDeviceIdOid), Tlv(0x05, {})}))),
               testmsg::ResponseWithList(testmsg::Binding(testmsg::kDeviceIdOid, 0x05, {}),
                                         "public", 0xA2, 2)});
  Replies strangers(10, After(0, V1Answer(0x55), "127.0.0.3")), strangersFirst = strangers;
  strangersFirst.push_back(Reply(good));
  Start("127.0.0.2", [=](const testenv::Datagram&, size_t index) {
    const size_t read = index / 3;
    if (index % 3) return Replies{};
    return read < rows.size()    ? Replies{Reply(rows[read])}
           : read == rows.size() ? strangersFirst
                                 : strangers;
  });
  const int descriptors = OpenDescriptors();
  for (size_t i = 0; i <= rows.size() + 1; ++i) {
    StaleDeviceId();
    PRINTER_STATUS status = Untouched();
    const bool answered = i == rows.size();
    EXPECT_EQ(NetworkReadStatus("public", "127.0.0.2", &status), answered ? 1 : 0) << "row " << i;
    EXPECT_EQ(RecordBytes(status),
              answered ? testenv::StatusRecord(0x2A) : RecordBytes(Untouched()))
        << "row " << i;
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

// Every authentic answer counts, the last one wins, a broken one spoils
// nothing; a Report and its replay in a flood each draw one request.
TEST_F(Reads, SnmpV3TakesEveryAuthenticAnswerInAFlood) {
  // 140 base64 characters decode to 105 bytes: not a record.
  const std::string shortStatus = testenv::DeviceIdWithLevel(30).substr(0, 21 + 140) + ";";
  Replies toDiscovery, toRequest = {After(0, V3Answer(10)), After(100, V3Answer(0x33)),
                                    After(200, snmpv3test::Encode(V3Message(shortStatus)))};
  for (const Bytes& b : HostileFrom(report_)) toDiscovery.push_back(Reply(b));
  toDiscovery.insert(toDiscovery.begin() + 3, Reply(report_));
  toDiscovery.push_back(Reply(report_));
  Bytes flipped = V3Answer(0x34);
  flipped[flipped.size() - 3] ^= 0x01;
  toRequest.insert(toRequest.begin(), Reply(flipped));
  for (const Bytes& b : HostileFrom(flipped)) toRequest.push_back(After(150, b));
  const int descriptors = OpenDescriptors();
  testenv::Responder* printer = StartV3("127.0.0.2", toDiscovery, toRequest);
  PRINTER_STATUS status = Untouched();
  EXPECT_EQ(NetworkReadStatusSNMPv3("public", "127.0.0.2", &status), 1);
  EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0x33));
  size_t requests = 0;
  for (const auto& d : printer->Received()) requests += Authenticated(d);
  EXPECT_EQ(requests, 2u);
  responders_.clear();
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(Reads, SnmpV3AnswersThatMustNotCount) {
  using snmpv3test::Hex;
  using snmpv3test::Message;
  const auto edited = [&](int level, auto edit) {
    Message m = V3Message(testenv::DeviceIdWithLevel(uint8_t(level)));
    edit(m);
    return snmpv3test::Encode(m);
  };
  const Bytes otherEngine = Hex("80 00 0B 93 03 00 00 00 00 00 00 00 00 00 00 00 3D");
  const Keys stranger = LocalisedKeys(Hex("80 00 0B 93 01")), other = LocalisedKeys(otherEngine);
  // The stranger's Report draws no request; the first code octets of a forgery are the true ones.
  Replies mixed = {After(0, V3Answer(50), "127.0.0.3"),
                   After(20, edited(51, [](Message& m) { m.errorStatus = 2; }))};
  for (size_t authLen : {0, 1, 4, 11})
    mixed.push_back(
        After(40 + 20 * int(authLen), edited(52, [=](Message& m) { m.authLen = authLen; })));
  mixed.push_back(
      After(300, edited(60, [](Message& m) { m.flags = 0, m.authLen = 0, m.salt.clear(); })));
  // An authenticated Report: its counter is no device ID.
  mixed.push_back(After(320, edited(61, [&](Message& m) {
                          m.pduTag = 0xA8;
                          m.bindings = {{Hex("2B 06 01 06 03 0F 01 01 02 00"), Hex("41 01 01")}};
                        })));
  const Replies report = {After(0, report_)};
  const struct {
    const char* what;
    Replies toDiscovery, toRequest;
    size_t received;
  } rows[] = {
      {"strangers, failures, forgeries",
       {After(0, snmpv3test::Encode(snmpv3test::Report(otherEngine, 1, 1)), "127.0.0.3"),
        After(50, report_)},
       mixed,
       2},
      {"engine of another form",
       {After(0, snmpv3test::Encode(snmpv3test::Report(Hex("80 00 1F 88 04 01"), 1, 1)))},
       {},
       1},
      {"msgID of another request",
       report,
       {After(0, edited(1, [](Message& m) { m.msgId = 4242; }))},
       2},
      {"enciphered with another key",
       report,
       {After(0, edited(2, [&](Message& m) { m.privKey = stranger.priv; }))},
       2},
      {"context of another engine",
       report,
       {After(0, edited(3, [](Message& m) { m.contextEngineId = Hex("80 00 0B 93 01"); }))},
       2},
      {"a GetRequest", report, {After(0, edited(4, [](Message& m) { m.pduTag = 0xA0; }))}, 2},
      {"a code under another key",
       report,
       {After(0, edited(5, [&](Message& m) { m.authKey = stranger.auth; }))},
       2},
      {"a genuine answer of another engine",
       report,
       {After(0,
              snmpv3test::Encode(snmpv3test::Response(otherEngine, Configured().name, other.auth,
                                                      other.priv, testenv::DeviceIdWithLevel(6))))},
       2},
  };
  for (const auto& row : rows) {
    testenv::Responder* printer = StartV3("127.0.0.2", row.toDiscovery, row.toRequest);
    SNMPv3MsgID = 0;  // the request then carries msgID 1, as the answers do
    StaleDeviceId();
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(NetworkReadStatusSNMPv3("public", "127.0.0.2", &status), 0) << row.what;
    EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched())) << row.what;
    EXPECT_EQ(printer->Received().size(), row.received) << row.what;
    responders_.clear();
  }
}

// A device query over IPv6 sends three identical copies, then retries and takes
// the retry's answer; over SNMPv3 it takes only the printer's authentic facts.
TEST_F(Reads, QueriesTakeOnlyThePrintersAuthenticFacts) {
  const Bytes fwOid =
      testmsg::Cat({Bytes(testmsg::kDeviceIdOid.begin(), testmsg::kDeviceIdOid.end() - 3),
                    testmsg::Hex("01 02 01 00")});
  testenv::Responder* printer = Start("::1", [&](const testenv::Datagram&, size_t i) {
    return i == 3 ? Replies{Reply(testmsg::Response(fwOid, 0x04, testmsg::Text("FW retry")))}
                  : Replies{};
  });
  char out[256] = "untouched";
  EXPECT_EQ(netio_.TavraNetworkGetFwVersion("::1", 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "FW retry");
  printer->WaitForRequests(6, milliseconds(500));
  EXPECT_EQ(printer->Received().size(), 6u);
  for (const auto& d : printer->Received()) EXPECT_EQ(d.bytes, printer->Received()[0].bytes);
  const auto answer = [&](const char* oid, const std::string& text, auto edit) {
    snmpv3test::Message m = V3Message("");
    unsigned char encoded[64];
    m.bindings = {
        {Bytes(encoded, encoded + CNetIO::oidEncode(oid, encoded)), snmpv3test::Text(text)}};
    edit(m);
    return snmpv3test::Encode(m);
  };
  const auto same = [](snmpv3test::Message&) {};
  const char fwV3[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0",
             mcu[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0";
  printer = StartV3(
      "127.0.0.2", {After(0, report_)},
      {After(0, answer("1.3.6.1.2.1.1.5.0", "forged name",
                       [](snmpv3test::Message& m) { m.flags = 0, m.authLen = 0, m.salt.clear(); })),
       After(20, answer(mcu, "MCU from elsewhere", same), "127.0.0.3"),
       After(40, answer(mcu, "MCU failed", [](snmpv3test::Message& m) { m.errorStatus = 2; })),
       After(60, answer(fwV3, "FW 3.1", same))});
  char name[128] = "untouched", fwText[128] = "untouched", mcuText[128] = "untouched";
  EXPECT_TRUE(netio_.NetSnmpGetV4SNMPv3("127.0.0.2", name, fwText, mcuText, sizeof name));
  EXPECT_EQ(std::string(name) + "/" + fwText + "/" + mcuText, "untouched/FW 3.1/untouched");
  EXPECT_EQ(printer->Received().size(), 2u);
}

// Keyless peers answer with junk every half second and a Report late in the
// discovery loop: a read still ends within its 10 s, a scan within its 30 s
// (the loops' own caps once added up to 19 s and 60 s). Run side by side.
TEST_F(Reads, KeylessPeersCannotHoldAReadOrAScanPastItsDeadline) {
  const auto keyless = [&](const char* address, int reportAt) {
    Replies junk, toDiscovery;
    for (int i = 0; i < 2 * reportAt / 1000 + 20; ++i)
      junk.push_back(After(500 * i, snmpv3test::Hex("30 00")));
    for (int i = 0; i < 2 * reportAt / 1000; ++i)
      toDiscovery.push_back(After(500 * i, snmpv3test::Hex("30 00")));
    toDiscovery.push_back(After(reportAt, report_));
    return Start(address, [=](const testenv::Datagram&, size_t index) {
      return index == 0 ? toDiscovery : index == 1 ? junk : Replies{};
    });
  };
  testenv::Responder* reader = keyless("127.0.0.2", 9000);
  testenv::Responder* scanned = keyless("127.0.0.3", 29000);
  ASSERT_FALSE(HasFailure());
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
