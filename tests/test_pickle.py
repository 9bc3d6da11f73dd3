"""Pickling and copying: every protocol round-trips, the state is a fixed little-endian layout, loading is
validation (every malformed state is refused, and a perturbed real pickle never yields a broken object), copies
are independent, chunk iterators refuse, and values cross process boundaries unchanged.

The oracle for the state layout is `struct` with an explicit little-endian format, independent of the module's
encoder; the oracle for "normalised" is a plain Python restatement of each class's rules.
"""

import concurrent.futures
import copy
import dataclasses
import importlib
import io
import json
import math
import multiprocessing
import pathlib
import pickle
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import velnor_lib
from velnor_lib import Interval, Span, iter_chunk

inf = math.inf
nan = math.nan
I64_MIN, I64_MAX = -(2**63), 2**63 - 1
PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


def span_state(pairs, version=1):
    return bytes([version]) + b"".join(struct.pack("<qq", start, end) for start, end in pairs)


def interval_state(segments, version=1, flags=None):
    out = bytearray([version])
    for k, (left, start, end, right) in enumerate(segments):
        out.append(flags[k] if flags is not None else left | right << 1)
        out += struct.pack("<dd", start, end)
    return bytes(out)


def span_is_normalised(segments):
    return all(s <= e for s, e in segments) and all(a[1] + 1 < b[0] for a, b in zip(segments, segments[1:]))


def interval_is_normalised(segments):
    for left, start, end, right in segments:
        if math.isnan(start) or math.isnan(end) or start > end:
            return False
        if (math.isinf(start) and left) or (math.isinf(end) and right):
            return False
        if start == end and not (left and right):
            return False
    for (_, _, end, right), (left, start, _, _) in zip(segments, segments[1:]):
        if not (end < start or (end == start and not right and not left)):
            return False
    return True


def bits(value):
    """Segments with each float as its bit pattern, so that -0.0 and 0.0 differ."""
    return [tuple(struct.pack("<d", x) if isinstance(x, float) else x for x in segment) for segment in value.segments]


SPANS = [
    Span(),
    Span([(7, 7)]),
    Span([(1, 3), (5, 9), (11, 2**40)]),
    Span([(I64_MIN, I64_MIN + 1), (-5, -2), (I64_MAX - 1, I64_MAX)]),
    Span([(I64_MIN, I64_MAX)]),
]
INTERVALS = [
    Interval(),
    Interval([(True, 3, 3, True)]),
    Interval([(False, -inf, -1.5, True), (False, -0.0, 0.5, False), (True, 2, inf, False)]),
    Interval([(False, 0, 1, False), (False, 1, 2, False)]),  # open ends may meet
    Interval([(False, -inf, inf, False)]),
    Interval([(True, 5e-324, 1.7976931348623157e308, True)]),
]
VALUES = SPANS + INTERVALS


@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize("value", VALUES, ids=repr)
def test_every_protocol_round_trips_to_an_equal_new_object(value, protocol):
    loaded = pickle.loads(pickle.dumps(value, protocol))
    assert type(loaded) is type(value)
    assert loaded is not value
    assert loaded == value
    assert bits(loaded) == bits(value)  # the sign of a zero bound travels too


@pytest.mark.parametrize(("value", "state"), [
    (Span([(1, 3), (-5, -2)]), span_state([(-5, -2), (1, 3)])),
    (Span([(I64_MIN, I64_MAX)]), span_state([(I64_MIN, I64_MAX)])),
    (Interval([(True, -0.0, 1, False)]), interval_state([(True, -0.0, 1.0, False)])),
    (Interval([(False, -inf, 0, True), (True, 2, 2, True)]), interval_state([(False, -inf, 0, True), (True, 2, 2, True)])),
])
def test_reduce_names_the_hidden_reconstructor_and_a_little_endian_state(value, state):
    reconstructor, arguments = value.__reduce__()
    # The one pickle finds: the module may have been imported again since this file imported it.
    assert reconstructor is importlib.import_module("velnor_lib")._reconstruct
    assert arguments == (type(value).__name__, state)
    assert reconstructor(*arguments) == value


def test_the_reconstructor_belongs_to_the_module_but_not_to_its_names():
    assert velnor_lib._reconstruct.__module__ == "velnor_lib"
    assert "_reconstruct" not in velnor_lib.__all__ and len(velnor_lib.__all__) == 12
    assert Span.__module__ == Interval.__module__ == "velnor_lib"
    assert "not for direct use" in velnor_lib._reconstruct.__doc__


