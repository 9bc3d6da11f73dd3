#!/usr/bin/env bash
# Builds the wheel once, checks its tag (cp310-abi3), audits it with `abi3audit --strict`, then installs that
# same file into a fresh virtual environment of every pyenv interpreter from 3.10 up and runs the test suite
# there. Any failure fails the script.
#
#   scripts/wheel_matrix.sh                 # the whole suite under each interpreter
#   scripts/wheel_matrix.sh -m "not slow"   # arguments go to pytest instead of the default "tests"
set -euo pipefail
cd "$(dirname "$0")/.."

FLOOR_MINOR=10            # 3.10: the stable-ABI floor the wheel is tagged for
EXPECTED="3.10 3.11 3.12 3.13"
WORK=build/wheel-matrix
started=$SECONDS

pyenv_root() {
    if [ -n "${PYENV_ROOT:-}" ]; then
        echo "$PYENV_ROOT"
    elif command -v pyenv >/dev/null; then
        pyenv root
    else
        echo "$HOME/.pyenv"
    fi
}
VERSIONS_DIR=$(pyenv_root)/versions

# Prints the newest installed X.Y.Z for minor version X.Y, or nothing.
interpreter_for() {
    local found
    found=$(ls "$VERSIONS_DIR" 2>/dev/null | grep -E "^${1//./\\.}\.[0-9]+$" | sort -t. -k3,3n | tail -n 1)
    if [ -n "$found" ] && [ -x "$VERSIONS_DIR/$found/bin/python3" ]; then
        echo "$VERSIONS_DIR/$found/bin/python3"
    fi
}

# Every minor version from the floor up: the expected ones, plus any newer one that happens to be installed.
minors=$(
    {
        echo "$EXPECTED" | tr ' ' '\n'
        ls "$VERSIONS_DIR" 2>/dev/null | sed -nE 's/^3\.([0-9]+)\.[0-9]+$/3.\1/p'
    } | awk -F. -v floor="$FLOOR_MINOR" '$2 >= floor' | sort -t. -k2,2n -u
)

oldest=""
for minor in $minors; do
    oldest=$(interpreter_for "$minor")
    [ -n "$oldest" ] && break
done
BUILD_PYTHON=${oldest:-python3}

rm -rf "$WORK" build/wheel
mkdir -p "$WORK" dist
rm -f dist/velnor_lib-*.whl

# 1. One wheel, built against the oldest interpreter's headers.
"$BUILD_PYTHON" -m venv "$WORK/tools"
tools_pip() { "$WORK/tools/bin/python" -m pip --disable-pip-version-check "$@"; }
tools_pip install -q --upgrade pip
tools_pip install -q scikit-build-core cmake ninja abi3audit
tools_pip wheel -q --no-build-isolation --no-deps -C build-dir=build/wheel -w dist .
wheels=(dist/velnor_lib-*.whl)
if [ ${#wheels[@]} -ne 1 ] || [ ! -f "${wheels[0]}" ]; then
    echo "wheel-matrix: expected exactly one wheel in dist/, found: ${wheels[*]}" >&2
    exit 1
fi
WHEEL=${wheels[0]}
echo "wheel-matrix: built $WHEEL with $("$BUILD_PYTHON" -V 2>&1)"

# 2. The tag, in the file name and in the wheel's own metadata.
case "$(basename "$WHEEL")" in
    *-cp310-abi3-*.whl) ;;
    *) echo "wheel-matrix: FAILED: $WHEEL is not tagged cp310-abi3" >&2; exit 1 ;;
esac
"$WORK/tools/bin/python" - "$WHEEL" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as wheel:
    metadata = next(name for name in wheel.namelist() if name.endswith(".dist-info/WHEEL"))
    tags = [line.split(":", 1)[1].strip() for line in wheel.read(metadata).decode().splitlines()
            if line.startswith("Tag:")]
if not tags or not all(tag.startswith("cp310-abi3-") for tag in tags):
    sys.exit(f"wheel-matrix: FAILED: WHEEL metadata tags {tags}, expected cp310-abi3-*")
print(f"wheel-matrix: tags {', '.join(tags)}")
EOF

# 3. Only stable-ABI symbols of 3.10 or older.
"$WORK/tools/bin/abi3audit" --strict --verbose "$WHEEL"

# 4. The same file under every interpreter.
tested=0
for minor in $minors; do
    python=$(interpreter_for "$minor")
    if [ -z "$python" ]; then
        echo "wheel-matrix: SKIP Python $minor: no pyenv interpreter in $VERSIONS_DIR"
        continue
    fi
    venv=$WORK/venv-$minor
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "$WHEEL[test]"
    where=$("$venv/bin/python" -c 'import velnor_lib; print(velnor_lib.__file__)')
    case "$where" in
        "$PWD/$venv"/*) ;;
        *) echo "wheel-matrix: FAILED: Python $minor imports velnor_lib from $where" >&2; exit 1 ;;
    esac
    echo "wheel-matrix: Python $minor ($("$venv/bin/python" -V 2>&1)): running tests"
    HYPOTHESIS_PROFILE=${HYPOTHESIS_PROFILE:-ci} "$venv/bin/python" -m pytest -p no:cacheprovider -q "${@:-tests}"
    tested=$((tested + 1))
done
if [ "$tested" -eq 0 ]; then
    echo "wheel-matrix: FAILED: no interpreter from 3.$FLOOR_MINOR up was found" >&2
    exit 1
fi
echo "wheel-matrix: passed on $tested interpreters in $((SECONDS - started)) s"
