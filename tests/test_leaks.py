"""Repeated calls leak nothing: no interpreter blocks, no native heap, no references to their arguments.

Each row of the tables below is one call: a callable, the arguments it gets, and the exception it must raise
(None when it must succeed). Every function, constructor, method, operator and failure path of the module
gets a row; rows of classes and functions that a build lacks are left out, so the tables grow with the module.
"""

import ctypes
import gc
import math
import operator
import os
import sys
from typing import Any, Callable, NamedTuple, Optional

import pytest

import velnor_lib

pytestmark = pytest.mark.slow

ROUNDS = 3
CALLS_PER_ROUND = 1000
WARMUP_CALLS = 200


class Row(NamedTuple):
    id: str
    call: Callable[..., Any]
    args: tuple = ()
    raises: Optional[type] = None
    watch: tuple = ()  # further objects whose reference counts must not change


# Helper objects for the rows -------------------------------------------------------------------------------


class Index:
    """An integer only through __index__ (a fresh big int each time, so leaked references show up)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BadIndex:
    def __index__(self):
        raise KeyError("index refused")


class Hook:
    """Answers to_span() / to_interval() with a fixed object."""

    def __init__(self, result):
        self.result = result

    def to_span(self):
        return self.result

    def to_interval(self):
        return self.result


class RaisingHook:
    def to_span(self):
        raise KeyError("hook refused")

    def to_interval(self):
        raise KeyError("hook refused")


class NotCallableHook:
    to_span = 5
    to_interval = 5


class PairSequence:
    """A sequence known only through __len__ and __getitem__."""

    def __init__(self, pairs, length=None, fail_at=None):
        self.pairs = pairs
        self.length = length
        self.fail_at = fail_at

    def __len__(self):
        if self.length is None:
            raise KeyError("no length")
        return self.length

    def __getitem__(self, index):
        if index == self.fail_at:
            raise KeyError("refused mid-way")
        return self.pairs[index]


class Pair(tuple):
    pass


class PairList(list):
    pass


class Source:
    """An iterator that yields `items` and then raises `error` (or ends with StopIteration)."""

    def __init__(self, items, error=None):
        self.items = list(items)
        self.error = error

    def __iter__(self):
        return self

    def __next__(self):
        if self.items:
            return self.items.pop(0)
        if self.error is not None:
            raise self.error
        raise StopIteration


BIG = 10**12  # outside the small-int cache, so its reference count is its own
IMMORTAL = 2**29  # reference counts from here up mark immortal objects (3.12+), whose counts mean nothing


# Span ---------------------------------------------------------------------------------------------------------


def span_rows():
    Span = velnor_lib.Span
    pairs = [(4, 9), (1, 2), (2, 5), (20, 30), (BIG, BIG + 5)]
    s = Span([(1, 10), (20, 30), (BIG, BIG + 9)])  # big bounds: each conversion makes a new int
    t = Span([(5, 25), (BIG + 5, BIG + 20)])
    u = Span([(-5, 0), (40, 50)])
    index_pairs = [(Index(BIG), Index(BIG + 1)), (Index(-BIG), Index(0))]
    yields_span = Span([(7, 9)])
    yields_list = [(1, 2)]
    rows = [
        Row("Span()", lambda: Span()),
        Row("Span(None)", Span, (None,)),
        Row("Span(list)", Span, (pairs,)),
        Row("Span(tuple)", Span, (tuple(pairs),)),
        Row("Span(range)", Span, (range(0),)),
        Row("Span(input=)", lambda p: Span(input=p), (pairs,)),
        Row("Span(span)", Span, (s,)),
        Row("Span(hook)", Span, (Hook(yields_span),), watch=(yields_span,)),
        Row("Span(__index__ bounds)", Span, (index_pairs,)),
        Row("Span(bool bounds)", Span, ([(True, 3)],)),
        Row("Span(tuple subclass)", Span, ([Pair((1, BIG))],)),
        Row("Span(list subclass)", Span, (PairList(pairs),)),
        Row("Span(getitem sequence)", Span, (PairSequence([(1, 2), (5, 6)], length=2),)),
        Row("Span(len raises)", Span, (PairSequence([(1, 2), (5, 6)]),)),
        Row("Span(len lies)", Span, (PairSequence([(1, 2), (5, 6)], length=2**62),)),
        Row("Span(item raises mid-way)", Span, (PairSequence([(1, 2), (5, 6), (7, 8)], length=3, fail_at=1),),
            AttributeError),
        Row("Span(start > end)", Span, ([(1, 2), (5, 1)],), ValueError),
        Row("Span(list of lists)", Span, ([[1, 2]],), AttributeError),
        Row("Span(3-tuple)", Span, ([(1, 2, 3)],), AttributeError),
        Row("Span(float bound)", Span, ([(1, 2.5)],), AttributeError),
        Row("Span(bound 2**63)", Span, ([(0, 2**63)],), AttributeError),
        Row("Span(bad __index__)", Span, ([(BadIndex(), 2)],), AttributeError),
        Row("Span(set)", Span, ({1, 2},), AttributeError),
        Row("Span(iterator)", Span, (iter([(1, 2)]),), AttributeError),
        Row("Span(int)", Span, (5,), AttributeError),
        Row("Span(str)", Span, ("ab",), AttributeError),
        Row("Span(hook raises)", Span, (RaisingHook(),), KeyError),
        Row("Span(hook returns list)", Span, (Hook(yields_list),), TypeError, watch=(yields_list,)),
        Row("Span(hook returns None)", Span, (Hook(None),), TypeError),
        Row("Span(hook not callable)", Span, (NotCallableHook(),), TypeError),
        Row("Span(two args)", Span, ([], []), TypeError),
        Row("Span(unknown keyword)", lambda: Span(inputs=[]), (), TypeError),
        Row("Span(input twice)", lambda p: Span(p, input=p), (pairs,), TypeError),
        Row("segments", lambda x: x.segments, (s,)),
        Row("segments =", setattr, (s, "segments", []), AttributeError),
        Row("del segments", delattr, (s, "segments"), AttributeError),
        Row("copy", Span.copy, (s,)),
        Row("copy(1)", Span.copy, (s, 1), TypeError),
        Row("repr", repr, (s,)),
        Row("str", str, (s,)),
        Row("str(empty)", str, (Span(),)),
        Row("bool", bool, (s,)),
        Row("hash", hash, (s,), TypeError),
        Row("len", len, (s,), TypeError),
        Row("iter", iter, (s,), TypeError),
    ]
    for name in ("union", "intersection", "difference"):
        method = getattr(Span, name)
        update = getattr(Span, name + "_update")
        receiver = Span([(0, 100)])
        rows += [
            Row(f"{name}()", method, (s,)),
            Row(f"{name}(t)", method, (s, t)),
            Row(f"{name}(t, u)", method, (s, t, u)),
            Row(f"{name}(self)", method, (s, s)),
            Row(f"{name}(list)", method, (s, [(1, 2)]), TypeError),
            Row(f"{name}(t, int)", method, (s, t, 5), TypeError),
            Row(f"{name}(others=)", lambda x, y, m=method: m(x, others=y), (s, t), TypeError),
            Row(f"{name}_update()", update, (receiver,)),
            Row(f"{name}_update(t, u)", update, (receiver, t, u)),
            Row(f"{name}_update(self)", update, (receiver, receiver), RuntimeError),
            Row(f"{name}_update(t, self)", update, (receiver, t, receiver), RuntimeError),
            Row(f"{name}_update(t, int)", update, (receiver, t, 5), TypeError),
        ]
    for name in ("isdisjoint", "issubset", "issuperset"):
        method = getattr(Span, name)
        rows += [
            Row(f"{name}(t)", method, (s, t)),
            Row(f"{name}(self)", method, (s, s)),
            Row(f"{name}(other=)", lambda x, y, m=method: m(x, other=y), (s, t)),
            Row(f"{name}(int)", method, (s, 5), TypeError),
            Row(f"{name}()", method, (s,), TypeError),
            Row(f"{name}(t, u)", method, (s, t, u), TypeError),
        ]
    for symbol, plain, in_place in (("&", operator.and_, operator.iand), ("|", operator.or_, operator.ior),
                                    ("-", operator.sub, operator.isub)):
        receiver = Span([(0, 100)])
        rows += [
            Row(f"s {symbol} t", plain, (s, t)),
            Row(f"s {symbol} list", plain, (s, [(1, 2)]), TypeError),
            Row(f"list {symbol} s", plain, ([(1, 2)], s), TypeError),
            Row(f"s {symbol}= t", in_place, (receiver, t)),
            Row(f"s {symbol}= s", in_place, (receiver, receiver)),
            Row(f"s {symbol}= int", in_place, (receiver, 5), TypeError),
        ]
    for symbol, compare in (("==", operator.eq), ("!=", operator.ne), ("<", operator.lt), ("<=", operator.le),
                            (">", operator.gt), (">=", operator.ge)):
        rows.append(Row(f"s {symbol} t", compare, (s, t)))
    rows += [
        Row("s == list", operator.eq, (s, [(1, 10)])),
        Row("s < list", operator.lt, (s, [(1, 10)]), TypeError),
        Row("int in s", operator.contains, (s, 5)),
        Row("big int in s", operator.contains, (s, BIG)),
        Row("bool in s", operator.contains, (s, True)),
        Row("__index__ in s", operator.contains, (s, Index(BIG))),
        Row("float in s", operator.contains, (s, 1.0), TypeError),
        Row("str in s", operator.contains, (s, "a"), TypeError),
        Row("2**64 in s", operator.contains, (s, 2**64), OverflowError),
        Row("bad __index__ in s", operator.contains, (s, BadIndex()), KeyError),
    ]
    if hasattr(Span, "to_interval"):
        rows += [
            Row("to_interval", Span.to_interval, (s,)),
            Row("to_interval(empty)", Span.to_interval, (Span(),)),
            Row("to_interval(1)", Span.to_interval, (s, 1), TypeError),
        ]
    return rows


# Interval -----------------------------------------------------------------------------------------------------


def interval_rows():
    if not hasattr(velnor_lib, "Interval"):
        return []
    Interval = velnor_lib.Interval
    Span = velnor_lib.Span
    inf = math.inf
    segments = [(True, 3, 4, True), (True, 1, 2, False), (True, 2.0, 3, False), (False, -inf, -1e300, False)]
    a = Interval([(True, 0.0, 1.0, False), (False, 2.0, 3.5, True)])
    b = Interval([(True, 0.5, 2.5, True)])
    c = Interval([(False, -inf, -1.0, False)])
    yields_interval = Interval([(True, 7.0, 9.0, True)])
    yields_list = [(True, 1.0, 2.0, True)]
    rows = [
        Row("Interval()", lambda: Interval()),
        Row("Interval(list)", Interval, (segments,)),
        Row("Interval(tuple)", Interval, (tuple(segments),)),
        Row("Interval(empty point)", Interval, ([(True, 1.0, 1.0, False)],)),
        Row("Interval(span)", Interval, (Span([(1, 3), (5, 5)]),)),
        Row("Interval(interval)", Interval, (a,)),
        Row("Interval(hook)", Interval, (Hook(yields_interval),), watch=(yields_interval,)),
        Row("Interval(NaN)", Interval, ([(True, math.nan, 1.0, True)],), ValueError),
        Row("Interval(start > end)", Interval, ([(True, 2.0, 1.0, True)],), ValueError),
        Row("Interval(closed inf)", Interval, ([(True, -inf, 0.0, True)],), ValueError),
        Row("Interval(list of lists)", Interval, ([[True, 1.0, 2.0, True]],), AttributeError),
        Row("Interval(int flags)", Interval, ([(1, 1.0, 2.0, 1)],), AttributeError),
        Row("Interval(3-tuple)", Interval, ([(True, 1.0, 2.0)],), AttributeError),
        Row("Interval(number)", Interval, (5,), AttributeError),
        Row("Interval(hook raises)", Interval, (RaisingHook(),), KeyError),
        Row("Interval(hook returns list)", Interval, (Hook(yields_list),), TypeError, watch=(yields_list,)),
        Row("Interval(two args)", Interval, ([], []), TypeError),
        Row("Interval(unknown keyword)", lambda: Interval(inputs=[]), (), TypeError),
        Row("Interval.segments", lambda x: x.segments, (a,)),
        Row("Interval.segments =", setattr, (a, "segments", []), AttributeError),
        Row("Interval.copy", Interval.copy, (a,)),
        Row("Interval.copy(1)", Interval.copy, (a, 1), TypeError),
        Row("Interval repr", repr, (a,)),
        Row("Interval str", str, (a,)),
        Row("Interval hash", hash, (a,), TypeError),
        Row("Interval len", len, (a,), TypeError),
        Row("1.5 in a", operator.contains, (a, 1.5)),
        Row("NaN in a", operator.contains, (a, math.nan)),
        Row("str in a", operator.contains, (a, "a"), TypeError),
        Row("10**400 in a", operator.contains, (a, 10**400), OverflowError),
        Row("a == 5", operator.eq, (a, 5)),
        Row("a < 5", operator.lt, (a, 5), TypeError),
        Row("a == span", operator.eq, (a, Span([(0, 1)]))),
    ]
    for name in ("union", "intersection", "difference"):
        method = getattr(Interval, name)
        update = getattr(Interval, name + "_update")
        receiver = Interval([(True, 0.0, 100.0, True)])
        rows += [
            Row(f"Interval.{name}(b, c)", method, (a, b, c)),
            Row(f"Interval.{name}(self)", method, (a, a)),
            Row(f"Interval.{name}(span)", method, (a, Span([(1, 2)])), TypeError),
            Row(f"Interval.{name}_update(b, c)", update, (receiver, b, c)),
            Row(f"Interval.{name}_update(self)", update, (receiver, receiver), RuntimeError),
            Row(f"Interval.{name}_update(b, int)", update, (receiver, b, 5), TypeError),
        ]
    for name in ("isdisjoint", "issubset", "issuperset"):
        method = getattr(Interval, name)
        rows += [
            Row(f"Interval.{name}(b)", method, (a, b)),
            Row(f"Interval.{name}(int)", method, (a, 5), TypeError),
            Row(f"Interval.{name}()", method, (a,), TypeError),
        ]
    for symbol, plain, in_place in (("&", operator.and_, operator.iand), ("|", operator.or_, operator.ior),
                                    ("-", operator.sub, operator.isub)):
        receiver = Interval([(True, 0.0, 100.0, True)])
        rows += [
            Row(f"a {symbol} b", plain, (a, b)),
            Row(f"a {symbol} int", plain, (a, 5), TypeError),
            Row(f"a {symbol}= b", in_place, (receiver, b)),
            Row(f"a {symbol}= a", in_place, (receiver, receiver)),
            Row(f"a {symbol}= int", in_place, (receiver, 5), TypeError),
        ]
    for symbol, compare in (("==", operator.eq), ("!=", operator.ne), ("<", operator.lt), ("<=", operator.le),
                            (">", operator.gt), (">=", operator.ge)):
        rows.append(Row(f"a {symbol} b", compare, (a, b)))
    return rows


# Text match functions -----------------------------------------------------------------------------------------

MATCH_FUNCTIONS = ("match_indices", "match_utf16_indices", "match_byte_indices",
                   "rmatch_indices", "rmatch_utf16_indices", "rmatch_byte_indices")


def text_rows():
    rows = []
    text = "a\u00e9\u20ac\U0001f600a" * 50
    surrogate = "a\ud800b"
    long_text = "a\u00e9\u20ac\U0001f600a" * 1000
    long_surrogate = long_text + surrogate
    for name in MATCH_FUNCTIONS:
        if not hasattr(velnor_lib, name):
            continue
        function = getattr(velnor_lib, name)
        rows += [
            Row(f"{name}", function, (text, "a")),
            Row(f"{name}(empty pattern)", function, (text, "")),
            # A one-byte pattern with more matches than the first pass keeps: counted, then a presized list.
            Row(f"{name}(one byte, many matches)", function, ("ab" * 1500, "a")),
            Row(f"{name}(keywords)", lambda x, y, f=function: f(substring=y, string=x), (text, "\u20ac")),
            Row(f"{name}(bytes)", function, (b"abc", "a"), TypeError),
            Row(f"{name}(None pattern)", function, (text, None), TypeError),
            Row(f"{name}(surrogate)", function, (surrogate, "a"), UnicodeEncodeError),
            Row(f"{name}(surrogate pattern)", function, (text, surrogate), UnicodeEncodeError),
            Row(f"{name}()", function, (), TypeError),
            Row(f"{name}(3 args)", function, (text, "a", "b"), TypeError),
            # Long non-ASCII texts are read in blocks of code points: the same paths through that reader.
            Row(f"{name}(long)", function, (long_text, "\u20ac")),
            Row(f"{name}(long, empty pattern)", function, (long_text, "")),
            Row(f"{name}(long, None pattern)", function, (long_text, None), TypeError),
            Row(f"{name}(long, surrogate pattern)", function, (long_text, surrogate), UnicodeEncodeError),
            Row(f"{name}(long surrogate)", function, (long_surrogate, "a"), UnicodeEncodeError),
        ]
    if hasattr(velnor_lib, "utf16len"):
        utf16len = velnor_lib.utf16len
        rows += [
            Row("utf16len", utf16len, (text,)),
            Row("utf16len(int)", utf16len, (5,), TypeError),
            Row("utf16len(surrogate)", utf16len, (surrogate,), UnicodeEncodeError),
            Row("utf16len(text=)", lambda x: utf16len(text=x), ("a",), TypeError),
        ]
    return rows


# Chunk iterator -----------------------------------------------------------------------------------------------


def chunk_rows():
    if not hasattr(velnor_lib, "iter_chunk"):
        return []
    iter_chunk = velnor_lib.iter_chunk
    items = [object() for _ in range(7)]
    chunks_type = type(iter_chunk([], 1))
    return [
        Row("iter_chunk", lambda x: list(iter_chunk(x, 3)), (items,)),
        Row("iter_chunk(keywords)", lambda x: list(iter_chunk(iter=x, chunk_size=2)), (items,)),
        Row("iter_chunk(huge chunk_size)", lambda x: list(iter_chunk(x, sys.maxsize)), (items,)),
        Row("iter_chunk(None ends)", lambda: list(iter_chunk([1, None, 2], 2))),
        Row("iter(chunks)", lambda: iter(iter_chunk([], 1))),
        Row("next(exhausted)", lambda: next(iter_chunk([], 1)), (), StopIteration),
        Row("iter_chunk(0)", iter_chunk, ([1], 0), ValueError),
        Row("iter_chunk(-1)", iter_chunk, ([1], -1), OverflowError),
        Row("iter_chunk(1.5)", iter_chunk, ([1], 1.5), TypeError),
        Row("iter_chunk(not iterable)", iter_chunk, (5, 1), AttributeError),
        Row("source raises", lambda x: next(iter_chunk(Source(x, KeyError("source")), 10)), (items[:2],),
            KeyError),
        Row("ChunksIter()", chunks_type, (), TypeError),
    ]


ROWS = span_rows() + interval_rows() + text_rows() + chunk_rows()


# Measurements -------------------------------------------------------------------------------------------------


def sanitized():
    """True under AddressSanitizer, whose allocator hides the heap from mallinfo and keeps freed memory."""
    try:
        with open("/proc/self/maps") as maps:
            return "libasan" in maps.read()
    except OSError:
        return False


class _Mallinfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


def _native_heap_reader():
    try:
        libc = ctypes.CDLL(None)
        mallinfo2 = libc.mallinfo2
    except (OSError, AttributeError):
        return None
    mallinfo2.restype = _Mallinfo2
    mallinfo2.argtypes = []

    def in_use():
        info = mallinfo2()
        return info.uordblks + info.hblkhd  # bytes in use: heap chunks plus mmap-ed blocks

    return in_use


native_heap = None if sanitized() else _native_heap_reader()


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def repeat(row, times):
    call, args, expected = row.call, row.args, row.raises
    for _ in range(times):
        try:
            call(*args)
        except BaseException as error:
            if expected is None or type(error) is not expected:
                raise
        else:
            if expected is not None:
                raise AssertionError(f"{row.id}: {expected.__name__} not raised")


def watched(row):
    """The arguments, what they contain or refer to (three levels down), and the row's extra objects."""
    found = {}

    def visit(value, depth):
        if isinstance(value, (bool, type(None))) or (type(value) is int and -5 <= value <= 256):
            return  # shared singletons: other code moves their counts
        if sys.getrefcount(value) >= IMMORTAL:
            return
        found[id(value)] = value
        if depth == 3:
            return
        if type(value) in (list, tuple, Pair, PairList):
            for item in value:
                visit(item, depth + 1)
        elif type(value).__module__ == __name__:  # the helper objects above: what their hooks hand out
            for item in vars(value).values():
                visit(item, depth + 1)

    for value in row.args + row.watch:
        visit(value, 0)
    return list(found.values())


