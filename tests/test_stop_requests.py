"""Exceptions that mean "stop" (Ctrl-C, SystemExit, GeneratorExit, MemoryError and every other exception that is
not an Exception) end a call at once: no input alternative, size hint or type-name lookup swallows them, and a
long call notices a pending Ctrl-C within a fraction of a second, leaving its receiver as it was."""

import copy
import gc
import hashlib
import itertools
import os
import pickle
import random
import signal
import sys
import time

import pytest

import velnor_lib
from velnor_lib import Interval, Span


class Stop(BaseException):
    """A stop request of the program's own, not derived from Exception."""


class Custom(Exception):
    """An ordinary failure: the alternative does not fit, and the next one is tried."""


STOPS = [KeyboardInterrupt, SystemExit, GeneratorExit, MemoryError, Stop]


class Raising:
    """A number whose __index__ and __float__ raise."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error("from a bound")

    __float__ = __index__


class Sequence:
    """A sequence of `items` whose length query or item access raises."""

    def __init__(self, items, error, where):
        self.items, self.error, self.where = items, error, where

    def __len__(self):
        if self.where == "__len__":
            raise self.error("from __len__")
        return len(self.items)

    def __getitem__(self, index):
        if self.where == "__getitem__" and index == 1:
            raise self.error("from __getitem__")
        return self.items[index]


def nameless(error):
    """An object whose type's __qualname__ raises, met where the name is needed for a message."""

    class Meta(type):
        def __getattribute__(cls, name):
            if name == "__qualname__":
                raise error("from __qualname__")
            return super().__getattribute__(name)

    return Meta("Odd", (), {})()


SEGMENT = {Span: (1, 2), Interval: (True, 1.0, 2.0, True)}


def bound_item(cls, error):
    return (Raising(error), 2) if cls is Span else (True, Raising(error), 2.0, True)


# where: how the constructor's input raises, and the message of what it raises. Each builds the input from the
# class and the exception type.
WHERE = {
    "item __index__/__float__": (lambda cls, error: [SEGMENT[cls], bound_item(cls, error)], "from a bound"),
    "sequence __len__": (lambda cls, error: Sequence([SEGMENT[cls]], error, "__len__"), "from __len__"),
    "sequence __getitem__": (lambda cls, error: Sequence([SEGMENT[cls], SEGMENT[cls]], error, "__getitem__"),
                             "from __getitem__"),
    "item type name": (lambda cls, error: [SEGMENT[cls], nameless(error)], "from __qualname__"),
}


class Hooked:
    """Wraps an input and counts calls of the conversion hooks, which must not run after a stop request."""

    calls = 0

    def to_span(self):
        Hooked.calls += 1
        return Span()

    to_interval = to_span


@pytest.mark.parametrize("cls", [Span, Interval])
@pytest.mark.parametrize("where", WHERE)
@pytest.mark.parametrize("error", STOPS + [Custom, ValueError])
def test_stop_requests_pass_every_input_alternative(cls, where, error):
    make, message = WHERE[where]
    value = make(cls, error)
    if error in STOPS:
        with pytest.raises(error) as info:
            cls(value)
        assert type(info.value) is error
        assert str(info.value) == message
        return
    if where == "sequence __len__":  # an ordinary failure of the size hint is ignored
        assert cls(value).segments == cls(value.items).segments
        return
    # Any other ordinary failure drops the alternative: the missing hook is what the caller sees, with the
    # failure as its cause.
    hook = "to_span" if cls is Span else "to_interval"
    with pytest.raises(AttributeError) as info:
        cls(value)
    assert str(info.value) == f"'{type(value).__name__}' object has no attribute '{hook}'"
    cause = info.value.__cause__
    if where == "item type name":  # the type name is left out of the conversion error, which is the cause
        assert (type(cause), str(cause)) == (TypeError, "'<failed to extract type name>' object cannot be "
                                                        "converted to 'PyTuple'")
    else:
        assert (type(cause), str(cause)) == (error, message)


@pytest.mark.parametrize("cls", [Span, Interval])
@pytest.mark.parametrize("error", STOPS)
def test_stop_request_runs_no_hook_afterwards(cls, error):
    class HookedSequence(Sequence, Hooked):
        pass

    value = HookedSequence([SEGMENT[cls], SEGMENT[cls]], error, "__getitem__")
    before = Hooked.calls
    with pytest.raises(error):
        cls(value)
    assert Hooked.calls == before
    # A size hint that fails for an ordinary reason is still only a hint.
    assert cls(HookedSequence([SEGMENT[cls]], Custom, "__len__")).segments == cls([SEGMENT[cls]]).segments
    assert Hooked.calls == before


