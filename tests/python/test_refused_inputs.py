"""What the module cannot value as given it refuses, with a ValueError that names the argument
and the index, where the command line would read another value (NaN as 0, 2.5 days as 2,
negative days as 0) or skip the row; and what lies on the edge of what it takes is valued as
the command line values it."""

import os
import subprocess
import time
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import empricer

BINARY = os.environ["EMPRICER_BINARY"]
DIST = Path(__file__).resolve().parents[2] / "bench" / "workloads" / "chain" / "dist.csv"
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
NAN, INF = float("nan"), float("inf")


@pytest.fixture(scope="module")
def table():
    return empricer.Table.read_csv(DIST)


SETTINGS = empricer.Settings(trajectories=20)


class UnreadableRows:
    """A sequence as long as ten million rows whose items fail the test when read."""

    def __len__(self):
        return 10_000_000

    def __getitem__(self, index):
        raise AssertionError("a row was read before the length was refused")

    def __iter__(self):
        raise AssertionError("the rows were read before the length was refused")


def rows(spots=(100, 100, 100), strikes=(95, 100, 105), days=(3, 3, 5)):
    return list(spots), list(strikes), list(days)


# Each case: what it is, the call (given the table), and a fragment of the message that names
# the argument, the index and the value.
REFUSED = [
    ("NaN return", lambda t: empricer.Table([NAN, 0.001], [1, 1]), "returns[0] is nan"),
    ("infinite return", lambda t: empricer.Table([0.0, -INF], [1, 1]), "returns[1] is -inf"),
    ("NaN weight", lambda t: empricer.Table([0.0, 0.001], [1, NAN]), "weights[1] is nan"),
    ("infinite weight", lambda t: empricer.Table([0.0, 0.001, 0.002], [1, 1, INF]),
     "weights[2] is inf"),
    ("return that is no number", lambda t: empricer.Table([0.0, "x"], [1, 1]),
     "returns[1] is 'x': not a number"),
    ("table of 10^7 rows as arrays",
     lambda t: empricer.Table(np.broadcast_to(0.0, (10_000_000,)), np.ones(1)),
     "returns holds 10000000 rows: a table holds at most 5000"),
    ("table of 10^7 rows as a sequence", lambda t: empricer.Table([0.0], UnreadableRows()),
     "weights holds 10000000 rows: a table holds at most 5000"),
    ("NaN S0", lambda t: empricer.chain(t, rows(spots=(100, NAN, 100)), SETTINGS, seed=1),
     "S0[1] is nan: S0 must be a finite number"),
    ("infinite K", lambda t: empricer.chain(t, rows(strikes=(95, 100, INF)), SETTINGS, seed=1),
     "K[2] is inf: K must be a finite number"),
    ("NaN days", lambda t: empricer.chain(t, rows(days=(NAN, 3, 5)), SETTINGS, seed=1),
     "days[0] is nan: days must be a whole number from 0 to 2147483647"),
    ("fractional days", lambda t: empricer.chain(t, rows(days=(3, 2.5, 5)), SETTINGS, seed=1),
     "days[1] is 2.5: days must be a whole number"),
    ("negative days", lambda t: empricer.chain(t, rows(days=(3, 3, -1)), SETTINGS, seed=1),
     "days[2] is -1.0: days must be a whole number from 0"),
    ("days past 32 bits", lambda t: empricer.chain(t, rows(days=(3, 2**31, 5)), SETTINGS, seed=1),
     "days[1] is 2147483648.0: days must be a whole number from 0 to 2147483647"),
    ("days 1e10 in a DataFrame",
     lambda t: empricer.chain(t, pd.DataFrame({"S0": [100, 100], "K": [90, 95],
                                               "DAYS": [3, 1e10]}), SETTINGS, seed=1),
     "days[1] is 10000000000.0"),
    ("S0 that is no number",
     lambda t: empricer.results_text(t, rows(spots=(100, 100, "abc")), SETTINGS, seed=1),
     "S0[2] is 'abc': not a number"),
    ("NaN spot of one option", lambda t: empricer.value(t, NAN, 100, 3, SETTINGS, seed=1),
     "spot is nan: spot must be a finite number"),
    ("infinite strike of one option", lambda t: empricer.value(t, 100, INF, 3, SETTINGS, seed=1),
     "strike is inf: strike must be a finite number"),
    ("fractional days of one option", lambda t: empricer.value(t, 100, 100, 2.5, SETTINGS, seed=1),
     "days is 2.5: days must be a whole number"),
    ("trajectories past 32 bits", lambda t: empricer.Settings(trajectories=1e12),
     "trajectories is 1000000000000: trajectories must be a whole number from 1 to 2147483647"),
    ("no trajectory", lambda t: empricer.Settings(trajectories=0), "trajectories is 0: "),
    ("no step a day", lambda t: empricer.Settings(steps_per_day=0), "steps_per_day is 0: "),
    ("steps a day past the most", lambda t: empricer.Settings(steps_per_day=100001),
     "steps_per_day is 100001: "),
    ("steps a day as a switch", lambda t: empricer.Settings(steps_per_day=True),
     "steps_per_day is True: "),
    ("fractional steps a day", lambda t: empricer.Settings(steps_per_day=1.5),
     "steps_per_day is 1.5: "),
    ("fractional trajectories", lambda t: empricer.Settings(trajectories=2.5),
     "trajectories is 2.5: "),
    ("NaN trajectories", lambda t: empricer.Settings(trajectories=NAN), "trajectories is nan: "),
    ("negative seed", lambda t: empricer.value(t, 100, 100, 3, SETTINGS, seed=-1),
     "empricer: --seed takes a whole number from 0 to 4294967295, not '-1'"),
    ("seed past 64 bits", lambda t: empricer.value(t, 100, 100, 3, SETTINGS, seed=2**70),
     "empricer: --seed takes a whole number from 0 to 4294967295, not '1180591620717411303424'"),
    ("threads past 64 bits", lambda t: empricer.value(t, 100, 100, 3, SETTINGS, threads=2**64),
     "empricer: --threads takes a whole number from 1 to 4096, not '18446744073709551616'"),
    ("last row past 64 bits",
     lambda t: empricer.chain(t, rows(), SETTINGS, seed=1, first=2, last=2**64),
     "not '2-18446744073709551616'"),
    ("NaN shift", lambda t: empricer.Settings(shifts=(NAN, 0.98, 1.01, 0.99)),
     "shifts[0] is nan: a finite number is needed"),
    ("NaN rate", lambda t: empricer.Settings(rate=NAN), "rate is nan: a finite number is needed"),
    ("infinite rate", lambda t: empricer.Settings(rate=INF), "rate is inf: "),
    ("probabilities as text", lambda t: empricer.Settings(probabilities="no"),
     "probabilities is 'no': True or False is needed"),
    ("a path with a NUL byte", lambda t: empricer.Table.read_csv("dist.csv\0x"),
     "holds a NUL byte"),
    ("returns in two dimensions", lambda t: empricer.Table(np.zeros((2, 2)), np.ones((2, 2))),
     "returns has 2 dimensions"),
    ("complex returns", lambda t: empricer.Table(np.array([0.001 + 1j, 0.0]), [1, 1]),
     "returns holds complex numbers"),
    ("fractional days in a frame, by its index",
     lambda t: empricer.chain(t, pd.DataFrame({"S0": [100, 100], "K": [90, 95], "days": [3, 2.5]},
                                              index=[10, 20]), SETTINGS, seed=1),
     "rows: days[20] is 2.5: days must be a whole number"),
    ("negative quote in a frame, by its index",
     lambda t: empricer.chain(t, rows(), SETTINGS, exact=True, quotes=pd.DataFrame(
         {"S0": [100.0, 100.0], "K": [95.0, 100.0], "days": [3, 3], "call": [2.0, -1.0]},
         index=["a", "b"])),
     "quotes['b']: the call '-1.0' is negative"),
    ("a side given twice in a quotes frame, by its index",
     lambda t: empricer.chain(t, rows(), SETTINGS, exact=True, quotes=pd.DataFrame(
         {"S0": [100.0, 100.0], "K": [95.0, 95.0], "days": [3, 3], "call": [2.0, 2.5]},
         index=[7, 8])),
     "quotes[8]: the call of this S0, K and days is given on row 7 already"),
    ("an arbitrage in a fit's frame, by its index",
     lambda t: empricer.build_table(
         EXAMPLES / "history" / "prices.csv", session="datetime",
         setup=EXAMPLES / "quotes" / "Setup.txt", fit=pd.DataFrame(
             {"S0": [1250, 1250], "K": [1200, 1250], "days": [5, 5],
              "call_bid": [52.0, 60.0], "call_ask": [52.5, 61.0]}, index=["a", "b"])),
     "fit['b']: the call at K 1250 bids 60, above the ask 52.5 of the call at the lower K 1200 "
     "(row 'a')"),
    ("S0 and s0 both", lambda t: empricer.chain(
        t, pd.DataFrame({"S0": [100, 100], "s0": [90, 90], "K": [90, 95], "days": [3, 3]}),
        SETTINGS, seed=1), "rows have the columns 'S0' and 's0'"),
]


