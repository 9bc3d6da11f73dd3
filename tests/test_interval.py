"""Interval: construction, validation, normalisation, set algebra, comparisons, text forms, Span.to_interval."""

import math
import random
import sys
from decimal import Decimal
from fractions import Fraction

import pytest
from hypothesis import given
from hypothesis import strategies as st

import velnor_lib
from conftest import unhashable_message
from interval_notation import iv
from velnor_lib import Interval, Span

inf = math.inf
nan = math.nan


def raises(exception, message, call):
    with pytest.raises(exception) as caught:
        call()
    assert type(caught.value) is exception
    assert str(caught.value) == message
    return caught.value


# --- construction ---------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "make",
    [Interval, lambda: Interval(None), lambda: Interval([]), lambda: Interval(()), lambda: Interval(input=None)],
)
def test_missing_input_gives_an_empty_interval(make):
    value = make()
    assert type(value) is Interval
    assert value.segments == []


@pytest.mark.parametrize(
    "segments, expected",
    [
        ([(True, 1, 1, True)], [(True, 1.0, 1.0, True)]),
        ([(True, 1, 1, False)], []),
        ([(False, 1, 1, True)], []),
        ([(False, 1, 1, False)], []),
        ([(False, inf, inf, False)], []),
        ([(False, -inf, -inf, False)], []),
        ([(False, -inf, inf, False)], [(False, -inf, inf, False)]),
        ([(False, -inf, 0, True)], [(False, -inf, 0.0, True)]),
        ([(True, 3, 4, True), (True, 1, 2, False), (True, 2, 3, False)], [(True, 1.0, 4.0, True)]),
        ([(False, 1, 2, False), (False, 2, 3, False)], [(False, 1.0, 2.0, False), (False, 2.0, 3.0, False)]),
        ([(True, 1, 2, False), (True, 2, 3, True)], [(True, 1.0, 3.0, True)]),
        ([(True, 1, 2, True), (False, 1, 3, False)], [(True, 1.0, 3.0, False)]),
        ([(False, 1, 3, False), (True, 1, 2, True)], [(True, 1.0, 3.0, False)]),
        ([(True, 0, 2, False), (True, 1, 2, True)], [(True, 0.0, 2.0, True)]),
        ([(True, 0, 10, True), (True, 2, 3, True)], [(True, 0.0, 10.0, True)]),
        ([(True, 5, 5, True), (False, 5, 7, False)], [(True, 5.0, 7.0, False)]),
        ([(False, 5, 7, False), (True, 5, 5, True)], [(True, 5.0, 7.0, False)]),
        ([(False, 0, 1, True), (False, 1, 2, False)], [(False, 0.0, 2.0, False)]),
        ([(False, 0, 1, False), (True, 1, 1, True), (False, 1, 2, False)], [(False, 0.0, 2.0, False)]),
        ([(True, 4, 5, True), (True, 1, 1, False), (True, 0, 0.5, True)], [(True, 0, 0.5, True), (True, 4, 5, True)]),
    ],
)
def test_segments_are_validated_and_merged(segments, expected):
    assert Interval(segments).segments == expected


def test_bounds_accept_anything_with_a_float_conversion():
    class Half:
        def __float__(self):
            return 0.5

    class Pair(tuple):
        pass

    value = Interval((Pair((True, Fraction(1, 4), Half(), False)), (True, Decimal("0.75"), 1, True)))
    assert value.segments == [(True, 0.25, 0.5, False), (True, 0.75, 1.0, True)]
    assert all(type(bound) is float for segment in value.segments for bound in segment[1:3])


