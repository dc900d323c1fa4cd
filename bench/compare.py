"""Measures vyr_rs against JSON and TOML readers of the same data, in one run.

    python=$(scripts/bench-env.sh python3)
    PYTHONPATH=build/py-<tag>/src/python "$python" bench/compare.py [--quick] [--json FILE]

One set of pairs, `sectionS.keyK = value-N` for N = 0, 1, ... (K = N mod 100,
S = N div 100), is written as VYRL assignments, as one JSON object and as TOML
with quoted keys, so that every reader returns the same flat dict of str. The
run then measures

  - reading each text at 1k, 10k, 100k and 1M pairs: VYRL.parse against
    orjson.loads, msgspec.json.decode(type=dict[str, str]), json.loads,
    rtoml.loads and tomllib.loads (not at 1M: it takes seconds there);
  - the same readers on a 30-line configuration, in microseconds per call;
  - the same pairs under schemas that declare every key typed, the texts
    bench/scale_bench.cpp's typed family merges: VYRL.parse in MB/s, from 30
    pairs to the largest size, with every value checked as it is stored, and
    against the typed decoders of the same values as JSON, one object per
    section: msgspec into a Struct and pydantic into a model, each checking
    what the schema checks (32-bit integers, numbers, colours, lists);
  - a 30-line configuration that declares a schema for two of its keys,
    against orjson.loads and msgspec.json.decode of the same pairs;
  - doc[key] against dict[key], over every key in random order, in a document
    of 1k keys (stays in cache) and of 1M keys (does not);
  - doc.to_dict() against orjson.loads of the same pairs;
  - memory: what a parsed document keeps, and the peak while parsing, relative
    to the text, from the resident size of a fresh process;
  - on a free-threaded interpreter, the throughput of two threads parsing
    separate documents against one thread.

Every time is the best of several rounds, taken with perf_counter_ns (or, with
--cpu-time, the process's CPU time) and with the cyclic collector off; a text
of fewer than 30k pairs is read several times in one timing. Every ratio comes
from figures of this run, so runs on different machines or commits are
compared by their ratios, not their times. To compare two commits, run
scripts/bench-before-after.sh, which measures both in one run.
Readers that are not installed are left out with a note. The results are
printed as tables, and written as JSON with --json for bench/plot.py.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import importlib
import importlib.metadata
import json
import os
import platform
import random
import subprocess
import sys
import sysconfig
import tempfile
import threading
import time
import tomllib
from pathlib import Path
from typing import Any, Callable

ROOT = Path(__file__).resolve().parents[1]
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))

try:
    import vyr_rs
except ImportError:  # run from the checkout after scripts/test-python.sh or scripts/bench.sh
    tag = sys.implementation.cache_tag + ("t" if FREE_THREADED else "")
    sys.path.insert(0, str(ROOT / "build" / f"py-{tag}" / "src" / "python"))
    import vyr_rs

VYRL = vyr_rs.VYRL

KEYS_PER_SECTION = 100
TOMLLIB_LIMIT = 100_000  # tomllib is pure Python; above this it dominates the run
SMALL_LOOKUP_KEYS = 1_000
SMALL_LOOKUP_PASSES = 200  # so that one timing of the 1k-key table is not a few microseconds
SMALL_CONFIG_CALLS = 2_000  # a 30-line parse takes microseconds: one timing covers this many
PAIRS_PER_TIMING = 30_000  # a smaller text is read several times in one timing, to this many pairs
TYPED_SIZES = [30]  # besides the run's sizes: a configuration's worth of typed keys
# The field types the typed texts cycle through, as bench/scale_bench.cpp does.
FIELD_TYPES = ("i32", "f64", "physics::meter", "color", "list<i32>")


def optional(module: str) -> Any:
    try:
        return importlib.import_module(module)
    except ImportError:
        return None


orjson = optional("orjson")
msgspec = optional("msgspec")
pydantic = optional("pydantic")
rtoml = optional("rtoml")


# --- The data. ---

def key_of(n: int) -> str:
    return f"section{n // KEYS_PER_SECTION}.key{n % KEYS_PER_SECTION}"


def make_pairs(count: int) -> dict[str, str]:
    return {key_of(n): f"value-{n}" for n in range(count)}


def vyrl_text(pairs: dict[str, str]) -> str:
    return "".join(f"{key} = {value}\n" for key, value in pairs.items())


def json_text(pairs: dict[str, str]) -> str:
    return json.dumps(pairs, separators=(",", ":"))


def toml_text(pairs: dict[str, str]) -> str:
    # Quoted keys: bare dotted keys would make nested tables, and the readers
    # would no longer return the same dict. The generated text needs no escapes.
    return "".join(f'"{key}" = "{value}"\n' for key, value in pairs.items())


def texts_of(pairs: dict[str, str]) -> dict[str, str]:
    """The same pairs in each reader's language, by the names readers_for uses."""
    return {"vyrl": vyrl_text(pairs), "json": json_text(pairs), "toml": toml_text(pairs)}


