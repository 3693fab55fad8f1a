#include "runs/results_file.h"

#include <charconv>
#include <cmath>

#include "engine/desk/valuation_figures.h"
#include "text/output_file.h"

namespace empricer {

const char* const kResultsHeader =
    "row,path,S0,K,days,call,put,stdev,prob_call,prob_put,theta_call,theta_put,se_call,se_put,"
    "forward,iv_day,iv_year,delta_call,delta_put,gamma,quote_call,quote_put,edge_call,edge_put,"
    "iv_market_call,iv_market_put,pop_call,pop_put,discount,method,trajectories,seed";

namespace {

constexpr const char* kPathNames[kPathCount] = {"shift1", "shift2", "base", "shift3", "shift4"};

}  // namespace

ResultsFile::~ResultsFile() = default;

Status ResultsFile::open(const std::string& path) {
  if (Status made = file_.create(path.c_str()); !made.ok()) return made;
  return file_.writeRow(header() + "\n");
}

std::string ResultsFile::header() const {
  std::string line = kResultsHeader;
  if (!run_.method.sampled) line += ",exact_error,vega";
  if (cycleColumn_) line += ",cycle_repeats";
  return line;
}

void ResultsFile::openInMemory() {
  inMemory_ = true;
  memory_ = header() + "\n";
}

Status ResultsFile::close() {
  if (inMemory_) return {};
  return file_.close();
}

void ResultsFile::want(FigureChoice& choice) const {
  choice.standardErrors = true;
  choice.desk = true;
  choice.vega = true;
}

Status ResultsFile::begin(std::uint64_t mostRepeats) {
  if (mostRepeats == 0 || cycleColumn_) return {};
  cycleColumn_ = true;
  if (inMemory_) {
    memory_ = header() + "\n";
    return {};
  }
  // The file is written afresh; that it cannot be made again counts as a failed write.
  const std::string path = file_.path();
  if (Status closed = file_.close(); !closed.ok()) return closed;
  if (!file_.create(path.c_str()).ok()) return writeFailure(path);
  return file_.writeRow(header() + "\n");
}

Status ResultsFile::row(const ValuedRow& valued) {
  const ValuationRequest& request = valued.request;
  const RowFigures& figures = valued.figures;
  const MarketQuote& quote = valued.quote;
  const bool sampled = run_.method.sampled;
  const ValuationResult& result = figures.result;
  const StandardErrors* errors = sampled ? &figures.errors : nullptr;
  const DeskFigures& desk = figures.desk;
  const double discount = discountOf(request);
  std::string lines;
  for (int p = 0; p < kPathCount; ++p) {
    lines += std::to_string(valued.number);
    lines += ',';
    lines += kPathNames[p];
    const double numbers[] = {startPriceOfPath(request, p), request.strike,
                              static_cast<double>(request.days), callValueOfPath(result, p),
                              putValueOfPath(result, p)};
    for (double v : numbers) {
      lines += ',';
      appendShortest(lines, v);
    }
    lines += ',';
    if (p == kBasePath) appendShortest(lines, result.stdevS);
    for (double v : {result.probCall[p], result.probPut[p]}) {
      lines += ',';
      if (request.withProbabilities) appendShortest(lines, v);
    }
    for (double v : {result.thetaCall[p], result.thetaPut[p]}) {
      lines += ',';
      appendShortest(lines, v);
    }
    for (const double* v : {errors != nullptr ? &errors->call[p] : nullptr,
                            errors != nullptr ? &errors->put[p] : nullptr}) {
      lines += ',';
      if (v != nullptr) appendShortest(lines, *v);
    }
    for (double v : {desk.forward[p], desk.ivDay[p], desk.ivYear[p], desk.deltaCall[p],
                     desk.deltaPut[p], desk.gamma[p]}) {
      lines += ',';
      appendShortest(lines, v);
    }
    // The market beside the model, on the base path's line: each field where its price is.
    const bool quoted = p == kBasePath;
    const double forward = desk.forward[kBasePath];
    const bool hasCall = quoted && !std::isnan(quote.call);
    const bool hasPut = quoted && !std::isnan(quote.put);
    const double market[8] = {
        quote.call,
        quote.put,
        result.callValue - quote.call,
        result.putValue - quote.put,
        hasCall ? yearlyVolatilityOfPrice(request, quote.call, true, forward, run_.tradingDays)
                : 0.0,
        hasPut ? yearlyVolatilityOfPrice(request, quote.put, false, forward, run_.tradingDays)
               : 0.0,
        figures.profitCall,
        figures.profitPut};
    for (int i = 0; i < 8; ++i) {
      lines += ',';
      if (i % 2 == 0 ? hasCall : hasPut) appendShortest(lines, market[i]);
    }
    lines += ',';
    appendShortest(lines, discount);
    lines += ',';
    lines += run_.method.name;
    lines += ',';
    if (sampled) lines += std::to_string(run_.trajectories);
    lines += ',';
    if (run_.seed && sampled) lines += std::to_string(*run_.seed);
    if (!sampled) {
      lines += ',';
      appendShortest(lines, figures.errorRatio);
      lines += ',';
      if (!std::isnan(figures.vega[p])) appendShortest(lines, figures.vega[p]);
    }
    if (cycleColumn_) {
      lines += ',';
      lines += std::to_string(valued.cycleRepeats);
    }
    lines += '\n';
  }
  if (inMemory_) {
    memory_ += lines;
    return {};
  }
  // The row goes in one piece; if it cannot, the file is cut back to its last whole row.
  return file_.writeRow(lines);
}

}  // namespace empricer
