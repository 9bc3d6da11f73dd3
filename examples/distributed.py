"""Two jobs on a dask.distributed cluster, each checked against the same work done in one process.

(a) Search a large text in parallel. The text is cut into shards that overlap by len(pattern) - 1 code
    points, each worker searches its shard with match_indices and match_byte_indices, and the driver joins
    the answers into exactly what one call on the whole text gives.
(b) Build a Span per partition of log records (the seconds some request was running) and join them with `|`
    in a tree reduction.

    python examples/distributed.py                    # a LocalCluster of worker processes on this machine
    python examples/distributed.py tcp://host:8786    # a running cluster: only the address changes

Needs the `distributed` extra: pip install "velnor_lib[distributed]".

Why the text job is more than a union of per-shard answers: the match functions report *disjoint* matches,
leftmost first, so which occurrences count depends on where the search started. In "aaaaaa" the pattern "aa"
matches at 0, 2 and 4; a shard that starts at 3 finds 3 and would, merged naively, give overlapping matches
(2 and 3) or skip the true ones. The global search enters shard i at a point that depends on the last match
before it: at most len(pattern) - 1 code points into the shard. So each worker answers for every such entry
point: the chain of disjoint matches a search starting there finds (one chain nearly always serves all entry
points; periodic texts need a few). The driver then walks the shards in order, picks each shard's chain for
the entry point the previous shard left, and the result is exact. Its cost is one pass over the shards.

Byte offsets: a worker reports them relative to its shard, plus the UTF-8 byte length of the text that is its
own (the shard without the overlap). The driver adds the prefix sums of those lengths: the global byte offset
of shard i is the byte length of everything before it. No worker needs the text before its shard.
"""

import bisect
import operator
import os
import random
import sys
import time

# This file has the name of the package it uses. Run as a script, its folder comes first on sys.path and
# `import distributed` would import this file again: keep the folder out.
_here = os.path.dirname(os.path.abspath(__file__))
sys.path[:] = [entry for entry in sys.path if os.path.abspath(entry or os.curdir) != _here]

from velnor_lib import Span, match_byte_indices, match_indices  # noqa: E402

# Functions defined in a script or a notebook travel to the workers by value (cloudpickle); the names they
# use from velnor_lib travel by reference (module and name) and are imported again on the worker.

# ---- (a) the text search, as plain functions: the driver's and the worker's halves ----


