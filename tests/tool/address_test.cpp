// Address resolution of device URIs: host names through the system resolver
// (numeric literals, a private hosts file) and DNS-SD services through a
// real Avahi daemon in a namespace lab.
#include "tool/address.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "env/Lab.h"
#include "env/TestEnv.h"

namespace {

using testenv::Lab;
using testenv::LabNode;
using testenv::TempDir;

using Pairs = std::vector<std::pair<std::string, std::string>>;  // (tag, text)

// The lists as (tag, text) pairs; the two lists must stay parallel.
Pairs Listed() {
  EXPECT_EQ(mDNSIP.size(), mDNSType.size());
  Pairs out;
  for (size_t i = 0; i < std::min(mDNSIP.size(), mDNSType.size()); ++i) out.emplace_back(mDNSType[i], mDNSIP[i]);
  return out;
}

// Service answers race each other: compare without order.
Pairs Sorted(Pairs p) {
  std::sort(p.begin(), p.end());
  return p;
}

struct Case {
  const char* uri;
  Pairs expected;
};

// Numeric hosts never reach a name service, so these need no privileges.
TEST(AddressTest, HostPathWithNumericHosts) {
  const Case cases[] = {
      {"socket://127.0.0.1:9100", {{"IPv4", "127.0.0.1"}}},
      {"SOCKET://127.0.0.1", {{"IPv4", "127.0.0.1"}}},
      {"Socket://192.0.2.9", {{"IPv4", "192.0.2.9"}}},
      {"ipp://[::1]:631/printers/q", {{"IPv6", "::1"}}},
      {"IPP://[::1]/ipp/print", {{"IPv6", "::1"}}},
      {"lpd://192.0.2.7/queue", {{"IPv4", "192.0.2.7"}}},
      {"LPD://[2001:db8::7]/queue", {{"IPv6", "2001:db8::7"}}},
      // The resolver's numeric text, not the URI's spelling.
      {"ipp://[2001:DB8:0:0::7]/", {{"IPv6", "2001:db8::7"}}},
      // Only a link-local address keeps its zone: Linux cannot send without it.
      {"ipp://[fe80::1%25lo]:631/", {{"IPv6", "fe80::1%lo"}}},
      {"http://127.0.0.1/", {}},
      {"https://[::1]/", {}},
      {"ipps://127.0.0.1/", {}},
      {"usb://Acme/Laser", {}},
      {"foo://127.0.0.1", {}},
      {"socket://", {}},
      {"ipp://127.0.0.1:notaport/", {}},
      {"", {}},
  };
  // In this order each call also shows that it replaces what the last one listed.
  for (const auto& c : cases) {
    getAddressFromURL(c.uri);
    EXPECT_EQ(Listed(), c.expected) << c.uri;
  }
}

TEST(AddressTest, HostNamesFromAHostsFile) {
  std::string why;
  REQUIRE_ENV(Lab::Available(&why), why);
  ASSERT_TRUE(testenv::IsolateNetwork(&why)) << why;
  TempDir dir;
  ASSERT_TRUE(testenv::UsePrivateHosts(dir,
                                       "127.0.0.1 localhost\n"
                                       "10.1.2.3 dual.test\n"
                                       "fd00:1::5 dual.test\n"
                                       "10.1.2.4 v4only.test\n"
                                       "fd00:1::6 v6only.test\n"
                                       "fd00:1::7 multi.test\n"
                                       "fd00:1::8 multi.test\n"
                                       "10.1.2.9 multi.test\n",
                                       &why))
      << why;
  const Case cases[] = {
      // IPv6 first, and one address only: the IPv4 one is never listed.
      {"ipp://dual.test/ipp/print", {{"IPv6", "fd00:1::5"}}},
      {"IPP://Dual.Test:631/", {{"IPv6", "fd00:1::5"}}},
      {"socket://v4only.test:9100", {{"IPv4", "10.1.2.4"}}},
      {"lpd://v6only.test/queue", {{"IPv6", "fd00:1::6"}}},
      {"ipp://nothing.invalid/", {}},
      {"http://dual.test/", {}},
  };
  for (const auto& c : cases) {
    getAddressFromURL(c.uri);
    EXPECT_EQ(Listed(), c.expected) << c.uri;
  }
  getAddressFromURL("ipp://multi.test/");
  ASSERT_EQ(Listed().size(), 1u);
  EXPECT_EQ(mDNSType[0], "IPv6");
  EXPECT_TRUE(mDNSIP[0] == "fd00:1::7" || mDNSIP[0] == "fd00:1::8") << mDNSIP[0];
}

TEST(AddressTest, NoBusMeansNoServiceAddresses) {
  TempDir dir;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (dir / "no-bus")).c_str(), 1);
  getAddressFromURL("dnssd://Acme%20Laser._printer._tcp.local./");
  EXPECT_EQ(Listed(), Pairs{});
}

