"""empricer from Python: tables, settings and valuations with the numbers of the command line.

Every valuation runs in process through the same code as ``empricer --results``; its figures
come back as a pandas DataFrame with exactly the columns of that file, one line per row and
path, empty fields as NaN. A seed reproduces the command line to the last bit.

The options of a valuation (seed, exact, chain, threads, first, last, trading_days) are read by
the command line's own option parser, as the arguments that say the same (``--seed``,
``--exact``, ``--chain``, ``--threads``, ``--rows first-last``, ``--trading-days``): what the
command line refuses raises ValueError with its message, e.g. "empricer: --rows needs --seed,
so that every shard draws what the whole run would". Two defaults differ from the command
line's, and stay as they are: ``chain`` and ``results_text`` value the rows of each S0 on
shared paths (``chain=True``, as ``--chain``) where the command line values row by row, and
``Settings()`` takes the shift factors (1.02, 0.98, 1.01, 0.99) and 10,000 trajectories where
the command line has no default (Setup.txt must give keys 2 to 5).
"""

import io
import math
import operator
import os
import re
import tempfile

import numpy as np
import pandas as pd

from . import _empricer

__all__ = ["Table", "Settings", "value", "chain", "results_text", "build_table"]

_STEPS_PER_DAY = _empricer.steps_per_day


def _text(x):
    """The shortest text that reads back to the float x (as the results file writes)."""
    return repr(float(x))


_TABLE_CAPACITY = _empricer.table_capacity
_MOST_DAYS = 2**31 - 1  # a batch row's days are a 32-bit signed integer
_MOST_TRAJECTORIES = 2**31 - 1  # as Setup.txt's key 2


def _length(given):
    """The number of items of a sequence, or None for an iterable without a length."""
    try:
        return len(given)
    except TypeError:
        return None


def _within_capacity(name, count):
    """Refuses, before anything is copied, more rows than the loader takes."""
    if count is not None and count > _TABLE_CAPACITY:
        raise ValueError(f"{name} holds {count} rows: a table holds at most {_TABLE_CAPACITY}")


def _where(name, index, indexed):
    return f"{name}[{index}]" if indexed else name


def _numbers(name, given, indexed=True):
    """The values as a flat array of floats; a value that is no number is refused by its
    index (by its name alone for a single value, when not `indexed`)."""
    try:
        return np.asarray(given, dtype=float).ravel()
    except (TypeError, ValueError):
        values = np.asarray(given, dtype=object).ravel()
        for index, item in enumerate(values):
            try:
                float(item)
            except (TypeError, ValueError):
                raise ValueError(f"{_where(name, index, indexed)} is {item!r}: not a number") \
                    from None
        raise


def _first_bad(name, values, good, rule, indexed=True):
    """Refuses the first value for which `good` is false, by its index, saying `rule`."""
    bad = np.flatnonzero(~good)
    if bad.size:
        index = int(bad[0])
        raise ValueError(f"{_where(name, index, indexed)} is {_text(values[index])}: {rule}")


def _finite(name, values, rule, indexed=True):
    _first_bad(name, values, np.isfinite(values), rule, indexed)