def reference_counts(objects):
    return [sys.getrefcount(value) for value in objects]


@pytest.fixture(autouse=True)
def quick_collections():
    """Parks the objects alive now outside the collector, so the many gc.collect() calls below stay cheap."""
    gc.collect()
    gc.freeze()
    yield
    gc.unfreeze()


def growth_per_round(row, rounds, calls):
    """Growth of interpreter blocks and of the native heap over each of `rounds` rounds of `calls` calls.

    Caches and free lists of the interpreter fill in the first rounds; a leak grows every round.
    """
    blocks, heap = [], []
    for _ in range(rounds):
        gc.collect()
        blocks_before = sys.getallocatedblocks()
        heap_before = native_heap() if native_heap else 0
        repeat(row, calls)
        gc.collect()
        blocks.append(sys.getallocatedblocks() - blocks_before)
        heap.append((native_heap() - heap_before) if native_heap else 0)
    return blocks, heap


@pytest.mark.parametrize("row", ROWS, ids=[row.id for row in ROWS])
def test_repeated_call_leaks_nothing(row):
    objects = watched(row)
    repeat(row, WARMUP_CALLS)
    gc.collect()
    counts_before = reference_counts(objects)

    blocks, heap = growth_per_round(row, ROUNDS, CALLS_PER_ROUND)

    assert reference_counts(objects) == counts_before
    # A leak of one object or one native allocation per call grows every round by CALLS_PER_ROUND or more.
    assert min(blocks) < CALLS_PER_ROUND // 10, blocks
    assert min(heap) < CALLS_PER_ROUND * 4, heap