def cut_shards(text, pattern, count):
    """(start, own, shard) triples: shard i owns the `own` code points from its start to the next shard's
    start, and carries len(pattern) - 1 more, so every occurrence that starts in it lies wholly inside it."""
    overlap = max(len(pattern) - 1, 0)
    size = -(-len(text) // count) or 1
    starts = range(0, max(len(text), 1), size)
    return [(start, min(size, len(text) - start), text[start:start + size + overlap]) for start in starts]


def search_shard(start, own, shard, pattern, last):
    """The worker's half. Returns the UTF-8 byte length of the shard's own text and, for every entry point
    start + d (d < len(pattern), or d = 0 for the empty pattern), the disjoint matches a search entering
    there finds, as (chain number, first index) into a list of chains of (code point, byte) positions
    relative to the shard. `last` tells the last shard, which also owns the position at the very end."""
    width = len(pattern)

    def chain_from(offset):
        # Matches in code points and in bytes come from the same left-to-right search, so they pair up.
        points = match_indices(shard[offset:], pattern)
        prefix_bytes = len(shard[:offset].encode("utf-8"))
        in_bytes = match_byte_indices(shard[offset:], pattern)
        pairs = [(offset + p, prefix_bytes + b) for p, b in zip(points, in_bytes)]
        return [pair for pair in pairs if pair[0] < own or (last and pair[0] <= own)]

    chains = [chain_from(0)]
    where = {position: (0, k) for k, (position, _) in enumerate(chains[0])}  # position -> (chain, index)
    entries = [(0, 0) if chains[0] else None]
    for d in range(1, max(width, 1)):
        first = chains[0]
        points = [p for p, _ in first]
        j = bisect.bisect_left(points, d)
        if j == 0:
            # Nothing before the entry point: the first occurrence after it is the chain's first match.
            entries.append(where[points[0]] if points else None)
            continue
        # The first occurrence from d on starts before the previous match's end plus width, or it is the
        # chain's next match (a search from just after the previous match finds it).
        window_end = min(points[j - 1] + 2 * width - 1, len(shard))
        early = match_indices(shard[d:window_end], pattern)
        found = d + early[0] if early else (points[j] if j < len(points) else None)
        if found is None or (found >= own and not last):
            entries.append(None)
        elif found in where:
            entries.append(where[found])
        else:
            chains.append(chain_from(found))
            for k, (position, _) in enumerate(chains[-1]):
                where.setdefault(position, (len(chains) - 1, k))
            entries.append(where[found])
    own_bytes = len(shard[:own].encode("utf-8"))
    return {"start": start, "own": own, "own_bytes": own_bytes, "chains": chains, "entries": entries}


def join_shard_matches(answers, pattern):
    """The driver's half: walks the shards in order and keeps the matches of the global search.
    Returns (code point positions, byte positions), as match_indices and match_byte_indices would."""
    width = len(pattern)
    points, in_bytes = [], []
    resume = 0  # the global search may take its next match from here on
    byte_start = 0  # prefix sum of the shards' own byte lengths
    for answer in sorted(answers, key=operator.itemgetter("start")):
        start = answer["start"]
        entry = answer["entries"][max(resume - start, 0)]
        if entry is not None:
            chain, first = entry
            for position, byte in answer["chains"][chain][first:]:
                points.append(start + position)
                in_bytes.append(byte_start + byte)
            if answer["chains"][chain][first:]:
                resume = points[-1] + width
        byte_start += answer["own_bytes"]
    return points, in_bytes


def search_serially(text, pattern, shards):
    """The same split and join in this process: what the cluster computes, without one."""
    pieces = cut_shards(text, pattern, shards)
    answers = [search_shard(start, own, shard, pattern, k == len(pieces) - 1)
               for k, (start, own, shard) in enumerate(pieces)]
    return join_shard_matches(answers, pattern)


def search_on_cluster(client, text, pattern, shards):
    pieces = cut_shards(text, pattern, shards)
    # Shards go to the workers directly rather than inside the task graph. On a real cluster each worker
    # would rather read its own shard from shared storage; the code point and byte offsets still come from
    # the shards' own lengths, summed by the driver.
    shard_futures = client.scatter([shard for _, _, shard in pieces])
    futures = [client.submit(search_shard, start, own, shard, pattern, k == len(pieces) - 1, pure=False)
               for k, ((start, own, _), shard) in enumerate(zip(pieces, shard_futures))]
    return join_shard_matches(client.gather(futures), pattern)


# ---- (b) covered seconds from log records, one Span per partition, joined by a tree reduction ----


def log_records(partition, count):
    """Synthetic request records (start second, duration in seconds) of one partition of a day of logs."""
    rng = random.Random(partition)
    return [(rng.randrange(86_400 * 30), rng.choice((1, 1, 2, 3, 5, 30))) for _ in range(count)]


def covered_seconds(partition, count):
    """The seconds during which at least one request of this partition was running."""
    return Span([(start, start + duration - 1) for start, duration in log_records(partition, count)])


def tree_reduce(client, futures, combine):
    """Combines futures pairwise, level by level: log2(n) rounds, each running in parallel."""
    while len(futures) > 1:
        paired = [client.submit(combine, a, b) for a, b in zip(futures[::2], futures[1::2])]
        futures = paired + futures[len(paired) * 2:]
    return futures[0].result()


def coverage_on_cluster(client, partitions, count):
    spans = [client.submit(covered_seconds, p, count) for p in range(partitions)]
    return tree_reduce(client, spans, operator.or_)


def coverage_serial(partitions, count):
    return Span().union(*(covered_seconds(p, count) for p in range(partitions)))


# ---- the demo ----


def sample_text(code_points):
    """Text with one-, two-, three- and four-byte characters, so that byte offsets differ from code points."""
    rng = random.Random(7)
    words = ["velnor", "spans", "naïve", "café", "€uro", "😀ok", "aaaa", "ab"]
    pieces, size = [], 0
    while size < code_points:
        word = rng.choice(words)
        pieces.append(word + " ")
        size += len(word) + 1
    return "".join(pieces)[:code_points]


def timed(function, *arguments):
    began = time.perf_counter()
    result = function(*arguments)
    return result, time.perf_counter() - began


def main(address=None):
    from dask.distributed import Client, LocalCluster

    text = sample_text(4_000_000)
    partitions, records = 32, 50_000
    with (Client(address) if address else Client(LocalCluster(n_workers=2, threads_per_worker=1,
                                                              processes=True))) as client:
        for pattern in ("café", "aa", "😀ok "):
            (points, in_bytes), cluster_time = timed(search_on_cluster, client, text, pattern, 16)
            (serial_points, serial_bytes), serial_time = timed(
                lambda: (match_indices(text, pattern), match_byte_indices(text, pattern)))
            assert (points, in_bytes) == (serial_points, serial_bytes)
            print(f"search {pattern!r}: {len(points)} matches, cluster {cluster_time:.3f} s, "
                  f"one process {serial_time:.3f} s")
        covered, cluster_time = timed(coverage_on_cluster, client, partitions, records)
        serial, serial_time = timed(coverage_serial, partitions, records)
        assert covered == serial
        print(f"coverage: {len(covered.segments)} segments from {partitions * records} records, "
              f"cluster {cluster_time:.3f} s, one process {serial_time:.3f} s")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else None)
