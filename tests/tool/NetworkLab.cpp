#include "NetworkLab.h"

#include <future>

#include "netio/SnmpV3.h"

namespace tooltest {

namespace {

const std::string kTool = std::string(USBINK_BIN_DIR) + "/usbink";
const char kVendorEngine[] = "80000B930300000000000000";

testenv::SnmpUser ConfiguredUser() {
  _SNMP_PARAM_V3 params{};
  SnmpV3FillCredentials(&params);
  return {params.userName, params.authPassword, params.privPassword};
}

}  // namespace

testenv::SnmpdConfig PrinterV1V3(uint8_t level) {
  testenv::SnmpdConfig config = PrinterV3Only(level);
  config.v1 = true;
  return config;
}

testenv::SnmpdConfig PrinterV3Only(uint8_t level, const std::string& engineHex) {
  testenv::SnmpdConfig config;
  config.v1 = false;
  config.deviceId = testenv::DeviceIdWithLevel(level);
  config.engineIdHex = engineHex.empty() ? kVendorEngine : engineHex;
  config.users = {ConfiguredUser()};
  return config;
}

std::string RequestFamilies(const testenv::Snmpd& agent, int count) {
  agent.WaitForRequests(count, std::chrono::seconds(5));
  const std::string log = agent.Log();
  const std::string v4 = "Connection from UDP: ", v6 = "Connection from UDP/IPv6: ";
  std::string families;
  for (size_t at = 0; (at = log.find("Connection from UDP", at)) != std::string::npos; ++at) {
    if (log.compare(at, v4.size(), v4) == 0) families += '4';
    if (log.compare(at, v6.size(), v6) == 0) families += '6';
  }
  return families;
}

bool NetworkLab::Available(std::string* why) {
  if (!testenv::Lab::Available(why) || !testenv::Snmpd::Available(why)) return false;
  if (testenv::FindProgram("cupsd").empty()) {
    *why = "cupsd is not installed (cups-daemon)";
    return false;
  }
  return true;
}

bool NetworkLab::AddClient(std::string* why) {
  client_ = lab_.AddNode("client", {}, why);
  return client_ != nullptr;
}

testenv::LabNode* NetworkLab::AddNode(const std::string& name,
                                      const testenv::NodeOptions& options, std::string* why) {
  return lab_.AddNode(name, options, why);
}

testenv::Snmpd* NetworkLab::StartAgent(const testenv::LabNode& node, testenv::SnmpdConfig config,
                                       std::string* why) {
  if (!lab_.Enter(node, why)) return nullptr;
  agents_.push_back(std::make_unique<testenv::Snmpd>(std::move(config)));
  if (!agents_.back()->Start(why)) {
    *why = node.name + ": " + *why;
    return nullptr;
  }
  return agents_.back().get();
}

bool NetworkLab::Finish(std::string* why) {
  return lab_.Enter(*client_, why) && cupsd_.Start(why);
}

bool NetworkLab::AddQueue(const std::string& name, const std::string& uri, std::string* why) {
  if (cupsd_.AddQueue(name, uri, why)) return true;
  *why = name + " (" + uri + "): " + *why;
  return false;
}

std::vector<testenv::RunResult> NetworkLab::RunTool(const std::vector<std::string>& queues,
                                         const std::vector<std::string>& env) {
  std::vector<std::string> fullEnv = {cupsd_.ServerEnv(), "LC_ALL=C", "LANGUAGE="};
  fullEnv.insert(fullEnv.end(), env.begin(), env.end());
  // Threads made here share this thread's namespaces: the client's network
  // and the test's mounts (a private hosts file).
  std::vector<std::future<testenv::RunResult>> runs;
  for (const auto& queue : queues) {
    runs.push_back(std::async(std::launch::async, [queue, fullEnv] {
      return testenv::Run({kTool, queue}, fullEnv, std::chrono::seconds(60));
    }));
  }
  std::vector<testenv::RunResult> out;
  for (auto& run : runs) out.push_back(run.get());
  return out;
}

std::vector<testenv::RunResult> NetworkLab::RunCases(const std::vector<ToolCase>& cases, std::string* why) {
  std::vector<std::string> queues;
  for (const auto& c : cases) {
    if (!AddQueue(c.queue, c.uri, why)) return {};
    queues.push_back(c.queue);
  }
  return RunTool(queues);
}

void ExpectOutcomes(const std::vector<ToolCase>& cases, const std::vector<testenv::RunResult>& runs) {
  ASSERT_EQ(runs.size(), cases.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    const ToolCase& c = cases[i];
    const testenv::RunResult& r = runs[i];
    EXPECT_EQ(r.exitCode, c.exitCode) << c.uri;
    EXPECT_EQ(r.out, c.level < 0 ? "" : ReportFor("Black Print Cartridge", c.level)) << c.uri;
    EXPECT_EQ(r.err, "") << c.uri;
  }
}

}  // namespace tooltest
