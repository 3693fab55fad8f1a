// --calibration-report FILE: the calibration's report (engine/calibration_report.h) as a file.
#pragma once

#include <string>

#include "engine/quotes/calibration_report.h"
#include "engine/valuation/records.h"
#include "text/status.h"

namespace empricer {

// Writes calibrationReportText to `path`; fails with the stop message when it cannot.
Status writeCalibrationReport(const std::string& path, const CalibrationLog& log,
                              const ValuationRequest& common, double tradingDays);

}  // namespace empricer
