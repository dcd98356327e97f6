// Address texts the one numeric rule refuses, through every entry point of
// the library that takes one: refused before a socket exists. The resolver's
// laxer forms would reach another host ("010.0.0.1" is 8.0.0.1).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "tests/netio/Diagnostics.h"
#include "tests/netio/SocketCount.h"

namespace {

using testnetio::g_sockets;

bool Found(char*, char*, void* context) {
  ++*static_cast<int*>(context);
  return false;
}

TEST(AddressForms, RefusedBeforeASocketExists) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  testnetio::Diagnostics diagnostics;
  const char* const forms[] = {"127.1",        "010.0.0.1",        "0x7f.1",
                               "1.2.3.4%eth0", "fe80::1%nosuchif", "printer.example",
                               "localhost",    "127.0.0.1 ",       ""};
  // Each entry point's answer for a text it refuses.
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
         return NetworkReadStatusSNMPv3("public", h, &s) == 0;
       }},
      {"status v3, IPv6",
       [](CNetIO&, const char* h) {
         PRINTER_STATUS s;
         return NetworkReadStatusV6SNMPv3("public", h, &s) == 0;
       }},
      {"name v1",
       [](CNetIO& n, const char* h) {
         char out[64];
         return n.TavraNetworkGetPrinterName(h, 0, out, sizeof out) == -1;
       }},
      {"get v1",
       [](CNetIO& n, const char* h) {
         char out[64];
         return !n.NetSnmpGetV4(h, "public", "1.3.6.1.2.1.1.5.0", out, sizeof out) &&
                !n.NetSnmpGetV6(h, "public", "1.3.6.1.2.1.1.5.0", out, sizeof out);
       }},
      {"facts v3",
       [](CNetIO& n, const char* h) {
         char a[64], b[64], c[64];
         return n.TavraNetworkGetNameAndFwAndMCUVersion(h, a, b, c, 64) == -1;
       }},
      {"connect", [](CNetIO& n, const char* h) { return n.NetworkConnect(h, 9100) == -1; }},
      {"discover v1",
       [](CNetIO& n, const char* h) {
         int found = 0;
         return n.FindSnmpAgent("public", h, "1.3.6.1.4.1", Found, &found, true) && found == 0;
       }},
      {"discover v3",
       [](CNetIO& n, const char* h) {
         int found = 0;
         return n.FindSnmpV3Agent(nullptr, h, nullptr, Found, &found, true) && found == 0;
       }},
  };
  for (const char* form : forms) {
    for (const auto& entry : entries) {
      CNetIO netio;
      g_sockets = 0;
      EXPECT_TRUE(entry.refuses(netio, form)) << entry.what << ": " << form;
      EXPECT_EQ(g_sockets, 0) << entry.what << ": " << form;
    }
  }
  // The count does see the library's sockets: a read of a dotted quad opens one.
  g_sockets = 0;
  PRINTER_STATUS status;
  EXPECT_EQ(NetworkReadStatus("public", "127.0.0.1", &status), 0);
  EXPECT_EQ(g_sockets, 1);
}

}  // namespace
