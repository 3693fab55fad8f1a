// The checks of --check, one for each file it reads. Each adds the file's findings and the
// values its lines read to the report.
#pragma once

#include <cstdint>
#include <optional>

#include "app/check_run.h"

namespace empricer::check {

// Setup.txt. Gives the run mode a run would settle on, nothing when the file cannot be opened.
std::optional<double> checkSettings(CheckReport& report);

// dist.csv.
void checkDistribution(CheckReport& report);

// batch.csv, which a batch run requires and a run whose mode is asked may do without.
// False when it cannot be opened and is not required.
bool checkBatch(CheckReport& report, bool required, std::optional<std::int32_t> trajectories);

}  // namespace empricer::check
