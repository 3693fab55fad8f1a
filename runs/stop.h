// Stopping the program early, the stand-in for a "pause" command, and standard output with
// every write checked.
#pragma once

#include <string_view>

#include "text/exit_status.h"
#include "text/status.h"

namespace empricer {

// Writes "Press any key to continue . . . " and flushes; when standard input is a terminal,
// waits for one key press (raw, no echo); then writes a line end. Fails when standard output
// does.
Status pauseForKey();

// The stop step: `message` to standard output with no line end, flushed, then the pause.
// Returns kFailureStatus, the status the program then exits with; nothing more is written.
// Once standard output has failed nothing more can be shown there: the message goes to
// standard error as a line of its own, followed, when standard output fails during the step
// itself, by the failure of standard output.
int stopWith(std::string_view message);

// Standard output, checked: each writes and flushes like writeLine and writeText, and a write
// that fails gives the failure of standard output, "empricer: standard output: " and the
// system's reason ("No space left on device"), which stopWith then puts on standard error.
Status printLine(std::string_view text);
Status printText(std::string_view text);
// The failure of standard output when any write to it so far has failed, also one made
// elsewhere (the elapsed-time line).
Status standardOutputWritten();

}  // namespace empricer
