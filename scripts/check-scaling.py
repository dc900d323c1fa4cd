#!/usr/bin/env python3
"""Checks that crafted inputs cost time (and memory) in step with their size.

Each shape below is an input someone could write to make a reader slow: it is
parsed at size n and at 4n, through the Python module and through the `vyrl`
tool, fastest of three runs each. Linear growth is 4x and quadratic 16x; the
check fails above 8x. Memory is compared the same way where a shape is about
memory. The server's shapes are documents open in `vyrl lsp`, timed from an
edit to the diagnostics it brings, as an editor waits for them.

    scripts/check-scaling.py --cli build/src/cli/vyrl    # vyr_rs importable

The module must be importable (PYTHONPATH); the tool's path comes from --cli.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable

LIMIT = 8.0
RUNS = 3
MISS_PROBES = 20_000

Shape = Callable[[int], tuple[str, dict[str, str]]]  # n -> (main text, other files)


def stale_owners(n: int):
    # A schema's fields are declared, many other schemas follow, the first is
    # redeclared without the fields, and the fields are assigned.
    fields = ", ".join(f"f{i}: i32" for i in range(n))
    lines = [f"@schema S {{ {fields} }}"]
    lines += [f"@schema T{i} {{ x{i}: i32 }}" for i in range(n)]
    lines.append("@schema S { }")
    lines += [f"f{i} = 1" for i in range(n)]
    return "\n".join(lines), {}


def shared_field_owners(n: int):
    # Many schemas share one field; each owner in turn is emptied and the field assigned.
    lines = [f"@schema S{i} {{ f: i32 }}" for i in range(n)]
    for i in range(n):
        lines += [f"@schema S{i} {{ }}", "f = 1"]
    return "\n".join(lines), {}


def optional_fields_list(n: int):
    optional = ", ".join(f"o{i}*: i32" for i in range(n))
    objects = ", ".join("{}" for _ in range(n))
    return f"@schema S {{ {optional} }}\n@schema H {{ items: list<S> }}\nitems = [{objects}]", {}


def optional_fields_keys(n: int):
    optional = ", ".join(f"o{i}*: i32" for i in range(n))
    keys = ", ".join(f"k{i}: S" for i in range(n))
    lines = [f"@schema S {{ {optional} }}", f"@schema K {{ {keys} }}"]
    lines += [f"k{i} = {{}}" for i in range(n)]
    return "\n".join(lines), {}


def long_element_name(n: int):
    element = "physics::" + "_" * n + "meter"
    items = ", ".join("1.5" for _ in range(n))
    return f"@schema L {{ xs: list<{element}> }}\nxs = [{items}]", {}


def alias_to_long_name(n: int):
    element = "physics::" + "_" * n + "meter"
    items = ", ".join("1.5" for _ in range(n))
    return f"@type length = {element}\n@schema L {{ xs: list<length> }}\nxs = [{items}]", {}


def derive_rechecks(n: int):
    optional = ", ".join(f"o{i}*: i32" for i in range(n))
    lines = [f"@schema S {{ {optional} }}"]
    lines += [f"@schema E{i} {{}}" for i in range(n)]
    lines += ["@derive tiny.vyr" for _ in range(n)]
    return "\n".join(lines), {"tiny.vyr": "z = 1\n"}


def long_schema_name(n: int):
    fields = ", ".join(f"f{i}: i32" for i in range(n))
    return f"@schema {'S' * n} {{ {fields} }}\n", {}


def reassigned_keys(n: int):
    # The same few keys assigned again and again: the document must not grow.
    return "\n".join(f"k{i % 16} = value {i}" for i in range(n)), {}


def nested_imports(n: int):
    # A chain of files, each importing the next: loads grow with the files.
    files = {f"f{i}.vyr": f"@import f{i + 1}.vyr\nk{i} = {i}\n" for i in range(n)}
    files[f"f{n}.vyr"] = "end = 1\n"
    return "@import f0.vyr\n", files


def nested_list_failure(n: int):
    # A list 100 levels deep holding n items, the last one bad: every level
    # quotes the item it checked, which holds all the levels below.
    levels = 100
    value = "[" * levels + "1, " * (n - 1) + "x" + "]" * levels
    return f"@schema T {{ v: {'list<' * levels}i32{'>' * levels} }}\nv = {value}\n", {}


def nested_object_failure(n: int):
    # Schemas whose fields are lists of the schema below, 120 levels, with n
    # objects at the bottom and the last one bad.
    levels = 120
    lines = ["@schema S0 { v: i32 }"]
    lines += [f"@schema S{k} {{ c: list<S{k - 1}> }}" for k in range(1, levels)]
    lines.append(f"@schema Top {{ top: S{levels - 1} }}")
    bottom = ", ".join(["{ v = 1 }"] * (n - 1) + ["{ v = x }"])
    lines.append("top = " + "{ c = [" * (levels - 1) + bottom + "] }" * (levels - 1))
    return "\n".join(lines) + "\n", {}


def unknown_type_names(n: int):
    # Every alias names a type that nothing declares: each is compared with
    # the declared names for a "did you mean", which must not cost n * n.
    return "".join(f"@type t{i} = nosuch::x{i}\n" for i in range(n)), {}


def unknown_names_of_one_length(n: int):
    # As above, with every declared name as long as every unknown one, so that
    # no length tells them apart.
    return "".join(f"@type name{i:06d} = nome{i:06d}\n" for i in range(n)), {}


# (name, shape, n, what is measured). Each n is large enough that the tables
# already outgrow the processor's caches at n, so that the step to 4n measures
# the algorithm rather than the move from cache to memory.
SHAPES: list[tuple[str, Shape, int, str]] = [
    ("stale schema owners", stale_owners, 20000, "time"),
    ("owners of a shared field", shared_field_owners, 20000, "time"),
    ("optional fields, list of objects", optional_fields_list, 160000, "time"),
    ("optional fields, top-level keys", optional_fields_keys, 80000, "time"),
    ("list of a long element name", long_element_name, 200000, "time"),
    ("list of an alias to a long name", alias_to_long_name, 200000, "time"),
    ("@derive after many schemas", derive_rechecks, 1500, "time"),
    ("reassigned keys", reassigned_keys, 200000, "time"),
    ("a chain of imported files", nested_imports, 12, "time"),
    # Only the tool lints: loading them takes a few milliseconds, too few for a ratio.
    ("unknown type names", unknown_type_names, 4000, "tool"),
    ("unknown names of one length", unknown_names_of_one_length, 4000, "tool"),
    ("long schema name, many fields", long_schema_name, 16000, "memory"),
    # These fail on purpose: their time and their message must not grow faster
    # than the input, and the message not past a fixed bound.
    ("message of a deep list", nested_list_failure, 20000, "message"),
    ("message of deep objects in lists", nested_object_failure, 5000, "message"),
]

# No message may be longer, whatever the input.
MESSAGE_BOUND = 64 << 10


def warning_on_every_line(n: int) -> str:
    # An alias of an alias on every line: a warning each, every one placed in the text.
    return "@type t0 = i32\n" + "".join(f"@type t{i} = t{i - 1}\n" for i in range(1, n))


# Documents open in `vyrl lsp`, timed from an edit to the diagnostics it brings.
SERVER_SHAPES: list[tuple[str, Callable[[int], str], int]] = [
    ("server: an edit, a warning a line", warning_on_every_line, 20000),
]
# Each edit is made this many times, the fastest kept; but once editing has
# taken longer than SERVER_SECONDS, one more slow answer tells no more.
SERVER_EDITS = 5
SERVER_SECONDS = 10


class Server:
    """`vyrl lsp` on pipes, holding one open document. Opening it and each
    edit are answered by one message, its diagnostics; bodies are read whole
    but not decoded, which would cost more than the answer."""

    def __init__(self, cli: str, directory: Path, text: str):
        self.process = subprocess.Popen([cli, "lsp"], cwd=directory, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.uri = (directory / "main.vyr").as_uri()
        self.send({"jsonrpc": "2.0", "id": 1, "method": "initialize",
                   "params": {"capabilities": {}, "rootUri": directory.as_uri()}})
        self.send({"jsonrpc": "2.0", "method": "textDocument/didOpen",
                   "params": {"textDocument": {"uri": self.uri, "languageId": "vyrl", "version": 1, "text": text}}})

    def send(self, message: dict) -> bytes:
        """Sends `message` and returns the body of the one that answers it."""
        body = json.dumps(message).encode()
        self.process.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.process.stdin.flush()
        length = None
        while (line := self.process.stdout.readline()) not in (b"\r\n", b""):
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value)
        if length is None:
            raise SystemExit(f"check-scaling: vyrl lsp answered {message.get('method')} with nothing")
        return self.process.stdout.read(length)

    def edit(self, version: int) -> None:
        # A space typed after the first line's name, then taken back.
        typed = version % 2 == 0
        change = {"range": {"start": {"line": 0, "character": 8}, "end": {"line": 0, "character": 8 if typed else 9}},
                  "text": " " if typed else ""}
        answer = self.send({"jsonrpc": "2.0", "method": "textDocument/didChange",
                            "params": {"textDocument": {"uri": self.uri, "version": version},
                                       "contentChanges": [change]}})
        if b"publishDiagnostics" not in answer:
            raise SystemExit(f"check-scaling: vyrl lsp answered an edit with {answer[:200]!r}")

    def close(self) -> None:
        self.process.kill()
        self.process.wait()


def server_edit_seconds(cli: str, text: str) -> float:
    """The fastest of SERVER_EDITS edits to `text`, open in the server."""
    with tempfile.TemporaryDirectory(prefix="vyrl-scaling-") as scratch:
        directory = Path(scratch)
        (directory / "main.vyr").write_text(text)
        server = Server(cli, directory, text)
        best = float("inf")
        give_up = time.perf_counter() + SERVER_SECONDS
        try:
            for version in range(2, 2 + SERVER_EDITS):
                start = time.perf_counter()
                server.edit(version)
                best = min(best, time.perf_counter() - start)
                if time.perf_counter() > give_up:
                    break
        finally:
            server.close()
        return best


def lookup_miss_growth(n: int) -> float:
    """How much longer n/10 lookups of texts that are neither keys nor values
    take in a document of 4n pairs than in one of n.

    The first miss is left out of the time: it builds the reverse index once,
    which costs in proportion to the document. What must not grow with the
    document is every miss after it. A pass takes milliseconds, and this
    machine's speed drifts over seconds, so the passes over both documents
    take turns and the fastest of each is kept."""
    from vyr_rs import VYRL

    documents = [VYRL.parse("\n".join(f"key{i} = value{i}" for i in range(size))) for size in (n, 4 * n)]
    probes = [f"missing{i}" for i in range(MISS_PROBES)]
    best = [float("inf")] * len(documents)
    for _ in range(3 * RUNS):
        for which, document in enumerate(documents):
            assert "absent" not in document
            start = time.perf_counter()
            for probe in probes:
                if probe in document or document.find_key(probe) is not None:
                    raise SystemExit("check-scaling: a missing text was found")
            best[which] = min(best[which], time.perf_counter() - start)
    # The same misses at each size, scaled as n/10 of them would be: a miss
    # that costs the same at any size grows 4x, one that walks the document 16x.
    return 4 * best[1] / best[0]


def fastest(run: Callable[[], float]) -> float:
    return min(run() for _ in range(RUNS))


def write_files(directory: Path, files: dict[str, str]) -> None:
    for name, content in files.items():
        (directory / name).write_text(content)


# Each parse runs in a fresh interpreter, as each run of the tool does, so that
# what earlier, larger runs left in the allocator does not weigh on later ones.
PARSE_ONCE = """
import sys, time
from vyr_rs import VYRL
text = open("main.vyr", encoding="utf-8").read()
start = time.perf_counter()
try:
    document = VYRL.parse(text)
    size = 0
