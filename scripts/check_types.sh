#!/usr/bin/env bash
# Checks the type stubs: stubtest against the installed module, then mypy --strict and basedpyright over the
# typed example and over the stub file itself. Builds its own venv (TYPES_VENV to reuse one), so it needs only python3 and PyPI.
# Usage: bash scripts/check_types.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
python="${PYTHON:-python3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
venv="${TYPES_VENV:-$work/venv}"

echo "== venv and install =="
[ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q "$root" "mypy>=1.11" "basedpyright>=1.20"

# The wheel must carry the stubs; everything below runs outside the tree so that only installed files count.
site="$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')"
test -f "$site/velnor_lib-stubs/__init__.pyi" || { echo "velnor_lib-stubs/__init__.pyi is not installed"; exit 1; }
cp "$root/examples/typed_usage.py" "$root/typecheck/pyrightconfig.json" "$work/"
cd "$work"

echo "== stubtest =="
"$venv/bin/python" -m mypy.stubtest velnor_lib --allowlist "$root/typecheck/stubtest-allowlist.txt"

echo "== mypy --strict =="
"$venv/bin/python" -m mypy --strict --python-version 3.10 --no-incremental typed_usage.py

echo "== basedpyright =="
"$venv/bin/basedpyright" --pythonpath "$venv/bin/python" typed_usage.py

# The stub file itself, as its own module in a folder apart, so that it cannot shadow the installed one above.
echo "== the stub file itself =="
mkdir stub
cp "$site/velnor_lib-stubs/__init__.pyi" stub/velnor_lib.pyi
"$venv/bin/python" -m mypy --strict --python-version 3.10 --no-incremental stub/velnor_lib.pyi
"$venv/bin/basedpyright" --pythonpath "$venv/bin/python" stub/velnor_lib.pyi

echo "== the example runs =="
"$venv/bin/python" typed_usage.py
