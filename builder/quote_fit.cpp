#include "builder/quote_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <tuple>

#include "engine/quotes/calibration_quotes.h"
#include "engine/table/draw_table.h"
#include "engine/exact/exact_law.h"
#include "engine/exact/exact_valuation.h"
#include "engine/desk/implied_volatility.h"
#include "engine/desk/valuation_figures.h"
#include "text/number_text.h"

namespace empricer {

namespace {

constexpr int kFeatures = 3;
using Vector = std::array<double, kFeatures>;
using Matrix = std::array<Vector, kFeatures>;
// The most days a fitted quote may have (the exact law's accuracy holds to them).
constexpr std::int32_t kFitMostDays = 2500;
constexpr double kFitLeastGain = 1e-2;
constexpr double kFitMargin = 0.1;

Failure refused(const std::string& name, std::int64_t line, const std::string& why) {
  return Failure{name + ": line " + std::to_string(line) + ": " + why, FailureKind::badInput};
}

// The features of a return, as the tilt's shape weighs them.
Vector featuresOf(double r, double centre, double scale) {
  const double z = (r - centre) / scale;
  const double below = std::min(z, 0.0);
  const double above = std::max(z, 0.0);
  const double beyond = std::max(std::fabs(z) - 2.0, 0.0);
  return {below * below, above * above, beyond * beyond};
}

TiltShape shapeOf(const Vector& lambda, double centre, double scale) {
  return TiltShape{.down = lambda[0], .up = lambda[1], .tail = lambda[2], .centre = centre,
                   .scale = scale};
}

// The weighted mean and standard deviation of the history's rows after the first, and the
// covariance of their features.
struct HistoryShape {
  double centre = 0.0;
  double scale = 1.0;
  Matrix covariance{};
};

HistoryShape historyShape(const std::vector<DistRow>& history) {
  HistoryShape shape;
  double total = 0.0;
  double sum = 0.0;
  double squares = 0.0;
  for (std::size_t i = 1; i < history.size(); ++i) {
    const double w = static_cast<double>(history[i].weight);
    total += w;
    sum += w * history[i].ret;
    squares += w * history[i].ret * history[i].ret;
  }
  if (!(total > 0.0)) return shape;
  shape.centre = sum / total;
  shape.scale = std::sqrt(std::max(squares / total - shape.centre * shape.centre, 0.0));
  if (!(shape.scale > 0.0)) shape.scale = 1.0;
  Vector mean{};
  for (std::size_t i = 1; i < history.size(); ++i) {
    const Vector f = featuresOf(history[i].ret, shape.centre, shape.scale);
    for (int k = 0; k < kFeatures; ++k) mean[k] += static_cast<double>(history[i].weight) * f[k];
  }
  for (double& m : mean) m /= total;
  for (std::size_t i = 1; i < history.size(); ++i) {
    const Vector f = featuresOf(history[i].ret, shape.centre, shape.scale);
    for (int a = 0; a < kFeatures; ++a) {
      for (int b = 0; b < kFeatures; ++b) {
        shape.covariance[a][b] +=
            static_cast<double>(history[i].weight) * (f[a] - mean[a]) * (f[b] - mean[b]) / total;
      }
    }
  }
  return shape;
}

// Solves m x = v by Gaussian elimination with partial pivoting; false when m is singular.
bool solved(Matrix m, Vector v, Vector& x) {
  for (int p = 0; p < kFeatures; ++p) {
    int pivot = p;
    for (int r = p + 1; r < kFeatures; ++r) {
      if (std::fabs(m[r][p]) > std::fabs(m[pivot][p])) pivot = r;
    }
    if (!(std::fabs(m[pivot][p]) > 0.0)) return false;
    std::swap(m[p], m[pivot]);
    std::swap(v[p], v[pivot]);
    for (int r = p + 1; r < kFeatures; ++r) {
      const double f = m[r][p] / m[p][p];
      for (int c = p; c < kFeatures; ++c) m[r][c] -= f * m[p][c];
      v[r] -= f * v[p];
    }
  }
  for (int r = kFeatures - 1; r >= 0; --r) {
    double rest = v[r];
    for (int c = r + 1; c < kFeatures; ++c) rest -= m[r][c] * x[c];
    x[r] = rest / m[r][r];
  }
  return std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]);
}

