"""empricer.build_table(mean="canonical") against empricer-dist: the same table, double for
double, and the report's tilt."""

import os
import subprocess
from pathlib import Path

import numpy as np

import empricer

DIST_BINARY = Path(os.environ["EMPRICER_BINARY"]).with_name("empricer-dist")
ROOT = Path(__file__).resolve().parents[2]
PRICES = ROOT / "examples" / "history" / "prices.csv"
SETUP = ROOT / "examples" / "quotes" / "Setup.txt"


def test_a_canonical_table_from_python_is_the_command_lines(tmp_path):
    options = ["--session", "datetime", "--mean", "canonical", "--setup", str(SETUP),
               "--carry", "0.015"]
    done = subprocess.run([str(DIST_BINARY), *options, "--out", str(tmp_path / "dist.csv"),
                           str(PRICES)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    rows = [line.split(",") for line in (tmp_path / "dist.csv").read_text().splitlines()]
    returns = np.array([float(r) for r, _ in rows])
    weights = np.array([float(w) for _, w in rows])
    # The weights are tilted, not whole numbers.
    assert not np.array_equal(weights, np.round(weights))

    table, figures = empricer.build_table(PRICES, session="datetime", mean="canonical",
                                          setup=SETUP, carry=0.015)
    # Bit for bit: the same doubles, -0.0 and all.
    assert np.array_equal(table.returns.view(np.int64), returns.view(np.int64))
    assert np.array_equal(table.weights.view(np.int64), weights.view(np.int64))
    assert np.array_equal(table.draws, empricer.Table.read_csv(tmp_path / "dist.csv").draws)
    # The tilt's figures, as the command line reported them.
    tilt = ("theta", "relative entropy", "effective sample size", "table's effective size")
    said = [line for line in done.stdout.splitlines() if line.startswith(tilt)]
    assert len(said) == 4
    assert [line for line in figures["text"].splitlines() if line.startswith(tilt)] == said
    assert figures["theta"] == float(said[0].split()[1])


def test_a_fit_from_python_is_the_command_lines_and_its_quotes_a_frame(tmp_path):
    import pandas as pd

    quotes = pd.DataFrame({"S0": [1250.0] * 3, "K": [1225.0, 1250.0, 1275.0], "days": [5] * 3,
                           "call_bid": [30.0, 15.0, 5.5], "call_ask": [33.0, 17.0, 7.0]})
    quotes.to_csv(tmp_path / "quotes.csv", index=False)
    options = ["--session", "datetime", "--setup", str(SETUP), "--carry", "0.015", "--fit",
               str(tmp_path / "quotes.csv")]
    done = subprocess.run([str(DIST_BINARY), *options, "--out", str(tmp_path / "dist.csv"),
                           str(PRICES)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    table, figures = empricer.build_table(PRICES, session="datetime", setup=SETUP, carry=0.015,
                                          fit=quotes)
    written = empricer.Table.read_csv(tmp_path / "dist.csv")
    assert np.array_equal(table.weights.view(np.int64), written.weights.view(np.int64))
    fitted = figures["quotes"]
    assert list(fitted["K"]) == [1225.0, 1250.0, 1275.0]
    assert fitted["inside"].all()
    assert figures["inside"] == 3
    # The command line's rules: a mean beside a fit is refused.
    try:
        empricer.build_table(PRICES, session="datetime", setup=SETUP, fit=quotes, mean="data")
    except ValueError as refused:
        assert "both set the table" in str(refused)
    else:
        raise AssertionError("a mean beside a fit was taken")
