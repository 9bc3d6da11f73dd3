"""Every name of velnor_lib used with full annotations: type checkers run over this file, and so can Python.

    mypy --strict examples/typed_usage.py && basedpyright examples/typed_usage.py && python examples/typed_usage.py

`assert_type` lines pin the exact types that the stubs give; the lines marked `# type: ignore[...]` in
`refused` must stay errors (mypy --strict reports an ignore that is no longer needed).
"""

from __future__ import annotations

import copy
import json
import pickle
from collections.abc import Iterator
from typing import TYPE_CHECKING, Literal

import velnor_lib
from velnor_lib import (
    ChunksIter,
    Interval,
    Span,
    iter_chunk,
    match_byte_indices,
    match_indices,
    match_utf16_indices,
    rmatch_byte_indices,
    rmatch_indices,
    rmatch_utf16_indices,
    utf16len,
)

if TYPE_CHECKING:
    from typing_extensions import assert_type

    from velnor_lib import SupportsToInterval, SupportsToSpan
else:

    def assert_type(value, _type):
        return value


class Shift:
    """A foreign type that Span(...) and Interval(...) accept through its conversion hooks."""

    def __init__(self, start: int, end: int) -> None:
        self.start, self.end = start, end

    def to_span(self) -> Span:
        return Span([(self.start, self.end)])

    def to_interval(self) -> Interval:
        return Interval([(True, self.start, self.end, False)])


def as_span(source: SupportsToSpan) -> Span:
    return Span(source)


def as_interval(source: SupportsToInterval) -> Interval:
    return Interval(source)


def spans() -> None:
    week = Span([(1, 5), (8, 12)])
    holidays = Span(((4, 4), (11, 12)))
    assert_type(week.segments, list[tuple[int, int]])
    assert_type(week | holidays, Span)
    assert_type(week & holidays, Span)
    assert_type(week - holidays, Span)
    assert_type(4 in week, bool)
    assert_type(week <= holidays, bool)
    assert_type(week.to_interval(), Interval)
    work = week.copy()
    work -= holidays
    work |= Span([(20, 20)])
    work &= week
    work.difference_update(holidays)
    work.union_update()
    work.intersection_update(week, week.union(holidays))
    assert_type(work.union_update(holidays), None)
    assert_type(Span.__hash__, None)
    assert week.intersection(holidays) == week & holidays
    assert week.difference(holidays, Span()) == week - holidays
    assert week.isdisjoint(Span([(6, 7)])) and holidays.issubset(week) and week.issuperset(holidays)
    assert week != holidays and holidays < week and week > holidays and week >= week
    assert as_span(Shift(2, 3)) == Span(Span([(2, 3)]))
    assert Span(None) == Span() == Span([])
    by_segments: dict[tuple[tuple[int, int], ...], str] = {tuple(week.segments): "week"}
    restored = Span([(a, b) for a, b in json.loads(json.dumps(week.segments))])
    assert by_segments[tuple(restored.segments)] == "week"
    members: list[int] = [x for a, b in week.segments for x in range(a, b + 1)]
    assert members[:3] == [1, 2, 3]


def intervals() -> None:
    unit = Interval([(True, 0, 1, False)])
    tail = Interval([(False, 0.5, float("inf"), False)])
    assert_type(unit.segments, list[tuple[bool, float, float, bool]])
    assert_type(unit | tail, Interval)
    assert_type(unit & tail, Interval)
    assert_type(unit - tail, Interval)
    assert_type(0.5 in unit, bool)
    both = unit.copy()
    both |= tail
    both &= Interval([(True, -1, 10, True)])
    both -= Interval([(True, 2, 3, True)])
    both.union_update(unit)
    both.intersection_update(both.union(tail))
    both.difference_update(Interval())
    assert unit.intersection(tail) == unit & tail and unit.difference(tail) == unit - tail
    assert not unit.isdisjoint(tail) and unit.issubset(both) and both.issuperset(unit)
    assert unit < both and both > unit and unit <= unit and unit >= unit and unit != tail
    assert 0 in Interval(Span([(0, 0)])) and Interval(unit) == unit
    assert as_interval(Shift(0, 1)) == unit


def text() -> None:
    line = "a\u00e9\u20ac\U0001f600a"
    found: list[int] = match_indices(line, "a")
    assert found == [0, 4]
    assert match_utf16_indices(line, "a") == [0, 5]
    assert match_byte_indices(string=line, substring="a") == [0, 10]
    assert rmatch_indices(line, "a") == [4, 0]
    assert rmatch_utf16_indices(line, "a") == [5, 0]
    assert rmatch_byte_indices(line, "a") == [10, 0]
    assert_type(utf16len(line), int)


def chunks() -> None:
    batches = iter_chunk(range(5), 2)
    assert_type(batches, "ChunksIter[int]")
    assert_type(next(batches), list[int])
    rest: Iterator[list[int]] = iter(batches)
    assert list(rest) == [[2, 3], [4]]
    words: ChunksIter[str] = iter_chunk(iter="abc", chunk_size=2)
    assert [w for chunk in words for w in chunk] == ["a", "b", "c"]
    optional: ChunksIter[int | None] = iter_chunk([1, None], 5)
    assert next(optional) == [1, None]


def copies_and_pickles() -> None:
    week = Span([(1, 5)])
    hours = Interval([(True, 9.0, 17.0, False)])
    assert_type(copy.copy(week), Span)
    assert_type(copy.deepcopy(hours), Interval)
    assert_type(week.__copy__(), Span)
    assert_type(hours.__deepcopy__({}), Interval)
    reconstruct, (name, state) = week.__reduce__()
    assert_type(name, Literal["Span"])
    assert_type(state, bytes)
    assert reconstruct(name, state) == week
    assert pickle.loads(pickle.dumps([week, hours])) == [week, hours]


def refused() -> None:
    """Never called: each line must stay a type error."""
    _ = Span() & [(1, 2)]  # type: ignore[operator]
    _ = "a" in Span()  # type: ignore[operator]
    _ = Span([(1.5, 2)])  # type: ignore[list-item]
    _ = Interval([(1, 0, 1, True)])  # type: ignore[list-item]
    Interval().segments = []  # type: ignore[misc]
    _ = Span().union([(1, 2)])  # type: ignore[arg-type]
    _ = Interval().union(Span())  # type: ignore[arg-type]
    _ = match_indices(b"abc", "a")  # type: ignore[arg-type]
    _ = iter_chunk(5, 1)  # type: ignore[arg-type]


def main() -> None:
    assert velnor_lib.__all__[-1] == "__version__"
    assert isinstance(velnor_lib.__version__, str)
    spans()
    intervals()
    text()
    chunks()
    copies_and_pickles()
    print("typed usage: all checks passed")


if __name__ == "__main__":
    main()