ValuationRequest requestOf(const FitTarget& target, const RateSettings& rates, int stepsPerDay) {
  ValuationRequest request;
  request.spot = target.spot;
  request.strike = target.strike;
  request.riskFreeRate = rates.rate;
  request.days = target.days;
  request.trajectories = 1;
  request.stepFraction = rates.stepFraction;
  request.stepsPerDay = stepsPerDay;
  const double shifts[4] = {1.02, 0.98, 1.01, 0.99};
  std::copy(std::begin(shifts), std::end(shifts), std::begin(request.shiftFactor));
  return request;
}

// What one candidate table gives: every target's price, and the forward and discount of each.
struct Pricing {
  CanonicalTable table;
  std::vector<double> prices;
  std::vector<double> forwards;
  std::vector<double> discounts;
};

// The half-width w of a quoted price's residual.
double widthOf(const FitTarget& t) { return std::max((t.ask - t.bid) / 2.0, 1e-4 * t.spot); }

// The residuals of `prices`: each price's distance outside its [bid, ask], narrowed by
// kFitMargin of its half-spread at each end (so that the penalty's pull leaves it inside), over
// its half-width.
std::vector<double> residualsOf(const std::vector<FitTarget>& targets,
                                const std::vector<double>& prices) {
  std::vector<double> r(targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const FitTarget& t = targets[i];
    const double margin = kFitMargin * (t.ask - t.bid) / 2.0;
    const double outside = prices[i] - std::clamp(prices[i], t.bid + margin, t.ask - margin);
    r[i] = outside / widthOf(t);
  }
  return r;
}

class Fitter {
 public:
  Fitter(const std::vector<DistRow>& history, double mean, const RateSettings& rates,
         int stepsPerDay, const std::vector<FitTarget>& targets, const std::string& name)
      : history_(history), mean_(mean), rates_(rates), steps_(stepsPerDay), targets_(targets),
        name_(name), shape_(historyShape(history)) {}

  const HistoryShape& shape() const { return shape_; }
  int pricings() const { return pricings_; }

  // The family's table at `lambda`, and its draws.
  Outcome<std::pair<CanonicalTable, std::unique_ptr<DrawTable>>> tableAt(const Vector& lambda) {
    Outcome<CanonicalTable> made =
        canonicalTable(history_, mean_, name_, shapeOf(lambda, shape_.centre, shape_.scale));
    if (!made.ok()) return failureOf(made);
    Outcome<std::unique_ptr<ReturnTable>> table =
        tableOfText(tableText(made.value().rows), name_);
    if (!table.ok()) return failureOf(table);
    auto draws = std::make_unique<DrawTable>();
    buildDrawTable(*table.value(), static_cast<std::int32_t>(table.value()->totalWeight), *draws);
    return std::make_pair(std::move(made.value()), std::move(draws));
  }

  Outcome<Pricing> price(const Vector& lambda) {
    ++pricings_;
    auto made = tableAt(lambda);
    if (!made.ok()) return failureOf(made);
    const std::unique_ptr<DrawTable>& draws = made.value().second;
    Pricing pricing{std::move(made.value().first), {}, {}, {}};
    if (targets_.empty()) return pricing;
    ExactSetup setup;
    setup.growth = growthPerStep(requestOf(targets_[0], rates_, steps_));
    setup.stepsPerDay = steps_;
    setup.threads = 2;
    ExactModel model(*draws, setup);
    std::map<std::tuple<double, double, std::int32_t>, RowFigures> valued;
    FigureChoice choice;
    choice.desk = true;
    for (const FitTarget& target : targets_) {
      const auto key = std::make_tuple(target.spot, target.strike, target.days);
      auto found = valued.find(key);
      if (found == valued.end()) {
        ExactError error;
        found = valued.emplace(key, model.value(requestOf(target, rates_, steps_), choice, error)).first;
      }
      const RowFigures& f = found->second;
      pricing.prices.push_back(target.call ? f.result.callValue : f.result.putValue);
      pricing.forwards.push_back(f.desk.forward[kBasePath]);
      pricing.discounts.push_back(discountOf(requestOf(target, rates_, steps_)));
    }
    return pricing;
  }

