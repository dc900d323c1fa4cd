"""Hover, completion, go to definition, document symbols and formatting, asked as an editor asks."""

import asyncio

import pytest
from lsprotocol import types

from conftest import ROOT, STEP_SECONDS, change_document, open_document, published, start

pytestmark = [pytest.mark.asyncio, pytest.mark.timeout(60)]

TYPES = "@type speed = physics::meterPerSecond\n@schema Drone { name: string, top: speed, tilt*: physics::arcDegree }\n"
MAIN = (
    "@import types.vyr\n"       # 0
    "@schema Local { port: i32, note*: string, host: string }\n"  # 1
    "host = example\n"          # 2
    "top = 21.5\n"              # 3
    "top = 22\n"                # 4
)


async def opened(client, root, files, name, encodings=None):
    """Starts a session in `root`, writes `files` there and opens `name`; returns its URI."""
    await start(client, root, encodings)
    for file, text in files.items():
        (root / file).write_text(text, encoding="utf-8")
    path = root / name
    await published(client, lambda: open_document(client, path, files[name]), path.as_uri())
    return path.as_uri()


def at(uri, line, character):
    return dict(text_document=types.TextDocumentIdentifier(uri=uri), position=types.Position(line=line, character=character))


async def hover_text(client, uri, line, character):
    result = await asyncio.wait_for(client.text_document_hover_async(types.HoverParams(**at(uri, line, character))), STEP_SECONDS)
    return None if result is None else result.contents.value


async def labels(client, uri, line, character):
    result = await asyncio.wait_for(
        client.text_document_completion_async(types.CompletionParams(**at(uri, line, character))), STEP_SECONDS
    )
    items = result if isinstance(result, list) else result.items
    return [item.label for item in sorted(items, key=lambda item: item.sort_text or item.label)]


async def definitions(client, uri, line, character):
    result = await asyncio.wait_for(
        client.text_document_definition_async(types.DefinitionParams(**at(uri, line, character))), STEP_SECONDS
    )
    return sorted((location.uri, location.range.start.line, location.range.start.character) for location in result or [])


HOVERS = [
    # what, line, column, fragments the hover must hold
    ("key typed by an imported schema", 3, 1, ["`top` = `22`", "schema `Drone`", "type `speed`", "types.vyr:2", "meterPerSecond"]),
    ("key typed by a local schema", 2, 0, ["`host` = `example`", "schema `Local`", "required", "main.vyr:2"]),
    ("directive", 0, 3, ["reads another file"]),
    ("primitive field type", 1, 24, ["`i32` (primitive)", "-2147483648 to 2147483647"]),
]


@pytest.mark.parametrize("what, line, column, fragments", HOVERS, ids=[h[0] for h in HOVERS])
async def test_hover(client, tmp_path, what, line, column, fragments):
    uri = await opened(client, tmp_path, {"types.vyr": TYPES, "main.vyr": MAIN}, "main.vyr")
    text = await hover_text(client, uri, line, column)
    for fragment in fragments:
        assert fragment in text


async def test_hover_on_a_unit_names_its_family_and_other_spellings(client, tmp_path):
    uri = await opened(client, tmp_path, {"t.vyr": "@schema S { v: physics::Meter_Per_Second, d: list<physics::dalton> }\n"}, "t.vyr")
    unit = await hover_text(client, uri, 0, 30)
    assert "(physics)" in unit and "a number" in unit and "another spelling" in unit
    inside_list = await hover_text(client, uri, 0, 60)
    assert "(physics)" in inside_list and "dalton" in inside_list
    assert "every item valid" in await hover_text(client, uri, 0, 47)
    assert (await hover_text(client, uri, 0, 12)).startswith("field `v` of schema `S`, type `physics::Meter_Per_Second`")