@pytest.mark.parametrize("cls", [Span, Interval])
@pytest.mark.parametrize("error", STOPS + [Custom])
def test_stop_request_while_the_cause_of_a_constructor_error_is_built(cls, error):
    # No sequence and no hook: the cause names the input's type, whose name lookup raises.
    value = nameless(error)
    if error in STOPS:
        with pytest.raises(error) as info:
            cls(value)
        assert type(info.value) is error and str(info.value) == "from __qualname__"
        return
    with pytest.raises(AttributeError) as info:
        cls(value)
    cause = info.value.__cause__
    assert (type(cause), str(cause)) == (TypeError, "'<failed to extract type name>' object cannot be converted "
                                                    "to 'Sequence'")


@pytest.mark.parametrize("error", STOPS)
def test_stop_request_from_a_type_name_in_a_message(error):
    s = Span([(1, 2)])
    for call in (s.union, s.isdisjoint, s.union_update):
        with pytest.raises(error):
            call(nameless(error))
    with pytest.raises(error):
        velnor_lib.utf16len(nameless(error))
    assert s.segments == [(1, 2)]
    s.union_update(Span([(5, 6)]))  # nothing is left held
    assert s.segments == [(1, 2), (5, 6)]


# Ctrl-C in long calls --------------------------------------------------------------------------------------------

COUNT = 1_000_000  # segments of the big operands; each long call below takes about a second or more


@pytest.fixture(scope="module")
def big():
    random.seed(5)
    pairs = [(3 * i, 3 * i + 1) for i in range(COUNT)]
    random.shuffle(pairs)
    a = Span(pairs)
    b = Span([(3 * i + 1, 3 * i + 2) for i in range(COUNT)])
    return {
        "pairs": pairs,
        "interval pairs": [(True, float(x), y + 0.5, False) for x, y in pairs],
        "a": a,
        "b": b,
        "ia": a.to_interval(),
        "wide": a | Span([(3 * i + COUNT * 3, 3 * i + 1 + COUNT * 3) for i in range(COUNT)]),
        "ib": Interval([(False, float(x), y + 0.5, True) for x, y in b.segments]),
    }


LONG_CALLS = {
    "Span(pairs)": lambda v: Span(v["pairs"] * 8),
    "Interval(pairs)": lambda v: Interval(v["interval pairs"] * 8),
    "Span.intersection(many)": lambda v: v["a"].intersection(*[v["b"]] * 200),
    "Span.union(many)": lambda v: v["a"].union(*[v["b"]] * 6),
    "Span.intersection_update(many)": lambda v: v["a"].intersection_update(*[v["a"].copy()] * 200),
    "Interval.difference(many)": lambda v: v["ia"].difference(*[v["ib"]] * 6),
    "Interval.intersection(many)": lambda v: v["ia"].intersection(*[v["ia"]] * 100),
    "Span.segments": lambda v: v["wide"].segments,
    "repr(Span)": lambda v: repr(v["wide"]),
    "str(Interval)": lambda v: str(v["ia"]),
    "Interval.segments": lambda v: v["ia"].segments,
}


HUGE = 20_000_000  # segments of the huge operands, built from their pickle state: pickling one takes a second


@pytest.fixture(scope="module")
def huge():
    from array import array

    words = array("q", bytes(16 * HUGE))
    words[0::2] = array("q", range(0, 3 * HUGE, 3))
    words[1::2] = array("q", range(1, 3 * HUGE, 3))
    if sys.byteorder == "big":
        words.byteswap()
    span = velnor_lib._reconstruct("Span", b"\x01" + words.tobytes())
    del words
    interval = span.to_interval()
    return {"span": span, "interval": interval, "interval state": interval.__reduce__()[1][1],
            "text": "ab" * HUGE}


