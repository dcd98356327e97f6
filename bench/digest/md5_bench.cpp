// MD5 over 1 MiB in 64-octet updates, the key localisation's access pattern.
#define OPENSSL_SUPPRESS_DEPRECATED  // MD5_Update: the bare core, no EVP dispatch
#include <openssl/md5.h>

#include <cstdint>
#include <vector>

#include "bench/digest/RatioReporter.h"
#include "digest/cMD5.h"

namespace {

constexpr size_t kMiB = 1 << 20;

const std::vector<uint8_t> &Input() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(kMiB);
    uint32_t x = 2463534242u;
    for (auto &b : d) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      b = uint8_t(x);
    }
    return d;
  }();
  return data;
}

void BM_MD5_Ours(benchmark::State &state) {
  const uint8_t *p = Input().data();
  uint8_t digest[16];
  for (auto _ : state) {
    MD5Init();
    for (size_t off = 0; off < kMiB; off += 64) MD5Update(p + off, 64);
    MD5Final(digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kMiB);
}
BENCHMARK(BM_MD5_Ours)->Unit(benchmark::kMicrosecond);

void BM_MD5_OpenSSL(benchmark::State &state) {
  const uint8_t *p = Input().data();
  uint8_t digest[16];
  for (auto _ : state) {
    MD5_CTX c;
    MD5_Init(&c);
    for (size_t off = 0; off < kMiB; off += 64) MD5_Update(&c, p + off, 64);
    MD5_Final(digest, &c);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kMiB);
}
BENCHMARK(BM_MD5_OpenSSL)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchutil::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintCyclesPerByte("BM_MD5_Ours", kMiB);
  reporter.PrintCyclesPerByte("BM_MD5_OpenSSL", kMiB);
  reporter.PrintRatios(
      {{"MD5 throughput, ours / OpenSSL (>= 0.9)", "BM_MD5_OpenSSL", "BM_MD5_Ours"}});
  benchmark::Shutdown();
  return 0;
}
