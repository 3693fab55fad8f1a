#include "runs/smile_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/desk/desk_figures.h"
#include "engine/desk/valuation_figures.h"
#include "text/round_step.h"
#include "text/text_width.h"

namespace empricer {

namespace {

constexpr double kWidth = 800, kHeight = 520;
constexpr double kLeft = 80, kRight = 200, kTop = 50, kBottom = 60;
constexpr const char* kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                    "#ff7f0e", "#17becf", "#8c564b", "#e377c2"};

std::string number(double v, int digits = 6) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*g", digits, v);
  return text;
}

// Ticks at a round step, about five between low and high.
std::vector<double> ticks(double low, double high) {
  const double step = roundStep((high - low) / 5);
  std::vector<double> out;
  for (double t = std::ceil(low / step) * step; t <= high + step * 1e-9; t += step) {
    out.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  }
  return out;
}

}  // namespace

void SmilePlot::add(double spot, std::int32_t days, double strike, double forward,
                    double ivYear, double ivLow, double ivHigh, bool nearBound,
                    double market) {
  const double x = strike / forward;
  if (!std::isfinite(ivYear) || !std::isfinite(x)) {
    ++leftOut_;
    return;
  }
  seriesOf(spot, days).points.push_back({x, ivYear, ivLow, ivHigh, market, nearBound});
  if (std::isfinite(market)) ++markets_;
  if (nearBound) ++nearBound_;
}

void SmilePlot::want(FigureChoice& choice) const {
  choice.standardErrors = true;
  choice.desk = true;
}

Status SmilePlot::row(const ValuedRow& row) {
  const ValuationRequest& request = row.request;
  const RowFigures& figures = row.figures;
  const double forward = figures.desk.forward[kBasePath];
  const bool callSide = request.strike >= forward;
  const double quoted = callSide ? row.quote.call : row.quote.put;
  const double market =
      std::isnan(quoted)
          ? quoted
          : yearlyVolatilityOfPrice(request, quoted, callSide, forward, tradingDays_);
  // The out-of-the-money side's value and standard error: the one the volatility is of. A
  // law's figures have no standard error: no bars, and never at the bound.
  const ValuationResult& r = figures.result;
  const double value = callSide ? r.callValue : r.putValue;
  const double error = !method_.sampled ? NAN
                       : callSide       ? figures.errors.call[kBasePath]
                                        : figures.errors.put[kBasePath];
  auto volatilityAt = [&](double shift) {
    return yearlyVolatility(request, callSide ? r.callValue + shift : r.callValue,
                            callSide ? r.putValue : r.putValue + shift, forward, tradingDays_);
  };
  const double bound =
      discountOf(request) *
      std::fmax(callSide ? forward - request.strike : request.strike - forward, 0.0);
  add(request.spot, request.days, request.strike, forward, figures.desk.ivYear[kBasePath],
      volatilityAt(-error), volatilityAt(error), value - 2.0 * error <= bound, market);
  return {};
}

SmilePlot::Series& SmilePlot::seriesOf(double spot, std::int32_t days) {
  auto found = std::find_if(series_.begin(), series_.end(), [&](const Series& s) {
    return s.days == days && (s.spot == spot || (s.spot != s.spot && spot != spot));
  });
  if (found != series_.end()) return *found;
  series_.push_back({spot, days, {}, {}, {}});
  return series_.back();
}

void SmilePlot::addTableOwn(double spot, std::int32_t days, double strike, double forward,
                            double ivYear) {
  const double x = strike / forward;
  if (!std::isfinite(ivYear) || !std::isfinite(x)) return;
  seriesOf(spot, days).own.push_back({x, ivYear, NAN, NAN});
  ++calibrationMarks_;
}

void SmilePlot::addMarket(double spot, std::int32_t days, double strike, double forward,
                          double ivMid, double ivBid, double ivAsk) {
  const double x = strike / forward;
  if (!std::isfinite(ivMid) || !std::isfinite(x)) return;
  seriesOf(spot, days).market.push_back({x, ivMid, ivBid, ivAsk});
  ++calibrationMarks_;
}