class Table:
    """A step distribution: read from a dist.csv by the loader's rules, or from arrays of
    returns and weights (loaded as the dist.csv of those numbers would be). A return or weight
    that is NaN, infinite or no number is refused by its index (ValueError), and so are more
    rows than a table holds, before anything is copied."""

    def __init__(self, returns, weights):
        for name, given in (("returns", returns), ("weights", weights)):
            _within_capacity(name, np.size(given) if hasattr(given, "shape") else _length(given))
        returns = _numbers("returns", returns)
        weights = _numbers("weights", weights)
        if returns.shape != weights.shape:
            raise ValueError("returns and weights differ in length")
        _finite("returns", returns, "a table's returns and weights must be finite numbers")
        _finite("weights", weights, "a table's returns and weights must be finite numbers")
        text = "".join(f"{_text(r)},{_text(w)}\n" for r, w in zip(returns, weights))
        self._table = _empricer.Table.from_text(text)

    @classmethod
    def read_csv(cls, path):
        table = cls.__new__(cls)
        table._table = _empricer.Table.read_csv(str(path))
        return table

    @property
    def returns(self):
        return np.array(self._table.returns)

    @property
    def weights(self):
        return np.array(self._table.weights)

    @property
    def draws(self):
        """The return of each of the 32768 equally likely generator outputs."""
        return np.array(self._table.draws)

    def moments(self):
        """Mean, standard deviation, skewness and excess kurtosis of the draws (per step), and
        the standard deviation of a day of 270 steps."""
        d = self.draws
        mean = d.mean()
        sd = d.std()
        z = (d - mean) / sd if sd > 0 else np.zeros_like(d)
        return {"mean": mean, "std": sd, "skewness": float((z ** 3).mean()),
                "excess_kurtosis": float((z ** 4).mean() - 3.0),
                "daily_std": sd * math.sqrt(_STEPS_PER_DAY)}

    def __repr__(self):
        """A table of up to six rows as the call that makes it; a longer one as its size and
        its first and last three rows, to six digits."""
        returns, weights = self.returns, self.weights
        if len(returns) <= 6:
            return (f"empricer.Table(returns={[float(r) for r in returns]}, "
                    f"weights={[float(w) for w in weights]})")

        def ends(values):
            shown = [f"{v:.6g}" for v in values[:3]] + ["..."] + [f"{v:.6g}" for v in values[-3:]]
            return "[" + ", ".join(shown) + "]"

        return (f"<empricer.Table of {len(returns)} rows: returns {ends(returns)}, "
                f"weights {ends(weights)}>")


def _trajectories(number):
    """A number of trajectories: a whole number (an int, or a float such as 1e4) from 1 to
    2147483647, as Setup.txt's key 2 takes it; anything else is refused, never truncated."""
    rule = f"trajectories must be a whole number from 1 to {_MOST_TRAJECTORIES}"
    try:
        whole = operator.index(number)
    except TypeError:
        try:
            given = float(number)
        except (TypeError, ValueError):
            raise ValueError(f"trajectories is {number!r}: {rule}") from None
        if not given.is_integer():
            raise ValueError(f"trajectories is {_text(given)}: {rule}") from None
        whole = int(given)
    if not 1 <= whole <= _MOST_TRAJECTORIES:
        raise ValueError(f"trajectories is {whole}: {rule}")
    return whole


class Settings:
    """What Setup.txt gives a run: rate (key 3), step scale (key 4), shift factors (key 5),
    trajectories (key 2: a whole number from 1 to 2147483647, otherwise ValueError) and the
    winning probabilities (key 7).

    Key 4 says what year the rate is per: the rate terms take a step of (1 / 270) / key 4 of a
    day, so key 4 = N / 270 makes the rate one per year of N trading days. `trading_days=N`
    sets key 4 to N / 270 (252 gives 0.9333333333333333); `step_scale` sets key 4 itself. Give
    one of the two; with neither, key 4 is 1: a rate per year of 270 trading days, as in the
    shipped examples/manual/Setup.txt. The shift factors and the 10,000 trajectories are
    defaults of Python only: the command line has none, Setup.txt must give keys 2 to 5.
    `Settings.read(path)` takes every key as the file says, by the run's rules."""

    def __init__(self, rate=0.0, step_scale=None, shifts=(1.02, 0.98, 1.01, 0.99),
                 trajectories=10000, probabilities=False, trading_days=None):
        if trading_days is not None:
            if step_scale is not None:
                raise ValueError("Settings takes step_scale or trading_days, not both")
            days = float(trading_days)
            if not (days > 0 and math.isfinite(days)):
                raise ValueError(f"trading_days takes a number above 0, not {trading_days!r}")
            step_scale = days / _STEPS_PER_DAY
        self._settings = _empricer.Settings()
        self._settings.rate = float(rate)
        self._settings.step_scale = 1.0 if step_scale is None else float(step_scale)
        self._settings.shifts = [float(s) for s in shifts]
        self._settings.trajectories = _trajectories(trajectories)
        self._settings.probabilities = bool(probabilities)

    @classmethod
    def read(cls, path):
        settings = cls.__new__(cls)
        settings._settings = _empricer.Settings.read(str(path))
        return settings

    rate = property(lambda self: self._settings.rate)
    step_fraction = property(lambda self: self._settings.step_fraction)
    shifts = property(lambda self: tuple(self._settings.shifts))
    trajectories = property(lambda self: self._settings.trajectories)
    probabilities = property(lambda self: self._settings.probabilities)

    @staticmethod
    def _step_fraction_of(step_scale):
        """The step fraction a run takes from key 4 = step_scale."""
        probe = _empricer.Settings()
        probe.step_scale = step_scale
        return probe.step_fraction

    def _key4_argument(self):
        """The argument that gives this step fraction: trading_days=N for a whole N when N / 270
        does, else step_scale=(1 / 270) / step fraction when that does."""
        fraction = self.step_fraction
        if fraction == 0 or math.isnan(fraction):
            return None
        scale = (1.0 / _STEPS_PER_DAY) / fraction
        if 0 < scale < math.inf:
            days = round(scale * _STEPS_PER_DAY)
            if days >= 1 and self._step_fraction_of(days / _STEPS_PER_DAY) == fraction:
                return f"trading_days={days}"
        return f"step_scale={scale!r}" if self._step_fraction_of(scale) == fraction else None

    def __repr__(self):
        key4 = self._key4_argument() or f"step_fraction={self.step_fraction!r}"
        return (f"empricer.Settings(rate={self.rate!r}, {key4}, shifts={self.shifts!r}, "
                f"trajectories={self.trajectories!r}, probabilities={self.probabilities!r})")


