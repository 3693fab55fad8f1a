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

import contextlib
import io
import math
import operator
import os
import re
import sys
import tempfile
import time

import numpy as np
import pandas as pd

from . import _empricer

__all__ = ["Table", "Settings", "value", "chain", "results_text", "build_table"]

_STEPS_PER_DAY = _empricer.steps_per_day
_MOST_STEPS_PER_DAY = _empricer.most_steps_per_day


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


def _label(label):
    """A frame's index label as a message names it: a whole number as its digits, anything
    else as its repr."""
    if isinstance(label, (int, np.integer)) and not isinstance(label, (bool, np.bool_)):
        return str(int(label))
    return repr(label)


def _frame_refusal(name, message, index):
    """The reader's message about the CSV written from a frame (line 1 its header, line N
    its row at position N - 2) told by the frame's rows: "quotes[7]: the call '-1.0' is
    negative", its index label for every line it names."""
    said = re.fullmatch(r"Error reading file: " + re.escape(name) + r": (?:line (\d+): )?(.*)",
                        message, re.S)
    if said is None:
        return f"{name}: {message}"

    def row(line):
        position = int(line) - 2
        return _label(index[position]) if 0 <= position < len(index) else f"line {line}"

    rest = re.sub(r"\bline (\d+)", lambda found: "row " + row(found.group(1)), said.group(2))
    return (f"{name}[{row(said.group(1))}]" if said.group(1) else name) + f": {rest}"


def _fit_frame_refusal(message, path, index):
    """A message about the CSV written from the `fit` frame told by the frame's rows: its
    line N (line 1 the header) is the row at position N - 2, named by its index label."""
    def row(found):
        position = int(found.group(1)) - 2
        label = _label(index[position]) if 0 <= position < len(index) else f"line {found.group(1)}"
        return f"fit[{label}]: "

    def label(found):
        position = int(found.group(1)) - 2
        return "row " + (_label(index[position]) if 0 <= position < len(index)
                         else f"line {found.group(1)}")

    told = re.sub(r"(?:Error reading file: )?" + re.escape(path) + r": line (\d+): ", row,
                  message, count=1)
    head, _, rest = told.partition(": ")
    told = head + ": " + re.sub(r"\bline (\d+)", label, rest) if rest else told
    return told.replace(path, "fit")


def _numbers(name, given, indexed=True):
    """The values as a flat array of floats; a value that is no number is refused by its
    index (by its name alone for a single value, when not `indexed`), and so are values laid
    out in more than one dimension and complex ones, never flattened or cast."""
    if hasattr(given, "ndim") and given.ndim > 1:
        raise ValueError(f"{name} has {given.ndim} dimensions: give one value a row")
    if np.iscomplexobj(given):
        raise ValueError(f"{name} holds complex numbers: give real ones")
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
        table._table = _empricer.Table.read_csv(_path("path", path))
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

    def moments(self, steps_per_day=_STEPS_PER_DAY):
        """Mean, standard deviation, skewness and excess kurtosis of the draws (per step), and
        the standard deviation of a day of `steps_per_day` steps before the band."""
        d = self.draws
        mean = d.mean()
        sd = d.std()
        z = (d - mean) / sd if sd > 0 else np.zeros_like(d)
        return {"mean": mean, "std": sd, "skewness": float((z ** 3).mean()),
                "excess_kurtosis": float((z ** 4).mean() - 3.0),
                "daily_std": sd * math.sqrt(_steps_per_day(steps_per_day))}

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


def _steps_per_day(given):
    """--steps-per-day's whole number from 1 to 100000, or ValueError (a bool or a float is
    no whole number here)."""
    rule = f"steps_per_day must be a whole number from 1 to {_MOST_STEPS_PER_DAY}"
    if isinstance(given, bool) or not isinstance(given, (int, np.integer)):
        raise ValueError(f"steps_per_day is {given!r}: {rule}")
    if not 1 <= int(given) <= _MOST_STEPS_PER_DAY:
        raise ValueError(f"steps_per_day is {int(given)}: {rule}")
    return int(given)