@pytest.mark.parametrize(
    "encoding, type_column, key_end",
    # "grüße" is 5 UTF-16 units but 7 bytes, which moves everything after it.
    [(types.PositionEncodingKind.Utf16, 19, 5), (types.PositionEncodingKind.Utf8, 21, 7)],
    ids=["utf-16", "utf-8"],
)
async def test_hover_counts_columns_in_the_clients_units_past_non_ascii_text(client, tmp_path, encoding, type_column, key_end):
    text = "@schema S { grüße: i32 } # 測定 😀\ngrüße = 5 # 測定 😀\n"
    uri = await opened(client, tmp_path, {"u.vyr": text}, "u.vyr", encodings=[encoding])
    result = await asyncio.wait_for(
        client.text_document_hover_async(types.HoverParams(**at(uri, 0, type_column))), STEP_SECONDS
    )
    assert "`i32` (primitive)" in result.contents.value
    assert (result.range.start.character, result.range.end.character) == (type_column, type_column + 3)
    result = await asyncio.wait_for(client.text_document_hover_async(types.HoverParams(**at(uri, 1, 4))), STEP_SECONDS)
    assert "schema `S`" in result.contents.value
    assert (result.range.start.character, result.range.end.character) == (0, key_end)


async def test_completion(client, tmp_path):
    text = "@import types.vyr\n@type port = i32\n@schema Local { p:  }\n@\n\n"
    uri = await opened(client, tmp_path, {"types.vyr": TYPES, "main.vyr": text}, "main.vyr")
    assert await labels(client, uri, 3, 1) == ["derive", "import", "schema", "type"]
    in_type = await labels(client, uri, 2, 19)
    for expected in ["i32", "list<T>", "physics::meterPerSecond", "time::duration", "port", "speed", "Drone"]:
        assert expected in in_type
    assert len([label for label in in_type if label.startswith("physics::")]) == 130
    # Right after the ":" that touches the field's name, as the trigger character asks.
    assert await labels(client, uri, 2, 18) == in_type
    # Required fields come first; none of this file has a value yet.
    assert await labels(client, uri, 4, 0) == ["name", "top", "tilt"]


async def test_completion_of_paths_and_derived_schemas(client, tmp_path):
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "deep.vyr").write_text("a = 1\n")
    (tmp_path / ".hidden").mkdir()
    (tmp_path / ".hidden" / "no.vyr").write_text("a = 1\n")
    text = "@derive \n@derive types.vyr::\n"
    uri = await opened(client, tmp_path, {"types.vyr": TYPES, "main.vyr": text}, "main.vyr")
    assert await labels(client, uri, 0, 8) == ["main.vyr", "sub/deep.vyr", "types.vyr"]
    assert await labels(client, uri, 1, 19) == ["Drone"]


async def test_missing_fields_leave_out_keys_already_set(client, tmp_path):
    uri = await opened(client, tmp_path, {"types.vyr": TYPES, "main.vyr": MAIN + "\n"}, "main.vyr")
    assert await labels(client, uri, 5, 0) == ["name", "port", "tilt", "note"]


async def test_definition(client, tmp_path):
    uri = await opened(client, tmp_path, {"types.vyr": TYPES, "main.vyr": MAIN}, "main.vyr")
    types_uri = (tmp_path / "types.vyr").as_uri()
    assert await definitions(client, uri, 0, 10) == [(types_uri, 0, 0)]
    # A key: the assignment that wins and the field that types it.
    assert await definitions(client, uri, 3, 0) == sorted([(uri, 4, 0), (types_uri, 1, 30)])
    # A type name in an imported schema, followed from the file that declares it.
    (tmp_path / "types.vyr").write_text(TYPES)
    types_doc = tmp_path / "types.vyr"
    await published(client, lambda: open_document(client, types_doc, TYPES), types_uri)
    assert await definitions(client, types_uri, 1, 36) == [(types_uri, 0, 6)]


async def test_document_symbols_nest_fields_in_schemas(client, tmp_path):
    uri = await opened(client, tmp_path, {"types.vyr": TYPES, "main.vyr": "@import types.vyr\n" + TYPES + "a = 1\n"}, "main.vyr")
    result = await asyncio.wait_for(
        client.text_document_document_symbol_async(
            types.DocumentSymbolParams(text_document=types.TextDocumentIdentifier(uri=uri))
        ),
        STEP_SECONDS,
    )
    K = types.SymbolKind
    assert [(s.name, s.kind, [(c.name, c.kind) for c in s.children or []]) for s in result] == [
        ("types.vyr", K.File, []),
        ("speed", K.TypeParameter, []),
        ("Drone", K.Struct, [("name", K.Field), ("top", K.Field), ("tilt", K.Field)]),
        ("a", K.Property, []),
    ]