def _rows_text(rows, names=("S0", "K", "days"), indexed=True):
    """A batch.csv's text of rows: a DataFrame with columns S0, K and days in any case, or three
    sequences (called `names` in the messages). S0 and K must be finite, days whole numbers
    from 0 to 2147483647 (as a batch row takes them; 0 days is valued at expiry, with no
    step); anything else is refused by its index, never written as a row the command line
    would read differently."""
    if isinstance(rows, pd.DataFrame):
        by_name = {str(c).lower(): c for c in rows.columns}
        try:
            columns = [rows[by_name[name]] for name in ("s0", "k", "days")]
        except KeyError as missing:
            raise ValueError(f"rows need the columns S0, K and days, not {list(rows.columns)}") from missing
    else:
        columns = list(rows)
        if len(columns) != 3:
            raise ValueError("rows: a DataFrame with S0, K and days, or three sequences")
    spots, strikes, days = (_numbers(name, c, indexed) for name, c in zip(names, columns))
    if not len(spots) == len(strikes) == len(days):
        raise ValueError(f"{', '.join(names[:2])} and {names[2]} differ in length")
    for name, values in zip(names[:2], (spots, strikes)):
        _finite(name, values, f"{name} must be a finite number", indexed)
    with np.errstate(invalid="ignore"):
        whole = (np.floor(days) == days) & (days >= 0) & (days <= _MOST_DAYS)
    _first_bad(names[2], days, whole,
               f"{names[2]} must be a whole number from 0 to {_MOST_DAYS}", indexed)
    lines = ["S0,K,Days"]
    for s, k, d in zip(spots, strikes, days):
        lines.append(f"{_text(s)},{_text(k)},{int(d)}")
    return "\n".join(lines) + "\n"


def _frame(text):
    return pd.read_csv(io.StringIO(text), float_precision="round_trip")


def _whole(number):
    """An integer option as given, or None; a float is a TypeError, as for range()."""
    return None if number is None else operator.index(number)


def results_text(table, rows, settings, seed=None, exact=False, chain=True, threads=None,
                 first=None, last=None, trading_days=252.0):
    """The text of the results file ``empricer --results`` writes for the same batch.csv,
    byte for byte, with ``--seed`` when `seed` is given, ``--exact`` when `exact`, ``--chain``
    when `chain` (the default here, unlike the command line), ``--threads`` when `threads` is
    given (otherwise every CPU this process may use), ``--rows first-last`` when `first` or
    `last` is (the other end open) and ``--trading-days``.

    The command line's rules apply: what it refuses raises ValueError with its message
    (``--rows`` without a seed unless `exact`, a seed with `exact`, a reversed or zero range,
    threads outside 1 to 4096, trading_days not above 0). A range that starts past the last row
    raises ValueError too ("empricer: --rows 7-9 selects no row: batch.csv has 6 data rows"),
    where the command line only warns and writes the header. A thread that cannot start raises
    RuntimeError ("empricer: cannot start thread N of THREADS: " and the system's reason).

    The rows are refused by their index when they cannot be valued as given: S0 or K not a
    finite number, days not a whole number from 0 to 2147483647 (ValueError, e.g. "days[3] is
    2.5: days must be a whole number from 0 to 2147483647")."""
    return _run(table, _rows_text(rows), settings, seed, exact, chain, threads, first, last,
                trading_days)


