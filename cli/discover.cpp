#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/Commands.h"
#include "cli/Json.h"
#include "netio/NetIO.h"

namespace cli {

namespace {

const char kSysObjectId0[] = "1.3.6.1.2.1.1.2.0";
const char kBroadcastTarget[] = "255.255.255.255";
const char kAllNodesTarget[] = "ff02::1";

// Elapsed time and agents so far on the terminal's standard error, since a
// search takes seconds per interface. Lines for standard output go through
// it, so that none lands behind the progress text.
class Progress {
 public:
  Progress() : start_(Clock::now()) {
    if (isatty(STDERR_FILENO)) thread_ = std::thread([this] { Run(); });
  }
  ~Progress() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
    thread_.join();
    fputs("\r\033[K", stderr);
  }
  void Found(const std::string& line, bool print) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++found_;
    if (!print) return;
    if (thread_.joinable()) fputs("\r\033[K", stderr);
    printf("%s\n", line.c_str());
    fflush(stdout);
  }

 private:
  using Clock = std::chrono::steady_clock;
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return done_; })) {
      const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
      fprintf(stderr, "\r\033[Kdiscovering: %.1f s, %d found", seconds, found_);
    }
  }

  const Clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  int found_ = 0;
  std::thread thread_;
};

// The library reports an agent once per answer; people want it once.
struct Agents {
  Progress& progress;
  bool printAsFound;
  std::set<std::string> seen;
  std::vector<std::string> inOrder;
};

bool OnAgent(char* address, char*, void* context) {
  auto* agents = static_cast<Agents*>(context);
  if (!address || !agents->seen.insert(address).second) return true;
  agents->inOrder.push_back(address);
  agents->progress.Found(address, agents->printAsFound);
  return true;
}

void Search(CNetIO& netio, const Options& o, Agents* agents) {
  const char* community = o.community.c_str();
  const bool ipv6 = o.scan == Scan::kIpv6 || o.scan == Scan::kScanIndex;
  const std::string target = !o.target.empty() ? o.target
                             : ipv6            ? kAllNodesTarget
                                               : kBroadcastTarget;
  const char* t = target.c_str();
  if (o.v3) {
    if (ipv6) {
      netio.FindSnmpV3AgentV6_(nullptr, t, nullptr, OnAgent, agents, true);
    } else {
      netio.FindSnmpV3Agent(nullptr, t, nullptr, OnAgent, agents, true);
    }
    return;
  }
  switch (o.scan) {
    case Scan::kDefault:
      netio.FindSnmpAgent(community, t, kSysObjectId0, OnAgent, agents, true);
      break;
    case Scan::kIpv6:
      netio.FindSnmpAgentV6_(community, t, kSysObjectId0, OnAgent, agents, true);
      break;
    case Scan::kScanIndex:
      netio.FindSnmpAgentV6(community, t, kSysObjectId0, OnAgent, agents, true);
      break;
    case Scan::kBoth:
      netio.FindSnmpAgent3Times(community, kSysObjectId0, OnAgent, agents);
      break;
  }
}

}  // namespace

int RunDiscover(const Options& options) {
  std::vector<std::string> found;
  {
    Progress progress;
    Agents agents{progress, !options.json, {}, {}};
    CNetIO netio;
    // The library matches two target OIDs per search.
    const auto& oids = options.sysObjectIds;
    for (size_t i = 0; i < oids.size(); i += 2) {
      const std::string& second = i + 1 < oids.size() ? oids[i + 1] : oids[i];
      netio.InitTargetOID(oids[i].c_str(), second.c_str());
      Search(netio, options, &agents);
    }
    found = std::move(agents.inOrder);
  }
  if (options.json) {
    printf("{\"agents\": [");
    for (size_t i = 0; i < found.size(); ++i)
      printf("%s%s", i ? ", " : "", JsonString(found[i]).c_str());
    printf("]}\n");
  }
  if (found.empty()) {
    Complain("no agent found");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace cli
