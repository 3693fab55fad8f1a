// What a run does when SIGINT or SIGTERM stops it: the temporary file that it made is removed
// (only that file of its own: the same regular file it opened, while it is there), the rows
// already written stay whole, and the program then ends as one stopped by that signal does
// (the shell shows 128 + its number). The folder lock goes with the process.
#pragma once

#include <cstdio>

namespace empricer {

// From now on, SIGINT and SIGTERM stop the run as above, removing the file at `temporaryPath`
// while one is noted.
void watchStopSignals(const char* temporaryPath);
// The temporary file about to be opened, then just opened as `stream` (nullptr: it could not
// be), and its end (removed, or to be left behind). A signal that comes between the first two
// waits for the second, so that the file it made is removed too.
void openingTemporaryFile();
void noteTemporaryFile(std::FILE* stream);
void forgetTemporaryFile();

}  // namespace empricer
