"""Span comparisons (set equality and inclusion), hashing, text forms and the protocols a span leaves out."""

import operator

import pytest
from hypothesis import given
from hypothesis import strategies as st

from conftest import unhashable_message
from velnor_lib import Span

MIN = -(2**63)
MAX = 2**63 - 1

SIX = [operator.eq, operator.ne, operator.lt, operator.le, operator.gt, operator.ge]


# left, right, expected (==, !=, <, <=, >, >=)
COMPARISONS = [
    ([(1, 3), (4, 6)], [(1, 6)], (True, False, False, True, False, True)),
    ([], [], (True, False, False, True, False, True)),
    ([], [(1, 1)], (False, True, True, True, False, False)),
    ([(1, 1)], [], (False, True, False, False, True, True)),
    ([(1, 5)], [(1, 5)], (True, False, False, True, False, True)),
    ([(1, 3)], [(5, 7)], (False, True, False, False, False, False)),
    ([(1, 3)], [(3, 7)], (False, True, False, False, False, False)),
    ([(1, 3), (5, 7)], [(1, 7)], (False, True, True, True, False, False)),
    ([(1, 7)], [(1, 3), (5, 7)], (False, True, False, False, True, True)),
    ([(2, 3)], [(1, 4)], (False, True, True, True, False, False)),
    ([(1, 4)], [(1, 3)], (False, True, False, False, True, True)),
    ([(0, 0), (9, 9)], [(0, 9)], (False, True, True, True, False, False)),
    ([(MIN, MAX)], [(MIN, MAX - 1)], (False, True, False, False, True, True)),
    ([(MIN, MIN)], [(MIN, MAX)], (False, True, True, True, False, False)),
    ([(MIN, MIN), (MAX, MAX)], [(MIN, MIN), (MAX, MAX)], (True, False, False, True, False, True)),
    ([(MIN, -1), (0, MAX)], [(MIN, MAX)], (True, False, False, True, False, True)),
]


@pytest.mark.parametrize(("left", "right", "expected"), COMPARISONS)
def test_six_comparisons(left, right, expected):
    a, b = Span(left), Span(right)
    assert tuple(compare(a, b) for compare in SIX) == expected
    assert tuple(compare(b, a) for compare in SIX) == tuple(expected[i] for i in (0, 1, 4, 5, 2, 3))
    assert (a.segments, b.segments) == (Span(left).segments, Span(right).segments)


def test_a_span_equals_itself():
    s = Span([(1, 3)])
    assert (s == s, s != s, s < s, s <= s, s > s, s >= s) == (True, False, False, True, False, True)


@pytest.mark.parametrize("foreign", [[(1, 2)], (1, 2), None, 5, "Span([(1, 2)])"])
def test_foreign_operand(foreign):
    s = Span([(1, 2)])
    assert (s == foreign, foreign == s, s != foreign, foreign != s) == (False, False, True, True)
    name = type(foreign).__name__
    for symbol, compare in zip(["<", "<=", ">", ">="], SIX[2:]):
        with pytest.raises(TypeError) as caught:
            compare(s, foreign)
        assert str(caught.value) == f"'{symbol}' not supported between instances of 'velnor_lib.Span' and '{name}'"
    assert s.__eq__(foreign) is NotImplemented and s.__lt__(foreign) is NotImplemented


class Witness:
    """Records the reflected comparison the interpreter asks of it once Span declines."""

    def __eq__(self, other):
        return "eq"

    def __ge__(self, other):
        return "ge"


def test_foreign_operand_gets_the_reflected_comparison():
    s = Span([(1, 2)])
    assert (s == Witness(), s <= Witness(), s != Witness()) == ("eq", "ge", False)


def test_unhashable():
    assert Span.__hash__ is None
    for action in [lambda s: hash(s), lambda s: {s}, lambda s: {s: 1}]:
        with pytest.raises(TypeError) as caught:
            action(Span())
        assert str(caught.value) == unhashable_message(action, "velnor_lib.Span")


@pytest.mark.parametrize(
    ("segments", "text_repr", "text_str"),
    [
        ([], "Span([])", "\u2205"),
        ([(1, 3)], "Span([(1, 3)])", "[1, 3]"),
        ([(7, 7)], "Span([(7, 7)])", "[7, 7]"),
        ([(1, 3), (5, 7)], "Span([(1, 3), (5, 7)])", "[1, 3] \u222a [5, 7]"),
        ([(-5, -2), (1, 3)], "Span([(-5, -2), (1, 3)])", "[-5, -2] \u222a [1, 3]"),
        (
            [(0, 0), (-10, -10), (100, 1000)],
            "Span([(-10, -10), (0, 0), (100, 1000)])",
            "[-10, -10] \u222a [0, 0] \u222a [100, 1000]",
        ),
        (
            [(MIN, MIN), (MAX, MAX)],
            "Span([(-9223372036854775808, -9223372036854775808), (9223372036854775807, 9223372036854775807)])",
            "[-9223372036854775808, -9223372036854775808] \u222a [9223372036854775807, 9223372036854775807]",
        ),
        (
            [(MIN, MAX)],
            "Span([(-9223372036854775808, 9223372036854775807)])",
            "[-9223372036854775808, 9223372036854775807]",
        ),
    ],
)
def test_text_forms(segments, text_repr, text_str):
    s = Span(segments)
    assert repr(s) == text_repr
    assert str(s) == text_str
    assert format(s) == text_str


bound = st.one_of(st.integers(-50, 50), st.integers(MIN, MAX), st.integers(MIN, MIN + 3), st.integers(MAX - 3, MAX))


@given(st.lists(st.tuples(bound, bound).map(sorted).map(tuple), max_size=8))
def test_repr_rebuilds_an_equal_span(pairs):
    s = Span(pairs)
    assert eval(repr(s), {"Span": Span}) == s
    pieces = [f"[{start}, {end}]" for start, end in s.segments]
    assert str(s) == (" \u222a ".join(pieces) if pieces else "\u2205")


def test_protocols_left_out():
    assert bool(Span()) is True and bool(Span([(1, 1)])) is True
    for action, stand_in in [(len, object()), (iter, object()), (list, object()), (reversed, 5)]:
        with pytest.raises(TypeError) as caught:
            action(Span())
        with pytest.raises(TypeError) as expected:
            action(stand_in)
        name = type(stand_in).__name__
        assert str(caught.value) == str(expected.value).replace(f"'{name}'", "'velnor_lib.Span'")
    for symbol, action in [("^", operator.xor), ("+", operator.add), ("^=", operator.ixor)]:
        with pytest.raises(TypeError) as caught:
            action(Span(), Span())
        assert str(caught.value) == f"unsupported operand type(s) for {symbol}: 'velnor_lib.Span' and 'velnor_lib.Span'"
