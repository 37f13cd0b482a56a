// The summary printed after the run: each case's median set against its floor and its target,
// all taken from the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace kwbench {

/// One plane size the cases run at.
struct Size {
  const char* label;  ///< "100k", "1M": the suffix of every case name
  long segments;      ///< the plane has (segments + 1)² points
  long Points() const { return (segments + 1) * (segments + 1); }
};

/// How a case is judged in the summary.
struct CaseInfo {
  std::string name;       ///< the case name without the size suffix
  std::string reference;  ///< the case its ratio is taken against (empty: the copy floor only)
  double maxRatio = 0.0;  ///< the target ratio at 1M points; 0: none
  double maxMs = 0.0;     ///< an absolute target at 1M points, in ms; 0: none
  bool perPoint = false;  ///< also show the time per point (falloff sampling)
};

/// The console output of Google Benchmark, plus the medians it saw, for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  bool ReportContext(const Context& context) override;
  /// True once a case has reported a time (not when the run only lists the cases).
  bool HasResults() const { return !medianMs_.empty(); }
  void ReportRuns(const std::vector<Run>& runs) override;

  /// Prints, per size, every case's median, its ratio to the copy floor and to its reference,
  /// and whether the targets hold. Returns the number of targets missed.
  int PrintSummary(std::ostream& out, const std::vector<Size>& sizes,
                   const std::vector<CaseInfo>& cases, const std::string& copyFloor) const;

 private:
  /// The system's load averages, or "unknown" where /proc/loadavg cannot be read.
  static std::string LoadAverage();

  /// Median wall time in ms by full case name.
  std::map<std::string, double> medianMs_;
  int repetitions_ = 0;
  std::string loadAtStart_ = "unknown";
};

}  // namespace kwbench