except RuntimeError as error:
    size = len(str(error).encode()) + sum(len(note.encode()) for note in error.__notes__)
print(time.perf_counter() - start, size)
"""


def module_run(directory: Path) -> tuple[float, int]:
    """Seconds of one parse, and the size of its error with its notes (0: none)."""
    environment = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    result = subprocess.run([sys.executable, "-c", PARSE_ONCE], cwd=directory, capture_output=True, text=True,
                            env=environment, check=False)
    if result.returncode != 0:
        raise SystemExit(f"check-scaling: the module failed in {directory}: {result.stderr}")
    seconds, size = result.stdout.split()
    return float(seconds), int(size)


def cli_run(cli: str, directory: Path, fails: bool = False) -> tuple[float, int, int]:
    """Seconds, peak memory (KiB) and error output size of `vyrl check main.vyr` in `directory`."""
    start = time.perf_counter()
    process = subprocess.Popen([cli, "check", "main.vyr"], cwd=directory, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    errors = process.stderr.read()
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if (status != 0) != fails:
        raise SystemExit(f"check-scaling: vyrl check {'passed' if fails else 'failed'} in {directory}: "
                         f"{errors.decode()[:2000]}")
    return elapsed, usage.ru_maxrss, len(errors)


def measure(shape: Shape, n: int, cli: str, fails: bool = False) -> dict[str, float]:
    with tempfile.TemporaryDirectory(prefix="vyrl-scaling-") as scratch:
        directory = Path(scratch)
        text, files = shape(n)
        write_files(directory, files)
        (directory / "main.vyr").write_text(text)
        module = [module_run(directory) for _ in range(RUNS)]
        cli_runs = [cli_run(cli, directory, fails) for _ in range(RUNS)]
        return {
            "module": min(seconds for seconds, _ in module),
            "cli": min(run[0] for run in cli_runs),
            "memory": min(run[1] for run in cli_runs),
            "message": max(max(size for _, size in module), max(run[2] for run in cli_runs)),
        }


# Declaring one schema again and again must not hold more memory each time.
REDECLARE = """
import resource, sys
from vyr_rs import VYRL
document = VYRL.parse("")
text = "@schema S { a: i32, b*: string }"
for _ in range(20000):
    document.merge_content(text)
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
for _ in range(int(sys.argv[1])):
    document.merge_content(text)
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
"""


def redeclared_schema_growth(count: int) -> int:
    """KiB the peak memory grows by over `count` more declarations of one schema."""
    environment = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    result = subprocess.run([sys.executable, "-c", REDECLARE, str(count)], capture_output=True, text=True,
                            env=environment, check=True)
    return int(result.stdout)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", required=True, help="path of the vyrl tool")
    parser.add_argument("--only", help="run the shapes whose name contains this text")
    arguments = parser.parse_args()

    arguments.cli = str(Path(arguments.cli).resolve())
    with tempfile.TemporaryDirectory() as empty:
        (Path(empty) / "main.vyr").write_text("")
        baseline_memory = min(cli_run(arguments.cli, Path(empty))[1] for _ in range(RUNS))
    failures = []
    print(f"{'shape':36} {'n':>6} {'module':>8} {'tool':>8} {'memory':>8} {'message':>8}"
          "   (growth from n to 4n; time at 4n)")
    for name, shape, n, kind in SHAPES:
        if arguments.only and arguments.only not in name:
            continue
        fails = kind == "message"
        small, large = measure(shape, n, arguments.cli, fails), measure(shape, 4 * n, arguments.cli, fails)
        growth = {key: large[key] / small[key] for key in ("module", "cli")}
        # Memory is compared above what the tool needs for an empty file.
        growth["memory"] = max(large["memory"] - baseline_memory, 1) / max(small["memory"] - baseline_memory, 1)
        growth["message"] = max(large["message"], 1) / max(small["message"], 1)
        watched = {"memory": ["memory"], "message": ["module", "cli", "memory", "message"], "tool": ["cli"]}.get(
            kind, ["module", "cli"])
        bad = [key for key in watched if growth[key] > LIMIT]
        # A file that loads may still warn, once a line.
        if fails and large["message"] > MESSAGE_BOUND:
            bad.append(f"a message of {large['message']} bytes")
        print(f"{name:36} {n:>6} {growth['module']:>7.1f}x {growth['cli']:>7.1f}x {growth['memory']:>7.1f}x"
              f" {growth['message']:>7.1f}x   {large['module'] * 1000:.0f} ms{'   FAIL: ' + ', '.join(bad) if bad else ''}")
        if bad:
            failures.append(name)
    for name, document, n in SERVER_SHAPES:
        if arguments.only and arguments.only not in name:
            continue
        small, large = (server_edit_seconds(arguments.cli, document(size)) for size in (n, 4 * n))
        growth = large / small
        bad = growth > LIMIT
        print(f"{name:36} {n:>6} {'':>8} {growth:>7.1f}x {'':>8} {'':>8}   {large * 1000:.0f} ms"
              f"{'   FAIL: time' if bad else ''}")
        if bad:
            failures.append(name)
    if not arguments.only or arguments.only in "redeclared schema (module only)":
        n = 100_000
        grown = redeclared_schema_growth(4 * n)
        print(f"{'redeclared schema (module only)':36} {n:>6}   {grown} KiB more after {4 * n} declarations")
        # A slot left behind per declaration would hold hundreds of bytes each.
        if grown > 8 << 10:
            failures.append("redeclared schema")
    if not arguments.only or arguments.only in "lookup misses":
        # Small enough that the indexes stay near the core at 4n: past that, a
        # miss waits on memory and costs up to twice as much, however it is found.
        n = 25_000
        growth = lookup_miss_growth(n)
        print(f"{'lookup misses (module only)':36} {n:>6} {growth:>7.1f}x")
        if growth > LIMIT:
            failures.append("lookup misses")
    if failures:
        print(f"check-scaling: grows faster than linear: {', '.join(failures)}", file=sys.stderr)
        return 1
    print("check-scaling: every shape grows linearly")
    return 0


if __name__ == "__main__":
    sys.exit(main())
