"""`vyrl lsp` driven by a real language-server client, as an editor drives it."""

import subprocess

import pytest
from lsprotocol import types

from conftest import VYRL, change_document, open_document, published, span, start

pytestmark = [pytest.mark.asyncio, pytest.mark.timeout(60)]


def check_message(root, name, text):
    """What `vyrl check` says about `text` as the file `name`, run from `root`: the message after "path:line: "."""
    (root / name).write_text(text, encoding="utf-8")
    done = subprocess.run([str(VYRL), "check", name], cwd=root, capture_output=True, timeout=30)
    first = done.stderr.decode("utf-8").splitlines()[0]
    return first.split(": ", 1)[1]


async def test_initialize_offers_what_the_server_does(client, tmp_path):
    result = await start(client, tmp_path)
    capabilities = result.capabilities
    assert capabilities.position_encoding == types.PositionEncodingKind.Utf16
    assert capabilities.text_document_sync.change == types.TextDocumentSyncKind.Incremental
    assert capabilities.text_document_sync.open_close is True
    assert list(capabilities.code_action_provider.code_action_kinds) == [types.CodeActionKind.QuickFix]
    assert result.server_info.name == "vyrl"


DIAGNOSTICS = [
    # name, text, range of the failure (line, start, end line, end)
    ("statement without '='", "a = 1\n  broken line  # note\n", (1, 2, 1, 13)),
    ("empty key", "a = 1\n = 3\n", (1, 1, 1, 4)),
    ("value failing its type", "@schema S { port: i32 }\nport = fast # c\n", (1, 7, 1, 11)),
    ("unknown directive", "a = 1\n\n  @nope x # c\n", (2, 2, 2, 9)),
    ("list with a bad item", "@schema S { ports: list<i32> }\nports = [1, x]\n", (1, 8, 1, 14)),
]


@pytest.mark.parametrize("name, text, where", DIAGNOSTICS, ids=[d[0] for d in DIAGNOSTICS])
async def test_diagnostics_cover_the_failing_part_with_the_checks_message(client, tmp_path, name, text, where):
    await start(client, tmp_path)
    path = tmp_path / "doc.vyr"
    expected = check_message(tmp_path, "doc.vyr", text)
    (path).write_text("unrelated = text on disk\n")  # the open text wins
    [diagnostics] = await published(client, lambda: open_document(client, path, text), path.as_uri())
    assert [(d.message, span(d), d.severity) for d in diagnostics] == [
        (expected, where, types.DiagnosticSeverity.Error)
    ]

    # Saving checks again, still from the editor's text rather than the file.
    save = types.DidSaveTextDocumentParams(text_document=types.TextDocumentIdentifier(uri=path.as_uri()))
    [diagnostics] = await published(client, lambda: client.text_document_did_save(save), path.as_uri())
    assert [(d.message, span(d)) for d in diagnostics] == [(expected, where)]

    [diagnostics] = await published(client, lambda: change_document(client, path, 2, "a = 1\n"), path.as_uri())
    assert diagnostics == []


async def test_a_failure_down_the_chain_sits_on_the_import_line_and_names_every_file(client, tmp_path):
    await start(client, tmp_path)
    (tmp_path / "types.vyr").write_text("@schema S { port: i32 }\n")
    (tmp_path / "sub.vyr").write_text("@derive types.vyr\nport = fast\n")
    main_text = "a = 1\n@import sub.vyr   # the rest\n"
    expected = check_message(tmp_path, "main.vyr", main_text)
    main = tmp_path / "main.vyr"

    [[diagnostic]] = await published(client, lambda: open_document(client, main, main_text), main.as_uri())
    assert (diagnostic.message, span(diagnostic)) == (expected, (1, 0, 1, 15))
    assert [
        (r.location.uri, span(r.location), r.message) for r in diagnostic.related_information
    ] == [
        ((tmp_path / "sub.vyr").as_uri(), (1, 7, 1, 11), "in sub.vyr, line 2"),
        (main.as_uri(), (1, 0, 1, 15), f"imported from {main}, line 2"),
    ]

    # Opening the imported file and fixing it there, unsaved, fixes the importer.
    sub = tmp_path / "sub.vyr"
    main_diagnostics, _ = await published(
        client, lambda: open_document(client, sub, "@derive types.vyr\nport = fast\n"), main.as_uri(), sub.as_uri()
    )
    assert [d.message for d in main_diagnostics] == [expected]
    main_diagnostics, sub_diagnostics = await published(
        client, lambda: change_document(client, sub, 2, (1, 7, 1, 11, "8080")), main.as_uri(), sub.as_uri()
    )
    assert (main_diagnostics, sub_diagnostics) == ([], [])
    assert (tmp_path / "sub.vyr").read_text() == "@derive types.vyr\nport = fast\n"

    # Closed again, the file on disk counts once more.
    client.text_document_did_close(
        types.DidCloseTextDocumentParams(text_document=types.TextDocumentIdentifier(uri=sub.as_uri()))
    )
    [main_diagnostics] = await published(client, lambda: None, main.as_uri())
    assert [d.message for d in main_diagnostics] == [expected]


