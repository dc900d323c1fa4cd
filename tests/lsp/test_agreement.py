"""The server and the loader read the same text the same way: each answer here is checked against `vyrl`."""

import asyncio
import json
import re
import subprocess

import pytest
from lsprotocol import types

from conftest import VYRL, STEP_SECONDS, change_document, open_document, published, span, start
from test_features import definitions, hover_text, labels, opened

pytestmark = [pytest.mark.asyncio, pytest.mark.timeout(60)]


def vyrl(root, *args):
    done = subprocess.run([str(VYRL), *args], cwd=root, capture_output=True, timeout=30)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def check(root, files, name):
    """Writes `files` into `root` and returns `vyrl check name`'s first message, without its "path:line: "."""
    for file, text in files.items():
        (root / file).write_text(text, encoding="utf-8")
    _, _, err = vyrl(root, "check", name)
    return err.splitlines()[0].split(": ", 1)[1] if err else None


def covered(text, diagnostic):
    line, start_column, end_line, end_column = span(diagnostic)
    assert line == end_line
    return text.split("\n")[line][start_column:end_column]


RANGES = [
    # what, text, the pattern that finds in the check's message the text the failure is about
    ("value", "@schema S { port: i32 }\nport = x # c\n", r"got '(.*)'"),
    ("value before a comment after a form feed", "@schema S { port: i32 }\nport = x\f# c\n", r"got '(.*)'"),
    ("no '='", "a = 1\n  broken line  # note\n", r"'(.*)'\. Reason"),
    ("no '=' once a bracket closes before it opens", "a = 1\nport] = [1\n", r"'(.*)'\. Reason"),
]


@pytest.mark.parametrize("text, pattern", [r[1:] for r in RANGES], ids=[r[0] for r in RANGES])
async def test_a_failure_covers_what_the_loader_read(client, tmp_path, text, pattern):
    await start(client, tmp_path)
    message = check(tmp_path, {"doc.vyr": text}, "doc.vyr")
    path = tmp_path / "doc.vyr"
    [[diagnostic]] = await published(client, lambda: open_document(client, path, text), path.as_uri())
    assert diagnostic.message == message
    assert covered(text, diagnostic) == re.search(pattern, message).group(1)


async def test_every_error_is_shown_where_it_is(client, tmp_path):
    await start(client, tmp_path)
    (tmp_path / "inner.vyr").write_text("x\ny = 1\nz\n")
    text = "a\nb = 1\n@bogus\n@import inner.vyr\nc\n"
    path = tmp_path / "doc.vyr"
    [diagnostics] = await published(client, lambda: open_document(client, path, text), path.as_uri())
    errors = [d for d in diagnostics if d.severity == types.DiagnosticSeverity.Error]
    assert [(d.range.start.line, d.message.split(". Reason: ")[1]) for d in errors] == [
        (0, "Missing assignment operator '='"),
        (2, "Unknown directive: @bogus"),
        (3, "Missing assignment operator '='"),
        (3, "Missing assignment operator '='"),
        (4, "Missing assignment operator '='"),
    ]
    # Each error of the imported file sits on the import line, with the line of its own file first.
    assert [[(r.location.uri, r.location.range.start.line) for r in d.related_information] for d in errors[2:4]] == [
        [((tmp_path / "inner.vyr").as_uri(), line), (path.as_uri(), 3)] for line in (0, 2)
    ]
    # The first is the one a plain check reports.
    assert errors[0].message == check(tmp_path, {"doc.vyr": text}, "doc.vyr")


TYPING = [
    # what, the importing file (its port line last); the imported e.vyr declares Endpoint { port: port }
    ("import, then a schema of its own", "@import e.vyr\n@schema Service { port: port }\nport = VALUE\n"),
    ("a schema of its own, then the import", "@schema Service { port: port }\n@import e.vyr\nport = VALUE\n"),
]


@pytest.mark.parametrize("text", [t[1] for t in TYPING], ids=[t[0] for t in TYPING])
async def test_hover_names_the_schema_that_types_the_key_for_the_loader(client, tmp_path, text):
    files = {"e.vyr": "@type port = i32\n@schema Endpoint { port: port }\n", "s.vyr": text.replace("VALUE", "80")}
    uri = await opened(client, tmp_path, files, "s.vyr")
    hover = await hover_text(client, uri, 2, 1)
    message = check(tmp_path, {"s.vyr": text.replace("VALUE", "fast")}, "s.vyr")
    schema = re.match(r"Schema '(\w+)' validation error", message).group(1)
    assert f"of schema `{schema}`" in hover
    assert "`port` = `80` (s.vyr:3)" in hover


async def test_hover_says_where_a_value_was_set_and_by_what_route(client, tmp_path):
    files = {"t.vyr": "region = eu-west\n", "s.vyr": "region = eu-north\n@import t.vyr\nzone = b\n"}
    uri = await opened(client, tmp_path, files, "s.vyr")
    assert await hover_text(client, uri, 0, 1) == "`region` = `eu-west` (t.vyr:1, imported at s.vyr:2)"
    _, out, _ = vyrl(tmp_path, "get", "s.vyr", "region")
    assert out.strip() == "eu-west"


SCOPES = [
    # what, the document's first line, names it must see, names it must not
    ("derive with a selector", "@derive base.vyr::S", ["used", "S"], ["unused", "Other"]),
    ("derive of every schema", "@derive base.vyr", ["used", "other", "S", "Other"], ["unused"]),
    ("import", "@import base.vyr", ["used", "unused", "other", "S", "Other"], []),
]
BASE = "@type used = i32\n@type unused = f64\n@type other = string\n@schema S { a: used }\n@schema Other { b: other }\n"


