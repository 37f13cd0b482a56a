#include "bench_summary.h"

#include <cstdio>
#include <fstream>
#include <ostream>

namespace kwbench {
namespace {

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string Pad(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

}  // namespace

std::string SummaryReporter::LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  if (!(file >> one >> five >> fifteen)) return "unknown";
  return one + ", " + five + ", " + fifteen;
}

bool SummaryReporter::ReportContext(const Context& context) {
  loadAtStart_ = LoadAverage();
  return ConsoleReporter::ReportContext(context);
}

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.error_occurred) continue;
    // With repetitions the median aggregate stands for the case; a single run stands for
    // itself.
    const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
    if (!median && !single) continue;
    const double ms =
        run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
    medianMs_[run.run_name.function_name] = ms;
    repetitions_ = static_cast<int>(run.repetitions);
  }
}

int SummaryReporter::PrintSummary(std::ostream& out, const std::vector<Size>& sizes,
                                  const std::vector<CaseInfo>& cases,
                                  const std::string& copyFloor) const {
  int missed = 0;
  int checked = 0;
  out << "\nSummary: median wall time of " << (repetitions_ > 1 ? repetitions_ : 1)
      << " repetition(s) per case; ratios are medians of this run over medians of this run.\n";
  for (const Size& size : sizes) {
    const std::string suffix = std::string("/") + size.label;
    auto median = [&](const std::string& name) -> const double* {
      auto found = medianMs_.find(name + suffix);
      return found == medianMs_.end() ? nullptr : &found->second;
    };
    const double* copy = median(copyFloor);
    out << "\n" << size.label << " (" << size.Points() << " points)\n";
    out << Pad("case", 40) << Pad("median ms", 12) << Pad("x copy", 9) << Pad("x ref", 9)
        << Pad("reference", 38) << "target\n";
    for (const CaseInfo& info : cases) {
      const double* ms = median(info.name);
      if (!ms) continue;
      std::string line = Pad(info.name, 40) + Pad(Format("%.3f", *ms), 12);
      line += Pad(copy ? Format("%.2f", *ms / *copy) : "-", 9);
      const double* ref = info.reference.empty() ? nullptr : median(info.reference);
      line += Pad(ref ? Format("%.2f", *ms / *ref) : "-", 9);
      std::string refText = info.reference;
      if (info.perPoint) refText = Format("%.1f ns per position", *ms * 1e6 / size.Points());
      line += Pad(refText, 38);

      // The targets are stated for a million points.
      const bool judged = size.Points() >= 1000000;
      std::string verdict;
      if (judged && info.maxRatio > 0.0 && ref) {
        const bool ok = *ms / *ref <= info.maxRatio;
        verdict += Format("<= %.1fx ", info.maxRatio) + (ok ? "ok" : "MISSED");
        ++checked;
        missed += ok ? 0 : 1;
      }
      if (judged && info.maxMs > 0.0) {
        const bool ok = *ms < info.maxMs;
        verdict += (verdict.empty() ? "" : "; ") + Format("< %.0f ms ", info.maxMs) +
                   (ok ? "ok" : "MISSED");
        ++checked;
        missed += ok ? 0 : 1;
      }
      out << line << verdict << "\n";
    }
  }
  out << "\nTargets: " << checked - missed << " of " << checked << " met.\n";
  // Other work on the machine shows in the figures; take them when both are low.
  out << "Load average (1, 5, 15 min) at the start: " << loadAtStart_
      << "; at the end: " << LoadAverage() << "\n";
  return missed;
}

}  // namespace kwbench
