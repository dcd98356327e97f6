// SNMPv3 messages: the discovery request, one whole authenticated and
// enciphered request (two key localisations of 1 MiB each dominate it), and
// the parse of an authenticated, enciphered Response.
#include <benchmark/benchmark.h>

#include <cstring>

#include "netio/NetIO.h"
#include "netio/Usm.h"
#include "netio/diagnostics.h"

namespace {

const char kAuthPassword[] = "c0rrect-h0rse-b4tt3r";
const char kPrivPassword[] = "Tr0ub4dor-and-3-xyz!";
const unsigned char kEngineID[] = {0x80, 0x00, 0x0B, 0x93, 0x03, 0x00, 0x11,
                                   0x22, 0x33, 0x44, 0x55, 0x66};
const char* const kOids[] = {"1.3.6.1.4.1.40719.886.300.369.8531.1.1.0"};

void BM_SnmpV3DiscoveryBuild(benchmark::State& state) {
  netio::SetDiagnosticsSink(nullptr);
  unsigned char out[kSnmpV3WorkSize];
  for (auto _ : state) {
    benchmark::DoNotOptimize(CNetIO::BuildSnmpV3GetEngineIdPacket(1, 1, out, sizeof out));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SnmpV3DiscoveryBuild);

void BM_SnmpV3RequestBuildAuthPriv(benchmark::State& state) {
  netio::SetDiagnosticsSink(nullptr);
  unsigned char out[kSnmpV3WorkSize], authKey[16], privKey[16];
  for (auto _ : state) {
    benchmark::DoNotOptimize(CNetIO::BuildSnmpV3RequestPacket(
        kEngineID, sizeof kEngineID, 7, 4000, 1, kOids, nullptr, nullptr, nullptr, "inkprobe",
        kAuthPassword, kPrivPassword, authKey, privKey, out));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SnmpV3RequestBuildAuthPriv)->Unit(benchmark::kMillisecond);

// The request built with values is a SetRequest (A3), which the parser reads
// like a Response: signed and enciphered exactly as an agent's answer is.
void BM_SnmpV3ParseAuthPriv(benchmark::State& state) {
  netio::SetDiagnosticsSink(nullptr);
  static const unsigned char kDeviceId[] = "MFG:Acme;CMD:PCL;STS:AAAAAAAAAAAAAAAAAAAAAAAAAAAA;";
  const unsigned char* const values[] = {kDeviceId};
  const signed char lens[] = {sizeof kDeviceId - 1};
  const unsigned char tags[] = {0x04};
  _SNMP_PARAM_V3 params{};
  unsigned char msg[kSnmpV3WorkSize], work[kSnmpV3WorkSize];
  const int n = CNetIO::BuildSnmpV3RequestPacket(
      kEngineID, sizeof kEngineID, 7, 4000, 1, kOids, values, lens, tags, "inkprobe",
      kAuthPassword, kPrivPassword, params.authKey, params.privKey, msg);
  for (auto _ : state) {
    memcpy(work, msg, static_cast<size_t>(n));
    if (CNetIO::parseSnmpV3AuthenticatedResponse(work, n, nullptr, nullptr, nullptr, nullptr,
                                                 &params) != 1)
      state.SkipWithError("the parser refused the message");
  }
}
BENCHMARK(BM_SnmpV3ParseAuthPriv);

}  // namespace

BENCHMARK_MAIN();