@pytest.mark.parametrize("first, seen, unseen", [s[1:] for s in SCOPES], ids=[s[0] for s in SCOPES])
async def test_type_completion_offers_what_the_loader_knows(client, tmp_path, first, seen, unseen):
    text = first + "\n@schema T { x: }\n"
    uri = await opened(client, tmp_path, {"base.vyr": BASE, "d.vyr": text}, "d.vyr")
    offered = set(await labels(client, uri, 1, 15))
    for name in seen + unseen:
        value = "{}" if name[0].isupper() else "1"
        message = check(tmp_path, {"c.vyr": f"{first}\n@schema T {{ x: {name} }}\nx = {value}\n"}, "c.vyr")
        known = message is None or f"Unknown type '{name}'" not in message
        assert (name in offered, known) == (name in seen, name in seen), (name, message)


QUOTED = [
    # what, the line, the file the loader opens
    ("single quotes within double ones", "@import \"'a.vyr'\"", "'a.vyr'"),
    ("double quotes", '@import "a.vyr"', "a.vyr"),
]


@pytest.mark.parametrize("line, opened_file", [q[1:] for q in QUOTED], ids=[q[0] for q in QUOTED])
async def test_a_quoted_path_leads_where_the_loader_goes(client, tmp_path, line, opened_file):
    files = {"a.vyr": "@schema A { a: i32 }\n", "'a.vyr'": "@schema Q { q: i32 }\n", "m.vyr": line + "\n\n"}
    uri = await opened(client, tmp_path, files, "m.vyr")
    [field] = await labels(client, uri, 1, 0)
    message = check(tmp_path, {"c.vyr": f"{line}\n{field} = x\n"}, "c.vyr")
    assert message.startswith(f"Schema '{field.upper()}' validation error")
    assert await definitions(client, uri, 0, 10) == [((tmp_path / opened_file).as_uri(), 0, 0)]
    symbols = await asyncio.wait_for(
        client.text_document_document_symbol_async(
            types.DocumentSymbolParams(text_document=types.TextDocumentIdentifier(uri=uri))
        ),
        STEP_SECONDS,
    )
    assert [s.name for s in symbols] == [opened_file]


UNITS = ["physics::Meter_Per_Second", "physics::\u212aelvin", "physics::atomic-mass-unit", "physics::me_ter",
         "physics::nope", "I32", "time::Hour", "list<physics::dalton>"]


async def test_a_type_name_has_a_hover_exactly_when_the_loader_resolves_it(client, tmp_path):
    text = "".join(f"@schema S{i} {{ v: {unit} }}\n" for i, unit in enumerate(UNITS))
    uri = await opened(client, tmp_path, {"u.vyr": text}, "u.vyr")
    _, out, _ = vyrl(tmp_path, "types", "--json")
    catalogue = {t["name"]: t for t in json.loads(out)}
    for i, unit in enumerate(UNITS):
        hover = await hover_text(client, uri, i, len(f"@schema S{i} {{ v: ") + 1)
        _, _, err = vyrl(tmp_path, "validate", unit, "1")
        assert (hover is not None) == ("not found" not in err), unit
        if hover is not None:
            name = re.match(r"`([^`]+)` \((\w+)\): (.*)", hover)
            entry = catalogue[name.group(1)]
            assert (name.group(2), name.group(3).split("\n")[0]) == (entry["family"], entry["description"])


async def test_a_change_checks_only_the_open_files_that_read_it(client, tmp_path):
    await start(client, tmp_path)
    texts = {"b.vyr": "x = 1\n", "a.vyr": "@import b.vyr\n", "far.vyr": "@import a.vyr\n", "c.vyr": "y = 2\n"}
    paths = {name: tmp_path / name for name in texts}
    for name, text in texts.items():
        await published(client, lambda: open_document(client, paths[name], text), paths[name].as_uri())
    # Breaking b shows in a and in far, which reads it through a; c has nothing to do with it.
    client.diagnostics.clear()
    broken = await published(
        client,
        lambda: change_document(client, paths["b.vyr"], 2, "x\n"),
        *(paths[n].as_uri() for n in ("b.vyr", "a.vyr", "far.vyr")),
    )
    assert [len(d) for d in broken] == [1, 1, 1]
    # A request answered after the change means everything the change published has arrived.
    await hover_text(client, paths["c.vyr"].as_uri(), 0, 0)
    assert paths["c.vyr"].as_uri() not in client.diagnostics

    # Closing b makes the disk count again for those that read it.
    paths["b.vyr"].write_text("x = 3\n")
    client.diagnostics.clear()
    close = types.DidCloseTextDocumentParams(text_document=types.TextDocumentIdentifier(uri=paths["b.vyr"].as_uri()))
    readers = (paths["a.vyr"].as_uri(), paths["far.vyr"].as_uri())
    fixed = await published(client, lambda: client.text_document_did_close(close), *readers)
    assert fixed == [[], []]
    await hover_text(client, paths["c.vyr"].as_uri(), 0, 0)
    assert paths["c.vyr"].as_uri() not in client.diagnostics


async def test_a_failing_line_still_gets_the_loaders_field_in_its_hover(client, tmp_path):
    text = "@schema S { port: i32 }\nport = fast\n"
    uri = await opened(client, tmp_path, {"h.vyr": text}, "h.vyr")
    hover = await hover_text(client, uri, 1, 1)
    assert hover.startswith("`port`\n\nfield `port` of schema `S`, type `i32`")