@pytest.mark.parametrize(
    "segments, message",
    [
        ([(True, 2, 1, True)], "Start point of segment cannot be greater than its end point"),
        ([(True, nan, 1, True)], "Segment points cannot be NaN"),
        ([(True, 2, nan, True)], "Segment points cannot be NaN"),
        ([(False, nan, -inf, False)], "Segment points cannot be NaN"),
        ([(True, -inf, 0, True)], "Interval cannot contain inf"),
        ([(False, 0, inf, True)], "Interval cannot contain inf"),
        ([(True, inf, inf, True)], "Interval cannot contain inf"),
        ([(False, inf, -inf, False)], "Start point of segment cannot be greater than its end point"),
        # The first offending segment decides; empty segments before it are dropped silently.
        ([(True, 1, 1, False), (True, 3, 2, True), (True, nan, 0, True)],
         "Start point of segment cannot be greater than its end point"),
        ([(True, 0, 1, True), (True, -inf, 1, True), (True, 2, 1, True)], "Interval cannot contain inf"),
    ],
)
def test_invalid_segments_raise_value_error(segments, message):
    raises(ValueError, message, lambda: Interval(segments))


@pytest.mark.parametrize(
    "value, type_name",
    [
        ([[True, 1, 2, True]], "list"),  # lists in place of tuples
        ([(1, 1, 2, True)], "list"),  # integer flags
        ([(True, 1, 2, 0)], "list"),
        ([(True, 1, 2)], "list"),
        ([(True, 1, 2, True, True)], "list"),
        ([(True, "a", 2, True)], "list"),
        ([(True, 2, 1, True), (True, 1, 2)], "list"),  # all items are converted before any is validated
        (5, "int"),
        (2.5, "float"),
        ("abc", "str"),
        ((s for s in [(True, 1, 2, True)]), "generator"),
        ({(True, 1, 2, True)}, "set"),
    ],
)
def test_input_of_no_usable_shape_looks_for_to_interval(value, type_name):
    raises(AttributeError, f"'{type_name}' object has no attribute 'to_interval'", lambda: Interval(value))


def test_to_interval_hook():
    class Hooked:
        def __init__(self, result):
            self.result = result

        def to_interval(self):
            return self.result

    class Failing:
        def to_interval(self):
            raise KeyError("no interval here")

    source = Interval([(True, 1, 2, False)])
    made = Interval(Hooked(source))
    assert made == source and made is not source
    source.union_update(Interval([(True, 5, 6, True)]))
    assert made.segments == [(True, 1.0, 2.0, False)]
    raises(TypeError, "'list' object cannot be converted to 'Interval'", lambda: Interval(Hooked([])))
    raises(TypeError, "'Span' object cannot be converted to 'Interval'", lambda: Interval(Hooked(Span())))
    error = raises(KeyError, "'no interval here'", lambda: Interval(Failing()))
    assert error.args == ("no interval here",)


def test_interval_input_is_copied():
    source = Interval([(False, 0, 1, True), (True, 3, 4, False)])
    made = Interval(source)
    assert made is not source and made.segments == source.segments
    made -= Interval([(True, 0, 10, True)])
    assert made.segments == [] and source.segments == [(False, 0.0, 1.0, True), (True, 3.0, 4.0, False)]
    source |= Interval([(True, 1, 3, True)])
    assert source.segments == [(False, 0.0, 4.0, False)] and made.segments == []


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Interval([], []), "Interval.__new__() takes from 0 to 1 positional arguments but 2 were given"),
        (lambda: Interval(inputs=[]), "Interval.__new__() got an unexpected keyword argument 'inputs'"),
        (lambda: Interval([], input=[]), "Interval.__new__() got multiple values for argument 'input'"),
        (lambda: Interval().copy(1), "Interval.copy() takes no arguments (1 given)"),
        (lambda: Span().to_interval(1), "Span.to_interval() takes no arguments (1 given)"),
        (lambda: Interval().union(other=Interval()), "Interval.union() got an unexpected keyword argument 'other'"),
        (lambda: Interval().issubset(), "Interval.issubset() missing 1 required positional argument: 'other'"),
        (lambda: Interval().isdisjoint(Interval(), Interval()),
         "Interval.isdisjoint() takes 1 positional arguments but 2 were given"),
        (lambda: Interval().isdisjoint(5), "argument 'other': 'int' object cannot be converted to 'Interval'"),
        (lambda: Interval().issuperset(other=Span()),
         "argument 'other': 'Span' object cannot be converted to 'Interval'"),
        (lambda: Interval().union(Interval(), 5), "'int' object cannot be converted to 'Interval'"),
        (lambda: Interval().difference([(True, 1, 2, True)]), "'list' object cannot be converted to 'Interval'"),
    ],
)
def test_binding_and_conversion_errors(call, message):
    raises(TypeError, message, call)


