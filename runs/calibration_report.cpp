#include "runs/calibration_report.h"

#include "text/output_file.h"

namespace empricer {

Status writeCalibrationReport(const std::string& path, const CalibrationLog& log,
                              const ValuationRequest& common, double tradingDays) {
  RowFile file;
  if (Status made = file.create(path.c_str()); !made.ok()) return made;
  if (Status written = file.writeRow(calibrationReportText(log, common, tradingDays));
      !written.ok()) {
    return written;
  }
  return file.close();
}

}  // namespace empricer