HINTS = [
    # name, text, range of the failure, the hint, the range it points at (where the mistake is)
    ("colon apart", "a = 1\n@schema S { port : i32 }\n", (1, 0, 1, 24),
     "a field is written 'name: type', with the ':' right after the name", (1, 0, 1, 24)),
    ("list alias", "@type ids = list<i32>\n@schema S { xs: ids }\nxs = [1]\n", (2, 5, 2, 8),
     "a list type cannot be aliased; write 'list<i32>' where it is used", (2, 5, 2, 8)),
    ("bare import", "a = 1\n@import   # nothing\n", (1, 0, 1, 7),
     "@import needs the path of a file, e.g. '@import other.vyr'", (1, 0, 1, 7)),
    ("i32 out of range", "@schema S { port: i32 }\nport = 99999999999\n", (1, 7, 1, 18),
     "the integer is out of the range of i32 (-2147483648 to 2147483647)", (1, 7, 1, 18)),
    ("block never closed", "a = 1\n@schema S {\n  port: i32\n", (1, 0, 1, 11),
     "the '{' opened on line 2 is never closed; end the block with '}'", (1, 0, 1, 11)),
    ("object over lines", "a = 1\nx = {\n  y = 2\n}\n", (3, 0, 3, 1),
     "the value opened on line 2 must close on that same line: an assignment cannot go on over lines", (1, 4, 1, 5)),
]


@pytest.mark.parametrize("text, where, hint, pointed", [h[1:] for h in HINTS], ids=[h[0] for h in HINTS])
async def test_a_mechanical_mistake_gets_its_hint_beside_the_checks_message(client, tmp_path, text, where, hint,
                                                                            pointed):
    await start(client, tmp_path)
    path = tmp_path / "doc.vyr"
    expected = check_message(tmp_path, "doc.vyr", text)
    [[diagnostic, *_warnings]] = await published(client, lambda: open_document(client, path, text), path.as_uri())
    assert (diagnostic.message, span(diagnostic)) == (expected, where)
    assert [(r.location.uri, span(r.location), r.message) for r in diagnostic.related_information or []] == [
        (path.as_uri(), pointed, hint)
    ]


async def test_a_misspelt_type_name_has_a_quick_fix_that_fixes_the_file(client, tmp_path):
    await start(client, tmp_path)
    path = tmp_path / "car.vyr"
    text = "@schema Car { speed: physics::meter_per_secnd }\nspeed = 3\n"
    [[diagnostic]] = await published(client, lambda: open_document(client, path, text), path.as_uri())

    actions = await client.text_document_code_action_async(
        types.CodeActionParams(
            text_document=types.TextDocumentIdentifier(uri=path.as_uri()),
            range=types.Range(start=types.Position(line=1, character=0), end=types.Position(line=1, character=0)),
            context=types.CodeActionContext(diagnostics=[diagnostic]),
        )
    )
    assert [(a.title, a.kind, a.is_preferred) for a in actions][:1] == [
        ("Change to 'physics::meterPerSecond'", types.CodeActionKind.QuickFix, True)
    ]
    [edit] = actions[0].edit.changes[path.as_uri()]
    assert (span(edit), edit.new_text) == ((0, 21, 0, 45), "physics::meterPerSecond")

    fixed = (0, 21, 0, 45, edit.new_text)
    [diagnostics] = await published(client, lambda: change_document(client, path, 2, fixed), path.as_uri())
    assert diagnostics == []

    # A file without the failure offers nothing.
    nothing = await client.text_document_code_action_async(
        types.CodeActionParams(
            text_document=types.TextDocumentIdentifier(uri=path.as_uri()),
            range=types.Range(start=types.Position(line=1, character=0), end=types.Position(line=1, character=0)),
            context=types.CodeActionContext(diagnostics=[]),
        )
    )
    assert list(nothing) == []


