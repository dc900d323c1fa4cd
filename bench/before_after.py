"""Measures two builds of vyr_rs and of scale_bench side by side, in one run.

    python bench/before_after.py --before-module DIR --after-module DIR \\
        [--before-scale BIN --after-scale BIN] [--before-name NAME] [--after-name NAME] \\
        [--quick] [--rounds N] [--json FILE]

scripts/bench-before-after.sh builds both sides and runs this; run by hand, each
DIR is a directory holding a built vyr_rs (build/src/python), and this runs on
an interpreter that has orjson and msgspec (scripts/bench-env.sh makes one).

Two runs of bench/compare.py a few minutes apart differ by more than many
changes are worth on a shared machine, so the two sides are measured here in
alternation instead: one worker process per module, each running compare.py's
measurements, and round after round each measurement is taken once on one side
and then once on the other, the side that goes first changing every time. A
burst of load elsewhere then hits both. A time is its best round, as in
compare.py. The peers (orjson.loads, msgspec, dict lookups) are the same code
on both sides, so each ratio sets a side's VYRL figure against the peer's best
round on either side, and a ratio changes only when VYRL's figure does. Times are the worker's CPU time unless --wall-clock says
otherwise: time spent waiting for a CPU that other work holds is neither
side's. The C++ side runs the two scale_bench executables alternately, one
benchmark at a time, with --benchmark_repetitions, and compares the medians of
every repetition's bytes_per_second, and the best repetitions (scale_metrics
says why both).

Every figure is printed in one table, metric, before, after and after/before,
and written as JSON with --json.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, IO

SIDES = ("before", "after")
SMALL_LOOKUP_KEYS = 1_000
SCHEMA_HEAVY_COUNT = 160_000  # as compare.py's, which a worker imports but the parent does not
# Not worth calling better or worse: what two runs of one build differ by here.
NOISE = 0.05


# --- The worker: one per module, answering one request per line. ---

class Worker:
    """Runs compare.py's measurements on request, one round each, and keeps
    the texts and fixtures that are costly to make between rounds."""

    def __init__(self, quick: bool, wall_clock: bool) -> None:
        import compare  # here, not at the top: it imports vyr_rs, which only a worker's path holds
        self.compare = compare
        if not wall_clock:
            compare.clock = time.process_time_ns
        self.quick = quick
        self.texts: dict[int, dict[str, str]] = {}
        self.checked: set[tuple[str, int]] = set()
        self.lookups: dict[int, tuple[Any, dict[str, str], list[str]]] = {}
        self.typed: dict[int, str] = {}
        self.typed_peers: dict[int, tuple[str, dict[str, Callable[[str], object]]]] = {}

    def hello(self) -> dict[str, Any]:
        compare = self.compare
        return {"module": str(Path(compare.vyr_rs.__file__).resolve()),
                "python": platform.python_version(), "free_threaded": compare.FREE_THREADED,
                "versions": compare.versions(), "peers": list(self.peers())}

    def peers(self) -> dict[str, Callable[[str], object]]:
        """The JSON readers every reading figure is set against."""
        compare = self.compare
        peers: dict[str, Callable[[str], object]] = {}
        if compare.orjson is not None:
            peers["orjson.loads"] = compare.orjson.loads
        if compare.msgspec is not None:
            peers["msgspec.json.decode"] = lambda text: compare.msgspec.json.decode(text, type=dict[str, str])
        return peers

    def texts_for(self, count: int) -> dict[str, str]:
        if count not in self.texts:
            pairs = self.compare.make_pairs(count)
            self.texts[count] = {"vyrl": self.compare.vyrl_text(pairs), "json": self.compare.json_text(pairs)}
        return self.texts[count]

    def check_once(self, what: str, count: int) -> Callable[[str, object], None] | None:
        """A check of the first round's results, as compare.py makes them: a
        reader proved wrong stops the run rather than giving a figure."""
        if (what, count) in self.checked:
            return None
        self.checked.add((what, count))
        pairs = self.compare.make_pairs(count)
        VYRL = self.compare.VYRL

        def check(name: str, result: object) -> None:
            if (result.to_dict() if isinstance(result, VYRL) else result) != pairs:
                raise SystemExit(f"{name} did not read the {count} pairs that were written")
        return check

    def timed(self, count: int, jobs: dict[str, Callable[[], object]], what: str | None) -> dict[str, float]:
        """One round of compare.py's timing of `jobs`, per call, each job run
        as many times in a row as compare.py runs it at this size. Results
        that are the generated pairs are checked in the first round of `what`."""
        compare = self.compare
        calls = compare.calls_for(count, self.quick)
        check = None if what is None else self.check_once(what, count)
        times = compare.best_ns({name: compare.kept_calls(job, calls) for name, job in jobs.items()}, 1,
                                None if check is None else compare.first_result(check))
        return compare.per_call(times, calls)

    def parse(self, count: int) -> dict[str, float]:
        texts = self.texts_for(count)
        jobs = {"VYRL.parse": lambda: self.compare.VYRL.parse(texts["vyrl"])}
        for name, read in self.peers().items():
            jobs[name] = lambda read=read: read(texts["json"])
        return self.timed(count, jobs, "parse")

    def small(self) -> dict[str, float]:
        compare = self.compare
        texts, readers = compare.small_config_readers()
        wanted = ["VYRL.parse", *self.peers()]
        calls = compare.SMALL_CONFIG_CALLS // (10 if self.quick else 1)
        times = compare.best_ns({name: compare.calls_of(readers[name][1], texts[readers[name][0]], calls)
                                 for name in wanted}, 1)
        return {name: ns / calls for name, ns in times.items()}

    def typed_parse(self, count: int) -> dict[str, float]:
        compare = self.compare
        if count not in self.typed:
            compare.check_typed_text_is_checked()
            self.typed[count] = compare.typed_text(count)
            if len(compare.VYRL.parse(self.typed[count])) != count:
                raise SystemExit(f"VYRL.parse did not read the {count} typed pairs that were written")
            json_text = compare.typed_json_text(count)
            peers = compare.typed_peers(count)
            compare.check_typed_peers(count, peers, json_text)
            self.typed_peers[count] = (json_text, peers)
        text = self.typed[count]
        json_text, peers = self.typed_peers[count]
        jobs: dict[str, Callable[[], object]] = {"VYRL.parse": lambda: compare.VYRL.parse(text)}
        jobs.update({name: lambda read=read: read(json_text) for name, read in peers.items()})
        figures = self.timed(count, jobs, None)
        return {**figures, "text_bytes": len(text.encode())}

    def small_typed(self) -> dict[str, float]:
        compare = self.compare
        texts, readers = compare.small_typed_readers()
        wanted = ["VYRL.parse", *self.peers()]
        calls = compare.SMALL_CONFIG_CALLS // (10 if self.quick else 1)
        times = compare.best_ns({name: compare.calls_of(readers[name][1], texts[readers[name][0]], calls)
                                 for name in wanted}, 1)
        return {name: ns / calls for name, ns in times.items()}

    def lookup(self, count: int) -> dict[str, float]:
        compare = self.compare
        if count not in self.lookups:
            texts = self.texts_for(count)
            # The small table is read many times over, so that one timing is not a few microseconds.
            passes = (compare.SMALL_LOOKUP_PASSES // (10 if self.quick else 1)) if count == SMALL_LOOKUP_KEYS else 1
            keys = compare.fresh_keys(count, 1) * passes
            self.lookups[count] = (compare.VYRL.parse(texts["vyrl"]), json.loads(texts["json"]), keys)
        document, mapping, keys = self.lookups[count]
        figures = compare.measure_lookups(document, mapping, keys, 1, 1)
        return figures["ns_per_lookup"]

    def to_dict(self, count: int) -> dict[str, float]:
        compare = self.compare
        texts = self.texts_for(count)
        document = compare.VYRL.parse(texts["vyrl"])
        jobs: dict[str, Callable[[], object]] = {"doc.to_dict": document.to_dict}
        if compare.orjson is not None:
            jobs["orjson.loads"] = lambda: compare.orjson.loads(texts["json"])
        return self.timed(count, jobs, "to_dict")

    def schema_memory(self, count: int) -> dict[str, float]:
        figures = self.compare.measure_schema_memory(count)
        return {"kept": figures["kept_per_text_byte"]}

    def memory(self, count: int) -> dict[str, float]:
        figures = self.compare.measure_memory(count, {"vyrl": self.texts_for(count)["vyrl"]}, ["VYRL.parse"])
        vyrl = figures["VYRL.parse"]
        return {"kept": vyrl["kept_per_text_byte"], "peak": vyrl["peak_per_text_byte"]}


def serve(quick: bool, wall_clock: bool) -> None:
    """The worker's loop. Its answers go to the stdout it was started with,
    and anything else that prints, the module included, to stderr."""
    answers = os.fdopen(os.dup(1), "w")
    os.dup2(2, 1)
    sys.stdout = sys.stderr
    worker = Worker(quick, wall_clock)
    print(json.dumps(worker.hello()), file=answers, flush=True)
    for line in sys.stdin:
        request = json.loads(line)
        answer = getattr(worker, request["task"])(*request.get("args", []))
        print(json.dumps(answer), file=answers, flush=True)


# --- The parent. ---

@dataclass
class Side:
    name: str
    module_dir: Path
    scale: Path | None
    process: subprocess.Popen[str] | None = None
    hello: dict[str, Any] | None = None

    def start(self, options: list[str]) -> None:
        # This module's directory alone, so that no other build on the path is imported instead.
        env = dict(os.environ, PYTHONPATH=str(self.module_dir))
        command = [sys.executable, str(Path(__file__).resolve()), "--worker", *options]
        self.process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.hello = self.receive()
        if not Path(self.hello["module"]).is_relative_to(self.module_dir.resolve()):
            raise SystemExit(f"the {self.name} worker imported {self.hello['module']}, not the module in {self.module_dir}")

    def receive(self) -> Any:
        assert self.process is not None and self.process.stdout is not None
        line = self.process.stdout.readline()
        if not line:
            raise SystemExit(f"the {self.name} worker stopped (its error is above)")
        return json.loads(line)

    def ask(self, task: str, *args: Any) -> Any:
        assert self.process is not None and self.process.stdin is not None
        self.process.stdin.write(json.dumps({"task": task, "args": list(args)}) + "\n")
        self.process.stdin.flush()
        return self.receive()

    def stop(self) -> None:
        if self.process is not None:
            assert self.process.stdin is not None
            self.process.stdin.close()
            self.process.wait(timeout=60)


# {side: {task key: {figure: [one value per round]}}}
Rounds = dict[str, dict[str, dict[str, list[float]]]]


def record(found: dict[str, list[float]], measured: dict[str, float]) -> None:
    for name, value in measured.items():
        found.setdefault(name, []).append(value)


def alternate(sides: dict[str, Side], tasks: list[tuple[str, tuple[Any, ...]]], rounds: int,
              progress: IO[str]) -> Rounds:
    """Every round's answer to every task on both sides, taken alternately."""
    found: Rounds = {side: {} for side in sides}
    for round_number in range(rounds):
        started = time.perf_counter()
        for index, (task, args) in enumerate(tasks):
            key = task + "".join(f"/{arg}" for arg in args)
            for side in order_of(round_number + index):
                record(found[side].setdefault(key, {}), sides[side].ask(task, *args))
        print(f"before_after: round {round_number + 1} of {rounds} in {time.perf_counter() - started:.1f} s",
              file=progress, flush=True)
    return found