// A client and a printer node, each with its own Avahi; this process runs in
// the client's namespace on the client's bus. The printer's daemon also
// announces chosen addresses under other host names.
TEST(AddressService, ServicesResolveToTheirAddresses) {
  std::string why;
  REQUIRE_ENV(Lab::Available(&why), why);
  REQUIRE_ENV(Lab::AvahiAvailable(&why), why);
  Lab lab;
  LabNode* client = lab.AddNode("client", {}, &why);
  ASSERT_TRUE(client) << why;
  LabNode* printer = lab.AddNode("printer", {}, &why);
  ASSERT_TRUE(printer) << why;
  ASSERT_TRUE(lab.StartAvahi(*client, &why)) << why;
  ASSERT_TRUE(lab.StartAvahi(*printer, &why)) << why;
  ASSERT_TRUE(lab.WaitReady(&why)) << why;
  lab.PublishService(*printer, "Acme Laser", "_printer._tcp", 515);
  lab.PublishAddress(*printer, "acme.local", "10.208.0.77");
  lab.PublishAddress(*printer, "acme.local", "fd00:208::77");
  lab.PublishService(*printer, "Acme Color", "_printer._tcp", 515, "acme.local");
  lab.PublishAddress(*printer, "v4.local", printer->ipv4);
  lab.PublishService(*printer, "V4 Laser", "_printer._tcp", 515, "v4.local");
  lab.PublishAddress(*printer, "link.local", printer->linkLocal);
  lab.PublishService(*printer, "Link Laser", "_printer._tcp", 515, "link.local");
  ASSERT_TRUE(lab.WaitReady(&why)) << why;
  ASSERT_TRUE(lab.Enter(*client, &why)) << why;
  lab.UseBusOf(*client);

  const Pairs both = {{"IPv4", printer->ipv4}, {"IPv6", printer->ipv6}};
  const Case cases[] = {
      {"dnssd://Acme%20Laser._printer._tcp.local./?uuid=1", both},
      // The type and domain in the URI are not looked at: always _printer._tcp in local.
      {"mdns://Acme%20Laser._pdl-datastream._tcp.example.com./", both},
      // A host without "." is the whole instance name.
      {"MDNS://Acme%20Laser", both},
      {"DNSSD://Acme%20Color._printer._tcp.local./", {{"IPv4", "10.208.0.77"}, {"IPv6", "fd00:208::77"}}},
      {"dnssd://V4%20Laser._printer._tcp.local./", {{"IPv4", printer->ipv4}}},
      // Linux cannot send to a link-local address without its interface.
      {"mdns://Link%20Laser._printer._tcp.local.", {{"IPv6", printer->linkLocal + "%" + client->ifname}}},
      {"dnssd://Other%20Laser._printer._tcp.local./", {}},
  };
  for (const auto& c : cases) {
    getAddressFromURL(c.uri);
    EXPECT_EQ(Sorted(Listed()), Sorted(c.expected)) << c.uri;
  }
}

TEST(AddressTest, BusWithoutAvahi) {
  std::string why;
  REQUIRE_ENV(Lab::Available(&why), why);
  REQUIRE_ENV(Lab::AvahiAvailable(&why), why);
  Lab lab;
  LabNode* client = lab.AddNode("client", {}, &why);
  ASSERT_TRUE(client) << why;
  ASSERT_TRUE(lab.StartBus(*client, &why)) << why;
  ASSERT_TRUE(lab.Enter(*client, &why)) << why;
  lab.UseBusOf(*client);
  getAddressFromURL("dnssd://Acme%20Laser._printer._tcp.local./");
  EXPECT_EQ(Listed(), Pairs{});
}

}  // namespace
