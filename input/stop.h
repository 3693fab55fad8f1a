// Stopping the program, and the stand-in for a "pause" command.
#pragma once

#include <cstdio>
#include <string_view>

#include "input/input_stream.h"

// Writes "Press any key to continue . . . " and flushes; when standard input is a terminal,
// waits for one key press (raw, no echo); then writes a line end.
void pauseForKey();

// The one way the program stops early: `message` to standard output with no line end,
// flushed, then the pause, then exit status 1.
[[noreturn]] void stopProgram(std::string_view message);

// For harnesses that run the program's code inside their own process: when a handler is set,
// stopProgram calls it with the exit status after the message and the pause, in place of
// ending the process. The handler must not return (it throws or jumps); if it does, the
// process ends as usual. No handler is set in the program itself.
using StopHandler = void (*)(int status);
void setStopHandler(StopHandler handler);

// Returns when the stream is open; otherwise stops with "Error opening file: " + fileName.
void requireOpen(const InputStream& stream, std::string_view fileName);
void requireOpen(std::FILE* stream, std::string_view fileName);
