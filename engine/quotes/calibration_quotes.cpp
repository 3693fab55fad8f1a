#include "engine/quotes/calibration_quotes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/desk/valuation_figures.h"
#include "text/number_text.h"

namespace empricer {

namespace {

Failure refusedAt(const std::string& name, std::int64_t line, const std::string& what) {
  return Failure{name + ": line " + std::to_string(line) + ": " + what, FailureKind::refused};
}

}  // namespace

Status arbitrageOf(const std::vector<const QuotedPrice*>& chain, const std::string& name,
                   FailureKind kind) {
  auto refused = [&](std::int64_t line, const std::string& what) {
    return Failure{name + ": line " + std::to_string(line) + ": " + what, kind};
  };
  const bool call = chain.front()->call;
  const char* side = call ? "call" : "put";
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
    // A call falls as the strike rises, a put rises: the dearer strike's bid may not pass the
    // cheaper's ask.
    const QuotedPrice& dear = call ? *chain[i + 1] : *chain[i];
    const QuotedPrice& cheap = call ? *chain[i] : *chain[i + 1];
    if (dear.bid > cheap.ask) {
      return refused(dear.line, std::string("the ") + side + " at K " + numberText(dear.strike) +
                                    " bids " + numberText(dear.bid) + ", above the ask " +
                                    numberText(cheap.ask) + " of the " + side + " at the " +
                                    (call ? "lower" : "higher") + " K " +
                                    numberText(cheap.strike) + " (line " +
                                    std::to_string(cheap.line) + "): an arbitrage");
    }
  }
  for (std::size_t i = 0; i + 2 < chain.size(); ++i) {
    const QuotedPrice& a = *chain[i];
    const QuotedPrice& b = *chain[i + 1];
    const QuotedPrice& c = *chain[i + 2];
    // Convexity: the middle price is at most the wings' line at its strike.
    const double share = (b.strike - a.strike) / (c.strike - a.strike);
    const double line = a.ask + share * (c.ask - a.ask);
    if (b.bid > line + 1e-12 * b.spot) {
      return refused(b.line,
                       std::string("a butterfly pays to hold: the ") + side + " at K " +
                           numberText(b.strike) + " bids " + numberText(b.bid) + ", above " +
                           numberText(line) + ", the asks at K " + numberText(a.strike) + " and " +
                           numberText(c.strike) + " (lines " + std::to_string(a.line) + " and " +
                           std::to_string(c.line) + ") taken at its strike");
    }
  }
  return {};
}

Outcome<std::map<double, std::vector<QuotedPrice>>> calibrationPrices(
    const std::vector<HeldQuote>& held, const std::string& name) {
  std::map<double, std::vector<QuotedPrice>> bySpot;
  for (const HeldQuote& q : held) {
    if (!(q.days >= 1.0 && q.days <= kExactMostDays && q.days == std::floor(q.days))) {
      return refusedAt(name, q.line,
                       "the days " + numberText(q.days) + " are not a whole number from 1 to " +
                           std::to_string(kExactMostDays) + ", as a calibration needs");
    }
    if (!(q.spot > 0.0 && q.strike > 0.0)) {
      return refusedAt(name, q.line, "S0 and K must be above 0 for a calibration");
    }
    for (const bool call : {true, false}) {
      const QuoteRange& range = call ? q.call : q.put;
      if (!range.given()) continue;
      bySpot[q.spot].push_back(QuotedPrice{call ? q.line : q.putLine, q.spot, q.strike,
                                           static_cast<std::int32_t>(q.days), call, range.bid,
                                           range.ask});
    }
  }
  for (const auto& [spot, prices] : bySpot) {
    std::map<std::tuple<std::int32_t, bool>, std::vector<const QuotedPrice*>> chains;
    for (const QuotedPrice& p : prices) chains[{p.days, p.call}].push_back(&p);
    for (auto& [key, chain] : chains) {
      std::sort(chain.begin(), chain.end(), [](const QuotedPrice* a, const QuotedPrice* b) {
        return a->strike < b->strike;
      });
      if (Status arbitrage = arbitrageOf(chain, name); !arbitrage.ok()) return failureOf(arbitrage);
    }
  }
  return bySpot;
}

