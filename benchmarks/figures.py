"""A figure of the benchmarks against its bar, and the ways of measuring one."""

from __future__ import annotations

import timeit
from typing import NamedTuple


class Row(NamedTuple):
    figure: str
    value: str
    bar: str
    ok: bool | None  # None: not measured


def race(entries: dict[str, tuple[str, dict]], number: int, rounds: int) -> dict[str, float]:
    """Best seconds per execution of each statement, timed in interleaved rounds."""
    timers = {name: timeit.Timer(stmt, globals=env) for name, (stmt, env) in entries.items()}
    best = dict.fromkeys(timers, float("inf"))
    for _ in range(rounds):
        for name, timer in timers.items():
            best[name] = min(best[name], timer.timeit(number) / number)
    return best


def at_most(figure: str, value: float, bar: float, unit: str = "x") -> Row:
    return Row(figure, f"{value:.3f}{unit}", f"<= {bar:g}{unit}", value <= bar)


def at_least(figure: str, value: float, bar: float, unit: str) -> Row:
    return Row(figure, f"{value:,.1f}{unit}", f">= {bar:g}{unit}", value >= bar)