# Big values, repeated: a leaked segment list shows up as megabytes -------------------------------------------


def big_rows():
    Span = velnor_lib.Span
    count = 50_000
    pairs = [(4 * i, 4 * i + 1) for i in range(count)]
    a = Span(pairs)
    b = Span([(4 * i + 1, 4 * i + 2) for i in range(count)])
    c = Span([(8 * i, 8 * i + 5) for i in range(count)])
    receiver = Span(pairs)
    rows = [
        Row("Span(pairs)", Span, (pairs,)),
        Row("a | b", operator.or_, (a, b)),
        Row("a & b", operator.and_, (a, b)),
        Row("a - b", operator.sub, (a, b)),
        Row("union(b, c)", Span.union, (a, b, c)),
        Row("difference(b, c)", Span.difference, (a, b, c)),
        Row("intersection(b, c)", Span.intersection, (a, b, c)),
        Row("issubset", Span.issubset, (a, c)),
        Row("a == b", operator.eq, (a, b)),
        Row("segments", lambda x: x.segments, (a,)),
        Row("copy", Span.copy, (a,)),
        Row("repr", repr, (a,)),
        Row("str", str, (a,)),
        Row("|= then -=", lambda x, y: operator.isub(operator.ior(x, y), y), (receiver, b)),
    ]
    if hasattr(velnor_lib, "match_indices"):
        text = "ab\u20ac" * 2_000_000
        rows += [Row(f"{name}(6 MB text)", getattr(velnor_lib, name), (text, "b\u20ac"))
                 for name in MATCH_FUNCTIONS]
    if hasattr(velnor_lib, "iter_chunk"):
        rows.append(Row("iter_chunk(100k)", lambda x: list(velnor_lib.iter_chunk(x, 1000)), (range(100_000),)))
    return rows