std::vector<ExpiryQuotes> expiriesOf(const std::vector<QuotedPrice>& prices,
                                     const ValuationRequest& common) {
  std::map<std::int32_t, ExpiryQuotes> byDays;
  for (std::size_t i = 0; i < prices.size(); ++i) {
    const QuotedPrice& p = prices[i];
    ExpiryQuotes& e = byDays[p.days];
    if (e.prices.empty()) {
      ValuationRequest request = common;
      request.days = p.days;
      e.days = p.days;
      e.discount = discountOf(request);
    }
    e.prices.push_back(
        PeriodPrice{p.call, p.strike / p.spot, e.discount, p.bid / p.spot, p.ask / p.spot});
    e.quotes.push_back(i);
  }
  std::vector<ExpiryQuotes> expiries;
  for (auto& [days, e] : byDays) expiries.push_back(std::move(e));
  return expiries;
}

namespace {

// The day's law on the lattice a calibration of the table's draws begins on.
DayLaw calibrationDay(const DrawTable& draws, const ExactSetup& setup) {
  const int intervals = setup.firstIntervals > 0 ? setup.firstIntervals : latticeFor(draws);
  return dayLaw(stepLaw(draws, PathKind::base, 0.0), intervals, setup.stepsPerDay);
}

// The lattice's law after an expiry's days: each node's mass and its price, in units of S0.
struct PricedNodes {
  std::vector<double> mass;
  std::vector<double> price;
};

PricedNodes pricedNodes(const DayLaw& day, std::int32_t days) {
  NodeMasses nodes = sumOfDays(day, days);
  PricedNodes priced{std::move(nodes.mass), {}};
  const double origin = days * day.low;
  priced.price.resize(priced.mass.size());
  for (std::size_t i = 0; i < priced.mass.size(); ++i) {
    priced.price[i] =
        std::exp(origin + static_cast<double>(nodes.first + static_cast<std::int64_t>(i)) *
                              day.spacing);
  }
  return priced;
}

// The forward of the law: its mean price, summed in the nodes' order.
double forwardOf(const PricedNodes& nodes) {
  double forward = 0.0;
  for (std::size_t i = 0; i < nodes.mass.size(); ++i) forward += nodes.mass[i] * nodes.price[i];
  return forward;
}

}  // namespace

std::vector<double> tableForwards(const DrawTable& draws, const ExactSetup& setup,
                                  const std::vector<ExpiryQuotes>& expiries) {
  const DayLaw day = calibrationDay(draws, setup);
  std::vector<double> forwards;
  for (const ExpiryQuotes& e : expiries) forwards.push_back(forwardOf(pricedNodes(day, e.days)));
  return forwards;
}

