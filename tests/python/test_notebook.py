"""What a notebook leans on: quotes beside the values as --quotes sets them, progress shown
while rows are valued, and the table builder's report as numbers."""

import io
import math
import os
import re
import shutil
import subprocess
import sys
import types
from pathlib import Path

import pandas as pd
import pytest

import empricer

BINARY = os.environ["EMPRICER_BINARY"]
ROOT = Path(__file__).resolve().parents[2]
QUOTES = ROOT / "examples" / "quotes"
HISTORY = ROOT / "examples" / "history" / "prices.csv"


@pytest.fixture
def quoted(tmp_path, monkeypatch):
    for name in ("Setup.txt", "batch.csv", "dist.csv", "quotes.csv"):
        shutil.copy(QUOTES / name, tmp_path / name)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def quotes_frame(path):
    """quotes.csv as a DataFrame: semicolons, decimal commas, empty fields as NaN."""
    text = pd.read_csv(path, sep=";", dtype=str)
    return text.apply(lambda c: pd.to_numeric(c.str.replace(",", ".", regex=False)))


def inputs(folder):
    return (empricer.Table.read_csv(folder / "dist.csv"), pd.read_csv(folder / "batch.csv"),
            empricer.Settings.read(folder / "Setup.txt"))


@pytest.mark.filterwarnings("ignore::UserWarning")
@pytest.mark.parametrize("arguments, options", [
    (["--exact"], dict(exact=True, chain=False)),
    (["--seed", "11", "--chain"], dict(seed=11, chain=True)),
])
def test_quotes_fill_the_columns_as_the_command_line_does(quoted, capfd, arguments, options):
    run = subprocess.run([BINARY, "--quiet", "--results", "r.csv", "--quotes", "quotes.csv",
                          *arguments], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         check=True, text=True)
    expected = (quoted / "r.csv").read_text()
    table, rows, settings = inputs(quoted)
    capfd.readouterr()
    got = empricer.results_text(table, rows, settings, quotes="quotes.csv", **options)
    assert got == expected
    told = capfd.readouterr().err
    # The quotes' report, as the command line ends its standard error with it.
    report = [line for line in run.stderr.splitlines() if line.startswith("empricer: quotes.csv")]
    assert report[0] == \
        "empricer: quotes.csv: 1 of 11 quotes matched no row; 0 of 10 rows had no quote"
    assert told.splitlines()[-len(report):] == report
    base = empricer.chain(table, rows, settings, quotes=quotes_frame(quoted / "quotes.csv"),
                          **options)
    pd.testing.assert_frame_equal(base, pd.read_csv(io.StringIO(expected),
                                                    float_precision="round_trip"),
                                  check_exact=True)
    quoted_lines = base[base.path == "base"]
    assert quoted_lines.quote_call.notna().all() and quoted_lines.edge_put.notna().all()


@pytest.mark.filterwarnings("ignore::UserWarning")
def test_a_quotes_file_that_does_not_read_raises(quoted):
    table, rows, settings = inputs(quoted)
    with pytest.raises(OSError, match="Error opening file: missing.csv"):
        empricer.chain(table, rows, settings, exact=True, quotes="missing.csv")
    (quoted / "bad.csv").write_text("S0,K,call\n1250,1200,3\n")
    with pytest.raises(OSError, match="Error reading file: bad.csv: line 1: "):
        empricer.chain(table, rows, settings, exact=True, quotes="bad.csv")


@pytest.fixture
def no_tqdm(monkeypatch):
    monkeypatch.setitem(sys.modules, "tqdm", None)
    monkeypatch.setitem(sys.modules, "tqdm.auto", None)


def test_without_tqdm_progress_is_the_command_lines_line(quoted, monkeypatch, no_tqdm):
    table, rows, settings = inputs(quoted)
    monkeypatch.setattr(empricer, "_PROGRESS_AFTER", 0.0)
    shown = io.StringIO()
    monkeypatch.setattr(sys, "stderr", shown)
    got = empricer.chain(table, rows, settings, seed=11, chain=False, first=3, progress=True)
    monkeypatch.undo()
    pd.testing.assert_frame_equal(got, empricer.chain(table, rows, settings, seed=11,
                                                      chain=False, first=3), check_exact=True)
    draws = shown.getvalue().split("\r")
    assert draws[0] == "" and draws[-1] == ""
    lines = [d.rstrip(" ") for d in draws[1:-1] if d.strip()]
    assert lines, "no progress line was drawn"
    pattern = re.compile(r"row (\d+) of 8: (\d+)% of the trajectories(, about \d+ (s|min) left)?")
    seen = [pattern.fullmatch(line) for line in lines]
    assert all(seen), lines
    numbers = [int(m.group(1)) for m in seen]
    assert numbers == sorted(numbers) and 1 <= numbers[0] and numbers[-1] <= 8
    assert len(set(numbers)) > 1, lines  # a second of rows is seen row by row
    assert draws[-2].strip() == ""  # the line is erased at the end