BIG_ROWS = big_rows()
BIG_REPEATS = 20


@pytest.mark.parametrize("row", BIG_ROWS, ids=[row.id for row in BIG_ROWS])
def test_big_repeated_call_keeps_memory_flat(row):
    objects = watched(row)
    repeat(row, 3)
    gc.collect()
    counts_before = reference_counts(objects)
    blocks_before = sys.getallocatedblocks()
    heap_before = native_heap() if native_heap else 0
    resident_before = resident_bytes()

    repeat(row, BIG_REPEATS)

    gc.collect()
    assert reference_counts(objects) == counts_before
    assert sys.getallocatedblocks() - blocks_before < 1000
    if native_heap:
        # Each call allocates about a megabyte or more: a leak grows the heap by BIG_REPEATS times that.
        assert native_heap() - heap_before < 1 << 20
    if not sanitized():
        assert resident_bytes() - resident_before < 32 << 20


# Reference cycles through a chunk iterator: collected as itertools' iterators are -------------------------------


class Payload:
    """100 KB that a weak reference watches."""

    def __init__(self):
        self.data = bytearray(100_000)


class CycleSource:
    """An iterator that keeps the chunk iterator reading it."""

    def __init__(self):
        self.payload = Payload()

    def __iter__(self):
        return self

    def __next__(self):
        raise StopIteration