namespace {

// Whether one expiry's bands can be met together by a measure on [least, most] with mean
// `forward`: its call prices d E(X - K)+ are a convex function of K, d (F - K) at `least` and 0
// at `most`. The greatest convex function at or below every ask (and those two ends) is the
// lower convex hull of the points (K, ask); a measure exists exactly when that hull reaches
// each bid (held up to d (F - K)+, the least any measure pays). Fails naming the first band
// whose bid the hull misses by more than the lattice's own error, and the asks that bound it.
std::optional<UnreachedPrice> jointReach(const ExpiryQuotes& e, const StrikeBands& bands,
                                         const std::vector<QuotedPrice>& prices, double least,
                                         double most, double forward, double spot,
                                         const std::string& name) {
  if (!(most > least)) return std::nullopt;
  struct Point {
    double k;
    double value;
    std::ptrdiff_t band;  // -1: an end of the paths' reach
  };
  const double d = e.discount;
  std::vector<Point> points{{least, d * (forward - least), -1}, {most, 0.0, -1}};
  const std::vector<PeriodPrice>& calls = bands.targets.prices;
  for (std::size_t b = 0; b < calls.size(); ++b) {
    if (calls[b].strike > least && calls[b].strike < most && std::isfinite(calls[b].ask)) {
      points.push_back({calls[b].strike, calls[b].ask, static_cast<std::ptrdiff_t>(b)});
    }
  }
  std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.k < b.k; });
  // The lower hull, by Andrew's monotone chain.
  std::vector<Point> hull;
  for (const Point& p : points) {
    while (hull.size() >= 2) {
      const Point& a = hull[hull.size() - 2];
      const Point& b = hull.back();
      // b lies on or above the chord from a to p: not a vertex of the lower hull.
      if ((b.value - a.value) * (p.k - a.k) >= (p.value - a.value) * (b.k - a.k)) {
        hull.pop_back();
      } else {
        break;
      }
    }
    hull.push_back(p);
  }
  for (std::size_t b = 0; b < calls.size(); ++b) {
    const double k = calls[b].strike;
    if (!(k > least && k < most)) continue;
    std::size_t right = 1;
    while (right + 1 < hull.size() && hull[right].k < k) ++right;
    const Point& lo = hull[right - 1];
    const Point& hi = hull[right];
    const double reach = lo.value + (hi.value - lo.value) * (k - lo.k) / (hi.k - lo.k);
    const double bid = std::max(calls[b].bid, d * std::max(forward - k, 0.0));
    if (!(bid > reach + kParitySlack)) continue;
    // The quote that bids: the band's price whose bid (as a call's) is the band's.
    std::size_t named = 0;
    for (std::size_t j = 0; j < e.prices.size(); ++j) {
      if (bands.bandOf[j] == b) {
        named = j;
        if (e.prices[j].call || calls[b].bid == e.prices[j].bid + d * (forward - k)) break;
      }
    }
    const QuotedPrice& p = prices[e.quotes[named]];
    auto strikeOf = [&](const Point& at) {
      return at.band < 0 ? std::string(at.k == least ? "the paths' lowest price "
                                                     : "the paths' highest price ") +
                               numberText(at.k * spot)
                         : "K " + numberText(at.k * spot);
    };
    std::string message = name;
    message.append(": line ").append(std::to_string(p.line)).append(": the ");
    message.append(p.call ? "call" : "put").append(" at K ").append(numberText(p.strike));
    message.append(", ").append(std::to_string(p.days)).append(" days, bids ");
    message.append(numberText(p.bid)).append(", and with the asks of its expiry (at ");
    message.append(strikeOf(lo)).append(" and ").append(strikeOf(hi));
    message.append(") no measure on the model's paths with the table's forward pays its ");
    message.append("strike's call more than ").append(numberText(reach * spot));
    message.append(" (its bid as a call: ").append(numberText(bid * spot));
    message.append("): no calibration meets them together");
    return UnreachedPrice{e.quotes[named], message};
  }
  return std::nullopt;
}

}  // namespace

