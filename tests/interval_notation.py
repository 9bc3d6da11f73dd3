"""Intervals written in set notation, for readable test tables: "[0, 1) ∪ (2, inf)", "∅"."""

import re

from velnor_lib import Interval

_SEGMENT = re.compile(r"\s*([\[(])\s*([^,\s]+)\s*,\s*([^\])\s]+)\s*([\])])\s*")


def segments_of(text):
    """The segment 4-tuples of a set-notation text, in the order written, not normalised."""
    if text.strip() in ("∅", ""):
        return []
    segments = []
    for piece in text.split("∪"):
        match = _SEGMENT.fullmatch(piece)
        if match is None:
            raise ValueError(f"not a segment: {piece!r}")
        left, start, end, right = match.groups()
        segments.append((left == "[", float(start), float(end), right == "]"))
    return segments


def iv(text):
    """The Interval a set-notation text stands for."""
    return Interval(segments_of(text))
