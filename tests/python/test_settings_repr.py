"""Settings from trading days, and the reprs of Settings and Table: trading_days=N is the
Setup.txt whose key 4 is N / 270, and each repr evaluates back to the same values."""

from pathlib import Path

import numpy as np
import pytest

import empricer

ROOT = Path(__file__).resolve().parents[2]
QUOTES_SETUP = ROOT / "examples" / "quotes" / "Setup.txt"  # key 4 = 0.9333333333333333
DIST = ROOT / "examples" / "history" / "dist.csv"


def values(settings):
    return (settings.rate, settings.step_fraction, settings.shifts, settings.trajectories,
            settings.probabilities)


def test_trading_days_values_as_the_setup_file_with_key_4_as_n_over_270(tmp_path):
    setup = tmp_path / "Setup.txt"
    setup.write_text(QUOTES_SETUP.read_text().replace("2 Trajectories 10000", "2 Trajectories 300"))
    read = empricer.Settings.read(setup)
    made = empricer.Settings(rate=0.045, trading_days=252, trajectories=300, probabilities=True)
    assert values(made) == values(read)
    table = empricer.Table.read_csv(DIST)
    rows = ([1250.0, 1250.0], [1200.0, 1300.0], [5, 20])
    assert (empricer.results_text(table, rows, made, seed=3)
            == empricer.results_text(table, rows, read, seed=3))
    # The default stays key 4 = 1, a year of 270 trading days.
    assert values(empricer.Settings()) == values(empricer.Settings(trading_days=270))
    assert values(empricer.Settings()) == values(empricer.Settings(step_scale=1))


@pytest.mark.parametrize("keywords", [dict(trading_days=252, step_scale=1.0),
                                      dict(trading_days=0), dict(trading_days=-252),
                                      dict(trading_days=float("nan")),
                                      dict(trading_days=float("inf"))])
def test_trading_days_refused(keywords):
    with pytest.raises(ValueError):
        empricer.Settings(**keywords)


def test_settings_repr_evaluates_back_to_the_same_values():
    rng = np.random.default_rng(7)
    cases = [empricer.Settings(), empricer.Settings(rate=0.0155, trading_days=252),
             empricer.Settings(rate=-0.01, shifts=(1.1, 0.9, 1.05, 0.95), trajectories=3,
                               probabilities=True, step_scale=0.123456789),
             empricer.Settings.read(QUOTES_SETUP)]
    # Key 4 values of no whole number of trading days.
    cases += [empricer.Settings(step_scale=s) for s in rng.uniform(0.01, 3.0, 300)]
    for settings in cases:
        text = repr(settings)
        assert values(eval(text, {"empricer": empricer})) == values(settings), text
    assert "trading_days=252," in repr(empricer.Settings(trading_days=252))
    assert "step_scale=0.123456789," in repr(cases[2])


def test_table_repr():
    small = empricer.Table([-0.01, 0.0, 1 / 3], [1, 2, 1])
    back = eval(repr(small), {"empricer": empricer})
    assert back.returns.tolist() == small.returns.tolist()
    assert back.weights.tolist() == small.weights.tolist()
    large = empricer.Table.read_csv(DIST)
    text = repr(large)
    assert text.startswith(f"<empricer.Table of {len(large.returns)} rows: returns [")
    assert f"{large.returns[0]:.6g}, " in text and f", {large.returns[-1]:.6g}]" in text
