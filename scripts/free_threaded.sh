#!/usr/bin/env bash
# Gets a free-threaded CPython 3.13 ("3.13t"), which no Debian release packages: Debian's python3.13 source
# package gives the pristine upstream tarball, built here with --disable-gil and installed as
# /opt/python3.13t inside a Debian sid root (the kind wheel_matrix.sh makes), together with Debian's own
# python3.14 and python3.15 (with its headers, for the abi3t module).
#
#   scripts/free_threaded.sh      # last line: the command that runs the interpreter
#
# FT_ROOT picks the root (default: SID_ROOT or build/debian-sid, the one wheel_matrix.sh makes, so that a CI
# run builds on the root its wheel stage made). A finished interpreter in the root is reused (its marker file
# says so); a fresh root gets the one kept in FT_CACHE (default build/python3.13t.tar.gz) from an earlier
# build on this machine. From nothing: 7-20 minutes, most of it `make -j2` (19 on two busy cores); from
# the kept copy into a fresh root: seconds after the root.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/debian_root.sh

FT_ROOT=${FT_ROOT:-${SID_ROOT:-build/debian-sid}}
FT_CACHE=${FT_CACHE:-build/python3.13t.tar.gz}
PREFIX=/opt/python3.13t
PYTHON=$PREFIX/bin/python3.13t
READY=$PREFIX/.velnor-ready
LOG=build/free-threaded.log
# Building the interpreter, running it (ssl for pip, bz2/lzma/zlib for wheels), building the module, and
# the Debian interpreters the root also serves.
PACKAGES=(build-essential pkg-config xz-utils libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev
          libsqlite3-dev python3.14 python3.14-venv python3.15 python3.15-dev python3.15-venv)
started=$SECONDS
mkdir -p build
: >"$LOG"

say() { echo "free-threaded: $*"; }
fail() {
    tail -n 20 "$LOG" >&2
    say "FAILED: $* (log: $LOG)" >&2
    exit 1
}

if debian_root_ready "$FT_ROOT"; then
    say "reusing the Debian sid root in $FT_ROOT"
else
    say "making the Debian sid root in $FT_ROOT"
    debian_root_make "$FT_ROOT" "${PACKAGES[@]}" >>"$LOG" 2>&1 || fail "cannot make the Debian sid root"
fi
debian_root_enter "$FT_ROOT"
trap 'debian_root_leave "$FT_ROOT"' EXIT
debian_root_install "$FT_ROOT" "${PACKAGES[@]}" >>"$LOG" 2>&1 || fail "cannot install ${PACKAGES[*]}"
say "root ready after $((SECONDS - started)) s"

works() {
    chroot "$FT_ROOT" "$PYTHON" -c '
import ssl, sys, sysconfig
assert sysconfig.get_config_var("Py_GIL_DISABLED") == 1, "built with the GIL"
assert not sys._is_gil_enabled(), "the GIL is on"
' >>"$LOG" 2>&1
}

if [ ! -f "$FT_ROOT$READY" ] && [ -f "$FT_CACHE" ]; then
    say "unpacking the interpreter kept in $FT_CACHE"
    rm -rf "$FT_ROOT$PREFIX"
    mkdir -p "$FT_ROOT/opt"
    tar -xzf "$FT_CACHE" -C "$FT_ROOT/opt" && works || { rm -rf "$FT_ROOT$PREFIX"; say "kept interpreter unusable"; }
fi

if [ -f "$FT_ROOT$READY" ] && works; then
    say "reusing $PYTHON ($(chroot "$FT_ROOT" "$PYTHON" -VV | head -n 1)) after $((SECONDS - started)) s"
else
    rm -rf "$FT_ROOT$PREFIX"
    sources=$FT_ROOT/usr/src/velnor-python3.13
    rm -rf "$sources" && mkdir -p "$sources"
    # The source package from the first suite that serves it: each suite's index alone, since one of them
    # failing to download must not stop the others.
    got=""
    for suite in sid forky trixie; do
        printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\n' "$(debian_mirror)" "$suite" \
            >"$FT_ROOT/etc/apt/sources.list.d/velnor-source.sources"
        if debian_retry debian_root_apt "$FT_ROOT" update -qq >>"$LOG" 2>&1 &&
            debian_retry chroot "$FT_ROOT" sh -c 'cd "$1" && apt-get source --download-only -qq python3.13' \
                apt-source "${sources#"$FT_ROOT"}" >>"$LOG" 2>&1 &&
            ls "$sources"/python3.13_*.orig.tar.xz >/dev/null 2>&1; then
            got=$suite
            break
        fi
        rm -rf "${sources:?}"/*
        say "no python3.13 source from $suite"
    done
    rm -f "$FT_ROOT/etc/apt/sources.list.d/velnor-source.sources"
    [ -n "$got" ] || fail "no suite served the python3.13 source package"
    tarball=$(basename "$(ls "$sources"/python3.13_*.orig.tar.xz | tail -n 1)")
    say "building $tarball (Debian $got) after $((SECONDS - started)) s"
    built=$SECONDS
    chroot "$FT_ROOT" sh -c '
        set -e
        cd "$1" && mkdir tree && tar -xJf "$2" -C tree --strip-components=1 && cd tree
        ./configure --prefix="$3" --disable-gil --disable-test-modules --with-ensurepip=install
        nice make -j2
        make install
    ' build "${sources#"$FT_ROOT"}" "$tarball" "$PREFIX" >>"$LOG" 2>&1 || fail "the interpreter did not build"
    rm -rf "$sources"
    works || fail "$PYTHON does not run free-threaded"
    touch "$FT_ROOT$READY"
    say "built $PYTHON in $((SECONDS - built)) s"
    tar -czf "$FT_CACHE.part" -C "$FT_ROOT/opt" "$(basename "$PREFIX")" && mv "$FT_CACHE.part" "$FT_CACHE"
fi

say "ready in $((SECONDS - started)) s; run it with:"
echo "chroot $FT_ROOT $PYTHON"
