// What empricer --check says lines read, against what a run reads, for the files in the
// working directory: every value --check gives (CheckReport::values) must be, bit for bit,
// the value a run reads from that line, and the field text it goes by must be the field's
// characters up to its first 0 byte. --check must give the values of every line it describes
// (each line read in one piece that gives a key of Setup.txt, a row of dist.csv up to the
// table's capacity, or a data row of batch.csv) and of no other line.
//
// The run's side: the reads of the line reader, grouped into the lines of the file (a read of
// fewer than 99 characters ends its line); the settings loader, the return-table loader,
// readBatchRow and the field extractors; the field text from the plain model in reference.h.
// Shared by the check fuzz target and the tests.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "runs/batch_rows.h"
#include "app/check/check_run.h"
#include "runs/file_names.h"
#include "runs/settings.h"
#include "engine/table/return_table.h"
#include "fuzz/harness.h"
#include "fuzz/reference.h"
#include "text/fields.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/line_reader.h"

namespace check_property {

using namespace empricer;

inline bool sameValue(double a, double b) {
  return reference::sameBits(a, b) || (std::isnan(a) && std::isnan(b));
}

inline std::string_view storedText(const LineBuffer& read) {
  return std::string_view(read.bytes.data(), static_cast<std::size_t>(read.length));
}

// A line of the file as the run reads it: its data reads (the non-empty ones), each with its
// place among all the reads of the file.
struct RunLine {
  std::vector<LineBuffer> data;
  std::vector<int> index;
};

// The lines of a file, from 1 (entry 0 stays empty); none when it cannot be opened.
inline std::vector<RunLine> runLines(const char* name) {
  std::vector<RunLine> lines;
  InputStream stream;
  openForReading(stream, name);
  if (!isOpen(stream)) return lines;
  lines.resize(1);
  bool continues = false;
  int reads = 0;
  LineBuffer line{};  // reused from read to read, as the readers do
  while (!stream.endOfFile) {
    readLine(stream, line);
    if (!continues) lines.emplace_back();
    if (!isEmptyLine(line)) {
      lines.back().data.push_back(line);
      lines.back().index.push_back(reads);
    }
    ++reads;
    continues = line.length == kMaxLineCharacters;
  }
  closeStream(stream);
  return lines;
}

inline std::string describe(const ReadValue& v) {
  return v.file + ":" + std::to_string(v.line) + " " + v.name + " (field " +
         std::to_string(v.field) + ") \"" + harness::printable(v.text) + "\" = " +
         harness::hexText(v.value);
}

inline const char* const kKeyNames[kLastKey + 1] = {
    "", "run mode", "trajectories", "rate", "step scale", "shift factor", "pause at the end",
    "winning probabilities"};

// The comparison, which keeps the first difference it meets.
class Comparison {
 public:
  explicit Comparison(const CheckReport& report) : report_(report) {}

  std::optional<std::string> firstDifference() {
    settings();
    distribution();
    batch();
    return difference_;
  }

 private:
  // What --check says about each line of one file.
  using Said = std::map<int, std::vector<const ReadValue*>>;

  // `what` makes the message, only for a difference.
  template <typename Message>
  bool expect(bool holds, Message&& what) {
    if (!holds && !difference_) difference_ = std::string(what());
    return holds;
  }

  Said saidAbout(const char* file) const {
    Said said;
    for (const ReadValue& value : report_.values) {
      if (value.file == file) said[value.line].push_back(&value);
    }
    return said;
  }

  // The values --check gives for a line: `count` of them, or nothing.
  const std::vector<const ReadValue*>* valuesOf(const Said& said, int line, std::size_t count,
                                               const char* file) {
    const auto found = said.find(line);
    const std::size_t given = found == said.end() ? 0 : found->second.size();
    if (!expect(given == count, [&] {
          return std::string(file) + ":" + std::to_string(line) + " has " +
                 std::to_string(given) + " values, and a run reads " + std::to_string(count);
        })) {
      return nullptr;
    }
    return &found->second;
  }

