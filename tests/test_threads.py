"""Objects shared between threads: every result checked against a model, no lost update, no deadlock.

Eight threads run each scenario for VELNOR_STRESS_SECONDS (short by default, so the file stays quick under the
interpreter lock); a free-threaded interpreter run with PYTHON_GIL=0 and a few seconds is the real stress. A
thread that does not finish within the watchdog fails the test instead of hanging it.
"""

import os
import random
import subprocess
import sys
import textwrap
import threading
import time

import pytest

from velnor_lib import Interval, Span, iter_chunk

SECONDS = float(os.environ.get("VELNOR_STRESS_SECONDS", "0.25"))
THREADS = 8
WATCHDOG = 60 + 20 * SECONDS
BORROWED = (RuntimeError, "Already borrowed")
MUTABLY_BORROWED = (RuntimeError, "Already mutably borrowed")


def raised(call, *args):
    try:
        call(*args)
    except Exception as error:  # noqa: BLE001 - the type and message are what is checked
        return type(error), str(error)
    return None


def run_threads(work, count=THREADS):
    """Runs work(index, deadline) in `count` threads started together; returns their results in order and
    fails on the first exception or on a thread still running after the watchdog (a deadlock)."""
    start = threading.Barrier(count)
    results, errors = [None] * count, []

    def body(index):
        try:
            start.wait()
            results[index] = work(index, time.monotonic() + SECONDS)
        except BaseException as error:  # noqa: BLE001 - reported below with its thread
            errors.append((index, repr(error)))

    threads = [threading.Thread(target=body, args=(i,), daemon=True) for i in range(count)]
    for thread in threads:
        thread.start()
    limit = time.monotonic() + WATCHDOG
    for thread in threads:
        thread.join(max(0.0, limit - time.monotonic()))
    assert [t.name for t in threads if t.is_alive()] == [], "threads still running: a deadlock"
    assert errors == []
    return results


def runs(points):
    """Sorted integers as closed segments, the model of a Span."""
    segments = []
    for x in sorted(points):
        if segments and segments[-1][1] == x - 1:
            segments[-1] = (segments[-1][0], x)
        else:
            segments.append((x, x))
    return segments


BLOCK = 64  # each thread owns the integers [index * 1000, index * 1000 + BLOCK)


@pytest.mark.parametrize("update", ["operators", "methods"])
def test_shared_span(update):
    s = Span()

    def work(index, deadline):
        nonlocal s  # `s |= piece` rebinds the name to the same object
        rng = random.Random(index)
        low = index * 1000
        mine = Span([(low, low + BLOCK - 1)])
        model = set()
        rounds = 0
        while time.monotonic() < deadline or rounds < 50:
            rounds += 1
            a = low + rng.randrange(BLOCK)
            b = min(low + BLOCK - 1, a + rng.randrange(5))
            piece = Span([(a, b)])
            if rng.random() < 0.6:
                if update == "operators":
                    s |= piece
                else:
                    s.union_update(piece, Span([(a, a)]))
                model.update(range(a, b + 1))
            else:
                if update == "operators":
                    s -= piece
                else:
                    s.difference_update(piece)
                model.difference_update(range(a, b + 1))
            probe = low + rng.randrange(BLOCK)
            assert (probe in s) == (probe in model)
            assert (s & mine).segments == runs(model)
            assert (s >= Span(runs(model))) and s.issuperset(s & mine)
            whole = s.segments
            assert all(x[0] <= x[1] < y[0] - 1 for x, y in zip(whole, whole[1:]))
            if rounds % 16 == 0:  # the thread's own hold still conflicts while others contend
                assert raised(s.union_update, s) == MUTABLY_BORROWED
                assert raised(s.difference_update, mine, s) == MUTABLY_BORROWED
        return model

    models = run_threads(work)
    assert s.segments == runs(set().union(*models))


def test_shared_interval():
    iv = Interval()

    def work(index, deadline):
        nonlocal iv
        rng = random.Random(index)
        model = set()
        rounds = 0
        while time.monotonic() < deadline or rounds < 50:
            rounds += 1
            a = index * 100 + rng.randrange(32)  # disjoint closed pieces [a, a + 0.5]
            piece = Interval([(True, float(a), a + 0.5, True)])
            if rng.random() < 0.6:
                iv |= piece
                model.add(a)
            else:
                iv -= piece
                model.discard(a)
            probe = index * 100 + rng.randrange(32)
            assert (probe + 0.25 in iv) == (probe in model)
            assert (probe + 0.75 in iv) is False
            assert iv.issuperset(Interval([(True, float(x), x + 0.5, True) for x in model]))
        return model

    models = run_threads(work)
    assert iv.segments == [(True, float(a), a + 0.5, True) for a in sorted(set().union(*models))]


def slow_source(n):
    yield from range(n)


