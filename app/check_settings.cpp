// --check of Setup.txt: each key line against the settings loader's reading of it.
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/check_files.h"
#include "app/check_lines.h"
#include "app/check_text.h"
#include "app/file_names.h"
#include "app/settings.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/line_reader.h"
#include "text/number_conversion.h"

namespace empricer::check {

namespace {

struct SetupState {
  bool given[kLastKey + 1] = {};
  double runMode = 0.0;
  int switchedOn[kLastKey + 1] = {};  // the line that switched key 6 or 7 on
  int lastKey2Line = 0;
  double lastKey2Value = 0.0;
};

// The words that show a switch meant to be on.
bool looksOn(const std::string& text) {
  const std::string word = lowered(text);
  return word == "yes" || word == "y" || word == "on" || word == "true" || word == "enabled" ||
         word == "enable";
}

// The fields as they look: runs of spaces and tabs separate them.
std::vector<std::string> wordsOf(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    std::size_t end = at;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
    if (end > at) words.emplace_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

// Where the first `count` words end (the text's end when it has fewer).
std::size_t endOfWords(std::string_view text, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t word = 0; word < count && at < text.size(); ++word) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    while (at < text.size() && text[at] != ' ' && text[at] != '\t') ++at;
  }
  return at;
}

// The last field a key's line is read up to: key 5 reads four values from field 3 on.
int lastFieldOf(int key) { return key == 5 ? 6 : 3; }

// The values a key line (key 1 to 7) reads, as --check calls them.
std::vector<ReadValue> keyValues(int key, const LineBuffer& read, int lineNumber) {
  static const char* const kNames[kLastKey + 1] = {
      "", "run mode", "trajectories", "rate", "step scale", "shift factor", "pause at the end",
      "winning probabilities"};
  std::vector<ReadValue> values;
  for (int f = 3; f <= lastFieldOf(key); ++f) {
    Field field = fieldOf(read, f, ' ');
    std::string name = kNames[key];
    if (key == 5) name += ' ' + std::to_string(f - 2);
    values.push_back({kSettingsFileName, lineNumber, name, f, std::move(field.text), field.value});
  }
  return values;
}

std::string setupReads(int key, const std::vector<ReadValue>& values, const SetupState& state) {
  const double value = values[0].value;
  const std::string prefix = "key " + std::to_string(key) + " ";
  switch (key) {
    case 1:
      return prefix + "reads " + values[0].name + " " + number(value);
    case 2: {
      const auto whole = truncateToInt32(value);
      return prefix + "reads " + (whole ? std::to_string(*whole) : number(value)) +
             " trajectories";
    }
    case 3:
    case 4:
      return prefix + "reads " + values[0].name + " " + number(value);
    case 5: {
      std::string text = prefix + "reads shift factors";
      for (const ReadValue& factor : values) {
        text += ' ';
        text += number(factor.value);
      }
      return text;
    }
    default: {
      const bool on = state.switchedOn[key] != 0;
      const bool now = value == 1.0;
      return prefix + (now ? "switches the " : "leaves the ") + values[0].name +
             (on ? " on" : " off");
    }
  }
}

// The reasons a key line (key 1 to 7) reads differently from how it looks; updates `state` as
// the settings loader would.
std::vector<std::string> checkKeyLine(int key, const LineBuffer& read, int lineNumber,
                                      SetupState& state) {
  std::vector<std::string> reasons;
  const std::string_view text = textOf(read).substr(0, textOf(read).find('\0'));
  const int lastField = lastFieldOf(key);
  const Field valueField = fieldOf(read, 3, ' ');
  const double value = valueField.value;

  const Field keyField = fieldOf(read, 1, ' ');
  const Reading keyReading = readingOf(keyField.text);
  if (keyField.value != std::trunc(keyField.value)) {
    reasons.push_back("the key " + quoted(keyReading.text) + " is not a whole number");
  }

  // Fields as they look (words between blanks) against fields as they are read.
  const std::vector<std::string> words = wordsOf(text);
  bool shifted = false;
  for (int f = 3; f <= lastField; ++f) {
    const std::size_t w = static_cast<std::size_t>(f - 1);
    const double looks = w < words.size() ? convertNumber(words[w].c_str()) : 0.0;
    if (looks != fieldOf(read, f, ' ').value) shifted = true;
  }
  if (shifted) {
    const std::string_view span =
        text.substr(0, endOfWords(text, static_cast<std::size_t>(lastField)));
    const bool tab = span.find('\t') != std::string_view::npos;
    const bool twoSpaces = span.find("  ") != std::string_view::npos;
    if (tab) reasons.push_back("fields are separated by single spaces, and this line has a tab");
    if (twoSpaces) {
      reasons.push_back(
          "two spaces in a row make an empty field, which shifts the fields after it");
    }
    if (!tab && !twoSpaces) reasons.push_back("fields are separated by single spaces only");
  } else {
    if (keyReading.form == Form::Cut || keyReading.form == Form::Hexadecimal) {
      reasons.push_back(whyOf("the key", keyReading));
    }
    const Reading label = readingOf(fieldOf(read, 2, ' ').text);
    const bool labelIsValue = label.form == Form::Number;
    if (labelIsValue) {
      reasons.push_back("the label " + quoted(label.text) +
                        " is a number, and field 2 is a label that is never read (the values "
                        "begin at field 3)");
    }
    int values = 0;
    for (int f = 3; f <= lastField; ++f) {
      const Reading reading = readingOf(fieldOf(read, f, ' ').text);
      if (reading.form == Form::Empty) continue;
      ++values;
      if (key == 6 || key == 7) continue;  // a switch is on or off; see below
      const std::string name = key == 5 ? "factor " + std::to_string(f - 2) : "";
      if (std::string why = whyOf(name, reading); !why.empty()) reasons.push_back(why);
    }
    const int wanted = lastField - 2;
    if (values < wanted && !labelIsValue) {
      reasons.push_back(wanted == 1 ? "the line has no value"
                                    : "key 5 reads 4 values, and the line has " +
                                          std::to_string(values));
    }
    const std::string valueText = readingOf(valueField.text).text;
    if (key == 1 && std::isfinite(value) && value != std::trunc(value)) {
      reasons.push_back("the run mode " + quoted(valueText) + " counts as " +
                        number(std::trunc(value)));
    }
    if (key == 2 && truncateToInt32(value) && value != std::trunc(value)) {
      reasons.push_back("the fraction of " + quoted(valueText) + " is cut off");
    }
    if ((key == 6 || key == 7) && value != 1.0 && values > 0) {
      if (looksOn(valueText) || value != 0.0) {
        reasons.push_back("only exactly 1 switches it on, and the value is " + quoted(valueText));
      } else if (state.switchedOn[key] != 0) {
        reasons.push_back("line " + std::to_string(state.switchedOn[key]) +
                          " switched it on, and no line switches it off");
      }
    }
  }

  // What the settings loader takes from the line.
  state.given[key] = true;
  if (key == 1) state.runMode = value;
  if (key == 2) {
    state.lastKey2Line = lineNumber;
    state.lastKey2Value = value;
  }
  if ((key == 6 || key == 7) && value == 1.0 && state.switchedOn[key] == 0) {
    state.switchedOn[key] = lineNumber;
  }
  return reasons;
}

// The key a read gives, when it is one of keys 1 to 7.
std::optional<int> keyOf(const LineBuffer& read) {
  const auto key = truncateToInt32(fieldOf(read, 1, ' ').value);
  if (!key || *key < 1 || *key > kLastKey) return std::nullopt;
  return *key;
}

// A line that looks like a key line and is ignored: it begins with a blank.
bool looksLikeIgnoredKey(const LineBuffer& read) {
  if (read.bytes[0] != ' ') return false;
  const std::vector<std::string> words = wordsOf(textOf(read));
  if (words.empty() || readingOf(words[0]).form != Form::Number) return false;
  const auto key = truncateToInt32(convertNumber(words[0].c_str()));
  return key && *key >= 1 && *key <= kLastKey;
}

}  // namespace

