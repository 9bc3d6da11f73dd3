"""Checks the module against plain-Python answers where the test suite cannot run (an interpreter of another
CPU under qemu, without the native parts of the test tools): the set algebra, the number text, and the text
units, whose byte order differs on big-endian CPUs."""
import random
from decimal import Decimal

from velnor_lib import Interval, Span, match_byte_indices, match_indices, match_utf16_indices, utf16len


def members(span):
    return {x for start, end in span.segments for x in range(start, end + 1)}


def positional(value):
    return format(Decimal(repr(value)).normalize(), "f")


rng = random.Random(7)
for _ in range(300):
    left = {rng.randrange(-50, 50) for _ in range(rng.randrange(0, 12))}
    right = {rng.randrange(-50, 50) for _ in range(rng.randrange(0, 12))}
    a, b = Span([(p, p) for p in left]), Span([(p, p) for p in right])
    assert members(a | b) == left | right and members(a & b) == left & right and members(a - b) == left - right

for value in [0.1, 1 / 3, 2.0**-1074, 1e300, 123456.789, 2.0**70, -2.5] + [rng.random() for _ in range(200)]:
    text = str(Interval([(True, value, value, True)]))[1:].split(",")[0]
    assert text == positional(value), (value, text)

for text, pattern in [("a\u00e9\U0001F600a\u00e9", "a"), ("\U0001F600x" * 50, "x"), ("\u0100\u0101" * 40, "\u0101")]:
    starts = [i for i in range(len(text)) if text.startswith(pattern, i)]
    assert match_indices(text, pattern) == starts
    assert match_utf16_indices(text, pattern) == [len(text[:i].encode("utf-16-le")) // 2 for i in starts]
    assert match_byte_indices(text, pattern) == [len(text[:i].encode()) for i in starts]
    assert utf16len(text) == len(text.encode("utf-16-le")) // 2
print("foreign check: passed")
