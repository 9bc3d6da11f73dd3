"""Span set algebra: methods, `_update` forms, operators, membership, and the hold rules around them."""

import array
import bisect
import itertools
import operator
import random
import sys
import threading

import pytest

import velnor_lib
from velnor_lib import Interval, Span

MIN = -(2**63)
MAX = 2**63 - 1

METHOD = {"&": "intersection", "|": "union", "-": "difference"}
OPERATOR = {"&": operator.and_, "|": operator.or_, "-": operator.sub}
IN_PLACE = {"&": operator.iand, "|": operator.ior, "-": operator.isub}
IN_PLACE_SLOT = {"&": "__iand__", "|": "__ior__", "-": "__isub__"}
VARIADIC = ["union", "union_update", "intersection", "intersection_update", "difference", "difference_update"]
UPDATES = ["union_update", "intersection_update", "difference_update"]


def apply(form, op, a, b):
    """`a op b` written in one of the four forms; returns the span that holds the result."""
    if form == "operator":
        return OPERATOR[op](a, b)
    if form == "method":
        return getattr(a, METHOD[op])(b)
    receiver = a.copy()
    if form == "update":
        assert getattr(receiver, METHOD[op] + "_update")(b) is None
    else:
        alias = receiver
        alias = IN_PLACE[op](alias, b)
        assert alias is receiver
    return receiver


BINARY_CASES = [
    ("-", [(0, 5), (10, 15)], [(3, 12)], [(0, 2), (13, 15)]),
    ("-", [(0, 5), (7, 10)], [(3, 8)], [(0, 2), (9, 10)]),
    ("-", [(0, 10)], [(0, 10)], []),
    ("-", [(0, 10)], [], [(0, 10)]),
    ("-", [], [(1, 2)], []),
    ("-", [(0, 2), (4, 6), (8, 10)], [(1, 9)], [(0, 0), (10, 10)]),
    ("-", [(0, 20)], [(2, 3), (5, 5), (19, 30)], [(0, 1), (4, 4), (6, 18)]),
    ("-", [(0, MAX)], [(5, MAX)], [(0, 4)]),
    ("-", [(MIN, MAX)], [(0, 0)], [(MIN, -1), (1, MAX)]),
    ("-", [(MIN, MAX)], [(MIN, MIN), (MAX, MAX)], [(MIN + 1, MAX - 1)]),
    ("-", [(MIN, MAX)], [(MIN, MAX)], []),
    ("-", [(MIN, MIN + 3), (MAX - 3, MAX)], [(MIN, MIN), (MAX, MAX)], [(MIN + 1, MIN + 3), (MAX - 3, MAX - 1)]),
    ("-", [(MIN, 0)], [(MIN, -5)], [(-4, 0)]),
    ("|", [(1, 3)], [(4, 6)], [(1, 6)]),
    ("|", [(1, 3)], [(5, 6)], [(1, 3), (5, 6)]),
    ("|", [], [], []),
    ("|", [(0, 1), (10, 11)], [(3, 4), (6, 7), (12, 20)], [(0, 1), (3, 4), (6, 7), (10, 20)]),
    ("|", [(0, 3), (8, 9)], [(2, 10)], [(0, 10)]),
    ("|", [(MIN, -1)], [(0, MAX)], [(MIN, MAX)]),
    ("|", [(MAX, MAX)], [(MAX - 1, MAX - 1)], [(MAX - 1, MAX)]),
    ("|", [(MIN, MIN)], [(MIN + 1, MIN + 1)], [(MIN, MIN + 1)]),
    ("|", [(MIN, MIN)], [(MAX, MAX)], [(MIN, MIN), (MAX, MAX)]),
    ("|", [(0, MAX)], [(5, 9), (MAX, MAX)], [(0, MAX)]),
    ("&", [(1, 5)], [(5, 9)], [(5, 5)]),
    ("&", [(1, 4)], [(5, 9)], []),
    ("&", [(0, 10)], [(1, 2), (4, 5), (8, 12)], [(1, 2), (4, 5), (8, 10)]),
    ("&", [(0, 2), (4, 6)], [(1, 5)], [(1, 2), (4, 5)]),
    ("&", [], [(1, 2)], []),
    ("&", [(1, 2)], [], []),
    ("&", [(MIN, MAX)], [(MIN, MIN), (MAX, MAX)], [(MIN, MIN), (MAX, MAX)]),
    ("&", [(MIN, 0)], [(-1, MAX)], [(-1, 0)]),
    ("&", [(MIN, MIN + 1), (MAX - 1, MAX)], [(MIN + 1, MAX - 1)], [(MIN + 1, MIN + 1), (MAX - 1, MAX - 1)]),
]