def _finite_setting(name, given):
    """A setting's number, refused (ValueError) unless a finite real number."""
    if isinstance(given, (bool, np.bool_)) or np.iscomplexobj(given):
        raise ValueError(f"{name} is {given!r}: a finite number is needed")
    try:
        value = float(given)
    except (TypeError, ValueError):
        raise ValueError(f"{name} is {given!r}: a finite number is needed") from None
    if not math.isfinite(value):
        raise ValueError(f"{name} is {value!r}: a finite number is needed")
    return value


def _switch(name, given):
    """A setting that is on or off: True or False, nothing else."""
    if not isinstance(given, (bool, np.bool_)):
        raise ValueError(f"{name} is {given!r}: True or False is needed")
    return bool(given)


def _path(name, given):
    """A file's path as the programs take it; one holding a NUL byte, which would end it
    early, is refused."""
    path = os.fspath(given)
    if "\0" in (path.decode(errors="replace") if isinstance(path, bytes) else path):
        raise ValueError(f"{name} {path!r} holds a NUL byte")
    return path if isinstance(path, str) else os.fsdecode(path)


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
                 trajectories=10000, probabilities=False, trading_days=None, steps_per_day=None):
        if trading_days is not None:
            if step_scale is not None:
                raise ValueError("Settings takes step_scale or trading_days, not both")
            days = float(trading_days)
            if not (days > 0 and math.isfinite(days)):
                raise ValueError(f"trading_days takes a number above 0, not {trading_days!r}")
            step_scale = days / _STEPS_PER_DAY
        self._settings = _empricer.Settings()
        self._settings.rate = _finite_setting("rate", rate)
        self._settings.step_scale = 1.0 if step_scale is None else _finite_setting("step_scale", step_scale)
        shifts = list(shifts)
        if len(shifts) != 4:
            raise ValueError(f"shifts holds {len(shifts)} factors: four are needed")
        self._settings.shifts = [_finite_setting(f"shifts[{i}]", s) for i, s in enumerate(shifts)]
        self._settings.trajectories = _trajectories(trajectories)
        self._settings.probabilities = _switch("probabilities", probabilities)
        if steps_per_day is not None:
            self._settings.steps_per_day = _steps_per_day(steps_per_day)

    @classmethod
    def read(cls, path):
        settings = cls.__new__(cls)
        settings._settings = _empricer.Settings.read(_path("path", path))
        return settings

    rate = property(lambda self: self._settings.rate)
    step_fraction = property(lambda self: self._settings.step_fraction)
    shifts = property(lambda self: tuple(self._settings.shifts))
    trajectories = property(lambda self: self._settings.trajectories)
    probabilities = property(lambda self: self._settings.probabilities)
    # Not a key of Setup.txt: the command line's --steps-per-day.
    steps_per_day = property(lambda self: self._settings.steps_per_day)

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
                f"trajectories={self.trajectories!r}, probabilities={self.probabilities!r}"
                + (f", steps_per_day={self.steps_per_day!r}"
                   if self.steps_per_day != _STEPS_PER_DAY else "") + ")")


def _rows_text(rows, names=("S0", "K", "days"), indexed=True):
    """A batch.csv's text of rows: a DataFrame with columns S0, K and days in any case, or three
    sequences (called `names` in the messages). S0 and K must be finite, days whole numbers
    from 0 to 2147483647 (as a batch row takes them; 0 days is valued at expiry, with no
    step); anything else is refused by its index, never written as a row the command line
    would read differently."""
    if isinstance(rows, pd.DataFrame):
        by_name = {}
        for c in rows.columns:
            if str(c).lower() in by_name and str(c).lower() in ("s0", "k", "days"):
                raise ValueError(f"rows have the columns {by_name[str(c).lower()]!r} and {c!r}: "
                                 "one column each for S0, K and days, in any case")
            by_name[str(c).lower()] = c
        try:
            columns = [rows[by_name[name]] for name in ("s0", "k", "days")]
        except KeyError as missing:
            raise ValueError(f"rows need the columns S0, K and days, not {list(rows.columns)}") from missing
    else:
        columns = list(rows)
        if len(columns) != 3:
            raise ValueError("rows: a DataFrame with S0, K and days, or three sequences")
    try:
        return _checked_rows(columns, names, indexed)
    except ValueError as refused:
        if not isinstance(rows, pd.DataFrame):
            raise
        # A frame's row by its index label, and the argument it came in.
        said = re.fullmatch(r"(\w+)\[(\d+)\] (.*)", str(refused), re.S)
        if said is None:
            raise ValueError(f"rows: {refused}") from None
        label = _label(rows.index[int(said.group(2))])
        raise ValueError(f"rows: {said.group(1)}[{label}] {said.group(3)}") from None