def order_of(turn: int) -> tuple[str, str]:
    """Which side goes first on this turn: each in turn, so neither is always
    the one that runs right after the other's garbage."""
    return SIDES if turn % 2 == 0 else SIDES[::-1]


def repetitions_of(output: dict[str, Any]) -> dict[str, list[float]]:
    """bytes_per_second of every repetition in scale_bench's JSON, by benchmark
    name; the aggregates it adds (mean, median, ...) are left out, as they are
    recomputed over every round."""
    found: dict[str, list[float]] = {}
    for benchmark in output["benchmarks"]:
        if benchmark.get("run_type", "iteration") != "iteration" or "error_occurred" in benchmark:
            continue
        found.setdefault(benchmark.get("run_name", benchmark["name"]), []).append(benchmark["bytes_per_second"])
    return found


def run_scale(sides: dict[str, Side], names: list[str], rounds: int, repetitions: int, min_time: float,
              progress: IO[str]) -> dict[str, dict[str, list[float]]]:
    """Every repetition's bytes_per_second, {side: {benchmark: [...]}}, one
    benchmark at a time on each side in turn, so that both see the same load."""
    found: dict[str, dict[str, list[float]]] = {side: {} for side in sides}
    for round_number in range(rounds):
        started = time.perf_counter()
        for index, name in enumerate(names):
            for side in order_of(round_number + index):
                binary = sides[side].scale
                assert binary is not None
                done = subprocess.run(
                    [str(binary), f"--benchmark_filter=^{name}$", f"--benchmark_repetitions={repetitions}",
                     f"--benchmark_min_time={min_time}", "--benchmark_format=json"],
                    capture_output=True, text=True)
                if done.returncode != 0:
                    raise SystemExit(f"{binary} failed on {name}:\n{done.stderr}")
                for run_name, values in repetitions_of(json.loads(done.stdout)).items():
                    found[side].setdefault(run_name, []).extend(values)
        print(f"before_after: C++ round {round_number + 1} of {rounds} in {time.perf_counter() - started:.1f} s",
              file=progress, flush=True)
    return found


