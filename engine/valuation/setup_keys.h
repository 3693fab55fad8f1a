// The keys of "Setup.txt", each defined once: its number, what it is, the fields its line
// reads, how its value is taken, and what is said when it is missing or cannot be used. The
// run's settings loader, --check of Setup.txt, empricer-dist's --setup and the Python module
// all go by these.
//
// A line is "key label value...", fields separated by single spaces: field 1 truncated toward
// zero is the key, field 2 is a label that is never read, the values begin at field 3. A line
// of any other key than 1 to 7 is ignored. Keys 1 to 5 take the last line that gives them;
// keys 6 and 7 are switches that a value of exactly 1 turns on and nothing turns off.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/valuation/constants.h"
#include "text/input_stream.h"
#include "text/line_reader.h"
#include "text/status.h"

namespace empricer {

constexpr std::int32_t kRunModeKey = 1;
constexpr std::int32_t kTrajectoriesKey = 2;
constexpr std::int32_t kRateKey = 3;
constexpr std::int32_t kStepScaleKey = 4;
constexpr std::int32_t kShiftKey = 5;
constexpr std::int32_t kPauseKey = 6;
constexpr std::int32_t kProbabilitiesKey = 7;

// Keys 1 to kLastKey are read, and a run needs keys kFirstRequiredKey to kLastRequiredKey.
constexpr std::int32_t kLastKey = 7;
constexpr std::int32_t kFirstRequiredKey = 2;
constexpr std::int32_t kLastRequiredKey = 5;

// The field a key's first value is in.
constexpr int kFirstValueField = 3;

struct SetupKey {
  const char* name;     // the value as --check calls it: "run mode", "step scale", ...
  const char* meaning;  // what it is: "the risk-free rate", ...
  int lastField;        // the last field its line reads: 3, or 6 for the four shift factors
  bool isSwitch;        // turned on by exactly 1, never off
};

// By key number; entry 0 stands for no key.
inline constexpr SetupKey kSetupKeys[kLastKey + 1] = {
    {"", "", 0, false},
    {"run mode", "the run mode", 3, false},
    {"trajectories", "the number of trajectories", 3, false},
    {"rate", "the risk-free rate", 3, false},
    {"step scale", "the step scale", 3, false},
    {"shift factor", "the shift factors", 6, false},
    {"pause at the end", "the pause at the end", 3, true},
    {"winning probabilities", "the winning probabilities", 3, true},
};

// The double nearest 1 / 270, the step fraction of key 4's value 1 (the rate's year is key 4 x
// 270 days, whatever the steps of a day).
constexpr double kOneOverStepsPerDay = 1.0 / kDefaultStepsPerDay;

// The key that field 1 of a line (as a number) gives: its value truncated toward zero, when
// that is one of keys 1 to 7.
std::optional<std::int32_t> setupKeyOf(double keyField);

// Key 2: the number of trajectories, the value truncated toward zero; nothing when it lies
// outside the 32-bit signed range (or is no finite number).
std::optional<std::int32_t> trajectoriesOf(double value);

// Key 4: the step fraction, kOneOverStepsPerDay / value (an infinity for 0).
double stepFractionOf(double stepScale);

// Keys 6 and 7: whether a value switches its setting on (it equals 1 exactly).
bool switchesOn(double value);

// What the lines of a settings file give, as written: the last value of each of keys 1 to 5
// and the two switches. A key no line gives keeps the value here.
struct SetupReading {
  bool given[kLastKey + 1] = {};
  double runMode = 0.0;            // key 1
  double trajectories = 0.0;       // key 2, before trajectoriesOf
  double rate = 0.0;               // key 3
  double stepScale = 0.0;          // key 4, before stepFractionOf
  double shiftFactor[4] = {0.0, 0.0, 0.0, 0.0};  // key 5
  bool pauseAtEnd = false;         // key 6
  bool withProbabilities = false;  // key 7
};

// Takes one read of the line reader (not empty) into `reading`, by the rule of its key. Gives
// the key, or nothing for a line that gives none (it is ignored).
std::optional<std::int32_t> readSetupLine(const LineBuffer& line, SetupReading& reading);

// Every line of a stream that is open, in the reading loop.
SetupReading readSetupLines(InputStream& stream);

// "no line for key N".
std::string noLineForKey(std::int32_t key);

// A settings file at `path` that a run cannot use: "Error in PATH: no line for key N", and
// "Error in PATH: key 2 is out of range".
Failure missingKey(std::string_view path, std::int32_t key);
Failure trajectoriesOutOfRange(std::string_view path);

}  // namespace empricer
