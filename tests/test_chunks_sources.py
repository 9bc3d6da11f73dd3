"""Every kind of source is read exactly as `source.__next__()` looked up afresh for each item would read it.

Some sources are stepped through their type's iterator slot, others by an attribute lookup per item; the
reference below always does the lookup, and each test compares what both report, step by step.
"""

import itertools
import signal
import subprocess
import sys

import pytest

from hypothesis import given, settings
from hypothesis import strategies as st

from velnor_lib import iter_chunk

END = "end"


class ReferenceChunks:
    """Plain-Python chunking: `__iter__` and `__next__` looked up on the objects for every call."""

    def __init__(self, iterable, size):
        self.source = getattr(iterable, "__iter__")()
        self.size = size
        self.exhausted = False

    def __iter__(self):
        return self

    def __next__(self):
        if self.exhausted:
            raise StopIteration
        chunk = []
        while len(chunk) < self.size:
            try:
                item = getattr(self.source, "__next__")()
            except StopIteration:
                self.exhausted = True
                break
            chunk.append(item)
        if not chunk:
            raise StopIteration
        return chunk


def observe(chunks, steps):
    """What `steps` calls of next() report: chunks, errors (type and args) and ends."""
    seen = []
    for _ in range(steps):
        try:
            seen.append(next(chunks))
        except StopIteration:
            seen.append(END)
        except Exception as error:  # noqa: BLE001 - errors are observations here
            seen.append((type(error), error.args))
    return seen


def islice_chunks(iterable, size):
    iterator = iter(iterable)
    return list(iter(lambda: list(itertools.islice(iterator, size)), []))


# --- sources that replay a script: items, and exceptions to raise in their place ---------------------


class Boom(Exception):
    pass


class Stop(StopIteration):
    pass


def play(script, position):
    entry = script[position]
    if isinstance(entry, BaseException):
        raise entry
    return entry


class SlotsScript:
    """No `__dict__`: stepped through the class's iterator slot, which calls `__next__`."""

    __slots__ = ("script", "at")

    def __init__(self, script):
        self.script, self.at = script, 0

    def __iter__(self):
        return self

    def __next__(self):
        if self.at == len(self.script):
            raise StopIteration
        self.at += 1
        return play(self.script, self.at - 1)


class DictScript(SlotsScript.__base__):
    """Has a `__dict__`: `__next__` is looked up for every item."""

    def __init__(self, script):
        self.script, self.at = script, 0

    __iter__ = SlotsScript.__iter__
    __next__ = SlotsScript.__next__


class InstanceNext:
    """`__next__` set on the instance shadows the class's method, which must never run."""

    def __init__(self, script):
        inner = SlotsScript(script)
        self.__next__ = inner.__next__

    def __iter__(self):
        return self

    def __next__(self):
        raise AssertionError("the class's __next__ ran instead of the instance's")


class GetattrScript(SlotsScript):
    """A custom `__getattribute__`: its answer for `__next__` counts, not the class's method."""

    __slots__ = ()

    def __getattribute__(self, name):
        if name == "__next__":
            return lambda: "patched"
        return object.__getattribute__(self, name)


def generator_source(script):
    for position in range(len(script)):
        yield play(script, position)


SOURCE_KINDS = {
    "slots": SlotsScript,
    "dict": DictScript,
    "instance_next": InstanceNext,
    "generator": generator_source,
    "getattribute": GetattrScript,
}

items = st.one_of(st.none(), st.integers(-5, 5), st.text(max_size=2))
scripts = st.lists(
    st.one_of(items, items, items, st.builds(Boom, st.integers(0, 9)), st.builds(Stop, st.integers(0, 9))),
    max_size=30,
)


@settings(max_examples=300, deadline=None)
@given(scripts, st.integers(1, 7), st.sampled_from(sorted(SOURCE_KINDS)))
def test_scripted_sources_match_the_reference(script, size, kind):
    make = SOURCE_KINDS[kind]
    ours = observe(iter_chunk(make(script), size), len(script) + 3)
    reference = observe(ReferenceChunks(make(script), size), len(script) + 3)
    assert ours == reference