def cycle_through_source():
    source = CycleSource()
    source.chunks = velnor_lib.iter_chunk(source, 3)
    return source.payload


def cycle_through_list():
    items = [Payload()]
    items.append(velnor_lib.iter_chunk(items, 1))
    return items[0]


def cycle_through_generator():
    box = [Payload()]

    def produce():
        yield from box

    box.append(velnor_lib.iter_chunk(produce(), 2))
    return box[0]


def cycle_through_class():
    # The chunk iterator keeps the class of a source whose class can change; the class keeps the iterator.
    class Own:
        def __iter__(self):
            return self

        def __next__(self):
            raise StopIteration

    Own.payload = Payload()
    Own.chunks = velnor_lib.iter_chunk(Own(), 2)
    return Own.payload


CYCLES = [cycle_through_source, cycle_through_list, cycle_through_generator, cycle_through_class]


@pytest.mark.parametrize("make", CYCLES, ids=lambda make: make.__name__)
def test_cycles_through_chunk_iterators_are_collected(make):
    import tracemalloc
    import weakref

    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        payloads = [weakref.ref(make()) for _ in range(2000)]
        gc.collect()
        left = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    assert [ref for ref in payloads if ref() is not None] == []
    assert left < 2 << 20  # the weak references themselves; 2000 payloads would be 200 MB


def test_only_the_chunk_iterator_takes_part_in_collection():
    assert gc.is_tracked(velnor_lib.iter_chunk([], 1))
    assert not gc.is_tracked(velnor_lib.Span([(1, 2)]))
    if hasattr(velnor_lib, "Interval"):
        assert not gc.is_tracked(velnor_lib.Interval([(True, 1.0, 2.0, True)]))

