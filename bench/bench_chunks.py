"""Chunked iteration of range(N) against itertools.batched, more_itertools.chunked and an islice loop; and of a
list, a range and a generator of 10**6 items against itertools.batched and cytoolz.partition_all (and slices of
the list), with a lower bound for any chunker that gives lists: chunk_bound.c, compiled here when a C compiler
is found.

Run: `python bench/bench_chunks.py [--repeat R] [--n N]`. Every contender runs in the same process, rounds
interleaved so that load from elsewhere hits them alike; the table shows medians, nanoseconds per item and
ratios against the peers. `batched` exists from Python 3.12 on and is skipped before that.
"""

import argparse
import gc
import importlib.machinery
import importlib.util
import itertools
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import sysconfig
import tempfile
import time

import more_itertools

try:
    import cytoolz
except ImportError:  # an optional peer
    cytoolz = None

from velnor_lib import iter_chunk

SIZES = (1, 16, 1024)


def islice_loop(iterable, size):
    iterator = iter(iterable)
    chunks = []
    while chunk := list(itertools.islice(iterator, size)):
        chunks.append(chunk)
    return chunks


def contenders():
    found = {
        "iter_chunk": lambda n, k: list(iter_chunk(range(n), k)),
        "more_itertools.chunked": lambda n, k: list(more_itertools.chunked(range(n), k)),
        "islice loop": lambda n, k: islice_loop(range(n), k),
    }
    if hasattr(itertools, "batched"):
        found["itertools.batched"] = lambda n, k: list(itertools.batched(range(n), k))
    return found


# The sources of the second table, each made afresh for every timed call (a generator runs out).
SOURCES = {
    "list": lambda items: items,
    "range": lambda items: range(len(items)),
    "generator": lambda items: (item for item in items),
}


BOUND = "C loop, full API (bound)"


def compiled_bound():
    """chunk_bound.c built for this interpreter, or None where no C compiler works (then the row is left out)."""
    compiler = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc") or shutil.which("clang")
    if compiler is None:
        return None
    target = pathlib.Path(tempfile.mkdtemp(prefix="chunk-bound-")) / f"chunk_bound{sysconfig.get_config_var('EXT_SUFFIX')}"
    command = [compiler, "-O2", "-shared", "-fPIC", f"-I{sysconfig.get_paths()['include']}",
               str(pathlib.Path(__file__).with_name("chunk_bound.c")), "-o", str(target)]
    if sys.platform == "darwin":
        command[1:1] = ["-undefined", "dynamic_lookup"]
    try:
        subprocess.run(command, check=True, capture_output=True)
    except (OSError, subprocess.CalledProcessError):
        return None
    loader = importlib.machinery.ExtensionFileLoader("chunk_bound", str(target))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("chunk_bound", loader))
    loader.exec_module(module)
    return module


def source_contenders(bound=None):
    """Chunkers taking (source, k): ours, the peers that build tuples (batched) or tuples too (cytoolz), and
    the C lower bound for lists when it was compiled."""
    found = {"iter_chunk": lambda source, k: list(iter_chunk(source, k))}
    if bound is not None:
        found[BOUND] = lambda source, k: (bound.chunks_of_list(source, k) if type(source) is list
                                          else bound.chunks_of_iterator(iter(source), k))
    if hasattr(itertools, "batched"):
        found["itertools.batched"] = lambda source, k: list(itertools.batched(source, k))
        # Lists, as iter_chunk gives: at small k most of the time goes to the lists themselves (two allocations
        # each, and the collector keeps traversing them, where it stops tracking a tuple of plain items).
        found["itertools.batched as lists"] = lambda source, k: [list(chunk) for chunk in itertools.batched(source, k)]
    if cytoolz is not None:
        found["cytoolz.partition_all"] = lambda source, k: list(cytoolz.partition_all(k, source))
    return found


