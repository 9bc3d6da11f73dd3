"""Interval against independent models.

- An exact point model: every bound comes from a fixed pool, so a set is known exactly by its membership at
  each pool value, at one point inside each gap between neighbouring pool values, and just beside each pool
  value. A hypothesis state machine applies random methods, operators and updates to native objects and to
  frozensets of those probe points, and compares them after every step.
- The plain algorithms in Python (concatenate, stable sort and merge; the two sweeps; a linear membership
  scan; the neighbour test after sorting; subset as "union changes nothing"), compared bit for bit, the
  sign of a zero bound included, with the native results.
- `portion`, another interval library with open and closed ends.
"""

import math
import operator
import random

import portion
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, precondition, rule

from velnor_lib import Interval

from test_span_algebra import check_in_place_forms

inf = math.inf

# -0.0 and 0.0 are one point; both are in the pool so that results show which sign survives.
POOL = [-inf, -3.0, -1.5, -0.0, 0.0, 0.5, 1.0, 2.0, 3.5, 5.0, inf]


def probe_points(pool):
    distinct = sorted(set(pool))
    points = set(distinct)
    for value in distinct:
        if math.isfinite(value):
            points.update({math.nextafter(value, -inf), math.nextafter(value, inf)})
    for low, high in zip(distinct, distinct[1:]):
        if low == -inf and high == inf:
            points.add(0.0)
        elif low == -inf:
            points.add(high - 1)
        elif high == inf:
            points.add(low + 1)
        else:
            points.add((low + high) / 2)
    return sorted(points)


PROBES = probe_points(POOL)


def holds(segment, x):
    left_closed, start, end, right_closed = segment
    return start < x < end or (x == start and left_closed) or (x == end and right_closed)


def is_valid(segment):
    left_closed, start, end, right_closed = segment
    if math.isnan(start) or math.isnan(end) or start > end:
        return False
    if (math.isinf(start) and left_closed) or (math.isinf(end) and right_closed):
        return False
    return start < end or (left_closed and right_closed)


def point_model(segments):
    """The probe points of written segments; a segment with equal bounds and an open end holds nothing."""
    kept = [segment for segment in segments if is_valid(segment)]
    return frozenset(x for x in PROBES if any(holds(segment, x) for segment in kept))


def native_points(value):
    return frozenset(x for x in PROBES if x in value)


def assert_normalised(segments):
    for segment in segments:
        assert is_valid(segment), segment
    for (_, _, end, right_closed), (left_closed, start, _, _) in zip(segments, segments[1:]):
        # Ordered and disjoint, touching only where two open ends meet.
        assert end < start or (end == start and not right_closed and not left_closed), segments


@st.composite
def raw_segments(draw, bounds=st.sampled_from(POOL), max_size=6):
    """Segment 4-tuples as a user might write them: unsorted, overlapping, some empty, none invalid."""
    segments = []
    for _ in range(draw(st.integers(0, max_size))):
        start, end = sorted([draw(bounds), draw(bounds)])
        left_closed = draw(st.booleans()) and math.isfinite(start)
        right_closed = draw(st.booleans()) and math.isfinite(end)
        segments.append((left_closed, start, end, right_closed))
    return segments


# --- the plain algorithms ---------------------------------------------------------------------------------


def plain_merge(segments):
    segments = sorted(segments, key=lambda s: (s[1], not s[0]))  # stable
    out = []
    for current in segments:
        if out:
            left_closed, start, end, right_closed = out[-1]
            if end > current[1] or (end == current[1] and (current[0] or right_closed)):
                if current[2] > end or (current[2] == end and current[3]):
                    out[-1] = (left_closed, start, current[2], current[3])
                continue
        out.append(current)
    return out


def plain_intersect(a_list, b_list):
    out, j = [], 0
    for a in a_list:
        for k in range(j, len(b_list)):
            b = b_list[k]
            if b[1] > a[2] or (b[1] == a[2] and not (a[3] and b[0])):
                break
            lower = (a[1], a[0]) if a[1] > b[1] or (a[1] == b[1] and not a[0]) else (b[1], b[0])
            upper = (a[2], a[3]) if b[2] > a[2] or (b[2] == a[2] and not a[3]) else (b[2], b[3])
            if lower[0] < upper[0] or (lower[0] == upper[0] and lower[1] and upper[1]):
                out.append((lower[1], lower[0], upper[0], upper[1]))
            j = k
    return out


