"""Match index functions and utf16len: worked examples, binding, conversion errors and searcher edges."""

import os
import platform
import random
import subprocess
import sys
import time
from pathlib import Path

import pytest

import velnor_lib
from text_oracle import MATCH_NAMES, call, oracle

DOCSTRINGS = {
    "match_indices": "Returns a list of the UTF-8 indices of disjoint matches, from start to end.",
    "match_utf16_indices": "Returns a list of the UTF-16 indices of disjoint matches, from start to end.",
    "match_byte_indices": "Returns a list of the byte indices of disjoint matches, from start to end.",
    "rmatch_indices": "Returns a list of the UTF-8 indices of disjoint matches, from end to start.",
    "rmatch_utf16_indices": "Returns a list of the UTF-16 indices of disjoint matches, from end to start.",
    "rmatch_byte_indices": "Returns a list of the byte indices of disjoint matches, from end to start.",
    "utf16len": "A function that returns the UTF-16 length of a string.",
}

# Five code points: 'a', U+00E9, U+20AC, U+1F600, 'a'; eleven UTF-8 bytes, six UTF-16 units.
WORKED = "a\u00e9\u20ac\U0001F600a"


# --- Module-level facts ----------------------------------------------------------------------------


@pytest.mark.parametrize("name", list(DOCSTRINGS))
def test_function_object(name):
    function = getattr(velnor_lib, name)
    assert function.__doc__ == DOCSTRINGS[name]
    assert function.__self__ is velnor_lib
    assert function.__module__ == "velnor_lib"
    assert function.__name__ == name
    assert function.__text_signature__ is None


def test_registered_first_in_order():
    assert velnor_lib.__all__[:7] == list(DOCSTRINGS)


# --- Worked example and further cases ---------------------------------------------------------------


@pytest.mark.parametrize(
    "name, pattern, expected",
    [
        ("match_indices", "a", [0, 4]),
        ("match_utf16_indices", "a", [0, 5]),
        ("match_byte_indices", "a", [0, 10]),
        ("rmatch_indices", "a", [4, 0]),
        ("rmatch_utf16_indices", "a", [5, 0]),
        ("rmatch_byte_indices", "a", [10, 0]),
        ("match_indices", "\u20ac\U0001F600", [2]),
        ("match_utf16_indices", "\u20ac\U0001F600", [2]),
        ("match_byte_indices", "\u20ac\U0001F600", [3]),
        ("rmatch_indices", "\u20ac\U0001F600", [2]),
        ("rmatch_utf16_indices", "\u20ac\U0001F600", [2]),
        ("rmatch_byte_indices", "\u20ac\U0001F600", [3]),
        ("match_indices", "", [0, 1, 2, 3, 4, 5]),
        ("match_utf16_indices", "", [0, 1, 2, 3, 5, 6]),
        ("match_byte_indices", "", [0, 1, 3, 6, 10, 11]),
        ("rmatch_indices", "", [5, 4, 3, 2, 1, 0]),
        ("rmatch_utf16_indices", "", [6, 5, 3, 2, 1, 0]),
        ("rmatch_byte_indices", "", [11, 10, 6, 3, 1, 0]),
        ("match_utf16_indices", "\U0001F600a", [3]),
        ("rmatch_utf16_indices", "\U0001F600", [3]),
    ],
)
def test_worked_example(name, pattern, expected):
    assert call(name, WORKED, pattern) == expected


def test_worked_example_utf16len():
    assert velnor_lib.utf16len(WORKED) == 6


@pytest.mark.parametrize(
    "text, pattern, forward, backward",
    [
        ("aaaa", "aa", [0, 2], [2, 0]),
        ("aaa", "aa", [0], [1]),
        ("banana", "ana", [1], [3]),
        ("banana", "a", [1, 3, 5], [5, 3, 1]),
        ("", "", [0], [0]),
        ("", "a", [], []),
        ("ab", "abc", [], []),
        ("abc", "abc", [0], [0]),
        ("abc", "d", [], []),
        ("abcabc", "", [0, 1, 2, 3, 4, 5, 6], [6, 5, 4, 3, 2, 1, 0]),
    ],
)
@pytest.mark.parametrize("unit", ["", "utf16_", "byte_"])
def test_ascii_cases_in_every_unit(text, pattern, forward, backward, unit):
    assert call(f"match_{unit}indices", text, pattern) == forward
    assert call(f"rmatch_{unit}indices", text, pattern) == backward