@pytest.mark.parametrize("form", ["operator", "method", "update", "in-place"])
@pytest.mark.parametrize(("op", "left", "right", "expected"), BINARY_CASES)
def test_binary_results_in_every_form(form, op, left, right, expected):
    a, b = Span(left), Span(right)
    before_a, before_b = a.segments, b.segments
    result = apply(form, op, a, b)
    assert result.segments == expected
    assert result is not a and result is not b
    assert (a.segments, b.segments) == (before_a, before_b)


def model_intersection(a, b):
    """Two cursors over normalised lists, written apart from the module's loops."""
    out, i, j = [], 0, 0
    while i < len(a) and j < len(b):
        start, end = max(a[i][0], b[j][0]), min(a[i][1], b[j][1])
        if start <= end:
            out.append((start, end))
        if a[i][1] < b[j][1]:
            i += 1
        else:
            j += 1
    return out


def model_union(a, b):
    out = []
    for start, end in sorted(a + b):
        if out and start <= out[-1][1] + 1:
            out[-1] = (out[-1][0], max(out[-1][1], end))
        else:
            out.append((start, end))
    return out


def model_complement(a):
    gaps, low = [], MIN
    for start, end in a:
        if low < start:
            gaps.append((low, start - 1))
        low = end + 1
    return gaps + [(low, MAX)] if low <= MAX else gaps


def striped_list(count, first, period, length):
    return [(first + period * i, first + period * i + length) for i in range(count)]


def random_runs(seed, count, first):
    rng = random.Random(seed)
    out, at = [], first
    for _ in range(count):
        start = at + rng.randint(2, 7)
        out.append((start, start + rng.randint(0, 5)))
        at = out[-1][1]
    return out


# Long lists (more steps than one block of the merge loops) in the shapes that break merges: the same list
# twice, a list against its own gaps (every segment touching two), segments nested in others, runs that cross
# several segments of the other list, lists reaching both ends of the int64 range, and an empty side.
SHORT = striped_list(3000, -9000, 6, 2)
LONG_LISTS = {
    "identical": (SHORT, SHORT),
    "touching": (SHORT, model_complement(SHORT)[1:-1]),
    "nested": (SHORT, striped_list(3000, -8999, 6, 0)),
    "crossing": (SHORT, striped_list(700, -9003, 26, 17)),
    "shifted by one": (SHORT, striped_list(3000, -8998, 6, 2)),
    "int64 edges": ([(MIN, MIN + 5)] + SHORT + [(MAX - 5, MAX)], [(MIN, -8000)] + SHORT[1500:] + [(MAX, MAX)]),
    "whole range": (SHORT, [(MIN, MAX)]),
    "one side empty": (SHORT, []),
    # Runs in no order a branch predictor could learn: these take the branch-free loops.
    "random runs": (random_runs(1, 3000, -9000), random_runs(2, 3000, -9000)),
    "random runs at int64 edges": ([(MIN, MIN + 3)] + random_runs(3, 3000, MIN + 3) + [(MAX - 2, MAX)],
                                   [(MIN, MIN)] + random_runs(4, 3000, MIN + 1) + [(MAX, MAX)]),
    "long random runs": (random_runs(5, 17000, -(10**6)), random_runs(6, 17000, -(10**6))),
    # Alternating stripes too long to be learnt whole, whose order a predictor still follows: branching loops.
    "long stripes": (striped_list(17000, -(10**6), 6, 2), striped_list(17000, -(10**6) + 2, 6, 3)),
}


@pytest.mark.parametrize("form", ["operator", "update"])
@pytest.mark.parametrize("swap", [False, True])
@pytest.mark.parametrize("shape", list(LONG_LISTS))
def test_long_lists_against_a_model(shape, swap, form):
    x, y = LONG_LISTS[shape]
    if swap:
        x, y = y, x
    x, y = model_union(x, []), model_union(y, [])  # normalised, as the spans hold them
    a, b = Span(x), Span(y)
    assert apply(form, "|", a, b).segments == model_union(x, y)
    assert apply(form, "&", a, b).segments == model_intersection(x, y)
    assert apply(form, "-", a, b).segments == model_intersection(x, model_complement(y))
    assert a.issubset(b) is (model_union(x, y) == y)
    assert a.isdisjoint(b) is (model_intersection(x, y) == [])
    assert (a.segments, b.segments) == (x, y)