def plain_subtract(a_list, b_list):
    if not b_list:
        return list(a_list)
    out, j = [], 0
    for a in a_list:
        cs, cc = a[1], a[0]
        k = j
        while k < len(b_list):
            b = b_list[k]
            if b[1] > a[2] or (b[1] == a[2] and not (a[3] and b[0])):
                break
            if b[1] > cs or (b[1] == cs and cc and not b[0]):
                out.append((cc, cs, b[1], not b[0]))
            if b[2] > cs or (b[2] == cs and cc):
                cs, cc = b[2], not b[3]
            if b[2] > a[2]:
                break
            j = k = k + 1
        if a[2] > cs or (a[2] == cs and cc and a[3]):
            out.append((cc, cs, a[2], a[3]))
    return out


def plain_disjoint(a_list, b_list):
    both = sorted(a_list + b_list, key=lambda s: (s[1], not s[0]))
    return not any(x[2] > y[1] or (x[2] == y[1] and x[3] and y[0]) for x, y in zip(both, both[1:]))


def plain_subset(a_list, b_list):
    return plain_merge(b_list + a_list) == b_list


def plain_contains(segments, x):
    return any(holds(segment, x) for segment in segments)


def exact(segments):
    """Segments with each bound's sign made visible, so that -0.0 and 0.0 differ."""
    return [(lc, start, math.copysign(1, start), end, math.copysign(1, end), rc) for lc, start, end, rc in segments]


WIDE_BOUNDS = st.one_of(st.sampled_from(POOL), st.integers(-40, 40).map(lambda n: n / 4))


@settings(max_examples=400)
@given(raw_segments(WIDE_BOUNDS, 30), raw_segments(WIDE_BOUNDS, 30), raw_segments(WIDE_BOUNDS, 8))
def test_same_results_as_the_plain_algorithms(raw_a, raw_b, raw_c):
    a, b, c = Interval(raw_a), Interval(raw_b), Interval(raw_c)
    sa, sb, sc = (plain_merge([s for s in raw if is_valid(s)]) for raw in (raw_a, raw_b, raw_c))
    assert exact(a.segments) == exact(sa) and exact(b.segments) == exact(sb)
    assert exact((a | b).segments) == exact(plain_merge(sa + sb))
    assert exact(a.union(b, c).segments) == exact(plain_merge(sa + sb + sc))
    assert exact((a & b).segments) == exact(plain_intersect(sa, sb))
    assert exact((a - b).segments) == exact(plain_subtract(sa, sb))
    assert exact(a.difference(b, c).segments) == exact(plain_subtract(sa, plain_merge(sb + sc)))
    assert a.isdisjoint(b) is plain_disjoint(sa, sb)
    assert a.issubset(b) is plain_subset(sa, sb) and a.issuperset(b) is plain_subset(sb, sa)
    assert (a <= b) is plain_subset(sa, sb)
    updated = a.copy()
    updated |= b
    assert exact(updated.segments) == exact(plain_merge(sa + sb))
    for x in PROBES + [math.nan]:
        assert (x in a) is plain_contains(sa, x)


@settings(max_examples=300)
@given(raw_segments(max_size=8), raw_segments(max_size=8))
def test_subset_implies_union_unchanged_and_disjoint_means_empty_intersection(raw_a, raw_b):
    a, b = Interval(raw_a), Interval(raw_b)
    assert a.issubset(b) is ((a | b) == b) is ((a - b) == Interval())
    assert a.isdisjoint(b) is ((a & b) == Interval())


# --- portion --------------------------------------------------------------------------------------------


def to_portion_bound(x):
    return portion.inf if x == inf else -portion.inf if x == -inf else x


def to_portion(value):
    bound = to_portion_bound

    def end(closed):
        return portion.CLOSED if closed else portion.OPEN

    return portion.Interval(
        *(portion.Interval.from_atomic(end(lc), bound(s), bound(e), end(rc)) for lc, s, e, rc in value.segments)
    )


def from_portion(value):
    def bound(x):
        return inf if x == portion.inf else -inf if x == -portion.inf else float(x)

    return [(a.left == portion.CLOSED, bound(a.lower), bound(a.upper), a.right == portion.CLOSED) for a in value]


@settings(max_examples=300)
@given(raw_segments(WIDE_BOUNDS, 12), raw_segments(WIDE_BOUNDS, 12))
def test_same_sets_as_portion(raw_a, raw_b):
    a, b = Interval(raw_a), Interval(raw_b)
    pa, pb = to_portion(a), to_portion(b)
    assert a.segments == from_portion(pa)
    assert (a | b).segments == from_portion(pa | pb)
    assert (a & b).segments == from_portion(pa & pb)
    assert (a - b).segments == from_portion(pa - pb)
    assert a.issubset(b) is pb.contains(pa)
    assert a.isdisjoint(b) is (pa & pb).empty
    assert (a == b) is (pa == pb)
    for x in PROBES:
        assert (x in a) is (to_portion_bound(x) in pa)


