"""Span against roaring bitmaps (pyroaring's BitMap and BitMap64, after run_optimize()), beside a C floor.

    pip install '.[bench]'
    python bench/bench_roaring.py                 # 10**3 to 10**7 segments, a few minutes
    python bench/bench_roaring.py --quick         # 10**3 to 10**5
    python bench/bench_roaring.py --sizes 1000000 --shapes short

Shapes: "short" runs of 1-100 integers with gaps of 2-100, "long" runs of 1000-10000 with the same gaps; both
operands have n segments of one shape. Every contender of a row runs in the same process, in interleaved rounds
(so that load from elsewhere hits them alike), and the row shows medians. "peer / ours" above 1: Span is faster.
The C floor (merge_floor.c, compiled here when a C compiler is found) times branchless merges over the same
16-byte segments into pre-faulted and fresh output; it is printed as ns per segment of one operand, beside ours.
Interval rows run the same shapes as closed real segments, against Span.
"""

import argparse
import gc
import os
import pathlib
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy
import pyroaring

import velnor_lib
from velnor_lib import Interval, Span

SHAPES = {"short": (1, 100), "long": (1000, 10000)}
PRINTING = False  # main() prints each row as it is measured; run() leaves the table to report.py
GAP = (2, 100)


def shaped(n, shape, seed):
    """Starts and ends (inclusive) of n disjoint segments of the shape, as int64 arrays."""
    rng = numpy.random.default_rng(seed)
    shortest, longest = SHAPES[shape]
    lengths = rng.integers(shortest, longest + 1, n, dtype=numpy.int64)
    gaps = rng.integers(GAP[0], GAP[1] + 1, n, dtype=numpy.int64)
    starts = numpy.cumsum(lengths + gaps) - lengths
    return starts, starts + lengths - 1


def as_span(starts, ends):
    # The pickle state (version byte, then little-endian start/end pairs) is the quickest way in at 10**7.
    pairs = numpy.empty((len(starts), 2), dtype="<i8")
    pairs[:, 0], pairs[:, 1] = starts, ends
    return velnor_lib._reconstruct("Span", b"\x01" + pairs.tobytes())


def as_bitmap(kind, starts, ends):
    bitmap = kind()
    add = bitmap.add_range
    for start, end in zip(starts.tolist(), ends.tolist()):
        add(start, end + 1)
    bitmap.run_optimize()
    return bitmap


def interleaved(contenders, rounds, budget=0.05):
    """Median seconds per call of each callable, rounds interleaved; each round repeats a call to fill `budget`."""
    numbers = {}
    for name, call in contenders.items():
        t0 = time.perf_counter()
        call()
        first = time.perf_counter() - t0
        numbers[name] = max(1, int(budget / max(first, 1e-7)))
    times = {name: [] for name in contenders}
    gc.disable()
    try:
        for _ in range(rounds):
            for name, call in contenders.items():
                number = numbers[name]
                t0 = time.perf_counter()
                for _ in range(number):
                    call()
                times[name].append((time.perf_counter() - t0) / number)
    finally:
        gc.enable()
    return {name: statistics.median(values) for name, values in times.items()}


def changes_timed(contenders, rounds, budget=0.05):
    """Median seconds of `change()` alone for each (change, restore) pair, rounds interleaved: `restore()` puts
    the receiver back between calls, untimed."""
    numbers = {}
    for name, (change, restore) in contenders.items():
        t0 = time.perf_counter()
        change()
        numbers[name] = max(1, int(budget / max(time.perf_counter() - t0, 1e-7)))
        restore()
    times = {name: [] for name in contenders}
    gc.disable()
    try:
        for _ in range(rounds):
            for name, (change, restore) in contenders.items():
                spent = 0.0
                for _ in range(numbers[name]):
                    t0 = time.perf_counter()
                    change()
                    spent += time.perf_counter() - t0
                    restore()
                times[name].append(spent / numbers[name])
    finally:
        gc.enable()
    return {name: statistics.median(values) for name, values in times.items()}


def roomy(starts, ends, room):
    """A span of these segments whose storage has room for `room` segments (up to three times as many): a
    union with parts of itself reserves room for all three lists."""
    extra = room - len(starts)
    first = min(extra, len(starts))
    rest = extra - first
    return as_span(starts, ends).union(as_span(starts[:first], ends[:first]), as_span(starts[:rest], ends[:rest]))


def first_probes(make, probe, rounds):
    """Median seconds of the first `probe(value)` on a value fresh from `make()`, made outside the timing."""
    times = []
    for _ in range(rounds):
        value = make()
        t0 = time.perf_counter()
        probe(value)
        times.append(time.perf_counter() - t0)
        del value
    return statistics.median(times)


