"""Semantic tokens: what each piece of a document is coloured as, held to what loading reads there."""

import asyncio
import json
import re
import subprocess

import pytest
from lsprotocol import types

from conftest import ROOT, STEP_SECONDS, VYRL, change_document, open_document, published, start

pytestmark = pytest.mark.timeout(60)
asynchronous = pytest.mark.asyncio

UTF8, UTF16 = types.PositionEncodingKind.Utf8, types.PositionEncodingKind.Utf16


async def opened(client, root, text, encodings=None, name="t.vyr", files=None):
    """Starts a session in `root` with `files` on disk and `text` open as `name`; returns the legend and the URI."""
    for file, content in (files or {}).items():
        (root / file).write_text(content, encoding="utf-8")
    result = await start(client, root, encodings)
    path = root / name
    await published(client, lambda: open_document(client, path, text), path.as_uri())
    provider = result.capabilities.semantic_tokens_provider
    encoding = result.capabilities.position_encoding
    return (provider.legend, encoding), path.as_uri()


async def tokens(client, session, uri, text, range=None):
    """The tokens as (line, column, text, type, sorted modifiers), decoded as a client decodes them."""
    document = types.TextDocumentIdentifier(uri=uri)
    if range is None:
        asked = client.text_document_semantic_tokens_full_async(types.SemanticTokensParams(text_document=document))
    else:
        (sl, sc), (el, ec) = range
        asked = client.text_document_semantic_tokens_range_async(
            types.SemanticTokensRangeParams(
                text_document=document,
                range=types.Range(start=types.Position(line=sl, character=sc), end=types.Position(line=el, character=ec)),
            )
        )
    result = await asyncio.wait_for(asked, STEP_SECONDS)
    return decode(session, text, result.data)


def decode(session, text, data):
    (legend, encoding) = session
    lines = re.split(r"\r?\n", text)
    out, line, column = [], 0, 0
    assert len(data) % 5 == 0
    for at in range(0, len(data), 5):
        delta_line, delta_start, length, kind, bits = data[at : at + 5]
        line += delta_line
        column = column + delta_start if delta_line == 0 else delta_start
        if encoding == UTF8:
            piece = lines[line].encode("utf-8")[column : column + length].decode("utf-8")
        else:
            piece = lines[line].encode("utf-16-le")[2 * column : 2 * (column + length)].decode("utf-16-le")
        modifiers = sorted(name for bit, name in enumerate(legend.token_modifiers) if bits >> bit & 1)
        out.append((line, column, piece, legend.token_types[kind], modifiers))
    return out


def comments(found):
    return {line: piece for line, _, piece, kind, _ in found if kind == "comment"}


def formatted(text):
    done = subprocess.run([str(VYRL), "fmt", "-"], input=text.encode(), capture_output=True, timeout=30)
    return done.stdout.decode() if done.returncode == 0 else None


COMMENTS = [
    # a line, and the comment loading cuts from it (None: it has none)
    ("# a comment line", "# a comment line"),
    ("port = 8080                   # a comment", "# a comment"),
    ('size = 10 #px                 # "#px" belongs to the value; the second "#" starts the comment',
     '# "#px" belongs to the value; the second "#" starts the comment'),
    ('accent = #FF8800              # the first "#" is part of the value', '# the first "#" is part of the value'),
    ("label = 'build # 42'          # inside quotes: no comment", "# inside quotes: no comment"),
    ('#note = 1                     # not a comment either: this is the key "#note"',
     '# not a comment either: this is the key "#note"'),
    ("name = it's # here", None),
    ('name = say "hi # there', None),
    ("#", "#"),
    ("a = 1 #", "#"),
    ("\ttab\t=\t#FF880080\t#\ttabbed", "#\ttabbed"),
    ("a = x\f#\fy", "#\fy"),  # loading takes a form feed for a blank here
    ("a = x#y", None),
    ("a =# b", None),
    ("a = x\v# y", None),
    ("a = x\u00a0# y", None),
    ("it's = 1 # c", None),
    ("'a=b' = c # d", "# d"),
    ("a'b' = c # d", "# d"),
    ("a # b = 1", "# b = 1"),
    ("l = [a, # b", "# b"),
    ("x = '#' # '#'", "# '#'"),
]


