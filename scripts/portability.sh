#!/usr/bin/env bash
# Proof on other toolchains and CPUs, from this one x86-64 Linux machine:
#   1. clang-14 with libc++ (the oldest libc++ a supported Xcode roughly matches) and -Werror compiles every
#      source; the module, linked against libc++, imports and passes a selection of the suite.
#   2. The Python-free cores, cross-compiled (static) for aarch64, i686 and s390x (big-endian) with Debian's
#      cross compilers, run every fuzz target over its kept inputs plus a bounded number of generated ones
#      under qemu-user (fuzz/driver_main.cpp stands in for libFuzzer's main).
#   3. The module, cross-compiled for aarch64 and s390x against a foreign Debian root's Python headers,
#      imports under qemu in that root's own python3 and runs the tour and scripts/foreign_check.py there.
# Any failure fails the script.
#
#   scripts/portability.sh                       # all three parts
#   scripts/portability.sh libcxx|cross|foreign  # one part
#
# Environment: PYTHON (the interpreter for part 1, default python3, with pytest and hypothesis),
# GENERATED (generated inputs per fuzz target and CPU, default 3000).
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON=${PYTHON:-python3}
GENERATED=${GENERATED:-3000}
WORK=build/portability
LIMITED_API=-DPy_LIMITED_API=0x030A0000
WARNINGS="-Wall -Wextra -Werror"
parts=${1:-all}
started=$SECONDS
mkdir -p "$WORK"

# Installs the Debian packages missing among the arguments.
need() {
    local missing=()
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "portability: installing ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# The module's sources and the cores' (those including no Python header), and the fuzz targets with the core
# sources each links, from the one list in scripts/fuzz.sh.
mapfile -t MODULE_SOURCES < <(find src -name '*.cpp' | sort)
eval "$(sed -n '/^TARGETS=(/,/^)$/p' scripts/fuzz.sh)"

# A Debian mirror, as this machine's own apt configuration names it.
debian_mirror() {
    local uri
    uri=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -n 1)
    [ -n "$uri" ] || uri=$(sed -nE 's/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+).*/\2/p' \
        /etc/apt/sources.list 2>/dev/null | grep -v security | head -n 1)
    echo "${uri%% *}"
}

# --- 1. clang and libc++ -------------------------------------------------------------------------------
libcxx() {
    local t0=$SECONDS out=$WORK/libcxx include
    need clang-14 libc++-14-dev libc++abi-14-dev
    rm -rf "$out" && mkdir -p "$out/obj" "$out/module"
    include=$("$PYTHON" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
    local flags=(-std=c++20 -stdlib=libc++ -O1 -fPIC -fvisibility=hidden $WARNINGS -Isrc "-I$include" $LIMITED_API)
    local objects=() source
    for source in "${MODULE_SOURCES[@]}"; do
        objects+=("$out/obj/$(echo "$source" | tr / _).o")
    done
    # One compiler per core.
    printf '%s\n' "${MODULE_SOURCES[@]}" | xargs -P "$(nproc)" -I{} sh -c \
        'clang++-14 "$@" -c {} -o "'"$out"'/obj/$(echo {} | tr / _).o"' sh "${flags[@]}"
    local suffix
    suffix=$("$PYTHON" -c 'import importlib.machinery as m; print(next(s for s in m.EXTENSION_SUFFIXES if "abi3" in s))')
    clang++-14 -stdlib=libc++ -shared "${objects[@]}" -o "$out/module/velnor_lib$suffix"
    # The fuzz targets too, with the driver, run natively over their inputs.
    local line name sources
    for line in "${TARGETS[@]}"; do
        read -r name sources <<<"$line"
        # shellcheck disable=SC2086
        clang++-14 -std=c++20 -stdlib=libc++ -O1 $WARNINGS -Isrc fuzz/driver_main.cpp "fuzz/$name.cpp" $sources \
            -o "$out/$name"
        run_inputs "$name" "$out/$name"
    done
    if ! ldd "$out/module/velnor_lib$suffix" | grep 'libc++\.so' >/dev/null; then
        echo "portability: FAILED: the clang module does not link libc++" >&2
        exit 1
    fi
    local where
    where=$(PYTHONPATH=$out/module "$PYTHON" -c 'import velnor_lib; print(velnor_lib.__file__)')
    case "$where" in
        "$out/module/"* | "$PWD/$out/module/"*) ;;
        *) echo "portability: FAILED: imported velnor_lib from $where, not the libc++ build" >&2; exit 1 ;;
    esac
    PYTHONPATH=$out/module HYPOTHESIS_PROFILE=ci "$PYTHON" -m pytest -p no:cacheprovider -q -m "not slow" \
        tests/test_interval.py tests/test_span_values.py tests/test_span_algebra.py tests/test_text.py \
        tests/test_chunks.py tests/test_boundary.py
    echo "portability: clang-14/libc++: ${#MODULE_SOURCES[@]} sources and ${#TARGETS[@]} fuzz targets built" \
        "with -Werror, module tested, in $((SECONDS - t0)) s"
}