def test_segments_is_a_fresh_read_only_list():
    value = Interval([(True, 1, 2, False)])
    first = value.segments
    first.append((True, 5, 6, True))
    assert value.segments == [(True, 1.0, 2.0, False)]
    assert value.segments is not value.segments
    assert [type(item) for item in value.segments[0]] == [bool, float, float, bool]
    raises(AttributeError, "attribute 'segments' of 'velnor_lib.Interval' objects is not writable",
           lambda: setattr(value, "segments", []))


def test_copy_is_an_equal_independent_object():
    value = Interval([(True, -0.0, 1, False)])
    copied = value.copy()
    assert type(copied) is Interval and copied is not value and copied == value
    assert repr(copied) == "Interval([(True, -0, 1, False)])"
    copied |= Interval([(True, 1, 2, True)])
    assert value.segments == [(True, 0.0, 1.0, False)]
    assert Interval.copy.__doc__ == "Return a shallow copy of an Interval."


def test_class_facts():
    assert velnor_lib.__all__.index("Interval") < velnor_lib.__all__.index("Span")
    assert Interval.__doc__ == "A class used to represent intervals."
    assert Interval.__module__ == "velnor_lib"
    assert Interval.__hash__ is None
    assert Interval.isdisjoint.__doc__ == "Returns True if two Intervals do not overlap."
    assert Interval.issubset.__doc__ == "Return True if other contains this Interval, else False."
    assert Interval.issuperset.__doc__ == "Return True if this Interval contains other, else False."
    assert Interval.union.__doc__ is None and Span.to_interval.__doc__ is None
    for action in [hash, lambda value: {value}, lambda value: {value: 1}]:
        raises(TypeError, unhashable_message(action, "velnor_lib.Interval"), lambda: action(Interval()))
    raises(TypeError, "type 'velnor_lib.Interval' is not an acceptable base type", lambda: type("X", (Interval,), {}))
    raises(TypeError, "object of type 'velnor_lib.Interval' has no len()", lambda: len(Interval()))
    raises(TypeError, "'velnor_lib.Interval' object is not iterable", lambda: iter(Interval()))
    assert bool(Interval()) is True


# --- set algebra ----------------------------------------------------------------------------------------

# a, b, a | b, a & b, a - b
ALGEBRA = [
    ("[1, 2)", "[2, 3]", "[1, 3]", "∅", "[1, 2)"),
    ("(1, 2)", "(2, 3)", "(1, 2) ∪ (2, 3)", "∅", "(1, 2)"),
    ("[1, 2]", "[2, 3]", "[1, 3]", "[2, 2]", "[1, 2)"),
    ("(1, 2]", "(2, 3)", "(1, 3)", "∅", "(1, 2]"),
    ("(1, 3)", "[2, 5]", "(1, 5]", "[2, 3)", "(1, 2)"),
    ("[0, 10]", "[1, 2] ∪ [3, 4]", "[0, 10]", "[1, 2] ∪ [3, 4]", "[0, 1) ∪ (2, 3) ∪ (4, 10]"),
    ("[0, 1] ∪ [2, 3]", "[0.5, 2.5]", "[0, 3]", "[0.5, 1] ∪ [2, 2.5]", "[0, 0.5) ∪ (2.5, 3]"),
    ("[0, 3]", "[1, 1]", "[0, 3]", "[1, 1]", "[0, 1) ∪ (1, 3]"),
    ("[0, 1]", "(0, 1)", "[0, 1]", "(0, 1)", "[0, 0] ∪ [1, 1]"),
    ("[0, 1]", "∅", "[0, 1]", "∅", "[0, 1]"),
    ("∅", "[0, 1]", "[0, 1]", "∅", "∅"),
    ("(-inf, inf)", "[0, 1)", "(-inf, inf)", "[0, 1)", "(-inf, 0) ∪ [1, inf)"),
    ("(-inf, 0)", "(0, inf)", "(-inf, 0) ∪ (0, inf)", "∅", "(-inf, 0)"),
    ("(-inf, 0]", "[0, inf)", "(-inf, inf)", "[0, 0]", "(-inf, 0)"),
    ("[0, 5]", "(1, 2) ∪ [3, 4)", "[0, 5]", "(1, 2) ∪ [3, 4)", "[0, 1] ∪ [2, 3) ∪ [4, 5]"),
    ("(0, 1) ∪ (1, 2)", "[1, 1]", "(0, 2)", "∅", "(0, 1) ∪ (1, 2)"),
    ("[0, 1) ∪ (1, 2] ∪ [3, 4]", "(0.5, 3]", "[0, 4]", "(0.5, 1) ∪ (1, 2] ∪ [3, 3]", "[0, 0.5] ∪ (3, 4]"),
    ("[0, 2] ∪ [4, 6] ∪ [8, 10]", "(1, 9)", "[0, 10]", "(1, 2] ∪ [4, 6] ∪ [8, 9)", "[0, 1] ∪ [9, 10]"),
    ("[5, 5] ∪ [7, 7]", "(5, 7)", "[5, 7]", "∅", "[5, 5] ∪ [7, 7]"),
]


