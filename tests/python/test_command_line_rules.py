"""The Python module refuses what the command line refuses, with the command line's message:
each case runs the program with the options and calls the module with the same keyword
arguments."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

import empricer

BINARY = os.environ["EMPRICER_BINARY"]
ROOT = Path(__file__).resolve().parents[2]
DIST = ROOT / "bench" / "workloads" / "chain" / "dist.csv"
SETUP = "1 RunMode 2\n2 Trajectories 50\n3 RiskFreeRate 0.05\n4 StepScale 1\n" \
        "5 Shifts 1.02 0.98 1.01 0.99\n6 PauseAtEnd 0\n7 WinningProb 0\n"
ROWS = ([100, 100, 100], [95, 100, 105], [3, 3, 5])
BATCH = "S0,K,Days\n100,95,3\n100,100,3\n\n100,105,5\n"

# Python's keyword arguments and the command line's options that say the same (Python values
# a chain unless told otherwise, so the command line gets --chain).
REFUSALS = [
    ("rows without a seed", dict(first=2, last=3), ["--rows", "2-3"]),
    ("first row alone without a seed", dict(first=2), ["--rows", "2-"]),
    ("reversed range", dict(seed=1, first=3, last=2), ["--seed", "1", "--rows", "3-2"]),
    ("zero first row", dict(seed=1, first=0, last=2), ["--seed", "1", "--rows", "0-2"]),
    ("zero last row", dict(seed=1, last=0), ["--seed", "1", "--rows", "1-0"]),
    ("exact with a seed", dict(exact=True, seed=1), ["--exact", "--seed", "1"]),
    ("negative seed", dict(seed=-1), ["--seed", "-1"]),
    ("seed past 32 bits", dict(seed=2**32), ["--seed", "4294967296"]),
    ("no thread", dict(threads=0), ["--threads", "0"]),
    ("5000 threads", dict(threads=5000), ["--threads", "5000"]),
    ("zero trading days", dict(trading_days=0), ["--trading-days", "0"]),
    ("negative trading days", dict(trading_days=-1), ["--trading-days", "-1"]),
    ("infinite trading days", dict(trading_days=float("inf")), ["--trading-days", "inf"]),
]


def first_line_of_refusal(folder, options):
    done = subprocess.run([BINARY, "--quiet", "--results", "r.csv", "--chain", *options],
                          cwd=folder, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    assert done.returncode == 2, done.stderr
    assert not (folder / "r.csv").exists()
    return done.stderr.splitlines()[0]


@pytest.fixture(scope="module")
def table():
    return empricer.Table.read_csv(DIST)


@pytest.mark.parametrize("name, keywords, options", REFUSALS, ids=[r[0] for r in REFUSALS])
def test_python_refuses_what_the_command_line_refuses(tmp_path, table, name, keywords, options):
    expected = first_line_of_refusal(tmp_path, options)
    assert expected.startswith("empricer: "), name
    with pytest.raises(ValueError) as refused:
        empricer.chain(table, ROWS, empricer.Settings(trajectories=50), **keywords)
    assert str(refused.value) == expected


@pytest.mark.parametrize("first, last, options", [(4, None, "4-"), (5, 9, "5-9"), (4, 4, "4")])
def test_a_range_past_the_rows_is_refused_in_the_command_lines_words(tmp_path, table, first,
                                                                     last, options):
    # The command line only warns, and writes the header; Python raises with the same words.
    shutil.copy(DIST, tmp_path / "dist.csv")
    (tmp_path / "Setup.txt").write_text(SETUP)
    (tmp_path / "batch.csv").write_text(BATCH)
    done = subprocess.run([BINARY, "--quiet", "--chain", "--seed", "1", "--rows", options],
                          cwd=tmp_path, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=True)
    warning = done.stderr.splitlines()[0]
    assert warning == f"empricer: --rows {options} selects no row: batch.csv has 3 data rows"
    with pytest.raises(ValueError) as refused:
        empricer.chain(table, ROWS, empricer.Settings(trajectories=50), seed=1, first=first,
                       last=last)
    assert str(refused.value) == warning
    # The last row still is a shard.
    assert len(empricer.chain(table, ROWS, empricer.Settings(trajectories=50), seed=1,
                              first=3)) == 5