  // One value --check gives for `read`, against the field's text and the value a run reads.
  void compare(const ReadValue& got, const std::string& name, int field, char delimiter,
               const LineBuffer& read, double runValue) {
    auto where = [&] {
      return describe(got) + " of \"" + harness::printable(storedText(read)) + "\"";
    };
    expect(got.name == name && got.field == field, [&] { return where() + ": want " + name; });
    const std::optional<std::string> text =
        reference::fieldText(storedText(read), delimiter, field);
    expect(got.text == text.value_or(""), [&] {
      return where() + ": want text \"" + harness::printable(text.value_or("")) + "\"";
    });
    expect(sameValue(got.value, runValue),
           [&] { return where() + ": a run reads " + harness::hexText(runValue); });
  }

  void noOtherLine(const Said& said, const std::set<int>& described) {
    for (const auto& entry : said) {
      expect(described.count(entry.first) == 1, [&] {
        return describe(*entry.second.front()) + ": a line that --check does not describe";
      });
    }
  }

  static std::optional<int> runKey(const LineBuffer& read) {
    const auto key = truncateToInt32(fieldBySpace(read, 1));
    if (!key || *key < 1 || *key > kLastKey) return std::nullopt;
    return *key;
  }

  void settings() {
    const Said said = saidAbout(kSettingsFileName);
    const std::vector<RunLine> lines = runLines(kSettingsFileName);
    // Per key: the values --check gives for the line of its last read (none when that line is
    // read in pieces), whether some read gives exactly 1, whether every read is one line's.
    const std::vector<const ReadValue*>* last[kLastKey + 1] = {};
    bool one[kLastKey + 1] = {};
    bool allAlone[kLastKey + 1] = {};
    for (bool& alone : allAlone) alone = true;
    std::set<int> described;
    for (std::size_t l = 1; l < lines.size(); ++l) {
      const RunLine& line = lines[l];
      const int number = static_cast<int>(l);
      for (const LineBuffer& read : line.data) {
        const std::optional<int> key = runKey(read);
        if (!key) continue;
        const bool alone = line.data.size() == 1;
        last[*key] = nullptr;
        allAlone[*key] = allAlone[*key] && alone;
        one[*key] = one[*key] || fieldBySpace(read, 3) == 1.0;
        if (!alone) continue;
        described.insert(number);
        const int lastField = *key == 5 ? 6 : 3;
        const auto* values =
            valuesOf(said, number, static_cast<std::size_t>(lastField - 2), kSettingsFileName);
        if (values == nullptr) return;
        for (int f = 3; f <= lastField; ++f) {
          std::string name = kKeyNames[*key];
          if (*key == 5) name += ' ' + std::to_string(f - 2);
          compare(*(*values)[static_cast<std::size_t>(f - 3)], name, f, ' ', read,
                  fieldBySpace(read, f));
        }
        last[*key] = values;
      }
    }
    noOtherLine(said, described);

    // The deciding lines against the settings loader.
    const Outcome<RunSettings> loaded = loadSettings(kSettingsFileName);
    auto lastValue = [&](int key, std::size_t k = 0) { return (*last[key])[k]->value; };
    if (!loaded.ok()) {
      if (loaded.message() == trajectoriesOutOfRange(kSettingsFileName).message && last[2]) {
        expect(!truncateToInt32(lastValue(2)),
               [&] { return describe(*(*last[2])[0]) + ": a run stops"; });
      }
      return;
    }
    const RunSettings& s = loaded.value();
    if (last[1]) expect(sameValue(lastValue(1), s.runMode), [] { return "the run mode"; });
    if (last[2]) {
      expect(truncateToInt32(lastValue(2)) == s.trajectories, [] { return "the trajectories"; });
    }
    if (last[3]) expect(sameValue(lastValue(3), s.riskFreeRate), [] { return "the rate"; });
    if (last[4]) {
      expect(sameValue(kOneOverStepsPerDay / lastValue(4), s.stepFraction),
             [] { return "the step scale"; });
    }
    for (std::size_t k = 0; k < 4 && last[5]; ++k) {
      expect(sameValue(lastValue(5, k), s.shiftFactor[k]), [] { return "a shift factor"; });
    }
    for (const int key : {6, 7}) {
      const bool on = key == 6 ? s.pauseAtEnd : s.withProbabilities;
      bool saidOn = false;
      for (const auto& [line, values] : said) {
        for (const ReadValue* v : values) {
          saidOn = saidOn || (v->name == kKeyNames[key] && v->value == 1.0);
        }
      }
      const std::string name = kKeyNames[key];
      expect(on == one[key], [&] { return name + ": the loader"; });
      expect(!saidOn || on, [&] { return name + ": said on, and a run leaves it off"; });
      expect(!allAlone[key] || saidOn == on, [&] { return name + ": said off"; });
    }

    // batch.csv is read for a batch run, and when the run mode is asked and the file is there.
    const auto mode = truncateToInt32(s.runMode);
    const bool batchRead = report_.filesRead.size() == 3;
    const bool exists = harness::exists(kBatchFileName);
    expect(batchRead == (mode == kBatchRunMode || (mode == 0 && exists)),
           [&] { return std::string("batch.csv ") + (batchRead ? "read" : "not read"); });
  }