def typed_value(n: int) -> str:
    """A value that key n's type accepts, different for every n so that no
    check can be answered from an earlier one."""
    kind = n % len(FIELD_TYPES)
    if kind == 0:
        return str(n)
    if kind == 1:
        return f"{n}.25"
    if kind == 2:
        return f"0.{n}"
    if kind == 3:
        # The C++ side truncates the product to 32 bits first; the low 24 are the same.
        return f"#{(n * 2654435761) & 0xFFFFFF:06X}"
    return f"[{n}, {n + 1}, -{n + 2}]"


def typed_text(count: int) -> str:
    """Byte for byte the text bench/scale_bench.cpp's typed family merges: one
    schema per section, a field per line, then the assignments it checks."""
    parts = []
    for first in range(0, count, KEYS_PER_SECTION):
        parts.append(f"@schema Section{first // KEYS_PER_SECTION} {{\n")
        parts.extend(f"  {key_of(n)}: {FIELD_TYPES[n % len(FIELD_TYPES)]}\n"
                     for n in range(first, min(count, first + KEYS_PER_SECTION)))
        parts.append("}\n")
    parts.extend(f"{key_of(n)} = {typed_value(n)}\n" for n in range(count))
    return "".join(parts)


def check_typed_text_is_checked() -> None:
    """A typed figure is only worth having while the schemas do check: a value
    its type refuses must fail the parse."""
    text = typed_text(len(FIELD_TYPES))
    wrong = text.replace(f"{key_of(0)} = {typed_value(0)}\n", f"{key_of(0)} = not-a-number\n")
    assert wrong != text
    try:
        VYRL.parse(wrong)
    except Exception:  # the module reports a refused value as RuntimeError; any error will do
        return
    raise SystemExit("a typed text with a wrong value parsed: the schemas are not checking, so there is no typed figure")


# What each field type checks, as the typed peers write it: a 32-bit integer,
# any number, a colour of six or eight hex digits, a list of 32-bit integers.
I32_RANGE = {"ge": -2**31, "le": 2**31 - 1}
COLOR_PATTERN = r"^#(?:[0-9A-Fa-f]{6}|[0-9A-Fa-f]{8})$"


def typed_json_value(n: int) -> object:
    """typed_value(n) as the JSON value a typed peer decodes."""
    kind = n % len(FIELD_TYPES)
    if kind == 0:
        return n
    if kind in (1, 2):
        return float(typed_value(n))
    if kind == 3:
        return typed_value(n)
    return [n, n + 1, -(n + 2)]


def typed_json_text(count: int) -> str:
    """The typed text's values as JSON, one object per section: what a typed
    peer decodes into one struct per section with a field per key."""
    sections: dict[str, dict[str, object]] = {}
    for n in range(count):
        sections.setdefault(f"section{n // KEYS_PER_SECTION}", {})[f"key{n % KEYS_PER_SECTION}"] = typed_json_value(n)
    return json.dumps(sections, separators=(",", ":"))


def typed_peers(count: int) -> dict[str, Callable[[str], object]]:
    """Typed decoders of typed_json_text(count), each checking what the schemas
    check: msgspec into Structs, pydantic into models. Key K has the type of
    FIELD_TYPES[K mod 5] in every section (100 is a multiple of 5), so one
    struct type serves them all."""
    fields = min(count, KEYS_PER_SECTION)
    peers: dict[str, Callable[[str], object]] = {}
    if msgspec is not None:
        from typing import Annotated
        i32 = Annotated[int, msgspec.Meta(**I32_RANGE)]
        kinds = (i32, float, float, Annotated[str, msgspec.Meta(pattern=COLOR_PATTERN)], list[i32])
        section = msgspec.defstruct("Section", [(f"key{k}", kinds[k % len(kinds)]) for k in range(fields)])
        decoder = msgspec.json.Decoder(dict[str, section])
        peers["msgspec Struct"] = decoder.decode
    if pydantic is not None:
        from typing import Annotated
        i32 = Annotated[int, pydantic.Field(**I32_RANGE)]
        kinds = (i32, float, float, Annotated[str, pydantic.StringConstraints(pattern=COLOR_PATTERN)], list[i32])
        model = pydantic.create_model("Section", **{f"key{k}": (kinds[k % len(kinds)], ...) for k in range(fields)})
        adapter = pydantic.TypeAdapter(dict[str, model])
        peers["pydantic"] = adapter.validate_json
    return peers


def check_typed_peers(count: int, peers: dict[str, Callable[[str], object]], text: str) -> None:
    """Every typed peer reads the values that were written, and refuses a
    value its type refuses, as the schemas do."""
    for name, read in peers.items():
        decoded = read(text)
        for n in (0, count - 1):
            section = decoded[f"section{n // KEYS_PER_SECTION}"]
            value = getattr(section, f"key{n % KEYS_PER_SECTION}")
            if value != typed_json_value(n):
                raise SystemExit(f"{name} did not read the typed values that were written")
        wrong = text.replace('"key0":0', '"key0":"not-a-number"', 1)
        try:
            read(wrong)
        except Exception:  # each peer has its own validation error
            continue
        raise SystemExit(f"{name} accepted a value its type refuses: it is not checking, so there is no typed figure")


SCHEMA_HEAVY_COUNT = 160_000  # one-field schemas in the schema-heavy text, about 5.7 MB


def schema_heavy_text(count: int) -> str:
    """A file that only declares: one schema per line, each with one field."""
    return "".join(f"@schema Schema{n} {{ field{n}: i32 }}\n" for n in range(count))