 private:
  const std::vector<DistRow>& history_;
  double mean_;
  const RateSettings& rates_;
  int steps_;
  const std::vector<FitTarget>& targets_;
  std::string name_;
  HistoryShape shape_;
  int pricings_ = 0;
};

// Whether every price lies within its bid/ask with room to spare: 1e-6 x S0 from either end
// (a quarter of the spread where that is less), well beyond the exact law's own error, so that
// another model's prices of the table fall inside too.
bool allInside(const std::vector<FitTarget>& targets, const std::vector<double>& prices) {
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const FitTarget& t = targets[i];
    const double room = std::min(1e-6 * t.spot, (t.ask - t.bid) / 4.0);
    if (!(prices[i] >= t.bid + room && prices[i] <= t.ask - room)) return false;
  }
  return true;
}

double objectiveOf(const std::vector<double>& residuals, const Vector& lambda,
                   const Matrix& covariance) {
  double sum = 0.0;
  for (double r : residuals) sum += r * r;
  double penalty = 0.0;
  for (int a = 0; a < kFeatures; ++a) {
    for (int b = 0; b < kFeatures; ++b) penalty += lambda[a] * covariance[a][b] * lambda[b];
  }
  return sum + kFitPenalty * 0.5 * penalty;
}

// The annualised implied volatility of an option's `price`; NaN where it has none.
double annualVolatility(double price, double forward, double discount, const FitTarget& t,
                        double tradingDays) {
  const double total = impliedTotalVolatility(price / discount, forward, t.strike, t.call);
  return total / std::sqrt(static_cast<double>(t.days)) * std::sqrt(tradingDays);
}

}  // namespace

bool FitTarget::inside() const {
  return price >= bid - 1e-9 * spot && price <= ask + 1e-9 * spot;
}

double FitTarget::residual() const { return price - std::clamp(price, bid, ask); }

Outcome<std::vector<FitTarget>> fitTargets(const std::vector<HeldQuote>& quotes, double mean,
                                           const RateSettings& rates, int stepsPerDay,
                                           const std::string& name) {
  std::vector<FitTarget> targets;
  for (const HeldQuote& q : quotes) {
    if (!(q.days >= 1.0 && q.days <= kFitMostDays && q.days == std::floor(q.days))) {
      return refused(name, q.line,
                     "the days " + numberText(q.days) + " are not a whole number from 1 to " +
                         std::to_string(kFitMostDays));
    }
    if (!(q.spot > 0.0 && q.strike > 0.0)) {
      return refused(name, q.line, "S0 and K must be above 0 for a fit");
    }
    for (const bool call : {true, false}) {
      const QuoteRange& range = call ? q.call : q.put;
      if (!range.given()) continue;
      targets.push_back(FitTarget{{q.line, q.spot, q.strike, static_cast<std::int32_t>(q.days),
                                   call, range.bid, range.ask}});
      const FitTarget& t = targets.back();
      const double forward = t.spot * std::pow(1.0 + mean, stepsPerDay * q.days);
      const double discount = discountOf(requestOf(t, rates, stepsPerDay));
      const double intrinsic = discount * (call ? forward - t.strike : t.strike - forward);
      if (t.ask < intrinsic - 1e-6 * t.spot) {
        return refused(name, q.line,
                       std::string("the ") + (call ? "call" : "put") + " asks " +
                           numberText(t.ask) + ", below its discounted value on the forward, " +
                           numberText(intrinsic));
      }
    }
  }
  // Arbitrage between the quotes of one S0, days and side, in the order of their strikes.
  std::map<std::tuple<double, std::int32_t, bool>, std::vector<const QuotedPrice*>> chains;
  for (const FitTarget& t : targets) chains[{t.spot, t.days, t.call}].push_back(&t);
  for (auto& [key, chain] : chains) {
    std::sort(chain.begin(), chain.end(),
              [](const QuotedPrice* a, const QuotedPrice* b) { return a->strike < b->strike; });
    if (Status arbitrage = arbitrageOf(chain, name, FailureKind::badInput); !arbitrage.ok()) {
      return failureOf(arbitrage);
    }
  }
  return targets;
}

