// USM key localisation against our own MD5 over the same 1 MiB, and against
// the textbook byte-by-byte expansion (RFC 3414 A.2.1) on OpenSSL's MD5.
#define OPENSSL_SUPPRESS_DEPRECATED  // MD5_Update: the bare core, no EVP dispatch
#include <openssl/md5.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/digest/RatioReporter.h"
#include "digest/cMD5.h"
#include "netio/Usm.h"

namespace {

constexpr size_t kMiB = 1 << 20;
const char kPassword[] = "c0rrect-h0rse-b4tt3r";  // 20 octets
const uint8_t kEngineID[] = {0x80, 0x00, 0x0B, 0x93, 0x03, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

void BM_MD5_Ours_1MiB(benchmark::State &state) {
  static const std::vector<uint8_t> data(kMiB, 0x5A);
  uint8_t digest[16];
  for (auto _ : state) {
    MD5Init();
    for (size_t off = 0; off < kMiB; off += 64) MD5Update(data.data() + off, 64);
    MD5Final(digest);
    benchmark::DoNotOptimize(digest);
  }
}
BENCHMARK(BM_MD5_Ours_1MiB)->Unit(benchmark::kMicrosecond);

void BM_Password_to_Key_md5(benchmark::State &state) {
  uint8_t key[16];
  for (auto _ : state) {
    Password_to_Key_md5(kPassword, sizeof kPassword - 1, kEngineID, sizeof kEngineID, key);
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(BM_Password_to_Key_md5)->Unit(benchmark::kMicrosecond);

// RFC 3414 A.2.1 as written: one modulo per password octet. Kept out of line
// so the length stays a run-time divisor, as in any library that takes it
// as an argument (net-snmp's does).
[[gnu::noinline]] void OpenSSLKeyByteByByte(const uint8_t *password, unsigned passwordLen,
                                             const uint8_t *engineID, unsigned engineIDLen,
                                             uint8_t *key) {
  MD5_CTX c;
  uint8_t buf[64];
  unsigned index = 0;
  MD5_Init(&c);
  for (size_t count = 0; count < kMiB; count += 64) {
    for (unsigned i = 0; i < 64; i++) buf[i] = password[index++ % passwordLen];
    MD5_Update(&c, buf, 64);
  }
  MD5_Final(key, &c);
  memcpy(buf, key, 16);
  memcpy(buf + 16, engineID, engineIDLen);
  memcpy(buf + 16 + engineIDLen, key, 16);
  MD5_Init(&c);
  MD5_Update(&c, buf, 32 + engineIDLen);
  MD5_Final(key, &c);
}

void BM_Password_to_Key_OpenSSL_ByteByByte(benchmark::State &state) {
  uint8_t key[16];
  unsigned passwordLen = sizeof kPassword - 1;
  benchmark::DoNotOptimize(passwordLen);
  for (auto _ : state) {
    OpenSSLKeyByteByByte(reinterpret_cast<const uint8_t *>(kPassword), passwordLen, kEngineID,
                         sizeof kEngineID, key);
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(BM_Password_to_Key_OpenSSL_ByteByByte)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchutil::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios({
      {"Password_to_Key_md5 / our MD5 1 MiB (<= 1.15)", "BM_Password_to_Key_md5",
       "BM_MD5_Ours_1MiB"},
      {"OpenSSL byte-by-byte / Password_to_Key_md5 (>= 1.7)",
       "BM_Password_to_Key_OpenSSL_ByteByByte", "BM_Password_to_Key_md5"},
  });
  benchmark::Shutdown();
  return 0;
}
