// The two kinds of run and the program's flow around them.
#pragma once

#include <cstdint>

#include "app/clock.h"
#include "app/console_input.h"
#include "app/settings.h"
#include "engine/outcome.h"
#include "engine/random_generator.h"
#include "engine/valuation_queue.h"

// Asks for the underlying price, the strike and the days, values them, writes the report.
// Fails with the message the program stops with.
Status runManual(const RunSettings& settings, std::int64_t startTime, Clock& clock,
                 ConsoleInput& console, RandomGenerator& generator, ValuationQueue& queue);

// Values every row of "batch.csv" into "Batch_Result.csv" with a console echo per row. Fails
// with the message the program stops with; the rows before a failure stay written.
Status runBatch(const RunSettings& settings, std::int64_t startTime, Clock& clock,
                RandomGenerator& generator, ValuationQueue& queue);

// What the command line chose.
struct ProgramOptions {
  int threads = 1;  // threads for the valuations, the calling one included
  SimulationChoice simulation;
};

// The whole program: seed, settings, banner, run mode, run, closing line, optional pause.
// Returns the exit status: 0 after a normal end, kStoppedStatus after the stop step.
int runProgram(Clock& clock, ConsoleInput& console, const ProgramOptions& options);
