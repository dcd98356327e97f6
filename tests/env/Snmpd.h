// net-snmp's snmpd posing as a printer: its own config and persistent
// directory in a TempDir, run in the foreground, ready on its log line,
// stopped by PID. Meant to run inside the test's own network namespace.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "env/TestEnv.h"

namespace testenv {

// The private device-ID object the client reads.
extern const char kDeviceIdOid[];

// A 108-byte status record: `blackLevel` first, then bytes 1..107 = index.
std::vector<uint8_t> StatusRecord(uint8_t blackLevel);
std::string Base64(const std::vector<uint8_t>& bytes);
// "MFG:Acme;CMD:PCL;STS:<144 base64>;" for that record.
std::string DeviceIdWithLevel(uint8_t blackLevel);

struct SnmpUser {
  std::string name;
  std::string authPass;  // MD5
  std::string privPass;  // DES; empty: authentication only
};

struct SnmpdConfig {
  // Inside a private namespace every address is free.
  std::string agentAddress = "udp:0.0.0.0:161,udp6:[::]:161";
  bool v1 = true;  // rocommunity and rocommunity6 for `community`
  std::string community = "public";
  std::string deviceId;  // served at kDeviceIdOid; empty: not served
  std::string sysObjectID = "1.3.6.1.4.1.40719.886.1";
  std::string sysName = "usbink-printer";
  std::string engineIdHex;  // exactEngineID, hex digits without 0x; empty: snmpd's own
  std::vector<SnmpUser> users;  // createUser and rouser ... priv (or auth)
  std::vector<std::string> extraLines;  // e.g. further "override" lines
};

class Snmpd {
 public:
  explicit Snmpd(SnmpdConfig config);
  ~Snmpd();

  static bool Available(std::string* why);
  // Writes the config, starts snmpd and waits for "NET-SNMP version".
  bool Start(std::string* why, std::chrono::milliseconds limit = std::chrono::seconds(10));
  void Stop();
  std::string Log() const;
  // Requests the agent logged ("Connection from UDP: ...").
  int RequestCount() const;
  // Waits until the log shows `count` requests: it lags the answers.
  bool WaitForRequests(int count, std::chrono::milliseconds limit) const;
  const TempDir& dir() const { return dir_; }

 private:
  SnmpdConfig config_;
  TempDir dir_;
  std::unique_ptr<Process> process_;
};

}  // namespace testenv
