"""Times vyr_rs against the standard library's readers of the same data.

    PYTHONPATH=build/src/python python3 bench/python_bench.py [--entries N] [--repeat R]

One generated set of key/value pairs is written four ways: as VYRL assignments,
as one JSON object, as TOML and as an INI section. The script then times
loading each text, a lookup by key against a dict lookup, and to_dict()
against json.loads, and prints one table with ratios (vyr_rs time divided by
the other's: below 1 means vyr_rs is faster). Every figure is the best of
--repeat runs. Lookups are timed twice: in the full document (memory-bound,
like the dict beside it) and in one of 1000 entries that stays in cache. The goals are a parse at least as fast as json.loads and a
lookup within 3x of a dict.
"""

from __future__ import annotations

import argparse
import configparser
import gc
import importlib.machinery
import json
import random
import sys
import sysconfig
import time
import tomllib
from pathlib import Path

try:
    import vyr_rs
except ImportError:  # run from the checkout after scripts/test-python.sh: any build this interpreter can load
    module = "vyr_rs" + importlib.machinery.EXTENSION_SUFFIXES[0]
    build = Path(__file__).resolve().parents[1] / "build"
    sys.path[:0] = [str(path.parent) for path in [*build.glob(f"src/python/{module}"), *build.glob(f"py-*/src/python/{module}")]]
    import vyr_rs

VYRL = vyr_rs.VYRL


def make_pairs(count: int) -> dict[str, str]:
    """Keys like a real configuration's; values alternate numbers, words and lists."""
    pairs = {}
    for i in range(count):
        kind = i % 4
        if kind == 0:
            value = str(i * 7)
        elif kind == 1:
            value = f"host-{i}.example"
        elif kind == 2:
            value = f"[{i}, {i + 1}, {i + 2}]"
        else:
            value = f"{i / 8}"
        pairs[f"section_{i % 97}.setting_{i}"] = value
    return pairs


def toml_string(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def timed(job) -> float:
    """Seconds one run of `job` takes, with the collector out of the way."""
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter()
        job()
        return time.perf_counter() - start
    finally:
        gc.enable()


def best_times(repeat: int, jobs: dict[str, object]) -> dict[str, float]:
    """The fastest of `repeat` runs of each job. Rounds visit every job in turn,
    so a burst of load elsewhere on the machine hits both sides of a ratio."""
    best = dict.fromkeys(jobs, float("inf"))
    for _ in range(repeat):
        for name, job in jobs.items():
            best[name] = min(best[name], timed(job))
    return best


def lookups(mapping, keys) -> None:
    for key in keys:
        mapping[key]


def ini_load(text: str) -> None:
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str  # keep keys as written, as the others do
    parser.read_string(text)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--entries", type=int, default=1_000_000, help="pairs to generate (default 1000000)")
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure; the best counts (default 3)")
    parser.add_argument("--lookups", type=int, default=200_000, help="keys looked up per run (default 200000)")
    options = parser.parse_args()

    pairs = make_pairs(options.entries)
    vyrl_text = "".join(f"{key} = {value}\n" for key, value in pairs.items())
    json_text = json.dumps(pairs)
    toml_text = "".join(f"{toml_string(key)} = {toml_string(value)}\n" for key, value in pairs.items())
    ini_text = "[settings]\n" + vyrl_text

    doc = VYRL.parse(vyrl_text)
    as_dict = json.loads(json_text)
    assert doc.to_dict() == as_dict == pairs, "the formats must hold the same pairs"
    sample = random.Random(1).sample(list(pairs), min(options.lookups, len(pairs)))
    # The same lookups in a small document, whose table stays in cache: this
    # shows the cost of the call itself rather than of memory.
    small_pairs = dict(list(pairs.items())[:1000])
    small_doc = VYRL.parse("".join(f"{key} = {value}\n" for key, value in small_pairs.items()))
    small_sample = [key for key in sample if key in small_pairs] or list(small_pairs)
    small_sample = (small_sample * (len(sample) // len(small_sample) + 1))[: len(sample)]

    t = best_times(options.repeat, {
        "parse": lambda: VYRL.parse(vyrl_text),
        "json": lambda: json.loads(json_text),
        "toml": lambda: tomllib.loads(toml_text),
        "ini": lambda: ini_load(ini_text),
        "doc[key]": lambda: lookups(doc, sample),
        "dict[key]": lambda: lookups(as_dict, sample),
        "small doc[key]": lambda: lookups(small_doc, small_sample),
        "small dict[key]": lambda: lookups(small_pairs, small_sample),
        "to_dict": doc.to_dict,
    })
    per_lookup = len(sample)
    rows = [
        ("VYRL.parse", t["parse"], "json.loads", t["json"], 1.0),
        ("VYRL.parse", t["parse"], "tomllib.loads", t["toml"], None),
        ("VYRL.parse", t["parse"], "configparser", t["ini"], None),
        ("doc[key]", t["doc[key]"] / per_lookup, "dict[key]", t["dict[key]"] / per_lookup, 3.0),
        ("doc[key] 1k", t["small doc[key]"] / per_lookup, "dict[key] 1k", t["small dict[key]"] / per_lookup, 3.0),
        ("doc.to_dict()", t["to_dict"], "json.loads", t["json"], None),
    ]
    repeat = options.repeat

    build = "free-threaded" if sysconfig.get_config_var("Py_GIL_DISABLED") else "with GIL"
    print(f"Python {sys.version.split()[0]} ({build}), {options.entries} entries, best of {repeat}")
    print(f"{'operation':<14} {'time':>11}   {'against':<14} {'time':>11}   {'ratio':>6}  goal")
    for name, ours, other_name, other, goal in rows:
        ratio = ours / other
        verdict = "" if goal is None else (f"<= {goal:g}  " + ("met" if ratio <= goal else "MISSED"))
        print(f"{name:<14} {format_time(ours):>11}   {other_name:<14} {format_time(other):>11}   {ratio:6.2f}  {verdict}")


def format_time(seconds: float) -> str:
    if seconds >= 0.1:
        return f"{seconds:.3f} s"
    if seconds >= 1e-4:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds * 1e9:.1f} ns"


if __name__ == "__main__":
    main()