def _checked_rows(columns, names, indexed):
    """The batch.csv text of three columns of rows, or ValueError naming a column by
    position."""
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
                 first=None, last=None, trading_days=252.0, quotes=None, calibrate=None):
    """The text of the results file ``empricer --results`` writes for the same batch.csv,
    byte for byte, with ``--seed`` when `seed` is given, ``--exact`` when `exact`, ``--chain``
    when `chain` (the default here, unlike the command line), ``--threads`` when `threads` is
    given (otherwise every CPU this process may use), ``--rows first-last`` when `first` or
    `last` is (the other end open), ``--trading-days`` and ``--quotes`` when `quotes` is given.

    `quotes` is a quotes file's path, or a DataFrame with its columns (S0, K and days, and any
    of call, put, call_bid, call_ask, put_bid, put_ask, in any case; NaN is no price), written
    to a temporary CSV and read by the same rules. The quote columns of the quoted rows (quote,
    edge, the market's volatility, the probability of profit) are filled as ``--quotes`` fills
    them, and the process's standard error gets the same closing line ("empricer: FILE: U of Q
    quotes matched no row; R of T rows had no quote"). A quotes file that cannot be opened or
    read raises OSError with the program's message ("Error opening file: FILE", "Error reading
    file: FILE: line N: ...") and values nothing.

    The command line's rules apply: what it refuses raises ValueError with its message
    (``--rows`` without a seed unless `exact`, a seed with `exact`, a reversed or zero range,
    threads outside 1 to 4096, trading_days not above 0). A range that starts past the last row
    raises ValueError too ("empricer: --rows 7-9 selects no row: batch.csv has 6 data rows"),
    where the command line only warns and writes the header. A thread that cannot start raises
    RuntimeError ("empricer: cannot start thread N of THREADS: " and the system's reason).

    The rows are refused by their index when they cannot be valued as given: S0 or K not a
    finite number, days not a whole number from 0 to 2147483647 (ValueError, e.g. "days[3] is
    2.5: days must be a whole number from 0 to 2147483647").

    `calibrate` is ``--calibrate``: a quotes file's path or a DataFrame in its format; the
    text is then the calibrated run's (see chain for the calibration report)."""
    return _run(table, _rows_text(rows), settings, seed, exact, chain, threads, first, last,
                trading_days, quotes, calibrate=calibrate)[0]


# Seconds of work before the progress line may appear, as on the command line.
_PROGRESS_AFTER = 1.0
_REDRAW_EVERY = 0.1


class _ProgressLine:
    """The command line's progress line on sys.stderr: "row I of N: P% of the trajectories,
    about T s left" (minutes from 120 s on), once the work has gone on for a second, at most
    ten times a second, erased at the end. On a terminal each draw ends by erasing the rest of
    the line, as the command line's does; elsewhere (a notebook) blanks cover a longer line."""

    def __init__(self):
        self._start = None
        self._drawn = None
        self._width = 0  # of the line on the screen

    def __call__(self, row, rows, share):
        now = time.monotonic()
        if self._start is None:
            self._start = now
        if now - self._start < _PROGRESS_AFTER or \
                (self._drawn is not None and now - self._drawn < _REDRAW_EVERY):
            return
        self._drawn = now
        done = (row - 1 + share) / rows if rows > 0 else share
        line = (f"row {row} of {rows}: " if rows > 0 else "") + \
            f"{int(share * 100.0)}% of the trajectories"
        if done > 0.0:
            elapsed = now - self._start
            left = int(elapsed / done - elapsed + 0.5)
            line += f", about {(left + 30) // 60} min left" if left >= 120 \
                else f", about {left} s left"
        self._draw(line)

    def _draw(self, line):
        stream = sys.stderr
        if getattr(stream, "isatty", lambda: False)():
            stream.write("\r" + line + "\x1b[K")
        else:
            stream.write("\r" + line + " " * max(self._width - len(line), 0) +
                         ("\r" if not line else ""))
        stream.flush()
        self._width = len(line)

    def close(self, ended):
        del ended  # the line goes either way
        if self._drawn is not None:
            self._draw("")


