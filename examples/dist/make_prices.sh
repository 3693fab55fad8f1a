#!/bin/sh
# Writes a synthetic minute-price history to standard output, in one of two layouts:
#
#   sh make_prices.sh > prices.csv
#     20 trading days (sessions) of 271 minute bars each (270 steps), with columns
#     date,time,open,high,low,close,volume.
#   sh make_prices.sh vendor > history.csv
#     5 trading days of 390 one-minute bars each (09:30 to 15:59, as a US equity session), in
#     the layout most vendors export: one datetime column holding the date and the bar's ISO
#     time ("2025-11-03 09:30"), then open,high,low,close,volume.
#   sh make_prices.sh daily > daily.csv
#     10 years (2520 weekdays from 2015-01-05) of daily bars, one row a day, with columns
#     date,open,high,low,close,volume: an index-like history whose daily returns are
#     Student-t with 4 degrees of freedom at a volatility that wanders slowly (calm years and
#     turbulent ones), about 1.1% a day, so the days have fat tails and a negative skew.
#
# Each step's return is Student-t with 4 degrees of freedom (fat tails), scaled to a daily
# volatility level that varies from day to day and rises towards the open and the close, with
# a small upward drift. Each day opens with an overnight gap from the last close, which
# empricer-dist leaves out with --session date (or --session datetime). Prices are rounded to a
# tick of 0.01.
#
# The random numbers come from the Park-Miller generator, computed exactly in awk's doubles,
# so every awk writes the same file.
set -eu

layout=${1:-split}
case $layout in
  split|vendor|daily) ;;
  *) echo "usage: sh make_prices.sh [vendor|daily]" >&2; exit 2 ;;
esac

awk -v layout="$layout" 'BEGIN {
  vendor = layout == "vendor"
  seed = vendor ? 20251110 : layout == "daily" ? 20150105 : 20250303
  sessions = vendor ? 5 : 20
  steps = 270           # the steps of a 271-bar session; a vendor session has 390 bars
  drift = 0.000002      # mean return per step
  level = 0.0007        # typical standard deviation per step
  price = 1250

  if (vendor) {
    vendorHistory()
    exit
  }
  if (layout == "daily") {
    dailyHistory()
    exit
  }
  print "date,time,open,high,low,close,volume"
  day = 3
  for (s = 0; s < sessions; s++) {
    # Weekdays of March 2025, which starts on a Saturday: day 3 is a Monday.
    while ((day - 3) % 7 >= 5) day++
    date = sprintf("2025-03-%02d", day)
    day++

    dayLevel = level * exp(0.25 * normal())
    if (s > 0) price = price * (1 + 0.004 * normal())
    price = tick(price)
    closing = price
    for (t = 0; t <= steps; t++) {
      opening = closing
      u = (t - steps / 2) / (steps / 2)   # -1 at the open, 1 at the close
      if (t > 0) {
        sd = dayLevel * (1 + 0.6 * u * u)
        closing = tick(opening * (1 + drift + sd * studentT4() / sqrt(2)))
      }
      hi = tick((opening > closing ? opening : closing) * (1 + 0.3 * dayLevel * abs(normal())))
      lo = tick((opening < closing ? opening : closing) * (1 - 0.3 * dayLevel * abs(normal())))
      minute = 30 + t
      time = sprintf("%02d:%02d", 9 + int(minute / 60), minute % 60)
      volume = int(300 + 900 * uniform() * (1 + 0.6 * u * u))
      printf "%s,%s,%.2f,%.2f,%.2f,%.2f,%d\n", date, time, opening, hi, lo, closing, volume
    }
    price = closing
  }
}

# Five weekdays of November 2025 (3 to 7), 390 bars each: every bar moves, the first one from
# the price after the overnight gap.
function vendorHistory(   bars, s, date, dayLevel, closing, t, opening, u, sd, hi, lo, minute, volume) {
  bars = 390
  print "datetime,open,high,low,close,volume"
  for (s = 0; s < sessions; s++) {
    date = sprintf("2025-11-%02d", 3 + s)
    dayLevel = level * exp(0.25 * normal())
    if (s > 0) price = price * (1 + 0.004 * normal())
    closing = tick(price)
    for (t = 0; t < bars; t++) {
      opening = closing
      u = (t - (bars - 1) / 2) / ((bars - 1) / 2)
      sd = dayLevel * (1 + 0.6 * u * u)
      closing = tick(opening * (1 + drift + sd * studentT4() / sqrt(2)))
      hi = tick((opening > closing ? opening : closing) * (1 + 0.3 * dayLevel * abs(normal())))
      lo = tick((opening < closing ? opening : closing) * (1 - 0.3 * dayLevel * abs(normal())))
      minute = 30 + t
      volume = int(300 + 900 * uniform() * (1 + 0.6 * u * u))
      printf "%s %02d:%02d,%.2f,%.2f,%.2f,%.2f,%d\n", date, 9 + int(minute / 60), minute % 60,
             opening, hi, lo, closing, volume
    }
    price = closing
  }
}

# Weekdays from Monday 2015-01-05, one bar each: the close moves by a Student-t return at a
# volatility whose log follows a slow AR(1), and falls more often than it rises in a storm
# (a return below -2 standard deviations is stretched by a quarter).
function dailyHistory(   days, y, m, d, weekday, monthDays, logVol, sd, r, opening, closing, hi, lo, volume) {
  days = 2520
  y = 2015; m = 1; d = 5; weekday = 0
  logVol = 0
  price = 2000
  print "date,open,high,low,close,volume"
  for (t = 0; t < days; t++) {
    logVol = 0.985 * logVol + 0.08 * normal()
    sd = 0.0095 * exp(logVol)
    r = studentT4() / sqrt(2)
    if (r < -2) r = 1.25 * r
    opening = tick(price)
    closing = tick(price * (1 + 0.0003 + sd * r))
    hi = tick((opening > closing ? opening : closing) * (1 + 0.3 * sd * abs(normal())))
    lo = tick((opening < closing ? opening : closing) * (1 - 0.3 * sd * abs(normal())))
    volume = int(5e7 * (1 + uniform()) * exp(0.5 * logVol))
    printf "%04d-%02d-%02d,%.2f,%.2f,%.2f,%.2f,%d\n", y, m, d, opening, hi, lo, closing, volume
    price = closing
    # The next weekday.
    do {
      monthDays = m == 2 ? (y % 4 == 0 ? 29 : 28) : (m == 4 || m == 6 || m == 9 || m == 11) ? 30 : 31
      if (++d > monthDays) { d = 1; if (++m > 12) { m = 1; y++ } }
      weekday = (weekday + 1) % 7
    } while (weekday >= 5)
  }
}

# Park-Miller: state * 48271 mod (2^31 - 1); the product stays below 2^47.
function uniform() {
  seed = (seed * 48271) % 2147483647
  return seed / 2147483647
}

# Box-Muller, one value at a time.
function normal() {
  return sqrt(-2 * log(uniform())) * cos(6.283185307179586 * uniform())
}

function studentT4(   chi) {
  chi = normal() ^ 2 + normal() ^ 2 + normal() ^ 2 + normal() ^ 2
  return normal() / sqrt(chi / 4)
}

function abs(x) { return x < 0 ? -x : x }

function tick(p) { return sprintf("%.2f", p) + 0 }'