@asynchronous
async def test_comments_are_coloured_exactly_where_loading_cuts_them(client, tmp_path):
    text = "\n".join(line for line, _ in COMMENTS) + "\n"
    session, uri = await opened(client, tmp_path, text)
    found = comments(await tokens(client, session, uri, text))
    assert found == {number: comment for number, (_, comment) in enumerate(COMMENTS) if comment is not None}
    # The formatter, which lays the code and the comment out apart, cuts each line where the token does.
    for number, (line, comment) in enumerate(COMMENTS):
        whole = formatted(line + "\n")
        if whole is None or comment is None:
            continue
        code = line[: len(line) - len(comment)].rstrip(" \t")
        expected = comment + "\n" if not code else formatted(code + "\n").rstrip("\n") + "  " + comment + "\n"
        assert whole == expected, line


def test_every_comment_line_of_the_language_page_has_a_case():
    page = (ROOT / "docs" / "language.md").read_text(encoding="utf-8")
    block = page.split("## Comments")[1].split("```text\n")[1].split("```")[0]
    cases = {line for line, _ in COMMENTS}
    assert [line for line in block.splitlines() if line not in cases] == []


TYPES = "@type speed = physics::meterPerSecond\n@schema Drone { name: string, top: speed }\n"
P, S, N, C, K, T, CL, TP, U = (
    "property", "string", "number", "comment", "keyword", "type", "class", "typeParameter", "enumMember"
)
DECL, LIB = ["declaration"], ["defaultLibrary"]

TOKENS = [
    # what, a line, its tokens as (text, type, modifiers)
    ("plain and quoted values", "name = alpha beta", [("name", P, []), ("alpha beta", S, [])]),
    ("quoted text stays text", "port = '8080'  # c", [("port", P, []), ("'8080'", S, []), ("# c", C, [])]),
    ("numbers", "a = -1.5e3", [("a", P, []), ("-1.5e3", N, [])]),
    ("infinity is a number", "a = inf", [("a", P, []), ("inf", N, [])]),
    ("a number with text is text", "size = 10 #px", [("size", P, []), ("10 #px", S, [])]),
    ("colours", "c = #FF880080", [("c", P, []), ("#FF880080", N, ["color"])]),
    ("not quite a colour", "c = #FF88", [("c", P, []), ("#FF88", S, [])]),
    ("empty value", "empty =", [("empty", P, [])]),
    ("a key with spaces", "my key = 1", [("my key", P, []), ("1", N, [])]),
    ("list items", "l = [80, 'a, b', #000000, [1, x]]",
     [("l", P, []), ("80", N, []), ("'a", S, []), ("b'", S, []), ("#000000", N, ["color"]), ("1", N, []), ("x", S, [])]),
    ("inline object", "db = { host = 'a b', port: 5432, inner = { x = 1 } }",
     [("db", P, []), ("host", P, []), ("'a b'", S, []), ("port", P, []), ("5432", N, []), ("inner", P, []),
      ("x", P, []), ("1", N, [])]),
    ("an object that does not read is text", "o = { nothing }", [("o", P, []), ("{ nothing }", S, [])]),
    ("import path", "@import   other.vyr  # c", [("@import", K, []), ("other.vyr", S, ["path"]), ("# c", C, [])]),
    ("quoted import path", '@import "my file.vyr"', [("@import", K, []), ('"my file.vyr"', S, ["path"])]),
    ("derive path and selectors", "@derive base.vyr::Drone::Other",
     [("@derive", K, []), ("base.vyr", S, ["path"]), ("Drone", CL, []), ("Other", CL, [])]),
    ("alias of a unit", "@type fast = physics::Meter_Per_Second",
     [("@type", K, []), ("fast", TP, DECL), ("physics::Meter_Per_Second", U, LIB)]),
    ("alias of a built-in type", "@type when = time::datetime", [("@type", K, []), ("when", TP, DECL), ("time::datetime", T, LIB)]),
    ("schema fields and types", "@schema S { a: i32, b*: list<physics::byte>, c: speed, d: Drone, e: nope }",
     [("@schema", K, []), ("S", CL, DECL), ("a", P, DECL), ("i32", T, LIB), ("b", P, DECL), ("list", T, LIB),
      ("physics::byte", U, LIB), ("c", P, DECL), ("speed", TP, []), ("d", P, DECL), ("Drone", CL, []), ("e", P, DECL),
      ("nope", T, [])]),
    ("a schema of its own names a type", "@schema Point { x: f64 }\n@schema Line { a: Point, b: list<Point> }",
     [("@schema", K, []), ("Point", CL, DECL), ("x", P, DECL), ("f64", T, LIB), ("@schema", K, []), ("Line", CL, DECL),
      ("a", P, DECL), ("Point", CL, []), ("b", P, DECL), ("list", T, LIB), ("Point", CL, [])]),
    ("an alias wins over a built-in name", "@type i32 = f64\n@schema S { a: i32 }",
     [("@type", K, []), ("i32", TP, DECL), ("f64", T, LIB), ("@schema", K, []), ("S", CL, DECL), ("a", P, DECL),
      ("i32", TP, [])]),
    ("a refused line keeps its comment alone", "port 8080  # c", [("# c", C, [])]),
    ("a refused directive keeps its name", "@import   # nothing", [("@import", K, []), ("# nothing", C, [])]),
    ("an unknown directive is not one", "@nope x", []),
]


