#include <benchmark/benchmark.h>

#include <string>

#include "status/TavraCmd.h"

namespace {

std::string DeviceId() {
  unsigned char record[PRINTER_STATUS_SIZE];
  for (size_t i = 0; i < sizeof record; ++i) record[i] = static_cast<unsigned char>(i * 29);
  char field[200];
  base64_encode(record, sizeof record, field, sizeof field);
  return std::string("MFG:Acme;CMD:PCL,PJL;MDL:Laser 100;CLS:PRINTER;STS:") + field + ";\n";
}

void BM_DecodStatusFromDeviceID(benchmark::State& state) {
  const std::string id = DeviceId();
  PRINTER_STATUS status;
  for (auto _ : state) {
    benchmark::DoNotOptimize(DecodStatusFromDeviceID(id.c_str(), &status));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * id.size()));
}
BENCHMARK(BM_DecodStatusFromDeviceID);

void BM_Base64Encode108(benchmark::State& state) {
  unsigned char record[PRINTER_STATUS_SIZE] = {};
  char field[200];
  for (auto _ : state) {
    benchmark::DoNotOptimize(base64_encode(record, sizeof record, field, sizeof field));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Base64Encode108);

}  // namespace
BENCHMARK_MAIN();
