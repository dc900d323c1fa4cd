"""Prints the performance tables of docs/performance.md from the benchmark results, in Markdown.

    python bench/readme_table.py build/bench-results/compare-cpython-311.json \\
        [build/bench-results/compare-cpython-314t.json] [build/bench-results/scale.json]

The first compare.py JSON gives the typed reading against the typed decoders
(and the 30-line configuration with its schema), the reading (with the 30-line
configuration as its first column, when the run has it), lookup, conversion
and memory tables; a free-threaded one, if given, adds its thread figures;
scale_bench's JSON (--benchmark_out) adds the C++ curve, from medians when it
was run with repetitions. Refreshing docs/performance.md is then a
matter of pasting the output over the old tables.
"""

from __future__ import annotations

import argparse
import json
from pathlib import Path
from typing import Any

from compare import format_ns, reading_columns  # the same units and columns as the comparison's own table


def count_label(count: int) -> str:
    if count >= 1_000_000 and count % 1_000_000 == 0:
        return f"{count // 1_000_000}M"
    return f"{count // 1000}k" if count % 1000 == 0 else str(count)


def reading(results: dict[str, Any]) -> list[str]:
    columns = reading_columns(results)
    names: list[str] = []
    for _, figures in columns:
        names += [name for name in figures["ns"] if name not in names]
    lines = ["| reader | " + " | ".join(label for label, _ in columns) + " |",
             "|---|" + "---:|" * len(columns)]
    for name in names:
        cells = []
        for _, figures in columns:
            cells.append(f"{format_ns(figures['ns'][name])} ({figures['relative_to_vyrl'][name]:.2f}×)"
                         if name in figures["ns"] else "–")
        lines.append(f"| `{name}` | " + " | ".join(cells) + " |")
    lines.append("| VYRL.parse MB/s | " + " | ".join(f"{figures['vyrl_mb_per_s']:.0f}" for _, figures in columns) + " |")
    return lines


def typed(results: dict[str, Any]) -> list[str]:
    """VYRL.parse of the typed text against the typed decoders of the same
    values, with each peer's time over VYRL's in brackets; then the 30-line
    configuration with its schema, when the run has it."""
    figures = results["typed"]
    lines = ["| reader, typed | " + " | ".join(f"{count_label(int(size))} pairs" for size in figures) + " |",
             "|---|" + "---:|" * len(figures)]
    lines.append("| `VYRL.parse` | " + " | ".join(format_ns(size["ns"]) for size in figures.values()) + " |")
    peers: list[str] = []
    for size in figures.values():
        peers += [name for name in size.get("peers_ns", {}) if name not in peers]
    for name in peers:
        cells = [f"{format_ns(size['peers_ns'][name])} ({size['peer_over_vyrl'][name]:.2f}×)"
                 if name in size.get("peers_ns", {}) else "–" for size in figures.values()]
        lines.append(f"| {name} | " + " | ".join(cells) + " |")
    lines.append("| VYRL.parse MB/s | " + " | ".join(f"{size['mb_per_s']:.0f}" for size in figures.values()) + " |")
    small = results.get("small_typed_config")
    if small:
        lines += ["", f"| {small['lines']} lines with a schema | time | reader ÷ `VYRL.parse` |", "|---|---:|---:|"]
        for name, ns in small["ns"].items():
            lines.append(f"| `{name}` | {format_ns(ns)} | {small['relative_to_vyrl'][name]:.2f}× |")
    return lines