@asynchronous
@pytest.mark.parametrize("text, expected", [t[1:] for t in TOKENS], ids=[t[0] for t in TOKENS])
async def test_each_piece_is_coloured_as_what_it_is(client, tmp_path, text, expected):
    text = "@import types.vyr\n" + text + "\n"
    session, uri = await opened(client, tmp_path, text, files={"types.vyr": TYPES})
    found = await tokens(client, session, uri, text)
    assert found[:2] == [(0, 0, "@import", K, []), (0, 8, "types.vyr", S, ["path"])]
    assert [(piece, kind, modifiers) for _, _, piece, kind, modifiers in found[2:]] == expected


BLOCK = (
    "@schema Server {   # the server\n"   # 0
    "  host: string     # its name\n"      # 1
    "\n"                                   # 2
    "  port: i32\n"                        # 3
    "}\n"                                  # 4
    "@derive 'base {  # x\n"               # 5: the quote runs on, so no comment starts
    "  more # y\n"                         # 6: but each line is read for its own comment
    "   b.vyr }'::S\r\n"                   # 7
    "k = 😀 # é\n"                         # 8
)
BLOCK_TOKENS = [
    ("@schema", K, []), ("Server", CL, DECL), ("# the server", C, []), ("host", P, DECL), ("string", T, LIB),
    ("# its name", C, []), ("port", P, DECL), ("i32", T, LIB), ("@derive", K, []), ("'base {  # x", S, ["path"]),
    ("more", S, ["path"]), ("# y", C, []), ("b.vyr }'", S, ["path"]), ("S", CL, []), ("k", P, []), ("😀", S, []), ("# é", C, []),
]


@asynchronous
@pytest.mark.parametrize("encoding", [UTF16, UTF8], ids=["utf-16", "utf-8"])
async def test_blocks_are_cut_a_line_at_a_time_in_the_clients_units(client, tmp_path, encoding):
    session, uri = await opened(client, tmp_path, BLOCK, encodings=[encoding])
    assert session[1] == encoding
    found = await tokens(client, session, uri, BLOCK)
    # Decoding in the client's units gives back each piece's text: its columns and lengths are right.
    assert [(piece, kind, modifiers) for _, _, piece, kind, modifiers in found] == BLOCK_TOKENS
    assert [line for line, *_ in found] == [0, 0, 0, 1, 1, 1, 3, 3, 5, 5, 6, 6, 7, 7, 8, 8, 8]


