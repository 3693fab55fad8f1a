#include "builder/svg_picture.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "engine/exact/exact_law.h"
#include "text/number_text.h"
#include "text/round_step.h"
#include "text/text_width.h"

namespace empricer {

namespace {

constexpr double kWidth = 860;
constexpr double kHeight = 536;
constexpr double kLeft = 90;
constexpr double kRight = 30;
constexpr double kTop = 94;
constexpr double kBottom = 62;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;

constexpr double kShownShare = 0.001;  // the share of returns that may lie off each end
constexpr std::size_t kFewestBins = 20;
constexpr std::size_t kMostBins = 120;

void add(std::string& out, std::initializer_list<std::string_view> parts) {
  for (const std::string_view part : parts) out += part;
}

// A coordinate with two decimals.
std::string at(double value) {
  char text[64];
  const auto written =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  return std::string(text, written.ptr);
}

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A round step (1, 2 or 5 times a power of ten) that cuts `span` into about `count` pieces.
double tickStep(double span, int count) {
  const double raw = span / count;
  if (!(raw > 0.0) || !std::isfinite(raw)) return 1.0;
  return roundStep(raw);
}

// The multiples of `step` from `low` to `high`.
std::vector<double> ticksFor(double low, double high, double step) {
  std::vector<double> ticks;
  for (double k = std::ceil(low / step); k * step <= high * (1 + 1e-12); k += 1.0) {
    const double tick = k * step;
    ticks.push_back(std::fabs(tick) < step * 1e-9 ? 0.0 : tick);
  }
  return ticks;
}

struct Histogram {
  std::vector<double> density;  // per unit of return
  std::int64_t below = 0;
  std::int64_t above = 0;
};

Histogram histogramOf(const std::vector<double>& values, double low, double width,
                      std::size_t bins) {
  Histogram h;
  h.density.assign(bins, 0.0);
  for (const double v : values) {
    const double place = (v - low) / width;
    if (place < 0.0) {
      ++h.below;
    } else if (place >= static_cast<double>(bins)) {
      ++h.above;
    } else {
      h.density[static_cast<std::size_t>(place)] += 1.0;
    }
  }
  const double scale = 1.0 / (static_cast<double>(values.size()) * width);
  for (double& d : h.density) d *= scale;
  return h;
}

constexpr double kTitleSize = 17;
constexpr double kSmallestTitleSize = 11;
constexpr double kTextRoom = kWidth - 20;  // the widest a line of text may be

// The path `pricesFile` as a title that goes on with `tail` names it: the path, or its file's
// name when the path is too long for the picture at kTitleSize (bold).
std::string titleName(const std::string& pricesFile, const std::string& tail) {
  if (textWidth(pricesFile + tail, kTitleSize, true) > kTextRoom) {
    return pricesFile.substr(pricesFile.find_last_of('/') + 1);
  }
  return pricesFile;
}

// A title's font size: the largest up to kTitleSize at which it fits the picture (bold).
double titleSize(const std::string& title) {
  return fittingFontSize(title, kTextRoom, true, kSmallestTitleSize, kTitleSize);
}

// The title, "FILE: N returns as steps of the table", and its font size: the largest up to
// kTitleSize at which it fits the picture (bold). A path too long for it is shortened to its
// file's name, and that, when still too long at kSmallestTitleSize, to its last characters
// after "...".
std::pair<std::string, double> titleOf(const std::string& pricesFile, std::size_t returns) {
  std::string tail = ": ";
  appendInteger(tail, static_cast<std::int64_t>(returns));
  tail += " returns as steps of the table";
  std::string name = titleName(pricesFile, tail);
  while (name.size() > 4 && textWidth(name + tail, kSmallestTitleSize, true) > kTextRoom) {
    name = "..." + name.substr(name.starts_with("...") ? 4 : 1);
  }
  return {name + tail, titleSize(name + tail)};
}

std::string outsideNote(const Histogram& h, const char* what) {
  if (h.below == 0 && h.above == 0) return "";
  std::string text;
  appendInteger(text, h.below);
  text += " below and ";
  appendInteger(text, h.above);
  text += " above the range shown";
  return std::string(what) + " " + text;
}

// The picture's opening: the SVG element, its size and font, and a white ground.
void openPicture(std::string& svg) {
  add(svg, {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"", at(kWidth), "\" height=\"",
            at(kHeight), "\" viewBox=\"0 0 ", at(kWidth), " ", at(kHeight),
            "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" font-size=\"13\">\n",
            "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"});
}

// The vertical coordinate of density d on an axis from 0 to `top`.
double densityY(double d, double top) { return kTop + kPlotHeight - d / top * kPlotHeight; }

// The horizontal grid lines at the density ticks, each with its label.
void addDensityGrid(std::string& svg, const std::vector<double>& ticks, double top) {
  const double right = kLeft + kPlotWidth;
  for (const double d : ticks) {
    const double y = densityY(d, top);
    add(svg, {"<line x1=\"", at(kLeft), "\" y1=\"", at(y), "\" x2=\"", at(right), "\" y2=\"",
              at(y), "\" stroke=\"#e5e5e5\"/>\n"});
    add(svg, {"<text x=\"", at(kLeft - 8), "\" y=\"", at(y + 4), "\" text-anchor=\"end\">",
              numberText(d), "</text>\n"});
  }
}

// The two axes over returns from `low` to `high`, the return ticks and both axis labels.
void addAxes(std::string& svg, double low, double high, const char* xLabel, const char* yLabel) {
  const auto x = [&](double v) { return kLeft + (v - low) / (high - low) * kPlotWidth; };
  const double baseline = kTop + kPlotHeight;
  const double right = kLeft + kPlotWidth;
  const std::vector<double> xTicks = ticksFor(low, high, tickStep(high - low, 7));
  add(svg, {"<g stroke=\"#333333\" stroke-width=\"1\">\n<line x1=\"", at(kLeft), "\" y1=\"",
            at(baseline), "\" x2=\"", at(right), "\" y2=\"", at(baseline), "\"/>\n<line x1=\"",
            at(kLeft), "\" y1=\"", at(kTop), "\" x2=\"", at(kLeft), "\" y2=\"", at(baseline),
            "\"/>\n"});
  for (const double v : xTicks) {
    add(svg, {"<line x1=\"", at(x(v)), "\" y1=\"", at(baseline), "\" x2=\"", at(x(v)),
              "\" y2=\"", at(baseline + 5), "\"/>\n"});
  }
  svg += "</g>\n";
  for (const double v : xTicks) {
    add(svg, {"<text x=\"", at(x(v)), "\" y=\"", at(baseline + 20), "\" text-anchor=\"middle\">",
              numberText(v), "</text>\n"});
  }
  add(svg, {"<text x=\"", at(kLeft + kPlotWidth / 2), "\" y=\"", at(kHeight - 14),
            "\" text-anchor=\"middle\">", xLabel, "</text>\n"});
  add(svg, {"<text transform=\"translate(22 ", at(kTop + kPlotHeight / 2),
            ") rotate(-90)\" text-anchor=\"middle\">", yLabel, "</text>\n"});
}

// The density of a day's log return under the table whose 32768 draws are `draws`: node j at
// low + j x spacing, its mass over the spacing (the end nodes' over half of it, the point
// masses on the ends left out).
struct DayDensity {
  double low = 0.0;
  double spacing = 0.0;
  std::vector<double> density;
  std::vector<double> cumulative;  // the mass up to and with each node, the point masses in
};

DayDensity dayDensityOf(const std::vector<double>& draws, int stepsPerDay) {
  std::vector<double> sorted = draws;
  std::sort(sorted.begin(), sorted.end());
  const DayLaw day = dayLaw(stepLaw(sorted, PathKind::base, 0.0), 1024, stepsPerDay);
  DayDensity d;
  d.low = day.low;
  d.spacing = day.spacing;
  const std::size_t nodes = day.mass.size();
  double sum = 0.0;
  for (std::size_t j = 0; j < nodes; ++j) {
    double m = day.mass[j];
    sum += m;
    if (j == 0) m -= day.atomLow;
    if (j + 1 == nodes) m -= day.atomHigh;
    const bool end = j == 0 || j + 1 == nodes;
    d.density.push_back(std::max(m, 0.0) / (end ? day.spacing / 2.0 : day.spacing));
    d.cumulative.push_back(sum);
  }
  return d;
}

}  // namespace

std::string dayDensityPicture(const std::string& pricesFile,
                              const std::vector<double>& historyDraws,
                              const std::vector<double>& fittedDraws, int stepsPerDay) {
  const DayDensity history = dayDensityOf(historyDraws, stepsPerDay);
  const DayDensity fitted = dayDensityOf(fittedDraws, stepsPerDay);
  const std::size_t nodes = history.density.size();
  std::size_t first = 0;
  while (first + 1 < nodes && history.cumulative[first] < kShownShare) ++first;
  std::size_t last = nodes - 1;
  while (last > first && history.cumulative[last - 1] > 1.0 - kShownShare) --last;
  double low = history.low + static_cast<double>(first) * history.spacing;
  double high = history.low + static_cast<double>(last) * history.spacing;
  if (!(low < high)) {
    low = history.low;
    high = history.low + static_cast<double>(nodes - 1) * history.spacing;
  }
  const double margin = 0.04 * (high - low);
  low = std::max(low - margin, history.low);
  high = std::min(high + margin, history.low + static_cast<double>(nodes - 1) * history.spacing);
  double top = 0.0;
  for (const DayDensity* d : {&history, &fitted}) {
    for (std::size_t j = 0; j < nodes; ++j) {
      const double x = d->low + static_cast<double>(j) * d->spacing;
      if (x >= low && x <= high) top = std::max(top, d->density[j]);
    }
  }
  if (!(top > 0.0)) top = 1.0;
  const double yStep = tickStep(top, 5);
  top = std::ceil(top * 1.02 / yStep) * yStep;
  const auto x = [&](double v) { return kLeft + (v - low) / (high - low) * kPlotWidth; };

  std::string svg;
  openPicture(svg);
  const std::string tail = ": a day of the history's table and of the fitted one";
  const std::string title = titleName(pricesFile, tail) + tail;
  add(svg, {"<text x=\"", at(kWidth / 2), "\" y=\"28\" text-anchor=\"middle\" font-size=\"",
            numberText(titleSize(title)), "\" font-weight=\"bold\">", escaped(title),
            "</text>\n"});
  add(svg, {"<text x=\"", at(kWidth / 2), "\" y=\"50\" text-anchor=\"middle\">",
            "the density of a day's log return: ", std::to_string(stepsPerDay),
            stepsPerDay == 1 ? " step" : " steps",
            " from the exact law, the band's clip included</text>\n"});
  add(svg, {"<text x=\"", at(kWidth / 2), "\" y=\"66\" text-anchor=\"middle\">",
            "blue: the history's table; red: the table fitted to the quotes</text>\n"});
  addDensityGrid(svg, ticksFor(0.0, top, yStep), top);
  const std::pair<const DayDensity*, const char*> lines[] = {{&history, "#1f77b4"},
                                                             {&fitted, "#d62728"}};
  for (const auto& [d, colour] : lines) {
    add(svg, {"<polyline fill=\"none\" stroke=\"", colour,
              "\" stroke-width=\"1.8\" stroke-linejoin=\"round\" points=\""});
    bool any = false;
    for (std::size_t j = 0; j < nodes; ++j) {
      const double v = d->low + static_cast<double>(j) * d->spacing;
      if (v < low || v > high) continue;
      if (any) svg += ' ';
      add(svg, {at(x(v)), ",", at(densityY(std::min(d->density[j], top), top))});
      any = true;
    }
    svg += "\"/>\n";
  }
  addAxes(svg, low, high, "log return of a day", "density (per unit of log return)");
  svg += "</svg>\n";
  return svg;
}

std::string svgPicture(const std::string& pricesFile, const std::vector<double>& sortedReturns,
                       const std::vector<double>& draws, int rows) {
  const std::size_t n = sortedReturns.size();
  const auto quantile = [&](double p) {
    return sortedReturns[static_cast<std::size_t>(std::lround(p * static_cast<double>(n - 1)))];
  };
  double low = quantile(kShownShare);
  double high = quantile(1.0 - kShownShare);
  if (!(low < high)) {
    low = sortedReturns.front();
    high = sortedReturns.back();
  }
  const double margin = 0.04 * (high - low);
  low -= margin;
  high += margin;

  // Freedman and Diaconis's bin width, held to a sensible count.
  const double spread = quantile(0.75) - quantile(0.25);
  std::size_t bins = kMostBins;
  if (spread > 0.0) {
    const double width = 2.0 * spread / std::cbrt(static_cast<double>(n));
    bins = static_cast<std::size_t>(std::clamp((high - low) / width, static_cast<double>(kFewestBins),
                                                       static_cast<double>(kMostBins)));
  }
  const double width = (high - low) / static_cast<double>(bins);
  const Histogram data = histogramOf(sortedReturns, low, width, bins);
  const Histogram table = histogramOf(draws, low, width, bins);
  double top = 0.0;
  for (std::size_t b = 0; b < bins; ++b) top = std::max({top, data.density[b], table.density[b]});
  // The density axis ends at the first tick above the highest bar.
  const double yStep = tickStep(top, 5);
  top = std::ceil(top * 1.02 / yStep) * yStep;
  const std::vector<double> yTicks = ticksFor(0.0, top, yStep);

  const auto x = [&](double v) { return kLeft + (v - low) / (high - low) * kPlotWidth; };
  const auto y = [&](double d) { return densityY(d, top); };
  const double baseline = y(0.0);
  const double right = kLeft + kPlotWidth;

  std::string svg;
  openPicture(svg);

  const auto [title, titleSize] = titleOf(pricesFile, n);
  add(svg, {"<text x=\"", at(kWidth / 2), "\" y=\"28\" text-anchor=\"middle\" font-size=\"",
            numberText(titleSize), "\" font-weight=\"bold\">", escaped(title), "</text>\n"});
  std::string rowCount;
  appendInteger(rowCount, rows);
  add(svg, {"<text x=\"", at(kWidth / 2), "\" y=\"50\" text-anchor=\"middle\">",
            "bars: the target returns (the data's returns as steps of the table)</text>\n"});
  add(svg, {"<text x=\"", at(kWidth / 2), "\" y=\"66\" text-anchor=\"middle\">",
            "line: the table as empricer draws it (", rowCount,
            " rows, 32768 equally likely draws)</text>\n"});
  std::string notes = outsideNote(data, "returns:");
  const std::string tableNote = outsideNote(table, "draws:");
  if (!notes.empty() && !tableNote.empty()) notes += "; ";
  notes += tableNote;
  if (!notes.empty()) {
    add(svg, {"<text x=\"", at(kWidth / 2), "\" y=\"84\" text-anchor=\"middle\" ",
              "font-size=\"11\" fill=\"#555555\">", notes, "</text>\n"});
  }

  // Grid lines and the density ticks.
  addDensityGrid(svg, yTicks, top);
  // The data's bars.
  svg += "<g fill=\"#9ecae1\" stroke=\"#6baed6\" stroke-width=\"0.5\">\n";
  for (std::size_t b = 0; b < bins; ++b) {
    if (data.density[b] <= 0.0) continue;
    const double from = x(low + static_cast<double>(b) * width);
    const double to = x(low + static_cast<double>(b + 1) * width);
    const double level = y(data.density[b]);
    add(svg, {"<rect x=\"", at(from), "\" y=\"", at(level), "\" width=\"", at(to - from),
              "\" height=\"", at(baseline - level), "\"/>\n"});
  }
  svg += "</g>\n";
  // The table's density as a step line.
  svg += "<polyline fill=\"none\" stroke=\"#d62728\" stroke-width=\"1.8\" "
         "stroke-linejoin=\"round\" points=\"";
  add(svg, {at(x(low)), ",", at(baseline)});
  for (std::size_t b = 0; b < bins; ++b) {
    const double level = y(table.density[b]);
    add(svg, {" ", at(x(low + static_cast<double>(b) * width)), ",", at(level), " ",
              at(x(low + static_cast<double>(b + 1) * width)), ",", at(level)});
  }
  add(svg, {" ", at(x(high)), ",", at(baseline), "\"/>\n"});

  // Axes with the return ticks, and the axis labels.
  addAxes(svg, low, high, "return per step", "density (per unit of return)");

  // The legend, in the top right corner of the plot.
  const double legendX = right - 170;
  const double legendY = kTop + 16;
  add(svg, {"<rect x=\"", at(legendX), "\" y=\"", at(legendY - 10),
            "\" width=\"14\" height=\"10\" fill=\"#9ecae1\" stroke=\"#6baed6\"/>\n"});
  add(svg, {"<text x=\"", at(legendX + 22), "\" y=\"", at(legendY), "\">target returns</text>\n"});
  add(svg, {"<line x1=\"", at(legendX), "\" y1=\"", at(legendY + 15), "\" x2=\"",
            at(legendX + 14), "\" y2=\"", at(legendY + 15),
            "\" stroke=\"#d62728\" stroke-width=\"1.8\"/>\n"});
  add(svg, {"<text x=\"", at(legendX + 22), "\" y=\"", at(legendY + 20),
            "\">table as drawn</text>\n"});
  svg += "</svg>\n";
  return svg;
}

}  // namespace empricer