FORMATTING = [
    # what, text, edits expected
    ("messy", "a=1\n\n\n\n  b   =   2   # c\n", 1),
    ("already canonical", "a = 1\n", 0),
    ("unreadable", "a = 1\nbroken line\n", 0),
]


@pytest.mark.parametrize("what, text, count", FORMATTING, ids=[f[0] for f in FORMATTING])
async def test_formatting_replaces_the_whole_text_with_the_formatted_one(client, tmp_path, what, text, count):
    uri = await opened(client, tmp_path, {"f.vyr": text}, "f.vyr")
    edits = await asyncio.wait_for(
        client.text_document_formatting_async(
            types.DocumentFormattingParams(
                text_document=types.TextDocumentIdentifier(uri=uri),
                options=types.FormattingOptions(tab_size=2, insert_spaces=True),
            )
        ),
        STEP_SECONDS,
    )
    assert len(edits or []) == count
    if count:
        [edit] = edits
        lines = text.split("\n")
        assert (edit.range.start.line, edit.range.start.character) == (0, 0)
        assert (edit.range.end.line, edit.range.end.character) == (len(lines) - 1, len(lines[-1]))
        assert edit.new_text == "a = 1\n\nb = 2  # c\n"
        # Applied, it leaves nothing more to do.
        path = tmp_path / "f.vyr"
        await published(client, lambda: change_document(client, path, 2, edit.new_text), uri)
        again = await asyncio.wait_for(
            client.text_document_formatting_async(
                types.DocumentFormattingParams(
                    text_document=types.TextDocumentIdentifier(uri=uri),
                    options=types.FormattingOptions(tab_size=2, insert_spaces=True),
                )
            ),
            STEP_SECONDS,
        )
        assert not again


async def test_the_example_drone_file_answers_every_request(client):
    """The repository's example, opened from the repository root as a project."""
    path = ROOT / "examples" / "courier-7.vyr"
    text = path.read_text(encoding="utf-8")
    await start(client, ROOT)
    [diagnostics] = await published(client, lambda: open_document(client, path, text), path.as_uri())
    assert diagnostics == []
    lines = text.split("\n")
    uri = path.as_uri()
    max_speed = next(i for i, line in enumerate(lines) if line.startswith("max_speed"))
    hover = await hover_text(client, uri, max_speed, 1)
    assert "schema `Drone`" in hover and "drone-base.vyr" in hover
    derive = next(i for i, line in enumerate(lines) if line.startswith("@derive"))
    [(target, _, _)] = await definitions(client, uri, derive, 12)
    assert target == (ROOT / "examples" / "drone-base.vyr").as_uri()
    # The repository holds a build tree far larger than the walk's budget; its own files still come.
    assert "examples/drone-base.vyr" in await labels(client, uri, derive, 8)
    # Drone's fields all have values, here or from the base; Endpoint's are top-level keys nobody set.
    assert await labels(client, uri, len(lines) - 1, 0) == ["host", "port", "tls"]
    result = await asyncio.wait_for(
        client.text_document_document_symbol_async(
            types.DocumentSymbolParams(text_document=types.TextDocumentIdentifier(uri=uri))
        ),
        STEP_SECONDS,
    )
    assert ("Identity", types.SymbolKind.Struct) in [(s.name, s.kind) for s in result]


async def test_the_broken_example_shows_the_derived_from_chain(client):
    """courier-10 derives from courier-9, whose telemetry endpoint lacks its port."""
    path = ROOT / "examples" / "broken" / "courier-10.vyr"
    text = path.read_text(encoding="utf-8")
    await start(client, ROOT)
    [[diagnostic]] = await published(client, lambda: open_document(client, path, text), path.as_uri())
    derive = next(i for i, line in enumerate(text.split("\n")) if line.startswith("@derive"))
    assert diagnostic.range.start.line == derive
    assert diagnostic.message.startswith("Schema 'Drone' validation error: field 'telemetry'")
    assert [(r.location.uri, r.location.range.start.line, r.message) for r in diagnostic.related_information] == [
        ((ROOT / "examples" / "broken" / "courier-9.vyr").as_uri(), 9, "in examples/broken/courier-9.vyr, line 10"),
        (path.as_uri(), derive, f"derived from {path}, line {derive + 1}"),
    ]
