"""Every benchmark of bench/ against its peers: one table of medians and ratios, and one chart.

    pip install '.[bench]'
    python bench/report.py            # full sizes, several minutes
    python bench/report.py --quick    # smaller sizes and fewer repeats, under a minute

Each bench/bench_*.py module offers `run(quick)`, which returns rows {group, operation, size, ours_s, peer,
peer_s, note} (times in seconds per call, medians of repeats; peer_s is None where a slow peer was skipped).
This script runs them all in one process, prints every row, and writes to bench/results/:

- report.md: the machine, the interpreter and a markdown table of the charted operations at their largest size;
- rows.json: every row;
- chart.png: time per call against input size, log-log, for the main operations next to their peers.

With --publish it also copies the chart to docs/bench-chart.png (reduced to a small palette) and puts the
markdown table into README.md between the bench-report markers.

"peer / ours" is the peer's time divided by ours: above 1 velnor_lib is faster. Figures from a machine whose CPU
is shared with other work are noisy; compare ratios within one run.
"""

import argparse
import datetime
import importlib
import json
import math
import os
import pathlib
import platform
import sys
import time

BENCH = pathlib.Path(__file__).resolve().parent
RESULTS = BENCH / "results"
ROOT = BENCH.parent
MARKERS = ("<!-- bench-report: start -->", "<!-- bench-report: end -->")

# The chart: one row of panels per group, one panel per operation. (group, operation as the module names it,
# panel title); x-axis label per group.
PANELS = {
    "Span": [("a | b", "a | b"), ("a & b", "a & b"), ("a - b", "a - b"), ("a.issubset(a | b)", "subset"),
             ("x in a", "x in a")],
    "Interval": [("|", "a | b"), ("&", "a & b"), ("-", "a - b"), ("subset", "subset"), ("in", "x in a")],
    "text": [("match_indices, ascii rare", "match_indices, ASCII"),
             ("match_indices, mixed frequent", "match_indices, mixed"),
             ("match_utf16_indices, mixed frequent", "match_utf16_indices, mixed"),
             ("match_byte_indices, mixed frequent", "match_byte_indices, mixed"),
             ("rmatch_indices, mixed frequent", "rmatch_indices, mixed")],
    "chunks": [("k = 1", "iter_chunk, k = 1"), ("k = 16", "iter_chunk, k = 16"),
               ("k = 1024", "iter_chunk, k = 1024")],
}
# Rows whose ratio is an aim, printed apart after the table: (group, operation, peer, least ratio).
AIMS = [
    *[("chunks", f"k = {k}, {source}", peer, least) for k in (1, 16, 1024) for source, least in
      (("list", 1.0), ("range", 1.0), ("generator", 0.9)) for peer in ("itertools.batched",)],
    *[("chunks", f"k = {k}, {source}", "cytoolz.partition_all", 1.0) for k in (1, 16, 1024)
      for source in ("list", "range", "generator")],
    ("Span", "x in a", "set", 1.0),
]
X_LABELS = {
    "Span": "segments per operand",
    "Interval": "segments per operand",
    "text": "text size (UTF-8 bytes)",
    "chunks": "items in the source",
}
Y_LABELS = {"chunks": "time to chunk the whole source"}
GROUP_TITLES = {"Span": "Span", "Interval": "Interval", "text": "text search", "chunks": "chunked iteration"}


ORDER = ["bench_span", "bench_interval", "bench_text", "bench_chunks"]  # as the module registers its names


def bench_modules():
    """The bench_*.py modules of this folder that offer run(quick): the known ones first, then any other."""
    sys.path.insert(0, str(BENCH))
    found = []
    paths = BENCH.glob("bench_*.py")
    for path in sorted(paths, key=lambda path: (ORDER.index(path.stem) if path.stem in ORDER else len(ORDER),
                                                path.stem)):
        module = importlib.import_module(path.stem)
        if callable(getattr(module, "run", None)):
            found.append(module)
    return found


def human(seconds):
    if seconds is None:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def ratio(row):
    if row["peer_s"] is None:
        return "-"
    value = row["peer_s"] / row["ours_s"]
    return f"{value:,.0f}x" if value >= 100 else f"{value:.3g}x"


def size_text(row):
    if row["group"] == "text":
        return f"{row['size'] / 2**20:g} MiB" if row["size"] >= 2**20 else f"{row['size'] / 2**10:g} KiB"
    return f"{row['size']:,}"


def cells(row, titles=None):
    operation = titles.get((row["group"], row["operation"]), row["operation"]) if titles else row["operation"]
    return [row["group"], operation, size_text(row), human(row["ours_s"]), row["peer"],
            human(row["peer_s"]), ratio(row), row["note"]]


