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
        return [len(text[:i].encode("utf-16-le")) // 2 for i in starts]
    if "byte" in name:
        return [len(text[:i].encode("utf-8")) for i in starts]
    return starts
