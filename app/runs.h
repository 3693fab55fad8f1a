// The two kinds of run and the program's flow around them.
#pragma once

#include <cstdint>

#include "app/clock.h"
#include "app/console_input.h"
#include "input/settings.h"

// Asks for the underlying price, the strike and the days, values them, writes the report.
void runManual(const RunSettings& settings, std::int64_t startTime, Clock& clock,
               ConsoleInput& console);

// Values every row of "batch.csv" into "Batch_Result.csv" with a console echo per row.
void runBatch(const RunSettings& settings, std::int64_t startTime, Clock& clock);

// The whole program: seed, settings, banner, run mode, run, closing line, optional pause.
// Returns the exit status of a normal end; an early stop exits from where it happens.
int runProgram(Clock& clock, ConsoleInput& console);
