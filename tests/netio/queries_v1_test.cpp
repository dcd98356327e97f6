// The SNMPv1 device queries: against net-snmp's snmpd serving the name and
// the two private version objects, and against a responder of our own for
// the copies, the retry and answers from elsewhere.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "env/Responder.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "tests/netio/IsolatedNetio.h"
#include "tests/netio/Messages.h"

namespace {

using std::chrono::milliseconds;
using testenv::Reply;

const char kFwOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0";
const char kMcuOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0";
const testmsg::Bytes kFwOidOctets = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0xBE, 0x0F, 0x86, 0x76,
                                     0x82, 0x2C, 0x82, 0x71, 0xC2, 0x53, 0x01, 0x02, 0x01, 0x00};

using Getter = int (CNetIO::*)(char const*, unsigned char, char*, int);

class Queries : public testnetio::IsolatedNetio {};

class QueriesFromSnmpd : public Queries {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
    Queries::SetUp();
  }

  void StartAgent(std::vector<std::string> overrides) {
    testenv::SnmpdConfig config;
    config.sysName = "ink-jet-7";
    config.extraLines = std::move(overrides);
    agent_ = std::make_unique<testenv::Snmpd>(config);
    std::string why;
    ASSERT_TRUE(agent_->Start(&why)) << why;
  }

  std::unique_ptr<testenv::Snmpd> agent_;
};

TEST_F(QueriesFromSnmpd, ReadsEachFactOverBothFamilies) {
  ASSERT_NO_FATAL_FAILURE(
      StartAgent({std::string("override ") + kFwOid + " octet_str \"FW 2.10.3\"",
                  std::string("override ") + kMcuOid + " octet_str \"MCU 0.9\""}));
  const struct {
    const char* what;
    Getter get;
    const char* expected;
  } facts[] = {
      {"name", &CNetIO::TavraNetworkGetPrinterName, "ink-jet-7"},
      {"firmware", &CNetIO::TavraNetworkGetFwVersion, "FW 2.10.3"},
      {"MCU firmware", &CNetIO::TavraNetworkGetFwMCUVersion, "MCU 0.9"},
  };
  for (const char* host : {"127.0.0.1", "::1"}) {
    for (const auto& fact : facts) {
      char out[256];
      memset(out, 'x', sizeof out);
      EXPECT_EQ((netio_.*fact.get)(host, 0, out, sizeof out), 0) << fact.what << " " << host;
      EXPECT_STREQ(out, fact.expected) << fact.what << " " << host;
    }
  }
  // Three copies per get, none retried: the agent answered every first get.
  ASSERT_TRUE(agent_->WaitForRequests(18, std::chrono::seconds(5))) << agent_->Log();
  EXPECT_EQ(agent_->RequestCount(), 18) << agent_->Log();
}

TEST_F(QueriesFromSnmpd, AMissingObjectIsAnEmptyText) {
  ASSERT_NO_FATAL_FAILURE(StartAgent({}));
  for (const char* host : {"127.0.0.1", "::1"}) {
    char out[256] = "earlier";
    EXPECT_EQ(netio_.TavraNetworkGetFwVersion(host, 0, out, sizeof out), 0) << host;
    EXPECT_STREQ(out, "") << host;
  }
}

TEST_F(QueriesFromSnmpd, TheCommunityIsTheCallers) {
  ASSERT_NO_FATAL_FAILURE(StartAgent({}));
  char out[256] = "untouched";
  EXPECT_FALSE(netio_.NetSnmpGetV4("127.0.0.1", "private", "1.3.6.1.2.1.1.5.0", out, sizeof out));
  EXPECT_STREQ(out, "untouched");
  EXPECT_TRUE(netio_.NetSnmpGetV4("127.0.0.1", "public", "1.3.6.1.2.1.1.5.0", out, sizeof out));
  EXPECT_STREQ(out, "ink-jet-7");
}