# --- the state machine ------------------------------------------------------------------------------------

OPERATIONS = {
    "union": (operator.or_, operator.ior, frozenset.union),
    "intersection": (operator.and_, operator.iand, frozenset.intersection),
    "difference": (operator.sub, operator.isub, frozenset.difference),
}


class IntervalMachine(RuleBasedStateMachine):
    """Native intervals beside their point models; every step is checked against the models."""

    def __init__(self):
        super().__init__()
        self.values = []
        self.models = []

    def add(self, value, model):
        assert type(value) is Interval
        self.values.append(value)
        self.models.append(model)

    def pick(self, data, count):
        return [data.draw(st.integers(0, len(self.values) - 1)) for _ in range(count)]

    @rule(raw=raw_segments())
    def create(self, raw):
        self.add(Interval(raw), point_model(raw))

    @precondition(lambda self: self.values)
    @rule(data=st.data(), how=st.sampled_from(["copy", "constructor", "segments"]))
    def duplicate(self, data, how):
        (i,) = self.pick(data, 1)
        source = self.values[i]
        made = {"copy": source.copy, "constructor": lambda: Interval(source),
                "segments": lambda: Interval(source.segments)}[how]()
        assert made is not source and made == source
        self.add(made, self.models[i])

    @precondition(lambda self: self.values)
    @rule(data=st.data(), name=st.sampled_from(sorted(OPERATIONS)), form=st.sampled_from(["method", "operator"]),
          count=st.integers(0, 3))
    def combine(self, data, name, form, count):
        if form == "operator":
            count = 1
        (i, *others) = self.pick(data, 1 + count)
        before = [repr(value) for value in self.values]
        receiver = self.values[i]
        if form == "operator":
            result = OPERATIONS[name][0](receiver, self.values[others[0]])
        else:
            result = getattr(receiver, name)(*(self.values[k] for k in others))
        assert result is not receiver
        assert [repr(value) for value in self.values] == before  # operands unchanged
        model = self.models[i]
        if name == "difference":
            model = model.difference(*(self.models[k] for k in others))
        else:
            model = OPERATIONS[name][2](model, *(self.models[k] for k in others))
        self.add(result, model)

    @precondition(lambda self: self.values)
    @rule(data=st.data(), name=st.sampled_from(sorted(OPERATIONS)), form=st.sampled_from(["update", "in_place"]),
          count=st.integers(0, 3))
    def update(self, data, name, form, count):
        if form == "in_place":
            count = 1
        (i, *others) = self.pick(data, 1 + count)
        receiver = self.values[i]
        text = repr(receiver)
        kept = [repr(self.values[k]) for k in others]
        model = OPERATIONS[name][2](self.models[i], *(self.models[k] for k in others))
        if form == "update":
            if i in others:
                with pytest.raises(RuntimeError) as caught:
                    getattr(receiver, name + "_update")(*(self.values[k] for k in others))
                assert str(caught.value) == "Already mutably borrowed"
                assert repr(receiver) == text
                return
            assert getattr(receiver, name + "_update")(*(self.values[k] for k in others)) is None
        else:
            result = OPERATIONS[name][1](receiver, self.values[others[0]])
            if others[0] == i:
                # The receiver cannot be read while held: the interpreter falls back to the plain operator.
                assert result is not receiver and repr(receiver) == text
                self.values[i] = result
            else:
                assert result is receiver
        self.models[i] = model
        assert [repr(self.values[k]) for k in others if k != i] == [t for k, t in zip(others, kept) if k != i]

    @precondition(lambda self: self.values)
    @rule(data=st.data())
    def relate(self, data):
        i, j = self.pick(data, 2)
        a, b = self.values[i], self.values[j]
        ma, mb = self.models[i], self.models[j]
        assert a.isdisjoint(b) is ma.isdisjoint(mb)
        assert a.issubset(b) is (ma <= mb) and a.issuperset(b) is (ma >= mb)
        assert [a == b, a != b, a < b, a <= b, a > b, a >= b] == [ma == mb, ma != mb, ma < mb, ma <= mb,
                                                                    ma > mb, ma >= mb]

    @invariant()
    def matches_the_models(self):
        for value, model in zip(self.values, self.models):
            assert_normalised(value.segments)
            assert native_points(value) == model
            assert math.nan not in value


IntervalMachine.TestCase.settings = settings(max_examples=150, stateful_step_count=30, deadline=None)
test_interval_machine = IntervalMachine.TestCase


def test_probe_points_cover_every_gap():
    distinct = sorted(set(POOL))
    assert -inf in PROBES and inf in PROBES and -4.0 in PROBES and 6.0 in PROBES
    for low, high in zip(distinct, distinct[1:]):
        assert any(low < x < high for x in PROBES)