def with_capacity(make, count, capacity):
    """`make(None)`, a value of `count` segments, in storage for `capacity` segments (at least `count`): a
    union with parts of itself, `make(k)` holding its first k segments, reserves room for all the lists."""
    extra = capacity - count
    parts = [make(min(count, extra - done)) for done in range(0, extra, count)] if count else []
    whole = make(None)
    value = whole.union(*parts)
    assert value == whole
    return value


def storage(value):
    return value.__sizeof__() - type(value)().__sizeof__()


# In-place operations write over the receiver's storage where a fresh result would take 32 MiB or more (this
# many segments), which is new memory; shorter ones make a fresh result as the binary operators do. A fresh
# difference may be sized from the receiver's length alone.
REUSE_FROM = {Span: 2**21, Interval: 2**20}

# Receivers whose storage is one segment short of room for both lists, exactly as long as both, longer, as
# long as it may be and still be written over (twice both), and longer than that.
ROOM = {"short": -1, "both": 0, "one more": 1, "twice": None, "more than twice": None}


def receiver_capacity(room, n, m, slack):
    if room == "twice":
        return 2 * (n + m + slack)
    if room == "more than twice":
        return 2 * (n + m + slack) + 1
    return n + m + ROOM[room]


def check_in_place_forms(cls, x, y, expected, slack, key=list):
    """Every in-place form of the three operations on a receiver holding `x` against an operand holding `y`, for
    each room the receiver's storage leaves: the result is `expected[op]` (compared through `key`) and the
    operand is untouched. `slack[op]`: the room the operation asks beyond both lists."""
    n, m = len(x), len(y)
    b = cls(y)
    for room in ROOM:
        capacity = receiver_capacity(room, n, m, max(slack.values()))
        if capacity < n:
            continue
        for op in "|&-":
            for form in ("in-place", "update"):
                receiver = with_capacity(lambda k: cls(x[:k]), n, capacity)
                if form == "update":
                    assert getattr(receiver, METHOD[op] + "_update")(b) is None
                else:
                    alias = receiver
                    alias = IN_PLACE[op](alias, b)
                    assert alias is receiver
                assert key(receiver.segments) == key(expected[op]), (room, op, form)
                assert b.segments == y
        # The receiver as its own operand is read after its exclusive hold is taken: a new object results.
        alias = receiver = with_capacity(lambda k: cls(x[:k]), n, capacity)
        alias |= receiver
        assert alias is not receiver and alias == receiver and key(receiver.segments) == key(x)


@pytest.mark.parametrize("swap", [False, True])
@pytest.mark.parametrize("shape", list(LONG_LISTS))
def test_long_lists_in_place_over_every_receiver_storage(shape, swap):
    x, y = LONG_LISTS[shape]
    if swap:
        x, y = y, x
    x, y = model_union(x, []), model_union(y, [])
    expected = {"|": model_union(x, y), "&": model_intersection(x, y),
                "-": model_intersection(x, model_complement(y))}
    check_in_place_forms(Span, x, y, expected, dict.fromkeys("|&-", 0))


def big_maker(cls, seed, count, regular, shift=0):
    """A function of k giving a `cls` of the first k (None: all `count`) segments of one long list, built
    through the pickle state: a fixed stripe (a merge order the branching loops serve) or runs of random
    length (1-6 integers) and gap (2-7), shifted by `shift`."""
    noise = random.Random(seed).randbytes(2 * count)
    gaps = bytes([4]) * count if regular else noise[:count].translate(bytes(2 + i % 6 for i in range(256)))
    lengths = bytes([1]) * count if regular else noise[count:].translate(bytes(i % 6 for i in range(256)))
    steps = array.array("q", bytes(16 * count))
    steps[0::2], steps[1::2] = array.array("q", iter(gaps)), array.array("q", iter(lengths))
    steps[0] += shift
    words = array.array("q", itertools.accumulate(steps))
    if sys.byteorder == "big":
        words.byteswap()

    def make(k):
        span = velnor_lib._reconstruct("Span", b"\x01" + words[: 2 * (count if k is None else k)].tobytes())
        return span if cls is Span else span.to_interval()

    return make


