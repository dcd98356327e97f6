#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/FleetInput.h"
#include "cli/Json.h"
#include "netio/Fleet.h"

namespace cli {

namespace {

const char* ProtocolName(netio::FleetProtocol protocol) {
  switch (protocol) {
    case netio::FleetProtocol::kSnmpV1:
      return "SNMPv1";
    case netio::FleetProtocol::kSnmpV3:
      return "SNMPv3";
    case netio::FleetProtocol::kNone:
      break;
  }
  return "";
}

std::string Hex(const PRINTER_STATUS& status) {
  std::string out;
  const unsigned char* octets = &status.blackLevel;
  for (size_t i = 0; i < sizeof status; ++i) {
    char two[3];
    snprintf(two, sizeof two, "%02x", octets[i]);
    out += two;
  }
  return out;
}

// A Prometheus label value: backslash, quote and line feed escaped.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

// Done / total on a terminal's standard error, redrawn at most ten times a
// second; result lines clear it first so none lands behind it.
class Progress {
 public:
  explicit Progress(size_t total) : total_(total), shown_(isatty(STDERR_FILENO)) {}
  ~Progress() {
    if (shown_) fputs("\r\033[K", stderr);
  }
  void Clear() {
    if (shown_) fputs("\r\033[K", stderr);
  }
  void Count(bool answered) {
    ++(answered ? answered_ : failed_);
    const auto now = Clock::now();
    if (!shown_ || (now - drawn_ < std::chrono::milliseconds(100) && Done() < total_)) return;
    drawn_ = now;
    fprintf(stderr, "\r\033[K%zu / %zu done, %zu answered, %zu failed", Done(), total_, answered_,
            failed_);
  }
  size_t Done() const { return answered_ + failed_; }
  size_t failed() const { return failed_; }

 private:
  using Clock = std::chrono::steady_clock;
  const size_t total_;
  const bool shown_;
  size_t answered_ = 0, failed_ = 0;
  Clock::time_point drawn_{};
};

// The result lines as they come, or the Prometheus families at the end.
class Report {
 public:
  Report(const Options& o, Progress* progress) : o_(o), progress_(progress) {}

  void Add(const netio::FleetResult& r) {
    const bool answered = r.protocol != netio::FleetProtocol::kNone;
    const int level = r.status.blackLevel & 0x7F;
    if (o_.prometheus) {
      up_ += "netio_printer_up{address=\"" + LabelValue(*r.address) + "\"} " +
             (answered ? "1\n" : "0\n");
      if (answered)
        levels_ += "netio_printer_black_percent{address=\"" + LabelValue(*r.address) +
                   "\",protocol=\"" + ProtocolName(r.protocol) + "\"} " + std::to_string(level) +
                   "\n";
    } else {
      progress_->Clear();
      std::string line = o_.json ? JsonLine(r, answered, level) : TextLine(r, answered, level);
      fputs(line.c_str(), stdout);
      fflush(stdout);
    }
    progress_->Count(answered);
  }

  void Finish() const {
    if (!o_.prometheus) return;
    printf("# HELP netio_printer_up Whether the printer answered with its status record.\n"
           "# TYPE netio_printer_up gauge\n%s"
           "# HELP netio_printer_black_percent Black toner left, in percent.\n"
           "# TYPE netio_printer_black_percent gauge\n%s",
           up_.c_str(), levels_.c_str());
    fflush(stdout);
  }

 private:
  std::string TextLine(const netio::FleetResult& r, bool answered, int level) const {
    if (!answered) return *r.address + "  " + r.error + "\n";
    std::string line = *r.address + "  black: " + std::to_string(level) + "%  (" +
                       ProtocolName(r.protocol) + ")";
    if (o_.raw) line += "  " + Hex(r.status);
    return line + "\n";
  }

  std::string JsonLine(const netio::FleetResult& r, bool answered, int level) const {
    std::string line = "{\"address\": " + JsonString(*r.address);
    if (!answered) return line + ", \"protocol\": null, \"error\": " + JsonString(r.error) + "}\n";
    line += std::string(", \"protocol\": \"") + ProtocolName(r.protocol) +
            "\", \"black_level\": " + std::to_string(level);
    if (o_.raw) line += ", \"raw\": \"" + Hex(r.status) + "\"";
    return line + "}\n";
  }

  const Options& o_;
  Progress* progress_;
  std::string up_, levels_;
};

// The lines of --from; false when the file cannot be read.
bool ReadFrom(const std::string& name, FleetAddresses* addresses) {
  std::ifstream file;
  if (name != "-") {
    file.open(name);
    if (!file) return false;
  }
  std::istream& in = name == "-" ? std::cin : file;
  const std::string shown = name == "-" ? "standard input" : name;
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    std::vector<std::string> texts;
    bool good = LineAddresses(line, &texts);
    for (const std::string& text : texts) good = addresses->Add(text) && good;
    if (!good) Complain(shown + ":" + std::to_string(number) + ": not a numeric address, skipped");
  }
  return !in.bad();
}

// Two descriptors per printer in flight: ask for them, as far as allowed.
void RaiseDescriptorLimit(int parallel) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t wanted = static_cast<rlim_t>(parallel) * 2 + 64;
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

bool IsFleetStatus(const Options& o) {
  return o.operands.size() != 1 || !o.from.empty() || o.parallel > 0 || o.prometheus;
}

int RunFleetStatus(const Options& options) {
  FleetAddresses addresses;
  for (const std::string& operand : options.operands) addresses.Add(operand);
  if (!options.from.empty() && !ReadFrom(options.from, &addresses)) {
    Complain("cannot read " + options.from);
    return kExitUsage;
  }
  if (addresses.list().empty()) {
    Complain("status: no address to read");
    return kExitUsage;
  }
  const int parallel = options.parallel > 0 ? options.parallel : netio::kDefaultFleetParallel;
  RaiseDescriptorLimit(parallel);
  Progress progress(addresses.list().size());
  Report report(options, &progress);
  if (!netio::ReadFleet(addresses.list(), parallel,
                        [&report](const netio::FleetResult& r) { report.Add(r); })) {
    Complain("status: cannot run the event loop");
    return kExitFailed;
  }
  report.Finish();
  return progress.failed() == 0 ? kExitOk : kExitFailed;
}

}  // namespace cli