# --- The table. ---

@dataclass
class Metric:
    group: str
    name: str
    unit: str  # "ns", "ratio", "MB/s" or "x text"
    higher_is_better: bool
    before: float | None
    after: float | None

    @property
    def change(self) -> float | None:
        if self.before is None or self.after is None or self.before == 0:
            return None
        return self.after / self.before


def fastest(figures: dict[str, list[float]] | None, name: str) -> float | None:
    """A time's best round, as compare.py takes it."""
    values = (figures or {}).get(name)
    return min(values) if values else None


def pooled(found: Rounds, key: str, name: str) -> float | None:
    """A peer's best round on either side. The peers (orjson.loads, a dict's
    lookup) run the same code in both workers, yet their timings, which
    allocate the most, vary by a third from round to round here, and a side
    whose peer was unlucky would show a change that VYRL did not make. Set
    against one figure, a ratio's change is VYRL's alone."""
    values = [value for side in SIDES for value in found[side].get(key, {}).get(name, [])]
    return min(values) if values else None


def quotient(top: float | None, bottom: float | None) -> float | None:
    return None if top is None or not bottom else top / bottom


def count_label(count: int) -> str:
    if count >= 1_000_000 and count % 1_000_000 == 0:
        return f"{count // 1_000_000}M"
    return f"{count // 1000}k" if count >= 1000 and count % 1000 == 0 else str(count)