def list_slices(source, k):
    # What Python code writes to get lists of a list's items.
    return [source[i:i + k] for i in range(0, len(source), k)]


def source_rows(repeat, n=10**6):
    """Rows for chunking each kind of source of n items at each k, interleaved contender by contender."""
    items = list(range(n))
    bound = compiled_bound()
    rows = []
    for name, make in SOURCES.items():
        runs = source_contenders(bound)
        if name == "list":
            runs["list slices"] = list_slices
        for k in SIZES:
            times = {contender: [] for contender in runs}
            for _ in range(repeat):
                for contender, function in runs.items():
                    source = make(items)
                    gc.collect()  # each call starts from the same collector state; see `seconds`
                    start = time.process_time()
                    function(source, k)
                    times[contender].append(time.process_time() - start)
            ours = statistics.median(times["iter_chunk"])
            rows.extend({"group": "chunks", "operation": f"k = {k}, {name}", "size": n, "ours_s": ours,
                         "peer": contender, "peer_s": statistics.median(values), "note": ""}
                        for contender, values in times.items() if contender != "iter_chunk")
    return rows


def seconds(function, n, k, loops=1):
    # CPU time of this process: other load on a shared machine disturbs it less than wall time. Chunks are
    # containers, so the cyclic collector runs while they are made, and how much it traverses depends on
    # what earlier calls left; a collection first gives every contender the same start (timeit instead
    # turns the collector off, which would hide the cost of lists against tuples).
    gc.collect()
    start = time.process_time()
    for _ in range(loops):
        function(n, k)
    return (time.process_time() - start) / loops


def run(quick):
    """Rows {group, operation, size, ours_s, peer, peer_s, note}: the time to chunk range(N) for N from 10**3
    to 10**6, for each chunk size; bench/report.py collects these."""
    runs = contenders()
    repeat = 3 if quick else 7
    rows = []
    for k in SIZES:
        for n in (10**3, 10**4, 10**5, 10**6):
            loops = max(1, 10**5 // n)  # small inputs: time several calls at once, well above the clock's grain
            times = {name: [] for name in runs}
            for _ in range(repeat):
                for name, function in runs.items():
                    times[name].append(seconds(function, n, k, loops))
            ours = statistics.median(times["iter_chunk"])
            rows.extend({"group": "chunks", "operation": f"k = {k}", "size": n, "ours_s": ours, "peer": name,
                         "peer_s": statistics.median(values), "note": ""}
                        for name, values in times.items() if name != "iter_chunk")
    return rows + source_rows(repeat)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--n", type=int, default=10**6)
    options = parser.parse_args()
    n = options.n
    runs = contenders()
    print(f"Python {sys.version.split()[0]}, N = {n}, median of {options.repeat} rounds")
    if "itertools.batched" not in runs:
        print("itertools.batched: skipped (it needs Python 3.12 or later)")

    baseline = statistics.median(seconds(lambda n, k: list(range(n)), n, 1) for _ in range(options.repeat))
    print(f"list(range(N)) alone: {baseline * 1e9 / n:.1f} ns/item")

    for k in SIZES:
        times = {name: [] for name in runs}
        for _ in range(options.repeat):
            for name, function in runs.items():
                times[name].append(seconds(function, n, k))
        medians = {name: statistics.median(values) for name, values in times.items()}
        ours = medians["iter_chunk"]
        print(f"\nk = {k}")
        print(f"  {'contender':24} {'median ms':>10} {'ns/item':>8} {'iter_chunk / it':>16}")
        for name, median in medians.items():
            print(f"  {name:24} {median * 1e3:10.1f} {median * 1e9 / n:8.1f} {ours / median:16.2f}")

    print("\npeer time / iter_chunk time, by source (above 1: iter_chunk is faster)")
    for row in source_rows(options.repeat, n):
        print(f"  {row['operation']:20} {row['peer']:24} {row['peer_s'] / row['ours_s']:6.2f}")


if __name__ == "__main__":
    main()
