# The whole-run workloads, as folders with Setup.txt, dist.csv and batch.csv; sourced by the
# scripts beside it.
#
#   W1  one big valuation: 20,000 trajectories x 30 days, probabilities off, the 201-row
#       example distribution
#   W2  a long batch of small rows: 2,000 rows x 100 trajectories x 1 day, a 5,000-row
#       distribution, probabilities on
#   W3  a chain (workloads/chain): 126 rows of S0 100, strikes 90 to 110, expiries of 5 to 60
#       days, 10,000 trajectories, the example distribution, probabilities off; W3P the same
#       with them on. Time it per row and with --chain.
#   W4  a chain of daily closes (workloads/daily): W3's 126 rows and settings on a table of
#       10 years of daily returns (examples/daily/prices.csv through empricer-dist), valued
#       at one step a day (workload_options W4: --steps-per-day 1).
#   W5  W3 calibrated with --exact to the 60 prices of examples/calibrate/market.csv (3
#       expiries of 21, 42 and 63 days, 10 strikes, calls and puts): --exact --calibrate
#   W6  the same on W3's shared paths: --chain --seed 7 --calibrate (to set against W3 with
#       --chain --seed 7)

workload_settings() {  # trajectories, probabilities
  printf '# workload\n1 RunMode 2\n2 Trajectories %s\n3 RiskFreeRate 0.05\n4 StepScale 1\n5 Shifts 1.02 0.98 1.01 0.99\n6 PauseAtEnd 0\n7 WinningProb %s\n' "$1" "$2"
}

# The options a workload is valued with, beside the command's own.
workload_options() {
  case $1 in
    W4) echo "--steps-per-day 1" ;;
    W5) echo "--exact --calibrate market.csv" ;;
    W6) echo "--chain --seed 7 --calibrate market.csv" ;;
    *) echo "" ;;
  esac
}

# make_workloads DIR: DIR/W1, DIR/W2, DIR/W3, DIR/W3P, DIR/W4, DIR/W5 and DIR/W6.
make_workloads() {
  local work=$1 here
  here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
  mkdir -p "$work/W1" "$work/W2"
  workload_settings 20000 0 > "$work/W1/Setup.txt"
  cp "$here/../examples/batch/dist.csv" "$work/W1/dist.csv"
  printf 'S0,K,Days\n100,100,30\n' > "$work/W1/batch.csv"

  workload_settings 100 1 > "$work/W2/Setup.txt"
  # A bell of 5,000 rows over -4 to 4 standard deviations of 0.0015, returns at the upper edge
  # of each row's bin.
  awk 'BEGIN { n = 5000; for (i = 0; i < n; i++) { x = (i - (n - 1) / 2) / (n / 8);
         w = int(1000 * exp(-x * x / 2) + 0.5); if (w < 1) w = 1;
         printf "%.7f,%d\n", 0.0015 * x + 0.0015 * 4 / n, w } }' > "$work/W2/dist.csv"
  awk 'BEGIN { print "S0,K,Days"; for (i = 0; i < 2000; i++) printf "100,%d,1\n", 90 + i % 21 }' \
    > "$work/W2/batch.csv"

  mkdir -p "$work/W3" "$work/W3P"
  cp "$here/workloads/chain/"* "$work/W3/"
  cp "$here/workloads/chain/"* "$work/W3P/"
  sed -i 's/^7 WinningProb 0$/7 WinningProb 1/' "$work/W3P/Setup.txt"
  mkdir -p "$work/W4"
  cp "$here/workloads/daily/"* "$work/W4/"
  for w in W5 W6; do
    mkdir -p "$work/$w"
    cp "$here/workloads/chain/"* "$work/$w/"
    cp "$here/../examples/calibrate/market.csv" "$work/$w/"
  done
}
