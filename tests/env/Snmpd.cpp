#include "env/Snmpd.h"

#include <thread>

namespace testenv {

std::vector<uint8_t> StatusRecord(uint8_t blackLevel) {
  std::vector<uint8_t> record(108);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i ? i : blackLevel);
  return record;
}

// The tests' own encoder, independent of the codec under test (108 octets: no padding).
std::string DeviceIdWithLevel(uint8_t blackLevel) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::vector<uint8_t> bytes = StatusRecord(blackLevel);
  std::string out = "MFG:Acme;CMD:PCL;STS:";
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t group = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
    for (int shift : {18, 12, 6, 0}) out += kAlphabet[(group >> shift) & 63];
  }
  return out + ";";
}

bool Snmpd::Available(std::string* why) {
  if (!FindProgram("snmpd").empty()) return true;
  return *why = "snmpd is not installed (scripts/install-deps.sh)", false;
}

bool Snmpd::Start(std::string* why) {
  if (!Available(why)) return false;
  // The scripts' recipe writes the configuration; snmpd itself runs as our child.
  std::vector<std::string> call = {"write_private_snmpd_conf", dir_.path()};
  const std::pair<const char*, std::string> options[] = {{"--address", config_.agentAddress},
                                                         {"--engine-id", config_.engineIdHex},
                                                         {"--sys-object-id", config_.sysObjectID},
                                                         {"--sys-name", config_.sysName},
                                                         {"--device-id", config_.deviceId}};
  for (const auto& [option, value] : options) call.insert(call.end(), {option, value});
  if (!config_.v1) call.push_back("--no-v1");
  for (const auto& u : config_.users)
    call.insert(call.end(), {"--user", u.name, u.authPass, u.privPass});
  for (const auto& line : config_.extraLines) call.insert(call.end(), {"--line", line});
  const RunResult wrote = RunRecipe("private-snmpd.sh", call);
  if (wrote.exitCode != 0) return *why = "snmpd.conf not written: " + wrote.err, false;
  process_ = std::make_unique<Process>(
      std::vector<std::string>{FindProgram("snmpd"), "-f", "-Lo", "-C", "-c", dir_ / "snmpd.conf",
                               "-p", dir_ / "snmpd.pid"},
      std::vector<std::string>{"MIBS=", "SNMP_PERSISTENT_DIR=" + (dir_ / "persist")},
      dir_ / "snmpd.log");
  if (process_->WaitForLog("NET-SNMP version", std::chrono::seconds(10))) return true;
  *why = "snmpd did not start: " + process_->Log();
  process_.reset();
  return false;
}

int Snmpd::WaitForRequests(int count, std::chrono::milliseconds limit) const {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (;; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    const std::string log = Log();
    int seen = 0;
    for (size_t at = 0; (at = log.find("Connection from UDP", at)) != std::string::npos; ++at)
      ++seen;
    if (seen >= count || std::chrono::steady_clock::now() >= until) return seen;
  }
}

}  // namespace testenv