class FakeBar:
    made = []
    fail_at = None

    def __init__(self, total, unit):
        self.total, self.unit, self.n, self.closed = total, unit, 0.0, False
        FakeBar.made.append(self)

    def update(self, step):
        assert step > 0
        self.n += step
        if FakeBar.fail_at is not None and self.n >= FakeBar.fail_at:
            raise RuntimeError("the bar broke")

    def close(self):
        self.closed = True


@pytest.fixture
def fake_tqdm(monkeypatch):
    auto = types.ModuleType("tqdm.auto")
    auto.tqdm = FakeBar
    monkeypatch.setitem(sys.modules, "tqdm", types.ModuleType("tqdm"))
    monkeypatch.setitem(sys.modules, "tqdm.auto", auto)
    FakeBar.made, FakeBar.fail_at = [], None
    return FakeBar


def test_with_tqdm_progress_is_a_bar_over_the_rows(quoted, fake_tqdm):
    table, rows, settings = inputs(quoted)
    got = empricer.chain(table, rows, settings, seed=11, chain=False, first=2, last=7,
                         progress=True)
    assert len(got) == 6 * 5
    [bar] = fake_tqdm.made
    assert (bar.total, bar.unit, bar.n, bar.closed) == (6, "row", 6, True)


@pytest.mark.filterwarnings("ignore::UserWarning")
def test_an_exception_from_the_bar_stops_the_run_and_is_raised(quoted, fake_tqdm):
    table, rows, settings = inputs(quoted)
    fake_tqdm.fail_at = 2
    with pytest.raises(RuntimeError, match="the bar broke"):
        empricer.chain(table, rows, settings, seed=11, chain=False, progress=True)
    [bar] = fake_tqdm.made
    assert bar.closed and bar.n < 10
    # the module goes on working
    assert len(empricer.chain(table, rows, settings, exact=True, last=1)) == 5


def numbers_only(figures):
    for name, figure in figures.items():
        if name in ("text", "warnings"):
            continue
        values = figure.values() if isinstance(figure, dict) else \
            figure if isinstance(figure, tuple) else [figure]
        for value in values:
            assert isinstance(value, (int, float)) and not isinstance(value, bool), (name, figure)


def test_the_reports_figures_are_numbers_with_the_text_apart():
    _, figures = empricer.build_table(HISTORY, session="datetime", mean="risk-neutral",
                                      setup=QUOTES / "Setup.txt", carry=0.015)
    numbers_only(figures)
    assert figures["annualised volatility"] == {
        "in session": 0.29559, "close to close": 0.295999, "table as drawn": 0.295576}
    assert figures["skewness"] == {"data": -0.738288, "target": -0.738288,
                                   "table as drawn": -0.736589}
    assert figures["table rows"] == 1542 and isinstance(figures["table rows"], int)
    # A day of 389 steps, a step a minute: the returns as they are, the mean over 389 steps.
    assert (figures["returns per day"], figures["scale factor"]) == (389.0, 1.0)
    assert figures["steps per day"] == 389.0
    assert figures["mean per step"] == 3.06035e-07
    assert figures["trading days"] == 252.0
    assert figures["mean difference"] == 1.15222e-14
    assert figures["standard deviation difference"] == 0.00452633
    assert "annualised volatility     0.29559" in figures["text"]
    assert "per step" not in figures and "Prices:" not in figures


def test_without_sessions_the_day_has_one_data_column(tmp_path):
    _, figures = empricer.build_table(HISTORY, trading_days=365)
    numbers_only(figures)
    assert set(figures["daily standard deviation"]) == {"data", "table as drawn"}
    year = math.sqrt(365)
    for column, daily in figures["daily standard deviation"].items():
        assert figures["annualised volatility"][column] == pytest.approx(daily * year, rel=1e-5)
    assert figures["trading days"] == 365.0
    assert "overnight gaps" not in figures
