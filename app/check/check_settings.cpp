// --check of Setup.txt: each key line against the settings loader's reading of it, both by
// the rules of the keys (engine/valuation/setup_keys.h).
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/check/check_files.h"
#include "app/check/check_lines.h"
#include "app/check/check_text.h"
#include "runs/file_names.h"
#include "engine/valuation/setup_keys.h"
#include "text/input_stream.h"
#include "text/line_reader.h"
#include "text/number_conversion.h"

namespace empricer::check {

namespace {

struct SetupState {
  SetupReading reading;               // what a run reads from the lines so far
  int switchedOn[kLastKey + 1] = {};  // the line that switched key 6 or 7 on
  int lastKey2Line = 0;
};

// Whether switch key 6 or 7 is on.
bool isOn(const SetupReading& reading, int key) {
  return key == kPauseKey ? reading.pauseAtEnd : reading.withProbabilities;
}

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

// The values a key line (key 1 to 7) reads, as --check calls them.
std::vector<ReadValue> keyValues(int key, const LineBuffer& read, int lineNumber) {
  std::vector<ReadValue> values;
  for (int f = kFirstValueField; f <= kSetupKeys[key].lastField; ++f) {
    Field field = fieldOf(read, f, ' ');
    std::string name = kSetupKeys[key].name;
    if (key == kShiftKey) name += ' ' + std::to_string(f - kFirstValueField + 1);
    values.push_back({kSettingsFileName, lineNumber, name, f, std::move(field.text), field.value});
  }
  return values;
}

std::string setupReads(int key, const std::vector<ReadValue>& values, const SetupState& state) {
  const double value = values[0].value;
  const std::string prefix = "key " + std::to_string(key) + " ";
  if (kSetupKeys[key].isSwitch) {
    return prefix + (switchesOn(value) ? "switches the " : "leaves the ") + values[0].name +
           (isOn(state.reading, key) ? " on" : " off");
  }
  if (key == kTrajectoriesKey) {
    const auto whole = trajectoriesOf(value);
    return prefix + "reads " + (whole ? std::to_string(*whole) : number(value)) +
           " trajectories";
  }
  if (key == kShiftKey) {
    std::string text = prefix + "reads shift factors";
    for (const ReadValue& factor : values) {
      text += ' ';
      text += number(factor.value);
    }
    return text;
  }
  return prefix + "reads " + values[0].name + " " + number(value);
}

// Whether a field a key line reads lands elsewhere than the words of the line suggest.
bool fieldsShifted(const LineBuffer& read, const std::vector<std::string>& words,
                   int lastField) {
  for (int f = kFirstValueField; f <= lastField; ++f) {
    const std::size_t w = static_cast<std::size_t>(f - 1);
    const double looks = w < words.size() ? convertNumber(words[w].c_str()) : 0.0;
    if (looks != fieldOf(read, f, ' ').value) return true;
  }
  return false;
}

// Why the fields are shifted: the blanks between the words up to the last field read.
void addSeparatorReasons(std::string_view text, int lastField,
                         std::vector<std::string>& reasons) {
  const std::string_view span =
      text.substr(0, endOfWords(text, static_cast<std::size_t>(lastField)));
  const bool tab = span.find('\t') != std::string_view::npos;
  const bool twoSpaces = span.find("  ") != std::string_view::npos;
  if (tab) reasons.push_back("fields are separated by single spaces, and this line has a tab");
  if (twoSpaces) {
    reasons.push_back("two spaces in a row make an empty field, which shifts the fields after it");
  }
  if (!tab && !twoSpaces) reasons.push_back("fields are separated by single spaces only");
}

// What the rule of the key makes of a value that reads as it looks: a run mode or a number of
// trajectories that loses its fraction, a switch that a value other than 1 leaves as it is.
void addRuleReasons(int key, const Field& valueField, int values, const SetupState& state,
                    std::vector<std::string>& reasons) {
  const double value = valueField.value;
  const std::string valueText = readingOf(valueField.text).text;
  if (key == kRunModeKey && std::isfinite(value) && value != std::trunc(value)) {
    reasons.push_back("the run mode " + quoted(valueText) + " counts as " +
                      number(std::trunc(value)));
  }
  if (key == kTrajectoriesKey && trajectoriesOf(value) && value != std::trunc(value)) {
    reasons.push_back("the fraction of " + quoted(valueText) + " is cut off");
  }
  if (kSetupKeys[key].isSwitch && !switchesOn(value) && values > 0) {
    if (looksOn(valueText) || value != 0.0) {
      reasons.push_back("only exactly 1 switches it on, and the value is " + quoted(valueText));
    } else if (state.switchedOn[key] != 0) {
      reasons.push_back("line " + std::to_string(state.switchedOn[key]) +
                        " switched it on, and no line switches it off");
    }
  }
}

// The reasons of a key line whose fields land where its words are: the key's and the values'
// forms, a number for a label, values the line lacks, and what the key's rule makes of them.
void addValueReasons(int key, const LineBuffer& read, const Reading& keyReading,
                     const SetupState& state, std::vector<std::string>& reasons) {
  const int lastField = kSetupKeys[key].lastField;
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
  for (int f = kFirstValueField; f <= lastField; ++f) {
    const Reading reading = readingOf(fieldOf(read, f, ' ').text);
    if (reading.form == Form::Empty) continue;
    ++values;
    if (kSetupKeys[key].isSwitch) continue;  // a switch is on or off; see addRuleReasons
    const std::string name =
        key == kShiftKey ? "factor " + std::to_string(f - kFirstValueField + 1) : "";
    if (std::string why = whyOf(name, reading); !why.empty()) reasons.push_back(why);
  }
  const int wanted = lastField - kFirstValueField + 1;
  if (values < wanted && !labelIsValue) {
    reasons.push_back(wanted == 1 ? "the line has no value"
                                  : "key " + std::to_string(key) + " reads " +
                                        std::to_string(wanted) + " values, and the line has " +
                                        std::to_string(values));
  }
  addRuleReasons(key, fieldOf(read, kFirstValueField, ' '), values, state, reasons);
}

// The reasons a key line (key 1 to 7) reads differently from how it looks, given what the
// lines before it set.
std::vector<std::string> keyLineReasons(int key, const LineBuffer& read,
                                        const SetupState& state) {
  std::vector<std::string> reasons;
  const std::string_view text = textOf(read).substr(0, textOf(read).find('\0'));
  const Field keyField = fieldOf(read, 1, ' ');
  const Reading keyReading = readingOf(keyField.text);
  if (keyField.value != std::trunc(keyField.value)) {
    reasons.push_back("the key " + quoted(keyReading.text) + " is not a whole number");
  }
  // Fields as they look (words between blanks) against fields as they are read.
  const int lastField = kSetupKeys[key].lastField;
  if (fieldsShifted(read, wordsOf(text), lastField)) {
    addSeparatorReasons(text, lastField, reasons);
  } else {
    addValueReasons(key, read, keyReading, state, reasons);
  }
  return reasons;
}

// Takes a key line into `state` as the settings loader takes it.
void takeKeyLine(const LineBuffer& read, int lineNumber, SetupState& state) {
  const SetupReading before = state.reading;
  const std::optional<std::int32_t> key = readSetupLine(read, state.reading);
  if (!key) return;
  if (*key == kTrajectoriesKey) state.lastKey2Line = lineNumber;
  if (kSetupKeys[*key].isSwitch && !isOn(before, *key) && isOn(state.reading, *key)) {
    state.switchedOn[*key] = lineNumber;
  }
}

// The key a read gives, when it is one of keys 1 to 7.
std::optional<int> keyOf(const LineBuffer& read) {
  return setupKeyOf(fieldOf(read, 1, ' ').value);
}

// A line that looks like a key line and is ignored: it begins with a blank.
bool looksLikeIgnoredKey(const LineBuffer& read) {
  if (read.bytes[0] != ' ') return false;
  const std::vector<std::string> words = wordsOf(textOf(read));
  if (words.empty() || readingOf(words[0]).form != Form::Number) return false;
  return setupKeyOf(convertNumber(words[0].c_str())).has_value();
}

}  // namespace

std::optional<double> checkSettings(CheckReport& report) {
  Findings findings(kSettingsFileName);
  InputStream stream;
  if (!openedOrReported(stream, kSettingsFileName, true, findings, report.findings)) return std::nullopt;
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
      std::vector<std::string> reasons = keyLineReasons(*key, read, state);
      takeKeyLine(read, line.number, state);
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

  if (state.lastKey2Line != 0 && !trajectoriesOf(state.reading.trajectories)) {
    findings.add(state.lastKey2Line,
                 "key 2 reads " + number(state.reading.trajectories) + " trajectories",
                 {runStops(trajectoriesOutOfRange(kSettingsFileName).message)});
  }
  for (int key = kFirstRequiredKey; key <= kLastRequiredKey; ++key) {
    if (!state.reading.given[key]) {
      findings.addFile("no line gives key " + std::to_string(key),
                       "keys " + std::to_string(kFirstRequiredKey) + " to " +
                           std::to_string(kLastRequiredKey) + " must be given");
    }
  }
  findings.appendTo(report.findings);
  return state.reading.runMode;
}

}  // namespace empricer::check
