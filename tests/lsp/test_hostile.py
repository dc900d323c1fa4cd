"""`vyrl lsp` fed bytes no editor would send: it reports, answers what it can, goes on, and never hangs.

These talk to the server over raw pipes, since a client library would refuse to send most of this.
"""

import json
import os
import random
import re
import select
import subprocess
import time

import pytest

from conftest import VYRL

pytestmark = pytest.mark.timeout(60)

INITIALIZE = {"jsonrpc": "2.0", "id": 1, "method": "initialize", "params": {"capabilities": {}, "rootUri": None}}
SHUTDOWN = {"jsonrpc": "2.0", "id": 99, "method": "shutdown"}
EXIT = {"jsonrpc": "2.0", "method": "exit"}


def framed(message):
    body = message if isinstance(message, bytes) else json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def run(*parts):
    """Sends the parts as standard input; returns the exit status, the messages written, and standard error."""
    data = b"".join(p if isinstance(p, bytes) else framed(p) for p in parts)
    done = subprocess.run([str(VYRL), "lsp"], input=data, capture_output=True, timeout=30)
    # Standard output carries nothing but framed JSON.
    messages, out = [], done.stdout
    while out:
        header, separator, rest = out.partition(b"\r\n\r\n")
        assert separator and header.startswith(b"Content-Length: "), out[:80]
        length = int(header[len(b"Content-Length: ") :])
        messages.append(json.loads(rest[:length]))
        out = rest[length:]
    return done.returncode, messages, done.stderr.decode("utf-8", "replace")


def answers(messages):
    """The responses, as (id, error code or None)."""
    return [(m["id"], m["error"]["code"] if "error" in m else None) for m in messages if "method" not in m]


def test_a_clean_session_exits_with_0_and_without_shutdown_with_1():
    assert run(INITIALIZE, {"jsonrpc": "2.0", "method": "initialized", "params": {}}, SHUTDOWN, EXIT)[0] == 0
    status, messages, _ = run(INITIALIZE, EXIT)
    assert (status, answers(messages)) == (1, [(1, None)])
    # The end of the input ends the server too, with 1 unless it was shut down.
    assert run(INITIALIZE)[0] == 1
    assert run(INITIALIZE, SHUTDOWN)[0] == 0
    assert run()[0] == 1