std::optional<double> checkSettings(CheckReport& report) {
  Findings findings(kSettingsFileName);
  InputStream stream;
  openForReading(stream, kSettingsFileName);
  if (!isOpen(stream)) {
    findings.addFile("cannot be opened", runStops(openFailure(kSettingsFileName).message));
    findings.appendTo(report.findings);
    return std::nullopt;
  }
  SetupState state;
  for (const FileLine& line : linesOf(stream)) {
    bool anyKey = false;
    for (const LineBuffer& read : line.reads) {
      if (isEmptyLine(read)) continue;
      const std::optional<int> key = keyOf(read);
      if (!key) {
        if (line.dataReads() == 1 && looksLikeIgnoredKey(read)) {
          findings.add(line.number, "is ignored",
                       {"the line begins with a blank, so its key field is empty"});
        }
        continue;
      }
      anyKey = true;
      std::vector<std::string> reasons = checkKeyLine(*key, read, line.number, state);
      if (line.dataReads() == 1) {
        const std::vector<ReadValue> values = keyValues(*key, read, line.number);
        findings.add(line.number, setupReads(*key, values, state), reasons);
        report.values.insert(report.values.end(), values.begin(), values.end());
      }
    }
    if (anyKey && line.dataReads() > 1) {
      findings.add(line.number, "is read as " + std::to_string(line.dataReads()) + " lines",
                   {piecesReason(line)});
    }
  }
  closeStream(stream);

  if (state.lastKey2Line != 0 && !truncateToInt32(state.lastKey2Value)) {
    findings.add(state.lastKey2Line,
                 "key 2 reads " + number(state.lastKey2Value) + " trajectories",
                 {runStops(trajectoriesOutOfRange(kSettingsFileName).message)});
  }
  for (int key = kFirstRequiredKey; key <= kLastRequiredKey; ++key) {
    if (!state.given[key]) {
      findings.addFile("no line gives key " + std::to_string(key),
                       "keys " + std::to_string(kFirstRequiredKey) + " to " +
                           std::to_string(kLastRequiredKey) + " must be given");
    }
  }
  findings.appendTo(report.findings);
  return state.runMode;
}

}  // namespace empricer::check