@pytest.mark.parametrize("name", MATCH_NAMES)
def test_non_ascii_overlaps_match_oracle(name):
    for text, pattern in [("\u00e9\u00e9\u00e9", "\u00e9\u00e9"), ("\U0001F600" * 5, "\U0001F600" * 2),
                          ("x\u4e2d\u6587x\u4e2d", "x\u4e2d"), ("\u00e9a\u00e9a\u00e9", "\u00e9a\u00e9")]:
        assert call(name, text, pattern) == oracle(name, text, pattern)


@pytest.mark.parametrize("name", MATCH_NAMES)
def test_keywords_in_either_order(name):
    expected = call(name, WORKED, "a")
    assert call(name, string=WORKED, substring="a") == expected
    assert call(name, substring="a", string=WORKED) == expected
    assert call(name, WORKED, substring="a") == expected


class Text(str):
    """A str subclass that lies about itself wherever it can."""

    def isascii(self):
        return True

    def encode(self, *args, **kwargs):
        raise AssertionError("the subclass's own methods must not be used")

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


@pytest.mark.parametrize("name", MATCH_NAMES)
# Short and long, ASCII and not: each length class reads the str its own way.
@pytest.mark.parametrize("text", [WORKED, "ab" * 10, "\u00e9b" * 10, "ab" * 3000, "\u00e9b" * 300, "\u00e9b" * 3000])
def test_str_subclass_is_treated_as_its_str(name, text):
    for pattern in ["a", "b", "", "ab", "\u00e9"]:
        assert call(name, Text(text), Text(pattern)) == call(name, text, pattern)


