"""Times `vyrl lsp` from an edit to its diagnostics, for a large open document.

    python3 bench/lsp_bench.py [--cli build/src/cli/vyrl] [--lines 10000] [--repeat 30]

Starts the server, opens a generated document of --lines lines (assignments
checked by a schema, an import of a second open file, comments and non-ASCII
text), then times the round trip from sending a change to receiving the
diagnostics it causes, over the pipe as an editor sees it: the whole text
sent again (an editor without incremental sync), a one-character
incremental edit, an edit that breaks the last line, and the one that fixes it again. Every
figure is the median of --repeat runs, in milliseconds; the goal is 20 ms or
less for 10,000 lines. Then it times a hover on the last key (typed by the
imported schema) and a completion at the start of a line, whose goal is 5 ms,
and the semantic tokens of the whole text (goal: 20 ms for 10,000 lines) and
of a screenful of 60 lines in its middle. Last it opens --others more
documents of the same size that read neither file and times the one-character
edit again: only the files that read the changed one are checked again, so
the goal is 5 ms however many are open.
"""

from __future__ import annotations

import argparse
import json
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


class Connection:
    def __init__(self, command: list[str]):
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.next_id = 0

    def send(self, method: str, params: dict, request: bool = False) -> None:
        message = {"jsonrpc": "2.0", "method": method, "params": params}
        if request:
            self.next_id += 1
            message["id"] = self.next_id
        body = json.dumps(message).encode()
        self.process.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.process.stdin.flush()

    def receive_body(self) -> bytes:
        length = 0
        while (line := self.process.stdout.readline().strip()) != b"":
            name, _, value = line.partition(b":")
            if name.lower() == b"content-length":
                length = int(value)
        return self.process.stdout.read(length)

    def receive(self) -> dict:
        return json.loads(self.receive_body())

    def answer(self, method: str, params: dict) -> dict:
        self.send(method, params, request=True)
        while True:
            message = self.receive()
            if message.get("id") == self.next_id:
                return message

    def diagnostics_for(self, uri: str) -> list:
        while True:
            message = self.receive()
            if message.get("method") == "textDocument/publishDiagnostics" and message["params"]["uri"] == uri:
                return message["params"]["diagnostics"]


def document(lines: int, imports: bool = True) -> str:
    out = ["@import types.vyr   # the schema comes from another open file" if imports else "# on its own"]
    for i in range(1, lines - 1):
        if i % 10 == 0:
            out.append(f"# section {i // 10}: señal, 測定, 😀")
        else:
            out.append(f"port_{i} = {8000 + i}")
    out.append("port = 8080")
    return "\n".join(out) + "\n"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=str(ROOT / "build" / "src" / "cli" / "vyrl"))
    parser.add_argument("--lines", type=int, default=10_000)
    parser.add_argument("--repeat", type=int, default=30)
    parser.add_argument("--others", type=int, default=50)
    options = parser.parse_args()

    with tempfile.TemporaryDirectory() as directory:
        root = Path(directory)
        connection = Connection([options.cli, "lsp"])
        connection.send("initialize", {"capabilities": {}, "rootUri": root.as_uri()}, request=True)
        connection.receive()
        connection.send("initialized", {})
        types_uri = (root / "types.vyr").as_uri()
        uri = (root / "big.vyr").as_uri()
        connection.send("textDocument/didOpen", {"textDocument": {"uri": types_uri, "languageId": "vyrl", "version": 1,
                                                                  "text": "@schema Port { port: i32, host*: string }\n"}})
        connection.diagnostics_for(types_uri)
        text = document(options.lines)
        connection.send("textDocument/didOpen",
                        {"textDocument": {"uri": uri, "languageId": "vyrl", "version": 1, "text": text}})
        assert connection.diagnostics_for(uri) == []
        last = options.lines - 1
        version = 1

        def timed(changes: list[dict], expect_failure: bool) -> float:
            nonlocal version
            version += 1
            started = time.perf_counter()
            connection.send("textDocument/didChange",
                            {"textDocument": {"uri": uri, "version": version}, "contentChanges": changes})
            diagnostics = connection.diagnostics_for(uri)
            elapsed = (time.perf_counter() - started) * 1000
            assert bool(diagnostics) == expect_failure, diagnostics
            return elapsed

        def edit(line: int, start: int, end: int, new: str) -> dict:
            return {"range": {"start": {"line": line, "character": start}, "end": {"line": line, "character": end}},
                    "text": new}

        figures = {
            "whole text": [timed([{"text": text}], False) for _ in range(options.repeat)],
            "one character": [timed([edit(1, 0, 1, "p")], False) for _ in range(options.repeat)],
        }
        broken, fixed = [], []
        for _ in range(options.repeat):
            broken.append(timed([edit(last, 7, 11, "fast")], True))
            fixed.append(timed([edit(last, 7, 11, "8080")], False))
        figures["breaking the last line"] = broken
        figures["fixing it again"] = fixed

        def asked(method: str, line: int, character: int) -> float:
            started = time.perf_counter()
            reply = connection.answer(method, {"textDocument": {"uri": uri},
                                               "position": {"line": line, "character": character}})
            elapsed = (time.perf_counter() - started) * 1000
            assert reply.get("result"), reply
            return elapsed

        figures["hover on the last key"] = [asked("textDocument/hover", last, 1) for _ in range(options.repeat)]
        figures["completion at line start"] = [asked("textDocument/completion", 1, 0)
                                               for _ in range(options.repeat)]

        # Up to the last byte of the answer: reading its JSON here takes longer
        # than the server takes to write it, and is the client's time, not the
        # server's. Nothing else is sent meanwhile.
        def tokens(method: str, extra: dict) -> float:
            started = time.perf_counter()
            connection.send(method, {"textDocument": {"uri": uri}, **extra}, request=True)
            body = connection.receive_body()
            elapsed = (time.perf_counter() - started) * 1000
            reply = json.loads(body)
            assert reply["id"] == connection.next_id, reply
            # Five numbers a token; every line has at least a key or a comment.
            assert len(reply["result"]["data"]) >= 5 * (options.lines if not extra else 60), reply.get("error")
            return elapsed

        middle = options.lines // 2
        screen = {"range": {"start": {"line": middle, "character": 0}, "end": {"line": middle + 60, "character": 0}}}
        figures["semantic tokens, whole"] = [tokens("textDocument/semanticTokens/full", {})
                                             for _ in range(options.repeat)]
        figures["semantic tokens, 60 lines"] = [tokens("textDocument/semanticTokens/range", screen)
                                                for _ in range(options.repeat)]

        # Files that read neither: the edit must not check them again.
        unrelated = document(options.lines, imports=False)
        for i in range(options.others):
            other = (root / f"other_{i}.vyr").as_uri()
            connection.send("textDocument/didOpen",
                            {"textDocument": {"uri": other, "languageId": "vyrl", "version": 1, "text": unrelated}})
            connection.diagnostics_for(other)
        figures[f"one character, {options.others} more open"] = [timed([edit(1, 0, 1, "p")], False)
                                                                 for _ in range(options.repeat)]
        # The answer to a request sent after the edits comes after anything they published.
        asked("textDocument/hover", last, 1)

        connection.send("shutdown", {}, request=True)
        connection.receive()
        connection.send("exit", {})
        connection.process.wait(timeout=10)

    print(f"vyrl lsp, {options.lines} lines ({len(text.encode()) / 1024:.0f} KiB), median of {options.repeat}:")
    for name, times in figures.items():
        print(f"  {name:24} {statistics.median(times):7.2f} ms   (best {min(times):.2f} ms)")


if __name__ == "__main__":
    sys.exit(main())
