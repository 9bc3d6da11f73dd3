"""Speed of the match functions against the ways Python code finds the same positions today.

Run:  python bench/bench_text.py          (1 MB and 64 MB texts; a few minutes)
      python bench/bench_text.py --quick  (1 MB only, fewer repeats)
      VELNOR_SIMD=sse2 python bench/bench_text.py --quick   (the same with one kernel set forced)

For each text and pattern, each unit and direction, it times velnor_lib against a str.find / str.rfind
loop and re.finditer (for UTF-16 and byte offsets: the same after encoding the text and the pattern),
checks that the loop gives the same list, and prints medians, ratios (peer time / our time, so above 1
means we are faster) and our throughput in GB/s of UTF-8 text. bytes.find of an absent byte (memchr)
is printed as the physical reference. Timings on a shared machine are noisy; compare ratios within one run.
The speed aims at 16 MiB (against stringzilla, memchr and str.find, skipped where stringzilla is missing)
come last, measured with the peers taking turns.
"""

import argparse
import contextlib
import gc
import io
import math
import random
import re
import statistics
import time
import timeit

import velnor_lib

KB = 1 << 10
MB = 1 << 20

# Letter weights of English prose, so that byte frequencies look like real text.
LETTERS = "etaoinshrdlcumwfgypbvkjxqz"
LETTER_WEIGHTS = [12.7, 9.1, 8.2, 7.5, 7.0, 6.7, 6.3, 6.1, 6.0, 4.3, 4.0, 2.8, 2.8, 2.4, 2.4, 2.2, 2.0, 2.0,
                  1.9, 1.5, 1.0, 0.8, 0.2, 0.2, 0.1, 0.1]
ACCENTED = "éèàüöäßçñ"
CJK = ("的一是在不了有和人这中大为上个国我以要他时来用们生到作"
       "地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行学法所")
EMOJI = "😀🎉🚀🌍💡🔥"


def english_words(rng, count):
    return ["".join(rng.choices(LETTERS, LETTER_WEIGHTS, k=rng.randint(1, 10))) for _ in range(count)]


def mixed_words(rng, count):
    words = []
    for _ in range(count):
        kind = rng.random()
        if kind < 0.45:
            words.append("".join(rng.choices(LETTERS, LETTER_WEIGHTS, k=rng.randint(1, 9))))
        elif kind < 0.65:
            letters = LETTERS[:12] + ACCENTED
            words.append("".join(rng.choice(letters) for _ in range(rng.randint(2, 9))))
        elif kind < 0.95:
            # The possessive particle follows about half of the Chinese words, as in running text.
            word = "".join(rng.choice(CJK) for _ in range(rng.randint(1, 4)))
            words.append(word + "的" if rng.random() < 0.5 else word)
        else:
            words.append(rng.choice(EMOJI))
    return words


def prose(rng, vocabulary, size, rare, every):
    """Words drawn from `vocabulary` up to `size` UTF-8 bytes, with `rare` planted once per `every` bytes."""
    average = sum(len(word.encode()) + 1 for word in vocabulary) / len(vocabulary)
    words = rng.choices(vocabulary, k=int(size / average) + 1)
    for index in range(0, len(words), max(1, int(every / average))):
        words[index] = rare
    text = " ".join(words)
    return text.encode()[:size].decode("utf-8", "ignore")


def make_cases(size, rng):
    ascii_text = prose(rng, english_words(rng, 20000), size, "boundary", 256 * 1024)
    mixed_text = prose(rng, mixed_words(rng, 20000), size, "Grüße的😀世界", 256 * 1024)
    run = "a" * size
    return [
        ("ascii", "rare", ascii_text, "boundary"),
        ("ascii", "frequent", ascii_text, "e"),
        ("mixed", "frequent", mixed_text, "的"),
        ("mixed", "rare", mixed_text, "Grüße的😀世界"),
        ("adversarial", "k=20", run, "a" * 20 + "b"),
        ("adversarial", "k=1000", run, "a" * 1000 + "b"),
    ]


