// The discovery tests' lab: a client and net-snmp printers in network
// namespaces of the test's own, and what the library reported.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "env/Lab.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "tests/netio/Diagnostics.h"

namespace discoverytest {

const char kFirstTarget[] = "1.3.6.1.4.1.2963.1.1";
const char kSecondTarget[] = "1.3.6.1.4.1.2963.2.5";
const char kSecondStart[] = "1.3.6.1.4.1.2963.2";  // a prefix matches
const char kOtherObject[] = "1.3.6.1.4.1.8072.3.2.10";
const char kAnyOid[] = "1.3.6.1.2.1.1.2.0";

using testnetio::Diagnostics;
using Reports = std::map<std::string, int>;  // every report, counted by address text

inline bool Collect(char* address, char* second, void* reports) {
  ++(*static_cast<Reports*>(reports))[second ? "second argument set" : address];
  return false;
}

class DiscoveryLab : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::Lab::Available(&why), why);
    REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
    lab_ = std::make_unique<testenv::Lab>();
  }
  void TearDown() override {
    agents_.clear();
    lab_.reset();
  }
  testenv::LabNode* Node(const std::string& name, bool ipv4, bool ipv6, bool ipv6Global = false) {
    std::string why;
    testenv::LabNode* node = lab_->AddNode(name, {ipv4, ipv6, ipv6Global}, &why);
    EXPECT_NE(node, nullptr) << why;
    return node;
  }
  void Shell(const testenv::LabNode& node, const std::string& script) {
    testenv::RunResult r = lab_->RunIn(node, {"/bin/sh", "-c", "set -e; " + script});
    EXPECT_EQ(r.exitCode, 0) << script << ": " << r.err << r.out;
  }
  // A second, point-to-point link eth1 between two nodes, MAC
  // 02:00:00:00:01:NN, so its link-local address is fe80::ff:fe00:1NN.
  void Link(const testenv::LabNode& a, const testenv::LabNode& b) {
    const auto mac = [](const testenv::LabNode& n) { return "02:00:00:00:01:" + Hex(n); };
    Shell(a, "ip link add eth1 address " + mac(a) + " type veth peer name eth1 address " + mac(b) +
                 " netns " + b.netns);
    for (const auto* node : {&a, &b}) {
      Shell(*node, "sysctl -q -w net.ipv6.conf.eth1.accept_dad=0 && "
                   "ip link set eth1 addrgenmode eui64 && ip link set eth1 up");
    }
  }
  static std::string Hex(const testenv::LabNode& node) {
    char text[8];
    snprintf(text, sizeof text, "%02x", node.number);
    return text;
  }
  static std::string LinkLocalOfEth1(const testenv::LabNode& node) {
    return "fe80::ff:fe00:1" + Hex(node);
  }
  testenv::Snmpd* Agent(const testenv::LabNode& printer, testenv::SnmpdConfig config) {
    std::string why;
    agents_.push_back(std::make_unique<testenv::Snmpd>(std::move(config)));
    EXPECT_TRUE(lab_->Enter(printer, &why)) << why;
    EXPECT_TRUE(agents_.back()->Start(&why)) << why;
    return agents_.back().get();
  }
  testenv::Snmpd* V1Agent(const testenv::LabNode& printer, const std::string& sysObjectID) {
    testenv::SnmpdConfig config;
    config.sysObjectID = sysObjectID;
    return Agent(printer, config);
  }
  // The log is read once it holds the expected count, never before.
  static void ExpectRequests(const testenv::Snmpd* agent, int count) {
    agent->WaitForRequests(count, std::chrono::seconds(2));
    EXPECT_EQ(agent->RequestCount(), count) << agent->Log();
  }
  // The test thread works in the client from here on.
  void EnterClient(const testenv::LabNode& client) {
    std::string why;
    ASSERT_TRUE(lab_->Enter(client, &why)) << why;
  }

  std::unique_ptr<testenv::Lab> lab_;
  std::vector<std::unique_ptr<testenv::Snmpd>> agents_;
};

}  // namespace discoverytest