def typed_mb_per_s(figures: dict[str, list[float]] | None) -> float | None:
    ns = fastest(figures, "VYRL.parse")
    return None if figures is None or not ns else figures["text_bytes"][0] * 1e3 / ns


def python_metrics(found: Rounds, sizes: list[int], typed_sizes: list[int], lookup_sizes: list[int],
                   memory_size: int) -> list[Metric]:
    """The figures of alternate(), as before-and-after rows."""
    metrics: list[Metric] = []

    def add(group: str, name: str, unit: str, higher_is_better: bool,
            value: Callable[[dict[str, dict[str, list[float]]]], float | None]) -> None:
        metrics.append(Metric(group, name, unit, higher_is_better, *(value(found[side]) for side in SIDES)))

    reading = "Python: reading (peer ÷ VYRL above 1: VYRL is the faster)"
    columns = [("small", "30 lines")] + [(f"parse/{count}", f"{count_label(count)} pairs") for count in sizes]
    for key, label in columns:
        add(reading, f"VYRL.parse, {label}", "ns", False, lambda side, key=key: fastest(side.get(key), "VYRL.parse"))
        for peer, short in (("orjson.loads", "orjson"), ("msgspec.json.decode", "msgspec")):
            add(reading, f"{short} ÷ VYRL, {label}", "ratio", True, lambda side, key=key, peer=peer: quotient(
                pooled(found, key, peer), fastest(side.get(key), "VYRL.parse")))
    typed = "Python: typed text, every value checked (typed peer ÷ VYRL above 1: VYRL is the faster)"
    for count in typed_sizes:
        add(typed, f"VYRL.parse MB/s, {count_label(count)} pairs", "MB/s", True,
            lambda side, count=count: typed_mb_per_s(side.get(f"typed_parse/{count}")))
        for peer in ("msgspec Struct", "pydantic"):
            key = f"typed_parse/{count}"
            add(typed, f"{peer} ÷ VYRL, {count_label(count)} pairs", "ratio", True,
                lambda side, key=key, peer=peer: quotient(pooled(found, key, peer), fastest(side.get(key), "VYRL.parse")))
    add(typed, "VYRL.parse, 30 lines with a schema", "ns", False,
        lambda side: fastest(side.get("small_typed"), "VYRL.parse"))
    for peer, short in (("orjson.loads", "orjson"), ("msgspec.json.decode", "msgspec")):
        add(typed, f"{short} ÷ VYRL, 30 lines with a schema", "ratio", True, lambda side, peer=peer: quotient(
            pooled(found, "small_typed", peer), fastest(side.get("small_typed"), "VYRL.parse")))
    other = "Python: lookups and conversion (VYRL ÷ peer: below 1, VYRL is the faster)"
    for count in lookup_sizes:
        key = f"lookup/{count}"
        add(other, f"doc[key] ÷ dict[key], {count_label(count)} keys", "ratio", False, lambda side, key=key: quotient(
            fastest(side.get(key), "doc[key]"), pooled(found, key, "dict[key]")))
    for count in sizes:
        key = f"to_dict/{count}"
        add(other, f"to_dict ÷ orjson.loads, {count_label(count)} pairs", "ratio", False,
            lambda side, key=key: quotient(fastest(side.get(key), "doc.to_dict"), pooled(found, key, "orjson.loads")))
    memory = f"Python: memory at {count_label(memory_size)} pairs, from a fresh process's resident size"
    for what in ("kept", "peak"):
        add(memory, f"{what} ÷ text size", "x text", False,
            lambda side, what=what: fastest(side.get(f"memory/{memory_size}"), what))
    for key in [key for key in found["after"] if key.startswith("schema_memory/")]:
        count = int(key.split("/")[1])
        add(memory, f"kept ÷ text size, {count_label(count)} one-field schemas", "x text", False,
            lambda side, key=key: fastest(side.get(key), "kept"))
    return metrics


