"""How fast is Span? One run, one table, every figure next to its peers.

    pip install '.[bench]'
    python bench/bench_span.py            # full run, a few minutes
    python bench/bench_span.py --quick    # smaller sizes and fewer repeats, well under a minute

Peers, measured in the same run on the same data:
- `sorted(pairs)`: Python merely sorting the same shuffled pairs (construction);
- `portion`, the most used pure-Python interval library, in its discrete-integer form so that it merges
  touching segments ([1, 3] | [4, 6] is [1, 6]) and holds exactly the same set as the Span;
- Python's `set` of ints holding the same integers (segments are kept short so that stays feasible);
- `list(zip(range(a, a + n), range(b, b + n)))`: n fresh tuples of fresh ints made in C, the floor for the
  `segments` getter.

Each figure is the median of several timed repeats of one call (timeit, garbage collector off). "speed-up" is
peer time / Span time: above 1 Span is faster. A peer whose single call would take more than CAP_SECONDS is
timed once instead of repeatedly, and one predicted to take far longer is skipped; the table says so.
"""

import argparse
import platform
import random
import statistics
import sys
import timeit

import portion

from velnor_lib import Span

CAP_SECONDS = 5.0


class IntInterval(portion.AbstractDiscreteInterval):
    """portion over the integers: closed bounds one step apart touch and merge."""

    _step = 1


P = portion.create_api(IntInterval)


# --- Timing ---


def median_seconds(statement, namespace, budget, repeats):
    """Median time of one execution of `statement`, with enough executions per repeat to fill `budget`."""
    timer = timeit.Timer(statement, globals=namespace)
    first = timer.timeit(1)
    if first > CAP_SECONDS:
        return first, "1 call"
    number = max(1, int(budget / max(first, 1e-9)))
    runs = [timer.timeit(number) / number for _ in range(repeats)]
    return statistics.median(runs), ""


def human(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


class Table:
    def __init__(self):
        self.rows = []
        self.records = []  # the same figures for bench/report.py, in seconds
        self.measured = {}  # (operation, peer) -> (n, seconds): to predict the next size

    def record(self, operation, n, span_seconds, peer, peer_seconds, note):
        self.records.append({"group": "Span", "operation": operation, "size": n, "ours_s": span_seconds,
                             "peer": peer, "peer_s": peer_seconds, "note": note})

    def add(self, operation, n, span_seconds, peer, peer_seconds, aim, note=""):
        """`aim` is None or (least speed-up, how the aim reads)."""
        speedup = peer_seconds / span_seconds
        shown = f"{speedup:,.0f}x" if speedup >= 100 else f"{speedup:.3g}x"
        verdict = "" if aim is None else ("ok" if speedup >= aim[0] else "MISS")
        self.record(operation, n, span_seconds, peer, peer_seconds, note)
        aim_text = "" if aim is None else aim[1]
        self.rows.append((operation, f"{n:,}", human(span_seconds), peer, human(peer_seconds), shown, aim_text,
                          verdict, note))

    def skip(self, operation, n, span_seconds, peer, predicted):
        self.record(operation, n, span_seconds, peer, None, f"skipped, ~{human(predicted)} predicted")
        self.rows.append(
            (operation, f"{n:,}", human(span_seconds), peer, f"~{human(predicted)}", "-", "", "", "skipped")
        )

    def print(self):
        header = ("operation", "n", "Span", "peer", "peer time", "speed-up", "aim", "", "note")
        widths = [max(len(str(row[i])) for row in [header, *self.rows]) for i in range(len(header))]
        for k, row in enumerate([header, *self.rows]):
            print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())
            if k == 0:
                print("  ".join("-" * width for width in widths))


def predicted_seconds(table, operation, peer, n):
    """A linear guess from the last size measured for this peer, or 0 when there is none."""
    if (operation, peer) not in table.measured:
        return 0.0
    last_n, last_seconds = table.measured[operation, peer]
    return last_seconds * n / last_n


