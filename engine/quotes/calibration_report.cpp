#include "engine/quotes/calibration_report.h"

#include <algorithm>
#include <cmath>

#include "engine/desk/desk_figures.h"
#include "text/number_text.h"

namespace empricer {

namespace {

// How far a model price lies beyond its bid/ask (0 inside), as the report and the summary
// count it: within 1e-9 of S0 of a side counts as inside.
double residualOf(const QuotedPrice& p, double model) {
  const double inside = std::clamp(model, p.bid, p.ask);
  return std::fabs(model - inside) <= 1e-9 * p.spot ? 0.0 : model - inside;
}

std::string text(double value) {
  std::string out;
  appendNumber(out, value);
  return out;
}

}  // namespace

std::vector<std::string> calibrationSummary(const CalibrationLog& log) {
  std::vector<std::string> lines;
  for (const SpotCalibration& s : log.spots) {
    std::size_t inside = 0;
    for (std::size_t i = 0; i < s.prices.size(); ++i) {
      inside += residualOf(s.prices[i], s.model[i]) == 0.0 ? 1 : 0;
    }
    lines.push_back("--calibrate: S0 " + text(s.spot) + ": " + std::to_string(inside) + " of " +
                    std::to_string(s.prices.size()) + " prices of " +
                    std::to_string(s.expiryDays.size()) +
                    (s.expiryDays.size() == 1 ? " expiry" : " expiries") +
                    " inside their bid/ask, KL(Q||P) " + text(s.relativeEntropy) +
                    (s.sampled ? ", effective sample size (sum w)^2 / sum w^2 a share " +
                                     text(s.effectiveShare) + " of the paths"
                               : ", effective share of the paths' law exp(-KL) " +
                                     text(s.effectiveShare)) +
                    ", " + std::to_string(s.sweeps) + " sweeps");
  }
  return lines;
}

std::vector<std::string> calibrationWarnings(const CalibrationLog& log) {
  std::vector<std::string> warnings;
  for (const SpotCalibration& s : log.spots) {
    if (s.relativeEntropy > kMostCalibrationEntropy || s.effectiveShare < 0.01) {
      warnings.push_back("--calibrate: S0 " + text(s.spot) +
                         " needs an extreme tilt of the paths' law: KL(Q||P) " +
                         text(s.relativeEntropy) + ", an effective share of " +
                         text(s.effectiveShare) +
                         ", below 1 %: the values rest on a few paths of the table");
    }
    if (!s.met) {
      warnings.push_back("--calibrate: S0 " + text(s.spot) +
                         ": the calibration left some prices outside their bid/ask (see the "
                         "report's inside column)");
    }
  }
  return warnings;
}

std::string calibrationReportText(const CalibrationLog& log, const ValuationRequest& common,
                                  double tradingDays) {
  std::string rows = "line,S0,side,K,days,bid,ask,model,inside,residual,residual_vol,multiplier\n";
  for (const SpotCalibration& s : log.spots) {
    for (std::size_t i = 0; i < s.prices.size(); ++i) {
      const QuotedPrice& p = s.prices[i];
      const double residual = residualOf(p, s.model[i]);
      ValuationRequest request = common;
      request.spot = p.spot;
      request.strike = p.strike;
      request.days = p.days;
      const auto e = static_cast<std::size_t>(
          std::find(s.expiryDays.begin(), s.expiryDays.end(), p.days) - s.expiryDays.begin());
      const double forward = e < s.forward.size() ? s.forward[e] : NAN;
      const double volatility = residual == 0.0
                                    ? 0.0
                                    : 100.0 * (yearlyVolatilityOfPrice(request, s.model[i], p.call,
                                                                       forward, tradingDays) -
                                               yearlyVolatilityOfPrice(
                                                   request, s.model[i] - residual, p.call,
                                                   forward, tradingDays));
      rows += std::to_string(p.line);
      rows += ',';
      appendShortest(rows, p.spot);
      rows += p.call ? ",call," : ",put,";
      appendShortest(rows, p.strike);
      rows += ',';
      rows += std::to_string(p.days);
      rows += ',';
      for (const double v : {p.bid, p.ask, s.model[i]}) {
        appendShortest(rows, v);
        rows += ",";
      }
      rows += residual == 0.0 ? "1," : "0,";
      appendShortest(rows, residual);
      rows += ",";
      appendShortest(rows, volatility);
      rows += ",";
      appendShortest(rows, s.multiplier[i]);
      rows += "\n";
    }
  }
  rows += "S0,days,forward,mu\n";
  for (const SpotCalibration& s : log.spots) {
    for (std::size_t e = 0; e < s.expiryDays.size(); ++e) {
      appendShortest(rows, s.spot);
      rows += ',';
      rows += std::to_string(s.expiryDays[e]);
      rows += ',';
      appendShortest(rows, s.forward[e]);
      rows += ",";
      appendShortest(rows, s.mu[e]);
      rows += "\n";
    }
  }
  rows += "S0,relative_entropy,effective_share,sweeps,met\n";
  for (const SpotCalibration& s : log.spots) {
    appendShortest(rows, s.spot);
    rows += ",";
    appendShortest(rows, s.relativeEntropy);
    rows += ",";
    appendShortest(rows, s.effectiveShare);
    rows += ',';
    rows += std::to_string(s.sweeps);
    rows += s.met ? ",1\n" : ",0\n";
  }
  return rows;
}

}  // namespace empricer