@settings(max_examples=300, deadline=None)
@given(st.lists(items, max_size=40), st.integers(1, 12))
def test_plain_sources_match_islice(values, size):
    expected = islice_chunks(values, size)
    sources = [
        values,
        tuple(values),
        iter(values),
        (value for value in values),
        SlotsScript(values),
        DictScript(values),
        InstanceNext(values),
    ]
    for source in sources:
        assert list(iter_chunk(source, size)) == expected


@given(st.text(max_size=20), st.integers(1, 5))
def test_strings_match_islice(text, size):
    assert list(iter_chunk(text, size)) == islice_chunks(text, size)


# --- sources whose class changes while they are read ------------------------------------------------
# Each scenario builds fresh classes, so it can run once against each implementation.


def fresh_slots_class():
    class Counter:
        __slots__ = ("n",)

        def __init__(self):
            self.n = 0

        def __iter__(self):
            return self

        def __next__(self):
            self.n += 1
            return self.n

    return Counter


def replaced_next(make_chunks):
    counter_class = fresh_slots_class()
    chunks = make_chunks(counter_class(), 2)
    first = next(chunks)
    counter_class.__next__ = lambda self: "new"
    return [first, next(chunks)]


def replaced_next_mid_chunk(make_chunks):
    counter_class = fresh_slots_class()
    original = counter_class.__next__

    def switching(self):
        counter_class.__next__ = lambda self: -1  # later items of this very chunk use the new method
        return original(self)

    counter_class.__next__ = switching
    return observe(make_chunks(counter_class(), 4), 2)


def deleted_next(make_chunks):
    counter_class = fresh_slots_class()
    chunks = make_chunks(counter_class(), 2)
    first = next(chunks)
    del counter_class.__next__
    return [first] + observe(chunks, 2)


def added_getattr_hook(make_chunks):
    counter_class = fresh_slots_class()
    chunks = make_chunks(counter_class(), 2)
    first = next(chunks)

    def getattribute(self, name):
        if name == "__next__":
            return lambda: "hooked"
        return object.__getattribute__(self, name)

    counter_class.__getattribute__ = getattribute
    return [first, next(chunks)]


def base_class_changed(make_chunks):
    counter_class = fresh_slots_class()
    derived = type("Derived", (counter_class,), {"__slots__": ()})
    chunks = make_chunks(derived(), 2)
    first = next(chunks)
    counter_class.__next__ = lambda self: "from base"
    return [first, next(chunks)]


def class_reassigned(make_chunks):
    counter_class = fresh_slots_class()

    class Other(counter_class):
        __slots__ = ()

    class Sibling(counter_class):
        __slots__ = ()

        def __next__(self):
            return "sibling"

    source = Other()
    chunks = make_chunks(source, 2)
    first = next(chunks)
    source.__class__ = Sibling
    return [first, next(chunks)]


def subclass_of_builtin_iterator(make_chunks):
    class Count(itertools.count):
        __slots__ = ()

    chunks = make_chunks(Count(5), 2)
    first = next(chunks)
    Count.__next__ = lambda self: "override"
    return [first, next(chunks)]


def metaclass_hides_the_instance_dict(make_chunks):
    class Lying(type):
        __dictoffset__ = 0  # shadows the real offset when read as an attribute of the class

    class Counter(metaclass=Lying):
        def __init__(self):
            self.n = 0

        def __iter__(self):
            return self

        def __next__(self):
            self.n += 1
            return self.n

    assert Counter.__dictoffset__ == 0
    source = Counter()
    source.__next__ = lambda: "instance"
    return observe(make_chunks(source, 2), 2)


