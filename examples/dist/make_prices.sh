#!/bin/sh
# Writes a synthetic minute-price history to standard output: 20 trading days (sessions) of
# 271 minute bars each (270 steps), with columns date,time,open,high,low,close,volume.
#
# Each step's return is Student-t with 4 degrees of freedom (fat tails), scaled to a daily
# volatility level that varies from day to day and rises towards the open and the close, with
# a small upward drift. Each day opens with an overnight gap from the last close, which
# empricer-dist leaves out with --session date. Prices are rounded to a tick of 0.01.
#
# The random numbers come from the Park-Miller generator, computed exactly in awk's doubles,
# so every awk writes the same file.
#
# Usage: sh make_prices.sh > prices.csv
set -eu

awk 'BEGIN {
  seed = 20250303
  sessions = 20
  steps = 270
  drift = 0.000002      # mean return per step
  level = 0.0007        # typical standard deviation per step
  price = 1250

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