HEADER = ["group", "operation", "n", "velnor_lib", "peer", "peer time", "peer / ours", "note"]


def print_aims(rows):
    """Each aim's ratio at the largest size measured; a missing peer (cytoolz, batched before 3.12) is
    reported as such."""
    print("\naims (peer / ours, at the largest size measured):")
    for group, operation, peer, least in AIMS:
        found = [row for row in rows if row["group"] == group and row["operation"] == operation
                 and row["peer"] == peer and row["peer_s"] is not None]
        if not found:
            print(f"  {group:6} {operation:22} {peer:22} peer not installed or not measured")
            continue
        row = max(found, key=lambda row: row["size"])
        value = row["peer_s"] / row["ours_s"]
        print(f"  {group:6} {operation:22} {peer:22} {value:6.2f}  aim >= {least:g}  {'ok' if value >= least else 'MISS'}")


def print_bounds(rows):
    """Where the C lower bound for lists was measured: how close ours comes to it, and how the tuple-building
    peers compare with it. A peer faster than the bound cannot be met by any chunker that gives lists."""
    bounds = [row for row in rows if row["peer"] == "C loop, full API (bound)" and row["peer_s"] is not None]
    if not bounds:
        return
    print("\nlower bound for lists (bench/chunk_bound.c): bound / ours, and peer / bound:")
    for bound in bounds:
        peers = [row for row in rows if row["operation"] == bound["operation"] and row["size"] == bound["size"]
                 and row["peer"] in ("itertools.batched", "cytoolz.partition_all") and row["peer_s"] is not None]
        versus = "  ".join(f"{row['peer']} {row['peer_s'] / bound['peer_s']:.2f}" for row in peers)
        print(f"  {bound['operation']:22} {bound['peer_s'] / bound['ours_s']:6.2f}  {versus}")