def abc_iterator(make_chunks):
    import collections.abc

    class Counter(collections.abc.Iterator):
        __slots__ = ("n",)

        def __init__(self):
            self.n = 0

        def __next__(self):
            self.n += 1
            if self.n > 3:
                raise StopIteration
            return self.n

    return observe(make_chunks(Counter(), 2), 3)


SCENARIOS = [
    replaced_next,
    replaced_next_mid_chunk,
    deleted_next,
    added_getattr_hook,
    base_class_changed,
    class_reassigned,
    subclass_of_builtin_iterator,
    metaclass_hides_the_instance_dict,
    abc_iterator,
]


def test_changing_classes_match_the_reference():
    for scenario in SCENARIOS:
        assert scenario(iter_chunk) == scenario(ReferenceChunks), scenario.__name__


def test_scenarios_see_the_change():
    """Guards the scenarios themselves: each change is visible in what the reference reports."""
    assert replaced_next(ReferenceChunks) == [[1, 2], ["new", "new"]]
    assert replaced_next_mid_chunk(ReferenceChunks) == [[1, -1, -1, -1], [-1, -1, -1, -1]]
    assert deleted_next(ReferenceChunks)[1][0] is AttributeError
    assert added_getattr_hook(ReferenceChunks) == [[1, 2], ["hooked", "hooked"]]
    assert base_class_changed(ReferenceChunks) == [[1, 2], ["from base", "from base"]]
    assert class_reassigned(ReferenceChunks) == [[1, 2], ["sibling", "sibling"]]
    assert subclass_of_builtin_iterator(ReferenceChunks) == [[5, 6], ["override", "override"]]
    assert metaclass_hides_the_instance_dict(ReferenceChunks) == [["instance", "instance"]] * 2
    assert abc_iterator(ReferenceChunks) == [[1, 2], [3], END]


# --- lists, tuples and ranges, read without their iterators ------------------------------------------


class ListWithOwnIter(list):
    def __iter__(self):
        return iter([*super().__iter__(), "extra"])


class TupleSubclass(tuple):
    pass


@settings(max_examples=200, deadline=None)
@given(
    st.lists(items, max_size=30),
    st.integers(1, 7),
    st.lists(st.one_of(st.just("next"), st.tuples(st.sampled_from(["append", "pop", "clear", "insert"]),
                                                  st.integers(-3, 3))), max_size=20),
)
def test_a_list_changed_between_chunks_reads_as_its_iterator(values, size, steps):
    ours_list, reference_list = list(values), list(values)
    ours, reference = iter_chunk(ours_list, size), ReferenceChunks(reference_list, size)
    for step in steps + ["next"] * 3:
        if step == "next":
            assert observe(ours, 1) == observe(reference, 1)
            continue
        action, value = step
        for target in (ours_list, reference_list):
            if action == "append":
                target.append(value)
            elif action == "insert":
                target.insert(value, value)
            elif action == "pop" and target:
                target.pop()
            elif action == "clear":
                target.clear()


ranges = st.builds(
    range,
    st.one_of(st.integers(-50, 50), st.integers(2**63 - 40, 2**63 + 5), st.integers(-(2**63) - 5, -(2**63) + 40)),
    st.one_of(st.integers(-50, 50), st.integers(2**63 - 40, 2**63 + 5), st.integers(-(2**63) - 5, -(2**63) + 40)),
    st.integers(-7, 7).filter(bool) | st.sampled_from([2**62, -(2**62), 2**64]),
)


@settings(max_examples=300, deadline=None)
@given(ranges, st.integers(1, 9))
def test_ranges_match_their_iterator(source, size):
    expected = observe(ReferenceChunks(source, size), 12)
    assert observe(iter_chunk(source, size), 12) == expected