# Runs one fuzz target binary (through `$runner`, e.g. qemu) over its kept inputs and generated ones.
run_inputs() {
    local name=$1 binary=$2 inputs=() log
    shift 2
    for file in fuzz/corpus/"$name"/* fuzz/regressions/"$name"/*; do
        [ -f "$file" ] && inputs+=("$file")
    done
    log=$WORK/$name.$(basename "$(dirname "$binary")").log
    if ! "$@" "$binary" "${inputs[@]}" --generated "$GENERATED" >"$log" 2>&1; then
        tail -n 20 "$log"
        echo "portability: FAILED: fuzz target $name ($binary)" >&2
        exit 1
    fi
}

# --- 2. the cores on other CPUs ------------------------------------------------------------------------
# Debian's name of each CPU: cross compiler prefix, qemu binary.
declare -A CROSS_PREFIX=([aarch64]=aarch64-linux-gnu [i686]=i686-linux-gnu [s390x]=s390x-linux-gnu)
declare -A QEMU=([aarch64]=qemu-aarch64-static [i686]=qemu-i386-static [s390x]=qemu-s390x-static)
# x87 arithmetic keeps doubles at 64-bit precision in registers, and GCC's C++ does not round them at a cast,
# so a converted bound compares unlike its stored self: 32-bit x86 builds use SSE2 (CMakeLists.txt does too).
declare -A CPU_FLAGS=([aarch64]="" [i686]="-msse2 -mfpmath=sse" [s390x]="")

cross() {
    local t0=$SECONDS
    need g++-aarch64-linux-gnu g++-i686-linux-gnu g++-s390x-linux-gnu qemu-user-static
    local cpu line name sources binary
    for cpu in aarch64 i686 s390x; do
        local t1=$SECONDS out=$WORK/$cpu
        rm -rf "$out" && mkdir -p "$out"
        for line in "${TARGETS[@]}"; do
            read -r name sources <<<"$line"
            binary=$out/$name
            # shellcheck disable=SC2086
            "${CROSS_PREFIX[$cpu]}-g++" -std=c++20 -O1 -static ${CPU_FLAGS[$cpu]} $WARNINGS -Isrc fuzz/driver_main.cpp \
                "fuzz/$name.cpp" $sources -o "$binary"
            run_inputs "$name" "$binary" "${QEMU[$cpu]}"
        done
        echo "portability: $cpu: ${#TARGETS[@]} fuzz targets passed their inputs and $GENERATED generated ones" \
            "each under ${QEMU[$cpu]} ($((SECONDS - t1)) s)"
    done
    echo "portability: cross-CPU cores passed in $((SECONDS - t0)) s"
}

# --- 3. the module for other CPUs, against a foreign Debian root ---------------------------------------
# Debian architecture names.
declare -A DEBIAN_ARCH=([aarch64]=arm64 [s390x]=s390x)

foreign() {
    local t0=$SECONDS cpu
    need debootstrap qemu-user-static g++-aarch64-linux-gnu g++-s390x-linux-gnu
    local mirror
    mirror=$(debian_mirror)
    if [ -z "$mirror" ]; then
        echo "portability: FAILED: no Debian mirror in this machine's apt sources" >&2
        exit 1
    fi
    for cpu in aarch64 s390x; do
        local t1=$SECONDS root=$WORK/root-${DEBIAN_ARCH[$cpu]} out=$WORK/module-$cpu
        # The packages of the root's python3.11 and its headers, downloaded by debootstrap's first stage and
        # unpacked without running anything of that CPU: qemu runs the interpreter in place later.
        if [ ! -x "$root/usr/bin/python3.11" ] || [ "${CI:-}" = true ]; then
            rm -rf "$root" "$root.debs"
            debootstrap --download-only --variant=minbase --arch="${DEBIAN_ARCH[$cpu]}" \
                --include=python3.11,libpython3.11-dev bookworm "$root.debs" "$mirror" >"$WORK/debootstrap-$cpu.log" 2>&1 || {
                tail -n 20 "$WORK/debootstrap-$cpu.log"
                echo "portability: FAILED: cannot download the ${DEBIAN_ARCH[$cpu]} root" >&2
                exit 1
            }
            mkdir -p "$root"
            for deb in "$root.debs"/var/cache/apt/archives/*.deb; do
                dpkg-deb -x "$deb" "$root"
            done
            rm -rf "$root.debs"
        fi
        local multiarch=${CROSS_PREFIX[$cpu]}
        rm -rf "$out" && mkdir -p "$out/include/$multiarch"
        # The root's pyconfig.h includes <$multiarch/python3.11/pyconfig.h>: that directory alone, not the
        # root's whole /usr/include, whose C library headers would shadow the cross compiler's.
        ln -s "$PWD/$root/usr/include/$multiarch/python3.11" "$out/include/$multiarch/python3.11"
        "$multiarch-g++" -std=c++20 -O2 -fPIC -shared -fvisibility=hidden $WARNINGS -Isrc \
            -isystem "$root/usr/include/python3.11" -isystem "$out/include" $LIMITED_API \
            "${MODULE_SOURCES[@]}" -o "$out/velnor_lib.abi3.so"
        # The root's interpreter under qemu, its library path inside the root. The test tools are not pure
        # Python (hypothesis has a native part), so plain-Python checks stand in for the suite there.
        local run=("${QEMU[$cpu]}" -L "$root" "$root/usr/bin/python3.11")
        PYTHONHOME=$root/usr PYTHONPATH=$out "${run[@]}" -c \
            'import sys, velnor_lib; assert velnor_lib.__file__.endswith(sys.argv[1]), velnor_lib.__file__' \
            "$out/velnor_lib.abi3.so"
        PYTHONHOME=$root/usr PYTHONPATH=$out "${run[@]}" examples/tour.py >/dev/null
        PYTHONHOME=$root/usr PYTHONPATH=$out "${run[@]}" scripts/foreign_check.py
        echo "portability: $cpu module: built against the ${DEBIAN_ARCH[$cpu]} root's headers, tested under" \
            "its python3.11 in qemu ($((SECONDS - t1)) s)"
    done
    echo "portability: foreign modules passed in $((SECONDS - t0)) s"
}

case "$parts" in
    all) libcxx; cross; foreign ;;
    libcxx | cross | foreign) "$parts" ;;
    *) echo "usage: $0 [libcxx|cross|foreign]" >&2; exit 2 ;;
esac
echo "portability: passed in $((SECONDS - started)) s"
