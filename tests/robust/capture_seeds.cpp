// Seeds for the fuzz corpora from a real agent: net-snmp's snmpd posing as the
// printer (SNMPv1, and the configured SNMPv3 user on the fixed fuzz engine) in
// a private network namespace. Each answer is written as received to
// CORPUS/<target>/snmpd-<name>; the scoped PDUs of the SNMPv3 answers, as read
// after deciphering, become seeds of the sealed target.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "fuzz/FuzzSupport.h"
#include "netio/BerReader.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kSysObjectId[] = "1.3.6.1.2.1.1.2.0";
const char kSysName[] = "1.3.6.1.2.1.1.5.0";
const char kFirmware[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.1.0";
const char kMcu[] = "1.3.6.1.4.1.40719.886.300.369.8531.1.2.3.0";

std::string g_corpus;

void Save(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = g_corpus + "/" + target;
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/snmpd-" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  printf("%s/snmpd-%s: %zu octets\n", target.c_str(), name.c_str(), bytes.size());
}

// One request to the agent on 127.0.0.1:161; its answer, or nothing within a second.
Bytes Exchange(const unsigned char* request, int length) {
  Bytes answer;
  const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (fd < 0) return answer;
  timeval tv{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in agent{};
  agent.sin_family = AF_INET;
  agent.sin_port = htons(161);
  agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  unsigned char buffer[65536];
  if (length > 0 && sendto(fd, request, static_cast<size_t>(length), 0,
                           reinterpret_cast<sockaddr*>(&agent), sizeof agent) == length) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) answer.assign(buffer, buffer + n);
  }
  close(fd);
  return answer;
}

void SnmpV1(const std::string& name, const char* oid) {
  unsigned char request[2048];
  const Bytes answer = Exchange(request, CNetIO::BuildGetRequestFor(1, oid, "public", request));
  if (!answer.empty()) Save("snmpv1_response", name, answer);
}

// The scoped PDU of an SNMPv3 message whose msgData the parser has deciphered
// in place (or that was plaintext).
Bytes ScopedPdu(const Bytes& message, bool enciphered) {
  netio::BerReader r(message.data(), message.size()), msg, skip;
  if (!r.Element(0x30, &msg) || !msg.Element(0x02, &skip) || !msg.Element(0x30, &skip) ||
      !msg.Element(0x04, &skip))
    return {};
  netio::BerReader area = msg, cipher, scoped;
  if (enciphered && !msg.Element(0x04, &cipher)) return {};
  if (enciphered) area = cipher;
  const uint8_t* start = area.cursor();
  if (!area.Element(0x30, &scoped)) return {};
  return Bytes(start, scoped.end());
}

void SealedSeeds(const std::string& name, const Bytes& scoped) {
  // Variant octet: bit 0 privacy, bit 1 discovery's capture callback.
  for (uint8_t variant : {0, 1, 2, 3}) {
    Bytes seed{variant};
    seed.insert(seed.end(), scoped.begin(), scoped.end());
    Save("snmpv3_sealed", name + "-" + std::to_string(variant), seed);
  }
}

// An SNMPv3 request under `params`' credentials; the answer is saved as
// received and, read with the keys the builder derived, its scoped PDU too.
void SnmpV3(const std::string& name, _SNMP_PARAM_V3 params, std::vector<const char*> oids,
            bool privacy) {
  unsigned char request[kSnmpV3WorkSize];
  const int length = CNetIO::BuildSnmpV3RequestPacket(
      fuzz::kEngineId, sizeof fuzz::kEngineId, params.engineBoots, params.engineTime,
      static_cast<int>(oids.size()), oids.data(), nullptr, nullptr, nullptr, params.userName,
      params.authPassword, privacy ? params.privPassword : nullptr, params.authKey, params.privKey,
      request);
  Bytes answer = Exchange(request, length);
  if (answer.empty()) {
    printf("%s: no answer\n", name.c_str());
    return;
  }
  Save("snmpv3_response", name, answer);
  // Deciphers in place what it can; a Report comes back in plaintext.
  Bytes read = answer;
  CNetIO::parseSnmpV3Response(read.data(), static_cast<int>(read.size()), nullptr, nullptr,
                              nullptr, nullptr, &params);
  Bytes scoped = ScopedPdu(read, true);
  if (scoped.empty()) scoped = ScopedPdu(read, false);
  if (!scoped.empty()) SealedSeeds(name, scoped);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s CORPUS-DIR\n", argv[0]);
    return 2;
  }
  g_corpus = argv[1];
  netio::SetDiagnosticsSink(nullptr);
  std::string why;
  if (!testenv::IsolateNetwork(&why) || !testenv::Snmpd::Available(&why)) {
    fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  _SNMP_PARAM_V3 configured{};
  SnmpV3FillCredentials(&configured);
  testenv::SnmpdConfig config;
  config.deviceId = testenv::DeviceIdWithLevel(0x4B);
  config.engineIdHex = fuzz::kEngineIdHex;
  config.users = {{configured.userName, configured.authPassword, configured.privPassword}};
  config.extraLines = {std::string("override ") + kFirmware + " octet_str \"1.20.3\"",
                       std::string("override ") + kMcu + " octet_str \"MCU 0.9\""};
  testenv::Snmpd agent(config);
  if (!agent.Start(&why)) {
    fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }

  SnmpV1("v1-device-id", testenv::kDeviceIdOid);
  SnmpV1("v1-sysobjectid", kSysObjectId);
  SnmpV1("v1-sysname", kSysName);
  SnmpV1("v1-missing", "1.3.6.1.4.1.40719.886.300.369.8531.9.9.0");

  unsigned char request[kSnmpV3WorkSize];
  const Bytes report = Exchange(request, CNetIO::BuildSnmpV3GetEngineIdPacket(0, 0, request,
                                                                             sizeof request));
  if (report.empty()) {
    fprintf(stderr, "no Report from the agent:\n%s\n", agent.Log().c_str());
    return 1;
  }
  Save("snmpv3_response", "v3-report", report);
  _SNMP_PARAM_V3 params = configured;
  Bytes copy = report;
  if (CNetIO::parseSnmpV3Response(copy.data(), static_cast<int>(copy.size()), nullptr, nullptr,
                                  nullptr, nullptr, &params) != 1) {
    fprintf(stderr, "the agent's Report does not parse\n");
    return 1;
  }
  SealedSeeds("v3-report", ScopedPdu(report, false));

  SnmpV3("v3-authpriv-device-id", params, {testenv::kDeviceIdOid}, true);
  SnmpV3("v3-authpriv-discovery", params, {kSysObjectId, kSysName, testenv::kDeviceIdOid}, true);
  SnmpV3("v3-authpriv-versions", params, {kSysName, kFirmware, kMcu}, true);
  SnmpV3("v3-authpriv-missing", params, {"1.3.6.1.4.1.40719.886.300.369.8531.9.9.0"}, true);
  SnmpV3("v3-authnopriv", params, {testenv::kDeviceIdOid}, false);
  _SNMP_PARAM_V3 wrongDigest = params;
  wrongDigest.authPassword[0] ^= 1;
  SnmpV3("v3-wrong-digest", wrongDigest, {testenv::kDeviceIdOid}, true);
  _SNMP_PARAM_V3 stranger = params;
  stranger.userName[0] ^= 1;
  SnmpV3("v3-unknown-user", stranger, {testenv::kDeviceIdOid}, true);
  return 0;
}
