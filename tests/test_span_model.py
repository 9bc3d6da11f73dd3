"""Span against two independent models.

1. A state machine applies random methods, `_update` forms and operators to spans and to Python sets, and
   compares them after every step. The sets hold "atoms": the int64 line is cut into single integers near
   -2**63, 0 and 2**63 - 1 and two wide gap atoms between them, so that a set of atom indices stands for a
   span whose segments reach both extremes and cover billions of integers.
2. A differential test checks the fast algorithms (linear and k-way merges, sweeps, two-pointer walks, binary
   search) against deliberately naive references: concatenate + sort + merge, pairwise overlaps, complements,
   neighbour checks and linear scans.
"""

import bisect
import operator
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, precondition, rule

from velnor_lib import Span

MIN = -(2**63)
MAX = 2**63 - 1


def assert_normalised(segments):
    for start, end in segments:
        assert MIN <= start <= end <= MAX
    for (_, end), (start, _) in zip(segments, segments[1:]):
        assert end + 1 < start, segments


# --- The atom model ---

ATOMS = (
    [(x, x) for x in range(MIN, MIN + 6)]
    + [(MIN + 6, -9)]
    + [(x, x) for x in range(-8, 16)]
    + [(16, MAX - 6)]
    + [(x, x) for x in range(MAX - 5, MAX + 1)]
)
ATOM_STARTS = [start for start, _ in ATOMS]
assert all(a[1] + 1 == b[0] for a, b in zip(ATOMS, ATOMS[1:])) and ATOMS[0][0] == MIN and ATOMS[-1][1] == MAX


def segments_of(atoms):
    """The normalised segments of a set of atom indices: runs of consecutive atoms are one segment."""
    out = []
    for i in sorted(atoms):
        if out and i - 1 in atoms:
            out[-1] = (out[-1][0], ATOMS[i][1])
        else:
            out.append(ATOMS[i])
    return out


def atom_of(x):
    return bisect.bisect_right(ATOM_STARTS, x) - 1


class Record:
    """One live Span and the set of atoms it must hold. Two entries may share a record (aliases)."""

    def __init__(self, span, atoms):
        self.span = span
        self.atoms = set(atoms)


atom_index = st.integers(0, len(ATOMS) - 1)
atom_ranges = st.lists(st.tuples(atom_index, atom_index).map(sorted), max_size=6)
pick = st.integers(0, 10**6)
picks = st.lists(pick, max_size=3)
SET_OPS = {"union": set.union, "intersection": set.intersection, "difference": set.difference}
OPS = {"&": (operator.and_, operator.iand, set.intersection), "|": (operator.or_, operator.ior, set.union),
       "-": (operator.sub, operator.isub, set.difference)}


def build(ranges):
    """A Span from overlapping and touching pairs, given in shuffled order, and its atom set."""
    pairs = [(ATOMS[i][0], ATOMS[j][1]) for i, j in ranges]
    random.Random(len(pairs)).shuffle(pairs)
    return Span(pairs), {a for i, j in ranges for a in range(i, j + 1)}


class SpanMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.records = []

    def record(self, k):
        return self.records[k % len(self.records)]

    @initialize(first=atom_ranges, second=atom_ranges)
    def start(self, first, second):
        self.records = [Record(*build(first)), Record(*build(second))]

    @rule(ranges=atom_ranges)
    def create(self, ranges):
        self.records.append(Record(*build(ranges)))

    @rule(k=pick)
    def alias(self, k):
        self.records.append(self.record(k))

    @rule(k=pick)
    def copy(self, k):
        source = self.record(k)
        result = source.span.copy()
        assert result is not source.span
        self.records.append(Record(result, source.atoms))

    @rule(name=st.sampled_from(sorted(SET_OPS)), k=pick, ks=picks)
    def method(self, name, k, ks):
        receiver, others = self.record(k), [self.record(j) for j in ks]
        result = getattr(receiver.span, name)(*[o.span for o in others])
        assert all(result is not r.span for r in [receiver, *others])
        self.records.append(Record(result, SET_OPS[name](receiver.atoms, *[o.atoms for o in others])))

    @rule(name=st.sampled_from(sorted(SET_OPS)), k=pick, ks=picks)
    def update(self, name, k, ks):
        receiver, others = self.record(k), [self.record(j) for j in ks]
        if any(o.span is receiver.span for o in others):
            with pytest.raises(RuntimeError) as caught:
                getattr(receiver.span, name + "_update")(*[o.span for o in others])
            assert str(caught.value) == "Already mutably borrowed"
            return
        assert getattr(receiver.span, name + "_update")(*[o.span for o in others]) is None
        receiver.atoms = SET_OPS[name](receiver.atoms, *[o.atoms for o in others])

    @rule(op=st.sampled_from(sorted(OPS)), k=pick, j=pick)
    def binary(self, op, k, j):
        left, right = self.record(k), self.record(j)
        result = OPS[op][0](left.span, right.span)
        assert result is not left.span and result is not right.span
        self.records.append(Record(result, OPS[op][2](left.atoms, right.atoms)))

    @rule(op=st.sampled_from(sorted(OPS)), k=pick, j=pick)
    def in_place(self, op, k, j):
        left, right = self.record(k), self.record(j)
        target = left.span
        target = OPS[op][1](target, right.span)
        atoms = OPS[op][2](left.atoms, right.atoms)
        if right.span is left.span:  # the interpreter fell back to the plain operator: a new object
            assert target is not left.span
            self.records.append(Record(target, atoms))
        else:
            assert target is left.span
            left.atoms = atoms

    @rule(k=pick, j=pick)
    def tests(self, k, j):
        a, b = self.record(k), self.record(j)
        assert a.span.isdisjoint(b.span) is a.atoms.isdisjoint(b.atoms)
        assert a.span.issubset(b.span) is (a.atoms <= b.atoms)
        assert a.span.issuperset(b.span) is (a.atoms >= b.atoms)
        for compare in [operator.eq, operator.ne, operator.lt, operator.le, operator.gt, operator.ge]:
            assert compare(a.span, b.span) is compare(a.atoms, b.atoms)

    @rule(k=pick, atom=atom_index, data=st.data())
    def membership(self, k, atom, data):
        record = self.record(k)
        x = data.draw(st.sampled_from(ATOMS[atom]) | st.integers(*ATOMS[atom]))
        assert (x in record.span) is (atom in record.atoms)

    @invariant()
    def every_span_matches_its_model(self):
        for record in self.records:
            segments = record.span.segments
            assert_normalised(segments)
            assert segments == segments_of(record.atoms)


