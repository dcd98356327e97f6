// The SNMPv3 device query: name, firmware and MCU versions in one
// authenticated request, against net-snmp's snmpd answering SNMPv3 only, and
// against a responder of our own for partial, forged and foreign answers.
// Every exchange waits out one-second silences: the cases share few of them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "env/Responder.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/Usm.h"
#include "netio/diagnostics.h"
#include "tests/netio/IsolatedNetio.h"
#include "tests/netio/SnmpV3Messages.h"
#include "tests/netio/SnmpV3Peer.h"

namespace {

using namespace snmpv3test;
using namespace testnetio;
using testenv::Reply;

const char kFwOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0";
const char kMcuOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0";

struct Outputs {
  char name[128] = "name untouched";
  char fw[128] = "fw untouched";
  char mcu[128] = "mcu untouched";
};

class QueriesV3 : public testnetio::IsolatedNetio {};

TEST_F(QueriesV3, ReadsTheThreeFactsFromAnAgentThatAnswersOnlySnmpV3) {
  std::string why;
  REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
  testenv::SnmpdConfig config;
  config.v1 = false;
  config.engineIdHex = "80000B9303000000000000002A";
  config.users = {Configured()};
  config.sysName = "ink-jet-7";
  config.extraLines = {std::string("override ") + kFwOid + " octet_str \"FW 2.10.3\"",
                       std::string("override ") + kMcuOid + " octet_str \"MCU 0.9\""};
  testenv::Snmpd agent(config);
  ASSERT_TRUE(agent.Start(&why)) << why;
  SNMPv3MsgID = 10;
  SNMPv3RequestID = 10;
  for (const char* host : {"127.0.0.1", "::1"}) {
    Outputs out;
    EXPECT_EQ(netio_.TavraNetworkGetNameAndFwAndMCUVersion(host, out.name, out.fw, out.mcu,
                                                           sizeof out.name),
              0)
        << host << "\n"
        << agent.Log();
    EXPECT_STREQ(out.name, "ink-jet-7") << host;
    EXPECT_STREQ(out.fw, "FW 2.10.3") << host;
    EXPECT_STREQ(out.mcu, "MCU 0.9") << host;
  }
  // One discovery and one authenticated request per query.
  EXPECT_EQ(SNMPv3MsgID, 14);
  EXPECT_EQ(agent.RequestCount(), 4);
}

// ---- our own responder ----

Bytes Oid(const char* text) {
  Bytes out(128);
  out.resize(static_cast<size_t>(CNetIO::oidEncode(text, out.data())));
  return out;
}

// An authenticated, enciphered Response with these (OID, text) bindings.
Message Answer(const Keys& k, std::vector<std::pair<const char*, std::string>> facts) {
  Message m = Response(kEngine, Configured().name, k.auth, k.priv, "");
  m.bindings.clear();
  for (const auto& f : facts) m.bindings.push_back({Oid(f.first), Text(f.second)});
  return m;
}

// Messages are made before the query starts: the MD5 context is the process's one.
testenv::ResponderScript Script(std::vector<Reply> toDiscovery, std::vector<Reply> toRequest) {
  return [=](const testenv::Datagram&, size_t index) {
    return index == 0 ? toDiscovery : index == 1 ? toRequest : std::vector<Reply>{};
  };
}

TEST_F(QueriesV3, OnlyTheFactsOfAuthenticAnswersAreWritten) {
  const Keys keys = LocalisedKeys(kEngine);
  Message unauthenticated = Answer(keys, {{"1.3.6.1.2.1.1.5.0", "forged name"}});
  unauthenticated.flags = 0;
  unauthenticated.authLen = 0;
  unauthenticated.salt.clear();
  Message failed = Answer(keys, {{kMcuOid, "MCU failed"}});
  failed.errorStatus = 2;
  const std::vector<Reply> toRequest = {
      After(0, Encode(unauthenticated)),
      After(20, Encode(Answer(keys, {{kMcuOid, "MCU from elsewhere"}})), "127.0.0.3"),
      After(40, Encode(failed)),
      After(60, Encode(Answer(keys, {{kFwOid, "FW 3.1"}}))),
  };
  testenv::Responder printer("127.0.0.2",
                             Script({After(0, Encode(Report(kEngine, 7, 4000)))}, toRequest));
  std::string why;
  ASSERT_TRUE(printer.Start(&why)) << why;
  Outputs out;
  EXPECT_TRUE(netio_.NetSnmpGetV4SNMPv3("127.0.0.2", out.name, out.fw, out.mcu, sizeof out.name));
  EXPECT_STREQ(out.name, "name untouched");
  EXPECT_STREQ(out.fw, "FW 3.1");
  EXPECT_STREQ(out.mcu, "mcu untouched");
  EXPECT_EQ(printer.Received().size(), 2u);
  EXPECT_TRUE(printer.Errors().empty());
}

TEST_F(QueriesV3, ReportsThatDrawNoRequest) {
  const Bytes otherVendor = Hex("80 00 0B 92 03 00 00 00 00 00 00 00 00 00 00 00 2A");
  // Our own engine, but the Report comes from another address.
  testenv::Responder printer("127.0.0.2",
                             Script({After(0, Encode(Report(otherVendor, 7, 4000))),
                                     After(10, Encode(Report(kEngine, 7, 4000)), "127.0.0.3")},
                                    {}));
  std::string why;
  ASSERT_TRUE(printer.Start(&why)) << why;
  Outputs out;
  EXPECT_EQ(netio_.TavraNetworkGetNameAndFwAndMCUVersion("127.0.0.2", out.name, out.fw, out.mcu,
                                                         sizeof out.name),
            -1);
  EXPECT_STREQ(out.name, "name untouched");
  EXPECT_STREQ(out.fw, "fw untouched");
  EXPECT_STREQ(out.mcu, "mcu untouched");
  EXPECT_EQ(printer.Received().size(), 1u);
  // A host name is refused before anything is sent.
  EXPECT_EQ(netio_.TavraNetworkGetNameAndFwAndMCUVersion("localhost", out.name, out.fw, out.mcu,
                                                         sizeof out.name),
            -1);
  EXPECT_EQ(printer.Received().size(), 1u);
}

}  // namespace