def faster(factor):
    return factor, f">= {factor}x faster"


def within(factor):
    return 1 / factor, f"Span <= {factor}x peer"


def compare(table, settings, operation, n, span_statement, peers, namespace, aims, per=1):
    """Times the Span statement and each peer statement on the same namespace, and adds one row per peer.
    `per` is the number of operations one statement performs."""
    budget, repeats = settings
    span_seconds = median_seconds(span_statement, namespace, budget, repeats)[0] / per
    for peer, statement in peers.items():
        guess = predicted_seconds(table, operation, peer, n)
        if guess > 4 * CAP_SECONDS:
            table.skip(operation, n, span_seconds, peer, guess)
            continue
        seconds, note = median_seconds(statement, namespace, budget, repeats)
        seconds /= per
        table.measured[operation, peer] = (n, seconds)
        table.add(operation, n, span_seconds, peer, seconds, aims.get(peer), note)


# --- Data ---


def shuffled_pairs(n, rng):
    """n pairs of fresh (non-cached) ints, short segments that sometimes overlap or touch, in random order."""
    starts = [rng.randrange(1000, 1000 + 8 * n) for _ in range(n)]
    return [(start, start + rng.randrange(6)) for start in starts]


def striped(n, offset, rng):
    """n disjoint short segments, one in each window of 8 integers, shifted by `offset` inside the window."""
    pairs = []
    for i in range(n):
        start = 1000 + 8 * i + offset + rng.randrange(3)
        pairs.append((start, start + rng.randrange(3)))
    return pairs


def as_portion(pairs):
    return P.Interval(*[P.closed(start, end) for start, end in pairs])


def as_set(pairs):
    out = set()
    for start, end in pairs:
        out.update(range(start, end + 1))
    return out


def set_segments(values):
    out = []
    for x in sorted(values):
        if out and out[-1][1] + 1 == x:
            out[-1][1] = x
        else:
            out.append([x, x])
    return [tuple(pair) for pair in out]


def check_same_sets(span, interval, values):
    """Guards the comparison itself: all three peers must hold the same integers."""
    segments = span.segments
    assert [(lower, upper) for _, lower, upper, _ in P.to_data(interval)] == segments
    assert set_segments(values) == segments


# --- Benchmarks ---


def bench_construction(table, settings, sizes, rng):
    for n in sizes:
        pairs = shuffled_pairs(n, rng)
        namespace = {"Span": Span, "pairs": pairs, "as_portion": as_portion}
        if n <= 10**5:
            check_same_sets(Span(pairs), as_portion(pairs), as_set(pairs))
        compare(table, settings, "Span(pairs)", n, "Span(pairs)",
                {"sorted(pairs)": "sorted(pairs)", "portion": "as_portion(pairs)"},
                namespace, {"sorted(pairs)": within(0.3) if n == 10**6 else None, "portion": faster(20)})


