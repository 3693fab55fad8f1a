// Whole runs of the program, manual and batch, in a private working directory, from
// arbitrary "Setup.txt", "dist.csv", "batch.csv" and console input. A run must end normally
// (status 0) or stop (status 1) with one of the program's messages; what it leaves must fit
// how it ended: the
// closing lines, one group of five result lines per finished batch row, the temporary file
// gone with probabilities on and empty with them off, an earlier "Batch_Result.csv" intact
// when no batch ran, and no descriptor left open.
//
// Input: the four texts in that order, separated by "#|#"; a text that is missing, or that
// is the one byte 0x7F, leaves its file missing. Runs that would simulate more than a small budget of steps are not run.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "runs/clock.h"
#include "../tests/stepping_clock.h"
#include "runs/console_input.h"
#include "app/program_flow.h"
#include "runs/runs.h"
#include "fuzz/harness.h"
#include "text/fields.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/line_reader.h"
#include "runs/settings.h"

using namespace empricer;

namespace {

constexpr std::int64_t kStepBudget = 16 * 30;  // trajectories x days, over all valuations
constexpr int kValuationBudget = 12;
constexpr const char* kEarlierResults = "results of an earlier run\n";

const char* const kStopMessages[] = {
    "Error opening file: Setup.txt",
    "Error opening file: dist.csv",
    "Error opening file: batch.csv",
    "Error opening file: Batch_Result.csv",
    "Error opening file: VelmarTemp.txt",
    "Error in dist.csv: more than 5000 rows",
    "Error in dist.csv: no data rows",
    "Error in dist.csv: total weight out of range",
    "Error in Setup.txt: no line for key 2",
    "Error in Setup.txt: no line for key 3",
    "Error in Setup.txt: no line for key 4",
    "Error in Setup.txt: no line for key 5",
    "Error in Setup.txt: key 2 is out of range",
};

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

struct Plan {
  bool run = true;          // within the budget
  bool loaded = false;      // the settings load
  RunSettings settings;
  int mode = 0;             // the run that will be chosen
};

// Works out, with the program's own readers, which run the input chooses and how many steps
// it would simulate.
Plan plan(const std::string& typed) {
  Plan p;
  const Outcome<RunSettings> loaded = loadSettings("Setup.txt");
  if (!loaded.ok()) return p;  // the run stops at the same place, at once
  p.settings = loaded.value();
  p.loaded = true;
  const std::int64_t trajectories = p.settings.trajectories > 0 ? p.settings.trajectories : 0;
  std::FILE* in = typed.empty()
                      ? std::fopen("/dev/null", "r")
                      : fmemopen(const_cast<char*>(typed.data()), typed.size(), "r");
  ConsoleInput console;
  console.in = in;
  double runMode = p.settings.runMode;
  if (truncateToInt32(runMode) == 0) readDouble(console, runMode);
  const auto mode = truncateToInt32(runMode);
  p.mode = mode ? *mode : -1;
  std::int64_t steps = 0;
  int valuations = 0;
  if (p.mode == 1) {
    double spot = 0.0, strike = 0.0;
    std::int32_t days = 0;
    readDouble(console, spot);
    readDouble(console, strike);
    readInteger(console, days);
    steps = trajectories * (days > 0 ? days : 0);
    valuations = 1;
  } else if (p.mode == 2) {
    InputStream batch;
    openForReading(batch, "batch.csv");
    if (isOpen(batch)) {
      LineBuffer line{};
      readLine(batch, line);
      forEachLine(batch, line, [&](const LineBuffer& row) {
        const auto days = truncateToInt32(fieldByComma(row, 3));
        if (!days) return;
        ++valuations;
        if (*days > 0) steps += trajectories * *days;
      });
    }
  }
  std::fclose(in);
  p.run = steps <= kStepBudget && valuations <= kValuationBudget;
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  harness::setUpProcess();
  static harness::CapturedOutput output;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const harness::Parts parts = harness::splitInput(input, "#|#", 4);
  const char* const names[3] = {"Setup.txt", "dist.csv", "batch.csv"};
  for (int i = 0; i < 3; ++i) {
    std::remove(names[i]);
    if (parts.present[i] && parts.part[i] != "\x7f") harness::writeFile(names[i], parts.part[i]);
  }
  std::remove("VelmarTemp.txt");
  harness::writeFile("Batch_Result.csv", kEarlierResults);
  const std::string& typed = parts.part[3];

  const Plan p = plan(typed);
  if (!p.run) return -1;

  const std::set<int> descriptors = harness::openDescriptors();
  std::FILE* in = typed.empty()
                      ? std::fopen("/dev/null", "r")
                      : fmemopen(const_cast<char*>(typed.data()), typed.size(), "r");
  ConsoleInput console;
  console.in = in;
  SteppingClock clock(1700000000, static_cast<std::int64_t>(size % 3) * 100);
  output.reset();
  const int status = exitStatusOf(runProgram(clock, console, ProgramOptions{}));
  FUZZ_CHECK(status == 0 || status == 1, "exit status " + std::to_string(status));
  const bool stopped = status == 1;
  std::fclose(in);
  FUZZ_CHECK(harness::openDescriptors() == descriptors, "a descriptor was left open");

  const std::string out = output.text();
  std::string results;
  const bool haveResults = harness::readFile("Batch_Result.csv", results);
  if (stopped) {
    bool known = false;
    for (const char* message : kStopMessages) {
      known = known || endsWith(out, std::string(message) + harness::kPausePrompt);
    }
    FUZZ_CHECK(known, "unknown stop: " + harness::printable(out));
    // A settings file that does not load stops before the banner.
    FUZZ_CHECK(p.loaded || out.rfind("Error ", 0) == 0, harness::printable(out));
    if (p.mode != 2 || endsWith(out, "Error opening file: batch.csv" +
                                          std::string(harness::kPausePrompt))) {
      FUZZ_CHECK(haveResults && results == kEarlierResults, "earlier results lost");
    }
    return 0;
  }

  FUZZ_CHECK(p.loaded, "a run went on without settings");
  FUZZ_CHECK(out.rfind("PARAMETERS:\n", 0) == 0, harness::printable(out));
  const std::string closing = p.settings.pauseAtEnd ? "\n\n" + std::string(harness::kPausePrompt)
                                                    : std::string("\n\n");
  FUZZ_CHECK(endsWith(out, closing), harness::printable(out));
  const bool probabilities = p.settings.withProbabilities;
  const std::vector<std::string> console_lines = lines(out);
  int valuations = 0;
  if (p.mode == 2) {
    const std::string dashes(40, '-');
    for (const std::string& l : console_lines) valuations += l == dashes;
    FUZZ_CHECK(haveResults, "no result file");
    const std::vector<std::string> rows = lines(results);
    FUZZ_CHECK(rows.size() == 1 + 5 * static_cast<std::size_t>(valuations),
               std::to_string(rows.size()) + " result lines for " +
                   std::to_string(valuations) + " rows");
    FUZZ_CHECK(rows[0] == (probabilities ? "S0,K,Call,Put,Stdev,Prob(WLC),Prob(WLP),ThetaC,ThetaP"
                                         : "S0,K,Call,Put,Stdev,ThetaC,ThetaP"),
               rows[0]);
    FUZZ_CHECK(endsWith(results, "\n"), "");
    for (std::size_t i = 1; i < rows.size(); ++i) {
      std::size_t commas = 0;
      for (char c : rows[i]) commas += c == ',';
      FUZZ_CHECK(commas == (probabilities ? 8u : 6u), rows[i]);
    }
  } else {
    FUZZ_CHECK(haveResults && results == kEarlierResults, "earlier results lost");
    if (p.mode == 1) {
      valuations = 1;
      std::size_t from = 0;
      while (from < console_lines.size() && console_lines[from] != "OUTPUT:") ++from;
      FUZZ_CHECK(from < console_lines.size(), "no report");
      const std::size_t reportLines = probabilities ? 24 : 19;
      FUZZ_CHECK(from + reportLines < console_lines.size(), "short report");
      FUZZ_CHECK(console_lines[from + reportLines - 1].rfind("Elapse time: ", 0) == 0,
                 console_lines[from + reportLines - 1]);
    }
  }
  if (valuations > 0) {
    std::string temporary;
    const bool left = harness::readFile("VelmarTemp.txt", temporary);
    FUZZ_CHECK(probabilities ? !left : (left && temporary.empty()), "temporary file");
  } else {
    FUZZ_CHECK(!harness::exists("VelmarTemp.txt"), "temporary file without a valuation");
  }
  return 0;
}
