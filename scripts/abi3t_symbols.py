"""Checks that a built abi3t module takes from the interpreter only what the free-threaded stable ABI of 3.15
offers, and hands it only its export hook.

    python scripts/abi3t_symbols.py                 # the velnor_lib this interpreter imports
    python scripts/abi3t_symbols.py MODULE_FILE     # a given file

The allowed names are those the interpreter's own headers declare for extensions when compiled for abi3t
(Py_TARGET_ABI3T=0x030f0000), read from the preprocessed Python.h; the module's names come from `nm`.
abi3audit cannot do this: it takes the export hook of an abi3t module for a use of an unstable name.
On Windows the module links against python3t.lib, which exports the stable ABI alone, so the link is the
check and this script only says so.
"""

from __future__ import annotations

import importlib.util
import re
import shlex
import subprocess
import sys
import sysconfig

HOOK = "PyModExport_velnor_lib"
ATTRIBUTE = re.compile(r"__attribute__\s*\(\((?:[^()]|\((?:[^()]|\([^()]*\))*\))*\)\)")


def declared_for_abi3t() -> set[str]:
    """Every function and data object that Python.h declares for an abi3t extension."""
    paths = sysconfig.get_paths()
    compiler = shlex.split(sysconfig.get_config_var("CC") or "cc")[:1] or ["cc"]
    source = "#define Py_TARGET_ABI3T 0x030f0000\n#include <Python.h>\n"
    text = subprocess.run(
        [*compiler, "-E", "-P", "-x", "c", "-I", paths["include"], "-I", paths["platinclude"], "-"],
        input=source, capture_output=True, text=True, check=True,
    ).stdout
    names = set()
    # A declaration the headers make visible to extensions carries the default-visibility attribute.
    for declaration in re.split(r"[;{}]", text):
        if 'visibility ("default")' not in declaration and 'visibility("default")' not in declaration:
            continue
        bare = ATTRIBUTE.sub(" ", declaration)
        function = re.search(r"(\w+)\s*\(", bare)
        if function:
            names.add(function.group(1))
        else:
            names.update(re.findall(r"\w+", bare)[-1:])
    if len(names) < 500:  # the stable ABI has about a thousand names; far fewer means the parse went wrong
        sys.exit(f"abi3t-symbols: only {len(names)} names read from the headers in {paths['include']}")
    return names


def module_symbols(path: str, undefined: bool) -> set[str]:
    if sys.platform == "darwin":
        command = ["nm", "-u" if undefined else "-gU", path]
    else:
        command = ["nm", "-D", "--undefined-only" if undefined else "--defined-only", path]
    names = set()
    for line in subprocess.run(command, capture_output=True, text=True, check=True).stdout.splitlines():
        name = line.split()[-1] if line.split() else ""
        name = name.split("@")[0]
        if sys.platform == "darwin":
            name = name[1:]
        if name.startswith(("Py", "_Py")):
            names.add(name)
    return names


def main() -> None:
    if len(sys.argv) > 1:
        path = sys.argv[1]
    else:
        spec = importlib.util.find_spec("velnor_lib")
        if spec is None or spec.origin is None:
            sys.exit("abi3t-symbols: velnor_lib is not installed")
        path = spec.origin
    if sys.platform == "win32":
        print(f"abi3t-symbols: {path}: linked against python3t.lib, which holds the stable ABI alone")
        return
    if ".abi3t." not in path:
        sys.exit(f"abi3t-symbols: {path} is not named for abi3t")
    allowed = declared_for_abi3t()
    used = module_symbols(path, undefined=True)
    outside = sorted(used - allowed)
    exported = sorted(module_symbols(path, undefined=False))
    if outside or exported != [HOOK]:
        sys.exit(f"abi3t-symbols: FAILED: {path} uses {outside} outside abi3t 3.15 and exports {exported}"
                 f" (expected only {HOOK})")
    print(f"abi3t-symbols: {path}: {len(used)} interpreter names, all in abi3t 3.15 "
          f"({len(allowed)} declared); exports {HOOK} alone")


if __name__ == "__main__":
    main()
