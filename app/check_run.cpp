#include "app/check_run.h"

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/batch_rows.h"
#include "app/file_names.h"
#include "app/settings.h"
#include "app/stop.h"
#include "engine/return_table.h"
#include "text/fields.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/line_reader.h"
#include "text/number_conversion.h"
#include "text/number_text.h"

namespace empricer {

namespace {

// Text as it looks.

// The white space that the number conversion skips before a number.
bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string trimmed(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string lowered(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

void appendEscaped(std::string& out, char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (c == '\t') {
    out += "\\t";
  } else if (c == '\r') {
    out += "\\r";
  } else if (c == '"' || c == '\\') {
    out += '\\';
    out += c;
  } else if (byte < 0x20 || byte == 0x7f) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xf];
  } else {
    out += c;
  }
}

// The text in double quotes, control characters escaped.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) appendEscaped(out, c);
  return out + "\"";
}

// One character in single quotes.
std::string quotedChar(char c) {
  std::string out = "'";
  if (c == '\'') {
    out += "\\'";
  } else {
    appendEscaped(out, c);
  }
  return out + "'";
}

std::string number(double value) {
  std::string text;
  appendNumber(text, value);
  return text;
}

// Fields as the readers take them.

// Field n of a read, as the field extractor takes it: after the (n - 1)-th delimiter up to the
// next one, and then up to its first 0 byte. Nothing when the read has fewer delimiters.
std::optional<std::string> fieldText(const LineBuffer& line, int n, char delimiter) {
  std::string field;
  int count = 0;
  for (int p = 0; p < line.length; ++p) {
    const char c = line.bytes[static_cast<std::size_t>(p)];
    if (c == delimiter) {
      if (++count > n - 1) break;
      continue;
    }
    if (count == n - 1) field += c;
  }
  if (count < n - 1) return std::nullopt;
  return field.substr(0, field.find('\0'));
}

int fieldCount(const LineBuffer& line, char delimiter) {
  int count = 1;
  for (int p = 0; p < line.length; ++p) {
    if (line.bytes[static_cast<std::size_t>(p)] == delimiter) ++count;
  }
  return count;
}

std::string_view textOf(const LineBuffer& line) {
  return std::string_view(line.bytes.data(), static_cast<std::size_t>(line.length));
}

// How a field's text reads as a number.
enum class Form {
  Number,       // a number and nothing else (blanks around it aside)
  Empty,        // nothing but blanks
  NoNumber,     // text without a number: reads as 0
  Word,         // inf or nan: reads as 0
  Hexadecimal,  // 0x...: reads as 0
  Cut,          // a number followed by other characters: reads as the number
};

struct Reading {
  Form form;
  std::string text;  // the field without the blanks around it
  char stop = 0;     // with Cut: the first character after the number
};

Reading readingOf(const std::string& field) {
  Reading reading{Form::Number, trimmed(field)};
  const std::string& text = reading.text;
  if (text.empty()) {
    reading.form = Form::Empty;
    return reading;
  }
  const std::size_t length = numberPrefixLength(text.c_str());
  if (length == 0) {
    const std::string word = lowered(text.substr(text[0] == '+' || text[0] == '-' ? 1 : 0));
    reading.form = word.rfind("inf", 0) == 0 || word.rfind("nan", 0) == 0 ? Form::Word
                                                                            : Form::NoNumber;
    return reading;
  }
  if (length == text.size()) return reading;
  const std::string digits = text.substr(0, length);
  const bool zero = digits == "0" || digits == "+0" || digits == "-0";
  const bool hexadecimal = zero && (text[length] == 'x' || text[length] == 'X');
  reading.form = hexadecimal ? Form::Hexadecimal : Form::Cut;
  reading.stop = text[length];
  return reading;
}

// Why a field reads differently from how it looks; empty when it reads as it looks (or is
// empty, which each file words for itself). `name` names the field, when there is more than one.
std::string whyOf(const std::string& name, const Reading& reading) {
  const std::string field = name.empty() ? quoted(reading.text) : name + " " + quoted(reading.text);
  switch (reading.form) {
    case Form::Number:
    case Form::Empty:
      return "";
    case Form::NoNumber:
      return field + " holds no number";
    case Form::Word:
      return field + " is not read as a number";
    case Form::Hexadecimal:
      return field + " is hexadecimal, which is not read";
    case Form::Cut:
      return (name.empty() ? std::string("the number") : name) + " ends at " +
             quotedChar(reading.stop) + " (" + quoted(reading.text) + ")";
  }
  return "";
}

// Lines as the readers take them.

// A line of the file and the reads it gave: one, or one per piece of at most 99 characters.
struct FileLine {
  int number = 0;  // from 1
  std::vector<LineBuffer> reads;
  int length = 0;  // characters

