#include "app/check/check_run.h"

#include <cstddef>
#include <optional>
#include <string>

#include "app/check/check_files.h"
#include "runs/file_names.h"
#include "runs/settings.h"
#include "runs/stop.h"
#include "text/exit_status.h"
#include "text/int_conversion.h"

namespace empricer {

CheckReport checkFiles(const CheckDay& day) {
  CheckReport report;
  const std::optional<double> runMode = check::checkSettings(report);
  check::checkDistribution(report, day);
  report.filesRead = {kSettingsFileName, kDistributionFileName};
  // A run that is not told its mode asks for it, and may be a batch run.
  const int mode = runMode ? truncateToInt32(*runMode).value_or(-1) : 0;
  // The trajectories, when the settings load, for the rows past the generator's cycle.
  Outcome<RunSettings> settings = loadSettings(kSettingsFileName);
  const std::optional<std::int32_t> trajectories =
      settings.ok() ? std::optional<std::int32_t>(settings.value().trajectories) : std::nullopt;
  if ((mode == 0 || mode == kBatchRunMode) &&
      check::checkBatch(report, mode == kBatchRunMode, trajectories)) {
    report.filesRead.push_back(kBatchFileName);
  }
  return report;
}

int runCheck(const CheckDay& day) {
  const CheckReport report = checkFiles(day);
  for (const std::string& line : report.findings) {
    if (Status shown = printLine(line); !shown.ok()) return stopWith(shown.message());
  }
  if (!report.findings.empty()) return kFailureStatus;
  std::string summary;
  for (std::size_t i = 0; i < report.filesRead.size(); ++i) {
    if (i > 0) summary += i + 1 == report.filesRead.size() ? " and " : ", ";
    summary += report.filesRead[i];
  }
  summary += ": every line reads as it looks";
  Status shown = printLine(summary);
  return shown.ok() ? kDoneStatus : stopWith(shown.message());
}

}  // namespace empricer
