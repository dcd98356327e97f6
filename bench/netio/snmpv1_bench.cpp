// The SNMPv1 hot path: reading a status GetResponse and building the request.
#include <benchmark/benchmark.h>

#include <string>

#include "netio/NetIO.h"
#include "tests/netio/Messages.h"

namespace {

using testmsg::Bytes;

// A 227-octet device ID whose "STS:" field holds a 108-byte record.
std::string DeviceId() {
  unsigned char record[PRINTER_STATUS_SIZE];
  for (size_t i = 0; i < sizeof record; ++i) record[i] = static_cast<unsigned char>(i * 37);
  char sts[200];
  base64_encode(record, sizeof record, sts, sizeof sts);
  std::string id = "MFG:Acme;CMD:PCL,PJL;MDL:Model 1;CLS:PRINTER;DES:Acme;";
  const std::string tail = std::string("STS:") + sts + ";";
  id += "CID:" + std::string(227 - id.size() - tail.size() - 5, 'x') + ";";
  return id + tail;
}

// Message contents of 281 octets behind 30 82 01 19.
Bytes StatusResponse() {
  const std::string id = DeviceId();
  return testmsg::Response(testmsg::kDeviceIdOid, 0x04, Bytes(id.begin(), id.end()));
}

void BM_ParseGetResponse(benchmark::State& state) {
  const Bytes msg = StatusResponse();
  for (auto _ : state) {
    int ok = CNetIO::parseGetResponse(msg.data(), static_cast<int>(msg.size()), nullptr, nullptr,
                                      nullptr, nullptr, nullptr, outputDeviceIdValue);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.counters["octets"] = static_cast<double>(msg.size());
  state.counters["deviceId"] = static_cast<double>(DeviceId().size());
}
BENCHMARK(BM_ParseGetResponse);

void BM_ParseForDeviceId(benchmark::State& state) {
  const Bytes msg = StatusResponse();
  PRINTER_STATUS status;
  for (auto _ : state) {
    bool ok = CNetIO::parseForDeviceId(msg.data(), static_cast<int>(msg.size()), &status);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ParseForDeviceId);

void BM_BuildStatusRequest(benchmark::State& state) {
  unsigned char out[256];
  for (auto _ : state) {
    int n = netio::BuildStatusRequest("public", out, sizeof out);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildStatusRequest);

void BM_BuildGetRequestFor(benchmark::State& state) {
  unsigned char out[2048];
  for (auto _ : state) {
    int n = CNetIO::BuildGetRequestFor(1, "1.3.6.1.4.1.40719.886.300.369.8531.1.1.0", "public", out);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildGetRequestFor);

}  // namespace

BENCHMARK_MAIN();
