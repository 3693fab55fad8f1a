#include "app/options.h"

#include <cstdio>

#include "app/check/check_run.h"
#include "app/program_flow.h"
#include "runs/stop.h"
#include "text/command_line.h"

namespace empricer {

#ifndef EMPRICER_VERSION
#define EMPRICER_VERSION "unknown"
#endif

std::string usageText() {
  return "Usage: empricer [OPTION]...\n"
         "Values European call and put options by Monte Carlo simulation, drawing every step's\n"
         "price change from the distribution in dist.csv. Reads Setup.txt and dist.csv (and\n"
         "batch.csv for a batch run) in the working directory, asks on the console for a manual\n"
         "run, and writes to standard output (and Batch_Result.csv for a batch run).\n"
         "\n"
         "Options:\n"
         "  --threads N        value on N threads (default: every CPU this process may use)\n"
         "  --seed N           seed the generator with N (0 to 4294967295) instead of the clock\n"
         "  --rows FIRST-LAST  value only these data rows of batch.csv (also FIRST- and N);\n"
         "                     needs --seed (or --exact), so that shards of a batch join up\n"
         "  --std-errors       also report the Monte Carlo standard error of every value\n"
         "  --chain            value the batch rows of each S0 on one shared set of paths\n"
         "  --exact            report the figures a simulation converges to, computed from\n"
         "                     the exact law of the terminal price instead of simulated paths\n"
         "  --quotes FILE      market quotes (S0, K, days; call, put or bid/ask) beside the\n"
         "                     model: edges, market volatilities and probabilities of profit\n"
         "                     in --results, market markers in --plot\n"
         "  --calibrate FILE   value every row under the measure on whole paths closest to\n"
         "                     the table's that puts each quote of FILE (as --quotes reads it)\n"
         "                     inside its bid/ask and keeps the table's forward; with\n"
         "                     --exact or --chain, and --quotes, --results, --plot and\n"
         "                     --calibration-report\n"
         "  --calibration-report FILE\n"
         "                     the calibration's report as CSV (with --calibrate)\n"
         "  --results FILE     also write every value, implied volatility, delta and gamma\n"
         "                     to FILE, one line per row and path\n"
         "  --trading-days N   days in a year for the yearly volatility (default 252)\n"
         "  --steps-per-day N  a day is N steps of dist.csv's draws, 1 to 100000 (default\n"
         "                     270): the band's day, the thetas' day before; 1 for a table\n"
         "                     of daily returns (empricer-dist says which a table needs)\n"
         "  --plot FILE        draw the smile (yearly volatility against K / forward) as SVG\n"
         "  --quiet            no progress line on standard error\n"
         "  --check            read Setup.txt, dist.csv and batch.csv as a run would, value\n"
         "                     nothing, and list every line that reads differently from how\n"
         "                     it looks (status 0: none, 1: some)\n"
         "  --help             show this help and exit\n"
         "  --version          show the version and exit\n"
         "\n"
         "With no option the program runs as it always has. The README beside the sources\n"
         "describes the files, the settings and every option.\n";
}

int runWithArguments(const std::vector<std::string>& args, Clock& clock, ConsoleInput& console,
                     const RunTuning& tuning) {
  Outcome<ProgramOptions> parsed = parseOptions(args);
  if (!parsed.ok()) {
    return exitStatusOf(
        {Failure{parsed.message() + "\nTry 'empricer --help'.", FailureKind::refused}, true});
  }
  ProgramOptions& options = parsed.value();
  if (options.help || options.version) {
    return exitStatusOf({printText(options.help ? usageText()
                                                : std::string("empricer " EMPRICER_VERSION "\n"))});
  }
  if (options.check) return runCheck({options.stepsPerDay, options.tradingDays});
  if ((options.exact || options.calibrate) && tuning.largeBuffers != nullptr) {
    tuning.largeBuffers();
  }
  return exitStatusOf(runProgram(clock, console, options, tuning));
}

}  // namespace empricer
