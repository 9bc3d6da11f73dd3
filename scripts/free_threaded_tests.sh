#!/usr/bin/env bash
# The module on free-threaded CPython, in the Debian sid root of free_threaded.sh:
#   1. the free-threaded 3.13 (built there once, reused after);
#   2. the full-API module built for it with warnings as errors; importing it must leave the GIL off, with
#      PYTHON_GIL unset and with PYTHON_GIL=0; then the quick suite (thread stress tests included) runs there
#      with PYTHON_GIL=0, and the slow ones of tests/test_threads.py;
#   3. the abi3t module built against Debian's python3.15 (GIL-enabled: no free-threaded 3.15 is packaged),
#      retagged cp315-abi3.abi3t, its symbols checked against the abi3t headers, and the quick suite run
#      on it there.
#
#   scripts/free_threaded_tests.sh              # FT_ROOT as in free_threaded.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/debian_root.sh

FT_ROOT=${FT_ROOT:-${SID_ROOT:-build/debian-sid}}
export FT_ROOT
FT_PYTHON=/opt/python3.13t/bin/python3.13t
inside=/tmp/velnor-free-threaded  # in the root; the build directories there are kept between runs
started=$SECONDS
say() { echo "free-threaded-tests: $*"; }
step_started=$SECONDS
lap() { say "$1 in $((SECONDS - step_started)) s"; step_started=$SECONDS; }

bash scripts/free_threaded.sh
lap "interpreter ready"

debian_root_enter "$FT_ROOT"
trap 'debian_root_leave "$FT_ROOT"' EXIT
in_root() { chroot "$FT_ROOT" /usr/bin/env "$@"; }
# In the project's copy, with the suite's settings.
in_project() {
    in_root HYPOTHESIS_PROFILE="${HYPOTHESIS_PROFILE:-ci}" sh -c 'cd "$0" && exec env "$@"' "$inside/project" "$@"
}

# The sources with their times kept, so that the kept build directories rebuild only what changed.
rm -rf "$FT_ROOT$inside/project" && mkdir -p "$FT_ROOT$inside/project"
cp -a CMakeLists.txt pyproject.toml README.md LICENSE src velnor_lib-stubs tests docs examples scripts \
    "$FT_ROOT$inside/project/"

# 2. The full-API module on the free-threaded 3.13.
venv=$inside/venv-3.13t
[ -x "$FT_ROOT$venv/bin/python" ] || in_root "$FT_PYTHON" -m venv "$venv"
# The test extras from wheels only: the newest releases of some have no 3.13t wheel, only sources that need
# tools this root lacks (hypothesis: a Rust toolchain).
mapfile -t test_extras < <(in_project "$venv/bin/python" -c '
import tomllib
print("\n".join(tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["test"]))')
in_root "$venv/bin/python" -m pip install -q --only-binary=:all: scikit-build-core cmake ninja "${test_extras[@]}"
in_root "$venv/bin/python" -m pip install -q --no-build-isolation --no-deps -C build-dir="$inside/build-3.13t" \
    -C cmake.define.VELNOR_WARNINGS_AS_ERRORS=ON "$inside/project"
lap "module built for $(in_root "$venv/bin/python" -V 2>&1)"
check_gil_off='
import sys, velnor_lib
where = velnor_lib.__file__
assert "cpython-313t" in where, where
assert not sys._is_gil_enabled(), "importing velnor_lib turned the GIL on"
print("free-threaded-tests: GIL off after import of", where)
'
in_root -u PYTHON_GIL "$venv/bin/python" -W error::RuntimeWarning -c "$check_gil_off"
in_root PYTHON_GIL=0 "$venv/bin/python" -W error::RuntimeWarning -c "$check_gil_off"
in_project PYTHON_GIL=0 "$venv/bin/python" -m pytest -p no:cacheprovider -q tests
if [ -f tests/test_threads.py ]; then
    # The quick suite ran its quick part; exit status 5 means it has no slow tests.
    status=0
    in_project PYTHON_GIL=0 "$venv/bin/python" -m pytest -p no:cacheprovider -q -m slow tests/test_threads.py ||
        status=$?
    [ "$status" -eq 0 ] || [ "$status" -eq 5 ] || exit "$status"
fi
lap "3.13t: quick suite passed with PYTHON_GIL=0"

# 3. The abi3t module, built and tested with the GIL-enabled 3.15.
venv=$inside/venv-3.15
[ -x "$FT_ROOT$venv/bin/python" ] || in_root python3.15 -m venv "$venv"
in_root "$venv/bin/python" -m pip install -q scikit-build-core cmake ninja wheel
rm -rf "$FT_ROOT$inside/abi3t"
# A GIL-enabled 3.15 tags what it builds abi3 only; the module is abi3t, which such interpreters load too.
in_root "$venv/bin/python" -m pip wheel -q --no-build-isolation --no-deps -C build-dir="$inside/build-abi3t" \
    -C cmake.define.VELNOR_ABI3T=ON -C cmake.define.VELNOR_WARNINGS_AS_ERRORS=ON -C wheel.py-api=cp315 \
    -w "$inside/abi3t" "$inside/project"
in_root sh -c 'cd "$0" && "$1" -m wheel tags --remove --abi-tag abi3.abi3t velnor_lib-*-cp315-abi3-*.whl' \
    "$inside/abi3t" "$venv/bin/python" >/dev/null
wheel=$(cd "$FT_ROOT$inside/abi3t" && ls velnor_lib-*.whl)
case "$wheel" in
    *-cp315-abi3.abi3t-*.whl) say "built $wheel" ;;
    *) say "FAILED: $wheel is not tagged cp315-abi3.abi3t" >&2; exit 1 ;;
esac
in_root "$venv/bin/python" -m pip install -q "$inside/abi3t/$wheel[test]"
in_root "$venv/bin/python" -m pip install -q --force-reinstall --no-deps "$inside/abi3t/$wheel"
in_project "$venv/bin/python" scripts/abi3t_symbols.py
in_root "$venv/bin/python" -c '
import velnor_lib
assert velnor_lib.__file__.endswith("/velnor_lib.abi3t.so"), velnor_lib.__file__
print("free-threaded-tests: 3.15 imports", velnor_lib.__file__)
'
in_project "$venv/bin/python" -m pytest -p no:cacheprovider -q tests
lap "3.15 abi3t: quick suite passed"
say "passed in $((SECONDS - started)) s"