def measure_schema_memory(count: int) -> dict[str, Any]:
    """What a document of `count` one-field schemas keeps, over its text."""
    return measure_memory(0, {"vyrl": schema_heavy_text(count)}, ["VYRL.parse"])["VYRL.parse"]


def small_config() -> dict[str, str]:
    """Thirty settings of the kind a service's configuration holds."""
    return {
        "name": "courier-7", "role": "delivery", "host": "alpha.example", "port": "8080",
        "admin_port": "9090", "bind": "0.0.0.0", "workers": "4", "threads_per_worker": "8",
        "timeout_ms": "2500", "retry_count": "3", "retry_backoff": "1.5", "log_level": "info",
        "log_path": "/var/log/courier/service.log", "data_path": "/srv/courier/data",
        "cache_size_mb": "512", "enable_metrics": "true", "metrics_endpoint": "http://metrics.example:9100",
        "tls": "true", "tls_cert": "/etc/courier/tls.crt", "tls_key": "/etc/courier/tls.key",
        "db_host": "db.example", "db_port": "5432", "db_user": "courier", "db_pool": "16",
        "accent": "#FF8800", "max_speed": "21.5", "home": "52.5200, 13.4050",
        "ports": "[80, 443, 8080]", "owner": "fleet-ops@example.org", "started": "2025-03-14T06:30:00Z",
    }


TYPED_CONFIG_SCHEMA = "@schema Server { host: string, port: i32, timeout*: time::duration }"


def small_typed_config() -> dict[str, str]:
    """A service's settings under one schema: host and port typed, then a
    colour, a list, an inline object and 24 plain settings, 30 lines with the
    schema's."""
    plain = small_config()
    pairs = {"host": plain["host"], "port": plain["port"], "accent": plain["accent"], "ports": plain["ports"],
             "limits": "{ cpu = 2, memory = 512 }"}
    for key, value in plain.items():
        if key not in pairs and key not in ("home", "max_speed"):
            pairs[key] = value
    return pairs


def small_typed_texts() -> dict[str, str]:
    pairs = small_typed_config()
    texts = texts_of(pairs)
    texts["vyrl"] = TYPED_CONFIG_SCHEMA + "\n" + texts["vyrl"]
    return texts


# --- Timing. ---

# Wall time by default. On a machine that other work keeps busy, the time this
# process spent waiting for a CPU lands in whichever reader was running, and
# the process's CPU time (--cpu-time, and bench/before_after.py always) leaves
# it out, as scale_bench's figures do.
clock: Callable[[], int] = time.perf_counter_ns


def best_ns(jobs: dict[str, Callable[[], object]], repeat: int,
            check: Callable[[str, object], None] | None = None) -> dict[str, int]:
    """The fastest of `repeat` runs of each job, in nanoseconds.

    Rounds visit every job in turn, so that a burst of load elsewhere on the
    machine hits both sides of a ratio. A job's result is released only after
    its clock has stopped: freeing a million objects is not reading them, and
    would favour whichever reader's result is cheaper to free. `check` sees the
    first round's results, so that a reader proved wrong is not timed in vain.
    """
    best = dict.fromkeys(jobs, float("inf"))
    for round_number in range(repeat):
        for name, job in jobs.items():
            gc.collect()
            gc.disable()
            try:
                start = clock()
                result = job()
                elapsed = clock() - start
            finally:
                gc.enable()
            if check is not None and round_number == 0:
                check(name, result)
            del result
            best[name] = min(best[name], elapsed)
    return {name: int(ns) for name, ns in best.items()}


def calls_of(read: Callable[[str], object], source: str, calls: int) -> Callable[[], None]:
    """A job that reads `source` `calls` times, for texts that take microseconds:
    one clock reading per call would measure the clock."""
    def job() -> None:
        for _ in range(calls):
            read(source)
    return job