@pytest.mark.slow
@pytest.mark.parametrize("cls", [Span, Interval], ids=["Span", "Interval"])
@pytest.mark.parametrize("regular", [False, True], ids=["random runs", "stripes"])
def test_in_place_over_the_receivers_storage_at_length(cls, regular):
    n, m = REUSE_FROM[cls] + 1000, REUSE_FROM[cls] // 2
    make_a, make_b = big_maker(cls, 1, n, regular), big_maker(cls, 2, m, regular, 3)
    a, b = make_a(None), make_b(None)
    probes = random.Random(3).sample(range(-5, 8 * n), n // 256 + 100)
    for op in "|&-":
        expected = OPERATOR[op](a, b)
        room = n + m + (1 if cls is Interval and op == "|" else 0)
        # Exactly the room the operation asks, as much as it may have and still be written over, and more.
        for capacity in (room, 2 * room, 2 * room + 1):
            for form in ("in-place", "update"):
                receiver = with_capacity(make_a, n, capacity)
                before = storage(receiver)
                # Enough probes to build the membership index, which the change must reset.
                assert sum(point in receiver for point in probes) == sum(point in a for point in probes)
                if form == "update":
                    getattr(receiver, METHOD[op] + "_update")(b)
                else:
                    receiver = IN_PLACE[op](receiver, b)
                assert receiver == expected, (op, capacity, form)
                assert [point in receiver for point in probes] == [point in expected for point in probes]
                if capacity != room:  # a fresh result has room for both lists at most
                    assert (storage(receiver) == before) is (capacity == 2 * room), (op, capacity, form)
    assert a == make_a(None) and b == make_b(None)


@pytest.mark.parametrize(
    ("left", "right", "disjoint", "subset", "superset"),
    [
        ([(1, 4)], [(5, 9)], True, False, False),
        ([(1, 5)], [(5, 9)], False, False, False),
        ([(1, 3), (5, 7)], [(1, 7)], False, True, False),
        ([(1, 7)], [(1, 3), (5, 7)], False, False, True),
        ([(0, 3), (10, 12)], [(4, 9)], True, False, False),
        ([(2, 3)], [(0, 1), (4, 5)], True, False, False),
        ([(2, 3)], [(0, 2), (4, 5)], False, False, False),
        ([(0, 5)], [(0, 2), (3, 5)], False, True, True),
        ([], [(1, 2)], True, True, False),
        ([(1, 2)], [], True, False, True),
        ([], [], True, True, True),
        ([(MAX, MAX)], [(MIN, MAX)], False, True, False),
        ([(MIN, MIN)], [(MIN + 1, MAX)], True, False, False),
        ([(MIN, MIN), (MAX, MAX)], [(MIN, MIN), (0, 0), (MAX, MAX)], False, True, False),
    ],
)
def test_tests(left, right, disjoint, subset, superset):
    a, b = Span(left), Span(right)
    assert a.isdisjoint(b) is disjoint and b.isdisjoint(a) is disjoint
    assert a.issubset(b) is subset and b.issuperset(a) is subset
    assert a.issuperset(b) is superset and b.issubset(a) is superset
    assert a.issubset(other=b) is subset
    assert (a.segments, b.segments) == (Span(left).segments, Span(right).segments)


def test_docstrings():
    assert [getattr(Span, name).__doc__ for name in VARIADIC] == [None] * 6
    assert Span.isdisjoint.__doc__ == "Returns True if two Spans do not overlap."
    assert Span.issubset.__doc__ == "Return True if other contains this Span, else False."
    assert Span.issuperset.__doc__ == "Return True if this Span contains other, else False."


@pytest.mark.parametrize("name", ["union", "intersection", "difference"])
@pytest.mark.parametrize("segments", [[], [(1, 3), (MAX, MAX)]])
def test_no_others_returns_a_new_equal_span(name, segments):
    s = Span(segments)
    result = getattr(s, name)()
    assert result is not s and result.segments == segments
    assert getattr(s, name + "_update")() is None
    assert s.segments == segments


def test_several_others():
    s, a, b = Span([(0, 20)]), Span([(2, 9), (12, 30)]), Span([(5, 14)])
    assert s.intersection(a, b).segments == (s & a & b).segments == [(5, 9), (12, 14)]
    assert s.difference(a, b).segments == (s - (a | b)).segments == [(0, 1)]
    assert s.union(a, b, Span([(40, 41)])).segments == [(0, 30), (40, 41)]
    assert s.intersection(a, Span()).segments == []


@pytest.mark.parametrize("name", ["union", "intersection", "difference"])
def test_receiver_among_its_own_others_is_read_twice(name):
    s = Span([(1, 3), (7, 9)])
    expected = {"union": [(1, 3), (7, 9)], "intersection": [(1, 3), (7, 9)], "difference": []}[name]
    assert getattr(s, name)(s).segments == expected
    assert getattr(s, name)(s, s).segments == expected
    assert s.segments == [(1, 3), (7, 9)]


@pytest.mark.parametrize("name", UPDATES)
@pytest.mark.parametrize("position", [0, 1, 2])
def test_update_with_receiver_as_other_is_refused(name, position):
    s, t = Span([(1, 3)]), Span([(2, 8)])
    others = [t, t]
    others.insert(position, s)
    with pytest.raises(RuntimeError) as caught:
        getattr(s, name)(*others)
    assert str(caught.value) == "Already mutably borrowed"
    assert s.segments == [(1, 3)] and t.segments == [(2, 8)]
    t.union_update()  # every hold was released: t can be held exclusively again
    s.union_update(t)
    assert s.segments == [(1, 8)]


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize("name", VARIADIC)
@pytest.mark.parametrize(
    ("bad", "type_name"), [([(1, 2)], "list"), (5, "int"), (None, "NoneType"), (Outer.Inner(), "Outer.Inner")]
)
def test_non_span_item_has_no_argument_prefix(name, bad, type_name):
    s, good = Span([(1, 3)]), Span([(0, 9)])
    with pytest.raises(TypeError) as caught:
        getattr(s, name)(good, bad, 7)
    assert str(caught.value) == f"'{type_name}' object cannot be converted to 'Span'"
    assert s.segments == [(1, 3)]
    good.difference_update(s)  # the item read before the failure is free again
    assert good.segments == [(0, 0), (4, 9)]


@pytest.mark.parametrize("name", VARIADIC)
def test_variadic_refuses_every_keyword(name):
    s = Span([(1, 3)])
    with pytest.raises(TypeError) as caught:
        getattr(s, name)(5, others=Span())
    assert str(caught.value) == f"Span.{name}() got an unexpected keyword argument 'others'"
    assert s.segments == [(1, 3)]


@pytest.mark.parametrize("name", ["isdisjoint", "issubset", "issuperset"])
def test_tests_bind_and_convert_other(name):
    s = Span([(1, 3)])
    method = getattr(s, name)
    cases = [
        ((5,), {}, "argument 'other': 'int' object cannot be converted to 'Span'"),
        (([(1, 3)],), {}, "argument 'other': 'list' object cannot be converted to 'Span'"),
        ((), {"other": None}, "argument 'other': 'NoneType' object cannot be converted to 'Span'"),
        ((), {}, f"Span.{name}() missing 1 required positional argument: 'other'"),
        ((s, s), {}, f"Span.{name}() takes 1 positional arguments but 2 were given"),
        ((s,), {"other": s}, f"Span.{name}() got multiple values for argument 'other'"),
        ((), {"others": s}, f"Span.{name}() got an unexpected keyword argument 'others'"),
    ]
    for args, kwargs, message in cases:
        with pytest.raises(TypeError) as caught:
            method(*args, **kwargs)
        assert str(caught.value) == message
    assert method(s) is (name != "isdisjoint")
    s.union_update()  # free again after every refusal


class Reflected:
    """A foreign operand that answers the reflected operators, to show that Span gave up with NotImplemented."""

    def __rand__(self, other):
        return "rand"

    def __ror__(self, other):
        return "ror"

    def __rsub__(self, other):
        return "rsub"


@pytest.mark.parametrize("op", ["&", "|", "-"])
@pytest.mark.parametrize("foreign", [[(1, 2)], 5, None, (1, 2)])
def test_foreign_operand_gets_the_interpreters_type_error(op, foreign):
    s = Span([(1, 3)])
    names = f"'velnor_lib.Span' and '{type(foreign).__name__}'"
    for action, symbol in [(OPERATOR[op], op), (IN_PLACE[op], op + "=")]:
        receiver = s
        with pytest.raises(TypeError) as caught:
            action(receiver, foreign)
        assert str(caught.value) == f"unsupported operand type(s) for {symbol}: {names}"
        assert receiver is s
    with pytest.raises(TypeError) as caught:
        OPERATOR[op](foreign, s)
    assert str(caught.value) == f"unsupported operand type(s) for {op}: '{type(foreign).__name__}' and 'velnor_lib.Span'"
    assert s.segments == [(1, 3)]
    assert OPERATOR[op](s, Reflected()) == {"&": "rand", "|": "ror", "-": "rsub"}[op]
    assert IN_PLACE[op](s, Reflected()) == {"&": "rand", "|": "ror", "-": "rsub"}[op]
    assert s.segments == [(1, 3)]


@pytest.mark.parametrize(("op", "expected"), [("&", [(1, 3), (6, 6)]), ("|", [(1, 3), (6, 6)]), ("-", [])])
def test_in_place_with_itself_rebinds_to_a_new_span(op, expected):
    s = Span([(1, 3), (6, 6)])
    t = s
    s = IN_PLACE[op](s, s)
    assert s is not t
    assert s.segments == expected
    assert t.segments == [(1, 3), (6, 6)]
    assert getattr(t, IN_PLACE_SLOT[op])(t) is NotImplemented


@pytest.mark.parametrize(("op", "expected"), [("&", [(2, 3)]), ("|", [(1, 5)]), ("-", [(1, 1)])])
def test_in_place_changes_the_receiver_seen_by_every_name(op, expected):
    s, u = Span([(1, 3)]), Span([(2, 5)])
    t = s
    s = IN_PLACE[op](s, u)
    assert s is t and t.segments == expected
    assert u.segments == [(2, 5)]


@pytest.mark.parametrize(
    ("segments", "item", "expected"),
    [
        ([(1, 5)], 5, True),
        ([(1, 5)], 1, True),
        ([(1, 5)], 6, False),
        ([(1, 5)], 0, False),
        ([(1, 1)], True, True),
        ([(0, 0)], False, True),
        ([(1, 2), (4, 5)], 3, False),
        ([(1, 2), (4, 5), (9, 20)], 9, True),
        ([], 0, False),
        ([(MIN, MAX)], MIN, True),
        ([(MIN, MAX)], MAX, True),
        ([(MIN + 1, MAX - 1)], MIN, False),
        ([(MIN + 1, MAX - 1)], MAX, False),
        ([(MIN, MIN), (MAX, MAX)], 0, False),
        ([(MIN, MIN), (MAX, MAX)], MAX, True),
    ],
)
def test_membership(segments, item, expected):
    assert (item in Span(segments)) is expected


def long_span(rng, count, extremes):
    """`count` disjoint segments with random gaps; with `extremes`, the first starts at MIN and the last
    ends at MAX."""
    points = sorted(rng.sample(range(-(10**7), 10**7), 2 * count))
    if extremes:
        points[0], points[-1] = MIN, MAX
    return Span([(points[2 * i], points[2 * i + 1]) for i in range(count)])


def assert_membership_matches_a_bisection(s):
    segments = s.segments
    starts = [start for start, _ in segments]

    def oracle(x):
        i = bisect.bisect_right(starts, x) - 1
        return i >= 0 and segments[i][1] >= x

    probes = {MIN, MAX, 0}
    for start, end in segments:
        probes.update(v + d for v in (start, end) for d in (-1, 0, 1) if MIN <= v + d <= MAX)
    wrong = [x for x in probes if (x in s) is not oracle(x)]
    assert wrong == []


# Long spans are searched through an index that every change must reset: each mutation path is followed
# by probes at and around every boundary, the first one after the change rebuilding the index.
@pytest.mark.parametrize("count", [2047, 2048, 2049, 16**2 * 8 * 2 + 1, pytest.param(16**3 * 8 + 3, marks=pytest.mark.slow)])
@pytest.mark.parametrize("extremes", [False, True])
def test_membership_of_long_spans_through_every_change(count, extremes):
    rng = random.Random(count * 2 + extremes)
    s = long_span(rng, count, extremes)
    assert_membership_matches_a_bisection(s)
    other = long_span(rng, count // 2, False)
    changes = [
        lambda: s.union_update(other),
        lambda: s.difference_update(Span([(start, start) for start, _ in s.segments[::3]])),
        lambda: s.intersection_update(Span([(-(10**6), 10**6), (2 * 10**6, MAX)])),
        lambda: operator.ior(s, long_span(rng, 3000, False)),
        lambda: operator.isub(s, Span([(0, 10**5)])),
        lambda: operator.iand(s, Span([(MIN, 5 * 10**6)])),
    ]
    for change in changes:
        change()
        assert_membership_matches_a_bisection(s)
    assert_membership_matches_a_bisection(s.copy())


def test_membership_from_several_threads_while_the_index_is_built():
    # Threads probe one fresh span at once: some search before the index exists, one builds it, the
    # rest must see it whole or not at all.
    rng = random.Random(11)
    s = long_span(rng, 40000, False)
    segments = s.segments
    starts = [start for start, _ in segments]
    barrier = threading.Barrier(4)
    wrong = []

    def probe(seed):
        local = random.Random(seed)
        points = [local.randint(-(10**7) - 5, 10**7 + 5) for _ in range(3000)]
        barrier.wait()
        answers = [x in s for x in points]
        for x, answer in zip(points, answers):
            i = bisect.bisect_right(starts, x) - 1
            if answer is not (i >= 0 and segments[i][1] >= x):
                wrong.append(x)

    threads = [threading.Thread(target=probe, args=(seed,)) for seed in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert wrong == []


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize(
    ("item", "error", "message"),
    [
        (1.0, TypeError, "'float' object cannot be interpreted as an integer"),
        ("a", TypeError, "'str' object cannot be interpreted as an integer"),
        (None, TypeError, "'NoneType' object cannot be interpreted as an integer"),
        (2**64, OverflowError, "int too big to convert"),
        (2**63, OverflowError, "int too big to convert"),
        (MIN - 1, OverflowError, "int too big to convert"),
        (Index(2**63), OverflowError, "int too big to convert"),
    ],
)
def test_membership_conversion_errors_are_raised(item, error, message):
    s = Span([(1, 5)])
    with pytest.raises(error) as caught:
        item in s
    assert type(caught.value) is error and str(caught.value) == message
    s.union_update(Span([(9, 9)]))  # the shared hold was released
    assert Index(9) in s and Index(6) not in s


# --- A held receiver, reached from Python code that runs inside a call on the same span. ---


def outcome(action):
    """The value of action(), or the type and message of what it raised."""
    try:
        return action()
    except Exception as error:  # noqa: BLE001 - the error is the observation
        return (type(error).__name__, str(error))


def cause_of(action):
    """The cause of the AttributeError that `action` raises, as `outcome` gives an error."""
    with pytest.raises(AttributeError) as info:
        action()
    return (type(info.value.__cause__).__name__, str(info.value.__cause__))


class ReentrantIndex:
    """An item for `x in s` whose __index__ runs `action` while `s` is held shared."""

    def __init__(self, action):
        self.action = action
        self.seen = None

    def __index__(self):
        self.seen = outcome(self.action)
        return 2


BORROWED = ("RuntimeError", "Already borrowed")
MUTABLY_BORROWED = ("RuntimeError", "Already mutably borrowed")
NO_OR = ("TypeError", "unsupported operand type(s) for |: 'velnor_lib.Span' and 'velnor_lib.Span'")
NO_IOR = ("TypeError", "unsupported operand type(s) for |=: 'velnor_lib.Span' and 'velnor_lib.Span'")


@pytest.mark.parametrize(
    ("action", "expected"),
    [
        (lambda s, t: operator.ior(s, t), BORROWED),
        (lambda s, t: operator.iand(s, t), BORROWED),
        (lambda s, t: operator.isub(s, t), BORROWED),
        (lambda s, t: operator.iand(s, s), BORROWED),
        (lambda s, t: operator.ior(s, 5), BORROWED),
        (lambda s, t: s.union_update(t), BORROWED),
        (lambda s, t: s.intersection_update(), BORROWED),
        (lambda s, t: s.difference_update(t), BORROWED),
        (lambda s, t: s.union_update(others=t), BORROWED),  # the hold is taken before binding
        (lambda s, t: t.union_update(s), None),
        (lambda s, t: (s | s).segments, [(1, 3)]),
        (lambda s, t: s.union(s, t).segments, [(1, 3), (8, 9)]),
        (lambda s, t: (s == s, s <= t, 3 in s), (True, False, True)),
        (lambda s, t: (s.segments, repr(s), s.copy().segments), ([(1, 3)], "Span([(1, 3)])", [(1, 3)])),
    ],
)
def test_shared_hold_during_membership(action, expected):
    s, t = Span([(1, 3)]), Span([(8, 9)])
    item = ReentrantIndex(lambda: action(s, t))
    assert item in s
    assert item.seen == expected
    assert s.segments == [(1, 3)]
    s |= Span([(5, 5)])  # free again
    assert s.segments == [(1, 3), (5, 5)]


class NameProbe(type):
    """A metaclass whose `__qualname__` lookup runs an armed action once: a conversion error names the type of
    the refused item, so the action runs in the middle of the call that refuses it."""

    armed = None
    seen = None

    def __getattribute__(cls, name):
        if name == "__qualname__" and NameProbe.armed is not None:
            action, NameProbe.armed = NameProbe.armed, None
            NameProbe.seen = outcome(action)
        return super().__getattribute__(name)


class Intruder(metaclass=NameProbe):
    pass


@pytest.mark.parametrize(
    ("action", "expected"),
    [
        (lambda s, t, held: s.union(), MUTABLY_BORROWED),
        (lambda s, t, held: s.segments, MUTABLY_BORROWED),
        (lambda s, t, held: s.copy(), MUTABLY_BORROWED),
        (lambda s, t, held: repr(s), MUTABLY_BORROWED),
        (lambda s, t, held: 2 in s, MUTABLY_BORROWED),
        (lambda s, t, held: s == t, MUTABLY_BORROWED),
        (lambda s, t, held: t == s, MUTABLY_BORROWED),  # reached through the reflected comparison
        (lambda s, t, held: t < s, MUTABLY_BORROWED),
        (lambda s, t, held: t.union(s), MUTABLY_BORROWED),
        (lambda s, t, held: t.isdisjoint(s), MUTABLY_BORROWED),
        (lambda s, t, held: t.difference_update(s), MUTABLY_BORROWED),
        (lambda s, t, held: s.union_update(t), BORROWED),
        (lambda s, t, held: operator.isub(s, t), BORROWED),
        (lambda s, t, held: t | s, NO_OR),
        (lambda s, t, held: operator.ior(t, s), NO_IOR),
        (lambda s, t, held: Span(s), ("AttributeError", "'velnor_lib.Span' object has no attribute 'to_span'")),
        (lambda s, t, held: cause_of(lambda: Span(s)), MUTABLY_BORROWED),  # why the span was not taken
        (lambda s, t, held: bool(s), True),
        (lambda s, t, held: held.union_update(t), BORROWED),  # the others are held shared too
        (lambda s, t, held: (held | t).segments, [(8, 9), (12, 12)]),
    ],
)
@pytest.mark.parametrize("name", UPDATES)
def test_exclusive_hold_during_a_refused_update(name, action, expected):
    s, t, held = Span([(1, 3)]), Span([(12, 12)]), Span([(8, 9)])
    NameProbe.armed = lambda: action(s, t, held)
    with pytest.raises(TypeError) as caught:
        getattr(s, name)(held, Intruder())
    assert str(caught.value) == "'Intruder' object cannot be converted to 'Span'"
    assert NameProbe.seen == expected
    assert (s.segments, held.segments) == ([(1, 3)], [(8, 9)])
    s.union_update(held)  # free again
    held.union_update(t)
    assert (s.segments, held.segments) == ([(1, 3), (8, 9)], [(8, 9), (12, 12)])


def test_shared_hold_during_a_refused_test():
    s, t = Span([(1, 3)]), Span([(8, 9)])
    NameProbe.armed = lambda: (outcome(lambda: s.union_update(t)), outcome(lambda: (s & t).segments))
    with pytest.raises(TypeError) as caught:
        s.isdisjoint(Intruder())
    assert str(caught.value) == "argument 'other': 'Intruder' object cannot be converted to 'Span'"
    assert NameProbe.seen == (BORROWED, [])
    assert s.segments == [(1, 3)]
