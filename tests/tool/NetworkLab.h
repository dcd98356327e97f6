// The tool against printers on a namespace lab: a client node where usbink
// runs, printer nodes with net-snmp agents, and a private cupsd holding one
// queue per case. Runs of the tool are independent processes, so a table's
// rows run side by side and the slow ones (SNMPv3, silent printers, the
// DNS-SD wait) overlap instead of adding up.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "env/Cupsd.h"
#include "env/Lab.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "PrinterScript.h"

namespace tooltest {

// Agents as printers: the vendor's engine-ID prefix (80 00 0B 93) unless
// `engineHex` says otherwise; the tool's configured SNMPv3 user.
testenv::SnmpdConfig PrinterV1V3(uint8_t level);
testenv::SnmpdConfig PrinterV3Only(uint8_t level, const std::string& engineHex = "");

// One queue of a table: its device URI and what the tool must end with.
struct ToolCase {
  const char* queue;
  const char* uri;
  int exitCode;
  int level;  // of the report; -1 for none
};

// Each run ended as its case says, with standard output the report and
// nothing else, and nothing on standard error.
void ExpectOutcomes(const std::vector<ToolCase>& cases, const std::vector<testenv::RunResult>& runs);

// The requests an agent logged, in order of arrival: '4' for one from an
// IPv4 sender, '6' for one from an IPv6 sender. The log lags the answers:
// read once `count` requests show, or after 5 s.
std::string RequestFamilies(const testenv::Snmpd& agent, int count);

class NetworkLab {
 public:
  // Root, iproute2, snmpd, cupsd; `why` names what is missing.
  static bool Available(std::string* why);

  // The client node first: it is node 1 (10.208.0.1, fd00:208::1).
  bool AddClient(std::string* why);
  testenv::LabNode* AddNode(const std::string& name, const testenv::NodeOptions& options,
                            std::string* why);
  // An agent inside the node's namespace, answering on all its addresses.
  testenv::Snmpd* StartAgent(const testenv::LabNode& node, testenv::SnmpdConfig config,
                             std::string* why);
  // Moves this thread into the client's namespace and starts cupsd: call it
  // once every agent runs.
  bool Finish(std::string* why);
  bool AddQueue(const std::string& name, const std::string& uri, std::string* why);

  // usbink QUEUE for every queue at once, in the client's namespace.
  std::vector<testenv::RunResult> RunTool(const std::vector<std::string>& queues,
                               const std::vector<std::string>& env = {});
  // A queue per case, then RunTool over them all; empty when a queue is refused.
  std::vector<testenv::RunResult> RunCases(const std::vector<ToolCase>& cases, std::string* why);

  testenv::Lab& lab() { return lab_; }
  testenv::LabNode& client() { return *client_; }

 private:
  testenv::Lab lab_;
  testenv::Cupsd cupsd_;
  testenv::LabNode* client_ = nullptr;
  std::vector<std::unique_ptr<testenv::Snmpd>> agents_;
};

}  // namespace tooltest