# --- The pure-Python ways -------------------------------------------------------------------------------


def find_loop(haystack, needle):
    found, start = [], haystack.find(needle)
    while start != -1:
        found.append(start)
        start = haystack.find(needle, start + len(needle))
    return found


def rfind_loop(haystack, needle):
    found, start = [], haystack.rfind(needle)
    while start != -1:
        found.append(start)
        start = haystack.rfind(needle, 0, start)
    return found


def utf16_find_loop(text, pattern):
    data, needle = text.encode("utf-16-le"), pattern.encode("utf-16-le")
    found, start = [], data.find(needle)
    while start != -1:
        if start & 1:  # straddles two code units
            start = data.find(needle, start + 1)
            continue
        found.append(start >> 1)
        start = data.find(needle, start + len(needle))
    return found


def utf16_rfind_loop(text, pattern):
    data, needle = text.encode("utf-16-le"), pattern.encode("utf-16-le")
    found, start = [], data.rfind(needle)
    while start != -1:
        if start & 1:
            start = data.rfind(needle, 0, start + len(needle) - 1)
            continue
        found.append(start >> 1)
        start = data.rfind(needle, 0, start)
    return found


def regex_starts(haystack, needle, step=1):
    # Forward only: re has no right-to-left search; the reverse peers reverse its list, which equals the
    # rightmost-first list for the patterns used here (none overlaps itself).
    starts = (match.start() for match in re.finditer(re.escape(needle), haystack))
    return [start // step for start in starts if start % step == 0]


PEERS = {
    # unit: (forward loop, reverse loop, regex)
    "code point": (find_loop, rfind_loop, lambda text, pattern: regex_starts(text, pattern)),
    "utf16": (utf16_find_loop, utf16_rfind_loop,
              lambda text, pattern: regex_starts(text.encode("utf-16-le"), pattern.encode("utf-16-le"), 2)),
    "byte": (lambda text, pattern: find_loop(text.encode(), pattern.encode()),
             lambda text, pattern: rfind_loop(text.encode(), pattern.encode()),
             lambda text, pattern: regex_starts(text.encode(), pattern.encode())),
}
OURS = {
    ("code point", "forward"): velnor_lib.match_indices,
    ("code point", "reverse"): velnor_lib.rmatch_indices,
    ("utf16", "forward"): velnor_lib.match_utf16_indices,
    ("utf16", "reverse"): velnor_lib.rmatch_utf16_indices,
    ("byte", "forward"): velnor_lib.match_byte_indices,
    ("byte", "reverse"): velnor_lib.rmatch_byte_indices,
}


def median_time(function, repeats):
    times = []
    for _ in range(repeats):
        gc.collect()
        start = time.perf_counter()
        result = function()
        times.append(time.perf_counter() - start)
        del result
    return statistics.median(times)


def bench_size(size, repeats, rng, aims, rows=None):
    """Prints the table of one text size; adds entries to `aims` and, when given, report rows to `rows`."""
    cases = make_cases(size, rng)
    label = f"{size // MB} MB"
    reference = cases[0][2].encode()
    memchr = median_time(lambda: reference.find(b"\0"), repeats)
    print(f"\n== {label} ==  memchr (bytes.find of an absent byte): {len(reference) / memchr / 1e9:.1f} GB/s")
    print(f"{'text':<12}{'pattern':<9}{'unit':<11}{'dir':<8}{'matches':>9}{'ours ms':>10}{'GB/s':>7}"
          f"{'loop ms':>10}{'x':>7}{'re ms':>10}{'x':>7}")
    for kind, which, text, pattern in cases:
        utf8_size = len(text.encode())
        for unit, (forward_loop, reverse_loop, regex) in PEERS.items():
            for direction in ("forward", "reverse"):
                ours = OURS[unit, direction]
                loop = forward_loop if direction == "forward" else reverse_loop
                expected = loop(text, pattern)
                assert ours(text, pattern) == expected, (kind, which, unit, direction)
                if direction == "forward":
                    peer_regex = lambda: regex(text, pattern)  # noqa: E731
                else:
                    peer_regex = lambda: regex(text, pattern)[::-1]  # noqa: E731
                our_time = median_time(lambda: ours(text, pattern), repeats)
                loop_time = median_time(lambda: loop(text, pattern), repeats)
                regex_time = median_time(peer_regex, repeats)
                print(f"{kind:<12}{which:<9}{unit:<11}{direction:<8}{len(expected):>9}{our_time * 1e3:>10.2f}"
                      f"{utf8_size / our_time / 1e9:>7.2f}{loop_time * 1e3:>10.2f}{loop_time / our_time:>7.1f}"
                      f"{regex_time * 1e3:>10.2f}{regex_time / our_time:>7.1f}")
                aims.append(((label, kind, which, unit, direction), our_time, loop_time, regex_time, memchr,
                             utf8_size, len(reference)))
                if rows is not None:
                    operation = f"{ours.__name__}, {kind} {which}"
                    rows += [report_row(operation, size, our_time, "find loop", loop_time),
                             report_row(operation, size, our_time, "re.finditer", regex_time)]
    print(f"{'utf16len':<20}{'ours ms':>10}{'encode ms':>11}{'x':>7}")
    for kind, text in (("ascii", cases[0][2]), ("mixed", cases[2][2])):
        assert velnor_lib.utf16len(text) == len(text.encode("utf-16-le")) // 2
        our_time = median_time(lambda: velnor_lib.utf16len(text), repeats)
        encode_time = median_time(lambda: len(text.encode("utf-16-le")) // 2, repeats)
        print(f"{kind:<20}{our_time * 1e3:>10.3f}{encode_time * 1e3:>11.2f}{encode_time / our_time:>7.1f}")
        aims.append(((label, kind, "utf16len"), our_time, encode_time))
        if rows is not None:
            rows.append(report_row(f"utf16len, {kind}", size, our_time, "len(encode('utf-16-le'))", encode_time))


def report_row(operation, size, ours, peer, theirs, note=""):
    return {"group": "text", "operation": operation, "size": size, "ours_s": ours, "peer": peer,
            "peer_s": theirs, "note": note}


# --- The aims at 16 MiB: ratios against the strongest peers, measured interleaved -----------------------

try:
    import stringzilla
except ImportError:  # the rows that need it are skipped
    stringzilla = None


def stringzilla_loop(data, needle):
    """Disjoint starts through stringzilla's Str.find, as a Python program would write it."""
    haystack, found = stringzilla.Str(data), []
    start = haystack.find(needle)
    while start != -1:
        found.append(start)
        start = haystack.find(needle, start + len(needle))
    return found


def stringzilla_utf16_loop(data, needle):
    haystack, found = stringzilla.Str(data), []
    start = haystack.find(needle)
    while start != -1:
        if start & 1:  # straddles two code units
            start = haystack.find(needle, start + 1)
            continue
        found.append(start >> 1)
        start = haystack.find(needle, start + len(needle))
    return found


def interleaved(functions, repeats):
    """Best time of each function, the functions taking turns so that load on the machine hits them alike.
    Each timed call follows an untimed one of its own: the contenders read different buffers (a str, its
    UTF-8 bytes), and without it the turn order would leave one input in the cache and evict the other."""
    best = dict.fromkeys(functions, math.inf)
    for _ in range(repeats):
        for name, function in functions.items():
            function()
            gc.collect()
            start = time.perf_counter()
            function()
            best[name] = min(best[name], time.perf_counter() - start)
    return best


def sprinkled(rng, text, share, letters):
    """`text` with a `share` of its characters replaced by ones drawn from `letters`."""
    characters = list(text)
    for index in rng.sample(range(len(characters)), int(len(characters) * share)):
        characters[index] = rng.choice(letters)
    return "".join(characters)


def aim_rows(quick, rng):
    """The speed aims as report rows (note: the aim), at 16 MiB."""
    size = 16 * MB
    repeats = 5 if quick else 11
    rows = []
    ascii_text = prose(rng, english_words(rng, 20000), size, "boundary", 256 * KB)
    # A buffer for each contender: 16 MiB is larger than the caches of many machines, and a buffer that two
    # contenders read would be warmed for one by the other (memchr came out 0.7 to 1.2 ms by turn order).
    data, peer_data = ascii_text.encode(), ascii_text.encode()
    rare = "Zq9xwvBoundy"  # 12 bytes, absent
    assert velnor_lib.match_indices(ascii_text, rare) == find_loop(ascii_text, rare)
    functions = {"ours": lambda: velnor_lib.match_indices(ascii_text, rare),
                 "memchr": lambda: data.find(b"\1")}
    if stringzilla:
        functions["stringzilla"] = lambda: stringzilla_loop(peer_data, rare.encode())
    best = interleaved(functions, repeats)
    rows.append(report_row("match_indices, ascii rare 12 bytes", size, best["ours"], "memchr (bytes.find)",
                           best["memchr"], "aim: within 1.5x of memchr (peer / ours >= 0.67)"))
    if stringzilla:
        rows.append(report_row("match_indices, ascii rare 12 bytes", size, best["ours"], "stringzilla Str.find loop",
                               best["stringzilla"], "aim >= 1x"))
    run, pattern = "a" * size, "a" * 32 + "b"
    if stringzilla:
        run_data = run.encode()
        best = interleaved({"ours": lambda: velnor_lib.match_indices(run, pattern),
                            "stringzilla": lambda: stringzilla_loop(run_data, pattern.encode())}, repeats)
        rows.append(report_row("match_indices, 'a'*N, 'a'*32+'b'", size, best["ours"], "stringzilla Str.find loop",
                               best["stringzilla"], "aim >= 1x"))
    # Prose with 5 % non-ASCII letters: accented Latin only (the interpreter stores it at one byte a
    # character), and the same with typographic dashes and quotes now and then (two bytes a character).
    texts = {"5% accented": sprinkled(rng, ascii_text, 0.05, "éèàüöäßçñ")}
    texts["5% accented + dashes"] = sprinkled(rng, texts["5% accented"], 0.0005, "\u2014\u201c\u201d\u20ac")
    rare = "Zq9xwvBound\u00e9"
    for kind, text in texts.items():
        assert velnor_lib.match_indices(text, rare) == find_loop(text, rare)
        functions = {"match_indices": lambda: velnor_lib.match_indices(text, rare),
                     "str.find loop": lambda: find_loop(text, rare),
                     "match_byte_indices": lambda: velnor_lib.match_byte_indices(text, rare),
                     "match_utf16_indices": lambda: velnor_lib.match_utf16_indices(text, rare)}
        if stringzilla:
            functions["encode utf-8 + stringzilla"] = lambda: stringzilla_loop(text.encode(), rare.encode())
            functions["encode utf-16 + stringzilla"] = lambda: stringzilla_utf16_loop(
                text.encode("utf-16-le"), rare.encode("utf-16-le"))
        best = interleaved(functions, repeats)
        rows.append(report_row(f"match_indices, {kind} rare", size, best["match_indices"], "str.find loop",
                               best["str.find loop"], "aim >= 2x"))
        for ours, peer in (("match_byte_indices", "encode utf-8 + stringzilla"),
                           ("match_utf16_indices", "encode utf-16 + stringzilla")):
            if peer in best:
                rows.append(report_row(f"{ours}, {kind} rare", size, best[ours], peer, best[peer], "aim >= 2x"))
    return rows


# --- Small calls and dense matches: each against its peer, interleaved in one run -------------------------

LINE_ASCII = ("the quick brown fox jumps over the lazy dog and keeps running far away " * 2)[:80]
LINE_MIXED = ("Grüße aus Köln, 世界 is here — naïve café, 😀 emoji and more text here ok " * 2)[:80]
LINE_13 = "abcde " * 13 + "xx"  # 80 characters, 13 spaces


def find_all(s, p):
    out = []
    i = s.find(p)
    while i >= 0:
        out.append(i)
        i = s.find(p, i + len(p))
    return out


def per_call(statement, namespace, number):
    return timeit.Timer(statement, globals=namespace).timeit(number) / number


def interleaved_calls(ours, peer, namespace, number, repeats):
    """Median seconds per call of two statements timed turn about, so that load on the machine hits both."""
    mine, theirs = [], []
    for _ in range(repeats):
        mine.append(per_call(ours, namespace, number))
        theirs.append(per_call(peer, namespace, number))
    return statistics.median(mine), statistics.median(theirs)


# (operation, our statement, peer, peer statement, aim as the least peer/ours ratio)
SMALL_CALLS = [
    ("match_indices, 80-char ASCII line, absent", "match_indices(LINE_ASCII, 'zzz')",
     "str.find loop", "find_all(LINE_ASCII, 'zzz')", 1.0),
    ("match_indices, 80-char mixed line, absent", "match_indices(LINE_MIXED, 'zzz')",
     "str.find loop", "find_all(LINE_MIXED, 'zzz')", 1.0),
    ("match_indices, 80-char line, 13 matches", "match_indices(LINE_13, ' ')",
     "str.find loop", "find_all(LINE_13, ' ')", 5.0),
    ("utf16len, 80-char ASCII line", "utf16len(LINE_ASCII)",
     "isascii() shortcut", "len(LINE_ASCII) if LINE_ASCII.isascii() else len(LINE_ASCII.encode('utf-16-le')) // 2",
     0.8),
]


def bench_small_calls(repeats, aims, rows=None):
    namespace = {"LINE_ASCII": LINE_ASCII, "LINE_MIXED": LINE_MIXED, "LINE_13": LINE_13, "find_all": find_all,
                 "match_indices": velnor_lib.match_indices, "utf16len": velnor_lib.utf16len}
    print(f"\n== small calls ==\n{'operation':<46}{'ours ns':>9}{'peer ns':>9}{'x':>7}  peer")
    for operation, ours, peer, theirs, aim in SMALL_CALLS:
        assert eval(ours, namespace) == eval(theirs, namespace) or ours.startswith("utf16len")
        our_time, peer_time = interleaved_calls(ours, theirs, namespace, 20000, repeats)
        print(f"{operation:<46}{our_time * 1e9:>9.0f}{peer_time * 1e9:>9.0f}{peer_time / our_time:>7.2f}  {peer}")
        aims.append((("small", operation, peer), our_time, peer_time, aim))
        if rows is not None:
            line = namespace[ours[ours.index("(") + 1:].split(",")[0].rstrip(")")]  # the statement's text
            rows.append(report_row(operation, len(line.encode()), our_time, peer, peer_time))


def bench_dense(size, repeats, rng, aims, rows=None):
    """' ' in ASCII prose: millions of matches, so the cost is that of the list. The peer builds a list of as
    many new ints from C at its final length (range's ints are made one by one as ours are, and are not
    shared small ints): the physical limit of any function that returns such a list."""
    text = prose(rng, english_words(rng, 20000), size, "boundary", 256 * 1024)
    count = text.count(" ")
    assert velnor_lib.match_indices(text, " ") == find_loop(text, " ")
    assert velnor_lib.rmatch_indices(text, " ") == rfind_loop(text, " ")
    timings = {"match_indices": [], "rmatch_indices": [], "list(range)": []}
    calls = {"match_indices": lambda: velnor_lib.match_indices(text, " "),
             "rmatch_indices": lambda: velnor_lib.rmatch_indices(text, " "),
             "list(range)": lambda: list(range(0, 2 * count, 2))}
    for _ in range(repeats):
        for name, function in calls.items():
            timings[name].append(median_time(function, 1))
    forward, backward, peer = (statistics.median(timings[name]) for name in calls)
    print(f"\n== dense matches: {size // MB} MiB ASCII, ' ', {count} matches ==")
    for name, seconds in (("match_indices", forward), ("rmatch_indices", backward), ("list(range(0, 2n, 2))", peer)):
        print(f"{name:<24}{seconds * 1e3:>9.1f} ms{seconds / count * 1e9:>7.1f} ns a match")
    print(f"ours / list: forward {forward / peer:.2f}, backward {backward / peer:.2f}; "
          f"backward / forward {backward / forward:.2f}")
    aims.append((("dense", "forward", "list"), forward, peer, 1 / 1.3))
    aims.append((("dense", "backward", "list"), backward, peer, 1 / 1.3))
    aims.append((("dense", "backward vs forward", ""), max(forward, backward), min(forward, backward), 1 / 1.15))
    if rows is not None:
        rows += [report_row("match_indices, dense ' '", size, forward, "list(range(0, 2n, 2))", peer),
                 report_row("rmatch_indices, dense ' '", size, backward, "list(range(0, 2n, 2))", peer),
                 report_row("rmatch_indices vs match_indices, dense ' '", size, backward, "match_indices", forward)]




def run(quick):
    """Rows {group, operation, size, ours_s, peer, peer_s, note} over text sizes that make a curve (size: the
    text's nominal UTF-8 length), for bench/report.py; the tables this module prints by itself are left out."""
    rng = random.Random(2024)
    rows, aims = [], []
    sizes = [64 * KB, 256 * KB, MB] if quick else [64 * KB, MB, 8 * MB, 64 * MB]
    with contextlib.redirect_stdout(io.StringIO()):
        for size in sizes:
            bench_size(size, 3 if quick or size > MB else 7, rng, aims, rows)
        bench_small_calls(5 if quick else 9, aims, rows)
        bench_dense(16 * MB, 3 if quick else 5, rng, aims, rows)
    return rows + aim_rows(quick, rng)


def judge(aims):
    """Prints each aim with the worst ratio seen for it."""
    worst = {}

    def note(aim, ratio):
        worst[aim] = min(worst.get(aim, ratio), ratio)

    for entry in aims:
        if entry[0][-1] == "utf16len":
            (label, kind, _), ours, encode = entry
            note(f"utf16len >= 1x encode, {kind}", encode / ours)
            continue
        (label, kind, which, unit, direction), ours, loop, regex, memchr, utf8_size, reference = entry
        python = min(loop, regex)  # the faster pure-Python way
        if kind == "ascii":
            note("ascii: every function >= 3x the faster Python way", python / ours)
        elif kind == "adversarial":
            note("adversarial: every function >= 5x the faster Python way", python / ours)
        elif unit in ("utf16", "byte"):
            note(f"mixed, {which}: utf16 and byte forms >= 2x the faster Python way", python / ours)
        elif which == "frequent":
            note("mixed, frequent: code-point forms >= 1x the str.find loop", loop / ours)
        if kind == "ascii" and which == "rare" and label == "64 MB":
            note("ascii rare, 64 MB: within 4x of memchr (shown as 4 x memchr time / ours >= 1)",
                 4 * memchr * utf8_size / reference / ours)
    print("\n== aims (worst ratio over the run; >= 1 after scaling means met) ==")
    for aim, ratio in worst.items():
        target = 1.0
        for factor in (" >= 3x", " >= 5x", " >= 2x", " >= 1x"):
            if factor in aim:
                target = float(factor[4:-1])
        print(f"{'met    ' if ratio >= target else 'NOT met'}  {ratio:6.2f}  {aim}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="1 MB texts only, three repeats")
    options = parser.parse_args()
    rng = random.Random(2024)
    aims = []
    bench_small_calls(5 if options.quick else 9, aims)
    bench_dense(16 * MB, 3 if options.quick else 5, rng, aims)
    bench_size(MB, 3 if options.quick else 7, rng, aims)
    if not options.quick:
        bench_size(64 * MB, 3, rng, aims)
    judge(aims)
    print("\n== 16 MiB aims, interleaved (peer / ours) ==" + ("" if stringzilla else "  (stringzilla missing: its rows skipped)"))
    for row in aim_rows(options.quick, rng):
        print(f"{row['peer_s'] / row['ours_s']:7.2f}  {row['operation']:<44} vs {row['peer']:<30} {row['note']}")


if __name__ == "__main__":
    main()
