"""Prints the README's performance tables from the benchmark results, in Markdown.

    python bench/readme_table.py build/bench-results/compare-cpython-311.json \\
        [build/bench-results/compare-cpython-314t.json] [build/bench-results/scale.json]

The first compare.py JSON gives the reading, lookup, conversion and memory
tables; a free-threaded one, if given, adds its thread figures; scale_bench's
JSON (--benchmark_out) adds the C++ curve. Refreshing the README is then a
matter of pasting the output over the old tables.
"""

from __future__ import annotations

import argparse
import json
from pathlib import Path
from typing import Any

from compare import format_ns  # the same units as the comparison's own table


def count_label(count: int) -> str:
    if count >= 1_000_000 and count % 1_000_000 == 0:
        return f"{count // 1_000_000}M"
    return f"{count // 1000}k" if count % 1000 == 0 else str(count)


def reading(results: dict[str, Any]) -> list[str]:
    sizes = list(results["parse"])
    names: list[str] = []
    for figures in results["parse"].values():
        names += [name for name in figures["ns"] if name not in names]
    lines = ["| reader | " + " | ".join(f"{count_label(int(size))} pairs" for size in sizes) + " |",
             "|---|" + "---:|" * len(sizes)]
    for name in names:
        cells = []
        for size in sizes:
            figures = results["parse"][size]
            cells.append(f"{format_ns(figures['ns'][name])} ({figures['relative_to_vyrl'][name]:.2f}×)"
                         if name in figures["ns"] else "–")
        lines.append(f"| `{name}` | " + " | ".join(cells) + " |")
    lines.append("| VYRL.parse MB/s | " + " | ".join(
        f"{results['parse'][size]['vyrl_mb_per_s']:.0f}" for size in sizes) + " |")
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
    lines.append(f"| {small['lines']}-line configuration, `VYRL.parse` vs `json.loads` "
                 f"| {us['VYRL.parse']:.1f} µs | {us['json.loads']:.1f} µs | {small['ratio']:.2f} |")
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
        family, _, keys = benchmark["name"].partition("/")
        rows.setdefault(int(keys), {})[family.removeprefix("BM_Scale").lower()] = benchmark
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
        blocks += [reading(compares[0]), others(compares[0])]
        blocks += [threads(results) for results in compares if results.get("threads")]
    blocks += [scale(results) for results in scales]
    print("\n\n".join("\n".join(block) for block in blocks))


if __name__ == "__main__":
    main()