  void distribution() {
    const Said said = saidAbout(kDistributionFileName);
    const std::vector<RunLine> lines = runLines(kDistributionFileName);
    auto table = std::make_unique<ReturnTable>();
    // The loader fills the rows it reads even when it then fails (too many rows, total weight).
    static_cast<void>(loadReturnTable(*table, kDistributionFileName));
    std::set<int> described;
    std::int64_t row = 0;
    for (std::size_t l = 1; l < lines.size(); ++l) {
      const RunLine& line = lines[l];
      const int number = static_cast<int>(l);
      if (line.data.size() == 1 && row < kTableCapacity) {
        described.insert(number);
        const auto* values = valuesOf(said, number, 2, kDistributionFileName);
        if (values == nullptr) return;
        const LineBuffer& read = line.data[0];
        const auto i = static_cast<std::size_t>(row);
        compare(*(*values)[0], "return", 1, ',', read, table->returns[i]);
        compare(*(*values)[1], "weight", 2, ',', read, table->weights[i]);
      }
      row += static_cast<std::int64_t>(line.data.size());
    }
    noOtherLine(said, described);
  }

  void batch() {
    const Said said = saidAbout(kBatchFileName);
    std::set<int> described;
    const std::vector<RunLine> lines =
        report_.filesRead.size() == 3 ? runLines(kBatchFileName) : std::vector<RunLine>();
    for (std::size_t l = 1; l < lines.size(); ++l) {
      const RunLine& line = lines[l];
      const int number = static_cast<int>(l);
      // The first read of the file is the header, whatever it holds.
      if (line.data.size() != 1 || line.index[0] == 0) continue;
      described.insert(number);
      const auto* values = valuesOf(said, number, 3, kBatchFileName);
      if (values == nullptr) return;
      const LineBuffer& read = line.data[0];
      const BatchRow row = readBatchRow(read, RunSettings{});
      compare(*(*values)[0], "S0", 1, ',', read, row.request.spot);
      compare(*(*values)[1], "K", 2, ',', read, row.request.strike);
      compare(*(*values)[2], "days", 3, ',', read, fieldByComma(read, 3));
      const auto days = truncateToInt32((*values)[2]->value);
      expect(days.has_value() == row.valued && (!days || *days == row.request.days),
             [&] { return describe(*(*values)[2]) + ": the days a run values"; });
    }
    noOtherLine(said, described);
  }

  const CheckReport& report_;
  std::optional<std::string> difference_;
};

// The first difference between what --check says the lines of the files in the working
// directory read and what a run reads from them; nothing when there is none.
inline std::optional<std::string> firstDifference(const CheckReport& report) {
  return Comparison(report).firstDifference();
}

}  // namespace check_property
