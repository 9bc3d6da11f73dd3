"""Differential property tests of the match functions against str.find / str.rfind."""

from hypothesis import given, settings
from hypothesis import strategies as st

import velnor_lib
from text_oracle import MATCH_NAMES, call, oracle

# One-, two-, three- and four-byte characters in UTF-8; the last two are also one and two UTF-16 units.
ALPHABET = ["a", "b", "\u00e9", "\u20ac", "\u4e2d", "\U0001F600"]

texts = st.text(alphabet=st.sampled_from(ALPHABET), max_size=120)
periodic = st.builds(lambda unit, times: unit * times, st.text(st.sampled_from(ALPHABET), min_size=1, max_size=3),
                     st.integers(1, 6))
patterns = st.one_of(
    st.text(alphabet=st.sampled_from(ALPHABET), max_size=6),
    periodic,
    st.sampled_from(["", "abab", "aaa", "a", "\U0001F600\U0001F600"]),
)


@settings(max_examples=300, deadline=None)
@given(texts, patterns)
def test_every_function_matches_the_oracle(text, pattern):
    for name in MATCH_NAMES:
        assert call(name, text, pattern) == oracle(name, text, pattern)


@settings(max_examples=300, deadline=None)
@given(texts, st.data())
def test_slices_of_the_text_are_found(text, data):
    start = data.draw(st.integers(0, len(text)))
    stop = data.draw(st.integers(start, min(len(text), start + 12)))
    pattern = text[start:stop]
    for name in MATCH_NAMES:
        assert call(name, text, pattern) == oracle(name, text, pattern)


@settings(max_examples=100, deadline=None)
@given(
    unit=st.text(st.sampled_from(ALPHABET), min_size=1, max_size=4),
    repeats=st.integers(100, 800),
    edits=st.lists(st.tuples(st.integers(0, 10**6), st.sampled_from(ALPHABET)), max_size=6),
    pattern_units=st.integers(3, 30),
    tail=st.sampled_from(ALPHABET),
    data=st.data(),
)
def test_long_periodic_texts(unit, repeats, edits, pattern_units, tail, data):
    # Long runs of one period with a few edits: the prefilter meets many near misses and hands over to
    # Two-Way, which then sees periodic and near-periodic patterns.
    letters = list(unit * repeats)
    for position, letter in edits:
        letters[position % len(letters)] = letter
    text = "".join(letters)
    pattern = data.draw(st.sampled_from([unit * pattern_units, unit * pattern_units + tail,
                                         tail + unit * pattern_units, (unit * pattern_units)[1:]]))
    for name in MATCH_NAMES:
        assert call(name, text, pattern) == oracle(name, text, pattern)


@settings(max_examples=300, deadline=None)
@given(st.text(max_size=200))  # the default alphabet leaves out surrogates
def test_utf16len_matches_utf16_encoding(text):
    assert velnor_lib.utf16len(text) == len(text.encode("utf-16-le")) // 2


@settings(max_examples=50, deadline=None)
@given(st.lists(st.sampled_from(ALPHABET + ["x" * 500]), max_size=80).map("".join))
def test_utf16len_of_long_texts(text):
    assert velnor_lib.utf16len(text) == len(text.encode("utf-16-le")) // 2


BLOCK = 16384  # a block edge of every reader of long non-ASCII text (16384 Latin-1 bytes, or 4 x 4096 code points)


@settings(max_examples=60, deadline=None)
@given(
    unit=st.text(st.sampled_from(ALPHABET), min_size=1, max_size=5).filter(lambda unit: not unit.isascii()),
    length=st.integers(BLOCK - 20, 2 * BLOCK + 40),
    edits=st.lists(st.tuples(st.integers(0, 10**6), st.sampled_from(ALPHABET)), max_size=6),
    data=st.data(),
)
def test_slices_around_block_edges(unit, length, edits, data):
    # A long text of one repeated unit with a few edits, searched for a slice taken across a block edge
    # (counted from either end), possibly with one code point changed.
    letters = list((unit * (length // len(unit) + 1))[:length])
    for position, letter in edits:
        letters[position % length] = letter
    text = "".join(letters)
    edge = data.draw(st.sampled_from([BLOCK, length - BLOCK]))
    before, after = data.draw(st.integers(0, 12)), data.draw(st.integers(0, 12))
    pattern = list(text[max(0, edge - before):edge + after])
    if pattern and data.draw(st.booleans()):
        pattern[data.draw(st.integers(0, len(pattern) - 1))] = data.draw(st.sampled_from(ALPHABET))
    pattern = "".join(pattern)
    for name in MATCH_NAMES:
        assert call(name, text, pattern) == oracle(name, text, pattern)