TEST_F(QueriesFromSnmpd, AnOutputTooSmallIsLeftAlone) {
  ASSERT_NO_FATAL_FAILURE(StartAgent({}));
  // "ink-jet-7" needs 10 octets with its NUL.
  for (int size : {0, 1, 9}) {
    char out[16] = "untouched";
    EXPECT_EQ(netio_.TavraNetworkGetPrinterName("127.0.0.1", 0, out, size), -1) << size;
    EXPECT_STREQ(out, "untouched") << size;
  }
  char out[10];
  EXPECT_EQ(netio_.TavraNetworkGetPrinterName("127.0.0.1", 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "ink-jet-7");
}

// ---- our own responder ----

std::vector<uint8_t> FwAnswer(const std::string& text) {
  return testmsg::Response(kFwOidOctets, 0x04, testmsg::Text(text));
}

struct Row {
  const char* what;
  const char* bind;  // the responder's address
  const char* host;  // what the getter is given
  testenv::ResponderScript script;
  int result;
  const char* out;  // expected output text
  size_t requests;  // datagrams the responder received
};

TEST_F(Queries, CopiesRetryAndStrangers) {
  const auto silent = [](const testenv::Datagram&, size_t) { return std::vector<Reply>{}; };
  // Answers the fourth datagram: the first copy of the second get.
  const auto secondGet = [](const testenv::Datagram&, size_t index) {
    return index == 3 ? std::vector<Reply>{Reply(FwAnswer("FW retry"))} : std::vector<Reply>{};
  };
  Reply stranger(FwAnswer("FW forged"));
  stranger.fromAddress = "127.0.0.3";
  stranger.fromPort = 161;
  Row rows[] = {
      {"IPv4: three copies, no retry", "127.0.0.2", "127.0.0.2", silent, -1, "untouched", 3},
      {"IPv6: one retry of three copies", "::1", "::1", silent, -1, "untouched", 6},
      {"IPv6: the retry's answer counts", "::1", "::1", secondGet, 0, "FW retry", 6},
      {"an answer from another address is no answer", "127.0.0.2", "127.0.0.2",
       testenv::AnswerFirst(stranger), -1, "untouched", 3},
      {"a host name sends nothing", "127.0.0.2", "localhost", silent, -1, "untouched", 0},
  };
  for (auto& row : rows) {
    testenv::Responder printer(row.bind, row.script);
    std::string why;
    ASSERT_TRUE(printer.Start(&why)) << why;
    char out[256] = "untouched";
    EXPECT_EQ(netio_.TavraNetworkGetFwVersion(row.host, 0, out, sizeof out), row.result)
        << row.what;
    EXPECT_STREQ(out, row.out) << row.what;
    if (row.requests) printer.WaitForRequests(row.requests, milliseconds(500));
    EXPECT_EQ(printer.Received().size(), row.requests) << row.what;
    for (const auto& d : printer.Received()) {
      EXPECT_EQ(d.bytes, printer.Received()[0].bytes) << row.what << ": copies of one request";
    }
  }
}

// The GetRequest for sysName.0 with "public": the 40 octets of the SNMPv1 layout.
TEST_F(Queries, PrinterNameSendsTheSysNameRequest) {
  testenv::Responder printer("127.0.0.2",
                             [](const testenv::Datagram&, size_t) { return std::vector<Reply>{}; });
  std::string why;
  ASSERT_TRUE(printer.Start(&why)) << why;
  char out[256];
  EXPECT_EQ(netio_.TavraNetworkGetPrinterName("127.0.0.2", 0, out, sizeof out), -1);
  ASSERT_TRUE(printer.WaitForRequests(3, milliseconds(500)));
  const std::vector<uint8_t> expected = {
      0x30, 0x26, 0x02, 0x01, 0x00, 0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  0xA0,
      0x19, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30, 0x0C,
      0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00, 0x05, 0x00};
  for (const auto& d : printer.Received()) EXPECT_EQ(d.bytes, expected);
}

// Never-set scope: "scope id=0" and no line end, then the receive line.
TEST_F(Queries, TheIpv6GetReportsItsScope) {
  FILE* sink = tmpfile();
  ASSERT_NE(sink, nullptr);
  netio::SetDiagnosticsSink(sink);
  char out[256];
  EXPECT_FALSE(netio_.NetSnmpGetV6("::1", "public", "1.3.6.1.2.1.1.5.0", out, sizeof out));
  netio::SetDiagnosticsSink(nullptr);
  rewind(sink);
  char text[256] = {};
  EXPECT_GT(fread(text, 1, sizeof text - 1, sink), 0u);
  fclose(sink);
  // Nothing answers: the receive gives up with -1 (or 0 at the deadline).
  EXPECT_EQ(std::string(text).rfind("scope id=0NetSnmpGetV4 recvfrom nRecv = ", 0), 0u) << text;
}

}  // namespace