# Calls on the huge operands, which only read them.
HUGE_CALLS = {
    "pickle.dumps(Span)": lambda h: pickle.dumps(h["span"]),
    "Span.__reduce__": lambda h: h["span"].__reduce__(),
    "Interval.__reduce__": lambda h: h["interval"].__reduce__(),
    "_reconstruct(Interval)": lambda h: velnor_lib._reconstruct("Interval", h["interval state"]),
    "copy.copy(Span)": lambda h: copy.copy(h["span"]),
    "copy.deepcopy(Interval)": lambda h: copy.deepcopy(h["interval"]),
    "Interval.copy": lambda h: h["interval"].copy(),
    "repr(huge Span)": lambda h: repr(h["span"]),
    "str(huge Interval)": lambda h: str(h["interval"]),
    "huge Span.segments": lambda h: h["span"].segments,
    "chunk of an iterator": lambda h: next(velnor_lib.iter_chunk(itertools.repeat(1), 3 * HUGE)),
    "chunk of a range": lambda h: next(velnor_lib.iter_chunk(range(3 * HUGE), 3 * HUGE)),
    "match_indices, stopped late": lambda h: velnor_lib.match_indices(h["text"], "a"),
    "rmatch_indices, stopped late": lambda h: velnor_lib.rmatch_indices(h["text"], "ab"),
}
# Interrupted late, with tens of millions of ints made: the partial result must not be freed before the call
# returns, which would take a second.
LATE = {"match_indices, stopped late", "rmatch_indices, stopped late"}


def timed(call, values):
    started = time.perf_counter()
    try:
        call(values)
    except KeyboardInterrupt:
        return time.perf_counter() - started, True
    return time.perf_counter() - started, False


def state_digest(value):
    return hashlib.sha256(value.__reduce__()[1][1]).hexdigest()


@pytest.mark.slow
@pytest.mark.parametrize("name", list(LONG_CALLS) + list(HUGE_CALLS))
def test_ctrl_c_ends_a_long_call(request, record_property, name):
    if name in LONG_CALLS:
        call, big = LONG_CALLS[name], request.getfixturevalue("big")
        snapshot = {key: value.segments for key, value in big.items() if isinstance(value, (Span, Interval))}
    else:
        call, big = HUGE_CALLS[name], request.getfixturevalue("huge")
        snapshot = {}
        digests = {key: state_digest(big[key]) for key in ("span", "interval")}
    # The shorter of two runs: the first in a process may pay for memory that later ones get back at once (the
    # first huge pages the kernel hands out take the longest), and the interrupted run is a later one.
    first, interrupted = timed(call, big)
    assert not interrupted
    second, interrupted = timed(call, big)
    assert not interrupted
    whole = min(first, second)
    delay = 0.5 * whole if name in LATE else min(0.1, whole / 4)
    if whole < 0.02:
        pytest.skip(f"the call took {whole:.3f} s here: too short to interrupt while it runs")
    # A timer signal after `delay` whose handler raises KeyboardInterrupt, as Ctrl-C's does. The kernel delivers
    # it while the call runs (a thread calling os.kill would wait for the interpreter lock that the call holds);
    # the interpreter runs the handler at the call's next check.
    def interrupt(signum, frame):
        raise KeyboardInterrupt

    # No collection while the timer runs: a gc callback (Hypothesis installs one) would be Python code in which
    # the handler can run, and the interpreter reports an exception raised there as unraisable and goes on.
    gc.disable()
    blocks = sys.getallocatedblocks()
    previous = signal.signal(signal.SIGALRM, interrupt)
    signal.setitimer(signal.ITIMER_REAL, delay)
    try:
        elapsed, interrupted = timed(call, big)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
        gc.enable()
    assert interrupted
    # The latency of each call, for the record (pytest -rA -s shows it); the bound here only catches a call
    # that does not poll at all, as timing on a shared machine is noisy.
    record_property("ctrl_c_latency_ms", round((elapsed - delay) * 1000, 1))
    print(f"{name}: Ctrl-C answered {(elapsed - delay) * 1000:.1f} ms after the signal; the call takes {whole:.2f} s")
    assert elapsed < delay + max(0.5, (whole - delay) / 2), (elapsed, whole)
    for key, segments in snapshot.items():
        assert big[key].segments == segments
    if name in HUGE_CALLS:
        assert {key: state_digest(big[key]) for key in ("span", "interval")} == digests
    if name in LATE:
        for _ in range(100_000):  # bytecodes, between which the rest of the partial result is freed
            pass
        assert sys.getallocatedblocks() - blocks < 100_000