class _ProgressBar:
    """A tqdm bar (tqdm.auto: a widget in a notebook) over the run's rows, a row's share done
    as a fraction of a row."""

    def __init__(self, tqdm):
        self._tqdm = tqdm
        self._bar = None

    def __call__(self, row, rows, share):
        if self._bar is None:
            self._bar = self._tqdm(total=rows, unit="row")
        done = row - 1 + share
        if done > self._bar.n:
            self._bar.update(done - self._bar.n)

    def close(self, ended):
        """Closes the bar: full when the run `ended`, where it stood otherwise."""
        if self._bar is None:
            return
        try:
            if ended and self._bar.n < self._bar.total:
                self._bar.update(self._bar.total - self._bar.n)
        finally:
            self._bar.close()


def _progress_shower():
    """A tqdm bar where tqdm is installed (Debian's python3-tqdm), else the progress line."""
    try:
        from tqdm.auto import tqdm
    except ImportError:
        return _ProgressLine()
    return _ProgressBar(tqdm)


# A DataFrame of quotes, as the messages name it: its line N is the frame's row N - 2.
_FRAME_NAME = "the DataFrame (line 2 is its first row)"


def _run(table, batch, settings, seed, exact, chain, threads, first, last, trading_days,
         quotes=None, progress=False, calibrate=None):
    """The results file's text of the batch.csv text `batch`, and the calibration report's
    text (None without `calibrate`)."""
    shower = _progress_shower() if progress else None
    ended = False
    frame = quotes if isinstance(quotes, pd.DataFrame) else None
    try:
        with tempfile.TemporaryDirectory(prefix="empricer-") \
                if isinstance(calibrate, pd.DataFrame) else contextlib.nullcontext() as work:
            calibrate_frame = None
            if isinstance(calibrate, pd.DataFrame):
                calibrate_frame = os.path.join(work, "calibrate.csv")
                calibrate.to_csv(calibrate_frame, index=False)
                calibrate = calibrate_frame
            try:
                # A frame's quotes are read from its CSV text in memory, named "quotes".
                texts = _empricer.run_rows(
                    table._table, settings._settings, batch, _whole(seed), bool(exact),
                    bool(chain), _whole(threads), _whole(first), _whole(last),
                    float(trading_days),
                    None if quotes is None or frame is not None else _path("quotes", quotes),
                    shower, None if calibrate is None else _path("calibrate", calibrate),
                    None if frame is None else frame.to_csv(index=False))
            except ValueError as refused:
                if frame is not None and str(refused).startswith("Error reading file: quotes:"):
                    raise ValueError(_frame_refusal("quotes", str(refused), frame.index)) \
                        from None
                # The frame's temporary file is no name for the caller.
                if calibrate_frame is None or calibrate_frame not in str(refused):
                    raise
                raise ValueError(str(refused).replace(calibrate_frame, _FRAME_NAME)) from None
            except OSError as failure:
                if calibrate_frame is None or calibrate_frame not in str(failure):
                    raise
                raise type(failure)(str(failure).replace(calibrate_frame, _FRAME_NAME)) \
                    from None
        ended = True
        return texts
    finally:
        if shower is not None:
            shower.close(ended)


# The parts of the calibration report, each under its own header line.
_REPORT_PARTS = ("line,S0,", "S0,days,", "S0,relative_entropy,")


def _calibration_report(text):
    """The calibration report's text as a DataFrame of its quoted prices (the columns of its
    first part), the expiries' and the S0s' parts as DataFrames in its attrs."""
    lines = text.splitlines(keepends=True)
    starts = [next(i for i, line in enumerate(lines) if line.startswith(head))
              for head in _REPORT_PARTS]
    ends = starts[1:] + [len(lines)]
    parts = [_frame("".join(lines[a:b])) for a, b in zip(starts, ends)]
    prices, expiries, spots = parts
    prices.attrs["expiries"] = expiries.to_dict("list")
    prices.attrs["S0s"] = spots.to_dict("list")
    return prices


