// The SNMPv1 reads against a responder of the tests' own: what they send, how
// long they listen, whose answers they take and what they say about the rest.
#include <gtest/gtest.h>
#include <net/if.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "env/Responder.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "tests/netio/Diagnostics.h"
#include "tests/netio/Messages.h"

namespace {

using namespace testmsg;
using std::chrono::milliseconds;
using testenv::Reply;
using testnetio::Diagnostics;

Bytes StatusAnswer(uint8_t level) {
  return Response(kDeviceIdOid, 0x04, Text(testenv::DeviceIdWithLevel(level)));
}

testenv::ResponderScript Silent() {
  return [](const testenv::Datagram&, size_t) { return std::vector<Reply>{}; };
}

class StatusRead : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  }

  std::unique_ptr<testenv::Responder> Start(const std::string& address,
                                            testenv::ResponderScript script) {
    auto r = std::make_unique<testenv::Responder>(address, std::move(script));
    std::string why;
    EXPECT_TRUE(r->Start(&why)) << why;
    return r;
  }
};

TEST_F(StatusRead, ThreeCopiesAndOneShortWaitOverEveryRoute) {
  unsigned char request[64];
  const int requestSize = netio::BuildStatusRequest("public", request, sizeof request);
  Reply late{StatusAnswer(62), milliseconds(250)};
  const struct {
    const char* what;
    const char* address;
    bool v6Entry;
  } routes[] = {
      {"IPv4", "127.0.0.1", false},
      {"IPv6", "::1", true},
      {"IPv6 text through the IPv4 entry", "::1", false},
  };
  for (const auto& route : routes) {
    const auto read = [&](PRINTER_STATUS* status) {
      return route.v6Entry ? NetworkReadStatusV6("public", route.address, status)
                           : NetworkReadStatus("public", route.address, status);
    };
    PRINTER_STATUS status{};
    {
      auto responder = Start(route.address, Silent());
      EXPECT_EQ(read(&status), 0) << route.what;
      ASSERT_TRUE(responder->WaitForRequests(3, milliseconds(2000))) << route.what;
      EXPECT_FALSE(responder->WaitForRequests(4, milliseconds(200))) << route.what;
      for (const auto& d : responder->Received())
        EXPECT_EQ(d.bytes, Bytes(request, request + requestSize)) << route.what;
    }
    {
      auto responder = Start(route.address, testenv::AnswerFirst(late));
      EXPECT_EQ(read(&status), 0) << route.what << ": a late answer is not heard";
    }
    auto responder = Start(route.address, testenv::AnswerFirst({StatusAnswer(61)}));
    EXPECT_EQ(read(&status), 1) << route.what;
    EXPECT_EQ(status.blackLevel, 61) << route.what;
  }
}

TEST_F(StatusRead, AnswersFromAnotherSenderAreIgnored) {
  const struct {
    const char* what;
    const char* address;
    const char* foreignAddress;
    uint16_t foreignPort;
  } rows[] = {
      {"IPv4, other address", "127.0.0.1", "127.0.0.3", 161},
      {"IPv4, other port", "127.0.0.1", "", 1161},
      {"IPv6, other port", "::1", "", 1161},
  };
  for (const auto& row : rows) {
    Reply foreign{StatusAnswer(11)};
    foreign.fromAddress = row.foreignAddress;
    foreign.fromPort = row.foreignPort;
    // The genuine answer right behind the foreign one is still heard.
    const Reply genuine{StatusAnswer(22), milliseconds(5)};
    auto responder = Start(row.address, [&](const testenv::Datagram&, size_t i) {
      return i == 0 ? std::vector<Reply>{foreign, genuine} : std::vector<Reply>{};
    });
    Diagnostics diagnostics;
    PRINTER_STATUS status{};
    EXPECT_EQ(NetworkReadStatus("public", row.address, &status), 1) << row.what;
    EXPECT_EQ(status.blackLevel, 22) << row.what;
    const std::string from = *row.foreignAddress ? row.foreignAddress : row.address;
    EXPECT_EQ(diagnostics.Refusals(),
              std::vector<std::string>{from + " port " + std::to_string(row.foreignPort) +
                                       ": wrong sender"}) << row.what;
  }
}

// Each refused answer gives false and one line with its sender and reason;
// an earlier printer's device ID is never decoded for it.
TEST_F(StatusRead, HostileAnswersAreRefusedEachWithItsReason) {
  const Bytes good = StatusAnswer(61);
  Bytes notAResponse = good, versionTag = good;
  notAResponse[14] = 0xA0;  // after 30 81 xx, the version and "public"
  versionTag[3] = 0x04;
  const struct {
    const char* what;
    Bytes answer;
    const char* reason;
  } rows[] = {
      {"cut short", Bytes(good.begin(), good.end() - 1), "truncated"},
      {"version not an INTEGER", versionTag, "unexpected tag"},
      {"binding past its list",
       ResponseWithList(Lying(0x30, 40, Cat({Tlv(0x06, kDeviceIdOid), Tlv(0x05, {})}))),
       "length past its container"},
      {"a GetRequest", notAResponse, "not a response"},
      {"noSuchName", ResponseWithList(Binding(kDeviceIdOid, 0x05, {}), "public", 0xA2, 2),
       "no usable value"},
  };
  for (const auto& row : rows) {
    auto responder = Start("127.0.0.1", testenv::AnswerFirst({row.answer}));
    const std::string earlier = testenv::DeviceIdWithLevel(99);
    memcpy(g_deviceid, earlier.c_str(), earlier.size() + 1);
    Diagnostics diagnostics;
    PRINTER_STATUS status{};
    EXPECT_EQ(NetworkReadStatus("public", "127.0.0.1", &status), 0) << row.what;
    EXPECT_EQ(status.blackLevel, 0) << row.what;
    EXPECT_EQ(diagnostics.Refusals(),
              std::vector<std::string>{std::string("127.0.0.1 port 161: ") + row.reason})
        << row.what;
  }
}