@pytest.mark.parametrize("a, b, union, intersection, difference", ALGEBRA)
def test_two_operand_algebra(a, b, union, intersection, difference):
    left, right = iv(a), iv(b)
    forms = {
        union: [left | right, left.union(right)],
        intersection: [left & right, left.intersection(right)],
        difference: [left - right, left.difference(right)],
    }
    for expected, results in forms.items():
        for result in results:
            assert type(result) is Interval
            assert str(result) == expected
    assert str(right | left) == union and str(right & left) == intersection
    assert str(left) == str(iv(a)) and str(right) == str(iv(b))


@pytest.mark.parametrize("a, b, union, intersection, difference", ALGEBRA)
@pytest.mark.parametrize(
    "name, operator",
    [("union", "__ior__"), ("intersection", "__iand__"), ("difference", "__isub__")],
)
def test_updating_forms_change_the_receiver(a, b, union, intersection, difference, name, operator):
    expected = {"union": union, "intersection": intersection, "difference": difference}[name]
    right = iv(b)
    receiver = iv(a)
    assert getattr(receiver, name + "_update")(right) is None
    assert str(receiver) == expected
    receiver = iv(a)
    assert getattr(receiver, operator)(right) is receiver
    assert str(receiver) == expected and str(right) == b


def test_in_place_operators_keep_the_object():
    value = Interval([(True, 0, 1, True)])
    same = value
    value |= Interval([(True, 2, 3, True)])
    value -= Interval([(False, 0, 1, False)])
    value &= Interval([(False, -inf, 2.5, False)])
    assert value is same and str(value) == "[0, 0] ∪ [1, 1] ∪ [2, 2.5)"


@pytest.mark.parametrize("operator, expected", [("&=", "[0, 1) ∪ [2, 2]"), ("|=", "[0, 1) ∪ [2, 2]"), ("-=", "∅")])
def test_in_place_with_itself_falls_back_to_a_new_object(operator, expected):
    value = Interval([(True, 0, 1, False), (True, 2, 2, True)])
    old = value
    namespace = {"value": value}
    exec(f"value {operator} value", namespace)
    value = namespace["value"]
    assert value is not old
    assert str(value) == expected
    assert str(old) == "[0, 1) ∪ [2, 2]"


@pytest.mark.parametrize("name", ["union_update", "intersection_update", "difference_update"])
def test_updating_with_itself_is_refused(name):
    value = Interval([(True, 0, 1, False)])
    other = Interval([(True, 5, 6, True)])
    raises(RuntimeError, "Already mutably borrowed", lambda: getattr(value, name)(value))
    raises(RuntimeError, "Already mutably borrowed", lambda: getattr(value, name)(other, value))
    assert value.segments == [(True, 0.0, 1.0, False)] and other.segments == [(True, 5.0, 6.0, True)]