def chain(table, rows, settings, seed=None, exact=False, chain=True, threads=None,
          progress=False, first=None, last=None, trading_days=252.0, quotes=None,
          calibrate=None):
    """The same as a DataFrame: the columns of the results file, one line per row and path,
    numbers as the same doubles, empty fields as NaN. The options (`quotes` among them) and
    their errors are those of results_text; ``chain=True`` is the default here, where the
    command line goes row by row.

    `progress=True` shows the run's progress: a tqdm bar over the rows where tqdm is installed
    (Debian's python3-tqdm), otherwise the command line's progress line on standard error.

    `calibrate` is ``--calibrate``: a quotes file's path, or a DataFrame with its columns (as
    for `quotes`), every row valued under the measure on whole paths that reprices them; it
    needs `exact`, or a `seed` with `chain`. Then the result is a pair: the results frame, and
    the report of ``--calibration-report`` as a DataFrame, one line per quoted price with the
    columns of its first part (line, S0, side, K, days, bid, ask, model, inside, residual,
    residual_vol, multiplier), its other parts in ``report.attrs["expiries"]`` (S0, days,
    forward, mu) and ``report.attrs["S0s"]`` (S0, relative_entropy, effective_share, sweeps,
    met), each a dict of column lists. What the command line refuses is a ValueError whose
    message begins "calibrate: " (an S0 without quotes, an arbitrage between quotes, a price
    no measure on the paths can meet), or names ``--calibrate`` (neither `exact` nor
    `chain`); a file that cannot be opened an OSError."""
    text, report = _run(table, _rows_text(rows), settings, seed, exact, chain, threads, first,
                        last, trading_days, quotes, progress, calibrate)
    if calibrate is None:
        return _frame(text)
    return _frame(text), _calibration_report(report)


def value(table, spot, strike, days, settings, seed=None, exact=False, threads=None,
          trading_days=252.0, quotes=None):
    """One option, as a manual run with ``--results`` values it: five lines, one per path. The
    options and their errors are those of results_text; spot, strike and days are refused as
    the rows there are (e.g. "spot is nan: spot must be a finite number")."""
    batch = _rows_text(([spot], [strike], [days]), ("spot", "strike", "days"), indexed=False)
    return _frame(_run(table, batch, settings, seed, exact, False, threads, None, None,
                       trading_days, quotes)[0])


# The report's counts: whole numbers.
_COUNTS = {"prices", "sessions", "returns", "overnight gaps", "table rows", "at most"}
_CLOSING = re.compile(r"The table's mean differs from the target's by (\S+) standard "
                      r"deviations, its standard deviation by (\S+)%\.")
_FIELD = re.compile(r"(\S+)(?: \((.*)\))?$")


def _report(text):
    """The report's figures, every one a number or a dict of numbers (a tuple where a row's
    fields do not match its block's columns); its text as it is under "text". See build_table
    for the keys."""
    figures = {}
    columns = None  # the heading's column names, within a block
    for line in text.splitlines():
        if not line.strip():
            columns = None
            continue
        closing = _CLOSING.fullmatch(line.strip())
        if closing:
            figures["mean difference"] = float(closing.group(1))
            figures["standard deviation difference"] = float(closing.group(2))
            continue
        name, *fields = re.split(r"\s{2,}", line.strip())
        if not fields:
            continue
        parsed = [_FIELD.match(field) for field in fields]
        try:
            numbers = [float(match.group(1)) for match in parsed]
        except (AttributeError, ValueError):
            columns = fields  # a block's heading
            continue
        days = re.fullmatch(r"daily x sqrt\((\S+) trading days\)", parsed[-1].group(2) or "")
        if days:
            figures["trading days"] = float(days.group(1))
        if name in _COUNTS:
            figures[name] = int(numbers[0])
        elif len(numbers) == 1:
            figures[name] = numbers[0]
        elif columns is not None and len(columns) == len(numbers):
            figures[name] = dict(zip(columns, numbers))
        else:
            figures[name] = tuple(numbers)
    figures["text"] = text
    return figures