@pytest.mark.parametrize("protocol", range(3, pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize(("make", "width"), [
    (lambda n: Span([(4 * k, 4 * k + 1) for k in range(n)]), 16),
    (lambda n: Span([(-(2**62) + 3 * k, -(2**62) + 3 * k + 1) for k in range(n)]), 16),
    (lambda n: Interval([(True, k + 0.1, k + 0.7, False) for k in range(n)]), 17),
])
def test_each_segment_costs_its_fixed_width_in_a_binary_protocol(make, width, protocol):
    sizes = [len(pickle.dumps(make(n), protocol)) for n in (1, 101, 1001)]
    # Beyond the segments only the bytes' length field may grow (from one byte to four) and protocol 4 adds
    # a frame header now and then.
    assert 0 <= sizes[1] - sizes[0] - 100 * width <= 12 and 0 <= sizes[2] - sizes[1] - 900 * width <= 12


def test_many_objects_share_the_reconstructor_and_class_name_in_one_pickle():
    pickled = pickle.dumps([Span([(1, 2)]) for _ in range(50)] + [Interval([(True, 1, 2, True)])] * 2, 4)
    assert pickled.count(b"Span") == pickled.count(b"Interval") == pickled.count(b"_reconstruct") == 1
    assert pickle.loads(pickled)[49] == Span([(1, 2)])


# Malformed states: what each refusal says.
SPAN_REFUSALS = [
    (b"", "it is empty, without a version byte"),
    (bytes([0]), "unsupported version 0"),
    (span_state([(1, 2)], version=2), "unsupported version 2"),
    (bytes([255]) + b"\0" * 16, "unsupported version 255"),
    (span_state([(1, 2)])[:-1], "whole segments: 16 bytes"),
    (span_state([(1, 2)]) + b"\0", "whole segments: 18 bytes"),
    (span_state([(3, 2)]), "start greater than end in segment 0"),
    (span_state([(1, 2), (9, 5)]), "start greater than end in segment 1"),
    (span_state([(1, 5), (3, 9)]), "not sorted, disjoint and apart at segment 1"),  # overlapping
    (span_state([(1, 5), (6, 9)]), "not sorted, disjoint and apart at segment 1"),  # touching
    (span_state([(1, 5), (1, 5)]), "not sorted, disjoint and apart at segment 1"),  # repeated
    (span_state([(10, 12), (1, 5)]), "not sorted, disjoint and apart at segment 1"),  # unsorted
    (span_state([(0, I64_MAX), (I64_MIN, 0)]), "not sorted, disjoint and apart at segment 1"),
    (span_state([(I64_MIN, -1), (0, I64_MAX)]), "not sorted, disjoint and apart at segment 1"),
    (span_state([(1, 2), (4, 5), (6, 6)]), "not sorted, disjoint and apart at segment 2"),
]
INTERVAL_REFUSALS = [
    (b"", "it is empty, without a version byte"),
    (interval_state([(True, 1, 2, True)], version=0), "unsupported version 0"),
    (interval_state([(True, 1, 2, True)])[:-3], "whole segments: 15 bytes"),
    (span_state([(1, 2)]), "whole segments: 17 bytes"),  # a Span's state is not an Interval's
    (interval_state([(True, 1, 2, True)], flags=[4]), "unknown end flags in segment 0"),
    (interval_state([(True, 1, 2, True)], flags=[0x83]), "unknown end flags in segment 0"),
    (interval_state([(True, nan, 2, True)]), "a NaN bound in segment 0"),
    (interval_state([(True, 1, 2, True), (True, 3, nan, True)]), "a NaN bound in segment 1"),
    (interval_state([(True, 2, 1, True)]), "start greater than end in segment 0"),
    (interval_state([(True, -inf, 0, False)]), "a closed infinite end in segment 0"),
    (interval_state([(False, 0, inf, True)]), "a closed infinite end in segment 0"),
    (interval_state([(True, 1, 1, False)]), "an empty segment at 0"),
    (interval_state([(False, inf, inf, False)]), "an empty segment at 0"),
    (interval_state([(True, 0, 2, False), (True, 1, 3, True)]), "not sorted, disjoint and apart at segment 1"),
    (interval_state([(True, 0, 1, True), (False, 1, 3, True)]), "not sorted, disjoint and apart at segment 1"),
    (interval_state([(True, 0, 1, False), (True, 1, 3, True)]), "not sorted, disjoint and apart at segment 1"),
    (interval_state([(True, 0.0, 0.0, True), (True, -0.0, 1, True)]),
     "not sorted, disjoint and apart at segment 1"),  # -0.0 is the point 0.0
    (interval_state([(True, 5, 6, True), (True, 1, 2, True)]), "not sorted, disjoint and apart at segment 1"),
]


@pytest.mark.parametrize(("name", "state", "message"), [("Span", *case) for case in SPAN_REFUSALS]
                         + [("Interval", *case) for case in INTERVAL_REFUSALS])
def test_a_malformed_state_is_refused_with_what_is_wrong(name, state, message):
    with pytest.raises(ValueError, match=f"^invalid {name} state: ") as raised:
        velnor_lib._reconstruct(name, state)
    assert message in str(raised.value)


@pytest.mark.parametrize(("arguments", "error", "message"), [
    (("Span", "\x01"), TypeError, "argument 'state': 'str' object cannot be converted to 'PyBytes'"),
    (("Span", bytearray(b"\x01")), TypeError, "argument 'state': 'bytearray' object cannot be converted"),
    (("Span", None), TypeError, "argument 'state': 'NoneType' object"),
    ((b"Span", b"\x01"), TypeError, "argument 'name': 'bytes' object cannot be converted to 'PyString'"),
    (("Frozenset", b"\x01"), ValueError, "rebuilds a 'Span' or an 'Interval', not 'Frozenset'"),
    (("span", b"\x01"), ValueError, "not 'span'"),
    (("Span",), TypeError, "missing 1 required positional argument: 'state'"),
    (("Span", b"\x01", 3), TypeError, "takes 2 positional arguments but 3 were given"),
])
def test_the_reconstructor_refuses_arguments_of_the_wrong_kind(arguments, error, message):
    with pytest.raises(error) as raised:
        velnor_lib._reconstruct(*arguments)
    assert message in str(raised.value)


LONG_NAME = "n" * 10_000_000


@pytest.mark.parametrize(("name", "quoted"), [
    ("Frozenset", "'Frozenset'"),
    ("Fro\x00zenset", "'Fro\\x00zenset'"),  # the whole name, the NUL escaped
    ("\ud800", "'\\ud800'"),  # a lone surrogate, escaped rather than encoded
    ("it's", '"it\'s"'),
    ("\u00e9t\u00e9", "'\u00e9t\u00e9'"),
    ("x" * 50, "'" + "x" * 50 + "'"),
    ("x" * 51, "'" + "x" * 50 + "...'"),
    (LONG_NAME, "'" + "n" * 50 + "...'"),
    ("\x00" * 60, "'" + "\\x00" * 50 + "...'"),
], ids=["plain", "NUL", "surrogate", "quote", "non-ASCII", "50", "51", "10 million", "60 NULs"])
def test_an_unknown_name_is_quoted_whole_and_bounded(name, quoted):
    with pytest.raises(ValueError) as raised:
        velnor_lib._reconstruct(name, b"\x01")
    assert str(raised.value) == "_reconstruct() rebuilds a 'Span' or an 'Interval', not " + quoted


@pytest.mark.parametrize(("name", "state", "expected"), [
    ("Span", span_state([]), Span()),
    ("Span", span_state([(I64_MIN, I64_MIN), (I64_MIN + 2, I64_MAX)]), Span([(I64_MIN, I64_MIN), (I64_MIN + 2, I64_MAX)])),
    ("Interval", interval_state([]), Interval()),
    ("Interval", interval_state([(False, 0, 1, False), (False, 1, 2, False)]), INTERVALS[3]),
    ("Interval", interval_state([(True, 1, 1, True), (False, 1.5, 2, True)]), Interval([(True, 1, 1, True), (False, 1.5, 2, True)])),
])
def test_the_edges_of_normalised_are_accepted(name, state, expected):
    assert velnor_lib._reconstruct(name=name, state=state) == expected


# Random values of both classes, built through their constructors (which normalise).
spans = st.lists(st.tuples(st.integers(I64_MIN, I64_MAX), st.integers(I64_MIN, I64_MAX)), max_size=8).map(
    lambda pairs: Span([(min(p), max(p)) for p in pairs]))
bounds = st.one_of(st.sampled_from([-inf, inf, -0.0, 0.0, 1.0, 2.5]), st.floats(allow_nan=False, width=64))
intervals = st.lists(st.tuples(st.booleans(), bounds, bounds, st.booleans()), max_size=8).map(
    lambda raw: Interval([(lc and math.isfinite(min(a, b)), min(a, b), max(a, b), rc and math.isfinite(max(a, b)))
                          for lc, a, b, rc in raw]))


@settings(max_examples=40)
@given(value=st.one_of(spans, intervals), protocol=st.sampled_from(PROTOCOLS))
def test_random_values_round_trip_bit_for_bit(value, protocol):
    loaded = pickle.loads(pickle.dumps(value, protocol))
    assert type(loaded) is type(value) and bits(loaded) == bits(value)


class OnlyTheReconstructor(pickle.Unpickler):
    """Loads nothing but velnor_lib._reconstruct, as anyone loading pickles from outside should."""

    def find_class(self, module, name):
        if (module, name) == ("velnor_lib", "_reconstruct"):
            return velnor_lib._reconstruct
        raise pickle.UnpicklingError(f"{module}.{name} is not allowed")


def assert_loads_to_valid_or_refuses(data):
    # The unpickler's own refusals are many; MemoryError among them comes from pickle itself, which may try to
    # allocate a length a changed opcode claims (bytearray8 does). The reconstructor allocates no more
    # segments than its bytes hold.
    refusals = (ValueError, TypeError, pickle.UnpicklingError, EOFError, KeyError, IndexError, OverflowError,
                AttributeError, struct.error, MemoryError)
    try:
        loaded = OnlyTheReconstructor(io.BytesIO(data)).load()
    except refusals:
        return None
    if isinstance(loaded, Span):
        assert span_is_normalised(loaded.segments) and Span(loaded.segments) == loaded
    elif isinstance(loaded, Interval):
        assert interval_is_normalised(loaded.segments) and Interval(loaded.segments) == loaded
    return loaded


@pytest.mark.slow
@settings(max_examples=300)
@given(value=st.one_of(spans, intervals), protocol=st.sampled_from(PROTOCOLS), data=st.data())
def test_a_perturbed_pickle_loads_to_a_normalised_object_or_is_refused(value, protocol, data):
    pickled = bytearray(pickle.dumps(value, protocol))
    edits = data.draw(st.lists(st.tuples(st.integers(0, len(pickled) - 1), st.integers(0, 255)), min_size=1, max_size=3))
    for position, byte in edits:
        pickled[position] = byte
    cut = data.draw(st.integers(0, len(pickled)))
    assert_loads_to_valid_or_refuses(bytes(pickled[:cut]) if data.draw(st.booleans()) else bytes(pickled))


@pytest.mark.slow
@settings(max_examples=300)
@given(value=st.one_of(spans, intervals), data=st.data())
def test_a_perturbed_state_is_refused_with_value_error_or_decodes_normalised(value, data):
    name, state = value.__reduce__()[1]
    state = bytearray(state)
    for _ in range(data.draw(st.integers(1, 4))):
        if state and data.draw(st.booleans()):
            state[data.draw(st.integers(0, len(state) - 1))] ^= 1 << data.draw(st.integers(0, 7))
        else:
            state.insert(data.draw(st.integers(0, len(state))), data.draw(st.integers(0, 255)))
    try:
        loaded = velnor_lib._reconstruct(name, bytes(state))
    except ValueError as error:
        assert str(error).startswith(f"invalid {name} state: ")
        return
    is_normalised = span_is_normalised if name == "Span" else interval_is_normalised
    assert type(loaded).__name__ == name and is_normalised(loaded.segments)
    assert loaded.__reduce__()[1][1] == bytes(state)  # a state that decodes is the one its object writes


@pytest.mark.parametrize("value", VALUES, ids=repr)
@pytest.mark.parametrize("how", [copy.copy, copy.deepcopy, lambda v: v.__copy__(), lambda v: v.__deepcopy__({})])
def test_copies_are_new_independent_objects(value, how):
    duplicate = how(value)
    assert type(duplicate) is type(value) and duplicate is not value and duplicate == value
    before = value.segments
    duplicate |= type(value)([(1, 1)] if isinstance(value, Span) else [(True, 1, 1, True)])
    assert value.segments == before


def test_deep_copies_of_containers_copy_each_set_once_and_keep_sharing():
    s, i = Span([(1, 4)]), Interval([(True, 0, 1, False)])
    original = {"spans": [s, s], "interval": i, "nested": (i, [s])}
    duplicate = copy.deepcopy(original)
    assert duplicate == original
    assert duplicate["spans"][0] is duplicate["spans"][1] is duplicate["nested"][1][0]
    assert duplicate["interval"] is duplicate["nested"][0]
    assert duplicate["spans"][0] is not s and duplicate["interval"] is not i
    shallow = copy.copy(original["spans"])
    assert shallow[0] is s  # a shallow copy of a list shares its items, as for any object


def test_dataclasses_asdict_copies_the_sets_it_finds():
    @dataclasses.dataclass
    class Booking:
        rooms: Span
        hours: Interval

    booking = Booking(Span([(101, 104)]), Interval([(True, 9, 17, False)]))
    as_dict = dataclasses.asdict(booking)
    assert as_dict == {"rooms": booking.rooms, "hours": booking.hours}
    assert as_dict["rooms"] is not booking.rooms and as_dict["hours"] is not booking.hours


@pytest.mark.parametrize("refuse", [copy.copy, copy.deepcopy] + [lambda c, p=p: pickle.dumps(c, p) for p in PROTOCOLS])
def test_a_chunk_iterator_refuses_to_be_copied_or_pickled_and_goes_on(refuse):
    chunks = iter_chunk(range(5), 2)
    assert next(chunks) == [0, 1]
    with pytest.raises(TypeError, match="^cannot pickle 'ChunksIter' object$"):
        refuse(chunks)
    assert list(chunks) == [[2, 3], [4]]


@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize("thing", [Span, Interval, velnor_lib.ChunksIter, Span.union, Interval.copy,
                                   Span.__reduce__], ids=repr)
def test_the_classes_and_their_unbound_methods_are_pickled_by_name(thing, protocol):
    # They report the module velnor_lib, where pickle finds them: the pickle names them, never copies them.
    assert pickle.loads(pickle.dumps(thing, protocol)) is thing


# Pickles written before the classes reported the module velnor_lib, at every protocol: a list of a span, an
# interval and an empty one of each. They name only the reconstructor, so their format did not change.
OLD_PICKLES = json.loads((pathlib.Path(__file__).parent / "data" / "pickles_0.3.0b6.json").read_text())


@pytest.mark.parametrize("row", OLD_PICKLES["pickles"], ids=lambda row: f"protocol {row['protocol']}")
def test_pickles_of_the_earlier_release_load_and_are_written_the_same_today(row):
    expected = [Span([tuple(pair) for pair in OLD_PICKLES["span"]]),
                Interval([tuple(segment) for segment in OLD_PICKLES["interval"]]), Span(), Interval()]
    old = bytes.fromhex(row["pickle"])
    loaded = pickle.loads(old)
    assert [type(value) for value in loaded] == [Span, Interval, Span, Interval]
    assert loaded == expected
    assert bits(loaded[1]) == bits(expected[1])  # -0.0 stays -0.0
    assert pickle.dumps(expected, protocol=row["protocol"]) == old


def test_a_bound_method_pickles_with_its_object():
    union = pickle.loads(pickle.dumps(Span([(1, 2)]).union))
    assert union(Span([(3, 5)])) == Span([(1, 5)])


# Across processes. The jobs are module-level functions, so that the spawn start method can import them.

def covered_hours(records):
    """A Span of the seconds covered by (start, duration) records, and the same as closed real segments."""
    span = Span([(start, start + duration - 1) for start, duration in records])
    return span, span.to_interval()


RECORD_BATCHES = [[(k * 100 + j * 7, 5 + j % 3) for j in range(30)] for k in range(6)]


def serial_answer():
    results = [covered_hours(batch) for batch in RECORD_BATCHES]
    return results, Span().union(*(span for span, _ in results))


def union_of(*spans):
    return Span().union(*spans)


def send_back(queue, values):
    for value in values:
        queue.put(value)
    queue.put(None)


def check_pool(method):
    context = multiprocessing.get_context(method)
    with concurrent.futures.ProcessPoolExecutor(max_workers=2, mp_context=context) as pool:
        results = list(pool.map(covered_hours, RECORD_BATCHES))
        unioned = pool.submit(union_of, *(span for span, _ in results)).result()
    expected, expected_union = serial_answer()
    assert results == expected and unioned == expected_union
    assert all(type(span) is Span and type(interval) is Interval for span, interval in results)


@pytest.mark.skipif("fork" not in multiprocessing.get_all_start_methods(), reason="no fork on this platform")
def test_a_process_pool_with_fork_returns_the_serial_answer():
    check_pool("fork")


@pytest.mark.slow
def test_a_process_pool_with_spawn_returns_the_serial_answer():
    check_pool("spawn")


@pytest.mark.parametrize("method", [
    pytest.param("fork", marks=pytest.mark.skipif("fork" not in multiprocessing.get_all_start_methods(), reason="no fork")),
    pytest.param("spawn", marks=pytest.mark.slow),
])
def test_a_multiprocessing_queue_carries_sets_unchanged(method):
    context = multiprocessing.get_context(method)
    queue = context.Queue()
    values = VALUES + [covered_hours(batch)[0] for batch in RECORD_BATCHES]
    child = context.Process(target=send_back, args=(queue, values))
    child.start()
    received = list(iter(queue.get, None))
    child.join(timeout=30)
    assert child.exitcode == 0
    assert [bits(value) for value in received] == [bits(value) for value in values]
    assert [type(value) for value in received] == [type(value) for value in values]
