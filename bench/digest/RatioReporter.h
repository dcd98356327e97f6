// Console output plus the ratios between named benchmarks of the same run,
// so a figure is always judged against a yardstick measured alongside it.
// CPU time: the build machine is shared, and these loops never block.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace benchutil {

struct Ratio {
  const char *label;
  std::string numerator;    // benchmark whose time is divided
  std::string denominator;  // by this one's
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  bool ReportContext(const Context &context) override {
    cyclesPerSecond_ = context.cpu_info.cycles_per_second;
    return ConsoleReporter::ReportContext(context);
  }

  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration || median)
        seconds_[run.run_name.str()] =
            run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Cycles per octet at the reported clock (approximate on a virtual CPU).
  void PrintCyclesPerByte(const std::string &name, double bytes) const {
    auto it = seconds_.find(name);
    if (it != seconds_.end())
      printf("%-44s %6.2f cycles/byte\n", name.c_str(), it->second * cyclesPerSecond_ / bytes);
  }

  void PrintRatios(const std::vector<Ratio> &ratios) const {
    for (const Ratio &r : ratios) {
      auto n = seconds_.find(r.numerator), d = seconds_.find(r.denominator);
      if (n != seconds_.end() && d != seconds_.end())
        printf("%-44s %6.3f\n", r.label, n->second / d->second);
    }
  }

 private:
  double cyclesPerSecond_ = 0;
  std::map<std::string, double> seconds_;
};

}  // namespace benchutil