Outcome<std::vector<UnreachedTarget>> leaveOutUnreached(const std::vector<DistRow>& history,
                                                        double mean, const RateSettings& rates,
                                                        int stepsPerDay,
                                                        std::vector<FitTarget>& targets,
                                                        const std::string& quotesName,
                                                        const std::string& name) {
  std::vector<UnreachedTarget> unreached;
  if (targets.empty()) return unreached;
  const std::vector<FitTarget> none;
  Fitter plain(history, mean, rates, stepsPerDay, none, name);
  auto made = plain.tableAt(Vector{0.0, 0.0, 0.0});
  if (!made.ok()) return failureOf(made);
  const DrawTable& draws = *made.value().second;
  const DayLaw day =
      dayLaw(stepLaw(draws, PathKind::base, 0.0), latticeFor(draws), stepsPerDay);
  if (!day.defined) return unreached;
  std::map<double, std::vector<std::size_t>> bySpot;
  for (std::size_t i = 0; i < targets.size(); ++i) bySpot[targets[i].spot].push_back(i);
  std::vector<std::string> reason(targets.size());
  for (const auto& [spot, indices] : bySpot) {
    std::vector<QuotedPrice> prices;
    for (const std::size_t i : indices) {
      const FitTarget& t = targets[i];
      prices.push_back({t.line, t.spot, t.strike, t.days, t.call, t.bid, t.ask});
    }
    const std::vector<ExpiryQuotes> expiries =
        expiriesOf(prices, requestOf(targets[indices.front()], rates, stepsPerDay));
    for (const UnreachedPrice& u : unreachedPrices(day, spot, prices, expiries, quotesName)) {
      if (reason[indices[u.price]].empty()) reason[indices[u.price]] = u.message;
    }
  }
  std::vector<FitTarget> kept;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (reason[i].empty()) {
      kept.push_back(targets[i]);
    } else {
      unreached.push_back({targets[i], reason[i]});
    }
  }
  targets = std::move(kept);
  return unreached;
}

