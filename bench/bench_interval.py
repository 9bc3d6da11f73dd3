"""Interval against portion, both measured in this run: |, &, -, subset test, ==, in, construction.

Usage: python bench/bench_interval.py [--sizes 10 1000 100000] [--seed 1]

Both operands hold n segments with random open and closed ends, placed so that about half of each segment
overlaps a segment of the other operand. Each figure is the median time of one call over several repeats;
the ratio is portion's median divided by ours. A portion call that takes over MAX_SINGLE seconds is run
once only, and larger sizes of that operation are skipped for portion.
"""

import argparse
import random
import statistics
import sys
import time

import portion

from velnor_lib import Interval

MAX_SINGLE = 5.0  # seconds: one slower portion call is measured once and ends that operation's sizes
OURS_BUDGET = 0.3  # seconds of repeats per figure
PORTION_BUDGET = 4.0
AIMS = {"|": 300, "&": 1000, "-": 1000, "subset": 1000}  # at 10**3 segments


def segments(n, shift, rng):
    out = []
    for i in range(n):
        start = 4 * i + shift + rng.random()
        out.append((rng.random() < 0.5, start, start + 1 + 1.5 * rng.random(), rng.random() < 0.5))
    return out


def to_portion(segments_list):
    def end(closed):
        return portion.CLOSED if closed else portion.OPEN

    return portion.Interval(*(portion.Interval.from_atomic(end(lc), s, e, end(rc)) for lc, s, e, rc in segments_list))


def measure(call, budget):
    """Returns (median seconds per call, number of repeats), or (seconds of the one slow call, 1)."""
    started = time.perf_counter()
    call()
    first = time.perf_counter() - started
    if first > MAX_SINGLE:
        return first, 1
    loops = max(1, int(0.005 / first)) if first > 0 else 10000
    repeats = max(3, min(9, int(budget / (first * loops + 1e-9))))
    times = []
    for _ in range(repeats):
        started = time.perf_counter()
        for _ in range(loops):
            call()
        times.append((time.perf_counter() - started) / loops)
    return statistics.median(times), repeats


def cases(n, rng):
    raw_a, raw_b = segments(n, 0.0, rng), segments(n, 1.5, rng)
    a, b = Interval(raw_a), Interval(raw_b)
    pa, pb = to_portion(raw_a), to_portion(raw_b)
    union, punion = a | b, pa | pb
    twin, ptwin = a.copy(), to_portion(raw_a)
    probe = 2.0 * n + 0.5
    assert a.segments == [(x.left == portion.CLOSED, x.lower, x.upper, x.right == portion.CLOSED) for x in pa]
    return [
        ("|", lambda: a | b, lambda: pa | pb),
        ("&", lambda: a & b, lambda: pa & pb),
        ("-", lambda: a - b, lambda: pa - pb),
        ("subset", lambda: a.issubset(union), lambda: punion.contains(pa)),
        ("==", lambda: a == twin, lambda: pa == ptwin),
        ("in", lambda: probe in a, lambda: probe in pa),
        ("construct", lambda: Interval(raw_a), lambda: to_portion(raw_a)),
    ]


def format_time(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:8.2f} {unit}"
    return f"{seconds / 1e-9:8.1f} ns"


def figures(sizes, rng, ours_budget=OURS_BUDGET, portion_budget=PORTION_BUDGET):
    """Yields a row {group, operation, size, ours_s, peer, peer_s, note} per operation and size, as measured;
    peer_s is None where portion is skipped."""
    skipped = set()
    for n in sizes:
        for name, ours, theirs in cases(n, rng):
            our_time, _ = measure(ours, ours_budget)
            their_time, note = None, ""
            if name in skipped:
                note = f"portion over {MAX_SINGLE:.0f} s per call at a smaller size"
            else:
                their_time, repeats = measure(theirs, portion_budget)
                if repeats == 1:
                    skipped.add(name)
                    note = "portion run once (slow)"
            yield {"group": "Interval", "operation": name, "size": n, "ours_s": our_time, "peer": "portion",
                   "peer_s": their_time, "note": note}


def run(quick):
    """All rows over sizes that make a curve: bench/report.py collects these."""
    if quick:
        return list(figures([10, 10**2, 10**3, 10**4], random.Random(1), 0.05, 0.5))
    return list(figures([10, 10**2, 10**3, 10**4, 10**5], random.Random(1)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[10, 10**3, 10**5])
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args()
    ratios = {}
    print(f"{'operation':<10} {'n':>7} {'velnor_lib':>12} {'portion':>12} {'ratio':>9}  notes")
    for row in figures(options.sizes, random.Random(options.seed)):
        name, n, our_time, their_time = row["operation"], row["size"], row["ours_s"], row["peer_s"]
        if their_time is None:
            their_text, ratio_text = "skipped", ""
        else:
            ratios[name, n] = their_time / our_time
            their_text, ratio_text = format_time(their_time), f"{ratios[name, n]:8.0f}x"
        print(f"{name:<10} {n:>7} {format_time(our_time):>12} {their_text:>12} {ratio_text:>9}  {row['note']}")
        sys.stdout.flush()
    if any(n == 10**3 for n in options.sizes):
        print("\naims at 10**3 segments (portion time / velnor_lib time):")
        for name, aim in AIMS.items():
            got = ratios.get((name, 10**3))
            verdict = "met" if got is not None and got >= aim else "NOT met"
            print(f"  {name:<7} aim {aim:>5}x  got {got:8.0f}x  {verdict}")
    print("\nfigures are noisy when the CPU is shared; compare ratios within one run only.")


if __name__ == "__main__":
    main()
