#include "text/output_file.h"

std::FILE* openForWriting(const char* path) { return std::fopen(path, "w"); }

void writeLine(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

void writeText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}