def print_table(rows):
    lines = [HEADER, *(cells(row) for row in rows)]
    widths = [max(len(line[i]) for line in lines) for i in range(len(HEADER))]
    for k, line in enumerate(lines):
        print("  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip())
        if k == 0:
            print("  ".join("-" * width for width in widths))


def largest_sizes(rows):
    """For each operation of the chart and each peer, the row of the largest size at which the peer was
    measured."""
    charted = {(group, operation) for group, panels in PANELS.items() for operation, _ in panels}
    chosen = {}
    for row in rows:
        if row["peer_s"] is None or (row["group"], row["operation"]) not in charted:
            continue
        key = (row["group"], row["operation"], row["peer"])
        if key not in chosen or row["size"] > chosen[key]["size"]:
            chosen[key] = row
    return list(chosen.values())


def machine():
    model = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as info:
            model = next(line.split(":", 1)[1].strip() for line in info if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    system = platform.system()
    try:
        system = platform.freedesktop_os_release()["PRETTY_NAME"]
    except (OSError, AttributeError, KeyError):
        pass
    return f"{model}, {os.cpu_count()} cores, {system}"


def interpreter():
    import velnor_lib

    return f"{platform.python_implementation()} {platform.python_version()}, velnor_lib {velnor_lib.__version__}"


def markdown(rows, quick, seconds):
    lines = [
        f"Machine: {machine()}. Interpreter: {interpreter()}. "
        f"Run: `python bench/report.py{' --quick' if quick else ''}` on {datetime.date.today().isoformat()}, "
        f"{seconds / 60:.1f} minutes. Each row: an operation of the chart at the largest size measured for that "
        "peer; bench/results/rows.json has every size and operation.",
        "",
        "| " + " | ".join(HEADER[:-1]) + " |",
        "|" + "|".join(["---"] * 3 + ["--:", "---", "--:", "--:"]) + "|",
    ]
    titles = {(group, operation): title for group, panels in PANELS.items() for operation, title in panels}
    lines += ["| " + " | ".join(cell.replace("|", "\\|") for cell in cells(row, titles)[:-1]) + " |"
              for row in largest_sizes(rows)]
    return "\n".join(lines) + "\n"


def count_text(value):
    for suffix, scale in (("M", 10**6), ("k", 10**3)):
        if value >= scale:
            return f"{value / scale:g}{suffix}"
    return f"{value:g}"


def bytes_text(value):
    for suffix, scale in (("MiB", 2**20), ("KiB", 2**10)):
        if value >= scale:
            return f"{value / scale:g} {suffix}"
    return f"{value:g} B"


def chart(rows, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FixedLocator, FuncFormatter, LogLocator, NullFormatter

    groups = [group for group in PANELS if any(row["group"] == group for row in rows)]
    columns = max(len(PANELS[group]) for group in groups)
    figure, axes = plt.subplots(len(groups), columns, figsize=(3.3 * columns, 2.9 * len(groups)), squeeze=False)
    colours = {}
    palette = ["#d95f02", "#1b9e77", "#7570b3", "#e7298a", "#66a61e", "#e6ab02", "#a6761d"]
    handles = {}
    for line, group in enumerate(groups):
        for column in range(columns):
            ax = axes[line][column]
            if column >= len(PANELS[group]):
                ax.set_visible(False)
                continue
            operation, title = PANELS[group][column]
            chosen = [row for row in rows if row["group"] == group and row["operation"] == operation]
            ax.set_title(f"{GROUP_TITLES[group]}: {title}", fontsize=9)
            ax.set_xscale("log")
            ax.set_yscale("log")
            ax.grid(True, which="major", linewidth=0.4, alpha=0.5)
            ax.tick_params(labelsize=7)
            ax.set_xlabel(X_LABELS[group], fontsize=8)
            if column == 0:
                ax.set_ylabel(Y_LABELS.get(group, "time per call"), fontsize=8)
            ax.yaxis.set_major_locator(LogLocator(base=10))
            ax.yaxis.set_major_formatter(FuncFormatter(lambda value, _: human(value)))
            ax.yaxis.set_minor_formatter(NullFormatter())
            if not chosen:
                continue
            sizes = sorted({row["size"] for row in chosen})
            ax.xaxis.set_major_locator(FixedLocator(sizes))
            ax.xaxis.set_major_formatter(FuncFormatter(
                lambda value, _, text=bytes_text if group == "text" else count_text: text(value)))
            ax.xaxis.set_minor_formatter(NullFormatter())
            ours = sorted({(row["size"], row["ours_s"]) for row in chosen})
            (handles["velnor_lib"],) = ax.plot(*zip(*ours), color="black", linewidth=2, marker="o", markersize=3)
            for peer in dict.fromkeys(row["peer"] for row in chosen):
                points = sorted((row["size"], row["peer_s"]) for row in chosen
                                if row["peer"] == peer and row["peer_s"] is not None)
                if not points:
                    continue
                colour = colours.setdefault(peer, palette[len(colours) % len(palette)])
                (handles[peer],) = ax.plot(*zip(*points), color=colour, linestyle="--", marker="s", markersize=3)
            low, high = ax.get_ylim()
            if math.floor(math.log10(high)) - math.ceil(math.log10(low)) < 1:  # fewer than two powers of ten shown
                ax.yaxis.set_major_locator(LogLocator(base=10, subs=(1.0, 2.0, 5.0)))
    figure.legend(handles.values(), handles.keys(), loc="lower center", ncol=min(len(handles), 8), fontsize=9,
                  frameon=False)
    figure.suptitle("velnor_lib against its peers: median time per call (lower is faster)", fontsize=11)
    figure.tight_layout(rect=(0, 0.04, 1, 0.97))
    figure.savefig(path, dpi=80)
    plt.close(figure)


def publish(table):
    """Copies the chart into docs/ as a palette PNG and replaces the README's table between the markers."""
    from PIL import Image

    with Image.open(RESULTS / "chart.png") as image:
        image.convert("RGB").quantize(colors=256).save(ROOT / "docs" / "bench-chart.png", optimize=True)
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    start, end = readme.index(MARKERS[0]), readme.index(MARKERS[1])
    body = f"{MARKERS[0]}\n{table}\n![Time per call against size, log-log](docs/bench-chart.png)\n"
    (ROOT / "README.md").write_text(readme[:start] + body + readme[end:], encoding="utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smaller sizes and fewer repeats")
    parser.add_argument("--only", nargs="+", metavar="MODULE", help="run only these modules, e.g. bench_span")
    parser.add_argument("--publish", action="store_true", help="also update docs/bench-chart.png and README.md")
    options = parser.parse_args()
    started = time.perf_counter()
    rows = []
    for module in bench_modules():
        if options.only and module.__name__ not in options.only:
            continue
        print(f"running {module.__name__}{' --quick' if options.quick else ''} ...", file=sys.stderr, flush=True)
        rows += module.run(options.quick)
    seconds = time.perf_counter() - started
    print(f"{machine()}; {interpreter()}\n")
    print_table(rows)
    print_aims(rows)
    print_bounds(rows)
    RESULTS.mkdir(exist_ok=True)
    (RESULTS / "rows.json").write_text(json.dumps(rows, indent=1) + "\n", encoding="utf-8")
    table = markdown(rows, options.quick, seconds)
    (RESULTS / "report.md").write_text(table, encoding="utf-8")
    chart(rows, RESULTS / "chart.png")
    if options.publish:
        publish(table)
    print(f"\nwrote {RESULTS / 'report.md'}, rows.json and chart.png in {seconds:.0f} s of benchmarks")
    return 0


if __name__ == "__main__":
    sys.exit(main())