  int dataReads() const {
    int count = 0;
    for (const LineBuffer& read : reads) count += isEmptyLine(read) ? 0 : 1;
    return count;
  }
};

// Every read of an open stream, in the readers' loop (until the end-of-file flag), grouped by
// the line of the file it came from.
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
         " characters, and a line is read in pieces of at most 99";
}

// Findings.

struct Finding {
  std::string reads;
  std::vector<std::string> reasons;
};

class Findings {
 public:
  explicit Findings(std::string file) : file_(std::move(file)) {}
  // Reasons for a line; the first call for the line sets what it reads.
  void add(int line, const std::string& reads, std::vector<std::string> reasons) {
    if (reasons.empty()) return;
    Finding& finding = lines_[line];
    if (finding.reads.empty()) finding.reads = reads;
    for (std::string& reason : reasons) finding.reasons.push_back(std::move(reason));
  }
  // The file as a whole.
  void addFile(const std::string& what, const std::string& why) {
    whole_.push_back(file_ + ": " + what + ": " + why);
  }
  void appendTo(std::vector<std::string>& out) const {
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

 private:
  std::string file_;
  std::map<int, Finding> lines_;
  std::vector<std::string> whole_;
};

std::string runStops(const std::string& message) {
  return "a run stops with " + quoted(message);
}

// Setup.txt.

struct SetupState {
  bool given[8] = {};
  double runMode = 0.0;
  int switchedOn[8] = {};  // the line that switched key 6 or 7 on
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

std::string setupReads(int key, const LineBuffer& read, const SetupState& state) {
  const double value = fieldBySpace(read, 3);
  const std::string prefix = "key " + std::to_string(key) + " ";
  switch (key) {
    case 1:
      return prefix + "reads run mode " + number(value);
    case 2: {
      const auto whole = truncateToInt32(value);
      return prefix + "reads " + (whole ? std::to_string(*whole) : number(value)) +
             " trajectories";
    }
    case 3:
      return prefix + "reads rate " + number(value);
    case 4:
      return prefix + "reads step scale " + number(value);
    case 5: {
      std::string text = prefix + "reads shift factors";
      for (int f = 3; f <= 6; ++f) text += " " + number(fieldBySpace(read, f));
      return text;
    }
    default: {
      const char* what = key == 6 ? "the pause at the end" : "the winning probabilities";
      const bool on = state.switchedOn[key] != 0;
      const bool now = value == 1.0;
      return prefix + (now ? "switches " : "leaves ") + what + (on ? " on" : " off");
    }
  }
}

// The reasons a key line (key 1 to 7) reads differently from how it looks; updates `state` as
// the settings loader would.
std::vector<std::string> checkKeyLine(int key, const LineBuffer& read, int lineNumber,
                                      SetupState& state) {
  std::vector<std::string> reasons;
  const std::string_view text = textOf(read).substr(0, textOf(read).find('\0'));
  const int lastField = key == 5 ? 6 : 3;
  const double value = fieldBySpace(read, 3);

  const Reading keyField = readingOf(fieldText(read, 1, ' ').value_or(""));
  const double keyValue = fieldBySpace(read, 1);
  if (keyValue != std::trunc(keyValue)) {
    reasons.push_back("the key " + quoted(keyField.text) + " is not a whole number");
  }

  // Fields as they look (words between blanks) against fields as they are read.
  const std::vector<std::string> words = wordsOf(text);
  bool shifted = false;
  for (int f = 3; f <= lastField; ++f) {
    const std::size_t w = static_cast<std::size_t>(f - 1);
    const double looks = w < words.size() ? convertNumber(words[w].c_str()) : 0.0;
    if (looks != fieldBySpace(read, f)) shifted = true;
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
    if (keyField.form == Form::Cut || keyField.form == Form::Hexadecimal) {
      reasons.push_back(whyOf("the key", keyField));
    }
    const Reading label = readingOf(fieldText(read, 2, ' ').value_or(""));
    const bool labelIsValue = label.form == Form::Number;
    if (labelIsValue) {
      reasons.push_back("the label " + quoted(label.text) +
                        " is a number, and field 2 is a label that is never read (the values "
                        "begin at field 3)");
    }
    int values = 0;
    for (int f = 3; f <= lastField; ++f) {
      const std::optional<std::string> field = fieldText(read, f, ' ');
      const Reading reading = readingOf(field.value_or(""));
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
    const std::string valueText = readingOf(fieldText(read, 3, ' ').value_or("")).text;
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

// A line that looks like a key line and is ignored: it begins with a blank.
bool looksLikeIgnoredKey(const LineBuffer& read) {
  if (read.bytes[0] != ' ') return false;
  const std::vector<std::string> words = wordsOf(textOf(read));
  if (words.empty() || readingOf(words[0]).form != Form::Number) return false;
  const auto key = truncateToInt32(convertNumber(words[0].c_str()));
  return key && *key >= 1 && *key <= 7;
}

// Reads the settings file; gives the run mode a run would settle on, nothing when the file
// cannot be opened.
std::optional<double> checkSettings(std::vector<std::string>& out) {
  Findings findings(kSettingsFileName);
  InputStream stream;
  openForReading(stream, kSettingsFileName);
  if (!isOpen(stream)) {
    findings.addFile("cannot be opened", runStops(openFailure(kSettingsFileName).message));
    findings.appendTo(out);
    return std::nullopt;
  }
  SetupState state;
  for (const FileLine& line : linesOf(stream)) {
    bool anyKey = false;
    for (const LineBuffer& read : line.reads) {
      if (isEmptyLine(read)) continue;
      const auto key = truncateToInt32(fieldBySpace(read, 1));
      if (!key || *key < 1 || *key > 7) {
        if (line.dataReads() == 1 && looksLikeIgnoredKey(read)) {
          findings.add(line.number, "is ignored",
                       {"the line begins with a blank, so its key field is empty"});
        }
        continue;
      }
      anyKey = true;
      std::vector<std::string> reasons = checkKeyLine(*key, read, line.number, state);
      if (line.dataReads() == 1) findings.add(line.number, setupReads(*key, read, state), reasons);
    }
    if (anyKey && line.dataReads() > 1) {
      findings.add(line.number, "is read as " + std::to_string(line.dataReads()) + " lines",
                   {piecesReason(line)});
    }
  }
  closeStream(stream);

  if (state.lastKey2Line != 0 && !truncateToInt32(state.lastKey2Value)) {
    findings.add(
        state.lastKey2Line, "key 2 reads " + number(state.lastKey2Value) + " trajectories",
        {runStops(std::string("Error in ") + kSettingsFileName + ": key 2 is out of range")});
  }
  for (int key = 2; key <= 5; ++key) {
    if (!state.given[key]) {
      findings.addFile("no line gives key " + std::to_string(key), "keys 2 to 5 must be given");
    }
  }
  findings.appendTo(out);
  return state.runMode;
}

// dist.csv.

struct DistRow {
  int line;
  bool alone;  // the only row of its line of the file
  double value;
  double weight;
  std::vector<std::string> reasons;
};

void checkDistribution(std::vector<std::string>& out) {
  Findings findings(kDistributionFileName);
  InputStream stream;
  openForReading(stream, kDistributionFileName);
  if (!isOpen(stream)) {
    findings.addFile("cannot be opened", runStops(openFailure(kDistributionFileName).message));
    findings.appendTo(out);
    return;
  }
  std::vector<DistRow> rows;
  bool tooMany = false;
  for (const FileLine& line : linesOf(stream)) {
    if (tooMany) break;
    if (line.dataReads() > 1) {
      findings.add(line.number, "reads as " + std::to_string(line.dataReads()) + " rows",
                   {piecesReason(line)});
    }
    for (const LineBuffer& read : line.reads) {
      if (isEmptyLine(read)) continue;
      if (rows.size() == static_cast<std::size_t>(kTableCapacity)) {
        findings.add(line.number, "is row " + std::to_string(kTableCapacity + 1),
                     {"a table holds at most 5000 rows, and " +
                      runStops(std::string("Error in ") + kDistributionFileName +
                               ": more than 5000 rows")});
        tooMany = true;
        break;
      }
      DistRow row{line.number, line.dataReads() == 1, fieldByComma(read, 1),
                  fieldByComma(read, 2), {}};
      const Reading value = readingOf(fieldText(read, 1, ',').value_or(""));
      if (value.form == Form::Empty) row.reasons.push_back("the return is empty");
      if (std::string why = whyOf("the return", value); !why.empty()) row.reasons.push_back(why);
      const std::optional<std::string> weightField = fieldText(read, 2, ',');
      const Reading weight = readingOf(weightField.value_or(""));
      if (!weightField || weight.form == Form::Empty) {
        row.reasons.push_back("the row has no weight");
      } else if (std::string why = whyOf("the weight", weight); !why.empty()) {
        row.reasons.push_back(why);
      }
      if (row.weight < 0.0) {
        row.reasons.push_back("the weight is negative, and the running sums of the weights must "
                              "not fall");
      }
      rows.push_back(std::move(row));
    }
  }
  closeStream(stream);

  for (std::size_t i = 0; i < rows.size(); ++i) {
    DistRow& row = rows[i];
    const bool last = i + 1 == rows.size();
    if (i > 0 && row.value < rows[i - 1].value && !(last && row.weight == 0.0)) {
      row.reasons.push_back("the return is below the previous row's (" +
                            number(rows[i - 1].value) +
                            "): returns are interpolated between neighbouring rows in file "
                            "order");
    }
    if (i == 0 && row.weight == 0.0 && rows.size() > 1) {
      row.reasons.push_back("the first row's weight is 0, which ends the table at this row: "
                            "every draw from the second row's weight on takes this return");
    }
    if (row.alone) {
      findings.add(row.line, "reads return " + number(row.value) + ", weight " + number(row.weight),
                   row.reasons);
    }
  }
  if (!tooMany) {
    auto table = std::make_unique<ReturnTable>();
    const Status loaded = loadReturnTable(*table, kDistributionFileName);
    if (!loaded.ok() && rows.empty()) {
      findings.addFile("holds no row", runStops(loaded.message()));
    } else if (!loaded.ok()) {
      findings.addFile("the weights add up to " + number(table->cumulative[rows.size() - 1]),
                       runStops(loaded.message()));
    } else if (table->totalWeight < 1.0) {
      findings.addFile("the weights add up to " + number(table->totalWeight),
                       truncateToInt32(table->totalWeight).value_or(0) == 0
                           ? "below 1, every draw is 0, so every step takes the same return"
                           : "below 0, every draw is 0 or negative");
    }
  }
  findings.appendTo(out);
}

// batch.csv.

// Whether a line holds only blanks (and is not empty).
bool onlyBlanks(const LineBuffer& read) {
  for (char c : textOf(read)) {
    if (!isBlank(c)) return false;
  }
  return true;
}

std::vector<std::string> checkBatchRow(const LineBuffer& read, const BatchRow& row) {
  std::vector<std::string> reasons;
  if (onlyBlanks(read)) {
    reasons.push_back("the line holds only blanks, and is valued as a row of zeros");
    return reasons;
  }
  const int fields = fieldCount(read, ',');
  if (fields < 3) {
    reasons.push_back("the row has " + std::to_string(fields) + " of its 3 fields (S0,K,days)");
  }
  static const char* const kNames[] = {"S0", "K", "days"};
  for (int f = 1; f <= 3 && f <= fields; ++f) {
    const Reading reading = readingOf(fieldText(read, f, ',').value_or(""));
    const std::string name = kNames[f - 1];
    if (reading.form == Form::Empty) reasons.push_back(name + " is empty");
    if (std::string why = whyOf(name, reading); !why.empty()) reasons.push_back(why);
  }
  const double days = fieldByComma(read, 3);
  const std::string daysText = readingOf(fieldText(read, 3, ',').value_or("")).text;
  if (!row.valued) {
    reasons.push_back("the days " + quoted(daysText) + " are out of range");
  } else if (days != std::trunc(days)) {
    reasons.push_back("the days " + quoted(daysText) + " are cut to " +
                      std::to_string(row.request.days));
  }
  return reasons;
}

// Looks like a data row: its first field is a number.
bool looksLikeRow(const LineBuffer& read) {
  return !isEmptyLine(read) &&
         readingOf(fieldText(read, 1, ',').value_or("")).form == Form::Number;
}

// Reads the batch file; false when it cannot be opened.
bool checkBatch(std::vector<std::string>& out, bool required) {
  Findings findings(kBatchFileName);
  InputStream stream;
  openForReading(stream, kBatchFileName);
  if (!isOpen(stream)) {
    if (required) {
      findings.addFile("cannot be opened", runStops(openFailure(kBatchFileName).message));
    }
    findings.appendTo(out);
    return required;
  }
  bool header = true;  // the first read is the header, whatever it holds
  for (const FileLine& line : linesOf(stream)) {
    const bool firstLine = header;
    int rows = 0;
    for (const LineBuffer& read : line.reads) {
      if (header) {
        header = false;
        if (line.reads.size() == 1 && looksLikeRow(read)) {
          findings.add(line.number, "is taken as the header and never valued",
                       {"it looks like a data row, and the first line is the header"});
        }
        continue;
      }
      if (isEmptyLine(read)) continue;
      ++rows;
      if (line.dataReads() > 1) continue;
      // What a row reads of S0, K and the days does not depend on the settings.
      const BatchRow row = readBatchRow(read, RunSettings{});
      const std::string reads =
          row.valued ? "reads S0 " + number(row.request.spot) + ", K " +
                           number(row.request.strike) + ", days " +
                           std::to_string(row.request.days)
                     : std::string("is skipped");
      findings.add(line.number, reads, checkBatchRow(read, row));
    }
    if (line.dataReads() > 1 || (firstLine && rows > 0)) {
      const std::string count = std::to_string(rows) + (rows == 1 ? " row" : " rows");
      const std::string reads =
          firstLine ? "reads as the header and " + count : "reads as " + count;
      findings.add(line.number, reads, {piecesReason(line)});
    }
  }
  closeStream(stream);
  findings.appendTo(out);
  return true;
}

}  // namespace

CheckReport checkFiles() {
  CheckReport report;
  const std::optional<double> runMode = checkSettings(report.findings);
  checkDistribution(report.findings);
  report.filesRead = {kSettingsFileName, kDistributionFileName};
  // A run that is not told its mode asks for it, and may be a batch run.
  const int mode = runMode ? truncateToInt32(*runMode).value_or(-1) : 0;
  if ((mode == 0 || mode == 2) && checkBatch(report.findings, mode == 2)) {
    report.filesRead.push_back(kBatchFileName);
  }
  return report;
}

int runCheck() {
  const CheckReport report = checkFiles();
  for (const std::string& line : report.findings) {
    if (Status shown = printLine(line); !shown.ok()) return stopWith(shown.message());
  }
  if (!report.findings.empty()) return 1;
  std::string summary;
  for (std::size_t i = 0; i < report.filesRead.size(); ++i) {
    if (i > 0) summary += i + 1 == report.filesRead.size() ? " and " : ", ";
    summary += report.filesRead[i];
  }
  summary += ": every line reads as it looks";
  Status shown = printLine(summary);
  return shown.ok() ? 0 : stopWith(shown.message());
}

}  // namespace empricer
