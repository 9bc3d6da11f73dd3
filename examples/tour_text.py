"""Text match indices: where a pattern occurs, in code points, UTF-16 units or UTF-8 bytes."""
from velnor_lib import (
    match_byte_indices,
    match_indices,
    match_utf16_indices,
    rmatch_byte_indices,
    rmatch_indices,
    rmatch_utf16_indices,
    utf16len,
)


def tour_text():
    print("== Text match indices ==")
    # 'café 😀 café': é takes 2 UTF-8 bytes; 😀 takes 4 bytes and 2 UTF-16 units.
    text = "caf\u00e9 \U0001F600 caf\u00e9"
    print("text                       ", repr(text))
    print("match_indices(text, 'caf') ", match_indices(text, "caf"), " (text[7:10] ==", repr(text[7:10]) + ")")
    print("match_utf16_indices        ", match_utf16_indices(text, "caf"))
    print("match_byte_indices         ", match_byte_indices(text, "caf"))
    print("rmatch_indices             ", rmatch_indices(text, "caf"), " (from the end)")
    print("rmatch_utf16_indices       ", rmatch_utf16_indices(text, "caf"))
    print("rmatch_byte_indices        ", rmatch_byte_indices(text, "caf"))
    print("overlaps: 'aaa' / 'aa'     ", match_indices("aaa", "aa"), "forward,",
          rmatch_indices("aaa", "aa"), "reverse")
    print("empty pattern, UTF-16 units", match_utf16_indices("a\U0001F600b", ""),
          "(every boundary of 'a\U0001F600b')")
    print("utf16len(text)             ", utf16len(text), "for", len(text), "code points")