# Long Latin-1 texts are read as bytes until a block holds a wider code point (the third block below); the
# reader then tries bytes again only 64 blocks on, and the last block is wider again.
LATIN1_THEN_WIDER = "caf\u00e9 " * (16384 * 2 // 5) + "\U0001F600" + "\u00e9" * 16384 * 66 + "\u4e2d"


@pytest.mark.parametrize("text", ["", "abc", WORKED, "\U0001F600" * 3, "x" * 5000, "\u00e9\U0001F600" * 9000,
                                  "\u00e9x" * 9000, LATIN1_THEN_WIDER])
def test_utf16len(text):
    assert velnor_lib.utf16len(text) == len(text.encode("utf-16-le")) // 2
    assert velnor_lib.utf16len(Text(text)) == len(text.encode("utf-16-le")) // 2
    assert velnor_lib.utf16len(string=text) == len(text.encode("utf-16-le")) // 2


@pytest.mark.parametrize("text", ["\u00e9" * 10, "\u00e9" * 10000, "\u4e2d\U0001F600" * 5000])
def test_no_utf8_form_is_left_inside_the_argument(text):
    # The interpreter counts a cached UTF-8 form in a str's size; every encoding made for a call must go.
    text = (text + "!")[:-1]  # a new string, which nothing else has encoded
    pattern = "\u00e9" * 3
    sizes = sys.getsizeof(text), sys.getsizeof(pattern)
    for name in MATCH_NAMES:
        call(name, text, pattern)
    velnor_lib.utf16len(text)
    assert (sys.getsizeof(text), sys.getsizeof(pattern)) == sizes


def test_result_is_a_fresh_list_of_ints():
    first = velnor_lib.match_indices("abab", "b")
    second = velnor_lib.match_indices("abab", "b")
    assert type(first) is list and first == [1, 3] and first is not second
    assert all(type(item) is int for item in first)


# --- Errors ------------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "name, args, kwargs, message",
    [
        ("match_indices", (), {},
         "match_indices() missing 2 required positional arguments: 'string' and 'substring'"),
        ("match_indices", ("abc",), {}, "match_indices() missing 1 required positional argument: 'substring'"),
        ("rmatch_byte_indices", (), {"substring": "a"},
         "rmatch_byte_indices() missing 1 required positional argument: 'string'"),
        ("match_utf16_indices", ("a", "b", "c"), {},
         "match_utf16_indices() takes 2 positional arguments but 3 were given"),
        ("rmatch_indices", ("a", "b"), {"string": "c"},
         "rmatch_indices() got multiple values for argument 'string'"),
        ("match_byte_indices", ("a", "b"), {"pattern": "c"},
         "match_byte_indices() got an unexpected keyword argument 'pattern'"),
        ("utf16len", ("a", "b"), {}, "utf16len() takes 1 positional arguments but 2 were given"),
        ("utf16len", ("a",), {"string": "b"}, "utf16len() got multiple values for argument 'string'"),
        ("utf16len", (), {"text": "a"}, "utf16len() got an unexpected keyword argument 'text'"),
        ("utf16len", (), {}, "utf16len() missing 1 required positional argument: 'string'"),
        ("utf16len", (5,), {}, "argument 'string': 'int' object cannot be converted to 'PyString'"),
        ("utf16len", (b"a",), {}, "argument 'string': 'bytes' object cannot be converted to 'PyString'"),
        ("match_indices", (b"abc", "a"), {},
         "argument 'string': 'bytes' object cannot be converted to 'PyString'"),
        ("match_indices", ("abc", b"a"), {},
         "argument 'substring': 'bytes' object cannot be converted to 'PyString'"),
        ("rmatch_utf16_indices", (None, 1), {},
         "argument 'string': 'NoneType' object cannot be converted to 'PyString'"),
        ("rmatch_indices", ("abc", 1.5), {},
         "argument 'substring': 'float' object cannot be converted to 'PyString'"),
        ("match_indices", (b"abc", "\ud800"), {},
         "argument 'string': 'bytes' object cannot be converted to 'PyString'"),
    ],
)
def test_type_errors(name, args, kwargs, message):
    with pytest.raises(TypeError) as error:
        call(name, *args, **kwargs)
    assert type(error.value) is TypeError
    assert str(error.value) == message


def encode_error(text):
    with pytest.raises(UnicodeEncodeError) as error:
        text.encode("utf-8")
    return error.value


SURROGATE_TEXTS = [
    "\ud800",
    "a\udfffb",
    "ab\ud83d\ude00",  # a high and a low surrogate written as two code points: no pair in UTF-8
    "x" * 5000 + "\ud800",  # long enough to take the path that first asks str.isascii()
    "\u00e9" * 20000 + "\udc00",  # spans several blocks of utf16len's code-point reader
]


@pytest.mark.parametrize("text", SURROGATE_TEXTS)
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_surrogate_raises_the_interpreters_error(name, text):
    expected = encode_error(text)
    for args in [(text, "a"), ("a", text), (text, text), (text, "\udbff")]:
        with pytest.raises(UnicodeEncodeError) as error:
            call(name, *args)
        assert type(error.value) is UnicodeEncodeError
        assert error.value.args == expected.args
        assert str(error.value) == str(expected)


@pytest.mark.parametrize("text", SURROGATE_TEXTS)
def test_surrogate_in_utf16len(text):
    expected = encode_error(text)
    with pytest.raises(UnicodeEncodeError) as error:
        velnor_lib.utf16len(text)
    assert error.value.args == expected.args
    assert str(error.value) == str(expected)


# --- Searcher edges, through the public functions ----------------------------------------------------

VECTOR_EDGES = [1, 2, 15, 16, 17, 31, 32, 33, 47, 48, 49, 63, 64, 65, 95, 96, 97, 127, 128, 129]


