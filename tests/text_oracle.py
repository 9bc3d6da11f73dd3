"""An independent reference for the match functions, built on str.find and str.rfind."""

import velnor_lib

MATCH_NAMES = [
    "match_indices",
    "match_utf16_indices",
    "match_byte_indices",
    "rmatch_indices",
    "rmatch_utf16_indices",
    "rmatch_byte_indices",
]


def call(name, *args, **kwargs):
    return getattr(velnor_lib, name)(*args, **kwargs)


def oracle(name, text, pattern):
    """Independent reference: str.find / str.rfind loops, positions converted by encoding prefixes."""
    if pattern == "":
        starts = list(range(len(text) + 1))
        if name.startswith("r"):
            starts.reverse()
    elif name.startswith("r"):
        starts, end = [], len(text)
        while (found := text.rfind(pattern, 0, end)) != -1:
            starts.append(found)
            end = found
    else:
        starts, begin = [], 0
        while (found := text.find(pattern, begin)) != -1:
            starts.append(found)
            begin = found + len(pattern)
    if "utf16" in name:
        return to_units(text, starts, "utf-16-le", 2)
    if "byte" in name:
        return to_units(text, starts, "utf-8", 1)
    return starts


def to_units(text, starts, encoding, unit_size):
    """Units before each start: the encoded lengths of the stretches between consecutive starts, summed."""
    units, last, count = {}, 0, 0
    for start in sorted(starts):
        count += len(text[last:start].encode(encoding)) // unit_size
        units[start], last = count, start
    return [units[start] for start in starts]
