// The discovery tests' lab: a client and net-snmp printers in network
// namespaces of the test's own, what the library reported, and its
// diagnostics captured for counting steps.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "env/Lab.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "tests/netio/Diagnostics.h"

namespace discoverytest {

const char kFirstTarget[] = "1.3.6.1.4.1.2963.1.1";
const char kSecondTarget[] = "1.3.6.1.4.1.2963.2";
const char kOtherObject[] = "1.3.6.1.4.1.8072.3.2.10";
const char kAnyOid[] = "1.3.6.1.2.1.1.2.0";

inline int Occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = 0; (at = text.find(needle, at)) != std::string::npos; at += needle.size()) ++n;
  return n;
}

// Every report, counted by address text.
struct Reports {
  std::map<std::string, int> count;
  int total = 0;

  static bool Collect(char* address, char* second, void* context) {
    auto* self = static_cast<Reports*>(context);
    EXPECT_EQ(second, nullptr);
    ++self->count[address];
    ++self->total;
    return false;
  }
};

using testnetio::Diagnostics;

// A lab whose client the test thread works in.
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

  testenv::LabNode* Node(const std::string& name, const testenv::NodeOptions& options) {
    std::string why;
    testenv::LabNode* node = lab_->AddNode(name, options, &why);
    EXPECT_NE(node, nullptr) << why;
    return node;
  }

  // Runs shell commands in a node; a failure fails the test.
  void Shell(const testenv::LabNode& node, const std::string& script) {
    testenv::RunResult r = lab_->RunIn(node, {"/bin/sh", "-c", "set -e; " + script});
    EXPECT_EQ(r.exitCode, 0) << script << ": " << r.err << r.out;
  }

  // A second, point-to-point link eth1 between two nodes, MAC
  // 02:00:00:00:01:NN, so its link-local address is fe80::ff:fe00:1NN.
  void Link(const testenv::LabNode& a, const testenv::LabNode& b) {
    char macA[32], macB[32];
    snprintf(macA, sizeof macA, "02:00:00:00:01:%02x", a.number);
    snprintf(macB, sizeof macB, "02:00:00:00:01:%02x", b.number);
    Shell(a, std::string("ip link add eth1 address ") + macA + " type veth peer name eth1 address " +
                 macB + " netns " + b.netns);
    for (const auto* node : {&a, &b}) {
      Shell(*node,
            "sysctl -q -w net.ipv6.conf.eth1.accept_dad=0 && ip link set eth1 addrgenmode eui64 && "
            "ip link set eth1 up");
    }
  }

  static std::string LinkLocalOfEth1(const testenv::LabNode& node) {
    char text[32];
    snprintf(text, sizeof text, "fe80::ff:fe00:1%02x", node.number);
    return text;
  }

  // snmpd inside the printer's namespace.
  testenv::Snmpd* Agent(const testenv::LabNode& printer, testenv::SnmpdConfig config) {
    std::string why;
    agents_.push_back(std::make_unique<testenv::Snmpd>(std::move(config)));
    EXPECT_TRUE(lab_->Enter(printer, &why)) << why;
    EXPECT_TRUE(agents_.back()->Start(&why)) << why;
    return agents_.back().get();
  }

  static testenv::SnmpdConfig V1Printer(const std::string& sysObjectID) {
    testenv::SnmpdConfig config;
    config.sysObjectID = sysObjectID;
    return config;
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