// The IPv6 read's lines go to the library's sink, never to standard output.
TEST_F(StatusRead, Ipv6ReadsReportEachStep) {
  PRINTER_STATUS status{};
  {
    Diagnostics diagnostics;
    // Link-local without a scope: the send itself fails.
    ASSERT_EQ(scope_id, 0);
    EXPECT_EQ(NetworkReadStatusV6("public", "fe80::1", &status), 0);
    EXPECT_EQ(diagnostics.Text(), "Sendto nRet = -1, request_oid_len=51\n");
  }
  auto responder = Start("::1", testenv::AnswerFirst({StatusAnswer(61)}));
  const std::string answered =
      "recvfrom nRecv = " + std::to_string(StatusAnswer(61).size()) + "\nNetworkReadStatus response=\n";
  for (const std::string& received : {answered, std::string("recvfrom nRecv = -1\n")}) {
    Diagnostics diagnostics;
    testing::internal::CaptureStdout();
    NetworkReadStatusV6("public", "::1", &status);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(diagnostics.Text(), "Sendto nRet = 51, request_oid_len=51\n" + received);
  }
  netio::SetDiagnosticsSink(nullptr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(NetworkReadStatus("public", "no.such.host", &status), 0);
  EXPECT_EQ(NetworkReadStatusV6("public", "::1", &status), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "")
      << "silenced diagnostics print nothing";
  netio::SetDiagnosticsSink(stderr);
}

// scope_id, set by discovery in a real run, picks the link of a link-local address.
TEST_F(StatusRead, LinkLocalDestinationsCarryTheScopeId) {
  const auto added = testenv::Run({testenv::FindProgram("ip"), "-6", "addr", "add", "fe80::1/64",
                                   "dev", "lo", "nodad"});
  REQUIRE_ENV(added.exitCode == 0, "cannot add fe80::1 to lo: " + added.err);
  const Bytes answer = StatusAnswer(61);
  auto responder = Start("fe80::1%lo", [&](const testenv::Datagram&, size_t) {
    return std::vector<Reply>{Reply(answer)};
  });
  PRINTER_STATUS status{};
  scope_id = 999;  // no such interface: the send fails
  EXPECT_EQ(NetworkReadStatusV6("public", "fe80::1", &status), 0);
  EXPECT_FALSE(responder->WaitForRequests(1, milliseconds(100)));
  scope_id = static_cast<int>(if_nametoindex("lo"));
  EXPECT_EQ(NetworkReadStatusV6("public", "fe80::1", &status), 1);
  EXPECT_EQ(NetworkReadStatus("public", "fe80::1", &status), 1);
  EXPECT_EQ(status.blackLevel, 61);
  scope_id = 0;
}

// The device queries: three copies, one retry over IPv6, strangers unheard.
TEST_F(StatusRead, QueriesCopiesRetryAndStrangers) {
  const Bytes fwOid = Cat({Bytes(kDeviceIdOid.begin(), kDeviceIdOid.end() - 3), Hex("01 02 01 00")});
  const auto fw = [&](const char* text) { return Response(fwOid, 0x04, Text(text)); };
  // Answers the fourth datagram: the first copy of the second get.
  const auto secondGet = [&](const testenv::Datagram&, size_t index) {
    return index == 3 ? std::vector<Reply>{Reply(fw("FW retry"))} : std::vector<Reply>{};
  };
  Reply stranger(fw("FW forged"));
  stranger.fromAddress = "127.0.0.3";
  stranger.fromPort = 161;
  const struct {
    const char* what;
    const char* bind;  // the responder's address
    const char* host;  // what the getter is given
    testenv::ResponderScript script;
    int result;
    const char* out;
    size_t requests;
  } rows[] = {
      {"IPv4: three copies, no retry", "127.0.0.2", "127.0.0.2", Silent(), -1, "untouched", 3},
      {"IPv6: one retry of three copies", "::1", "::1", Silent(), -1, "untouched", 6},
      {"IPv6: the retry's answer counts", "::1", "::1", secondGet, 0, "FW retry", 6},
      {"an answer from another address is no answer", "127.0.0.2", "127.0.0.2",
       testenv::AnswerFirst(stranger), -1, "untouched", 3},
      {"a host name sends nothing", "127.0.0.2", "localhost", Silent(), -1, "untouched", 0},
  };
  CNetIO netio;
  netio::SetDiagnosticsSink(nullptr);
  for (const auto& row : rows) {
    auto printer = Start(row.bind, row.script);
    char out[256] = "untouched";
    EXPECT_EQ(netio.TavraNetworkGetFwVersion(row.host, 0, out, sizeof out), row.result) << row.what;
    EXPECT_STREQ(out, row.out) << row.what;
    if (row.requests) printer->WaitForRequests(row.requests, milliseconds(500));
    EXPECT_EQ(printer->Received().size(), row.requests) << row.what;
    for (const auto& d : printer->Received())
      EXPECT_EQ(d.bytes, printer->Received()[0].bytes) << row.what << ": copies of one request";
  }
  // Never-set scope: "scope id=0" and no line end, then the receive line.
  Diagnostics diagnostics;
  char out[256];
  EXPECT_FALSE(netio.NetSnmpGetV6("::1", "public", "1.3.6.1.2.1.1.5.0", out, sizeof out));
  EXPECT_EQ(diagnostics.Text().rfind("scope id=0NetSnmpGetV4 recvfrom nRecv = ", 0), 0u)
      << diagnostics.Text();
}

}  // namespace