def bench_operations(table, settings, sizes, rng):
    for n in sizes:
        left, right = striped(n, 0, rng), striped(n, 3, rng)
        a, b = Span(left), Span(right)
        pa, pb = as_portion(left), as_portion(right)
        sa, sb = as_set(left), as_set(right)
        u, pu, su = a | b, pa | pb, sa | sb
        for span, interval, values in [(a, pa, sa), (u, pu, su), (a & b, pa & pb, sa & sb), (a - b, pa - pb, sa - sb)]:
            check_same_sets(span, interval, values)
        probes = [left[n // 2][0] + 1, left[n // 3][1] + 2, 10**12]  # a member, a gap, beyond the end
        namespace = {
            "a": a, "b": b, "u": u, "a2": a.copy(), "pa": pa, "pb": pb, "pu": pu, "pa2": as_portion(left),
            "sa": sa, "sb": sb, "su": su, "sa2": set(sa), "x": probes[0], "y": probes[1], "z": probes[2],
            "P": P, "n": n, "lo": 10**6, "hi": 2 * 10**6,
        }
        # The algebra's aims are set at 10**3 segments; at other sizes the ratios show how cost grows.
        fast = {"portion": faster(300)} if n == 10**3 else {}
        subset = {"portion": faster(1000)} if n == 10**3 else {}
        cases = [
            ("a | b", "a | b", "pa | pb", "sa | sb", fast),
            ("a & b", "a & b", "pa & pb", "sa & sb", subset),
            ("a - b", "a - b", "pa - pb", "sa - sb", subset),
            ("a.issubset(a | b)", "a.issubset(u)", "pa in pu", "sa.issubset(su)", subset),
            ("a == copy of a", "a == a2", "pa == pa2", "sa == sa2", {}),
        ]
        for operation, span_statement, portion_statement, set_statement, aims in cases:
            compare(table, settings, operation, n, span_statement,
                    {"portion": portion_statement, "set": set_statement}, namespace, aims)
        # Three lookups per execution: a hit, a miss in a gap and a miss past the end.
        compare(table, settings, "x in a", n, "x in a; y in a; z in a",
                {"portion": "x in pa; y in pa; z in pa", "set": "x in sa; y in sa; z in sa"},
                namespace, {"set": within(1.5)}, per=3)
        compare(table, settings, "a.segments", n, "a.segments",
                {"zip floor": "list(zip(range(lo, lo + n), range(hi, hi + n)))", "portion": "P.to_data(pa)"},
                namespace, {"zip floor": within(1.3)})


def bench_membership_at_scale(table, settings, n, rng):
    """`x in a` at n segments against a set of the same integers: hits, misses in gaps and past the end."""
    pairs = striped(n, 0, rng)
    a, sa = Span(pairs), as_set(pairs)
    chosen = [rng.randrange(n) for _ in range(10**4)]  # too many to stay in cache, as random probes
    probes = [v for i in chosen for v in (pairs[i][0], pairs[i][1] + 2, 10**12 + i)]
    assert [x in a for x in probes] == [x in sa for x in probes]
    namespace = {"a": a, "sa": sa, "probes": probes}
    compare(table, settings, "x in a", n, "for x in probes: x in a", {"set": "for x in probes: x in sa"},
            namespace, {"set": within(1.0)}, per=len(probes))


def run(quick):
    """Every figure as a row {group, operation, size, ours_s, peer, peer_s, note}, over sizes that make a
    curve: bench/report.py collects these."""
    rng = random.Random(20240601)
    if quick:
        settings, construction_sizes, operation_sizes = (0.03, 3), [10**3, 10**4, 10**5], [10, 10**2, 10**3, 10**4]
    else:
        settings = (0.2, 5)
        construction_sizes, operation_sizes = [10**3, 10**4, 10**5, 10**6], [10, 10**2, 10**3, 10**4, 10**5]
    table = Table()
    bench_construction(table, settings, construction_sizes, rng)
    bench_operations(table, settings, operation_sizes, rng)
    bench_membership_at_scale(table, settings, 10**6, rng)
    return table.records


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smaller sizes and fewer repeats")
    arguments = parser.parse_args()
    rng = random.Random(20240601)
    if arguments.quick:
        settings, construction_sizes, operation_sizes = (0.05, 3), [10**3, 10**5], [10, 10**3]
    else:
        settings, construction_sizes, operation_sizes = (0.2, 5), [10**3, 10**5, 10**6], [10, 10**3, 10**5]
    print(f"Python {platform.python_version()} on {platform.machine()}, portion {portion.__version__}"
          f"{' (--quick)' if arguments.quick else ''}")
    print("speed-up = peer time / Span time (above 1: Span is faster); 'x in a' is the mean of a hit,")
    print("a miss in a gap and a miss past the end. The CPU may be shared: figures are noisy.\n")
    table = Table()
    bench_construction(table, settings, construction_sizes, rng)
    bench_operations(table, settings, operation_sizes, rng)
    bench_membership_at_scale(table, settings, 10**6, rng)
    table.print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