@pytest.mark.parametrize("source", [range, slow_source], ids=["range", "generator"])
def test_shared_chunk_iterator(source):
    n, k = 20_000, 7
    deadline = time.monotonic() + SECONDS
    rounds = 0
    while rounds < 3 or time.monotonic() < deadline:  # a fresh iterator each round, all threads at its start
        rounds += 1
        chunks = iter_chunk(source(n), k)

        def work(index, _):
            taken = []
            while True:
                try:
                    taken.append(next(chunks))
                except StopIteration:
                    return taken
                except RuntimeError as error:
                    assert str(error) == "Already borrowed"

        chunks_taken = sorted((c for taken in run_threads(work) for c in taken), key=lambda c: c[0])
        # Every item once, in whole chunks of consecutive items: nothing interleaved, duplicated or lost.
        assert [c for c in chunks_taken if c != list(range(c[0], c[0] + len(c)))] == []
        assert [x for c in chunks_taken for x in c] == list(range(n))
        assert all(len(c) == k for c in chunks_taken[:-1])


@pytest.mark.parametrize("kind", ["methods", "operators", "three"])
def test_update_cycle_never_deadlocks(kind):
    # Thread i takes its objects in the opposite order of thread i + 1: with plain locks that would deadlock.
    objects = [Span([(i * 10, i * 10)]) for i in range(3)]
    a, b, c = objects

    def work(index, deadline):
        rounds = 0
        first, second = (a, b) if index % 2 else (b, a)
        while time.monotonic() < deadline or rounds < 200:
            rounds += 1
            if kind == "methods":
                first.union_update(second)
            elif kind == "operators":
                before = second.copy()  # the sets only grow
                first |= second
                assert first >= before and not first < before
            else:
                first.union_update(second, c)
                c.union_update(second, first)
        return rounds

    run_threads(work)
    everything = [(0, 0), (10, 10)] + ([(20, 20)] if kind == "three" else [])
    a.union_update(b, c if kind == "three" else Span())
    b.union_update(a)
    assert a.segments == b.segments == everything


FORK_CHILD = textwrap.dedent(
    """
    import os, sys, threading, warnings
    warnings.simplefilter("ignore", DeprecationWarning)
    from velnor_lib import Span, iter_chunk

    entered, release = threading.Barrier(3), threading.Event()

    class Blocking:
        def __index__(self):
            entered.wait()
            release.wait()
            return 3

    class Source:
        blocked = False
        def __iter__(self):
            return self
        def __next__(self):
            if not self.blocked and threading.current_thread() is not threading.main_thread():
                self.blocked = True
                entered.wait()
                release.wait()
            return 1

    s, chunks = Span([(1, 5)]), iter_chunk(Source(), 2)
    threads = [threading.Thread(target=lambda: Blocking() in s), threading.Thread(target=lambda: next(chunks))]
    for thread in threads:
        thread.start()
    entered.wait()

    def outcome(call):
        try:
            return repr(call())
        except Exception as error:
            return f"{type(error).__name__}: {error}"

    class Forking:  # forks while the main thread itself holds `t`: the child keeps that hold
        def __index__(self):
            seen.append(os.fork())
            if seen[-1] == 0:
                seen.append(outcome(lambda: t.union_update(Span([(9, 9)]))))
            return 1

    t, seen = Span([(1, 2)]), []
    inside = Forking() in t
    if seen[0] == 0:
        s |= Span([(7, 7)])
        print(s.segments, outcome(lambda: next(chunks)), seen[1], inside, t.segments, flush=True)
        os._exit(0)
    os.waitpid(seen[0], 0)
    release.set()
    for thread in threads:
        thread.join()
    """
)


def test_fork_drops_the_holds_of_other_threads():
    if not hasattr(os, "fork"):
        pytest.skip("no fork here")
    result = subprocess.run([sys.executable, "-c", FORK_CHILD], capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout == "[(1, 5), (7, 7)] [1, 1] RuntimeError: Already borrowed True [(1, 2)]\n"


TEXT_CHILD = textwrap.dedent(
    """
    import threading, velnor_lib
    start, seen = threading.Barrier(8), []
    def first_calls(index):
        start.wait()  # the module's lazily prepared text state is first needed by eight threads at once
        seen.append((velnor_lib.match_indices("ab" * 50 + "é" * index, "ba")[:2],
                     velnor_lib.match_utf16_indices("x" * index + "ab", "ab") == [index]))
    threads = [threading.Thread(target=first_calls, args=(i,)) for i in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    print(seen == [([1, 3], True)] * 8)
    """
)


def test_text_functions_first_used_by_many_threads():
    result = subprocess.run([sys.executable, "-c", TEXT_CHILD], capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stdout, result.stderr) == (0, "True\n", "")


@pytest.mark.slow
def test_every_scenario_for_seconds_in_a_fresh_interpreter():
    # The stress proper: each scenario above for VELNOR_SLOW_STRESS_SECONDS (3 by default) per run.
    seconds = os.environ.get("VELNOR_SLOW_STRESS_SECONDS", "3")
    result = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "-m", "not slow", __file__],
        env=dict(os.environ, VELNOR_STRESS_SECONDS=seconds),
        capture_output=True,
        text=True,
        timeout=900,
    )
    assert result.returncode == 0, result.stdout[-4000:] + result.stderr[-4000:]
