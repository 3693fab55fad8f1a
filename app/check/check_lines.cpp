#include "app/check/check_lines.h"

#include <cstddef>
#include <string>
#include <vector>

#include "app/check/check_text.h"
#include "text/status.h"

namespace empricer::check {

int FileLine::dataReads() const {
  int count = 0;
  for (const LineBuffer& read : reads) count += isEmptyLine(read) ? 0 : 1;
  return count;
}

std::vector<FileLine> linesOf(InputStream& stream) {
  std::vector<FileLine> lines;
  bool continues = false;  // the last read stopped at 99 characters, inside its line
  while (!stream.endOfFile) {
    LineBuffer read{};
    readLine(stream, read);
    if (!continues) lines.push_back({static_cast<int>(lines.size()) + 1, {}, 0});
    lines.back().reads.push_back(read);
    lines.back().length += read.length;
    continues = read.length == kMaxLineCharacters;
  }
  return lines;
}

std::string piecesReason(const FileLine& line) {
  return "it has " + std::to_string(line.length) +
         " characters, and a line is read in pieces of at most " +
         std::to_string(kMaxLineCharacters);
}

std::string runStops(const std::string& message) {
  return "a run stops with " + quoted(message);
}

bool openedOrReported(InputStream& stream, const char* fileName, bool required,
                      Findings& findings, std::vector<std::string>& out) {
  openForReading(stream, fileName);
  if (isOpen(stream)) return true;
  if (required) findings.addFile("cannot be opened", runStops(openFailure(fileName).message));
  findings.appendTo(out);
  return false;
}

void Findings::add(int line, const std::string& reads, std::vector<std::string> reasons) {
  if (reasons.empty()) return;
  Finding& finding = lines_[line];
  if (finding.reads.empty()) finding.reads = reads;
  for (std::string& reason : reasons) finding.reasons.push_back(std::move(reason));
}

void Findings::addFile(const std::string& what, const std::string& why) {
  whole_.push_back(file_ + ": " + what + ": " + why);
}

void Findings::appendTo(std::vector<std::string>& out) const {
  for (const auto& [line, finding] : lines_) {
    std::string text = file_ + ":" + std::to_string(line) + ": " + finding.reads + ": ";
    for (std::size_t i = 0; i < finding.reasons.size(); ++i) {
      if (i > 0) text += "; ";
      text += finding.reasons[i];
    }
    out.push_back(std::move(text));
  }
  out.insert(out.end(), whole_.begin(), whole_.end());
}

}  // namespace empricer::check