def compiled_floor():
    """merge_floor.c built here, or None where no C compiler works (then the floor columns stay empty)."""
    compiler = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc") or shutil.which("clang")
    if compiler is None:
        return None
    target = pathlib.Path(tempfile.mkdtemp(prefix="merge-floor-")) / "merge_floor"
    source = pathlib.Path(__file__).with_name("merge_floor.c")
    for flags in (["-O2", "-march=native"], ["-O2"]):
        try:
            subprocess.run([compiler, *flags, str(source), "-o", str(target)], check=True, capture_output=True)
            return target
        except (OSError, subprocess.CalledProcessError):
            continue
    return None


def floor_figures(program, n, shape):
    """{figure name: ns per segment} from one run of the floor, or {} without it."""
    if program is None:
        return {}
    rounds = "3" if n >= 10**7 else "7"
    lines = subprocess.run([str(program), str(n), shape, rounds], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    return {line.rsplit(" ", 1)[0]: float(line.rsplit(" ", 1)[1]) for line in lines}


def human(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def rows_for(n, shape, rounds, floor, records):
    starts, ends = shaped(n, shape, 1)
    starts_b, ends_b = shaped(n, shape, 2)
    starts_b += 37  # the second operand overlaps the first at random
    ends_b += 37
    a, b = as_span(starts, ends), as_span(starts_b, ends_b)
    u = a | b
    kinds = {"BitMap": pyroaring.BitMap, "BitMap64": pyroaring.BitMap64}
    if max(ends[-1], ends_b[-1]) >= 2**32:
        del kinds["BitMap"]  # 32-bit values only
    maps = {name: (as_bitmap(kind, starts, ends), as_bitmap(kind, starts_b, ends_b)) for name, kind in kinds.items()}
    if n <= 10**5:  # the peers hold the same sets
        ra, rb = maps["BitMap64"]
        for ours, theirs in ((a | b, ra | rb), (a & b, ra & rb), (a - b, ra - rb)):
            assert sum(e - s + 1 for s, e in ours.segments) == len(theirs)
    figures = floor_figures(floor, n, shape)

    def add(operation, ours, peer, peer_seconds, floor_name=None):
        # Fresh outputs are compared with the floor's huge-page output where the platform has one, as ours use it.
        floor_ns = figures.get(floor_name.replace("fresh", "fresh huge-page"), figures.get(floor_name)) if floor_name else None
        group = "Interval" if operation.startswith("Interval") else "Span"
        records.append({"group": group, "operation": f"{operation}, {shape} runs", "size": n, "ours_s": ours,
                        "peer": peer, "peer_s": peer_seconds,
                        "note": "" if floor_ns is None else f"floor {floor_ns:.2f} ns/segment"})
        if not PRINTING:
            return
        floor_text = "" if floor_ns is None else f"{floor_ns:.2f}"
        print(f"{operation:<34} {shape:<5} {n:>10,} {human(ours):>10} {1e9 * ours / n:>8.2f} {floor_text:>7}"
              f"  {peer:<18} {human(peer_seconds):>10} {peer_seconds / ours:>7.2f}x", flush=True)

    uu = {name: pair[0] | pair[1] for name, pair in maps.items()}
    cases = [
        ("a | b", lambda: a | b, lambda x, y: x | y, "a | b, fresh output"),
        ("a & b", lambda: a & b, lambda x, y: x & y, "a & b, fresh output"),
        ("a - b", lambda: a - b, lambda x, y: x - y, "a - b, fresh output"),
    ]
    for operation, ours, theirs, floor_name in cases:
        contenders = {"ours": ours}
        for name, (x, y) in maps.items():
            contenders[name] = lambda x=x, y=y: theirs(x, y)
        medians = interleaved(contenders, rounds)
        for name in maps:
            add(operation, medians["ours"], name, medians[name], floor_name)
    # In place, each change timed alone and undone between calls by the inverse change (untimed) on a receiver
    # whose storage has room for both (see roomy), against the binary operator on the same data (its fresh
    # result replaces the last one, as it replaced the receiver's list before in-place operations wrote over
    # it; from 32 MiB of segments in both lists on, they do) and against the bitmaps' in-place operators.
    undone_by = {"|": lambda x, y: x, "&": lambda x, y: x - y, "-": lambda x, y: x & y}  # what to undo with
    for op, change, undo, binary in (("|", "__ior__", "__iand__", "__or__"), ("&", "__iand__", "__ior__", "__and__"),
                                     ("-", "__isub__", "__ior__", "__sub__")):
        back = undone_by[op](a, b)
        changed = len(getattr(a, binary)(b).segments)
        receiver = roomy(starts, ends, max(len(starts) + len(b.segments), changed + len(back.segments)))
        last = [None]
        contenders = {"ours": (lambda r=receiver, c=change: getattr(r, c)(b),
                               lambda r=receiver, u=undo, x=back: getattr(r, u)(x)),
                      "fresh": (lambda o=binary: last.__setitem__(0, getattr(a, o)(b)), lambda: None)}
        restored = []
        for name, (x, y) in maps.items():
            rx = x.copy()
            restored.append((rx, x))
            contenders[name] = (lambda rx=rx, y=y, c=change: getattr(rx, c)(y),
                                lambda rx=rx, u=undo, z=undone_by[op](x, y): getattr(rx, u)(z))
        medians = changes_timed(contenders, rounds)
        assert receiver == a and all(rx == x for rx, x in restored)  # every change was undone
        add(f"a {op}= b, in place", medians["ours"], "Span, fresh result", medians["fresh"])
        for name in maps:
            add(f"a {op}= b, in place", medians["ours"], name, medians[name])
        del receiver, last, contenders, restored
    contenders = {"ours": lambda: a.issubset(u)}
    for name, (x, _) in maps.items():
        contenders[name] = lambda x=x, big=uu[name]: x <= big
    medians = interleaved(contenders, rounds)
    for name in maps:
        add("a.issubset(a | b)", medians["ours"], name, medians[name])
    # Random probes over the whole covered range: hits and misses alike.
    rng = numpy.random.default_rng(3)
    probes = rng.integers(0, int(ends[-1]) + 100, 10**5).tolist()
    contenders = {"ours": lambda: [x in a for x in probes]}
    for name, (x, _) in maps.items():
        contenders[name] = lambda x=x: [p in x for p in probes]
    medians = interleaved(contenders, rounds)
    for name in maps:
        add("x in a, random probes", medians["ours"] / len(probes), name, medians[name] / len(probes))
    x = probes[0]
    rounds_first = 5 if n >= 10**7 else 15
    ours_first = first_probes(a.copy, lambda value: x in value, rounds_first)
    for name, (bitmap, _) in maps.items():
        theirs_first = first_probes(bitmap.copy, lambda value: x in value, rounds_first)
        add("first x in a on a fresh copy", ours_first, name, theirs_first)
    if n <= 10**6:
        pairs = list(zip(starts.tolist(), ends.tolist()))
        contenders = {"ours": lambda: Span(pairs)}
        for name, kind in kinds.items():
            contenders[name] = lambda kind=kind: as_bitmap(kind, starts, ends)
        medians = interleaved(contenders, max(3, rounds // 2))
        for name in kinds:
            add("Span(sorted pairs) vs add_range", medians["ours"], name, medians[name])
    if n <= 10**6:
        ia, ib, iu = (Interval([(True, float(s), float(e), True) for s, e in span.segments]) for span in (a, b, u))
        for operation, ours, theirs in (("Interval a | b", lambda: ia | ib, lambda: a | b),
                                        ("Interval a & b", lambda: ia & ib, lambda: a & b),
                                        ("Interval a - b", lambda: ia - ib, lambda: a - b),
                                        ("Interval subset", lambda: ia.issubset(iu), lambda: a.issubset(u))):
            medians = interleaved({"ours": ours, "Span": theirs}, rounds)
            # Here the peer is our own Span: the ratio is Span time / Interval time.
            add(operation, medians["ours"], "Span", medians["Span"])
    if figures and PRINTING:
        print("    C floor, ns/segment: " + ", ".join(f"{k} {v:.2f}" for k, v in figures.items()), flush=True)


def run(quick):
    records = []
    floor = compiled_floor()
    sizes = [10**3, 10**4] if quick else [10**3, 10**5, 10**6]
    for shape in SHAPES:
        for n in sizes:
            rows_for(n, shape, 3 if quick else 5, floor, records)
    return records


def main():
    global PRINTING
    PRINTING = True
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="10**3 to 10**5 only, fewer rounds")
    parser.add_argument("--sizes", type=int, nargs="*", default=None)
    parser.add_argument("--shapes", nargs="*", default=list(SHAPES))
    parser.add_argument("--rounds", type=int, default=None)
    arguments = parser.parse_args()
    sizes = arguments.sizes or ([10**3, 10**4, 10**5] if arguments.quick else [10**3, 10**5, 10**6, 10**7])
    rounds = arguments.rounds or (3 if arguments.quick else 7)
    print(f"Python {platform.python_version()}, pyroaring {pyroaring.__version__}, numpy {numpy.__version__}; "
          f"load {os.getloadavg()[0]:.2f}")
    print(f"{'operation':<34} {'shape':<5} {'n':>10} {'ours':>10} {'ns/seg':>8} {'floor':>7}  {'peer':<18} "
          f"{'peer time':>10} {'peer/ours':>8}")
    floor = compiled_floor()
    records = []
    for shape in arguments.shapes:
        for n in sizes:
            rows_for(n, shape, rounds if n < 10**7 else 3, floor, records)
    print(f"load {os.getloadavg()[0]:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
