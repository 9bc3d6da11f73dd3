"""iter_chunk and ChunksIter: chunking, the end of iteration, errors, holds and the class's traits."""

import gc
import itertools
import operator
import sys
import threading
import weakref

import pytest

import velnor_lib
from velnor_lib import ChunksIter, iter_chunk

SIZE_MAX = sys.maxsize * 2 + 1


def message_of(action):
    """Returns (type, message) of the exception that `action()` raises: the interpreter's own texts."""
    try:
        action()
    except Exception as error:  # noqa: BLE001 - any error is the expected answer here
        return type(error), str(error)
    raise AssertionError("no exception raised")


def islice_chunks(iterable, size):
    """An independent oracle: successive islice slices of one iterator until one comes back empty."""
    iterator = iter(iterable)
    return list(iter(lambda: list(itertools.islice(iterator, size)), []))


# --- chunking --------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("iterable", "size", "expected"),
    [
        (range(5), 2, [[0, 1], [2, 3], [4]]),
        (range(4), 2, [[0, 1], [2, 3]]),
        ([], 3, []),
        ("abc", 2, [["a", "b"], ["c"]]),
        ([1, None, 2], 2, [[1, None], [2]]),
        ([None, 1], 5, [[None, 1]]),
        ([None], 1, [[None]]),
        ([None, None, None], 2, [[None, None], [None]]),
        (range(3), 1, [[0], [1], [2]]),
        (range(3), SIZE_MAX, [[0, 1, 2]]),
        ((x for x in "xyz"), 2, [["x", "y"], ["z"]]),
        ({"a": 1, "b": 2}, 1, [["a"], ["b"]]),
        (iter_chunk(range(5), 2), 2, [[[0, 1], [2, 3]], [[4]]]),
    ],
)
def test_chunks(iterable, size, expected):
    assert list(iter_chunk(iterable, size)) == expected


def test_binds_by_keyword():
    chunks = iter_chunk(iter=range(3), chunk_size=3)
    assert next(chunks) == [0, 1, 2]
    assert next(chunks, "end") == "end"


def test_shares_position_with_a_given_iterator():
    it = iter(range(6))
    chunks = iter_chunk(it, 2)
    assert next(chunks) == [0, 1]
    assert next(it) == 2
    assert next(chunks) == [3, 4]


def test_reads_no_item_ahead_of_the_chunk():
    taken = []

    def counted():
        for item in range(10):
            taken.append(item)
            yield item

    chunks = iter_chunk(counted(), 3)
    assert taken == []
    assert next(chunks) == [0, 1, 2]
    assert taken == [0, 1, 2]


def test_iter_returns_the_iterator_itself():
    chunks = iter_chunk([1], 1)
    assert iter(chunks) is chunks
    assert chunks.__iter__() is chunks
    assert list(chunks) == [[1]]


# --- the end ---------------------------------------------------------------------------------------


class Revivable:
    """An iterator that signals its end once, then yields again: the chunk iterator must not ask."""

    __slots__ = ("calls", "items")

    def __init__(self, items):
        self.items = list(items)
        self.calls = 0

    def __iter__(self):
        return self

    def __next__(self):
        self.calls += 1
        if self.calls == len(self.items) + 1:
            raise StopIteration
        return self.items[(self.calls - 1) % len(self.items)]


@pytest.mark.parametrize("size", [1, 2, 3, 4])
def test_end_is_final_and_the_source_is_not_asked_again(size):
    source = Revivable([1, 2, 3])
    chunks = iter_chunk(source, size)
    assert list(chunks) == islice_chunks([1, 2, 3], size)
    calls = source.calls
    for _ in range(3):
        with pytest.raises(StopIteration) as raised:
            next(chunks)
        assert raised.value.value is None
        with pytest.raises(StopIteration):
            chunks.__next__()
    assert next(chunks, 0) == 0
    assert source.calls == calls == 4


class StopSubclass(StopIteration):
    pass


def test_stop_iteration_subclass_and_generator_return_end_iteration():
    def returning():
        yield 1
        return "value"

    assert list(iter_chunk(returning(), 5)) == [[1]]

    def stopping():
        yield 1
        raise StopSubclass("done")

    # A generator turns an escaping StopIteration into RuntimeError; an iterator class does not.
    class Stopping:
        __slots__ = ("left",)

        def __init__(self):
            self.left = 2

        def __iter__(self):
            return self

        def __next__(self):
            self.left -= 1
            if self.left < 0:
                raise StopSubclass("done")
            return self.left

    assert list(iter_chunk(Stopping(), 5)) == [[1, 0]]
    chunks = iter_chunk(stopping(), 5)
    expected = message_of(lambda: list(stopping()))
    assert message_of(lambda: next(chunks)) == expected


# --- chunk_size and binding ------------------------------------------------------------------------


class NotTouched:
    """An iterable whose `__iter__` must not run."""

    def __iter__(self):
        raise AssertionError("__iter__ was called")


