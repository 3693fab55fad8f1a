// The checks of --check, one for each file it reads. Each adds the file's findings and the
// values its lines read to the report.
#pragma once

#include <cstdint>
#include <optional>

#include "app/check/check_run.h"
#include "engine/table/draw_table.h"

namespace empricer::check {

// Setup.txt. Gives the run mode a run would settle on, nothing when the file cannot be opened.
std::optional<double> checkSettings(CheckReport& report);

// dist.csv, its days of `day.stepsPerDay` steps.
void checkDistribution(CheckReport& report, const CheckDay& day);

// The share of days on which the band (a path held within 1/1.07 to 1.07 of its price at the
// start of the day) stops a path of `stepsPerDay` steps with these draws, estimated from the normal law
// of the day's sum of log step factors: the chance that a Brownian motion with that sum's
// mean and spread reaches either end of the band within the day (each end moved out by 0.5826
// step deviations, as a walk watched at its steps only reaches it less often), the two
// chances added. A log step factor is held within twice the band's half-width.
double bandBindingShare(const DrawTable& draws, int stepsPerDay);

// batch.csv, which a batch run requires and a run whose mode is asked may do without.
// False when it cannot be opened and is not required.
bool checkBatch(CheckReport& report, bool required, std::optional<std::int32_t> trajectories);

}  // namespace empricer::check