def calls_for(count: int, quick: bool) -> int:
    """How many times one timing reads a text of `count` pairs: a timing of a
    hundred microseconds is at the mercy of one interrupt."""
    return max(1, PAIRS_PER_TIMING // (10 if quick else 1) // count)


def kept_calls(job: Callable[[], object], calls: int) -> Callable[[], list[object]]:
    """`job` `calls` times, every result kept, so that best_ns frees them after
    the clock has stopped, as it does a single result."""
    return lambda: [job() for _ in range(calls)]


def per_call(times: dict[str, int], calls: int) -> dict[str, float]:
    return {name: ns / calls for name, ns in times.items()}


def first_result(check: Callable[[str, object], None]) -> Callable[[str, object], None]:
    """`check` for the results of kept_calls, which are a list of them."""
    def check_first(name: str, results: object) -> None:
        assert isinstance(results, list)
        check(name, results[0])
    return check_first


def look_up(mapping: Any, keys: list[str]) -> None:
    for key in keys:
        mapping[key]


def fresh_keys(count: int, seed: int) -> list[str]:
    """Every key once, in random order, as new str objects: keys that are the
    dict's own objects would compare by identity, which real lookups rarely do."""
    keys = [key_of(n) for n in range(count)]
    random.Random(seed).shuffle(keys)
    return keys


# --- Memory, in a fresh process. ---

def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def peak_resident_bytes() -> int | None:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return None


def reset_peak() -> bool:
    """Lets VmHWM count from now on (Linux 4.0 and later)."""
    try:
        with open("/proc/self/clear_refs", "w") as clear_refs:
            clear_refs.write("5")
        return True
    except OSError:
        return False


MEMORY_READERS: dict[str, tuple[str, Callable[[str], object]]] = {
    # name -> (which text, reader)
    "VYRL.parse": ("vyrl", lambda text: VYRL.parse(text)),
    "json.loads": ("json", json.loads),
}
if orjson is not None:
    MEMORY_READERS["orjson.loads"] = ("json", orjson.loads)


def memory_probe(reader: str, path: str) -> None:
    """Runs in the child: reads one text, parses it once, prints the figures."""
    text = Path(path).read_text(encoding="utf-8")
    parse = MEMORY_READERS[reader][1]
    gc.collect()
    before = resident_bytes()
    peak_known = reset_peak()
    result = parse(text)
    peak = peak_resident_bytes() if peak_known else None
    after = resident_bytes()
    print(json.dumps({"before": before, "after": after, "peak": peak, "entries": len(result)}))


def measure_memory(count: int, texts: dict[str, str], readers: list[str] | None = None) -> dict[str, Any]:
    """Bytes each reader's result keeps, and its peak, each over the text size.

    The document's memory is C++, out of tracemalloc's sight, so it is read from
    the resident size. A fresh process per reader keeps one reader's freed
    memory from being reused by the next, which would hide it.
    """
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(Path(vyr_rs.__file__).parent)] + ([os.environ["PYTHONPATH"]] if "PYTHONPATH" in os.environ else [])))
    figures: dict[str, Any] = {}
    with tempfile.TemporaryDirectory(prefix="vyrl-bench-") as scratch:
        paths = {}
        for kind, text in texts.items():
            paths[kind] = Path(scratch) / f"{kind}.txt"
            paths[kind].write_text(text, encoding="utf-8")
        for reader, (kind, _) in MEMORY_READERS.items():
            if readers is not None and reader not in readers:
                continue
            done = subprocess.run(
                [sys.executable, __file__, "--memory-probe", reader, str(paths[kind])],
                env=env, capture_output=True, text=True, check=True)
            probe = json.loads(done.stdout)
            if probe["entries"] != count:
                raise SystemExit(f"{reader} read {probe['entries']} entries, not {count}")
            text_bytes = len(texts[kind].encode())
            kept = probe["after"] - probe["before"]
            peak = None if probe["peak"] is None else probe["peak"] - probe["before"]
            figures[reader] = {
                "text_bytes": text_bytes,
                "kept_bytes": kept,
                "peak_bytes": peak,
                "kept_per_text_byte": kept / text_bytes,
                "peak_per_text_byte": None if peak is None else peak / text_bytes,
            }
    return figures


# --- Threads. ---

def measure_threads(count: int, parses: int, repeat: int) -> dict[str, Any]:
    """Throughput of two threads, each parsing its own text, against one.

    json.loads runs the same way beside VYRL.parse as a control: it scales on
    a free-threaded build, so when it does not either, the machine was busy,
    and when it does and VYRL.parse does not, the module is what serialises.
    """
    # Separate texts, so that the threads share nothing but the module.
    pairs = [{key: f"{value}-t{t}" for key, value in make_pairs(count).items()} for t in range(2)]
    readers: dict[str, tuple[Callable[[str], object], list[str]]] = {
        "VYRL.parse": (VYRL.parse, [vyrl_text(p) for p in pairs]),
        "json.loads": (json.loads, [json_text(p) for p in pairs]),
    }

    def run(read: Callable[[str], object], texts: list[str], threads: int) -> tuple[int, int]:
        """Wall time and the process's CPU time, both in nanoseconds."""
        barrier = threading.Barrier(threads + 1)
        finished: list[int] = []

        def work(text: str) -> None:
            barrier.wait()
            for _ in range(parses):
                result = read(text)
                del result  # on this thread: a document belongs to the one that made it
            finished.append(time.perf_counter_ns())

        workers = [threading.Thread(target=work, args=(texts[t],)) for t in range(threads)]
        for worker in workers:
            worker.start()
        gc.collect()
        gc.disable()
        try:
            cpu_start = time.process_time_ns()
            barrier.wait()
            start = time.perf_counter_ns()
            for worker in workers:
                worker.join()
            cpu = time.process_time_ns() - cpu_start
        finally:
            gc.enable()
        return max(finished) - start, cpu

    best: dict[tuple[str, int], tuple[int, int]] = {}
    for _ in range(repeat):
        for name, (read, texts) in readers.items():
            for threads in (1, 2):
                measured = run(read, texts, threads)
                if (name, threads) not in best or measured[0] < best[name, threads][0]:
                    best[name, threads] = measured
    figures: dict[str, Any] = {
        "entries": count,
        "parses_per_thread": parses,
        "cpus": len(os.sched_getaffinity(0)),
        "readers": {},
    }
    for name in readers:
        one, two = best[name, 1], best[name, 2]
        figures["readers"][name] = {
            "one_thread_ns": one[0],
            "two_threads_ns": two[0],
            "throughput_ratio": 2 * one[0] / two[0],
            # CPU time over wall time: near the thread count when every thread
            # ran all along; less when they waited, for a lock or for a CPU.
            "one_thread_cpu_per_wall": one[1] / one[0],
            "two_threads_cpu_per_wall": two[1] / two[0],
        }
    return figures