@pytest.mark.parametrize("name", ["union", "intersection", "difference"])
def test_non_updating_forms_accept_the_receiver(name):
    value = Interval([(True, 0, 1, False)])
    result = getattr(value, name)(value, value)
    assert result is not value
    assert str(result) == ("∅" if name == "difference" else "[0, 1)")


@pytest.mark.parametrize("name", ["union_update", "intersection_update", "difference_update"])
def test_failed_update_leaves_the_receiver_unchanged(name):
    value = Interval([(True, 0, 1, False)])
    raises(TypeError, "'int' object cannot be converted to 'Interval'",
           lambda: getattr(value, name)(Interval([(True, 0, 9, True)]), 5))
    assert value.segments == [(True, 0.0, 1.0, False)]


@pytest.mark.parametrize("name", ["union", "intersection", "difference"])
def test_no_operands(name):
    value = iv("[0, 1) ∪ (2, 3]")
    result = getattr(value, name)()
    assert result is not value and result == value
    assert getattr(value, name + "_update")() is None
    assert str(value) == "[0, 1) ∪ (2, 3]"


@pytest.mark.parametrize(
    "a, b, c",
    [
        ("[0, 10]", "[1, 2]", "(2, 3)"),
        ("[0, 10] ∪ [20, 30]", "(5, 25)", "[9, 21]"),
        ("(-inf, inf)", "[0, 0]", "(0, 1]"),
        ("[0, 1)", "∅", "[1, 2]"),
    ],
)
def test_many_operands(a, b, c):
    x, y, z = iv(a), iv(b), iv(c)
    assert x.union(y, z) == (x | y) | z
    assert x.intersection(y, z) == (x & y) & z
    assert x.difference(y, z) == x - (y | z)
    for name, expected in [("union", (x | y) | z), ("intersection", (x & y) & z), ("difference", x - (y | z))]:
        receiver = x.copy()
        getattr(receiver, name + "_update")(y, z)
        assert receiver == expected
    assert str(x) == a and str(y) == b and str(z) == c


def type_text(value):
    """A type's name as the interpreter's messages show it (the module's classes carry their module)."""
    return f"velnor_lib.{type(value).__name__}" if type(value) in (Interval, Span) else type(value).__qualname__


@pytest.mark.parametrize("operator", ["&", "|", "-", "&=", "|=", "-="])
@pytest.mark.parametrize("other", [5, [(True, 0, 1, True)], Span([(0, 1)]), None])
def test_operators_refuse_foreign_operands(operator, other):
    value = Interval([(True, 0, 1, True)])
    names = {"value": value, "other": other}
    raises(TypeError, f"unsupported operand type(s) for {operator}: 'velnor_lib.Interval' and '{type_text(other)}'",
           lambda: exec(f"value {operator} other", names))
    raises(TypeError, f"unsupported operand type(s) for {operator}: '{type_text(other)}' and 'velnor_lib.Interval'",
           lambda: exec(f"other {operator} value", {"value": value, "other": other}))
    assert value.segments == [(True, 0.0, 1.0, True)]


# a, b, a.isdisjoint(b), a.issubset(b), a.issuperset(b)
TESTS = [
    ("[0, 1]", "[1, 2]", False, False, False),
    ("[0, 1)", "[1, 2]", True, False, False),
    ("[0, 1]", "(1, 2]", True, False, False),
    ("[1, 2]", "[1, 2]", False, True, True),
    ("[1, 2]", "(1, 2]", False, False, True),
    ("(1, 2]", "[1, 2]", False, True, False),
    ("∅", "[1, 2]", True, True, False),
    ("∅", "∅", True, True, True),
    ("[1, 2]", "∅", True, False, True),
    ("(0, 1) ∪ (1, 2)", "(0, 2)", False, True, False),
    ("(0, 2)", "(0, 1) ∪ (1, 2)", False, False, True),
    ("[1, 1]", "(0, 1) ∪ (1, 2)", True, False, False),
    ("[1, 1]", "[0, 1]", False, True, False),
    ("[3, 4]", "[0, 1] ∪ [2, 5]", False, True, False),
    ("[0, 1] ∪ [3, 4]", "[0, 4)", False, False, False),
    ("[0, 1] ∪ [3, 4)", "[0, 4)", False, True, False),
    ("[0, 1] ∪ [3, 4]", "[0, 2] ∪ (3, 4]", False, False, False),
    ("(-inf, 0)", "(0, inf)", True, False, False),
    ("[5, 6]", "(-inf, inf)", False, True, False),
    ("[0, 1) ∪ [2, 3)", "[1, 2) ∪ [3, 4)", True, False, False),
]


