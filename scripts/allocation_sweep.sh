#!/usr/bin/env bash
# Builds velnor_lib with the test-only allocation hook (VELNOR_ALLOCATION_HOOK) into its own virtual
# environment (.venv-allocation) and runs the allocation-failure sweep: for every call of the leak tables,
# the k-th allocation fails for k = 1, 2, ... until the call succeeds, once through the C++ allocator and
# once through the interpreter's (where it ships _testcapi, from 3.13 on). Prints the number of injected failures.
#
#   scripts/allocation_sweep.sh                 # the sweep tests
#   scripts/allocation_sweep.sh -k Span         # further arguments go to pytest
#
# Environment: PYTHON (interpreter for the venv, default python3), SWEEP_VENV (default .venv-allocation).
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON=${PYTHON:-python3}
VENV=${SWEEP_VENV:-.venv-allocation}
started=$SECONDS

if [ ! -x "$VENV/bin/python" ]; then
    "$PYTHON" -m venv "$VENV"
fi
pip() { "$VENV/bin/python" -m pip --disable-pip-version-check "$@"; }
pip install -q scikit-build-core cmake ninja
pip uninstall -q -y velnor_lib 2>/dev/null || true
pip install -q --no-build-isolation -C cmake.define.VELNOR_ALLOCATION_HOOK=ON -C build-dir=build/allocation \
    ".[test]"

# Without the hook every C++ step would be skipped and the sweep would pass vacuously.
if ! "$VENV/bin/python" -c 'import velnor_lib as v; assert hasattr(v, "_fail_allocation")'; then
    echo "allocation_sweep: the installed module has no allocation hook" >&2
    exit 2
fi
echo "allocation_sweep: build and install took $((SECONDS - started)) s"

"$VENV/bin/python" -m pytest -p no:cacheprovider -q -s -rs -m "" tests/test_allocation_sweep.py "$@"
echo "allocation_sweep: passed in $((SECONDS - started)) s"
