"""Span construction from every input shape, normalisation, `segments` and `copy`."""
import pytest
from hypothesis import given
from hypothesis import strategies as st

from velnor_lib import Interval, Span

INT64_MIN = -(2**63)
INT64_MAX = 2**63 - 1


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("empty", [None, [], (), range(0), ""])
def test_empty_inputs(empty):
    assert Span(empty).segments == []


def test_no_argument_and_keyword_none():
    assert Span().segments == []
    assert Span(input=None).segments == []


@pytest.mark.parametrize(
    "pairs, segments",
    [
        ([(1, 3), (4, 6)], [(1, 6)]),
        ([(1, 3), (5, 6)], [(1, 3), (5, 6)]),
        ([(4, 9), (1, 2), (2, 5)], [(1, 9)]),
        ([(1, 10), (3, 4)], [(1, 10)]),
        ([(7, 7)], [(7, 7)]),
        ([(5, 5), (5, 5)], [(5, 5)]),
        ([(3, 4), (1, 1)], [(1, 1), (3, 4)]),
        ([(3, 4), (1, 2)], [(1, 4)]),
        (((1, 2), (10, 12)), [(1, 2), (10, 12)]),
        ([(True, 3)], [(1, 3)]),
        ([(False, True)], [(0, 1)]),
        ([(Index(-4), Index(4))], [(-4, 4)]),
        ([(INT64_MIN, 0), (INT64_MIN, 5)], [(INT64_MIN, 5)]),
        ([(0, INT64_MAX), (5, 9)], [(0, INT64_MAX)]),
        ([(INT64_MAX, INT64_MAX), (INT64_MIN, INT64_MIN)], [(INT64_MIN, INT64_MIN), (INT64_MAX, INT64_MAX)]),
        ([(INT64_MIN, INT64_MAX), (0, 0)], [(INT64_MIN, INT64_MAX)]),
        ([(INT64_MAX - 1, INT64_MAX - 1), (INT64_MAX, INT64_MAX)], [(INT64_MAX - 1, INT64_MAX)]),
        ([(INT64_MIN + 1, INT64_MIN + 1), (INT64_MIN, INT64_MIN)], [(INT64_MIN, INT64_MIN + 1)]),
    ],
)
def test_pairs_are_normalised(pairs, segments):
    assert Span(pairs).segments == segments


def test_other_sequences_of_pairs():
    class Pairs:
        """A sequence that is neither a list nor a tuple: read through the iterator protocol."""

        def __len__(self):
            return 2

        def __getitem__(self, index):
            if index >= 2:
                raise IndexError
            return [(8, 9), (1, 2)][index]

    class PairList(list):
        pass

    class Pair(tuple):
        pass

    assert Span(Pairs()).segments == [(1, 2), (8, 9)]
    assert Span(PairList([(3, 4), (1, 2)])).segments == [(1, 4)]
    assert Span([Pair((1, 2))]).segments == [(1, 2)]


@pytest.mark.parametrize(
    "pairs",
    [[(5, 1)], [(1, 2), (5, 1), (9, 3)], [(0, -1)], [(INT64_MAX, INT64_MIN)]],
)
def test_reversed_pair_is_refused(pairs):
    with pytest.raises(ValueError) as error:
        Span(pairs)
    assert str(error.value) == "Start point of segment cannot be greater than its end point"


@pytest.mark.parametrize(
    "bad, type_name",
    [
        ([[1, 2]], "list"),
        ([(1, 2, 3)], "list"),
        ([(1,)], "list"),
        ([(1, 2.5)], "list"),
        ([(1, "2")], "list"),
        ([(0, 2**63)], "list"),
        ([(INT64_MIN - 1, 0)], "list"),
        ([(1, 2), None], "list"),
        ([(5, 1), (1, 2, 3)], "list"),  # a bad item anywhere hides the reversed pair
        ({(1, 2)}, "set"),
        ({1: 2}, "dict"),
        ((pair for pair in [(1, 2)]), "generator"),
        (iter([(1, 2)]), "list_iterator"),
        (5, "int"),
        (2.5, "float"),
        ("ab", "str"),
        (Interval(), "Interval"),
    ],
)
def test_unusable_input_ends_in_the_missing_hook(bad, type_name):
    with pytest.raises(AttributeError) as error:
        Span(bad)
    # The interpreter writes this message (naming the type as it likes); the failed pair's error is not shown.
    with pytest.raises(AttributeError) as missing:
        bad.to_span
    assert str(error.value) == str(missing.value)
    assert type_name in str(error.value)