# --- long lists in the shapes that break merges --------------------------------------------------------


def closed_open_stripes(count, first, period, length, zero_sign=1.0, phase=0):
    """`count` segments of `length` every `period`, closures in a pattern shifted by `phase`; a bound at 0
    takes `zero_sign`."""
    out = []
    for i in range(count):
        start, end = first + period * i, first + period * i + length
        out.append(((i + phase) % 2 == 0, math.copysign(0.0, zero_sign) if start == 0 else float(start),
                    math.copysign(0.0, zero_sign) if end == 0 else float(end), (i + phase) % 3 != 0))
    return out


STRIPES = closed_open_stripes(3000, -6000, 4, 2)


def random_runs(seed, count):
    """Runs in no order a branch predictor could learn, on a grid of quarters so that bounds meet."""
    rng = random.Random(seed)
    out, at = [], -3000.0
    for _ in range(count):
        start = at + rng.randint(0, 8) / 4
        end = start + rng.randint(0, 8) / 4
        out.append((rng.random() < 0.5, -0.0 if start == 0 and rng.random() < 0.5 else start,
                    -0.0 if end == 0 and rng.random() < 0.5 else end, rng.random() < 0.5))
        at = end
    return out
# Each shape crosses more than one block of the merge loops: the same list twice (and once more with every
# zero of the other sign), segments meeting the other list's at shared bounds with every closure mix,
# segments nested in others, long runs across many, infinite ends, and an empty side.
LONG_LISTS = {
    "identical": (STRIPES, STRIPES),
    "identical but the sign of zero": (STRIPES, closed_open_stripes(3000, -6000, 4, 2, -1.0)),
    **{f"meeting at bounds, closures {p}, {q}": (closed_open_stripes(3000, -6002, 4, 2, 1.0, p),
                                                 closed_open_stripes(3000, -6000, 4, 2, -1.0, q))
       for p in range(3) for q in range(2)},
    "nested": (STRIPES, closed_open_stripes(3000, -5999.5, 4, 1)),
    "long runs": (STRIPES, closed_open_stripes(300, -6001, 40, 30)),
    "infinite ends": ([(False, -math.inf, -7000.0, True)] + STRIPES + [(False, 7000.0, math.inf, False)],
                      [(False, -math.inf, -5000.0, False)] + STRIPES[1500:] + [(True, 6000.0, math.inf, False)]),
    "whole line": (STRIPES, [(False, -math.inf, math.inf, False)]),
    "one side empty": (STRIPES, []),
    "random runs": (random_runs(1, 3000), random_runs(2, 3000)),
    "long random runs": (random_runs(3, 17000), random_runs(4, 17000)),
}


@pytest.mark.parametrize("swap", [False, True])
@pytest.mark.parametrize("shape", list(LONG_LISTS))
def test_long_lists_against_the_plain_algorithms(shape, swap):
    raw_a, raw_b = LONG_LISTS[shape]
    if swap:
        raw_a, raw_b = raw_b, raw_a
    a, b = Interval(raw_a), Interval(raw_b)
    sa, sb = (plain_merge([s for s in raw if is_valid(s)]) for raw in (raw_a, raw_b))
    assert exact(a.segments) == exact(sa) and exact(b.segments) == exact(sb)
    assert exact((a | b).segments) == exact(plain_merge(sa + sb))
    assert exact((a & b).segments) == exact(plain_intersect(sa, sb))
    assert exact((a - b).segments) == exact(plain_subtract(sa, sb))
    assert a.isdisjoint(b) is plain_disjoint(sa, sb)
    assert a.issubset(b) is plain_subset(sa, sb) and a.issuperset(b) is plain_subset(sb, sa)
    updated = a.copy()
    updated -= b
    assert exact(updated.segments) == exact(plain_subtract(sa, sb))


@pytest.mark.parametrize("swap", [False, True])
@pytest.mark.parametrize("shape", list(LONG_LISTS))
def test_long_lists_in_place_over_every_receiver_storage(shape, swap):
    raw_a, raw_b = LONG_LISTS[shape]
    if swap:
        raw_a, raw_b = raw_b, raw_a
    sa, sb = (plain_merge([s for s in raw if is_valid(s)]) for raw in (raw_a, raw_b))
    expected = {"|": plain_merge(sa + sb), "&": plain_intersect(sa, sb), "-": plain_subtract(sa, sb)}
    # The union keeps pointers to the segments its running one is made of: it asks one more segment of room.
    check_in_place_forms(Interval, sa, sb, expected, {"|": 1, "&": 0, "-": 0}, exact)
