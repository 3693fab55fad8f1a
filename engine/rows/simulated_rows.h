// The two simulated valuers: every row on its own trajectories, and the rows of each S0 as one
// chain on shared trajectories (engine/simulation/group_valuation.h).
#pragma once

#include <memory>

#include "engine/rows/row_valuer.h"

namespace empricer {

// Rows valued one by one, each a group of one: rows are handed to the queue ahead of the one
// being completed, so that its workers simulate them meanwhile. The valued rows before the
// run's range are jumped over in the generator, so that a shard draws what the whole run
// would.
std::unique_ptr<RowValuer> simulatedRows(const RunRows& rows, const ValuerTools& tools);

// Rows with the same S0 form a group, valued from one simulation when its first row of the
// range comes up. Groups are formed over all the rows, in the order of their first rows, and
// each draws on from where the groups before it left the generator.
std::unique_ptr<RowValuer> simulatedChains(const RunRows& rows, const ValuerTools& tools);

}  // namespace empricer