SpanMachine.TestCase.settings = settings(max_examples=150, stateful_step_count=30, deadline=None)
TestSpanMachine = SpanMachine.TestCase


# --- Naive references ---


def ref_merge(pairs):
    """Concatenate + sort + merge: the normal form of any list of pairs."""
    out = []
    for start, end in sorted(pairs):
        if out and start <= out[-1][1] + 1:
            out[-1] = (out[-1][0], max(out[-1][1], end))
        else:
            out.append((start, end))
    return out


def ref_union(*lists):
    return ref_merge([pair for segments in lists for pair in segments])


def ref_intersection(a, b):
    """Every pairwise overlap, then normalised."""
    pieces = [(max(p[0], q[0]), min(p[1], q[1])) for p in a for q in b]
    return ref_merge([piece for piece in pieces if piece[0] <= piece[1]])


def ref_complement(a):
    gaps, low = [], MIN
    for start, end in a:
        if low < start:
            gaps.append((low, start - 1))
        low = end + 1
    if low <= MAX:
        gaps.append((low, MAX))
    return gaps


def ref_difference(a, b):
    return ref_intersection(a, ref_complement(b))


def ref_isdisjoint(a, b):
    """Concatenate, sort, and look for neighbours that share an integer."""
    both = sorted(a + b)
    return all(x[1] < y[0] for x, y in zip(both, both[1:]))


def ref_issubset(a, b):
    return ref_union(b, a) == b


def ref_contains(a, x):
    return any(start <= x <= end for start, end in a)


bound = st.one_of(
    st.integers(-20, 20), st.integers(MIN, MIN + 4), st.integers(MAX - 4, MAX), st.integers(MIN, MAX)
)
pair_lists = st.lists(st.tuples(bound, bound).map(sorted).map(tuple), max_size=10)


def check_against_references(lists, probes):
    spans = [Span(pairs) for pairs in lists]
    norms = [ref_merge(pairs) for pairs in lists]
    for span, norm in zip(spans, norms):
        assert span.segments == norm
    first, rest = spans[0], spans[1:]
    assert first.union(*rest).segments == ref_union(*norms)
    expected = norms[0]
    for norm in norms[1:]:
        expected = ref_intersection(expected, norm)
    assert first.intersection(*rest).segments == expected
    assert first.difference(*rest).segments == ref_difference(norms[0], ref_union(*norms[1:]))
    for a, x in zip(spans, norms):
        for b, y in zip(spans, norms):
            assert (a | b).segments == ref_union(x, y)
            assert (a & b).segments == ref_intersection(x, y)
            assert (a - b).segments == ref_difference(x, y)
            assert a.isdisjoint(b) is ref_isdisjoint(x, y)
            assert a.issubset(b) is ref_issubset(x, y) is (a <= b)
            assert (a == b) is (x == y)
    for x in probes:
        assert (x in first) is ref_contains(norms[0], x)
    for start, end in norms[0]:
        for x in {start, end, max(start - 1, MIN), min(end + 1, MAX)}:
            assert (x in first) is ref_contains(norms[0], x)


@settings(max_examples=300, deadline=None)
@given(st.lists(pair_lists, min_size=1, max_size=4), st.lists(bound, max_size=8))
def test_fast_algorithms_equal_the_references(lists, probes):
    check_against_references(lists, probes)


@pytest.mark.parametrize("seed", range(6))
def test_fast_algorithms_equal_the_references_on_longer_lists(seed):
    rng = random.Random(seed)
    width = rng.choice([3, 50, 2**62])  # dense, sparse, or spread over the whole range
    lists = []
    for _ in range(rng.randint(1, 5)):
        pairs = []
        for _ in range(rng.randint(0, 300)):
            start = rng.choice([rng.randint(-1000, 1000), rng.randint(MIN, MAX), MIN, MAX - width])
            start = max(MIN, min(start, MAX))
            pairs.append((start, min(MAX, start + rng.randint(0, width))))
        lists.append(pairs)
    check_against_references(lists, [rng.randint(MIN, MAX) for _ in range(50)] + [MIN, MAX, 0])