def scale_metrics(found: dict[str, dict[str, list[float]]], sizes: list[int]) -> list[Metric]:
    """The medians of every repetition, and then the best repetitions.

    Both, because on this shared machine a run of one build against itself
    put the medians up to 24% apart (8% on average over the ten benchmarks)
    and the best repetitions 12% (3% on average): the load that other work
    puts on the CPUs slows whole rounds, which the median takes in and the
    best leaves out, as compare.py's best rounds do.
    """
    metrics = []
    for group, pick in (("C++: scale_bench, median MB/s of input text over CPU time", statistics.median),
                        ("C++: scale_bench, best repetition's MB/s (the steadier of the two here)", max)):
        for family, label in (("BM_ScaleUntyped", "untyped"), ("BM_ScaleTyped", "typed")):
            for count in sizes:
                name = f"{family}/{count}"
                values = [pick(found[side][name]) / 1e6 if found[side].get(name) else None for side in SIDES]
                metrics.append(Metric(group, f"{label} MB/s, {count_label(count)} keys", "MB/s", True, *values))
    return metrics


def format_value(value: float | None, unit: str) -> str:
    if value is None:
        return "-"
    if unit == "ns":
        for scale, suffix in ((1e9, "s"), (1e6, "ms"), (1e3, "µs"), (1, "ns")):
            if value >= scale or scale == 1:
                shown = value / scale
                # Three figures at most, and as many for both sides of a row.
                return f"{shown:.{2 if shown < 10 else 1 if shown < 100 else 0}f} {suffix}"
    if unit == "MB/s":
        return f"{value:.1f}"
    return f"{value:.2f}"


