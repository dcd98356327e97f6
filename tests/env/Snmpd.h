// net-snmp's snmpd posing as a printer, inside the test's own network namespace: the
// scripts' recipe (scripts/lib/private-snmpd.sh) in a directory of its own, stopped by PID.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "env/TestEnv.h"

namespace testenv {

// A 108-byte status record: `blackLevel` first, then bytes 1..107 = index.
std::vector<uint8_t> StatusRecord(uint8_t blackLevel);
// "MFG:Acme;CMD:PCL;STS:<144 base64>;" for that record.
std::string DeviceIdWithLevel(uint8_t blackLevel);

struct SnmpUser {
  std::string name, authPass, privPass;  // MD5, DES (empty: authentication only)
};

struct SnmpdConfig {
  std::string agentAddress = "udp:0.0.0.0:161,udp6:[::]:161";
  bool v1 = true;        // rocommunity and rocommunity6 for "public"
  std::string deviceId;  // served at the device-ID object; empty: not served
  std::string sysObjectID = "1.3.6.1.4.1.40719.886.1";
  std::string sysName = "usbink-printer";
  std::string engineIdHex;  // exactEngineID, hex digits without 0x
  std::vector<SnmpUser> users;
  std::vector<std::string> extraLines;
};

class Snmpd {
 public:
  explicit Snmpd(SnmpdConfig config) : config_(std::move(config)) {}

  static bool Available(std::string* why);
  bool Start(std::string* why);
  std::string Log() const { return process_ ? process_->Log() : ""; }
  // Requests the agent logged once it logged `count` or `limit` passed: the log lags the answers.
  int WaitForRequests(int count, std::chrono::milliseconds limit) const;

 private:
  SnmpdConfig config_;
  TempDir dir_;
  std::unique_ptr<Process> process_;
};

}  // namespace testenv
