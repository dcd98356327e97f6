// Cost of resolving device URIs. The DNS-SD cases show the early end: a
// service with both families should take a fraction of the 3 s that a
// single-address service waits out. They need root (a namespace lab with
// Avahi) and report an error otherwise.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "env/Lab.h"
#include "tool/address.h"

namespace {

using testenv::Lab;
using testenv::LabNode;

// One lab for the whole run: a client (this process) and two printers, one
// announcing IPv4 and IPv6 addresses, one IPv4 only.
struct ServiceLab {
  Lab lab;
  std::string error;

  ServiceLab() {
    if (!Lab::Available(&error) || !Lab::AvahiAvailable(&error)) return;
    testenv::NodeOptions ipv4Only;
    ipv4Only.ipv6 = false;
    ipv4Only.ipv6Global = false;
    LabNode* client = lab.AddNode("client", {}, &error);
    LabNode* dual = client ? lab.AddNode("dual", {}, &error) : nullptr;
    LabNode* single = dual ? lab.AddNode("single", ipv4Only, &error) : nullptr;
    if (!single) return;
    if (!lab.StartAvahi(*client, &error) || !lab.StartAvahi(*dual, &error) ||
        !lab.StartAvahi(*single, &error) || !lab.WaitReady(&error)) {
      return;
    }
    lab.PublishService(*dual, "Dual", "_printer._tcp", 515);
    lab.PublishService(*single, "Single", "_printer._tcp", 515);
    if (!lab.WaitReady(&error) || !lab.Enter(*client, &error)) return;
    lab.UseBusOf(*client);
    error.clear();
  }
};

ServiceLab& SharedLab() {
  static ServiceLab lab;
  return lab;
}

void Resolve(benchmark::State& state, const char* uri, size_t expected) {
  for (auto _ : state) {
    getAddressFromURL(uri);
    if (mDNSIP.size() != expected) {
      state.SkipWithError("unexpected address count");
      return;
    }
  }
}

void BM_HostLiteral(benchmark::State& state) { Resolve(state, "ipp://[::1]:631/ipp/print", 1); }
BENCHMARK(BM_HostLiteral);

void BM_ServiceBothFamilies(benchmark::State& state) {
  if (!SharedLab().error.empty()) return state.SkipWithError(SharedLab().error.c_str());
  Resolve(state, "dnssd://Dual._printer._tcp.local./", 2);
}
BENCHMARK(BM_ServiceBothFamilies)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ServiceOneAddress(benchmark::State& state) {
  if (!SharedLab().error.empty()) return state.SkipWithError(SharedLab().error.c_str());
  Resolve(state, "dnssd://Single._printer._tcp.local./", 1);
}
BENCHMARK(BM_ServiceOneAddress)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