@pytest.mark.parametrize("a, b, disjoint, subset, superset", TESTS)
def test_relations(a, b, disjoint, subset, superset):
    x, y = iv(a), iv(b)
    assert x.isdisjoint(y) is disjoint and y.isdisjoint(other=x) is disjoint
    assert x.issubset(y) is subset and y.issuperset(x) is subset
    assert x.issuperset(y) is superset and y.issubset(other=x) is superset


@pytest.mark.parametrize(
    "a, inside, outside",
    [
        ("[1, 2)", [1, 1.5, True, Fraction(3, 2)], [2, 0.999, 2.5, -inf, inf, nan, False]),
        ("(1, 2)", [1.5], [1, 2, nan]),
        ("(-inf, inf)", [0, -1e308, 1e308, 2**1000], [-inf, inf, nan]),
        ("(-inf, 0) ∪ (0, inf)", [-5, 5], [0, -0.0, nan]),
        ("[-0, 0] ∪ [3, 3]", [0, -0.0, 3], [1, 2.999, 3.001]),
        ("(0, 1] ∪ [2, 3) ∪ (4, 5)", [1, 2, 2.5, 4.5], [0, 1.5, 3, 4, 5]),
        ("∅", [], [0, nan, inf]),
    ],
)
def test_membership(a, inside, outside):
    value = iv(a)
    assert all(x in value for x in inside)
    assert not any(x in value for x in outside)


