// Writing text lines: every line ends with a newline and is flushed at once, so a run that is
// cut off leaves every finished line in place.
#pragma once

#include <cstdio>
#include <string_view>

// Creates the file or truncates it to empty; nullptr when that is not possible.
std::FILE* openForWriting(const char* path);

void writeLine(std::FILE* stream, std::string_view text);
// Text without a line end, flushed (prompts).
void writeText(std::FILE* stream, std::string_view text);