# --- The run. ---

def readers_for(count: int) -> tuple[dict[str, tuple[str, Callable[[str], object]]], list[str]]:
    """name -> (which text, reader), and notes on the readers left out."""
    readers: dict[str, tuple[str, Callable[[str], object]]] = {"VYRL.parse": ("vyrl", VYRL.parse)}
    notes = []
    if orjson is not None:
        readers["orjson.loads"] = ("json", orjson.loads)
    else:
        notes.append("orjson is not installed here (scripts/bench-env.sh installs it where a wheel exists)")
    if msgspec is not None:
        readers["msgspec.json.decode"] = ("json", lambda text: msgspec.json.decode(text, type=dict[str, str]))
    else:
        notes.append("msgspec is not installed here (scripts/bench-env.sh installs it where a wheel exists)")
    readers["json.loads"] = ("json", json.loads)
    if rtoml is not None:
        readers["rtoml.loads"] = ("toml", rtoml.loads)
    else:
        notes.append("rtoml is not installed here (scripts/bench-env.sh installs it where a wheel exists)")
    if count <= TOMLLIB_LIMIT:
        readers["tomllib.loads"] = ("toml", tomllib.loads)
    return readers, notes


def versions() -> dict[str, str]:
    found = {"python": platform.python_version()}
    for name in ("orjson", "msgspec", "pydantic", "rtoml"):
        try:
            found[name] = importlib.metadata.version(name)
        except importlib.metadata.PackageNotFoundError:
            pass
    return found


def checkout_commit() -> str | None:
    """The commit of the checkout the module was built from, when it is one."""
    try:
        done = subprocess.run(["git", "-C", str(Path(vyr_rs.__file__).parent), "describe", "--always", "--dirty"],
                              capture_output=True, text=True, timeout=10)
    except OSError:
        return None
    return done.stdout.strip() or None


def cpu_model() -> str | None:
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return None


def run(options: argparse.Namespace) -> dict[str, Any]:
    sizes = options.sizes
    repeat = options.repeat
    load_before = os.getloadavg()
    started = time.perf_counter()
    results: dict[str, Any] = {
        "meta": {
            "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
            "label": options.label,
            "quick": options.quick,
            "implementation": sys.implementation.name,
            "free_threaded": FREE_THREADED,
            "versions": versions(),
            "module": str(Path(vyr_rs.__file__).resolve()),
            "commit": checkout_commit(),
            "cpus": len(os.sched_getaffinity(0)),
            "cpu_model": cpu_model(),
            "platform": platform.platform(),
            "repeat": repeat,
            "clock": "cpu" if clock is time.process_time_ns else "wall",
            "keys_per_section": KEYS_PER_SECTION,
        },
        "notes": [],
    }

    # Reading, at every size.
    parse: dict[str, Any] = {}
    to_dict: dict[str, Any] = {}
    lookup: dict[str, Any] = {}
    memory_texts: dict[str, str] | None = None
    for count in sizes:
        pairs = make_pairs(count)
        texts = texts_of(pairs)
        readers, notes = readers_for(count)
        for note in notes:
            if note not in results["notes"]:
                results["notes"].append(note)

        def check(name: str, result: object, pairs: dict[str, str] = pairs) -> None:
            same = result.to_dict() == pairs if isinstance(result, VYRL) else result == pairs
            if not same:
                raise SystemExit(f"{name} did not read the pairs that were written")

        calls = calls_for(count, options.quick)
        times = per_call(best_ns({name: kept_calls(lambda read=read, text=texts[kind]: read(text), calls)
                                  for name, (kind, read) in readers.items()}, repeat, first_result(check)), calls)
        vyrl_ns = times["VYRL.parse"]
        parse[str(count)] = {
            "text_bytes": {kind: len(text.encode()) for kind, text in texts.items()},
            "calls": calls,
            "ns": times,
            "relative_to_vyrl": {name: ns / vyrl_ns for name, ns in times.items()},
            "vyrl_mb_per_s": len(texts["vyrl"].encode()) / 1e6 / (vyrl_ns / 1e9),
        }

        document = VYRL.parse(texts["vyrl"])
        conversions: dict[str, Callable[[], object]] = {"doc.to_dict": document.to_dict}
        if orjson is not None:
            conversions["orjson.loads"] = lambda text=texts["json"]: orjson.loads(text)
        else:
            conversions["json.loads"] = lambda text=texts["json"]: json.loads(text)
        converted = per_call(best_ns({name: kept_calls(job, calls) for name, job in conversions.items()},
                                     repeat, first_result(check)), calls)
        other = "orjson.loads" if orjson is not None else "json.loads"
        to_dict[str(count)] = {"ns": converted, "against": other,
                               "ratio": converted["doc.to_dict"] / converted[other]}

        if count == max(sizes):
            # The large lookup table is the largest document of the run.
            lookup["large"] = measure_lookups(document, json.loads(texts["json"]), fresh_keys(count, 1), 1, repeat)
            memory_texts = texts
        del document, texts, pairs

    small_pairs = make_pairs(SMALL_LOOKUP_KEYS)
    small_document = VYRL.parse(vyrl_text(small_pairs))
    small_keys = fresh_keys(SMALL_LOOKUP_KEYS, 2)
    passes = SMALL_LOOKUP_PASSES // (10 if options.quick else 1)
    lookup["small"] = measure_lookups(small_document, json.loads(json_text(small_pairs)), small_keys * passes,
                                      passes, repeat)
    del small_document

    results["parse"] = parse
    results["lookup"] = lookup
    results["to_dict"] = to_dict
    results["small_config"] = measure_small_config(options)
    results["small_typed_config"] = measure_small_typed_config(options)
    results["typed"] = measure_typed(TYPED_SIZES + sizes, options)
    assert memory_texts is not None
    results["memory"] = {"entries": max(sizes), "readers": measure_memory(max(sizes), memory_texts)}
    schema_count = SCHEMA_HEAVY_COUNT // (10 if options.quick else 1)
    results["schema_memory"] = {"schemas": schema_count, **measure_schema_memory(schema_count)}
    del memory_texts

    if FREE_THREADED:
        count = 10_000 if options.quick else 100_000
        results["threads"] = measure_threads(count, parses=20, repeat=repeat)
    else:
        results["threads"] = None
        results["notes"].append("threads: skipped, this interpreter has a GIL (run with a free-threaded build)")

    results["meta"]["seconds"] = round(time.perf_counter() - started, 1)
    results["meta"]["load_average"] = {"before": load_before[0], "after": os.getloadavg()[0]}
    return results