@pytest.mark.parametrize("count", [2047, 2049, 5000])
def test_membership_of_long_intervals_at_every_bound(count):
    # Long intervals are searched through an index over the ends; a plain scan of the segments decides.
    rng = random.Random(count)
    points = sorted(rng.sample(range(10**6), 2 * count))
    segments = [(rng.random() < 0.5, points[2 * i] / 4, points[2 * i + 1] / 4, rng.random() < 0.5)
                for i in range(count)]
    segments[0] = (False, -inf, segments[0][2], segments[0][3])
    value = Interval(segments)

    def oracle(x):
        return any((a < x < b) or (x == a and lc) or (x == b and rc) for lc, a, b, rc in segments)

    probes = [inf, -inf, nan, -0.0] + [p + d for _, a, b, _ in segments[:: max(1, count // 60)]
                                        for p in (a, b) for d in (-0.25, 0, 0.125)]
    assert [x for x in probes if (x in value) is not oracle(x)] == []
    value |= Interval([(True, 1e7, 1e7, True)])
    assert 1e7 in value and 1e7 + 1 not in value


def test_membership_conversion_errors_propagate():
    value = Interval([(False, -inf, inf, False)])
    raises(TypeError, "must be real number, not str", lambda: "a" in value)
    raises(TypeError, "must be real number, not NoneType", lambda: None in value)
    raises(OverflowError, "int too large to convert to float", lambda: 2**1024 in value)


# --- comparisons ----------------------------------------------------------------------------------------

# a, b, then the answers of ==, !=, <, <=, >, >=
COMPARISONS = [
    ("∅", "∅", True, False, False, True, False, True),
    ("∅", "[0, 0]", False, True, True, True, False, False),
    ("[0, 0]", "∅", False, True, False, False, True, True),
    ("[0, 1]", "[0, 2]", False, True, True, True, False, False),
    ("[0, 1)", "[0, 1]", False, True, True, True, False, False),
    ("[0, 1]", "[0, 1)", False, True, False, False, True, True),
    ("[0, 1]", "[0, 1]", True, False, False, True, False, True),
    ("[0, 2]", "[1, 3]", False, True, False, False, False, False),
    ("[1, 3]", "[5, 7]", False, True, False, False, False, False),
    ("[-0, 1]", "[0, 1]", True, False, False, True, False, True),
    ("(0, 1) ∪ (1, 2)", "(0, 2)", False, True, True, True, False, False),
]


@pytest.mark.parametrize("a, b, eq, ne, lt, le, gt, ge", COMPARISONS)
def test_comparisons_are_set_relations(a, b, eq, ne, lt, le, gt, ge):
    x, y = iv(a), iv(b)
    assert [x == y, x != y, x < y, x <= y, x > y, x >= y] == [eq, ne, lt, le, gt, ge]


@pytest.mark.parametrize("other", [5, None, [(True, 0.0, 1.0, True)], Span([(0, 1)])])
def test_comparison_with_foreign_operands(other):
    value = Interval([(True, 0, 1, True)])
    assert (value == other) is False and (value != other) is True
    assert (other == value) is False and (other != value) is True
    for operator in ["<", "<=", ">", ">="]:
        with pytest.raises(TypeError) as caught:
            eval(f"value {operator} other", {"value": value, "other": other})
        assert str(caught.value) == (
            f"'{operator}' not supported between instances of 'velnor_lib.Interval' and '{type_text(other)}'"
        )


def test_an_interval_never_equals_a_span():
    span = Span([(1, 3)])
    assert span.to_interval() != span and span.to_interval() == Interval([(True, 1, 3, True)])


# --- text forms -----------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "value, text",
    [
        (1.0, "1"),
        (2.5, "2.5"),
        (0.1, "0.1"),
        (0.0, "0"),
        (-0.0, "-0"),
        (-2.5, "-2.5"),
        (1e21, "1" + "0" * 21),
        (1e-7, "0.0000001"),
        (1 / 3, "0.3333333333333333"),
        (float(2**70), "1180591620717411300000"),
        (float(2**53 + 2), "9007199254740994"),
        (123456.789, "123456.789"),
        (1e16, "10000000000000000"),
        (-1.5e-10, "-0.00000000015"),
        (5e-324, "0." + "0" * 323 + "5"),
        (1.7976931348623157e308, "17976931348623157" + "0" * 292),
    ],
)
def test_number_text(value, text):
    assert str(Interval([(True, value, value, True)])) == f"[{text}, {text}]"
    assert repr(Interval([(True, value, value, True)])) == f"Interval([(True, {text}, {text}, True)])"


def positional(value):
    """Python's shortest round-trip digits (its repr), written without an exponent."""
    return format(Decimal(repr(value)).normalize(), "f")


@given(st.floats(allow_nan=False, allow_infinity=False))
def test_number_text_is_the_shortest_round_trip_digits(value):
    text = str(Interval([(True, value, value, True)]))[1:].split(",")[0]
    assert text == positional(value)
    assert float(text) == value and math.copysign(1, float(text)) == math.copysign(1, value)


def test_number_text_at_every_power_of_two():
    # Where the doubles below a power of two are twice as dense as above, the nearest decimal of a length
    # may not read back when its neighbour does; subnormals and the largest doubles sit at the ends.
    values = [math.ldexp(1.0, exponent) for exponent in range(-1074, 1024)]
    values += [math.nextafter(value, direction) for value in values for direction in (0.0, math.inf)]
    values += [math.ulp(0.0) * k for k in range(1, 200)] + [sys.float_info.max, sys.float_info.min]
    segments = [(True, value, value, True) for value in sorted(set(values))]
    texts = [text.strip("[]") for text in str(Interval(segments)).split(" \u222a ")]
    assert texts == [positional(value) + ", " + positional(value) for _, value, _, _ in segments]


@pytest.mark.parametrize(
    "segments, text_repr, text_str",
    [
        ([], "Interval([])", "∅"),
        ([(True, 1, 2, False)], "Interval([(True, 1, 2, False)])", "[1, 2)"),
        ([(True, 1, 2.5, False)], "Interval([(True, 1, 2.5, False)])", "[1, 2.5)"),
        ([(True, 3, 3, True)], "Interval([(True, 3, 3, True)])", "[3, 3]"),
        ([(False, -inf, inf, False)], "Interval([(False, -inf, inf, False)])", "(-inf, inf)"),
        ([(True, 0, 1, False), (False, 2, inf, False)], "Interval([(True, 0, 1, False), (False, 2, inf, False)])",
         "[0, 1) ∪ (2, inf)"),
        ([(True, -0.0, 0.5, True)], "Interval([(True, -0, 0.5, True)])", "[-0, 0.5]"),
        ([(False, -inf, -1, True), (False, 0, 0.25, False), (True, 1, 1, True)],
         "Interval([(False, -inf, -1, True), (False, 0, 0.25, False), (True, 1, 1, True)])",
         "(-inf, -1] ∪ (0, 0.25) ∪ [1, 1]"),
    ],
)
def test_text_forms(segments, text_repr, text_str):
    value = Interval(segments)
    assert repr(value) == text_repr and str(value) == text_str


def test_negative_zero_is_kept_but_equals_zero():
    negative, positive = Interval([(True, -0.0, 1, True)]), Interval([(True, 0.0, 1, True)])
    assert negative == positive and negative <= positive and positive <= negative
    assert str(negative) == "[-0, 1]" and str(positive) == "[0, 1]"
    assert math.copysign(1, negative.segments[0][1]) == -1
    # The first segment in sorted order keeps its start, as a stable sort places it.
    assert str(negative | positive) == "[-0, 1]" and str(positive | negative) == "[0, 1]"


# --- conversion from Span -------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "pairs, expected",
    [
        ([], []),
        ([(1, 3), (5, 7)], [(True, 1.0, 3.0, True), (True, 5.0, 7.0, True)]),
        ([(1, 3), (5, 5)], [(True, 1.0, 3.0, True), (True, 5.0, 5.0, True)]),
        ([(-2**63, 2**63 - 1)], [(True, -2.0**63, 2.0**63, True)]),
        # Within 2**53 every bound is exact and neighbours stay apart.
        ([(0, 2**53 - 1), (2**53 + 1, 2**53 + 5)],
         [(True, 0.0, 2.0**53 - 1, True), (True, 2.0**53, 2.0**53 + 4, True)]),
        # Beyond it, neighbours that round onto one another become one segment.
        ([(0, 2**60), (2**60 + 2, 2**61)], [(True, 0.0, 2.0**61, True)]),
        ([(2**60, 2**60), (2**60 + 2, 2**60 + 2), (2**60 + 4, 2**60 + 4)], [(True, 2.0**60, 2.0**60, True)]),
        ([(-2**61, -2**60 - 2), (-2**60, -5), (1, 2)], [(True, -2.0**61, -5.0, True), (True, 1.0, 2.0, True)]),
        ([(2**62, 2**62 + 100), (2**62 + 300, 2**62 + 600), (2**63 - 2, 2**63 - 1)],
         [(True, 2.0**62, 2.0**62 + 1024, True), (True, 2.0**63, 2.0**63, True)]),
    ],
)
def test_span_becomes_closed_segments(pairs, expected):
    span = Span(pairs)
    for converted in (span.to_interval(), Interval(span)):
        assert type(converted) is Interval
        assert converted.segments == expected
        assert converted == Interval(expected)
    assert span.segments == Span(pairs).segments


def test_converted_span_behaves_as_a_normal_interval():
    converted = Span([(0, 2**60), (2**60 + 2, 2**61)]).to_interval()
    written = Interval([(True, 0.0, 2.0**61, True)])
    assert converted == written and converted <= written and written <= converted
    assert (written - converted).segments == []
    assert (converted & written).segments == [(True, 0.0, 2.0**61, True)]


@given(st.lists(st.tuples(st.integers(-2**63, 2**63 - 1), st.integers(0, 2**62)), max_size=8))
def test_to_interval_equals_the_closed_segments_normalised(pairs):
    span = Span([(start, min(start + length, 2**63 - 1)) for start, length in pairs])
    closed = Interval([(True, float(start), float(end), True) for start, end in span.segments])
    assert span.to_interval() == closed and Interval(span) == closed
    assert repr(span.to_interval()) == repr(closed)