std::vector<UnreachedPrice> unreachedPrices(const DayLaw& day, double spot,
                                            const std::vector<QuotedPrice>& prices,
                                            const std::vector<ExpiryQuotes>& expiries,
                                            const std::string& name,
                                            std::vector<double>* forwards) {
  std::vector<UnreachedPrice> unreached;
  if (forwards != nullptr) forwards->clear();
  for (const ExpiryQuotes& e : expiries) {
    const PricedNodes nodes = pricedNodes(day, e.days);
    const double forward = forwardOf(nodes);
    if (forwards != nullptr) forwards->push_back(forward);
    double least = HUGE_VAL;
    double most = -HUGE_VAL;
    for (std::size_t i = 0; i < nodes.mass.size(); ++i) {
      if (nodes.mass[i] >= kReachedMass) {
        least = std::min(least, nodes.price[i]);
        most = std::max(most, nodes.price[i]);
      }
    }
    for (std::size_t j = 0; j < e.prices.size(); ++j) {
      const PeriodPrice& q = e.prices[j];
      const QuotedPrice& p = prices[e.quotes[j]];
      const double k = q.strike;
      // The most a measure on [least, most] with mean `forward` pays: its mass at the two ends.
      const double span = most - least;
      const double atMost = span > 0.0 ? (forward - least) / span : 1.0;
      const double high =
          q.discount *
          (q.call ? atMost * std::max(most - k, 0.0) + (1.0 - atMost) * std::max(least - k, 0.0)
                  : atMost * std::max(k - most, 0.0) + (1.0 - atMost) * std::max(k - least, 0.0));
      const double low =
          q.discount * (q.call ? std::max(forward - k, 0.0) : std::max(k - forward, 0.0));
      const char* side = q.call ? "call" : "put";
      const std::string what = std::string("the ") + side + " at K " + numberText(p.strike) + ", " +
                               std::to_string(p.days) + " days, ";
      // The lattice's law is the exact one's to about kParitySlack: what lies within it of a
      // bound is left to the fit.
      if (q.bid > high + kParitySlack) {
        unreached.push_back({e.quotes[j], name + ": line " + std::to_string(p.line) + ": " + what + "bids " +
                           numberText(p.bid) +
                           ", above the most any measure on the model's paths " +
                           "pays with its forward kept, " + numberText(high * spot) +
                           " (the paths reach " + numberText(least * spot) + " to " +
                           numberText(most * spot) + ", the forward " + numberText(forward * spot) +
                           "): no calibration meets it"});
        continue;
      }
      if (q.ask < low - kParitySlack) {
        unreached.push_back({e.quotes[j], name + ": line " + std::to_string(p.line) + ": " + what + "asks " +
                           numberText(p.ask) + ", below its discounted payoff on the table's " +
                           "forward " + numberText(forward * spot) + ", " + numberText(low * spot) +
                           ": no calibration meets it"});
      }
    }
    const StrikeBands bands = strikeBands(e, forward);
    if (bands.parityAt >= 0) {
      const QuotedPrice& p = prices[e.quotes[static_cast<std::size_t>(bands.parityAt)]];
      // The forward the strike's call and put imply, from their mids: K + (C - P) / d.
      double call = 0.0;
      double put = 0.0;
      for (std::size_t j = 0; j < e.prices.size(); ++j) {
        if (e.prices[j].strike != p.strike / p.spot) continue;
        const double mid = (e.prices[j].bid + e.prices[j].ask) / 2.0;
        (e.prices[j].call ? call : put) = mid;
      }
      const double implied = (p.strike / p.spot + (call - put) / e.discount) * spot;
      unreached.push_back({e.quotes[static_cast<std::size_t>(bands.parityAt)],
                           name + ": line " + std::to_string(p.line) + ": the call and the put at K " +
                         numberText(p.strike) + ", " + std::to_string(e.days) +
                         " days, imply a forward of " + numberText(implied) +
                         " by their parity, and the table's forward is " +
                         numberText(forward * spot) +
                         ", beyond their spreads: no calibration keeps " +
                         "the table's forward and meets both"});
      continue;
    }
    if (auto joint = jointReach(e, bands, prices, least, most, forward, spot, name)) {
      unreached.push_back(*joint);
    }
  }
  return unreached;
}

Status calibrationReach(const DrawTable& draws, const ExactSetup& setup, double spot,
                        const std::vector<QuotedPrice>& prices,
                        const std::vector<ExpiryQuotes>& expiries, const std::string& name,
                        std::vector<double>* forwards) {
  const DayLaw day = calibrationDay(draws, setup);
  if (!day.defined) {
    return Failure{name + ": dist.csv's draws give no law to calibrate (a return is not a number)",
                   FailureKind::cannotCompute};
  }
  const std::vector<UnreachedPrice> unreached =
      unreachedPrices(day, spot, prices, expiries, name, forwards);
  if (!unreached.empty()) return Failure{unreached.front().message, FailureKind::cannotCompute};
  return {};
}