def measure_lookups(document: Any, mapping: dict[str, str], keys: list[str], passes: int,
                    repeat: int) -> dict[str, Any]:
    times = best_ns({"doc[key]": lambda: look_up(document, keys),
                     "dict[key]": lambda: look_up(mapping, keys)}, repeat)
    return {
        "keys": len(mapping),
        "lookups": len(keys),
        "passes": passes,
        "ns_per_lookup": {name: ns / len(keys) for name, ns in times.items()},
        "ratio": times["doc[key]"] / times["dict[key]"],
    }


def small_config_readers() -> tuple[dict[str, str], dict[str, tuple[str, Callable[[str], object]]]]:
    """The 30-line configuration's texts, and every reader of them, each proved
    to read the same settings before anything is timed."""
    pairs = small_config()
    texts = texts_of(pairs)
    readers, _ = readers_for(len(pairs))
    for name, (kind, read) in readers.items():
        result = read(texts[kind])
        if (result.to_dict() if isinstance(result, VYRL) else result) != pairs:
            raise SystemExit(f"{name} did not read the 30-line configuration that was written")
    return texts, readers


def timed_config(texts: dict[str, str], readers: dict[str, tuple[str, Callable[[str], object]]],
                 options: argparse.Namespace) -> dict[str, Any]:
    """Each reader's time for one small configuration, per call and against VYRL.parse."""
    calls = SMALL_CONFIG_CALLS // (10 if options.quick else 1)
    times = best_ns({name: calls_of(read, texts[kind], calls) for name, (kind, read) in readers.items()},
                    max(options.repeat, 5))
    ns = {name: total / calls for name, total in times.items()}
    vyrl_ns = ns["VYRL.parse"]
    return {
        "lines": texts["vyrl"].count("\n"),
        "calls": calls,
        "text_bytes": {kind: len(text.encode()) for kind, text in texts.items()},
        # Shaped as a size of "parse" is, so that a table can show it beside them.
        "ns": ns,
        "relative_to_vyrl": {name: value / vyrl_ns for name, value in ns.items()},
        "vyrl_mb_per_s": len(texts["vyrl"].encode()) / 1e6 / (vyrl_ns / 1e9),
    }


def measure_small_config(options: argparse.Namespace) -> dict[str, Any]:
    result = timed_config(*small_config_readers(), options)
    ns = result["ns"]
    # As earlier runs wrote them.
    result["us_per_call"] = {name: value / 1e3 for name, value in ns.items()}
    result["ratio"] = ns["VYRL.parse"] / ns["json.loads"]
    return result


def small_typed_readers() -> tuple[dict[str, str], dict[str, tuple[str, Callable[[str], object]]]]:
    """The 30-line typed configuration's texts and its JSON readers, each
    proved to read the same settings; the schema is VYRL's alone."""
    pairs = small_typed_config()
    texts = small_typed_texts()
    readers, _ = readers_for(len(pairs))
    readers = {name: reader for name, reader in readers.items() if reader[0] != "toml"}
    for name, (kind, read) in readers.items():
        result = read(texts[kind])
        if (result.to_dict() if isinstance(result, VYRL) else result) != pairs:
            raise SystemExit(f"{name} did not read the typed 30-line configuration that was written")
    try:
        VYRL.parse(texts["vyrl"].replace("port = 8080", "port = eighty"))
    except Exception:  # a refused value
        return texts, readers
    raise SystemExit("the typed 30-line configuration took a port its schema refuses")


def measure_small_typed_config(options: argparse.Namespace) -> dict[str, Any]:
    return timed_config(*small_typed_readers(), options)


