"""Pickling Span and Interval against pickling the equivalent `segments` list.

    python bench/bench_pickle.py            # 10**3 to 10**6 segments, protocols 2 to 5
    python bench/bench_pickle.py --quick    # fewer repeats

Peers, in the same run on the same sets:
- `segments list`: `pickle.dumps(value.segments)` and `pickle.loads` of that: the list of tuples a user would
  pickle if the classes did not pickle (it ends as a list, not a set);
- `segments list + rebuild`: the same, followed by building the object from the loaded list.

Time is one `pickle.dumps` plus one `pickle.loads` at the highest protocol (CPU time of this process, median of
interleaved repeats). Size is bytes per segment of the pickle, printed for every protocol. "speed-up" is
peer / ours: above 1 the object's own pickle is faster.
"""

import argparse
import pickle
import random
import statistics
import sys
import time

from velnor_lib import Interval, Span

SIZES = (10**3, 10**5, 10**6)


def sample_span(n, seed=1):
    """n segments with gaps of 2 to 1000 and lengths of 1 to 1000, from about 0: log-like coverage."""
    rng = random.Random(seed)
    pairs, at = [], 0
    for _ in range(n):
        at += rng.randrange(2, 1000)
        end = at + rng.randrange(0, 1000)
        pairs.append((at, end))
        at = end
    return Span(pairs)


def sample_interval(n, seed=2):
    rng = random.Random(seed)
    segments, at = [], 0.0
    for _ in range(n):
        at += rng.uniform(0.01, 10.0)
        end = at + rng.uniform(0.01, 10.0)
        segments.append((rng.random() < 0.5, at, end, rng.random() < 0.5))
        at = end
    return Interval(segments)


def cpu_seconds(function):
    start = time.process_time()
    function()
    return time.process_time() - start


def round_trips(value, loops):
    kind = type(value)
    segments = value.segments
    return {
        "ours": lambda: [pickle.loads(pickle.dumps(value, pickle.HIGHEST_PROTOCOL)) for _ in range(loops)],
        "segments list": lambda: [pickle.loads(pickle.dumps(segments, pickle.HIGHEST_PROTOCOL))
                                  for _ in range(loops)],
        "segments list + rebuild": lambda: [kind(pickle.loads(pickle.dumps(segments, pickle.HIGHEST_PROTOCOL)))
                                            for _ in range(loops)],
    }


def bytes_per_segment(value, protocol):
    n = max(len(value.segments), 1)
    return len(pickle.dumps(value, protocol)) / n, len(pickle.dumps(value.segments, protocol)) / n


def run(quick):
    """Rows {group, operation, size, ours_s, peer, peer_s, note} for bench/report.py: the round trip of a Span
    and of an Interval of n segments against their segments lists; the note gives bytes per segment."""
    repeat = 3 if quick else 7
    rows = []
    for make in (sample_span, sample_interval):
        for n in SIZES:
            value = make(n)
            loops = max(1, 10**5 // n)
            contenders = round_trips(value, loops)
            times = {name: [] for name in contenders}
            for _ in range(repeat):
                for name, function in contenders.items():
                    times[name].append(cpu_seconds(function) / loops)
            ours_size, list_size = bytes_per_segment(value, pickle.HIGHEST_PROTOCOL)
            ours = statistics.median(times["ours"])
            rows.extend({"group": "pickle", "operation": f"{type(value).__name__} dumps + loads", "size": n,
                         "ours_s": ours, "peer": name, "peer_s": statistics.median(spent),
                         "note": f"{ours_size:.1f} vs {list_size:.1f} bytes/segment"}
                        for name, spent in times.items() if name != "ours")
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true")
    options = parser.parse_args()
    print(f"Python {sys.version.split()[0]}, pickle protocol {pickle.HIGHEST_PROTOCOL} for the times")
    print("\nbytes per segment (ours / segments list), 10**5 segments")
    for make in (sample_span, sample_interval):
        value = make(10**5)
        cells = [f"p{p}: {o:.1f} / {s:.1f}" for p in range(2, pickle.HIGHEST_PROTOCOL + 1)
                 for o, s in [bytes_per_segment(value, p)]]
        print(f"  {type(value).__name__:8} " + "   ".join(cells))
    print(f"\n{'operation':26} {'segments':>9} {'ours':>10} {'peer':>24} {'peer time':>10} {'speed-up':>9}  size")
    for row in run(options.quick):
        print(f"{row['operation']:26} {row['size']:>9} {row['ours_s'] * 1e3:>8.3f}ms {row['peer']:>24} "
              f"{row['peer_s'] * 1e3:>8.2f}ms {row['peer_s'] / row['ours_s']:>8.1f}x  {row['note']}")


if __name__ == "__main__":
    main()