def _run(table, batch, settings, seed, exact, chain, threads, first, last, trading_days):
    """The results file's text of the batch.csv text `batch`."""
    return _empricer.run_rows(table._table, settings._settings, batch, _whole(seed),
                              bool(exact), bool(chain), _whole(threads), _whole(first),
                              _whole(last), float(trading_days))


def chain(table, rows, settings, seed=None, exact=False, chain=True, threads=None,
          progress=False, first=None, last=None, trading_days=252.0):
    """The same as a DataFrame: the columns of the results file, one line per row and path,
    numbers as the same doubles, empty fields as NaN. The options and their errors are those of
    results_text; ``chain=True`` is the default here, where the command line goes row by row."""
    del progress  # an in-process run shows no progress line
    return _frame(results_text(table, rows, settings, seed=seed, exact=exact, chain=chain,
                               threads=threads, first=first, last=last,
                               trading_days=trading_days))


def value(table, spot, strike, days, settings, seed=None, exact=False, threads=None,
          trading_days=252.0):
    """One option, as a manual run with ``--results`` values it: five lines, one per path. The
    options and their errors are those of results_text; spot, strike and days are refused as
    the rows there are (e.g. "spot is nan: spot must be a finite number")."""
    batch = _rows_text(([spot], [strike], [days]), ("spot", "strike", "days"), indexed=False)
    return _frame(_run(table, batch, settings, seed, exact, False, threads, None, None,
                       trading_days))


def _report(text):
    """The report's lines as a dict: each line's name (the text before two blanks) to its
    fields, numbers as floats."""
    figures = {}
    for line in text.splitlines():
        parts = re.split(r"\s{2,}", line.strip())
        if len(parts) < 2:
            continue
        values = []
        for part in parts[1:]:
            try:
                values.append(float(part))
            except ValueError:
                values.append(part)
        figures[parts[0]] = values[0] if len(values) == 1 else values
    figures["text"] = text
    return figures


def build_table(prices, session=None, returns_per_day="auto", with_gaps=False, mean="data",
                column=None, carry=None, setup=None, max_rows=None, trading_days=None,
                allow_jumps=False):
    """empricer-dist in process: a Table from a price history (a file's path, a pandas Series
    of prices, or a DataFrame with a price column), and the report's figures as a dict. The
    options are empricer-dist's; a Series is written with its index as column ``datetime``.
    ``mean`` is "data", "risk-neutral", "canonical" (the history's returns kept, their weights
    tilted onto the risk-neutral mean: the figures then hold ``theta``, ``relative entropy``
    and ``effective sample size``) or a number; ``setup`` and ``carry`` go with the last two
    words. The table is the command line's, double for double."""
    with tempfile.TemporaryDirectory(prefix="empricer-") as work:
        if isinstance(prices, (str, os.PathLike)):
            path = os.fspath(prices)
        else:
            path = os.path.join(work, "prices.csv")
            frame = prices.to_frame(name="close") if isinstance(prices, pd.Series) else prices
            frame.to_csv(path, index=isinstance(prices, pd.Series), index_label="datetime")
        args = ["--out", os.path.join(work, "dist.csv"), "--returns-per-day", str(returns_per_day),
                "--mean", str(mean)]
        for name, value in (("--session", session), ("--column", column), ("--carry", carry),
                            ("--setup", setup), ("--max-rows", max_rows),
                            ("--trading-days", trading_days)):
            if value is not None:
                args += [name, str(value)]
        if with_gaps:
            args.append("--with-gaps")
        if allow_jumps:
            args.append("--allow-jumps")
        table, report, warnings = _empricer.build_table(args + [path])
    result = Table.__new__(Table)
    result._table = table
    figures = _report(report)
    figures["warnings"] = list(warnings)
    return result, figures