namespace {

constexpr double kPlotW = kWidth - kLeft - kRight, kPlotH = kHeight - kTop - kBottom;

// The ranges the axes show, and where a figure falls in the picture.
struct Frame {
  double xLow, xHigh, yLow, yHigh;
  double px(double x) const { return kLeft + (x - xLow) / (xHigh - xLow) * kPlotW; }
  double py(double y) const { return kTop + (yHigh - y) / (yHigh - yLow) * kPlotH; }
};

// The ranges of every point, its bar's finite ends and the market's points, widened when
// narrow and padded.
Frame frameOf(const std::vector<SmilePlot::Series>& series) {
  double xLow = INFINITY, xHigh = -INFINITY, yLow = INFINITY, yHigh = -INFINITY;
  for (const SmilePlot::Series& s : series) {
    for (const SmilePlot::Point& q : s.points) {
      xLow = std::min(xLow, q.x), xHigh = std::max(xHigh, q.x);
      yLow = std::min(yLow, q.y), yHigh = std::max(yHigh, q.y);
      // The bars' finite ends and the market's points widen the range too.
      for (double v : {q.low, q.high, q.market}) {
        if (std::isfinite(v)) yLow = std::min(yLow, v), yHigh = std::max(yHigh, v);
      }
    }
    for (const std::vector<SmilePlot::Mark>* marks : {&s.own, &s.market}) {
      for (const SmilePlot::Mark& q : *marks) {
        xLow = std::min(xLow, q.x), xHigh = std::max(xHigh, q.x);
        yLow = std::min(yLow, q.y), yHigh = std::max(yHigh, q.y);
      }
    }
  }
  if (series.empty()) xLow = 0.9, xHigh = 1.1, yLow = 0.1, yHigh = 0.3;
  if (xHigh - xLow < 1e-6) xLow -= 0.01, xHigh += 0.01;
  if (yHigh - yLow < 1e-6) yLow -= 0.01, yHigh += 0.01;
  const double xPad = (xHigh - xLow) * 0.04, yPad = (yHigh - yLow) * 0.08;
  xLow -= xPad, xHigh += xPad, yLow -= yPad, yHigh += yPad;
  return {xLow, xHigh, yLow, yHigh};
}

// The distinct S0s, in the order of their first series.
std::vector<double> spotsOf(const std::vector<SmilePlot::Series>& series) {
  std::vector<double> spots;
  for (const SmilePlot::Series& s : series) {
    if (std::find(spots.begin(), spots.end(), s.spot) == spots.end()) spots.push_back(s.spot);
  }
  return spots;
}

constexpr double kTitleSize = 15, kSmallestTitleSize = 11, kTextSize = 12;
constexpr double kMargin = 10;  // between a text and the picture's edge
constexpr double kLegendLine = kLeft + kPlotW + 15;  // where the legend's lines start
constexpr double kLegendText = kLegendLine + 31;     // where its entries' texts start

// The title: the S0s (from the lowest to the highest when listing them would not fit the
// picture's width), the trajectories or exact limits, and the rows of dist.csv.
std::string titleOf(const std::vector<double>& spots, bool exact, std::int64_t trajectories,
                    std::int64_t distributionRows) {
  std::string tail = exact ? std::string(", exact limits")
                           : ", " + std::to_string(trajectories) + " trajectories";
  tail += ", dist.csv of " + std::to_string(distributionRows) + " rows";
  std::string listed;
  for (std::size_t i = 0; i < spots.size(); ++i) {
    if (i > 0) listed += ", ";
    listed += number(spots[i]);
  }
  if (spots.empty()) listed = "-";
  const std::string head = "Implied volatility smile: S0 ";
  if (spots.size() > 2 &&
      textWidth(head + listed + tail, kSmallestTitleSize) > kWidth - 2 * kMargin) {
    const auto [low, high] = std::minmax_element(spots.begin(), spots.end());
    listed = number(*low) + " to " + number(*high) + " (" + std::to_string(spots.size()) +
             " values)";
  }
  return head + listed + tail;
}

// The title's font size: the largest up to kTitleSize at which it fits the plain width, but
// no smaller than kSmallestTitleSize (the picture widens for the rest).
double titleSize(const std::string& title) {
  return fittingFontSize(title, kWidth - 2 * kMargin, false, kSmallestTitleSize, kTitleSize, 2);
}

// A text of the legend: where it starts, where its baseline is, and what it says.
struct LegendText {
  double x;
  double y;
  std::string text;
};

// The legend's entry of series `i`: its expiry (and S0 when there are several), beside a
// stroke of its colour.
LegendText legendLabel(const SmilePlot::Series& s, std::size_t i, bool severalSpots) {
  std::string label = std::to_string(s.days) + " days";
  if (severalSpots) label = "S0 " + number(s.spot) + ", " + label;
  return {kLegendText, kTop + 14 + 18 * static_cast<double>(i), label};
}

// The notes below the legend's entries, from `top`: the rows left out, for a simulation what
// hollow points and bars mean, and the market's squares when there are any; each note in short
// lines 16 apart, the notes 18 apart.
std::vector<LegendText> legendNotes(double top, std::int64_t leftOut, std::int64_t nearBound,
                                    std::int64_t markets, bool exact, bool calibrated) {
  std::vector<std::vector<std::string>> notes = {
      {std::to_string(leftOut) + " rows left out", "(no volatility)"}};
  if (calibrated) {
    notes.push_back({"solid: calibrated (Q)", "dashed: the table's own (P)",
                     "diamonds: the market's mid,", "bars: bid to ask"});
  }
  if (!exact) {
    notes.push_back({std::to_string(nearBound) + " hollow: within 2 SE", "of the lower bound;",
                     "bars: value +- 1 SE"});
  }
  if (markets > 0) notes.push_back({"squares: market quotes"});
  std::vector<LegendText> lines;
  double y = top;
  for (const std::vector<std::string>& note : notes) {
    for (const std::string& line : note) {
      lines.push_back({kLegendLine, y, line});
      y += 16;
    }
    y += 2;
  }
  return lines;
}

// The picture's size: the plot's, widened until the title and every text of the legend fit
// with a margin, and lengthened until the legend does.
struct Size {
  double width;
  double height;
};
Size sizeFor(const std::string& title, const std::vector<LegendText>& legend) {
  double width = std::max(kWidth, textWidth(title, titleSize(title)) + 2 * kMargin);
  double height = kHeight;
  for (const LegendText& t : legend) {
    width = std::max(width, t.x + textWidth(t.text, kTextSize) + kMargin);
    height = std::max(height, t.y + kTextSize / 3 + kMargin);
  }
  return {std::ceil(width), std::ceil(height)};
}

// The picture's opening: its background, title and the plot's box.
std::string heading(const std::string& title, const Size& size) {
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(size.width) +
                    "\" height=\"" + number(size.height) +
                    "\" font-family=\"sans-serif\" font-size=\"" + number(kTextSize) + "\">\n";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  out += "<text x=\"" + number(size.width / 2) + "\" y=\"24\" text-anchor=\"middle\" font-size=\"" +
         number(titleSize(title)) + "\">" + title + "</text>\n";
  out += "<rect x=\"" + number(kLeft) + "\" y=\"" + number(kTop) + "\" width=\"" + number(kPlotW) +
         "\" height=\"" + number(kPlotH) + "\" fill=\"none\" stroke=\"black\"/>\n";
  return out;
}

// The ticks of both axes, the grid and the axes' names.
std::string axes(const Frame& frame) {
  std::string out;
  for (double t : ticks(frame.xLow, frame.xHigh)) {
    out += "<line x1=\"" + number(frame.px(t)) + "\" y1=\"" + number(kTop + kPlotH) + "\" x2=\"" +
           number(frame.px(t)) + "\" y2=\"" + number(kTop + kPlotH + 5) + "\" stroke=\"black\"/>\n";
    out += "<text x=\"" + number(frame.px(t)) + "\" y=\"" + number(kTop + kPlotH + 20) +
           "\" text-anchor=\"middle\">" + number(t, 4) + "</text>\n";
  }
  for (double t : ticks(frame.yLow, frame.yHigh)) {
    out += "<line x1=\"" + number(kLeft - 5) + "\" y1=\"" + number(frame.py(t)) + "\" x2=\"" +
           number(kLeft) + "\" y2=\"" + number(frame.py(t)) + "\" stroke=\"black\"/>\n";
    out += "<line x1=\"" + number(kLeft) + "\" y1=\"" + number(frame.py(t)) + "\" x2=\"" +
           number(kLeft + kPlotW) + "\" y2=\"" + number(frame.py(t)) + "\" stroke=\"#dddddd\"/>\n";
    out += "<text x=\"" + number(kLeft - 8) + "\" y=\"" + number(frame.py(t) + 4) +
           "\" text-anchor=\"end\">" + number(t, 4) + "</text>\n";
  }
  out += "<text x=\"" + number(kLeft + kPlotW / 2) + "\" y=\"" + number(kHeight - 18) +
         "\" text-anchor=\"middle\">moneyness K / forward</text>\n";
  out += "<text x=\"20\" y=\"" + number(kTop + kPlotH / 2) + "\" text-anchor=\"middle\" transform=\"rotate(-90 20 " +
         number(kTop + kPlotH / 2) + ")\">implied volatility per year (base path)</text>\n";
  return out;
}

// A series' line through its points, and each point's bar, marker and market square.
std::string seriesMarks(const SmilePlot::Series& s, const std::string& colour,
                        const Frame& frame) {
  std::string line;
  for (const SmilePlot::Point& q : s.points) {
    if (!line.empty()) line += ' ';
    line += number(frame.px(q.x));
    line += ',';
    line += number(frame.py(q.y));
  }
  std::string out;
  if (!s.points.empty()) {
    out += "<polyline fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"1.5\" points=\"" +
           line + "\"/>\n";
  }
  for (const SmilePlot::Point& q : s.points) {
    // The bar: from the volatility of value - SE to that of value + SE, each end where it
    // has one (a value within one SE of its bound has no lower end: to the axis).
    if (std::isfinite(q.low) || std::isfinite(q.high)) {
      const double top = std::isfinite(q.high) ? frame.py(q.high) : kTop;
      const double bottom = std::isfinite(q.low) ? frame.py(q.low) : kTop + kPlotH;
      out += "<line x1=\"" + number(frame.px(q.x)) + "\" y1=\"" + number(top) + "\" x2=\"" +
             number(frame.px(q.x)) + "\" y2=\"" + number(bottom) + "\" stroke=\"" + colour +
             "\" stroke-width=\"1\"/>\n";
    }
    out += "<circle cx=\"" + number(frame.px(q.x)) + "\" cy=\"" + number(frame.py(q.y)) +
           "\" r=\"3\" " +
           (q.hollow ? "fill=\"white\" stroke=\"" + colour + "\"" : "fill=\"" + colour + "\"") +
           "/>\n";
    if (std::isfinite(q.market)) {
      out += "<rect x=\"" + number(frame.px(q.x) - 3.5) + "\" y=\"" +
             number(frame.py(q.market) - 3.5) +
             "\" width=\"7\" height=\"7\" fill=\"none\" stroke=\"" + colour + "\"/>\n";
    }
  }
  return out;
}

// With --calibrate: the table's own smile as a dashed line through its points, and each of the
// market's quotes as a diamond at its mid with a bar from its bid to its ask (each end where it
// has a volatility).
std::string calibrationMarks(const SmilePlot::Series& s, const std::string& colour,
                             const Frame& frame) {
  std::string out;
  if (!s.own.empty()) {
    std::string line;
    for (const SmilePlot::Mark& q : s.own) {
      if (!line.empty()) line += ' ';
      line += number(frame.px(q.x));
      line += ',';
      line += number(frame.py(q.y));
    }
    out += "<polyline class=\"table\" fill=\"none\" stroke=\"";
    out += colour;
    out += "\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\" points=\"";
    out += line;
    out += "\"/>\n";
  }
  for (const SmilePlot::Mark& q : s.market) {
    const std::string x = number(frame.px(q.x));
    if (std::isfinite(q.low) && std::isfinite(q.high)) {
      out += "<line class=\"market\" x1=\"";
      out += x;
      out += "\" y1=\"";
      out += number(frame.py(q.high));
      out += "\" x2=\"";
      out += x;
      out += "\" y2=\"";
      out += number(frame.py(q.low));
      out += "\" stroke=\"";
      out += colour;
      out += "\" stroke-width=\"1\"/>\n";
    }
    const double cx = frame.px(q.x), cy = frame.py(q.y);
    out += "<polygon class=\"market\" points=\"";
    out += number(cx) + "," + number(cy - 4.5) + " " + number(cx + 4.5) + "," + number(cy) + " ";
    out += number(cx) + "," + number(cy + 4.5) + " " + number(cx - 4.5) + "," + number(cy);
    out += "\" fill=\"white\" stroke=\"";
    out += colour;
    out += "\" stroke-width=\"1.5\"/>\n";
  }
  return out;
}

// The legend's entry: a stroke of the series' colour and its label.
std::string legendEntry(const LegendText& label, const std::string& colour) {
  const double ly = label.y - 4;
  std::string out = "<line x1=\"" + number(kLegendLine) + "\" y1=\"" + number(ly) +
                    "\" x2=\"" + number(kLegendLine + 25) + "\" y2=\"" + number(ly) +
                    "\" stroke=\"" + colour + "\" stroke-width=\"2\"/>\n";
  out += "<text x=\"" + number(label.x) + "\" y=\"" + number(label.y) + "\">" + label.text +
         "</text>\n";
  return out;
}

}  // namespace