@pytest.mark.parametrize(
    ("source", "expected"),
    [
        (ListWithOwnIter([1, 2]), [[1, 2], ["extra"]]),
        (TupleSubclass((1, 2, 3)), [[1, 2], [3]]),
        ((), []),
        (range(0), []),
        (range(10, 0, -4), [[10, 6], [2]]),
        (range(2**63 - 3, 2**63 + 1), [[2**63 - 3, 2**63 - 2], [2**63 - 1, 2**63]]),
        (range(-(2**64), -(2**64) + 3), [[-(2**64), -(2**64) + 1], [-(2**64) + 2]]),
        (range(0, 2**64, 2**63), [[0, 2**63]]),
    ],
)
def test_container_edges(source, expected):
    assert list(iter_chunk(source, 2)) == expected


def test_huge_chunks_of_containers_take_what_is_there():
    values = list(range(10))
    assert list(iter_chunk(values, 2**64 - 1)) == [values]
    assert list(iter_chunk(tuple(values), 2**63)) == [values]
    assert list(iter_chunk(range(10), 2**64 - 1)) == [values]


def test_a_list_is_released_once_it_ran_out():
    values = [object()]
    before = sys.getrefcount(values)
    chunks = iter_chunk(values, 1)
    assert sys.getrefcount(values) == before + 1
    assert next(chunks) == values
    assert next(chunks, "end") == "end"
    assert sys.getrefcount(values) == before


@pytest.mark.slow
@pytest.mark.parametrize("make", [lambda: [0] * 3 * 10**7, lambda: (0,) * 3 * 10**7, lambda: range(3 * 10**7)])
def test_a_signal_stops_a_huge_chunk_of_a_container(make):
    source = make()
    chunks = iter_chunk(source, 3 * 10**7)

    def interrupt(*_):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.02)
        with pytest.raises(KeyboardInterrupt):
            for _ in range(50):  # one chunk is well over 20 ms; a few spares absorb a late alarm
                chunks = iter_chunk(source, 3 * 10**7)
                next(chunks)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


# Crashes on a deep chain would kill the test process: each runs in a child with a timeout.
DEEP = {
    "next through 100,000 levels": (
        "x = iter([1, 2])\nfor _ in range(100_000): x = iter_chunk(x, 1)\n"
        "try:\n    next(x)\nexcept RecursionError:\n    print('RecursionError')\n",
        "RecursionError",
    ),
    "release of a 1,000,000-deep chain": (
        "x = range(3)\nfor _ in range(1_000_000): x = iter_chunk(x, 1)\ndel x\nprint('released')\n",
        "released",
    ),
    "release of a deep chain through generators": (
        "x = range(3)\nfor _ in range(200_000): x = (y for y in iter_chunk(x, 1))\ndel x\nprint('released')\n",
        "released",
    ),
}


@pytest.mark.slow
@pytest.mark.parametrize("case", sorted(DEEP))
def test_deep_chains_end_cleanly(case):
    code, expected = DEEP[case]
    done = subprocess.run([sys.executable, "-c", "from velnor_lib import iter_chunk\n" + code],
                          capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stdout.strip()) == (0, expected), done.stderr[-2000:]


@pytest.mark.slow
@pytest.mark.skipif(sys.platform != "linux", reason="address-space limits as Linux applies them")
@pytest.mark.parametrize(
    "source",
    [
        "range(10**9)",
        # The buffer's growth fails with the first C++ exception of the thread: the trampoline has the
        # exception state ready before the call, so this is a MemoryError too.
        "iter(range(10**9))",
        "[0] * 10**7",
    ],
)
def test_a_chunk_too_big_for_memory_raises_memory_error(source):
    code = (
        "import resource\nresource.setrlimit(resource.RLIMIT_AS, (2 * 10**9, 2 * 10**9))\n"
        "from velnor_lib import iter_chunk\n"
        f"source = {source}\n"
        "try:\n    next(iter_chunk(source, 10**9)); print('no error')\n"
        "except MemoryError:\n    print('MemoryError')\n"
    )
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    expected = "no error" if source.startswith("[") else "MemoryError"
    assert (done.returncode, done.stdout.strip()) == (0, expected), done.stderr[-2000:]
