// The smile picture (--plot FILE.svg): the base path's yearly implied volatility against
// moneyness K / forward, one line with markers per expiry (and per S0 when there are several).
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "runs/row_sink.h"
#include "engine/rows/row_valuer.h"
#include "text/status.h"

namespace empricer {

class SmilePlot final : public RowSink {
 public:
  // How the run's rows are valued (a law's limits: the title says so instead of the
  // trajectories, and no point has a bar), and the days of its year for the volatilities.
  void setRun(const MethodDescription& method, double tradingDays) {
    method_ = method;
    tradingDays_ = tradingDays;
  }
  // The standard errors and the desk figures.
  void want(FigureChoice& choice) const override;
  // A valued row's out-of-the-money side as a point (add), with the market's volatility of
  // its quote as a marker and, for sampled figures, error bars of two standard errors.
  Status row(const ValuedRow& row) override;
  // A valued row's base path: its volatility, the volatilities of its value less and plus a
  // standard error (NaN for none: no bar, or no end of it), and whether its value lies within
  // two standard errors of its lower no-arbitrage bound (drawn hollow).
  // `market`: the market's volatility of the same side, drawn as a square (NaN: none).
  void add(double spot, std::int32_t days, double strike, double forward, double ivYear,
           double ivLow = NAN, double ivHigh = NAN, bool nearBound = false,
           double market = NAN);
  // With --calibrate, beside the run's (calibrated) points: the table's own volatility of the
  // same row, valued without calibration (a dashed line), and a quoted price of the market,
  // its mid's volatility and those of its bid and ask (NaN for none), at K / forward of its
  // expiry (a diamond with a bar from bid to ask).
  void addTableOwn(double spot, std::int32_t days, double strike, double forward,
                   double ivYear);
  void addMarket(double spot, std::int32_t days, double strike, double forward, double ivMid,
                 double ivBid, double ivAsk);
  // Writes the picture: `trajectories` and `distributionRows` go into its title. Fails with
  // the stop message when the file cannot be written.
  Status write(const std::string& path, std::int64_t trajectories,
               std::int64_t distributionRows) const;
  // The picture's text.
  std::string svg(std::int64_t trajectories, std::int64_t distributionRows) const;

  // A row's point: its moneyness, volatility, the ends of its bar, the market's volatility
  // (each NaN for none) and whether it is drawn hollow.
  struct Point {
    double x;
    double y;
    double low;
    double high;
    double market;
    bool hollow;
  };
  // A point of the table's own smile or of the market's quotes (x, y; for the market the
  // bid's and the ask's volatilities, NaN for none).
  struct Mark {
    double x;
    double y;
    double low;
    double high;
  };
  struct Series {
    double spot;
    std::int32_t days;
    std::vector<Point> points;  // in row order
    std::vector<Mark> own;      // the table's own smile, in row order (--calibrate)
    std::vector<Mark> market;   // the calibration's quotes, in file order (--calibrate)
  };

 private:
  Series& seriesOf(double spot, std::int32_t days);
  std::vector<Series> series_;
  std::int64_t leftOut_ = 0;  // rows whose volatility (or moneyness) is not a number
  MethodDescription method_{};
  double tradingDays_ = 252.0;
  std::int64_t nearBound_ = 0;  // points drawn hollow
  std::int64_t markets_ = 0;    // market volatilities drawn
  std::int64_t calibrationMarks_ = 0;  // the table's own points and the calibration's quotes
};

}  // namespace empricer