def measure_typed(sizes: list[int], options: argparse.Namespace) -> dict[str, Any]:
    """VYRL.parse of the typed texts, in MB/s of text, at each size."""
    check_typed_text_is_checked()
    typed: dict[str, Any] = {}
    for count in sizes:
        text = typed_text(count)
        document = VYRL.parse(text)
        if len(document) != count:
            raise SystemExit(f"VYRL.parse read {len(document)} keys of the typed text, not {count}")
        del document
        calls = calls_for(count, options.quick)
        json_text = typed_json_text(count)
        peers = typed_peers(count)
        check_typed_peers(count, peers, json_text)
        jobs = {"VYRL.parse": kept_calls(lambda: VYRL.parse(text), calls)}
        jobs.update({name: kept_calls(lambda read=read: read(json_text), calls) for name, read in peers.items()})
        times = per_call(best_ns(jobs, options.repeat), calls)
        ns = times.pop("VYRL.parse")
        text_bytes = len(text.encode())
        typed[str(count)] = {"text_bytes": text_bytes, "calls": calls, "ns": ns,
                             "mb_per_s": text_bytes / 1e6 / (ns / 1e9),
                             # A peer's time over VYRL's: above 1, VYRL is the faster.
                             "peers_ns": times, "peer_over_vyrl": {name: peer / ns for name, peer in times.items()}}
    return typed


# --- Output. ---

def format_ns(ns: float) -> str:
    if ns >= 1e9:
        return f"{ns / 1e9:.2f} s"
    if ns >= 1e6:
        return f"{ns / 1e6:.1f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.1f} µs"
    return f"{ns:.0f} ns"


def reading_columns(results: dict[str, Any]) -> list[tuple[str, dict[str, Any]]]:
    """The reading table's columns, smallest first: the 30-line configuration
    (when the run has every reader's figure for it) and then each size."""
    columns = []
    small = results.get("small_config") or {}
    if "relative_to_vyrl" in small:
        columns.append((f"{small['lines']} lines", small))
    columns += [(format_count(int(size)) + " pairs", figures) for size, figures in results["parse"].items()]
    return columns


def format_count(count: int) -> str:
    return f"{count // 1_000_000}M" if count >= 1_000_000 and count % 1_000_000 == 0 else (
        f"{count // 1000}k" if count % 1000 == 0 else str(count))


