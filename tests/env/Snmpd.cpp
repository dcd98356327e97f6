#include "env/Snmpd.h"

#include <sstream>
#include <thread>

namespace testenv {

const char kDeviceIdOid[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0";

std::vector<uint8_t> StatusRecord(uint8_t blackLevel) {
  std::vector<uint8_t> record(108);
  record[0] = blackLevel;
  for (size_t i = 1; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i);
  return record;
}

// The tests' own encoder, independent of the codec under test.
std::string Base64(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= bytes[i + 2];
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  return out;
}

std::string DeviceIdWithLevel(uint8_t blackLevel) {
  return "MFG:Acme;CMD:PCL;STS:" + Base64(StatusRecord(blackLevel)) + ";";
}

Snmpd::Snmpd(SnmpdConfig config) : config_(std::move(config)) {}

Snmpd::~Snmpd() { Stop(); }

bool Snmpd::Available(std::string* why) {
  if (FindProgram("snmpd").empty()) {
    *why = "snmpd is not installed (scripts/install-deps.sh)";
    return false;
  }
  return true;
}

bool Snmpd::Start(std::string* why, std::chrono::milliseconds limit) {
  if (!Available(why)) return false;
  std::ostringstream conf;
  conf << "agentAddress " << config_.agentAddress << "\n";
  if (config_.v1) {
    conf << "rocommunity " << config_.community << " default\n";
    conf << "rocommunity6 " << config_.community << " default\n";
  }
  if (!config_.engineIdHex.empty()) conf << "exactEngineID 0x" << config_.engineIdHex << "\n";
  for (const auto& u : config_.users) {
    conf << "createUser " << u.name << " MD5 \"" << u.authPass << "\"";
    if (!u.privPass.empty()) conf << " DES \"" << u.privPass << "\"";
    conf << "\nrouser " << u.name << (u.privPass.empty() ? " auth" : " priv") << "\n";
  }
  conf << "sysObjectID " << config_.sysObjectID << "\n";
  conf << "sysName " << config_.sysName << "\n";
  if (!config_.deviceId.empty()) {
    conf << "override " << kDeviceIdOid << " octet_str \"" << config_.deviceId << "\"\n";
  }
  for (const auto& line : config_.extraLines) conf << line << "\n";
  WriteFile(dir_ / "snmpd.conf", conf.str());

  const std::string persist = dir_ / "persist";
  process_ = std::make_unique<Process>(
      std::vector<std::string>{FindProgram("snmpd"), "-f", "-Lo", "-C", "-c", dir_ / "snmpd.conf",
                               "-p", dir_ / "snmpd.pid"},
      std::vector<std::string>{"MIBS=", "SNMP_PERSISTENT_DIR=" + persist}, dir_ / "snmpd.log");
  if (process_->WaitForLog("NET-SNMP version", limit)) return true;
  *why = "snmpd did not start: " + process_->Log();
  Stop();
  return false;
}

void Snmpd::Stop() {
  if (process_) process_->Stop();
}

std::string Snmpd::Log() const { return process_ ? process_->Log() : ""; }

int Snmpd::RequestCount() const {
  const std::string log = Log();
  int count = 0;
  for (size_t at = 0; (at = log.find("Connection from UDP", at)) != std::string::npos; ++at) ++count;
  return count;
}

bool Snmpd::WaitForRequests(int count, std::chrono::milliseconds limit) const {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (RequestCount() < count) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace testenv
