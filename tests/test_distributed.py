"""The two jobs of examples/distributed.py: the shard-and-join text search must equal one call on the whole text
for every cut, also where a naive union of per-shard matches goes wrong; and both jobs on a two-worker
dask.distributed cluster must give the serial answer. A job written in a script with `from velnor_lib import
...` runs in fresh worker processes of every engine: a fresh interpreter loading it from cloudpickle, a
ProcessPoolExecutor with the spawn method, joblib's loky backend, a dask.distributed cluster of processes, and
Ray where it is installed (tests/engine_script.py). Those need the `distributed` extra and are skipped
without it; CI runs them in a stage of their own with `-m dask`. Every wait is bounded, so a job the workers
cannot load fails instead of hanging.
"""

import importlib.util
import operator
import os
import pathlib
import pickle
import random
import shutil
import signal
import subprocess
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import velnor_lib
from velnor_lib import Span, match_byte_indices, match_indices

EXAMPLE = pathlib.Path(__file__).resolve().parent.parent / "examples" / "distributed.py"
ENGINE_SCRIPT = pathlib.Path(__file__).resolve().parent / "engine_script.py"


def load_example():
    spec = importlib.util.spec_from_file_location("velnor_distributed_example", EXAMPLE)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


example = load_example()


def whole(text, pattern):
    return match_indices(text, pattern), match_byte_indices(text, pattern)


def naive_join(text, pattern, shards):
    """Every shard's own matches made global and unioned: what the example must not do."""
    found = set()
    for start, own, shard in example.cut_shards(text, pattern, shards):
        found.update(start + p for p in match_indices(shard, pattern) if p < own)
    return sorted(found)


# Periodic texts and self-overlapping patterns, where the match a search takes depends on where it started.
ADVERSARIAL = [
    ("a" * 23, "aa"),
    ("a" * 40, "aaa"),
    ("ab" * 20 + "a", "aba"),
    ("abcabcabcab" * 3, "abcab"),
    ("aab" * 9 + "aa", "aabaa"),
    ("é€😀" * 9, "€😀é"),
    ("😀😀😀😀😀😀😀", "😀😀"),
    ("x" * 5, "xxxxxxxx"),  # longer than the text
    ("aaaa", ""),
    ("", "a"),
    ("", ""),
]


@pytest.mark.parametrize(("text", "pattern"), ADVERSARIAL)
def test_every_cut_of_the_text_joins_to_one_whole_search(text, pattern):
    for shards in range(1, len(text) + 3):
        assert example.search_serially(text, pattern, shards) == whole(text, pattern), shards


def test_a_naive_union_of_shard_matches_would_be_wrong_on_these_texts():
    # The cases above have teeth: for "aa" in "aaaa..." a shard that starts at an odd offset matches out of
    # phase, and the union holds overlapping matches.
    text, pattern = "a" * 23, "aa"
    assert naive_join(text, pattern, 5) != match_indices(text, pattern)
    assert example.search_serially(text, pattern, 5) == whole(text, pattern)


@settings(max_examples=150, deadline=None)
@given(text=st.text("ab€😀", max_size=40), pattern=st.text("ab€😀", max_size=5), shards=st.integers(1, 45))
def test_random_texts_over_small_alphabets_join_exactly(text, pattern, shards):
    assert example.search_serially(text, pattern, shards) == whole(text, pattern)


def test_each_shard_owns_its_slice_and_carries_the_overlap():
    text, pattern = "abcdefghij", "xyz"
    pieces = example.cut_shards(text, pattern, 3)
    assert [(start, own) for start, own, _ in pieces] == [(0, 4), (4, 4), (8, 2)]
    assert [shard for _, _, shard in pieces] == ["abcdef", "efghij", "ij"]


def test_per_partition_spans_join_to_the_records_covered():
    spans = [example.covered_seconds(p, 200) for p in range(5)]
    joined = Span()
    for span in spans:
        joined |= span
    seconds = {s for p in range(5) for start, duration in example.log_records(p, 200) for s in range(start, start + duration)}
    assert sum(end - start + 1 for start, end in joined.segments) == len(seconds)
    assert all(min(seconds) <= start and end <= max(seconds) for start, end in joined.segments)
    assert joined == example.coverage_serial(5, 200)


@pytest.fixture(scope="module")
def cluster_example(tmp_path_factory):
    """A client of a two-worker cluster of processes, and the example under a name that the driver and the
    workers can import (its own name, `distributed`, is the package's): uploaded to the workers, as one would
    send a job's module to a real cluster."""
    distributed = pytest.importorskip("distributed")
    path = tmp_path_factory.mktemp("example") / "velnor_distributed_example.py"
    shutil.copy(EXAMPLE, path)
    spec = importlib.util.spec_from_file_location(path.stem, path)
    module = importlib.util.module_from_spec(spec)
    sys.modules[path.stem] = module
    spec.loader.exec_module(module)
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    try:
        with cluster, distributed.Client(cluster) as client:
            client.upload_file(str(path))
            yield module, client
    finally:
        sys.modules.pop(path.stem, None)


