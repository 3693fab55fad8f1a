// Stopping the program early, and the stand-in for a "pause" command.
#pragma once

#include <string_view>

// Exit status of a run that stopped early.
constexpr int kStoppedStatus = 1;

// Writes "Press any key to continue . . . " and flushes; when standard input is a terminal,
// waits for one key press (raw, no echo); then writes a line end.
void pauseForKey();

// The stop step: `message` to standard output with no line end, flushed, then the pause.
// Returns kStoppedStatus, the status the program then exits with; nothing more is written.
int stopWith(std::string_view message);
