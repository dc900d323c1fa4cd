"""Draws the reading times of bench/compare.py's JSON as a bar chart.

    python bench/plot.py RESULTS.json [MORE.json ...] -o chart.png

Each bar is one reader's time over VYRL.parse's at one size, on a log scale, so
that 1 is VYRL.parse and a bar above the line is a slower reader. The first
group is the 30-line configuration, when the run measured every reader on it. Several
JSON files (say, one run before a change and one after, or one per
interpreter) are drawn side by side with a shared scale.
"""

from __future__ import annotations

import argparse
import json
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # no display on a build machine

import matplotlib.pyplot as plt  # noqa: E402  (the backend must be chosen first)
from matplotlib.lines import Line2D  # noqa: E402
from matplotlib.patches import Patch  # noqa: E402
from matplotlib.ticker import FuncFormatter, LogLocator, NullFormatter  # noqa: E402


def size_label(count: int) -> str:
    if count >= 1_000_000 and count % 1_000_000 == 0:
        return f"{count // 1_000_000}M pairs"
    if count >= 1000 and count % 1000 == 0:
        return f"{count // 1000}k pairs"
    return f"{count} pairs"


def title_of(results: dict) -> str:
    meta = results["meta"]
    build = "free-threaded" if meta["free_threaded"] else "with GIL"
    parts = [f"Python {meta['versions']['python']} ({build})"]
    if meta.get("label"):
        parts.insert(0, meta["label"])
    detail = [meta["date"][:10], f"{meta['cpus']} CPUs"]
    if meta.get("commit"):
        detail.append(meta["commit"])
    return ", ".join(parts) + "\n" + ", ".join(detail)


def groups_of(results: dict) -> list[tuple[str, dict]]:
    """(label, figures) per group of bars: the 30-line configuration first when
    the run has its peers (runs before it gained them have only json.loads),
    then each size."""
    groups = []
    small = results.get("small_config") or {}
    if "relative_to_vyrl" in small:
        groups.append((f"{small['lines']} lines", small))
    return groups + [(size_label(int(size)), figures) for size, figures in results["parse"].items()]


def draw(panel, results: dict, colours: dict[str, str]) -> None:
    groups = groups_of(results)
    # Only the readers this run has, so that a reader missing on one
    # interpreter leaves no gap; its colour is the same in every panel.
    present = [reader for reader in colours if any(reader in figures["relative_to_vyrl"] for _, figures in groups)]
    width = 0.8 / max(1, len(present))
    for index, reader in enumerate(present):
        xs, heights = [], []
        for position, (_, figures) in enumerate(groups):
            relative = figures["relative_to_vyrl"].get(reader)
            if relative is not None:
                xs.append(position - 0.4 + width * (index + 0.5))
                heights.append(relative)
        bars = panel.bar(xs, heights, width, color=colours[reader])
        panel.bar_label(bars, labels=[f"{h:.1f}" if h < 10 else f"{h:.0f}" for h in heights], fontsize=7, padding=1)
    panel.axhline(1.0, color="C0", linewidth=1.5)
    panel.set_yscale("log")
    # Plain numbers at 1, 2, 5, 10, ...: "2x slower" reads better than 10^0.3.
    panel.yaxis.set_major_locator(LogLocator(base=10, subs=(1, 2, 5)))
    panel.yaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}"))
    panel.yaxis.set_minor_formatter(NullFormatter())
    panel.set_xticks(range(len(groups)), [label for label, _ in groups])
    panel.set_title(title_of(results), fontsize=9)
    panel.grid(axis="y", which="major", alpha=0.3)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", type=Path, nargs="+", help="JSON written by bench/compare.py --json")
    parser.add_argument("-o", "--output", type=Path, required=True, help="PNG to write")
    options = parser.parse_args()

    runs = [json.loads(path.read_text(encoding="utf-8")) for path in options.results]
    readers: list[str] = []
    for results in runs:
        for _, figures in groups_of(results):
            readers += [name for name in figures["relative_to_vyrl"] if name != "VYRL.parse" and name not in readers]
    colours = {reader: f"C{index + 1}" for index, reader in enumerate(readers)}

    # Room for six readers' bars and their labels in each group.
    width = max(6.5, 1.7 * max(len(groups_of(results)) for results in runs) + 1)
    figure, panels = plt.subplots(1, len(runs), figsize=(width * len(runs), 4.6), sharey=True, squeeze=False)
    for panel, results in zip(panels[0], runs):
        draw(panel, results, colours)
    panels[0][0].set_ylabel("time relative to VYRL.parse (log scale)")
    handles = [Line2D([], [], color="C0", linewidth=1.5)] + [Patch(color=colour) for colour in colours.values()]
    labels = ["VYRL.parse"] + readers
    columns = min(len(labels), 4 * len(runs))
    figure.legend(handles, labels, loc="lower center", ncol=columns, fontsize=8, frameon=False)
    rows = -(-len(labels) // columns)
    figure.tight_layout(rect=(0, 0.045 * rows + 0.01, 1, 1))
    options.output.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(options.output, dpi=100)
    print(options.output)


if __name__ == "__main__":
    main()
