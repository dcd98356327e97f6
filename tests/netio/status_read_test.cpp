// The status read against a responder of the tests' own: what the read sends,
// how long it listens, and whose answer it takes.
#include <gtest/gtest.h>
#include <net/if.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "Messages.h"
#include "env/Responder.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "tests/netio/Diagnostics.h"

namespace {

using namespace testmsg;
using std::chrono::milliseconds;
using testenv::Reply;
using testenv::Responder;
using testnetio::Diagnostics;

const Bytes kStatusRequest = {
    0x30, 0x31, 0x02, 0x01, 0x00, 0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',
    0xA0, 0x24, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x19,
    0x30, 0x17, 0x06, 0x13, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0xBE, 0x0F, 0x86,
    0x76, 0x82, 0x2C, 0x82, 0x71, 0xC2, 0x53, 0x01, 0x01, 0x00, 0x05, 0x00};

Bytes StatusAnswer(uint8_t level) {
  return Response(kDeviceIdOid, 0x04, Text(testenv::DeviceIdWithLevel(level)));
}

class StatusRead : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  }

  // Starts a responder on `address`:161 or fails the test.
  std::unique_ptr<Responder> Start(const std::string& address, testenv::ResponderScript script) {
    auto r = std::make_unique<Responder>(address, std::move(script));
    std::string why;
    EXPECT_TRUE(r->Start(&why)) << why;
    return r;
  }
};

testenv::ResponderScript Silent() {
  return [](const testenv::Datagram&, size_t) { return std::vector<Reply>{}; };
}

enum class Entry { kV4, kV6, kV4WithIpv6Text };

struct Route {
  const char* name;
  const char* address;
  Entry entry;
};

const Route kRoutes[] = {
    {"IPv4", "127.0.0.1", Entry::kV4},
    {"IPv6", "::1", Entry::kV6},
    {"IPv6 text through the IPv4 entry", "::1", Entry::kV4WithIpv6Text},
};

int Read(const Route& route, PRINTER_STATUS* status, const char* community = "public") {
  return route.entry == Entry::kV6 ? NetworkReadStatusV6(community, route.address, status)
                                   : NetworkReadStatus(community, route.address, status);
}

TEST_F(StatusRead, SendsThreeIdenticalCopiesOfThe51Octets) {
  for (const auto& route : kRoutes) {
    auto responder = Start(route.address, Silent());
    PRINTER_STATUS status{};
    EXPECT_EQ(Read(route, &status), 0) << route.name;
    ASSERT_TRUE(responder->WaitForRequests(3, milliseconds(2000))) << route.name;
    EXPECT_FALSE(responder->WaitForRequests(4, milliseconds(200))) << route.name;
    for (const auto& d : responder->Received()) EXPECT_EQ(d.bytes, kStatusRequest) << route.name;
  }
}

TEST_F(StatusRead, DecodesTheAnswer) {
  for (const auto& route : kRoutes) {
    auto responder = Start(route.address, testenv::AnswerFirst({StatusAnswer(61)}));
    PRINTER_STATUS status{};
    EXPECT_EQ(Read(route, &status), 1) << route.name;
    EXPECT_EQ(status.blackLevel, 61) << route.name;
  }
}

TEST_F(StatusRead, ALateAnswerIsNotHeard) {
  for (const auto& route : kRoutes) {
    Reply late{StatusAnswer(61)};
    late.delay = milliseconds(250);
    auto responder = Start(route.address, testenv::AnswerFirst(late));
    PRINTER_STATUS status{};
    EXPECT_EQ(Read(route, &status), 0) << route.name;
    EXPECT_EQ(status.blackLevel, 0) << route.name;
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
    {
      auto responder = Start(row.address, testenv::AnswerFirst(foreign));
      Diagnostics diagnostics;
      PRINTER_STATUS status{};
      EXPECT_EQ(NetworkReadStatus("public", row.address, &status), 0) << row.what;
      EXPECT_TRUE(responder->Errors().empty()) << row.what << ": " << responder->Errors()[0];
      const std::string from = *row.foreignAddress ? row.foreignAddress : row.address;
      EXPECT_EQ(diagnostics.Refusals(),
                std::vector<std::string>{from + " port " + std::to_string(row.foreignPort) +
                                         ": wrong sender"})
          << row.what;
    }
    // The genuine answer right behind the foreign one is still heard.
    Reply genuine{StatusAnswer(22)};
    genuine.delay = milliseconds(5);
    auto responder = Start(row.address, [&](const testenv::Datagram&, size_t i) {
      return i == 0 ? std::vector<Reply>{foreign, genuine} : std::vector<Reply>{};
    });
    PRINTER_STATUS status{};
    EXPECT_EQ(NetworkReadStatus("public", row.address, &status), 1) << row.what;
    EXPECT_EQ(status.blackLevel, 22) << row.what;
  }
}

