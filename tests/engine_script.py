"""A user's script: a job defined here, in __main__, that uses velnor_lib the natural way, sent to fresh worker
processes by one engine and checked against the same job run here. tests/test_distributed.py runs it:

    python tests/engine_script.py ENGINE     # cloudpickle, spawn, joblib, dask or ray

It prints "ENGINE: N results equal, from other processes" and exits 0, or fails with the engine's error; every
wait for a worker is bounded by TIMEOUT seconds, so that a job the workers cannot load fails instead of hanging.
"""

import os
import subprocess
import sys

from velnor_lib import Interval, Span, iter_chunk, match_indices

TIMEOUT = 120

INPUTS = [
    ("abcabcab", "cab", [(0, 3), (10, 2), (4, 1)]),
    ("ééé€😀é", "é", [(-(2**63), 1), (2**63 - 2, 2)]),
    ("", "", []),
]


def job(text, pattern, records):
    """Runs on a worker: every kind of name of the module, and the classes themselves sent back."""
    span = Span([(start, start + duration - 1) for start, duration in records])
    return {
        "span": span,
        "interval": Interval(span) | Interval([(False, -0.5, 0.5, True)]),
        "matches": match_indices(text, pattern),
        "chunks": list(iter_chunk(records, 2)),
        "classes": (Span, Interval, type(iter_chunk([], 1))),
        "process": os.getpid(),
    }


# A fresh interpreter that has not imported velnor_lib loads the job and its inputs, and sends back the results.
CHILD = """
import pickle, sys
assert "velnor_lib" not in sys.modules
function, inputs = pickle.loads(sys.stdin.buffer.read())
sys.stdout.buffer.write(pickle.dumps([function(*arguments) for arguments in inputs]))
"""


def run_in_a_fresh_interpreter():
    import pickle

    import cloudpickle

    payload = cloudpickle.dumps((job, INPUTS))
    completed = subprocess.run([sys.executable, "-c", CHILD], input=payload, capture_output=True, timeout=TIMEOUT,
                               check=False, cwd=os.path.dirname(sys.executable))
    if completed.returncode != 0:
        raise RuntimeError(completed.stderr.decode(errors="replace"))
    return pickle.loads(completed.stdout)


def run_in_a_spawned_pool():
    import concurrent.futures
    import multiprocessing

    pool = concurrent.futures.ProcessPoolExecutor(max_workers=2, mp_context=multiprocessing.get_context("spawn"))
    try:
        futures = [pool.submit(job, *arguments) for arguments in INPUTS]
        return [future.result(timeout=TIMEOUT) for future in futures]
    finally:
        pool.shutdown(wait=False, cancel_futures=True)


def run_with_joblib():
    from joblib import Parallel, delayed

    return Parallel(n_jobs=2, backend="loky", timeout=TIMEOUT)(delayed(job)(*arguments) for arguments in INPUTS)


def run_on_a_dask_cluster():
    from dask.distributed import Client, LocalCluster, wait

    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    with cluster, Client(cluster) as client:
        futures = client.map(job, *zip(*INPUTS), pure=False)
        wait(futures, timeout=TIMEOUT)
        return client.gather(futures)


def run_with_ray():
    import ray

    ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False)
    try:
        remote = ray.remote(job)
        return ray.get([remote.remote(*arguments) for arguments in INPUTS], timeout=TIMEOUT)
    finally:
        ray.shutdown()


ENGINES = {
    "cloudpickle": run_in_a_fresh_interpreter,
    "spawn": run_in_a_spawned_pool,
    "joblib": run_with_joblib,
    "dask": run_on_a_dask_cluster,
    "ray": run_with_ray,
}


def main(engine):
    results = ENGINES[engine]()
    expected = [job(*arguments) for arguments in INPUTS]
    elsewhere = {result.pop("process") for result in results}
    for result in expected:
        del result["process"]
    assert os.getpid() not in elsewhere, "a job ran in the driver"
    assert results == expected, (results, expected)
    assert all(type(result["span"]) is Span and type(result["interval"]) is Interval for result in results)
    print(f"{engine}: {len(results)} results equal, from other processes")


if __name__ == "__main__":
    main(sys.argv[1])