RANGES = [
    # what, start, end (line, column), the lines of the whole-text tokens expected
    ("lines inside a block", (1, 0), (3, 99), [1, 1, 1, 3, 3]),
    ("from inside a character to where a comment starts", (8, 5), (8, 7), [8]),
    ("nothing but blanks", (8, 3), (8, 4), []),
    ("past the end", (8, 0), (99, 0), [8, 8, 8]),
    ("back to front", (3, 99), (1, 0), [1, 1, 1, 3, 3]),
    ("a block's later line", (7, 0), (7, 4), [7]),
]


@asynchronous
@pytest.mark.parametrize("start, end, lines", [r[1:] for r in RANGES], ids=[r[0] for r in RANGES])
async def test_a_range_gets_the_whole_texts_tokens_that_touch_it(client, tmp_path, start, end, lines):
    session, uri = await opened(client, tmp_path, BLOCK)
    whole = await tokens(client, session, uri, BLOCK)
    part = await tokens(client, session, uri, BLOCK, (start, end))
    (sl, sc), (el, ec) = sorted([start, end])
    inside = [
        token for token in whole
        if (sl, sc) < (token[0], token[1] + len(token[2].encode("utf-16-le")) // 2) and (token[0], token[1]) < (el, ec)
    ]
    assert part == inside
    assert [line for line, *_ in part] == lines


@asynchronous
async def test_tokens_follow_the_open_text_and_unknown_documents_have_none(client, tmp_path):
    session, uri = await opened(client, tmp_path, "a = 1\n")
    path = tmp_path / "t.vyr"
    await published(client, lambda: change_document(client, path, 2, (0, 4, 0, 5, "'x'")), uri)
    assert await tokens(client, session, uri, "a = 'x'\n") == [(0, 0, "a", P, []), (0, 4, "'x'", S, [])]
    nothing = await asyncio.wait_for(
        client.text_document_semantic_tokens_full_async(
            types.SemanticTokensParams(text_document=types.TextDocumentIdentifier(uri=(tmp_path / "no.vyr").as_uri()))
        ),
        STEP_SECONDS,
    )
    assert nothing is None


@asynchronous
async def test_nesting_past_the_limit_is_coloured_whole(client, tmp_path):
    deep = "[" * 100_000 + "1" + "]" * 100_000
    text = f"shallow = [[[1]]]\ndeep = {deep}\n"
    session, uri = await opened(client, tmp_path, text)
    found = await tokens(client, session, uri, text)
    assert [(line, column, piece[:3], kind) for line, column, piece, kind, _ in found] == [
        (0, 0, "sha", P), (0, 13, "1", N), (1, 0, "dee", P), (1, len("deep = ") + 32, "[[[", S)
    ]


def test_the_documented_legend_is_the_advertised_one():
    page = (ROOT / "docs" / "editors.md").read_text(encoding="utf-8")
    section = page.split("### Semantic tokens")[1].split("\n## ")[0]
    documented = re.findall(r"^\| `(\w+)` \| (type|modifier) \|", section, re.MULTILINE)
    body = b'{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}'
    done = subprocess.run(
        [str(VYRL), "lsp"], input=b"Content-Length: %d\r\n\r\n" % len(body) + body, capture_output=True, timeout=30
    )
    answer = json.loads(done.stdout.partition(b"\r\n\r\n")[2])
    legend = answer["result"]["capabilities"]["semanticTokensProvider"]["legend"]
    assert [name for name, what in documented if what == "type"] == legend["tokenTypes"]
    assert [name for name, what in documented if what == "modifier"] == legend["tokenModifiers"]