def _fit_quotes(text):
    """The per-quote table of a fit's report as a DataFrame (one row per quoted price)."""
    lines = text.splitlines()
    start = lines.index("The quotes, priced exactly with the table:") + 2
    rows = []
    for line in lines[start:]:
        if not line.strip():
            break
        line_no, side, spot, strike, days, bid, ask, fitted, residual, vol, inside = line.split()
        rows.append({"line": int(line_no), "side": side, "S0": float(spot), "K": float(strike),
                     "days": int(days), "bid": float(bid), "ask": float(ask),
                     "fitted": float(fitted), "residual": float(residual),
                     "vol_residual": float(vol), "inside": inside == "yes"})
    return pd.DataFrame(rows, columns=["line", "side", "S0", "K", "days", "bid", "ask", "fitted",
                                       "residual", "vol_residual", "inside"])


def build_table(prices, session=None, returns_per_day="auto", with_gaps=False, mean=None,
                column=None, carry=None, setup=None, max_rows=None, trading_days=None,
                allow_jumps=False, target_vol=None, fit=None):
    """empricer-dist in process: a Table from a price history (a file's path, a pandas Series
    of prices, or a DataFrame with a price column), and the report's figures as a dict. The
    options are empricer-dist's; a Series is written with its index as column ``datetime``.

    The figures are numbers as the report prints them (six digits), the text apart:
    - whole numbers: "prices", "sessions", "returns", "table rows", "at most", and with
      `session` "overnight gaps";
    - floats: "gap mean" and "gap standard deviation" (with `session` and gaps), "returns per
      day", "scale factor", "mean per step", "trading days" (the year of the annualised
      volatility), "mean difference" (the table's mean from the target's, in target standard
      deviations) and "standard deviation difference" (in percent);
    - dicts by column, per step ("data", "target", "table as drawn"): "mean", "standard
      deviation", "skewness", "excess kurtosis", "minimum", "maximum"; per day ("in session",
      "close to close", "table as drawn" with `session`, else "data", "table as drawn"):
      "daily mean", "daily standard deviation", "annualised volatility";
    - "text": the whole report, with how each figure was found; "warnings": the warnings'
      texts.

    ``mean`` is "data" (what None means), "risk-neutral", "canonical" (the history's returns
    kept, their weights tilted onto the risk-neutral mean: the figures then hold ``theta``,
    ``relative entropy`` and ``effective sample size``) or a number; ``setup`` and ``carry``
    go with the last two words. ``target_vol`` is ``--target-vol`` (the figures hold ``c``
    too); ``fit`` is ``--fit``: a quotes file's path or a DataFrame in its format (columns S0,
    K, days and call, put or their bid and ask), and the figures then hold ``down``, ``up``,
    ``tail``, ``inside``, ``objective`` and ``quotes``, the per-quote table as a DataFrame.
    Neither takes a ``mean``: as on the command line, giving one raises. The table is the
    command line's, double for double."""
    with tempfile.TemporaryDirectory(prefix="empricer-") as work:
        if isinstance(prices, (str, os.PathLike)):
            path = os.fspath(prices)
        else:
            path = os.path.join(work, "prices.csv")
            frame = prices.to_frame(name="close") if isinstance(prices, pd.Series) else prices
            frame.to_csv(path, index=isinstance(prices, pd.Series), index_label="datetime")
        args = ["--out", os.path.join(work, "dist.csv"), "--returns-per-day", str(returns_per_day)]
        fit_frame = None
        if fit is not None and not isinstance(fit, (str, os.PathLike)):
            quotes = os.path.join(work, "quotes.csv")
            fit.to_csv(quotes, index=False)
            fit_frame = (quotes, fit.index)
            fit = quotes
        for name, value in (("--mean", mean), ("--session", session), ("--column", column),
                            ("--carry", carry), ("--setup", setup), ("--max-rows", max_rows),
                            ("--trading-days", trading_days), ("--target-vol", target_vol),
                            ("--fit", None if fit is None else os.fspath(fit))):
            if value is not None:
                args += [name, str(value)]
        if with_gaps:
            args.append("--with-gaps")
        if allow_jumps:
            args.append("--allow-jumps")
        try:
            table, report, warnings = _empricer.build_table(args + [path])
        except (ValueError, OSError) as refused:
            if fit_frame is None or fit_frame[0] not in str(refused):
                raise
            raise ValueError(_fit_frame_refusal(str(refused), *fit_frame)) from None
    result = Table.__new__(Table)
    result._table = table
    figures = _report(report)
    if fit is not None:
        figures["quotes"] = _fit_quotes(report)
    figures["warnings"] = list(warnings)
    return result, figures