Outcome<QuoteFit> fitQuotes(const std::vector<DistRow>& history, double mean,
                            const RateSettings& rates, int stepsPerDay,
                            std::vector<FitTarget> targets, double tradingDays,
                            const std::string& name) {
  Fitter fitter(history, mean, rates, stepsPerDay, targets, name);
  const Matrix& covariance = fitter.shape().covariance;
  Vector lambda{0.0, 0.0, 0.0};
  Outcome<Pricing> at = fitter.price(lambda);
  if (!at.ok()) return failureOf(at);
  std::vector<double> residuals = residualsOf(targets, at.value().prices);
  double objective = objectiveOf(residuals, lambda, covariance);
  double damping = 1e-3;
  int iterations = 0;
  for (; iterations < kFitMostIterations && objective > 0.0; ++iterations) {
    // The Jacobian by forward differences, each feature's step moving the log weights by about
    // 1e-3 of its spread.
    std::vector<Vector> jacobian(targets.size());
    for (int k = 0; k < kFeatures; ++k) {
      double h = 1e-3 / std::sqrt(std::max(covariance[k][k], 1e-12));
      Vector moved = lambda;
      moved[k] += h;
      Outcome<Pricing> near = fitter.price(moved);
      if (!near.ok()) {
        // A tilt too far that way (no theta reaches the mean): the other side's difference.
        h = -h;
        moved[k] = lambda[k] + h;
        near = fitter.price(moved);
      }
      if (!near.ok()) {
        for (Vector& row : jacobian) row[k] = 0.0;
        continue;
      }
      const std::vector<double> r = residualsOf(targets, near.value().prices);
      // Where a price sits inside its spread, its residual is flat: the slope of the price
      // itself (over the width) steers it so that the step sees the edge coming.
      for (std::size_t i = 0; i < targets.size(); ++i) {
        const FitTarget& t = targets[i];
        const double slope = (near.value().prices[i] - at.value().prices[i]) / widthOf(t) / h;
        jacobian[i][k] = residuals[i] != 0.0 || r[i] != 0.0 ? (r[i] - residuals[i]) / h : slope;
      }
    }
    Matrix normal{};
    Vector gradient{};
    for (std::size_t i = 0; i < targets.size(); ++i) {
      for (int a = 0; a < kFeatures; ++a) {
        gradient[a] += jacobian[i][a] * residuals[i];
        for (int b = 0; b < kFeatures; ++b) normal[a][b] += jacobian[i][a] * jacobian[i][b];
      }
    }
    for (int a = 0; a < kFeatures; ++a) {
      for (int b = 0; b < kFeatures; ++b) {
        const double penalty = kFitPenalty * 0.5 * covariance[a][b];
        normal[a][b] += penalty;
        gradient[a] += penalty * lambda[b];
      }
    }
    bool stepped = false;
    while (damping < 1e12) {
      Matrix damped = normal;
      for (int a = 0; a < kFeatures; ++a) damped[a][a] += damping * std::max(normal[a][a], 1e-12);
      Vector step{};
      Vector minus{-gradient[0], -gradient[1], -gradient[2]};
      if (!solved(damped, minus, step)) {
        damping *= 10.0;
        continue;
      }
      Vector tried = lambda;
      for (int a = 0; a < kFeatures; ++a) tried[a] += step[a];
      Outcome<Pricing> next = fitter.price(tried);
      if (next.ok()) {
        const std::vector<double> r = residualsOf(targets, next.value().prices);
        const double value = objectiveOf(r, tried, covariance);
        if (value < objective) {
          const double gain = objective - value;
          lambda = tried;
          at = std::move(next);
          residuals = r;
          objective = value;
          damping = std::max(damping / 3.0, 1e-9);
          // The first table that puts every price inside its bid/ask ends the fit: the path
          // from no tilt is short, and what is left to gain is only the tilt's shrinking.
          // Otherwise steps that take off less than a hundredth of what is left are not worth
          // a Jacobian's pricings.
          stepped = !allInside(targets, at.value().prices) &&
                    gain > kFitLeastGain * (objective + gain);
          break;
        }
      }
      damping *= 10.0;
    }
    if (!stepped) break;
  }
  QuoteFit fit;
  fit.table = std::move(at.value().table);
  fit.iterations = iterations;
  fit.pricings = fitter.pricings();
  fit.objective = objective;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    FitTarget& t = targets[i];
    t.price = at.value().prices[i];
    const double mid = (t.bid + t.ask) / 2.0;
    const double forward = at.value().forwards[i];
    const double discount = at.value().discounts[i];
    t.volResidual = annualVolatility(t.price, forward, discount, t, tradingDays) -
                    annualVolatility(mid, forward, discount, t, tradingDays);
  }
  std::stable_sort(targets.begin(), targets.end(), [](const FitTarget& a, const FitTarget& b) {
    return a.line != b.line ? a.line < b.line : a.call && !b.call;
  });
  fit.targets = std::move(targets);
  return fit;
}

}  // namespace empricer