ENCODINGS = [
    # what the client offers, what the server picks, the columns of "😀x" and of its "x"
    (None, types.PositionEncodingKind.Utf16, (4, 7), (6, 7)),
    (["utf-8", "utf-16"], types.PositionEncodingKind.Utf8, (4, 9), (8, 9)),
    (["utf-16"], types.PositionEncodingKind.Utf16, (4, 7), (6, 7)),
]


@pytest.mark.parametrize("offered, chosen, value, letter", ENCODINGS, ids=["default", "utf-8", "utf-16"])
async def test_columns_count_the_negotiated_units_on_non_ascii_lines(client, tmp_path, offered, chosen, value, letter):
    result = await start(client, tmp_path, offered)
    assert result.capabilities.position_encoding == chosen
    path = tmp_path / "wide.vyr"
    text = '@schema S { n: i32 }\nname = "é€😀" # x\nn = 😀x\n'
    [[diagnostic]] = await published(client, lambda: open_document(client, path, text), path.as_uri())
    assert span(diagnostic) == (2, value[0], 2, value[1])

    # An edit just after the surrogate pair lands after it, not inside it.
    change = (2, letter[0], 2, letter[1], "y")
    [[diagnostic]] = await published(client, lambda: change_document(client, path, 2, change), path.as_uri())
    assert "got '😀y'" in diagnostic.message
    change = (2, value[0], 2, value[1], "7")
    [diagnostics] = await published(client, lambda: change_document(client, path, 3, change), path.as_uri())
    assert diagnostics == []


WARNINGS = [
    # name, text, the warning's range, its message, the first fix's title and text
    (
        "field",
        "@schema S { port: i23 }\n",
        (0, 18, 0, 21),
        "type 'i23' names nothing; did you mean 'i32'?",
        ("Change to 'i32'", "i32"),
    ),
    (
        "chained alias",
        "@type a = f64\n@type b = a\n",
        (1, 10, 1, 11),
        "alias 'b' accepts no value: 'a' is an alias, and aliases do not chain; define it as 'f64'",
        ("Change to 'f64'", "f64"),
    ),
    # U+FEFF is one UTF-16 unit.
    ("mark", "\ufeffx = 1\n", (0, 0, 0, 1), "the byte-order mark becomes part of the first line", ("Remove the byte-order mark", "")),
]


@pytest.mark.parametrize("text, where, message, fix", [w[1:] for w in WARNINGS], ids=[w[0] for w in WARNINGS])
async def test_a_warning_is_published_with_its_quick_fix(client, tmp_path, text, where, message, fix):
    await start(client, tmp_path)
    path = tmp_path / "w.vyr"
    [[diagnostic]] = await published(client, lambda: open_document(client, path, text), path.as_uri())
    assert (span(diagnostic), diagnostic.severity, diagnostic.message) == (
        where,
        types.DiagnosticSeverity.Warning,
        message,
    )

    actions = await client.text_document_code_action_async(
        types.CodeActionParams(
            text_document=types.TextDocumentIdentifier(uri=path.as_uri()),
            range=types.Range(
                start=types.Position(line=where[0], character=0), end=types.Position(line=where[0], character=0)
            ),
            context=types.CodeActionContext(diagnostics=[diagnostic]),
        )
    )
    assert (actions[0].title, actions[0].kind) == (fix[0], types.CodeActionKind.QuickFix)
    [edit] = actions[0].edit.changes[path.as_uri()]
    assert (span(edit), edit.new_text) == (where, fix[1])

    [diagnostics] = await published(client, lambda: change_document(client, path, 2, (*where, fix[1])), path.as_uri())
    assert diagnostics == []


async def test_a_misspelt_directive_fails_and_its_error_carries_the_fix(client, tmp_path):
    await start(client, tmp_path)
    path = tmp_path / "d.vyr"
    text = "x = 1\n@shcema S { x: i32 }\n"
    [[diagnostic]] = await published(client, lambda: open_document(client, path, text), path.as_uri())
    assert diagnostic.severity == types.DiagnosticSeverity.Error

    actions = await client.text_document_code_action_async(
        types.CodeActionParams(
            text_document=types.TextDocumentIdentifier(uri=path.as_uri()),
            range=types.Range(start=types.Position(line=1, character=3), end=types.Position(line=1, character=3)),
            context=types.CodeActionContext(diagnostics=[diagnostic]),
        )
    )
    assert [a.title for a in actions] == ["Change to '@schema'"]
    [edit] = actions[0].edit.changes[path.as_uri()]
    assert (span(edit), edit.new_text) == ((1, 0, 1, 7), "@schema")