SpotCalibration spotCalibration(ExactModel& model, double spot,
                                const std::vector<QuotedPrice>& prices,
                                const std::vector<ExpiryQuotes>& expiries,
                                const WorkWatch& watch) {
  SpotCalibration out;
  out.spot = spot;
  out.prices = prices;
  const int first = model.firstIntervals();
  const LatticeCalibration levels[3] = {model.calibrationAt(first, watch),
                                        model.calibrationAt(first * 2, watch),
                                        model.calibrationAt(first * 4, watch)};
  // The finer of the two Richardson extrapolations, as a row's figures take it.
  const auto extrapolated = [&](auto of) {
    const double coarse = of(levels[1]);
    const double fine = of(levels[2]);
    return fine + (fine - coarse) / 3.0;
  };
  const LatticeCalibration& finest = levels[2];
  out.model.assign(prices.size(), 0.0);
  out.multiplier.assign(prices.size(), 0.0);
  for (std::size_t e = 0; e < expiries.size() && e < finest.prices.size(); ++e) {
    out.expiryDays.push_back(expiries[e].days);
    out.forward.push_back(
        extrapolated([&](const LatticeCalibration& c) { return c.forwards[e]; }) * spot);
    out.mu.push_back(finest.fits[e].mu / spot);
    for (std::size_t j = 0; j < expiries[e].quotes.size(); ++j) {
      const std::size_t i = expiries[e].quotes[j];
      out.model[i] =
          extrapolated([&](const LatticeCalibration& c) { return c.prices[e][j]; }) * spot;
      const std::size_t band = finest.bands[e].bandOf[j];
      out.multiplier[i] = finest.fits[e].lambda[band] / spot;
    }
  }
  out.relativeEntropy = extrapolated([](const LatticeCalibration& c) { return c.relativeEntropy; });
  out.effectiveShare = std::exp(-out.relativeEntropy);
  out.sweeps = finest.sweeps;
  out.met = levels[0].met && levels[1].met && levels[2].met;
  return out;
}

SpotCalibration sampleCalibration(const SampleMeasure& measure, double spot,
                                  const std::vector<QuotedPrice>& prices,
                                  const std::vector<ExpiryQuotes>& expiries) {
  SpotCalibration out;
  out.spot = spot;
  out.prices = prices;
  out.sampled = true;
  out.model.assign(prices.size(), std::nan(""));
  out.multiplier.assign(prices.size(), std::nan(""));
  for (std::size_t e = 0; e < expiries.size() && e < measure.prices.size(); ++e) {
    out.expiryDays.push_back(expiries[e].days);
    out.forward.push_back(measure.forwards[e] * spot);
    out.mu.push_back(measure.fits[e].mu / spot);
    for (std::size_t j = 0; j < expiries[e].quotes.size(); ++j) {
      const std::size_t i = expiries[e].quotes[j];
      out.model[i] = measure.prices[e][j] * spot;
      out.multiplier[i] = measure.fits[e].lambda[measure.bands[e].bandOf[j]] / spot;
    }
  }
  out.relativeEntropy = measure.relativeEntropy;
  out.effectiveShare =
      measure.paths > 0 ? measure.effectiveSize / static_cast<double>(measure.paths) : 0.0;
  out.sweeps = measure.sweeps;
  out.met = measure.met;
  return out;
}

Status calibrationMet(const SpotCalibration& calibration, const std::string& name) {
  std::ptrdiff_t worst = -1;
  double furthest = 0.0;
  for (std::size_t i = 0; i < calibration.prices.size() && i < calibration.model.size(); ++i) {
    const QuotedPrice& p = calibration.prices[i];
    const double model = calibration.model[i];
    // Outside by more than the report's inside column allows, or no number at all.
    const double outside = std::isfinite(model) ? std::max(p.bid - model, model - p.ask)
                                                : HUGE_VAL;
    if (outside > 1e-9 * calibration.spot && outside > furthest) {
      furthest = outside;
      worst = static_cast<std::ptrdiff_t>(i);
    }
  }
  if (worst < 0) return {};
  const QuotedPrice& p = calibration.prices[static_cast<std::size_t>(worst)];
  const double model = calibration.model[static_cast<std::size_t>(worst)];
  std::string message = name;
  message.append(": line ").append(std::to_string(p.line)).append(": the ");
  message.append(p.call ? "call" : "put").append(" at K ").append(numberText(p.strike));
  message.append(", ").append(std::to_string(p.days)).append(" days, bid ");
  message.append(numberText(p.bid)).append(" ask ").append(numberText(p.ask));
  message.append(": the calibration of S0 ").append(numberText(calibration.spot));
  if (std::isfinite(model)) {
    message.append(" leaves it at ").append(numberText(model));
  } else {
    message.append(" gives it no price");
  }
  message.append(" after ").append(std::to_string(calibration.sweeps)).append(" sweeps");
  message.append(calibration.sampled ? " on the simulated paths" : "");
  message.append(": no measure on the model's paths was found that meets every quote ");
  message.append("(the quotes nearest the paths' reach, or a few paths to meet them on); ");
  message.append("no values are written");
  return Failure{message, FailureKind::cannotCompute};
}

}  // namespace empricer
