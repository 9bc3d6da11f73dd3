#!/usr/bin/env bash
# Builds velnor_lib with AddressSanitizer and UndefinedBehaviorSanitizer into its own virtual environment
# (.venv-sanitize) and runs the whole test suite under it. Any sanitizer report, or any failing test, makes the
# script exit non-zero.
#
#   scripts/sanitize.sh                 # the whole suite, slow tests included
#   scripts/sanitize.sh tests/test_x.py # arguments go to pytest instead of the default "tests"
#
# Environment: PYTHON (interpreter for the venv, default python3), SANITIZE_VENV (default .venv-sanitize).
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON=${PYTHON:-python3}
VENV=${SANITIZE_VENV:-.venv-sanitize}
FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
started=$SECONDS

# g++ brings the sanitizer runtimes (libasan8, libubsan1 through libgcc-12-dev).
if ! command -v g++ >/dev/null; then
    echo "sanitize: installing g++"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq g++ >/dev/null
fi
runtime() {
    local path
    path=$(g++ -print-file-name="$1")
    if [ "$path" = "$1" ] || [ ! -e "$path" ]; then
        echo "sanitize: $1 not found next to g++" >&2
        exit 2
    fi
    realpath "$path"
}
ASAN_RUNTIME=$(runtime libasan.so)
UBSAN_RUNTIME=$(runtime libubsan.so)

if [ ! -x "$VENV/bin/python" ]; then
    "$PYTHON" -m venv "$VENV"
fi
pip() { "$VENV/bin/python" -m pip --disable-pip-version-check "$@"; }
pip install -q --upgrade pip
pip install -q scikit-build-core cmake ninja
pip uninstall -q -y velnor_lib 2>/dev/null || true
pip install -q --no-build-isolation -C cmake.define.VELNOR_EXTRA_FLAGS="$FLAGS" -C build-dir=build/sanitize \
    -C cmake.define.VELNOR_WARNINGS_AS_ERRORS=ON \
    -C cmake.build-type=RelWithDebInfo ".[test]"

# A plain build here would make every check below pass vacuously.
module=$("$VENV/bin/python" -c 'import importlib.util as u; print(u.find_spec("velnor_lib").origin)')
if ! nm -D "$module" | grep -c __asan_report >/dev/null; then
    echo "sanitize: $module is not instrumented" >&2
    exit 2
fi
echo "sanitize: build and install took $((SECONDS - started)) s"

export LD_PRELOAD="$ASAN_RUNTIME $UBSAN_RUNTIME"
# The interpreter itself leaks by design at exit: leak detection stays off. Freed memory is overwritten so
# that a read after free inside the (uninstrumented) interpreter fails loudly. Failed allocations raise
# MemoryError as they would without the sanitizer.
export ASAN_OPTIONS=detect_leaks=0:max_free_fill_size=4096:halt_on_error=1:allocator_may_return_null=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export PYTHONMALLOC=malloc
export PYTHONFAULTHANDLER=1
export HYPOTHESIS_PROFILE=${HYPOTHESIS_PROFILE:-ci}

# --capture=sys: pytest captures Python's streams only, so a sanitizer report written to file descriptor 2 by
# a process that the sanitizer then ends reaches the log instead of a discarded capture file.
LOG=build/sanitize/pytest.log
[ $# -gt 0 ] || set -- -m "" tests  # the quick selection is pytest's default; here every test runs
status=0
"$VENV/bin/python" -m pytest -p no:cacheprovider --capture=sys -q -rs "$@" 2>&1 | tee "$LOG" ||
    status=$?
unset LD_PRELOAD

if grep -qE 'ERROR: AddressSanitizer|runtime error:|SUMMARY: (Address|UndefinedBehavior)Sanitizer' "$LOG"; then
    echo "sanitize: FAILED: sanitizer report above (log: $LOG)"
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "sanitize: FAILED: pytest exit status $status (log: $LOG)"
    exit "$status"
fi
echo "sanitize: passed in $((SECONDS - started)) s"
