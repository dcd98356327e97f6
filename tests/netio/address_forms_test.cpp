// What every entry point of the library refuses before a socket exists:
// address texts outside the one numeric rule (the resolver's laxer forms
// would reach another host, a name would become a broadcast), and for
// discovery an OID that does not encode or a community too long to send.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "tests/netio/Diagnostics.h"
#include "tests/netio/SocketCount.h"

namespace {

using testnetio::g_sockets;
using Find = bool (CNetIO::*)(char const*, char const*, char const*, SearchAgentCallback, void*,
                              bool);

bool Found(char*, char*, void* context) {
  ++*static_cast<int*>(context);
  return false;
}

// A discovery method's refusal: its result `result`, and nothing found.
std::function<bool(CNetIO&, const char*)> Discover(Find find, const char* community = "public",
                                                    const char* oid = "1.3.6.1.4.1",
                                                    bool result = true) {
  return [=](CNetIO& n, const char* h) {
    int found = 0;
    return (n.*find)(community, h, oid, Found, &found, true) == result && found == 0;
  };
}

class Refusal : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  }
  void Expect(const char* what, const char* host,
              const std::function<bool(CNetIO&, const char*)>& refuses) {
    CNetIO netio;
    g_sockets = 0;
    EXPECT_TRUE(refuses(netio, host)) << what << ": " << host;
    EXPECT_EQ(g_sockets, 0) << what << ": " << host;
  }
  testnetio::Diagnostics diagnostics_;
};

TEST_F(Refusal, AddressFormsAtEveryEntryPoint) {
  const struct {
    const char* what;
    std::function<bool(CNetIO&, const char*)> refuses;
  } entries[] = {
      {"status v1",
       [](CNetIO&, const char* h) { return NetworkReadStatus("public", h, nullptr) == 0; }},
      {"status v1, IPv6",
       [](CNetIO&, const char* h) { return NetworkReadStatusV6("public", h, nullptr) == 0; }},
      {"status v3",
       [](CNetIO&, const char* h) {
         PRINTER_STATUS s;
         return NetworkReadStatusSNMPv3("public", h, &s) == 0 &&
                NetworkReadStatusV6SNMPv3("public", h, &s) == 0;
       }},
      {"name v1",
       [](CNetIO& n, const char* h) {
         char out[64];
         return n.TavraNetworkGetPrinterName(h, 0, out, sizeof out) == -1 &&
                !n.NetSnmpGetV4(h, "public", "1.3.6.1.2.1.1.5.0", out, sizeof out) &&
                !n.NetSnmpGetV6(h, "public", "1.3.6.1.2.1.1.5.0", out, sizeof out);
       }},
      {"facts v3",
       [](CNetIO& n, const char* h) {
         char a[64], b[64], c[64];
         return n.TavraNetworkGetNameAndFwAndMCUVersion(h, a, b, c, 64) == -1;
       }},
      {"connect", [](CNetIO& n, const char* h) { return n.NetworkConnect(h, 9100) == -1; }},
      {"discover v1", Discover(&CNetIO::FindSnmpAgent)},
      {"discover v1, IPv6", Discover(&CNetIO::FindSnmpAgentV6_)},
      {"discover v1, scan", Discover(&CNetIO::FindSnmpAgentV6)},
      {"discover v3", Discover(&CNetIO::FindSnmpV3Agent)},
      {"discover v3, IPv6", Discover(&CNetIO::FindSnmpV3AgentV6_)},
  };
  for (const char* form : {"127.1", "010.0.0.1", "1.2.3.4%lo", "fd00::1%lo", "fe80::1%nosuchif",
                           "localhost", "127.0.0.1 ", ""}) {
    for (const auto& entry : entries) Expect(entry.what, form, entry.refuses);
  }
  // The count does see the library's sockets: a read of a dotted quad opens one.
  g_sockets = 0;
  PRINTER_STATUS status;
  EXPECT_EQ(NetworkReadStatus("public", "127.0.0.1", &status), 0);
  EXPECT_EQ(g_sockets, 1);
}

TEST_F(Refusal, DiscoveryOidsAndCommunitiesThatCannotBeSent) {
  const std::string tooLong(96, 'c');
  const char* c = tooLong.c_str();
  Expect("letter in the OID", "255.255.255.255",
         Discover(&CNetIO::FindSnmpAgent, "", "1.3.a", false));
  Expect("one arc only", "ff02::1", Discover(&CNetIO::FindSnmpAgentV6_, "", "1", false));
  Expect("letter, scan", "ff02::1", Discover(&CNetIO::FindSnmpAgentV6, "", "x", false));
  Expect("community over 95 octets", "255.255.255.255",
         Discover(&CNetIO::FindSnmpAgent, c, "1.3.6", false));
  for (const char* community : {"public", c}) {
    Expect("both", community, [&](CNetIO& n, const char*) {
      int found = 0;
      return !n.FindSnmpAgent3Times(community, community == c ? "1.3.6" : "1.3.6.c", Found, &found);
    });
  }
}

}  // namespace