@pytest.mark.parametrize("name, call, fragment", REFUSED, ids=[c[0] for c in REFUSED])
def test_what_cannot_be_valued_is_refused_by_argument_and_index(table, name, call, fragment):
    started = time.monotonic()
    with pytest.raises(ValueError) as refused:
        call(table)
    assert fragment in str(refused.value), name
    # A frame's refusal names the frame, not a file it was written to.
    assert "Error reading file" not in str(refused.value), name
    # Nothing is copied or valued before the refusal.
    assert time.monotonic() - started < 2.0, name


def test_the_edges_of_what_is_taken_are_valued_as_the_command_line_values_them(tmp_path, table):
    # 0 days (at expiry, no step), whole days given as floats, a float number of trajectories
    # that is whole: the same results file as the program's for the same batch.
    (tmp_path / "Setup.txt").write_text(
        "1 RunMode 2\n2 Trajectories 30\n3 RiskFreeRate 0.05\n4 StepScale 1\n"
        "5 Shifts 1.02 0.98 1.01 0.99\n6 PauseAtEnd 0\n7 WinningProb 0\n")
    (tmp_path / "batch.csv").write_text("S0,K,Days\n100,95,0\n100,100,3\n100.5,104,7\n")
    (tmp_path / "dist.csv").write_bytes(DIST.read_bytes())
    subprocess.run([BINARY, "--quiet", "--exact", "--chain", "--results", "r.csv"],
                   cwd=tmp_path, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)
    given = ([100, 100, 100.5], [95.0, 100, 104], [0.0, 3.0, 7.0])
    settings = empricer.Settings(rate=0.05, trajectories=3e1)
    assert settings.trajectories == 30
    assert empricer.results_text(table, given, settings, exact=True) == \
        (tmp_path / "r.csv").read_text()
    # A table of 5000 rows is the most there is, and is taken.
    returns = np.linspace(-0.01, 0.01, 5000)
    assert np.array_equal(empricer.Table(returns, np.ones(5000)).returns, returns)