def test_copy_of_a_span_is_independent():
    original = Span([(1, 3), (7, 9)])
    twin = Span(original)
    assert twin is not original
    assert twin.segments == original.segments
    twin |= Span([(20, 20)])
    assert original.segments == [(1, 3), (7, 9)]
    copied = original.copy()
    assert copied is not original and copied.segments == original.segments
    original -= Span([(1, 9)])
    assert copied.segments == [(1, 3), (7, 9)]
    assert Span().copy() is not Span().copy()


class Hook:
    def __init__(self, result=None, error=None):
        self.result, self.error, self.calls = result, error, 0

    def to_span(self, *args, **kwargs):
        self.calls += 1
        assert args == () and kwargs == {}
        if self.error is not None:
            raise self.error
        return self.result


def test_hook_returning_a_span_gives_a_copy():
    inner = Span([(1, 2), (4, 5)])
    hook = Hook(inner)
    built = Span(hook)
    assert built.segments == inner.segments and built is not inner
    assert hook.calls == 1
    built |= Span([(3, 3)])
    assert inner.segments == [(1, 2), (4, 5)]


@pytest.mark.parametrize("result, type_name", [([(1, 2)], "list"), (None, "NoneType"), (Interval(), "Interval")])
def test_hook_returning_something_else(result, type_name):
    with pytest.raises(TypeError) as error:
        Span(Hook(result))
    assert str(error.value) == f"'{type_name}' object cannot be converted to 'Span'"


def test_hook_errors_propagate_unchanged():
    error = KeyError("inside the hook")
    with pytest.raises(KeyError) as raised:
        Span(Hook(error=error))
    assert raised.value is error


def test_hook_attribute_that_is_not_callable():
    class NotCallable:
        to_span = 5

    with pytest.raises(TypeError):
        Span(NotCallable())


def test_segments_is_a_fresh_read_only_list():
    span = Span([(1, 2)])
    first = span.segments
    first.append((5, 6))
    assert span.segments == [(1, 2)]
    assert span.segments is not span.segments
    with pytest.raises(AttributeError):
        span.segments = []
    with pytest.raises(AttributeError):
        del span.segments
    assert all(type(bound) is int for pair in Span([(True, 2)]).segments for bound in pair)


def test_copy_doc():
    assert Span.copy.__doc__ == "Return a shallow copy of a Span."


# --- the normalised form against a plain model: the set of integers itself ------------------------------------

def model_segments(points):
    """Segments of a set of integers: maximal runs of consecutive integers."""
    segments = []
    for point in sorted(points):
        if segments and segments[-1][1] + 1 == point:
            segments[-1] = (segments[-1][0], point)
        else:
            segments.append((point, point))
    return segments


pairs_strategy = st.lists(
    st.tuples(st.integers(-40, 40), st.integers(0, 12)).map(lambda p: (p[0], p[0] + p[1])), max_size=25
)


@given(pairs_strategy)
def test_segments_equal_the_model(pairs):
    points = {x for start, end in pairs for x in range(start, end + 1)}
    segments = Span(pairs).segments
    assert segments == model_segments(points)
    for (_, end), (start, _) in zip(segments, segments[1:]):
        assert end + 1 < start  # sorted, disjoint, never touching


@given(st.lists(st.tuples(st.integers(INT64_MIN, INT64_MAX), st.integers(INT64_MIN, INT64_MAX)).map(sorted).map(tuple), max_size=12))
def test_extreme_bounds_stay_exact(pairs):
    segments = Span(pairs).segments
    for start, end in segments:
        assert INT64_MIN <= start <= end <= INT64_MAX
    for (_, end), (start, _) in zip(segments, segments[1:]):
        assert end + 1 < start
    # every input bound is covered, and the order of the input does not matter
    for start, end in pairs:
        assert any(s <= start and end <= e for s, e in segments)
    assert Span(list(reversed(pairs))).segments == segments
