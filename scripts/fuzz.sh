#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (plain C++ cores, with AddressSanitizer and UndefinedBehaviorSanitizer),
# replays every kept regression input, then fuzzes each target for its share of a time budget.
#
#   scripts/fuzz.sh                  # CI: 200 s in all, split evenly between the targets
#   scripts/fuzz.sh --seconds 3600   # a longer run; see fuzz/README.md
#   scripts/fuzz.sh --target span_algebra --seconds 600
#
# A crash leaves its input in build/fuzz/crashes/<target>/ and fails the script; keep that input as a
# regression test by copying it into fuzz/regressions/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

# One line per target: the harness fuzz/<name>.cpp and the core sources it links. Cores include no Python
# header, so a target is built from those files alone.
TARGETS=(
    "span_algebra src/span/merge.cpp src/span/algebra.cpp src/span/algebra_branching.cpp src/span/algebra_reference.cpp \
        src/span/in_place.cpp src/span/format.cpp"
    "text_search src/text/matches.cpp src/text/searcher.cpp src/text/units.cpp src/text/kernels*.cpp"
    "code_point_blocks src/text/code_point_matches.cpp src/text/matches.cpp src/text/searcher.cpp src/text/units.cpp \
        src/text/kernels*.cpp"
    "interval_algebra src/interval/merge.cpp src/interval/algebra.cpp src/interval/algebra_reference.cpp \
        src/interval/in_place.cpp src/interval/format.cpp \
        src/interval/from_span.cpp src/span/merge.cpp"
    "set_state src/span/state.cpp src/span/merge.cpp src/interval/state.cpp src/interval/merge.cpp \
        src/core/state_fault.cpp"
)

seconds=200
only=""
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --target) only=$2; shift 2 ;;
        *) echo "usage: $0 [--seconds N] [--target NAME]" >&2; exit 2 ;;
    esac
done

# libFuzzer comes with clang; Debian 12 ships it as clang-14 plus libclang-rt-14-dev.
find_clang() {
    local candidate
    for candidate in ${FUZZ_CXX:-} clang++ clang++-14 clang++-15 clang++-16; do
        if command -v "$candidate" >/dev/null && echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, long) { return 0; }' |
            "$candidate" -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}
if ! CXX=$(find_clang); then
    echo "fuzz: installing clang-14 and its libFuzzer runtime"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-14 libclang-rt-14-dev >/dev/null
    CXX=$(find_clang)
fi

selected=()
for line in "${TARGETS[@]}"; do
    name=${line%% *}
    if [ -z "$only" ] || [ "$only" = "$name" ]; then
        selected+=("$line")
    fi
done
if [ ${#selected[@]} -eq 0 ]; then
    echo "fuzz: no target named $only" >&2
    exit 2
fi
share=$((seconds / ${#selected[@]}))
[ "$share" -ge 1 ] || share=1

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
total_runs=0
for line in "${selected[@]}"; do
    read -r name sources <<<"$line"
    binary=build/fuzz/$name
    corpus=build/fuzz/corpus/$name
    crashes=build/fuzz/crashes/$name/
    rm -rf "$crashes" && mkdir -p "$corpus" "$crashes"
    # shellcheck disable=SC2086
    "$CXX" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
        -fno-omit-frame-pointer -Wall -Wextra -Werror -Isrc "fuzz/$name.cpp" $sources -o "$binary"

    regressions=(fuzz/regressions/"$name"/*)
    if [ -e "${regressions[0]}" ]; then
        "$binary" "${regressions[@]}" >build/fuzz/$name.replay.log 2>&1 || {
            cat build/fuzz/$name.replay.log
            echo "fuzz: $name: a kept regression input fails again"
            exit 1
        }
        echo "fuzz: $name: ${#regressions[@]} regression inputs replayed"
    fi

    # The committed seeds start the corpus; what the run adds stays under build/.
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    log=build/fuzz/$name.log
    if ! "$binary" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 -max_len=512 -print_final_stats=1 \
        -artifact_prefix="$crashes" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz: $name: FAILED; the input is in $crashes (keep it in fuzz/regressions/$name/)"
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    total_runs=$((total_runs + ${runs:-0}))
    echo "fuzz: $name: ${runs:-0} executions in $share s, $(ls "$corpus" | wc -l) inputs added to the corpus"
done
echo "fuzz: passed, $total_runs executions"