@pytest.mark.parametrize("iterable", [[1], 5, NotTouched()])
def test_zero_chunk_size_is_refused_before_the_iterable_is_touched(iterable):
    with pytest.raises(ValueError) as raised:
        iter_chunk(iterable, 0)
    assert str(raised.value) == "chunk_size cannot be 0 or lower."


@pytest.mark.parametrize(
    ("size", "expected"),
    [
        (-1, message_of(lambda: (-1).to_bytes(8, "little"))),
        (2**64, message_of(lambda: (2**64).to_bytes(8, "little"))),
    ],
)
def test_out_of_range_chunk_size_raises_the_interpreters_overflow_error(size, expected):
    assert expected[0] is OverflowError
    assert message_of(lambda: iter_chunk(NotTouched(), size)) == expected


@pytest.mark.parametrize("size", [1.5, "2", None])
def test_non_integer_chunk_size_names_the_argument(size):
    kind, text = message_of(lambda: operator.index(size))
    assert kind is TypeError
    assert message_of(lambda: iter_chunk([], size)) == (TypeError, "argument 'chunk_size': " + text)


def test_index_protocol_and_bool_are_accepted_as_chunk_size():
    class Two:
        def __index__(self):
            return 2

    assert list(iter_chunk(range(3), Two())) == [[0, 1], [2]]
    assert list(iter_chunk(range(2), True)) == [[0], [1]]


@pytest.mark.parametrize(
    ("call", "expected"),
    [
        (lambda: iter_chunk(), "iter_chunk() missing 2 required positional arguments: 'iter' and 'chunk_size'"),
        (lambda: iter_chunk([]), "iter_chunk() missing 1 required positional argument: 'chunk_size'"),
        (lambda: iter_chunk([], 1, 2), "iter_chunk() takes 2 positional arguments but 3 were given"),
        (lambda: iter_chunk([], iter=[]), "iter_chunk() got multiple values for argument 'iter'"),
        (lambda: iter_chunk([], 1, size=2), "iter_chunk() got an unexpected keyword argument 'size'"),
    ],
)
def test_binding_errors(call, expected):
    assert message_of(call) == (TypeError, expected)


# --- the iterable and its source -------------------------------------------------------------------


def test_iterable_without_iter_raises_the_lookup_error():
    assert message_of(lambda: iter_chunk(5, 1)) == message_of(lambda: (5).__iter__)

    class OnlyGetitem:
        def __getitem__(self, index):
            return index

    assert message_of(lambda: iter_chunk(OnlyGetitem(), 1)) == message_of(lambda: OnlyGetitem().__iter__)


def test_instance_attribute_iter_is_honoured():
    class Holder:
        def __iter__(self):
            return iter([1])

    holder = Holder()
    holder.__iter__ = lambda: iter([7, 8])
    assert list(iter_chunk(holder, 5)) == [[7, 8]]


def test_error_from_iter_propagates():
    class Failing:
        def __iter__(self):
            raise KeyError("no")

    assert message_of(lambda: iter_chunk(Failing(), 1)) == (KeyError, "'no'")


class NoNext:
    __slots__ = ()


class Returns:
    """An iterable whose `__iter__` returns a given object, iterator or not."""

    def __init__(self, source):
        self.source = source

    def __iter__(self):
        return self.source


@pytest.mark.parametrize("source", [[1, 2], NoNext(), 5])
def test_source_without_next_raises_the_lookup_error_on_every_call(source):
    chunks = iter_chunk(Returns(source), 2)
    expected = message_of(lambda: source.__next__)
    assert expected[0] is AttributeError
    for _ in range(3):
        assert message_of(lambda: next(chunks)) == expected


# --- errors from the source ------------------------------------------------------------------------


class Item:
    """A weakly referable item, to see that discarded items are released."""

    def __init__(self, number):
        self.number = number

    def __eq__(self, other):
        return isinstance(other, Item) and other.number == self.number

    __hash__ = None


class Failing:
    """Yields items, raising KeyError once before every third item."""

    __slots__ = ("calls", "produced", "__weakref__")

    def __init__(self):
        self.calls = 0
        self.produced = []

    def __iter__(self):
        return self

    def __next__(self):
        self.calls += 1
        if self.calls > 8:
            raise StopIteration
        if self.calls % 3 == 0:
            raise KeyError(self.calls)
        item = Item(self.calls)
        self.produced.append(weakref.ref(item))
        return item


def test_error_mid_chunk_discards_the_partial_chunk_and_keeps_iterating():
    source = Failing()
    chunks = iter_chunk(source, 10)
    assert message_of(lambda: next(chunks)) == (KeyError, "3")
    gc.collect()
    assert [ref() for ref in source.produced] == [None, None]  # items 1 and 2 were released
    assert message_of(lambda: next(chunks)) == (KeyError, "6")
    assert next(chunks) == [Item(7), Item(8)]
    assert next(chunks, "end") == "end"
    assert source.calls == 9


# --- holds and re-entry ----------------------------------------------------------------------------