@pytest.mark.dask
@pytest.mark.slow
def test_the_sharded_search_on_a_cluster_equals_one_whole_search(cluster_example):
    example, client = cluster_example
    rng = random.Random(3)
    text = "".join(rng.choice(["a", "aa", "é", "😀", "b", "€"]) for _ in range(20_000))
    for pattern in ["aa", "aaa", "a😀", "é€b", ""]:
        assert example.search_on_cluster(client, text, pattern, 7) == whole(text, pattern), pattern


@pytest.mark.dask
@pytest.mark.slow
def test_the_tree_reduced_coverage_on_a_cluster_equals_the_serial_union(cluster_example):
    example, client = cluster_example
    assert example.coverage_on_cluster(client, 9, 2_000) == example.coverage_serial(9, 2_000)


@pytest.mark.dask
@pytest.mark.slow
def test_sets_travel_to_workers_and_back_unchanged(cluster_example):
    _, client = cluster_example
    from velnor_lib import Interval

    values = [Span([(1, 5), (-(2**63), -(2**62))]), Interval([(False, -float("inf"), -0.0, True)]), Interval()]
    assert client.gather(client.map(lambda value: value, values, pure=False)) == values
    assert client.submit(operator.or_, values[0], Span([(6, 9)])).result() == Span([(-(2**63), -(2**62)), (1, 9)])


def run_bounded(arguments, timeout, **options):
    """Runs a command in a session of its own; past `timeout` seconds the whole session (the command and any
    worker processes it started) is killed and the test fails with what it printed."""
    with subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True,
                          **options) as process:
        try:
            output, _ = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            output, _ = process.communicate()
            pytest.fail(f"no answer within {timeout} s:\n{output.decode(errors='replace')[-4000:]}")
    return process.returncode, output.decode(errors="replace")


def test_the_classes_load_by_name_in_a_fresh_interpreter(tmp_path):
    # The interpreter has not imported velnor_lib: loading imports it and finds each name there.
    things = [velnor_lib.Span, velnor_lib.Interval, velnor_lib.ChunksIter, velnor_lib.Span.union,
              velnor_lib.match_indices, Span([(1, 2)])]
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        (tmp_path / f"things{protocol}.pickle").write_bytes(pickle.dumps(things, protocol))
    child = ("import pathlib, pickle, sys\n"
             "assert 'velnor_lib' not in sys.modules\n"
             "for path in sorted(pathlib.Path(sys.argv[1]).glob('*.pickle')):\n"
             "    print(path.stem, [getattr(thing, '__qualname__', repr(thing)) for thing in pickle.loads(path.read_bytes())])\n")
    code, output = run_bounded([sys.executable, "-c", child, str(tmp_path)], timeout=60, cwd=tmp_path)
    assert code == 0, output
    names = "['Span', 'Interval', 'ChunksIter', 'Span.union', 'match_indices', 'Span([(1, 2)])']"
    assert output.splitlines() == [f"things{protocol} {names}" for protocol in range(pickle.HIGHEST_PROTOCOL + 1)]


# Each engine, with the packages it needs; Ray is optional and not in any extra.
ENGINES = {"cloudpickle": ["cloudpickle"], "spawn": [], "joblib": ["joblib"], "dask": ["distributed"],
           "ray": ["ray"]}


@pytest.mark.dask
@pytest.mark.slow
@pytest.mark.parametrize("engine", ENGINES)
def test_a_script_job_with_the_natural_import_runs_on_every_engine(engine, tmp_path):
    for package in ENGINES[engine]:
        pytest.importorskip(package)
    code, output = run_bounded([sys.executable, str(ENGINE_SCRIPT), engine], timeout=300, cwd=tmp_path)
    assert code == 0, output
    assert output.splitlines()[-1] == f"{engine}: 3 results equal, from other processes"


@pytest.mark.dask
@pytest.mark.slow
def test_the_example_runs_as_a_script_on_a_cluster_of_processes(tmp_path):
    pytest.importorskip("distributed")
    code, output = run_bounded([sys.executable, str(EXAMPLE)], timeout=300, cwd=tmp_path)
    assert code == 0, output
    lines = [line for line in output.splitlines() if line.startswith(("search ", "coverage: "))]
    assert [line.split(":")[0] for line in lines] == ["search 'café'", "search 'aa'", "search '😀ok '", "coverage"]