def test_requests_before_initialize_are_refused_and_notifications_dropped():
    status, messages, _ = run(
        {"jsonrpc": "2.0", "id": "early", "method": "shutdown"},
        {"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {}},
        INITIALIZE,
        {"jsonrpc": "2.0", "id": 2, "method": "initialize", "params": {}},
        SHUTDOWN,
        EXIT,
    )
    assert (status, answers(messages)) == (0, [("early", -32002), (1, None), (2, -32600), (99, None)])


def test_unknown_methods_and_bad_params():
    status, messages, _ = run(
        INITIALIZE,
        {"jsonrpc": "2.0", "id": 2, "method": "textDocument/rename", "params": {}},
        {"jsonrpc": "2.0", "method": "$/somethingNew", "params": {}},
        {"jsonrpc": "2.0", "method": "$/cancelRequest", "params": {"id": 2}},
        {"jsonrpc": "2.0", "id": 3, "method": "textDocument/codeAction", "params": {"textDocument": 5}},
        {"jsonrpc": "2.0", "method": "textDocument/didChange", "params": {"textDocument": {"uri": 5}}},
        {"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": [1, 2]},
        {"jsonrpc": "2.0", "id": {"not": "an id"}, "method": "shutdown"},
        SHUTDOWN,
        EXIT,
    )
    assert (status, answers(messages)) == (0, [(1, None), (2, -32601), (3, -32602), (None, -32600), (99, None)])


@pytest.mark.parametrize(
    "junk, logged",
    [
        (framed(b"{not json"), "not JSON"),
        (framed(b"[1, 2]"), "neither a request"),
        (framed(b"[" * 1_000_000), "nests deeper"),
        (b"Content-Length: 1099511627776\r\n\r\n", "exceeds the limit"),
        (b"Content-Length: 99999999999999999999999999\r\n\r\n", "too large"),
        (b"Content-Length: twelve\r\n\r\n", "not a number"),
        (b"Content-Type: text/plain\r\n\r\n", "without Content-Length"),
        (b"\x00\xff\xfe garbage \r\n\r\n", "without Content-Length"),
        (b"x" * 70000, "held no header|before a header"),  # as the pipe cuts it
    ],
    ids=["bad json", "batch", "deep", "2^40 length", "overflowing length", "non-numeric length", "no length", "binary", "endless header"],
)
def test_broken_input_is_reported_and_the_server_goes_on(junk, logged):
    status, messages, err = run(junk, INITIALIZE, SHUTDOWN, EXIT)
    assert re.search(logged, err)
    assert status == 0
    assert answers(messages)[-2:] == [(1, None), (99, None)]
    if junk.startswith(b"Content-Length") and b"\r\n\r\n" in junk and not junk.endswith(b"\r\n\r\n"):
        assert messages[0] == {"jsonrpc": "2.0", "id": None, "error": messages[0]["error"]}
        assert messages[0]["error"]["code"] in (-32700, -32600)  # not JSON, or no request


def test_a_body_split_anywhere_still_arrives():
    data = framed(INITIALIZE) + framed(SHUTDOWN) + framed(EXIT)
    process = subprocess.Popen([str(VYRL), "lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    for i in range(0, len(data), 7):
        process.stdin.write(data[i : i + 7])
        process.stdin.flush()
    out, _ = process.communicate(timeout=30)
    assert process.returncode == 0
    assert out.count(b"Content-Length") == 2


def test_random_bytes_never_crash_or_hang_the_server():
    generator = random.Random(18)
    for _ in range(20):
        noise = bytes(generator.randrange(256) for _ in range(generator.randrange(1, 20000)))
        # Some noise dressed as a message, so that the body reaches the JSON parser.
        status, _, _ = run(noise, framed(noise[:500]), INITIALIZE, framed(noise[:300]))
        assert status == 1  # ended by the end of input, not by a signal


def test_imports_that_could_block_or_read_the_protocol_are_refused(tmp_path):
    fifo = tmp_path / "pipe.vyr"
    os.mkfifo(fifo)
    opened = []
    for name, target in [("fifo", fifo), ("stdin", "/dev/stdin")]:
        text = f"@import {target}\n"
        opened.append(
            {
                "jsonrpc": "2.0",
                "method": "textDocument/didOpen",
                "params": {"textDocument": {"uri": (tmp_path / f"{name}.vyr").as_uri(), "languageId": "vyrl", "version": 1, "text": text}},
            }
        )
    status, messages, _ = run(INITIALIZE, *opened, SHUTDOWN, EXIT)
    published = [m["params"]["diagnostics"] for m in messages if m.get("method") == "textDocument/publishDiagnostics"]
    assert status == 0
    assert {d["message"] for diagnostics in published for d in diagnostics} == {
        "IO Error: Operation not permitted (os error 1)"
    }


class Session:
    """A server on pipes, read with a deadline: a server that stops answering fails the test, and is killed."""

    def __init__(self, root):
        self.process = subprocess.Popen(
            [str(VYRL), "lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL
        )
        self.buffer = b""
        self.send({**INITIALIZE, "params": {"capabilities": {}, "rootUri": root.as_uri()}})
        self.next_message(10)

    def send(self, message):
        self.process.stdin.write(framed(message))
        self.process.stdin.flush()

    def next_message(self, seconds):
        deadline = time.monotonic() + seconds
        while True:
            header, separator, rest = self.buffer.partition(b"\r\n\r\n")
            if separator:
                length = int(header[len(b"Content-Length: ") :])
                if len(rest) >= length:
                    self.buffer = rest[length:]
                    return json.loads(rest[:length])
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                raise AssertionError(f"no answer within {seconds} s")
            chunk = os.read(self.process.stdout.fileno(), 1 << 16)
            assert chunk, "the server ended"
            self.buffer += chunk

    def ask(self, id, method, uri, line, character, seconds):
        params = {"textDocument": {"uri": uri}, "position": {"line": line, "character": character}}
        self.send({"jsonrpc": "2.0", "id": id, "method": method, "params": params})
        answer = self.next_message(seconds)
        assert answer["id"] == id, answer
        return answer["result"]

    def close(self):
        self.process.kill()
        self.process.wait()


# An answer takes milliseconds; a walk that read each file once for every
# route to it took seconds for 3 imports a level over 12 levels, and never
# ended for 4 over 16.
ANSWER_SECONDS = 1


@pytest.mark.parametrize(
    "levels, imports", [(16, 4), (12, 3)], ids=["17 files importing the next 4 times", "3 imports a level, 12 levels"]
)
def test_imports_that_fan_out_are_read_once_a_request(tmp_path, levels, imports):
    # f0 ... f{levels - 1} each import the next file `imports` times and set a
    # key; the last declares a schema whose field nothing sets.
    for i in range(levels):
        (tmp_path / f"f{i}.vyr").write_text(f"@import f{i + 1}.vyr\n" * imports + f"k{i} = {i}\n")
    (tmp_path / f"f{levels}.vyr").write_text("@schema Last { deep: i32 }\n")
    main = tmp_path / "f0.vyr"
    session = Session(tmp_path)
    try:
        uri = main.as_uri()
        item = {"uri": uri, "languageId": "vyrl", "version": 1, "text": main.read_text()}
        session.send({"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {"textDocument": item}})
        # Loading stops at its limit of files, and says so for every line that went past it.
        diagnostics = session.next_message(10)["params"]["diagnostics"]
        assert diagnostics and all("More than 10000 files" in d["message"] for d in diagnostics)
        # Each asked at the start of the line setting k0.
        line = imports
        hover = session.ask(2, "textDocument/hover", uri, line, 0, ANSWER_SECONDS)
        assert hover["contents"]["value"] == f"`k0` = `0` (f0.vyr:{line + 1})"
        definition = session.ask(3, "textDocument/definition", uri, line, 0, ANSWER_SECONDS)
        assert [(d["uri"], d["range"]["start"]["line"]) for d in definition] == [(uri, line)]
        # The walk reaches the last file.
        completion = session.ask(4, "textDocument/completion", uri, line, 0, ANSWER_SECONDS)
        assert [item["label"] for item in completion] == ["deep"]
        session.send(SHUTDOWN)
        assert session.next_message(ANSWER_SECONDS) == {"jsonrpc": "2.0", "id": 99, "result": None}
    finally:
        session.close()


def test_completion_weighs_many_schemas_in_one_pass(tmp_path):
    # A schema, and a value for its one field, 100,000 times: completion at a
    # line's start looks for the schema that wins each name, and offers
    # nothing. It takes a fraction of a second; looking through every schema
    # for each one took 20.
    count = 100_000
    text = "".join(f"@schema S{i} {{ f{i}: i32 }}\nf{i} = {i}\n" for i in range(count))
    uri = (tmp_path / "many.vyr").as_uri()
    session = Session(tmp_path)
    try:
        item = {"uri": uri, "languageId": "vyrl", "version": 1, "text": text}
        session.send({"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {"textDocument": item}})
        assert session.next_message(30)["params"]["diagnostics"] == []
        assert session.ask(2, "textDocument/completion", uri, 2 * count, 0, 10) == []
    finally:
        session.close()