def verdict(metric: Metric) -> str:
    change = metric.change
    if change is None or abs(change - 1) < NOISE:
        return ""
    return "better" if (change > 1) == metric.higher_is_better else "worse"


def table(metrics: list[Metric], before_name: str, after_name: str) -> str:
    width = max(len(metric.name) for metric in metrics) + 2
    header = f"{'metric':<{width}}{'before':>12}{'after':>12}{'after/before':>14}"
    lines = [f"before: {before_name}", f"after:  {after_name}",
             f"after/before: below 1 is faster for times, 'better' or 'worse' marks a change of {NOISE:.0%} or more",
             "", header, "-" * (len(header) + 8)]
    group = None
    for metric in metrics:
        if metric.group != group:
            group = metric.group
            lines.append(group)
        change = metric.change
        lines.append(f"  {metric.name:<{width - 2}}{format_value(metric.before, metric.unit):>12}"
                     f"{format_value(metric.after, metric.unit):>12}"
                     f"{'-' if change is None else f'{change:.3f}':>14}  {verdict(metric)}".rstrip())
    return "\n".join(lines)


# --- The run. ---

def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--before-module", type=Path, help="directory of the 'before' build's vyr_rs")
    parser.add_argument("--after-module", type=Path, help="directory of the 'after' build's vyr_rs")
    parser.add_argument("--before-scale", type=Path, help="the 'before' build's scale_bench")
    parser.add_argument("--after-scale", type=Path, help="the 'after' build's scale_bench")
    parser.add_argument("--before-name", default="before", help="what the table calls the 'before' side")
    parser.add_argument("--after-name", default="after", help="what the table calls the 'after' side")
    parser.add_argument("--quick", action="store_true", help="up to 10k pairs and short timings, to see that it works")
    parser.add_argument("--rounds", type=int, help="rounds of the Python figures (default 10, --quick 5)")
    parser.add_argument("--wall-clock", action="store_true",
                        help="time the Python figures by the wall clock, not the process's CPU time")
    parser.add_argument("--json", type=Path, help="also write every figure to this file")
    options = parser.parse_args()
    if options.worker:
        serve(options.quick, options.wall_clock)
        return
    if options.before_module is None or options.after_module is None:
        parser.error("--before-module and --after-module are needed")
    if (options.before_scale is None) != (options.after_scale is None):
        parser.error("--before-scale and --after-scale go together")

    quick = options.quick
    sizes = [1_000, 10_000] if quick else [1_000, 10_000, 100_000, 1_000_000]
    typed_sizes = [30] + sizes
    lookup_sizes = sorted({SMALL_LOOKUP_KEYS, max(sizes)})
    # The CPUs here run a 30-line parse in 3 µs or in 5.5 µs, a state lasting
    # seconds: a side's best round is only its best when some of its rounds
    # fell in the fast state, and ten make that likely within the time asked.
    rounds = options.rounds or (5 if quick else 10)
    load_before = os.getloadavg()[0]
    started = time.perf_counter()

    sides = {"before": Side("before", options.before_module, options.before_scale),
             "after": Side("after", options.after_module, options.after_scale)}
    tasks: list[tuple[str, tuple[Any, ...]]] = [("small", ())]
    tasks += [("parse", (count,)) for count in sizes]
    tasks += [("typed_parse", (count,)) for count in typed_sizes]
    tasks.append(("small_typed", ()))
    tasks += [("lookup", (count,)) for count in lookup_sizes]
    tasks += [("to_dict", (count,)) for count in sizes]
    try:
        worker_options = (["--quick"] if quick else []) + (["--wall-clock"] if options.wall_clock else [])
        for side in sides.values():
            side.start(worker_options)
        hellos: dict[str, dict[str, Any]] = {name: side.hello or {} for name, side in sides.items()}
        found = alternate(sides, tasks, rounds, sys.stderr)
        # Memory is a count, not a race: once a side, each in a fresh process.
        for name, side in sides.items():
            record(found[name].setdefault(f"memory/{max(sizes)}", {}), side.ask("memory", max(sizes)))
            schemas = SCHEMA_HEAVY_COUNT // (10 if quick else 1)
            record(found[name].setdefault(f"schema_memory/{schemas}", {}), side.ask("schema_memory", schemas))
    finally:
        for side in sides.values():
            side.stop()
    metrics = python_metrics(found, sizes, typed_sizes, lookup_sizes, max(sizes))

    scale: dict[str, dict[str, list[float]]] | None = None
    if options.before_scale is not None:
        names = [f"{family}/{count}" for family in ("BM_ScaleUntyped", "BM_ScaleTyped") for count in [30] + sizes]
        # The machine here flips between a fast and a slow state (another
        # guest's work, likely) for seconds at a time: more turns of fewer
        # repetitions give each side more chances at both.
        scale = run_scale(sides, names, rounds=4 if quick else 6, repetitions=2, min_time=0.02 if quick else 0.2,
                          progress=sys.stderr)
        metrics += scale_metrics(scale, [30] + sizes)

    meta = {
        "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
        "quick": quick,
        "rounds": rounds,
        "clock": "wall" if options.wall_clock else "cpu",
        "python": hellos["before"]["python"],
        "free_threaded": hellos["before"]["free_threaded"],
        "versions": hellos["before"]["versions"],
        "peers": hellos["before"]["peers"],
        "cpus": len(os.sched_getaffinity(0)),
        "platform": platform.platform(),
        "seconds": round(time.perf_counter() - started, 1),
        "load_average": {"before": load_before, "after": os.getloadavg()[0]},
        "sides": {name: {"name": getattr(options, f"{name}_name"), "module": hellos[name]["module"],
                         "scale": None if sides[name].scale is None else str(sides[name].scale)}
                  for name in SIDES},
    }
    build = "free-threaded" if meta["free_threaded"] else "with GIL"
    print(f"Python {meta['python']} ({build}), {meta['cpus']} CPUs, {rounds} alternating rounds "
          f"of {'wall-clock' if options.wall_clock else 'CPU'} time; "
          f"{meta['seconds']} s, load average {load_before:.1f} -> {meta['load_average']['after']:.1f}")
    print(table(metrics, options.before_name, options.after_name))
    if options.json:
        options.json.parent.mkdir(parents=True, exist_ok=True)
        options.json.write_text(json.dumps({
            "meta": meta,
            "metrics": [{"group": m.group, "name": m.name, "unit": m.unit, "higher_is_better": m.higher_is_better,
                         "before": m.before, "after": m.after, "after_over_before": m.change} for m in metrics],
            "python": found,
            "scale": scale,
        }, indent=2) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