class Reentrant:
    """On its second item, calls `action(chunks)` and records what it raised."""

    __slots__ = ("action", "chunks", "count", "seen")

    def __init__(self, action):
        self.action = action
        self.chunks = None
        self.count = 0
        self.seen = None

    def __iter__(self):
        return self

    def __next__(self):
        self.count += 1
        if self.count == 2:
            self.seen = message_of(lambda: self.action(self.chunks))
        if self.count > 3:
            raise StopIteration
        return self.count


@pytest.mark.parametrize(
    ("action", "expected"),
    [(next, "Already borrowed"), (iter, "Already mutably borrowed"), (list, "Already mutably borrowed")],
)
def test_reentry_from_the_source_is_refused(action, expected):
    source = Reentrant(action)
    chunks = iter_chunk(source, 5)
    source.chunks = chunks
    assert next(chunks) == [1, 2, 3]
    assert source.seen == (RuntimeError, expected)
    assert next(chunks, "end") == "end"
    source.chunks = None  # the class takes no part in garbage collection: break the cycle by hand


def test_reentry_error_that_escapes_the_source_discards_the_chunk():
    def source():
        yield 1
        next(chunks)
        yield 2  # never reached: the generator has failed

    chunks = iter_chunk(source(), 5)
    assert message_of(lambda: next(chunks)) == (RuntimeError, "Already borrowed")
    assert next(chunks, "end") == "end"  # the failed generator is finished
    del chunks  # break the cycle through the generator's frame


def test_another_thread_is_refused_while_the_source_runs():
    entered = threading.Event()
    release = threading.Event()

    def source():
        entered.set()
        release.wait(10)  # releases the interpreter lock
        yield 1

    chunks = iter_chunk(source(), 1)
    results = []
    worker = threading.Thread(target=lambda: results.append(next(chunks)))
    worker.start()
    assert entered.wait(10)
    assert message_of(lambda: next(chunks)) == (RuntimeError, "Already borrowed")
    release.set()
    worker.join(10)
    assert results == [[1]]


# --- lifetime --------------------------------------------------------------------------------------


def test_source_and_items_are_released():
    source = Failing()
    source_ref = weakref.ref(source)
    chunks = iter_chunk(source, 10)
    del source
    with pytest.raises(KeyError):
        next(chunks)
    with pytest.raises(KeyError):
        next(chunks)
    last = next(chunks)
    item_refs = [weakref.ref(item) for item in last]
    del last  # the chunk iterator keeps no reference to yielded items
    gc.collect()
    assert [ref() for ref in item_refs] == [None, None]
    assert source_ref() is not None
    del chunks
    gc.collect()
    assert source_ref() is None


@pytest.mark.parametrize("size", [1, 3, 100])
@pytest.mark.parametrize(
    "wrap", [list, iter, lambda items: (item for item in items), lambda items: Returns(Revivable(items))]
)
def test_reference_counts_balance(size, wrap):
    sentinel = object()
    before = sys.getrefcount(sentinel)
    chunks = list(iter_chunk(wrap([sentinel] * 7), size))
    assert sum(map(len, chunks)) == 7
    assert sys.getrefcount(sentinel) == before + 7
    del chunks
    assert sys.getrefcount(sentinel) == before


def test_reference_counts_balance_after_errors():
    sentinel = object()
    before = sys.getrefcount(sentinel)

    def failing():
        yield sentinel
        yield sentinel
        raise KeyError("stop")

    for _ in range(5):
        chunks = iter_chunk(failing(), 10)
        with pytest.raises(KeyError):
            next(chunks)
        del chunks
    assert sys.getrefcount(sentinel) == before


# --- the class -------------------------------------------------------------------------------------


def test_class_traits():
    chunks = iter_chunk([], 1)
    assert type(chunks) is ChunksIter
    assert (ChunksIter.__name__, ChunksIter.__qualname__, ChunksIter.__module__) == (
        "ChunksIter",
        "ChunksIter",
        "velnor_lib",
    )
    assert ChunksIter.__doc__ is None
    assert iter_chunk.__doc__ is None
    assert iter_chunk.__module__ == "velnor_lib"
    assert iter_chunk.__self__ is velnor_lib


def test_no_constructor():
    assert message_of(ChunksIter) == (TypeError, "No constructor defined")
    assert message_of(lambda: ChunksIter([], 1)) == (TypeError, "No constructor defined")


def test_not_subclassable_no_weakref_no_attributes():
    with pytest.raises(TypeError) as raised:
        type("Sub", (ChunksIter,), {})
    assert str(raised.value) == "type 'velnor_lib.ChunksIter' is not an acceptable base type"
    chunks = iter_chunk([], 1)
    with pytest.raises(TypeError) as raised:
        weakref.ref(chunks)
    assert str(raised.value) == "cannot create weak reference to 'velnor_lib.ChunksIter' object"
    with pytest.raises(AttributeError):
        chunks.x = 1
    assert not hasattr(chunks, "__dict__")


def test_registered_after_span_and_before_version():
    names = velnor_lib.__all__
    at = names.index("Span")
    assert names[at : at + 3] == ["Span", "ChunksIter", "iter_chunk"]
    assert names[-1] == "__version__"
    assert velnor_lib.ChunksIter is ChunksIter