def report(results: dict[str, Any]) -> str:
    meta = results["meta"]
    build = "free-threaded" if meta["free_threaded"] else "with GIL"
    lines = [
        f"vyr_rs against JSON and TOML readers: Python {meta['versions']['python']} ({build}), "
        f"{meta['cpus']} CPUs ({meta['cpu_model']}), best of {meta['repeat']}"
        + (", CPU time" if meta.get("clock") == "cpu" else ""),
        f"module {meta['module']}" + (f" (checkout at {meta['commit']})" if meta["commit"] else ""),
        f"{meta['date']}, {meta['seconds']} s, load average {meta['load_average']['before']:.1f}"
        f" -> {meta['load_average']['after']:.1f}" + (f", label {meta['label']!r}" if meta["label"] else ""),
        "",
        "Reading the same pairs; 'x' is the reader's time over VYRL.parse's (above 1: slower than VYRL)",
    ]
    columns = reading_columns(results)
    names: list[str] = []
    for _, figures in columns:
        names += [name for name in figures["ns"] if name not in names]
    header = f"{'reader':<21}" + "".join(f"{label:>22}" for label, _ in columns)
    lines += [header, "-" * len(header)]
    for name in names:
        cells = []
        for _, figures in columns:
            if name in figures["ns"]:
                cells.append(f"{format_ns(figures['ns'][name])} {figures['relative_to_vyrl'][name]:6.2f}x")
            else:
                cells.append("-")
        lines.append(f"{name:<21}" + "".join(f"{cell:>22}" for cell in cells))
    lines.append(f"{'VYRL.parse MB/s':<21}" + "".join(f"{figures['vyrl_mb_per_s']:>22.1f}" for _, figures in columns))
    lines.append(f"{'VYRL text KB':<21}" + "".join(
        f"{figures['text_bytes']['vyrl'] / 1e3:>22.1f}" for _, figures in columns))
    small = results["small_config"]
    if "relative_to_vyrl" in small:
        lines.append(f"({small['lines']} lines: a service's settings, not the generated pairs; "
                     f"each time is per call, over {small['calls']} calls)")

    typed = results.get("typed")
    if typed:
        lines += ["", "Typed: the same pairs under a schema per section declaring each key "
                      f"({', '.join(FIELD_TYPES)} in turn), every value checked"]
        header = f"{'':<21}" + "".join(f"{format_count(int(size)) + ' pairs':>14}" for size in typed)
        lines += [header, "-" * len(header)]
        lines.append(f"{'VYRL.parse':<21}" + "".join(f"{format_ns(figures['ns']):>14}" for figures in typed.values()))
        lines.append(f"{'typed MB/s':<21}" + "".join(f"{figures['mb_per_s']:>14.1f}" for figures in typed.values()))
        lines.append(f"{'untyped MB/s':<21}" + "".join(
            f"{results['parse'][size]['vyrl_mb_per_s']:>14.1f}" if size in results["parse"] else f"{'-':>14}"
            for size in typed))
        lines.append(f"{'typed text KB':<21}" + "".join(
            f"{figures['text_bytes'] / 1e3:>14.1f}" for figures in typed.values()))
        for name in next(iter(typed.values())).get("peers_ns", {}):
            lines.append(f"{name + ' ÷ VYRL':<21}" + "".join(
                f"{figures['peer_over_vyrl'][name]:>14.2f}" for figures in typed.values()))
    small_typed = results.get("small_typed_config")
    if small_typed:
        lines += ["", f"The {small_typed['lines']}-line configuration with its schema (per call; "
                      "'x': the reader's time over VYRL.parse's)"]
        for name, ns in small_typed["ns"].items():
            lines.append(f"  {name:<21}{format_ns(ns):>10} {small_typed['relative_to_vyrl'][name]:6.2f}x")

    lines += ["", "Converting to a dict"]
    for size, figures in results["to_dict"].items():
        other = figures["against"]
        lines.append(f"  {format_count(int(size)) + ' pairs':<12} doc.to_dict() {format_ns(figures['ns']['doc.to_dict']):>9}"
                     f"   {other} {format_ns(figures['ns'][other]):>9}   to_dict/{other.split('.')[0]} {figures['ratio']:.2f}")

    lines += ["", "Lookups over every key in random order (per lookup, loop included)"]
    for which in ("small", "large"):
        figures = results["lookup"][which]
        per = figures["ns_per_lookup"]
        lines.append(f"  {format_count(figures['keys']) + ' keys':<12} doc[key] {per['doc[key]']:6.0f} ns"
                     f"   dict[key] {per['dict[key]']:6.0f} ns   doc/dict {figures['ratio']:.2f}")

    memory = results["memory"]
    lines += ["", f"Memory at {format_count(memory['entries'])} pairs, from the resident size of a fresh process"]
    lines.append(f"  {'reader':<14}{'text MB':>9}{'kept MB':>9}{'kept/text':>11}{'peak MB':>9}{'peak/text':>11}")
    for name, figures in memory["readers"].items():
        peak = figures["peak_bytes"]
        lines.append(f"  {name:<14}{figures['text_bytes'] / 1e6:>9.1f}{figures['kept_bytes'] / 1e6:>9.1f}"
                     f"{figures['kept_per_text_byte']:>11.2f}"
                     + (f"{peak / 1e6:>9.1f}{figures['peak_per_text_byte']:>11.2f}" if peak is not None else f"{'-':>9}{'-':>11}"))

    schema_memory = results.get("schema_memory")
    if schema_memory:
        lines.append(f"  {format_count(schema_memory['schemas']) + ' one-field schemas':<28}"
                     f"text {schema_memory['text_bytes'] / 1e6:.1f} MB, kept {schema_memory['kept_bytes'] / 1e6:.1f} MB, "
                     f"{schema_memory['kept_per_text_byte']:.2f}x text")

    threads = results["threads"]
    if threads is not None:
        lines += ["", f"Two threads parsing separate {format_count(threads['entries'])}-pair texts against one "
                      f"({threads['parses_per_thread']} parses each; {threads['cpus']} CPUs, so at most 2)"]
        lines.append(f"  {'reader':<14}{'throughput':>11}{'CPUs busy, 1 thread':>21}{'2 threads':>11}")
        for name, figures in threads["readers"].items():
            lines.append(f"  {name:<14}{figures['throughput_ratio']:>10.2f}x{figures['one_thread_cpu_per_wall']:>21.2f}"
                         f"{figures['two_threads_cpu_per_wall']:>11.2f}")
    if results["notes"]:
        lines += [""] + [f"note: {note}" for note in results["notes"]]
    return "\n".join(lines)


def parse_sizes(text: str) -> list[int]:
    sizes = sorted({int(part.replace("_", "")) for part in text.split(",") if part})
    if not sizes or sizes[0] < 1:
        raise argparse.ArgumentTypeError("sizes are positive counts, e.g. 10000,100000")
    return sizes


def main() -> None:
    if len(sys.argv) == 4 and sys.argv[1] == "--memory-probe":
        memory_probe(sys.argv[2], sys.argv[3])
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", type=Path, help="also write every figure to this file")
    parser.add_argument("--quick", action="store_true",
                        help="a run of seconds at 1k and 10k pairs, to see that everything works")
    parser.add_argument("--sizes", type=parse_sizes, help="pair counts to read (default 1000,10000,100000,1000000)")
    parser.add_argument("--repeat", type=int, help="rounds per figure; the best counts (default 5, --quick 2)")
    parser.add_argument("--label", default="", help="a name for this run in the JSON and the chart, e.g. 'before'")
    parser.add_argument("--cpu-time", action="store_true",
                        help="time with the process's CPU time rather than the wall clock, on a busy machine")
    options = parser.parse_args()
    if options.cpu_time:
        global clock
        clock = time.process_time_ns
    if options.sizes is None:
        options.sizes = [1_000, 10_000] if options.quick else [1_000, 10_000, 100_000, 1_000_000]
    if options.repeat is None:
        options.repeat = 2 if options.quick else 5
    results = run(options)
    print(report(results))
    if options.json:
        options.json.parent.mkdir(parents=True, exist_ok=True)
        options.json.write_text(json.dumps(results, indent=2) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
