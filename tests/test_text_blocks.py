"""Long non-ASCII texts, which the match functions read as blocks of code points rather than encoding them:
occurrences across block edges, periodic and block-long patterns, the empty pattern and late surrogates,
all against the str.find oracle or the interpreter's own errors."""

import random

import pytest

from text_oracle import MATCH_NAMES, call, oracle

# Code points per block: 16384 for text read as Latin-1 bytes, 4096 for text read as UTF-32; multiples of
# 16384 are edges of both. The forward reader's edges count from the start, the backward one's from the end.
BLOCK = 16384
SHORTEST = 1024  # shorter texts are encoded to UTF-8 instead

# Repeating fillers for each way the interpreter stores a str: one byte (Latin-1), two bytes (CJK) and four
# bytes (emoji) per code point.
FILLERS = {
    "latin1": "caf\u00e9 na\u00efve \u00fcber ",
    "bmp": "\u4e2d\u6587 \u00e9t\u00e9 \u20ac",
    "astral": "\U0001F600x\u4e2d\u00e9 ",
}


def filler(kind, length):
    unit = FILLERS[kind]
    return (unit * (length // len(unit) + 1))[:length]


def edges(length):
    """Block edges seen by both readers, inside the text."""
    return sorted({edge for k in (1, 2) for edge in (k * BLOCK, length - k * BLOCK) if 0 < edge < length})


def assert_every_function_matches_oracle(text, pattern):
    for name in MATCH_NAMES:
        assert call(name, text, pattern) == oracle(name, text, pattern), name


def encode_error(text):
    with pytest.raises(UnicodeEncodeError) as error:
        text.encode("utf-8")
    return error.value


# --- Matches ---------------------------------------------------------------------------------------------


@pytest.mark.parametrize("kind", FILLERS)
@pytest.mark.parametrize("pattern", ["Q", "Q\U0001F680", "\u00e9Q\u4e2dQ\U0001F680", "QQQ" + "\u00e9" * 14])
@pytest.mark.parametrize("length", [2 * BLOCK + 1000, 3 * BLOCK - 1])
def test_occurrences_straddling_block_edges(kind, pattern, length):
    base = filler(kind, length)
    # One occurrence at every edge, starting `before` code points ahead of it: from ending on the edge to
    # starting on it.
    for before in range(len(pattern) + 1):
        letters = list(base)
        for edge in edges(length):
            letters[edge - before:edge - before + len(pattern)] = pattern
        assert_every_function_matches_oracle("".join(letters), pattern)


@pytest.mark.parametrize("extra", [0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65])
@pytest.mark.parametrize("pattern", ["Q", "Q\u00e9", "QRSTUVWXYZ"])
def test_occurrences_around_vector_widths(extra, pattern):
    # The code-point scans test 16 or 32 windows at a time and finish one by one: occurrences near either
    # end of a window, and dense ones, in texts whose lengths leave every remainder.
    length = SHORTEST + extra
    base = filler("bmp", length)
    for place in {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65, length // 2}:
        for at in (place, length - len(pattern) - place):
            text = base[:at] + pattern + base[at + len(pattern):]
            assert_every_function_matches_oracle(text, pattern)
    dense = (pattern + "\u00e9") * (length // (len(pattern) + 1))
    assert_every_function_matches_oracle(dense, pattern)


@pytest.mark.parametrize("unit", ["\u00e9", "\u00e9a", "\U0001F600\u4e2d", "aab\u00e9"])
@pytest.mark.parametrize("length", [2 * BLOCK - 1, 2 * BLOCK, 2 * BLOCK + 1, 3 * BLOCK + 5])
def test_periodic_texts_and_patterns_across_edges(unit, length):
    # Overlapping candidates everywhere: which of them win depends on the previous match, across every edge.
    text = (unit * (length // len(unit) + 1))[:length]
    for pattern in [unit * 2, unit * 3, (unit * 3)[1:], unit * 7 + unit[0]]:
        assert_every_function_matches_oracle(text, pattern)


@pytest.mark.parametrize("unit", ["\u00e9a", "a\U0001F600", "\u4e2d\u4e2d\u00e9"])
@pytest.mark.parametrize("pattern_units", [5, 60])
def test_hand_over_to_two_way_then_edges(unit, pattern_units):
    # Near misses in the first block exhaust the prefilter; Two-Way must then find occurrences planted
    # across the later edges.
    pattern = unit * pattern_units + unit[-1]
    letters = list((unit * (3 * BLOCK // len(unit) + 1))[:3 * BLOCK])
    for edge in (BLOCK, 2 * BLOCK, 3 * BLOCK - BLOCK // 2):
        start = edge - len(pattern) // 2
        letters[start:start + len(pattern)] = pattern
    assert_every_function_matches_oracle("".join(letters), pattern)


@pytest.mark.parametrize("pattern_length", [BLOCK - 1, BLOCK, BLOCK + 1, 2 * BLOCK + 3])
def test_patterns_as_long_as_blocks(pattern_length):
    rng = random.Random(pattern_length)
    text = "".join(rng.choice("ab\u00e9\u4e2d\U0001F600") for _ in range(5 * BLOCK))
    for start in (0, BLOCK - 7, 2 * BLOCK + 1, len(text) - pattern_length):
        pattern = text[start:start + pattern_length]
        assert_every_function_matches_oracle(text, pattern)
        # The same with its last code point changed: long verifications that fail at their end.
        last = "a" if pattern[-1] != "a" else "b"
        assert_every_function_matches_oracle(text, pattern[:-1] + last)
    run = "\u00e9" * (3 * BLOCK + 2)
    assert_every_function_matches_oracle(run, "\u00e9" * pattern_length)


LATIN1_LENGTH = 4 * BLOCK + 77


@pytest.mark.parametrize("late", ["\u4e2d", "\U0001F600", None])
# Where the wider code point sits: in the first 512 code points of the first block either reader takes (its
# first look), just past them, mid-block, and in later blocks.
@pytest.mark.parametrize("at", [0, 511, 512, BLOCK // 2, BLOCK + BLOCK // 2, 3 * BLOCK + BLOCK // 2,
                                LATIN1_LENGTH - BLOCK, LATIN1_LENGTH - BLOCK + 511, LATIN1_LENGTH - BLOCK + 512])
@pytest.mark.parametrize("pattern", ["Q", "\u00e9Q", "Q\u4e2d", "\u00ff\u00e9"])
def test_latin1_text_then_a_wider_code_point(late, at, pattern):
    # Text that the interpreter keeps at one byte a code point is searched as such bytes, block by block,
    # until a block holds a wider code point: then the whole search runs again over code points. Matches
    # before, in and after that block, and patterns that only the wider part can hold.
    letters = list(filler("latin1", LATIN1_LENGTH))
    for place in (5, BLOCK - 1, 2 * BLOCK + 3, len(letters) - 9):
        letters[place:place + len(pattern)] = pattern
    if late is not None:
        letters[at:at + len(pattern) + 1] = late + pattern
    text = "".join(letters)[:LATIN1_LENGTH]
    assert_every_function_matches_oracle(text, pattern)


@pytest.mark.parametrize("name", MATCH_NAMES)
def test_pattern_longer_than_a_long_text(name):
    text = filler("astral", SHORTEST + 10)
    assert call(name, text, text + "x") == []
    assert call(name, text, text) == [0]


@pytest.mark.parametrize("kind", FILLERS)
@pytest.mark.parametrize("length", [SHORTEST - 1, SHORTEST, SHORTEST + 1, BLOCK, BLOCK + 1, 2 * BLOCK + 7])
def test_empty_and_frequent_patterns_at_every_length(kind, length):
    text = filler(kind, length)
    for pattern in ["", " ", "\u00e9", FILLERS[kind][:3]]:
        assert_every_function_matches_oracle(text, pattern)


# --- Errors ------------------------------------------------------------------------------------------------

LONG = filler("astral", 2 * BLOCK + 100)


@pytest.mark.parametrize("kind", ["astral", "latin1"])  # latin1: read as bytes until the surrogate's block
@pytest.mark.parametrize("surrogates", ["\udc00", "\ud83d\ude00"])  # alone, and a high and a low one
@pytest.mark.parametrize("place", [0, BLOCK - 1, BLOCK, len(LONG) - BLOCK - 1, len(LONG) - 2])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_surrogate_anywhere_in_a_long_text(kind, surrogates, place, name):
    # The text is converted first, so its error wins over every pattern, even one that is itself bad, and
    # even after matches have been found in the blocks before it.
    long = filler(kind, len(LONG))
    text = long[:place] + surrogates + long[place + len(surrogates):]
    expected = encode_error(text)
    for pattern in ["\u00e9", "", "x", LONG + "x", "\ud800", "\u00e9\udfff", b"x", None]:
        with pytest.raises(UnicodeEncodeError) as error:
            call(name, text, pattern)
        assert type(error.value) is UnicodeEncodeError
        assert error.value.args == expected.args


@pytest.mark.parametrize("pattern", ["\ud800", "\u00e9\udfff", "\ud83d\ude00", "x" * BLOCK + "\udc00"])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_surrogate_in_the_pattern_of_a_long_text(pattern, name):
    expected = encode_error(pattern)
    with pytest.raises(UnicodeEncodeError) as error:
        call(name, LONG, pattern)
    assert type(error.value) is UnicodeEncodeError
    assert error.value.args == expected.args


@pytest.mark.parametrize("pattern, message", [
    (b"x", "argument 'substring': 'bytes' object cannot be converted to 'PyString'"),
    (None, "argument 'substring': 'NoneType' object cannot be converted to 'PyString'"),
    (7, "argument 'substring': 'int' object cannot be converted to 'PyString'"),
])
@pytest.mark.parametrize("name", MATCH_NAMES)
def test_pattern_of_another_type_with_a_long_text(pattern, message, name):
    with pytest.raises(TypeError) as error:
        call(name, LONG, pattern)
    assert type(error.value) is TypeError
    assert str(error.value) == message
