#include "app/smile_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
  const double raw = (high - low) / 5;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * power;
    if (step >= raw) break;
  }
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
  auto found = std::find_if(series_.begin(), series_.end(), [&](const Series& s) {
    return s.days == days && (s.spot == spot || (s.spot != s.spot && spot != spot));
  });
  if (found == series_.end()) {
    series_.push_back({spot, days, {}});
    found = series_.end() - 1;
  }
  found->points.push_back({x, ivYear, ivLow, ivHigh, market, nearBound});
  if (std::isfinite(market)) ++markets_;
  if (nearBound) ++nearBound_;
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

// The picture's opening: its background, title and the plot's box.
std::string heading(const std::vector<double>& spots, bool exact, std::int64_t trajectories,
                    std::int64_t distributionRows) {
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(kWidth) +
                    "\" height=\"" + number(kHeight) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  std::string title = "Implied volatility smile: S0 ";
  for (std::size_t i = 0; i < spots.size(); ++i) {
    if (i > 0) title += ", ";
    title += number(spots[i]);
  }
  if (spots.empty()) title += "-";
  title += exact ? std::string(", exact limits") : ", " + std::to_string(trajectories) + " trajectories";
  title += ", dist.csv of " + std::to_string(distributionRows) + " rows";
  out += "<text x=\"" + number(kWidth / 2) + "\" y=\"24\" text-anchor=\"middle\" font-size=\"15\">" +
         title + "</text>\n";
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
  std::string out = "<polyline fill=\"none\" stroke=\"" + colour +
                    "\" stroke-width=\"1.5\" points=\"" + line + "\"/>\n";
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

// The legend's entry of series `i`: its colour and its expiry (and S0 when there are several).
std::string legendEntry(const SmilePlot::Series& s, std::size_t i, const std::string& colour,
                        bool severalSpots) {
  const double ly = kTop + 10 + 18 * static_cast<double>(i);
  std::string label = std::to_string(s.days) + " days";
  if (severalSpots) label = "S0 " + number(s.spot) + ", " + label;
  std::string out = "<line x1=\"" + number(kLeft + kPlotW + 15) + "\" y1=\"" + number(ly) +
                    "\" x2=\"" + number(kLeft + kPlotW + 40) + "\" y2=\"" + number(ly) +
                    "\" stroke=\"" + colour + "\" stroke-width=\"2\"/>\n";
  out += "<text x=\"" + number(kLeft + kPlotW + 46) + "\" y=\"" + number(ly + 4) + "\">" + label +
         "</text>\n";
  return out;
}

}  // namespace

std::string SmilePlot::svg(std::int64_t trajectories, std::int64_t distributionRows) const {
  const Frame frame = frameOf(series_);
  const std::vector<double> spots = spotsOf(series_);
  std::string out = heading(spots, exact_, trajectories, distributionRows);
  out += axes(frame);
  for (std::size_t i = 0; i < series_.size(); ++i) {
    const std::string colour = kColours[i % (sizeof kColours / sizeof kColours[0])];
    out += seriesMarks(series_[i], colour, frame);
    out += legendEntry(series_[i], i, colour, spots.size() > 1);
  }
  const double below = 18 * static_cast<double>(series_.size());  // the legend's entries
  out += "<text x=\"" + number(kLeft + kPlotW + 15) + "\" y=\"" + number(kTop + 24 + below) +
         "\">" + std::to_string(leftOut_) + " rows left out (no volatility)</text>\n";
  if (markets_ > 0) {
    out += "<text x=\"" + number(kLeft + kPlotW + 15) + "\" y=\"" + number(kTop + 74 + below) +
           "\">squares: the market's quotes</text>\n";
  }
  if (!exact_) {
    out += "<text x=\"" + number(kLeft + kPlotW + 15) + "\" y=\"" + number(kTop + 42 + below) +
           "\">" + std::to_string(nearBound_) + " hollow: within 2 SE</text>\n";
    out += "<text x=\"" + number(kLeft + kPlotW + 15) + "\" y=\"" + number(kTop + 58 + below) +
           "\">of the lower bound; bars: value +- 1 SE</text>\n";
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
