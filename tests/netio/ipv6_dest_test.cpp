// IPv6 destinations of the status reads: numeric texts, zones and the
// discovery scope that overrides them.
#include "netio/ipv6_dest.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <string>

namespace {

const uint32_t kLo = if_nametoindex("lo");

struct Row {
  std::string host;
  int scope;
  bool ok;
  const char* address;  // expected numeric text
  uint32_t scopeId;
};

TEST(SnmpDestinationV6, TextsZonesAndScope) {
  ASSERT_NE(kLo, 0u);
  const std::string longest = "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255";  // 45 characters
  const Row rows[] = {
      {"::1", 0, true, "::1", 0},
      {"fd00:208::2", 0, true, "fd00:208::2", 0},
      {"fe80::ff:fe00:2", 0, true, "fe80::ff:fe00:2", 0},
      {"fe80::ff:fe00:2%lo", 0, true, "fe80::ff:fe00:2", kLo},
      {"fe80::ff:fe00:2%lo", -1, true, "fe80::ff:fe00:2", kLo},
      {"fe80::1%" + std::to_string(kLo), 0, true, "fe80::1", kLo},
      {"fe80::1%4294967295", 0, true, "fe80::1", 4294967295u},
      // A scope chosen by discovery wins over the zone.
      {"fe80::1%lo", 7, true, "fe80::1", 7},
      {"fe80::1", 7, true, "fe80::1", 7},
      {longest, 0, true, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 0},
      {longest + "%lo", 0, true, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", kLo},
      // Refused: not numeric IPv6, or a zone that names no interface.
      {longest + "0", 0, false, nullptr, 0},
      {"fe80::1%", 0, false, nullptr, 0},
      {"fe80::1%0", 0, false, nullptr, 0},
      {"fe80::1%4294967296", 0, false, nullptr, 0},
      {"fe80::1%99999999999999999999", 0, false, nullptr, 0},
      {"fe80::1%nosuchif0", 0, false, nullptr, 0},
      {"fe80::1%" + std::string(IF_NAMESIZE, 'x'), 0, false, nullptr, 0},
      {"fe80::1%lo%lo", 0, false, nullptr, 0},
      {"%lo", 0, false, nullptr, 0},
      {"127.0.0.1", 0, false, nullptr, 0},
      {"printer.local", 0, false, nullptr, 0},
      {"[::1]", 0, false, nullptr, 0},
      {" ::1", 0, false, nullptr, 0},
      {"", 0, false, nullptr, 0},
      {std::string(4096, ':'), 0, false, nullptr, 0},
  };
  for (const auto& row : rows) {
    sockaddr_in6 to;
    memset(&to, 0xEE, sizeof to);
    const bool ok = netio::SnmpDestinationV6(row.host.c_str(), row.scope, &to);
    ASSERT_EQ(ok, row.ok) << row.host;
    if (!ok) {
      EXPECT_EQ(to.sin6_family, 0xEEEE) << "written on failure: " << row.host;
      continue;
    }
    char text[INET6_ADDRSTRLEN];
    ASSERT_TRUE(inet_ntop(AF_INET6, &to.sin6_addr, text, sizeof text));
    EXPECT_STREQ(text, row.address) << row.host;
    EXPECT_EQ(to.sin6_family, AF_INET6) << row.host;
    EXPECT_EQ(to.sin6_port, htons(161)) << row.host;
    EXPECT_EQ(to.sin6_scope_id, row.scopeId) << row.host;
    EXPECT_EQ(to.sin6_flowinfo, 0u) << row.host;
  }
}

TEST(SnmpDestinationV6, NullArguments) {
  sockaddr_in6 to{};
  EXPECT_FALSE(netio::SnmpDestinationV6(nullptr, 0, &to));
  EXPECT_FALSE(netio::SnmpDestinationV6("::1", 0, nullptr));
}

}  // namespace