def others(results: dict[str, Any]) -> list[str]:
    lines = ["| measurement | VYRL | peer | VYRL / peer |", "|---|---:|---:|---:|"]
    for which in ("small", "large"):
        figures = results["lookup"][which]
        per = figures["ns_per_lookup"]
        where = "in cache" if which == "small" else "random order"
        lines.append(f"| `doc[key]` vs `dict[key]`, {count_label(figures['keys'])} keys ({where}) "
                     f"| {per['doc[key]']:.0f} ns | {per['dict[key]']:.0f} ns | {figures['ratio']:.2f} |")
    for size, figures in results["to_dict"].items():
        other = figures["against"]
        lines.append(f"| `doc.to_dict()` vs `{other}`, {count_label(int(size))} pairs "
                     f"| {format_ns(figures['ns']['doc.to_dict'])} | {format_ns(figures['ns'][other])} "
                     f"| {figures['ratio']:.2f} |")
    small = results["small_config"]
    us = small["us_per_call"]
    for name in us:
        if name != "VYRL.parse" and name.split(".")[0] in ("json", "orjson", "msgspec"):
            lines.append(f"| {small['lines']}-line configuration, `VYRL.parse` vs `{name}` "
                         f"| {us['VYRL.parse']:.1f} µs | {us[name]:.1f} µs | {us['VYRL.parse'] / us[name]:.2f} |")
    memory = results["memory"]
    vyrl = memory["readers"]["VYRL.parse"]
    for name, figures in memory["readers"].items():
        if name == "VYRL.parse":
            continue
        for what, key in (("kept", "kept_per_text_byte"), ("peak while parsing", "peak_per_text_byte")):
            if vyrl[key] is None or figures[key] is None:
                continue
            lines.append(f"| memory {what}, {count_label(memory['entries'])} pairs, × text size, vs `{name}` "
                         f"| {vyrl[key]:.2f} | {figures[key]:.2f} | {vyrl[key] / figures[key]:.2f} |")
    return lines


def threads(results: dict[str, Any]) -> list[str]:
    figures = results["threads"]
    lines = [f"| reader ({count_label(figures['entries'])} pairs, {figures['parses_per_thread']} parses per thread) "
             "| 2 threads / 1 thread, throughput | CPUs busy, 1 thread | CPUs busy, 2 threads |",
             "|---|---:|---:|---:|"]
    for name, reader in figures["readers"].items():
        lines.append(f"| `{name}` | {reader['throughput_ratio']:.2f}× | {reader['one_thread_cpu_per_wall']:.2f} "
                     f"| {reader['two_threads_cpu_per_wall']:.2f} |")
    return lines


def scale(results: dict[str, Any]) -> list[str]:
    rows: dict[int, dict[str, Any]] = {}
    for benchmark in results["benchmarks"]:
        # With repetitions, the median stands for its name; a plain run has one entry per name.
        if benchmark.get("run_type") == "aggregate" and benchmark.get("aggregate_name") != "median":
            continue
        family, _, keys = benchmark["run_name"].partition("/") if "run_name" in benchmark else benchmark["name"].partition("/")
        row = rows.setdefault(int(keys), {})
        family = family.removeprefix("BM_Scale").lower()
        if family not in row or benchmark.get("aggregate_name") == "median":
            row[family] = benchmark
    lines = ["| keys | untyped MB/s | untyped keys/s | typed MB/s | typed keys/s |", "|---:|---:|---:|---:|---:|"]
    for keys, row in sorted(rows.items()):
        cells = []
        for family in ("untyped", "typed"):
            benchmark = row.get(family)
            cells += ["–", "–"] if benchmark is None else [
                f"{benchmark['bytes_per_second'] / 1e6:.0f}", f"{benchmark['items_per_second'] / 1e6:.2f} M"]
        lines.append(f"| {count_label(keys)} | " + " | ".join(cells) + " |")
    return lines


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", type=Path, nargs="+", help="JSON from compare.py and from scale_bench")
    options = parser.parse_args()
    compares, scales = [], []
    for path in options.results:
        results = json.loads(path.read_text(encoding="utf-8"))
        (scales if "benchmarks" in results else compares).append(results)
    blocks = []
    if compares:
        # Typed reading first: VYRL is a typed language, and its fair peers are the typed decoders.
        if compares[0].get("typed"):
            blocks.append(typed(compares[0]))
        blocks += [reading(compares[0])]
        blocks.append(others(compares[0]))
        blocks += [threads(results) for results in compares if results.get("threads")]
    blocks += [scale(results) for results in scales]
    print("\n\n".join("\n".join(block) for block in blocks))


if __name__ == "__main__":
    main()