std::string SmilePlot::svg(std::int64_t trajectories, std::int64_t distributionRows) const {
  const Frame frame = frameOf(series_);
  const std::vector<double> spots = spotsOf(series_);
  std::vector<LegendText> legend;
  for (std::size_t i = 0; i < series_.size(); ++i) {
    legend.push_back(legendLabel(series_[i], i, spots.size() > 1));
  }
  const double below = 18 * static_cast<double>(series_.size());  // the legend's entries
  const std::vector<LegendText> notes =
      legendNotes(kTop + 24 + below, leftOut_, nearBound_, markets_, !method_.sampled,
                  calibrationMarks_ > 0);
  legend.insert(legend.end(), notes.begin(), notes.end());
  const std::string title = titleOf(spots, !method_.sampled, trajectories, distributionRows);
  std::string out = heading(title, sizeFor(title, legend));
  out += axes(frame);
  for (std::size_t i = 0; i < series_.size(); ++i) {
    const std::string colour = kColours[i % (sizeof kColours / sizeof kColours[0])];
    out += seriesMarks(series_[i], colour, frame);
    out += calibrationMarks(series_[i], colour, frame);
    out += legendEntry(legend[i], colour);
  }
  for (const LegendText& note : notes) {
    out += "<text x=\"" + number(note.x) + "\" y=\"" + number(note.y) + "\">" + note.text +
           "</text>\n";
  }
  out += "</svg>\n";
  return out;
}

Status SmilePlot::write(const std::string& path, std::int64_t trajectories,
                        std::int64_t distributionRows) const {
  const std::string text = svg(trajectories, distributionRows);
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return openFailure(path);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) return writeFailure(path);
  return {};
}

}  // namespace empricer