// Each refused answer gives false and one line with its sender and reason.
TEST_F(StatusRead, HostileAnswersAreRefusedEachWithItsReason) {
  const Bytes good = StatusAnswer(61);
  Bytes cut(good.begin(), good.end() - 1);
  Bytes notAResponse = good;
  notAResponse[14] = 0xA0;  // after 30 81 xx, the version and "public"
  Bytes versionTag = good;
  versionTag[3] = 0x04;
  const struct {
    const char* what;
    Bytes answer;
    const char* reason;
  } rows[] = {
      {"cut short", cut, "truncated"},
      {"empty message", {0x30, 0x00}, "truncated"},
      {"version not an INTEGER", versionTag, "unexpected tag"},
      {"message shorter than the datagram", Bytes(4024, 0x30), "length past its container"},
      {"binding past its list",
       ResponseWithList(Lying(0x30, 40, Cat({Tlv(0x06, kDeviceIdOid), Tlv(0x05, {})}))),
       "length past its container"},
      {"a GetRequest", notAResponse, "not a response"},
      {"no status field", Response(kDeviceIdOid, 0x04, Text("MFG:Acme;")), "no usable value"},
  };
  for (const auto& row : rows) {
    auto responder = Start("127.0.0.1", testenv::AnswerFirst({row.answer}));
    Diagnostics diagnostics;
    PRINTER_STATUS status{};
    EXPECT_EQ(NetworkReadStatus("public", "127.0.0.1", &status), 0) << row.what;
    EXPECT_EQ(diagnostics.Refusals(),
              std::vector<std::string>{std::string("127.0.0.1 port 161: ") + row.reason})
        << row.what;
  }
}

// One read's device ID must never serve as the next printer's.
TEST_F(StatusRead, ADeviceIdIsNeverCarriedToTheNextPrinter) {
  auto first = Start("127.0.0.1", testenv::AnswerFirst({StatusAnswer(61)}));
  const Bytes noSuchName = ResponseWithList(Binding(kDeviceIdOid, 0x05, {}), "public", 0xA2, 2);
  auto second = Start("127.0.0.2", testenv::AnswerFirst({noSuchName}));
  PRINTER_STATUS a{}, b{};
  ASSERT_EQ(NetworkReadStatus("public", "127.0.0.1", &a), 1);
  EXPECT_EQ(NetworkReadStatus("public", "127.0.0.2", &b), 0);
  EXPECT_EQ(b.blackLevel, 0);
}

TEST_F(StatusRead, CommunityLongerThan84IsRefused) {
  auto responder = Start("127.0.0.1", Silent());
  PRINTER_STATUS status{};
  EXPECT_EQ(NetworkReadStatus("public", "127.0.0.1", &status), 0);
  ASSERT_TRUE(responder->WaitForRequests(3, milliseconds(2000)));
  EXPECT_EQ(NetworkReadStatus(std::string(85, 'c').c_str(), "127.0.0.1", &status), 0);
  EXPECT_EQ(NetworkReadStatusV6(std::string(85, 'c').c_str(), "::1", &status), 0);
  const std::string longest(84, 'c');
  EXPECT_EQ(NetworkReadStatus(longest.c_str(), "127.0.0.1", &status), 0);
  ASSERT_TRUE(responder->WaitForRequests(6, milliseconds(2000)));
  EXPECT_FALSE(responder->WaitForRequests(7, milliseconds(200)));
  const auto received = responder->Received();
  EXPECT_EQ(received.back().bytes.size(), 45u + 84u);
  EXPECT_EQ(Bytes(received.back().bytes.begin() + 7, received.back().bytes.begin() + 91),
            Text(longest));
}

// The IPv6 read's lines go to the library's sink, never to standard output.
TEST_F(StatusRead, Ipv6LinesGoToTheDiagnosticsSink) {
  auto responder = Start("::1", testenv::AnswerFirst({StatusAnswer(61)}));
  Diagnostics diagnostics;
  testing::internal::CaptureStdout();
  PRINTER_STATUS status{};
  EXPECT_EQ(NetworkReadStatusV6("public", "::1", &status), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  const std::string answerSize = std::to_string(StatusAnswer(61).size());
  EXPECT_EQ(diagnostics.Text(), "Sendto nRet = 51, request_oid_len=51\nrecvfrom nRecv = " +
                                    answerSize + "\nNetworkReadStatus response=\n");
}

TEST_F(StatusRead, Ipv6LinesReportAFailedSendAndAMissingAnswer) {
  Diagnostics diagnostics;
  PRINTER_STATUS status{};
  // Link-local without a scope: the send itself fails.
  ASSERT_EQ(scope_id, 0);
  EXPECT_EQ(NetworkReadStatusV6("public", "fe80::1", &status), 0);
  EXPECT_EQ(diagnostics.Text(), "Sendto nRet = -1, request_oid_len=51\n");
  auto responder = Start("::1", Silent());
  Diagnostics second;
  EXPECT_EQ(NetworkReadStatusV6("public", "::1", &status), 0);
  EXPECT_EQ(second.Text(), "Sendto nRet = 51, request_oid_len=51\nrecvfrom nRecv = -1\n");
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

TEST_F(StatusRead, SilencedDiagnosticsPrintNothing) {
  netio::SetDiagnosticsSink(nullptr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  PRINTER_STATUS status{};
  EXPECT_EQ(NetworkReadStatus("public", "no.such.host", &status), 0);
  EXPECT_EQ(NetworkReadStatusV6("public", "::1", &status), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  netio::SetDiagnosticsSink(stderr);
}

}  // namespace