@pytest.mark.parametrize("length", VECTOR_EDGES)
@pytest.mark.parametrize("pattern", ["q", "qz", "xyz", "qrstuvwx", "q" * 9 + "z" * 8])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_match_at_every_place_around_vector_widths(length, pattern, name):
    filler = ("abcdefghijklmnop" * 16)[:length]
    for place in sorted({0, 1, length // 2, length - len(pattern), length - len(pattern) - 1}):
        if 0 <= place <= length - len(pattern):
            text = filler[:place] + pattern + filler[place + len(pattern):]
            assert call(name, text, pattern) == oracle(name, text, pattern), (text, pattern)
    assert call(name, filler, pattern) == []


@pytest.mark.parametrize("length", VECTOR_EDGES)
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_dense_matches_around_vector_widths(length, name):
    for text in ["ab" * length, ("\u00e9b\u4e2d" * length)[:length], ("a\U0001F600" * length)[:length]]:
        for pattern in ["b", "ab", "ba", "\u00e9b", "\U0001F600", ""]:
            assert call(name, text, pattern) == oracle(name, text, pattern), (text, pattern)


# A one-byte pattern keeps its first 1024 offsets from one pass; a text holding more is counted past them, and
# a non-ASCII text is searched as any other pattern: counts on either side of that, spread over the text or
# all near its start, and the end.
@pytest.mark.parametrize("count", [0, 1, 1023, 1024, 1025, 3000])
@pytest.mark.parametrize("spread", [True, False])
@pytest.mark.parametrize("filler", ["abcdefgh", "\u00e9bcdefgh"])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_one_byte_patterns_by_number_of_matches(count, spread, filler, name):
    length = 4 * 3000 + 7 if spread else count + 50
    letters = list((filler * length)[:length])
    for k in range(count):
        letters[k * 4 + 3 if spread else k + 1] = "q"
    letters[-1] = "q"
    text = "".join(letters)
    assert call(name, text, "q") == oracle(name, text, "q")


# Long scans ask blocks of 128 windows for one unit of the pattern alone, and test the pair of units for a
# run of steps at the start of a call and after any block that holds that unit: matches and decoys (each
# unit of the pattern alone) far enough apart that each way meets them, around the block edges.
@pytest.mark.parametrize("pattern", ["q@", "Zq9xwvBoundy"])
@pytest.mark.parametrize("gap", [0, 1, 63, 64, 127, 128, 129, 2049, 4500])
@pytest.mark.parametrize("decoyed", [False, True])
def test_long_scans_meet_matches_past_decoys(pattern, gap, decoyed):
    base = list(("the lazy dog runs far " * 700)[:15000])
    if decoyed:
        for i, unit in enumerate(pattern):
            base[3000 + 211 * i] = unit
            base[11000 - 173 * i - gap] = unit
    for first in (0, 127, 2047, 2048, 2100, 5001, 9000):
        letters = list(base)
        for at in (first, first + len(pattern) + gap):
            if at + len(pattern) <= len(letters):
                letters[at:at + len(pattern)] = pattern
        text = "".join(letters)
        for name in ("match_indices", "rmatch_indices", "match_byte_indices", "rmatch_utf16_indices"):
            assert call(name, text, pattern) == oracle(name, text, pattern), (name, first)


@pytest.mark.parametrize("size", [100, 4097, 70000])
@pytest.mark.parametrize("k", [1, 20, 1000])
def test_adversarial_run_of_one_letter(size, k):
    text = "a" * size
    stopper = "a" * k + "b"
    for name in MATCH_NAMES:
        assert call(name, text, stopper) == []
        assert call(name, text + "b", stopper) == ([size - k] if size >= k else [])
        assert call(name, "b" + text + "b", stopper) == oracle(name, "b" + text + "b", stopper)
        assert call(name, text, "a" * k) == oracle(name, text, "a" * k)


def near_miss(unit, pattern_units):
    """A pattern made of the text's own period with its last character doubled: the prefilter's two bytes
    are in place at every period of the text, and each verification fails only at the end, so the
    search soon hands over to Two-Way."""
    return unit * pattern_units + unit[-1]


@pytest.mark.parametrize("unit", ["ab", "aab", "abc", "\u00e9\u4e2d", "a\U0001F600"])
@pytest.mark.parametrize("pattern_units", [4, 30, 400])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_prefilter_hands_over_to_two_way(unit, pattern_units, name):
    text = unit * 3000
    pattern = near_miss(unit, pattern_units)
    assert call(name, text, pattern) == []
    # Occurrences planted at both ends and in the middle, far beyond the point of hand-over.
    half = len(text) // 2
    planted = pattern + text[:half] + pattern + text[half:] + pattern
    assert call(name, planted, pattern) == oracle(name, planted, pattern)
    assert call(name, text, unit * pattern_units) == oracle(name, text, unit * pattern_units)


@pytest.mark.parametrize("unit", ["ab", "aab", "abaab", "\u00e9a", "\U0001F600\u00e9"])
@pytest.mark.parametrize("k", [3, 8, 40])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_periodic_patterns_after_hand_over(unit, k, name):
    # Runs of the pattern's period one unit too short, exactly long enough and one unit too long, broken
    # by the unit's last character: most candidates fail late, and Two-Way meets periodic windows.
    for run in (k - 1, k, k + 1):
        text = (unit * run + unit[-1]) * (6000 // (len(unit) * run))
        for pattern in (unit * k, (unit * k)[1:], (unit * k)[:-1], unit[-1] + unit * k):
            assert call(name, text, pattern) == oracle(name, text, pattern), (run, pattern)


@pytest.mark.parametrize("seed", range(40))
def test_random_two_letter_text_after_hand_over(seed):
    # In a two-letter text the prefilter's two bytes are in place in a quarter of the windows; with
    # patterns of 12 or more bytes failed verifications outrun the budget within a few hundred windows,
    # and Two-Way searches the rest. Patterns are slices of the text, some with one letter changed.
    rng = random.Random(seed)
    letters = rng.choice(["ab", "a\u00e9", "\U0001F600b"])
    text = "".join(rng.choice(letters) for _ in range(3000))
    for _ in range(10):
        start = rng.randrange(len(text) - 40)
        pattern = list(text[start:start + rng.randint(12, 40)])
        if rng.random() < 0.5:
            pattern[rng.randrange(len(pattern))] = rng.choice(letters)
        pattern = "".join(pattern)
        for name in MATCH_NAMES:
            assert call(name, text, pattern) == oracle(name, text, pattern), pattern


def other_letter(letter, letters):
    return next(candidate for candidate in letters if candidate != letter)


@pytest.mark.parametrize("period", ["ab", "aab", "abb", "aba", "abaab", "a\u00e9", "\U0001F600b"])
@pytest.mark.parametrize("repeats", [4, 7, 12])
def test_two_way_memory_covers_only_what_was_compared(period, repeats):
    # After the right part of a periodic pattern matched and its left part did not, Two-Way shifts by the
    # period and trusts the bytes it has already seen; the trap differs from the pattern exactly at the
    # first byte it has not seen. A long run of near misses first makes the prefilter hand over.
    letters = sorted(set(period))
    pattern = (period * repeats)[: len(period) * repeats - (len(period) > 2)]
    seen = len(pattern) - len(period)
    near_misses = (pattern[:-1] + other_letter(pattern[-1], letters)) * 60
    trap = (other_letter(pattern[0], letters) + pattern[1:]
            + other_letter(pattern[seen], letters) + pattern[seen + 1:])
    for shift in range(2 * len(period)):
        text = near_misses + pattern[:shift] + trap
        for name in MATCH_NAMES:
            assert call(name, text, pattern) == oracle(name, text, pattern), shift
            # Mirrored, for the backward searcher's own factorisation.
            assert call(name, text[::-1], pattern[::-1]) == oracle(name, text[::-1], pattern[::-1]), shift


# --- Scan windows --------------------------------------------------------------------------------------

WINDOW = 1 << 20  # window starts one scan tries between two interrupt polls


@pytest.mark.parametrize("pattern", ["Q", "QR", "QRSTUVWXYZ"])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_occurrences_across_scan_window_edges(pattern, name):
    # A long ASCII text is scanned in its own buffer, window by window from where the search resumes:
    # forward from 0, backward from the last window start. Occurrences on either side of both edges.
    length = WINDOW + 3 * len(pattern) + 40
    filler = ("abcdefghijklmnop" * (length // 16 + 1))[:length]
    last_start = length - len(pattern)
    for edge in (WINDOW, last_start + 1 - WINDOW):
        for place in (edge - len(pattern), edge - 1, edge, edge + 1):
            text = filler[:place] + pattern + filler[place + len(pattern):]
            assert call(name, text, pattern) == oracle(name, text, pattern), place
    # Two occurrences: the second search resumes after the first, so its windows start there.
    text = filler[:5] + pattern + filler[5 + len(pattern):WINDOW + 4] + pattern + filler[WINDOW + 4 + len(pattern):]
    assert call(name, text, pattern) == oracle(name, text, pattern)


# --- Every kernel set ----------------------------------------------------------------------------------

KERNEL_SETS = ["scalar", "sse2", "avx2", "neon"]
TEXT_TESTS = [str(Path(__file__).with_name(f)) for f in ("test_text.py", "test_text_blocks.py", "test_text_hypothesis.py")]


def cpu_flags():
    try:
        with open("/proc/cpuinfo", encoding="ascii", errors="replace") as info:
            return next((line.split(":", 1)[1].split() for line in info if line.startswith(("flags", "Features"))), [])
    except OSError:
        return None


def runnable_kernel_sets():
    """The sets this CPU runs, told by the CPU's own report rather than by the module."""
    machine = platform.machine().lower()
    if machine in ("x86_64", "amd64"):
        flags = cpu_flags()
        if flags is None:
            return None
        return ["scalar", "sse2"] + (["avx2"] if "avx2" in flags else [])  # Linux drops the flag without OS support
    if machine in ("aarch64", "arm64"):
        return ["scalar", "neon"]
    return ["scalar"]


def run_with_kernels(name, *args, timeout=60):
    environment = dict(os.environ, VELNOR_SIMD=name)
    return subprocess.run([sys.executable, *args], env=environment, capture_output=True, text=True, timeout=timeout)


@pytest.mark.parametrize("name", KERNEL_SETS + ["", "avx512", "SSE2"])
def test_kernel_set_forced_from_the_environment(name):
    runnable = runnable_kernel_sets()
    if runnable is None:
        pytest.skip("no CPU report to compare with")
    done = run_with_kernels(name, "-c", "import velnor_lib; print(velnor_lib.match_indices('abcab', 'b'))")
    if name == "" or name in runnable:
        assert done.returncode == 0, done.stderr
        assert done.stdout == "[1, 4]\n"
    else:
        assert done.returncode != 0
        assert "ImportError: VELNOR_SIMD names no kernel set that this CPU runs" in done.stderr


@pytest.mark.slow
@pytest.mark.parametrize("name", KERNEL_SETS)
def test_text_suite_on_every_kernel_set(name):
    # Every differential test of the text functions, once per set the CPU runs: each must answer as the
    # scalar reference and the oracles do.
    runnable = runnable_kernel_sets() or ["scalar"]
    if name not in runnable:
        pytest.skip(f"this CPU does not run {name}")
    done = run_with_kernels(name, "-m", "pytest", "-q", "-x", "-m", "not slow", "-p", "no:cacheprovider",
                            *TEXT_TESTS, timeout=900)
    assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]


# --- Ctrl-C --------------------------------------------------------------------------------------------

# Each call runs for seconds over 300 MB; SIGINT comes 0.1 s after it starts.
INTERRUPTED_CALLS = {
    "match_indices, ' ' in ASCII": "text = 'word ' * (60 * 10**6); velnor_lib.match_indices(text, ' ')",
    "rmatch_byte_indices, ' ' in ASCII": "text = 'ab ' * (100 * 10**6); velnor_lib.rmatch_byte_indices(text, ' ')",
    "match_utf16_indices, non-ASCII": "text = 'caf\u00e9 ' * (60 * 10**6); velnor_lib.match_utf16_indices(text, 'f')",
    "rmatch_indices, non-ASCII": "text = '\u4e2d\u00e9 ' * (100 * 10**6); velnor_lib.rmatch_indices(text, '\u00e9')",
    "match_indices, empty pattern": "text = 'caf\u00e9' * (25 * 10**6); velnor_lib.match_indices(text, '')",
    "match_indices, Two-Way": "text = 'ab' * (150 * 10**6); velnor_lib.match_indices(text, 'ab' * 40 + 'b')",
    "rmatch_indices, Two-Way": "text = 'ab' * (150 * 10**6); velnor_lib.rmatch_indices(text, 'b' + 'ab' * 40)",
    "match_byte_indices, long pattern": (
        "text = '\u00e9' + 'ab' * (150 * 10**6); velnor_lib.match_byte_indices(text, 'ab' * (10**6) + 'c')"),
    "utf16len, non-ASCII": "text = '\u4e2d\U0001F600' * (150 * 10**6); [velnor_lib.utf16len(text) for _ in range(20)]",
}

CHILD = """
import sys, time, velnor_lib
{setup}
print("ready", flush=True)
sys.stdin.readline()
started = time.time()
try:
    {call}
    print("finished", time.time() - started, flush=True)
except KeyboardInterrupt:
    print("interrupted", time.time(), flush=True)
"""


@pytest.mark.slow
@pytest.mark.parametrize("call_text", INTERRUPTED_CALLS.values(), ids=INTERRUPTED_CALLS.keys())
def test_ctrl_c_lands_within_100_ms(call_text):
    setup, call_code = call_text.split("; ", 1)
    child = subprocess.Popen([sys.executable, "-c", CHILD.format(setup=setup, call=call_code)],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n"
        child.stdin.write("go\n")
        child.stdin.flush()
        time.sleep(0.1)
        sent = time.time()
        child.send_signal(__import__("signal").SIGINT)
        outcome = child.stdout.readline().split()
        child.wait(timeout=60)
    finally:
        child.kill()
    assert outcome[0] == "interrupted", outcome
    assert float(outcome[1]) - sent < 0.1
# --- Short texts, one-byte patterns and long match lists ----------------------------------------------

# Lengths around the largest text read through a stack buffer (256 code points) and the largest one
# searched without a searcher (1024 bytes), in code points.
SHORT_EDGES = [0, 1, 7, 8, 9, 255, 256, 257, 340, 341, 342, 1023, 1024, 1025]
SHORT_FILLERS = ["abcdefgh", "\u00e9b\u4e2dc", "a\U0001F600bc", "\u4e2d\u00e9"]


@pytest.mark.parametrize("length", SHORT_EDGES)
@pytest.mark.parametrize("filler", SHORT_FILLERS)
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_short_texts_and_patterns_around_the_limits(length, filler, name):
    text = (filler * (length // len(filler) + 1))[:length]
    patterns = {"", filler[0], filler[:2], filler[-1] + filler[0], text[-8:], text[-9:], text[3:12], text, text + "x"}
    for pattern in patterns:
        assert call(name, text, pattern) == oracle(name, text, pattern), (len(text), pattern)
    assert velnor_lib.utf16len(text) == len(text.encode("utf-16-le")) // 2


@pytest.mark.parametrize("length", [1, 255, 256, 257, 1024])
@pytest.mark.parametrize("where", ["text", "pattern"])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_surrogates_in_short_texts(length, where, name):
    bad = ("a" * length)[:-1] + "\ud800"
    expected = encode_error(bad)
    args = (bad, "a") if where == "text" else ("a" * length, bad)
    with pytest.raises(UnicodeEncodeError) as error:
        call(name, *args)
    assert error.value.args == expected.args
    if where == "text":
        # The text is converted first: a pattern of the wrong type waits for it.
        with pytest.raises(UnicodeEncodeError):
            call(name, bad, 5)


@pytest.mark.parametrize("text", ["", " ", "  a ", "a b" * 700, ("ab " * 3000) + "\u00e9 \U0001F600 ", " " * 70000])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_one_byte_patterns_fill_the_list_from_either_end(name, text):
    assert call(name, text, " ") == oracle(name, text, " ")
    assert call(name, text, "\u00e9") == oracle(name, text, "\u00e9")


# Lists of more than 2**22 matches are appended to instead of made at their final size: both sides of the
# switch, for one-byte patterns (counted) and longer ones (kept as positions), ASCII and not.
@pytest.mark.slow
@pytest.mark.parametrize("count", [2**22, 2**22 + 1])
@pytest.mark.parametrize("case", ["one byte", "two bytes", "two bytes after an \u00e9"])
def test_match_lists_beyond_the_presized_limit(count, case):
    text, pattern, step, lead = {
        "one byte": (" " * count, " ", 1, 0),
        "two bytes": ("ab" * count, "ab", 2, 0),
        "two bytes after an \u00e9": ("\u00e9" + "ab" * count, "ab", 2, 1),
    }[case]
    forward = range(lead, lead + step * count, step)
    assert velnor_lib.match_indices(text, pattern) == list(forward)
    assert velnor_lib.rmatch_indices(text, pattern) == list(reversed(forward))
    in_bytes = range(2 * lead, 2 * lead + step * count, step)
    assert velnor_lib.rmatch_byte_indices(text, pattern) == list(reversed(in_bytes))


@pytest.mark.parametrize("count", [15, 16, 17, 4111, 4112, 4113, 9000])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_match_lists_across_storage_blocks(count, name):
    # Non-ASCII text, so that positions are kept and converted to units rather than taken as bytes.
    for text, pattern in [("\u00e9ab" * count, "ab"), ("\U0001F600" + "xy" * count, "xy"), ("\u00e9" * count, "")]:
        expected = oracle(name, text, pattern)
        assert call(name, text, pattern) == expected


class Liar(str):
    def isascii(self):
        return True


# The ASCII test is looked up at a process's first text call; when that lookup runs out of memory, only that
# call may fail, and every later one must find it afresh.
FIRST_CALL_WITHOUT_MEMORY = """
import sys, _testcapi, velnor_lib
utf16len, first = velnor_lib.utf16len, "passed"  # nothing of the script's own allocates below
_testcapi.set_nomemory(int(sys.argv[1]))
try:
    utf16len("abc")
except MemoryError:
    first = "MemoryError"
finally:
    _testcapi.remove_mem_hooks()
print(first, velnor_lib.utf16len("abc"), velnor_lib.utf16len("\\u00e9" * 300), velnor_lib.match_indices("abcab", "b"))
"""


def test_a_first_lookup_without_memory_fails_only_its_call():
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "set_nomemory"):
        pytest.skip("this interpreter cannot fail its allocations on demand")
    firsts = set()
    for start in range(4):
        done = subprocess.run([sys.executable, "-c", FIRST_CALL_WITHOUT_MEMORY, str(start)], capture_output=True,
                              text=True, timeout=60)
        assert done.returncode == 0, done.stderr
        first, *later = done.stdout.split(" ", 1)
        assert later == ["3 300 [1, 4]\n"], (start, done.stdout)
        firsts.add(first)
    assert "MemoryError" in firsts  # the lookup did meet a failed allocation


@pytest.mark.parametrize("text", ["\U0001F600", "a\u00e9" * 20, "a\u00e9" * 200, "\U0001F600" * 300, "\u00e9" * 2000])
def test_a_subclass_cannot_claim_to_be_ascii(text):
    assert velnor_lib.utf16len(Liar(text)) == len(text.encode("utf-16-le")) // 2
    assert velnor_lib.match_utf16_indices(Liar(text), text[-1]) == oracle("match_utf16_indices", text, text[-1])
