"""The editor grammar, run through a TextMate engine: which scope each piece of a line gets.

A highlighter that disagrees with the library misleads: a value shown as a
comment is the worst case, so every comment rule of the language has a row.
"""

import json
import logging
import os
import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
GRAMMAR = ROOT / "editors" / "vyrl.tmLanguage.json"
CONFIGURATION = ROOT / "editors" / "language-configuration.json"

KEY = "variable.other.key.vyr"
EQ = "keyword.operator.assignment.vyr"
COMMENT = "comment.line.number-sign.vyr"
TEXT = "string.unquoted.vyr"
DQ = "string.quoted.double.vyr"
SQ = "string.quoted.single.vyr"
QUOTED = "string.quoted.vyr"
NUM = "constant.numeric.vyr"
COLOR = "constant.other.color.vyr"
BOOL = "constant.language.boolean.vyr"
DATETIME = "constant.other.datetime.vyr"
DURATION = "constant.other.duration.vyr"
COMMA = "punctuation.separator.comma.vyr"
OBJ_OPEN, OBJ_CLOSE = "punctuation.section.object.begin.vyr", "punctuation.section.object.end.vyr"
LIST_OPEN, LIST_CLOSE = "punctuation.section.list.begin.vyr", "punctuation.section.list.end.vyr"
BLOCK_OPEN, BLOCK_CLOSE = "punctuation.section.block.begin.vyr", "punctuation.section.block.end.vyr"
DIRECTIVE = "keyword.control.directive.vyr"
BAD_DIRECTIVE = "invalid.illegal.directive.vyr"
UNKNOWN_ARGS = "meta.directive.unknown.vyr"
BAD_LINE = "invalid.illegal.line.vyr"
BAD_TYPE = "invalid.illegal.type.vyr"
PATH = "string.unquoted.path.vyr"
SELECTOR = "punctuation.separator.selector.vyr"
SCHEMA = "entity.name.type.schema.vyr"
ALIAS = "entity.name.type.alias.vyr"
TYPE = "entity.name.type.vyr"
PRIMITIVE = "support.type.primitive.vyr"
TIME, MATH, PHYSICS = "support.type.time.vyr", "support.type.math.vyr", "support.type.physics.vyr"
LIST, LT, GT = "support.type.list.vyr", "punctuation.definition.generic.begin.vyr", "punctuation.definition.generic.end.vyr"
FIELD = "variable.other.field.vyr"
OPTIONAL = "keyword.operator.optional.vyr"
COLON = "punctuation.separator.key-value.vyr"


@pytest.fixture(scope="module")
def parser(tmp_path_factory):
    # Importing the engine creates a cache folder in the working directory;
    # keep it out of the checkout.
    here = os.getcwd()
    os.chdir(tmp_path_factory.mktemp("engine"))
    try:
        from textmate_grammar.parsers.base import LanguageParser
    finally:
        os.chdir(here)
    return LanguageParser(json.loads(GRAMMAR.read_text(encoding="utf-8")))


def tokens(parser, text):
    """Each token of `text` without its surrounding blanks, and its innermost scope, in order.

    The engine joins neighbours that share their scopes, blanks included.
    """
    element = parser.parse_string(text)
    assert element is not None
    return [(content.strip(" \t"), scopes[-1]) for _, content, scopes in element.flatten() if not content.isspace()]


COMMENT_CASES = [
    ("# a comment line", [("# a comment line", COMMENT)]),
    ("port = 8080                   # a comment", [("port", KEY), ("=", EQ), ("8080", NUM), ("# a comment", COMMENT)]),
    ("size = 10 #px   # second", [("size", KEY), ("=", EQ), ("10", NUM), ("#px", TEXT), ("# second", COMMENT)]),
    ("accent = #FF8800    # c", [("accent", KEY), ("=", EQ), ("#FF8800", COLOR), ("# c", COMMENT)]),
    ("label = 'build # 42'   # c", [("label", KEY), ("=", EQ), ("'build # 42'", SQ), ("# c", COMMENT)]),
    ('label = "build # 42"   # c', [("label", KEY), ("=", EQ), ('"build # 42"', DQ), ("# c", COMMENT)]),
    ("#note = 1     # c", [("#note", KEY), ("=", EQ), ("1", NUM), ("# c", COMMENT)]),
    # An apostrophe in plain text opens a quote that never closes.
    ("name = it's # here", [("name", KEY), ("=", EQ), ("it", TEXT), ("'s # here", SQ)]),
    ('name = say "hi # there', [("name", KEY), ("=", EQ), ("say", TEXT), ('"hi # there', DQ)]),
    # The line edge counts as white space on either side.
    ("#", [("#", COMMENT)]),
    ("a = 1 #", [("a", KEY), ("=", EQ), ("1", NUM), ("#", COMMENT)]),
    ("\ttab\t=\t#FF880080\t#\ttabbed", [("tab", KEY), ("=", EQ), ("#FF880080", COLOR), ("#\ttabbed", COMMENT)]),
    ("a = x\f#\fy", [("a", KEY), ("=", EQ), ("x", TEXT), ("#\fy", COMMENT)]),
    # Touching text on either side keeps the "#" in the value.
    ("a = x#y", [("a", KEY), ("=", EQ), ("x#y", TEXT)]),
    ("a =# b", [("a", KEY), ("=", EQ), ("#", TEXT), ("b", TEXT)]),
    ("a = x\v# y", [("a", KEY), ("=", EQ), ("x\v#", TEXT), ("y", TEXT)]),
    ("a = x\u00a0# y", [("a", KEY), ("=", EQ), ("x\u00a0#", TEXT), ("y", TEXT)]),
    # A quote opened in the key runs on into the value.
    ("it's = 1 # c", [("it's", KEY), ("=", EQ), ("1 # c", QUOTED)]),
    ("'a=b' = c # d", [("'a", KEY), ("=", EQ), ("b'", QUOTED), ("=", TEXT), ("c", TEXT), ("# d", COMMENT)]),
    ("a'b' = c # d", [("a'b'", KEY), ("=", EQ), ("c", TEXT), ("# d", COMMENT)]),
    # The comment cuts the line before its "=": no assignment is left.
    ("a # b = 1", [("a", BAD_LINE), ("# b = 1", COMMENT)]),
    ("l = [a, # b", [("l", KEY), ("=", EQ), ("[", LIST_OPEN), ("a", TEXT), (",", COMMA), ("# b", COMMENT)]),
]

ASSIGNMENT_CASES = [
    ("my key = 1", [("my key", KEY), ("=", EQ), ("1", NUM)]),
    ("formula = a = b", [("formula", KEY), ("=", EQ), ("a", TEXT), ("=", TEXT), ("b", TEXT)]),
    ("x==y", [("x", KEY), ("=", EQ), ("=y", TEXT)]),
    ("a[i=1] = 2", [("a[i=1]", KEY), ("=", EQ), ("2", NUM)]),
    ("empty =", [("empty", KEY), ("=", EQ)]),
    ('name = "  spaced  "', [("name", KEY), ("=", EQ), ('"  spaced  "', DQ)]),
    ("  server.host = alpha.example", [("server.host", KEY), ("=", EQ), ("alpha.example", TEXT)]),
    ("= 5", [("=", BAD_LINE), ("5", BAD_LINE)]),
    ("port 8080", [("port", BAD_LINE), ("8080", BAD_LINE)]),
    ("a] = 1", [("a]", BAD_LINE), ("=", BAD_LINE), ("1", BAD_LINE)]),
    ("ip = 10.20.0.2", [("ip", KEY), ("=", EQ), ("10.20.0.2", TEXT)]),
    ("label = Pharmacy Mitte", [("label", KEY), ("=", EQ), ("Pharmacy", TEXT), ("Mitte", TEXT)]),
    ("window = PT2H30M", [("window", KEY), ("=", EQ), ("PT2H30M", DURATION)]),
    ("due = 2025-03-14T06:30:00+01:00", [("due", KEY), ("=", EQ), ("2025-03-14T06:30:00+01:00", DATETIME)]),
    ("on = False", [("on", KEY), ("=", EQ), ("False", BOOL)]),
    ("half = #FF88", [("half", KEY), ("=", EQ), ("#FF88", TEXT)]),
    (
        "f = -Infinity, NaN, 1., .5, 1e-3, +0",
        [("f", KEY), ("=", EQ), ("-Infinity", NUM), (",", COMMA), ("NaN", NUM), (",", COMMA), ("1.", NUM), (",", COMMA)]
        + [(".5", NUM), (",", COMMA), ("1e-3", NUM), (",", COMMA), ("+0", NUM)],
    ),
]

VALUE_SHAPE_CASES = [
    (
        "ports = [80, 443]",
        [("ports", KEY), ("=", EQ), ("[", LIST_OPEN), ("80", NUM), (",", COMMA), ("443", NUM), ("]", LIST_CLOSE)],
    ),
    (
        "grid = [[1], [2]]",
        [("grid", KEY), ("=", EQ), ("[", LIST_OPEN), ("[", LIST_OPEN), ("1", NUM), ("]", LIST_CLOSE), (",", COMMA)]
        + [("[", LIST_OPEN), ("2", NUM), ("]", LIST_CLOSE), ("]", LIST_CLOSE)],
    ),
    (
        "deep = [[[1]], 2]",
        [("deep", KEY), ("=", EQ), ("[", LIST_OPEN), ("[", LIST_OPEN), ("[", LIST_OPEN), ("1", NUM), ("]", LIST_CLOSE)]
        + [("]", LIST_CLOSE), (",", COMMA), ("2", NUM), ("]", LIST_CLOSE)],
    ),
    (
        "c = [#FF0000, #00FF0080]",
        [("c", KEY), ("=", EQ), ("[", LIST_OPEN), ("#FF0000", COLOR), (",", COMMA), ("#00FF0080", COLOR), ("]", LIST_CLOSE)],
    ),
    (
        "db = { host = alpha, port: 5432, inner = { x = 1 } }",
        [("db", KEY), ("=", EQ), ("{", OBJ_OPEN), ("host", KEY), ("=", EQ), ("alpha", TEXT), (",", COMMA)]
        + [("port", KEY), (":", EQ), ("5432", NUM), (",", COMMA), ("inner", KEY), ("=", EQ)]
        + [("{", OBJ_OPEN), ("x", KEY), ("=", EQ), ("1", NUM), ("}", OBJ_CLOSE), ("}", OBJ_CLOSE)],
    ),
    # The first ":" separates; the rest belongs to the value.
    ("s = { at: 12:30 }", [("s", KEY), ("=", EQ), ("{", OBJ_OPEN), ("at", KEY), (":", EQ), ("12:30", TEXT), ("}", OBJ_CLOSE)]),
    (
        "m = [{ a = 1 }, { b = \"x y\" }]",
        [("m", KEY), ("=", EQ), ("[", LIST_OPEN), ("{", OBJ_OPEN), ("a", KEY), ("=", EQ), ("1", NUM), ("}", OBJ_CLOSE)]
        + [(",", COMMA), ("{", OBJ_OPEN), ("b", KEY), ("=", EQ), ('"x y"', DQ), ("}", OBJ_CLOSE), ("]", LIST_CLOSE)],
    ),
    # Items of a list are values, never keys.
    ("t = [a = b]", [("t", KEY), ("=", EQ), ("[", LIST_OPEN), ("a", TEXT), ("=", TEXT), ("b", TEXT), ("]", LIST_CLOSE)]),
]

# Items and fields split at every comma outside brackets and braces, quoted or
# not; the quote still hides a "#" from the comment rule.
K = [("k", KEY), ("=", EQ)]
QUOTED_ITEM_CASES = [
    ("k = [a, 'b, c']", K + [("[", LIST_OPEN), ("a", TEXT), (",", COMMA), ("'b", SQ), (",", COMMA), ("c'", SQ), ("]", LIST_CLOSE)]),
    ('k = ["b, c", d]', K + [("[", LIST_OPEN), ('"b', DQ), (",", COMMA), ('c"', DQ), (",", COMMA), ("d", TEXT), ("]", LIST_CLOSE)]),
    ("k = [a, 'b, # c']", K + [("[", LIST_OPEN), ("a", TEXT), (",", COMMA), ("'b", SQ), (",", COMMA), ("# c'", SQ), ("]", LIST_CLOSE)]),
    # A comma inside brackets does not split, quoted or not.
    ("k = ['[b, c]', d]", K + [("[", LIST_OPEN), ("'[b, c]'", SQ), (",", COMMA), ("d", TEXT), ("]", LIST_CLOSE)]),
    ("k = { l = 'a, b' }", K + [("{", OBJ_OPEN), ("l", KEY), ("=", EQ), ("'a", SQ), (",", COMMA), ("b'", SQ), ("}", OBJ_CLOSE)]),
    # After the comma a new field starts, key and all.
    ('k = { a = "x, b = y" }',
     K + [("{", OBJ_OPEN), ("a", KEY), ("=", EQ), ('"x', DQ), (",", COMMA), ("b", KEY), ("=", EQ), ('y"', DQ), ("}", OBJ_CLOSE)]),
]

DIRECTIVE_CASES = [
    ("@import examples/fleet-types.vyr", [("@import", DIRECTIVE), ("examples/fleet-types.vyr", PATH)]),
    ('  @import "my settings.vyr"   # c', [("@import", DIRECTIVE), ('"my settings.vyr"', DQ), ("# c", COMMENT)]),
    ("@import my settings.vyr", [("@import", DIRECTIVE), ("my", PATH), ("settings.vyr", PATH)]),
    (
        "@derive examples/drone-base.vyr::Drone::Endpoint   # c",
        [("@derive", DIRECTIVE), ("examples/drone-base.vyr", PATH), ("::", SELECTOR), ("Drone", SCHEMA)]
        + [("::", SELECTOR), ("Endpoint", SCHEMA), ("# c", COMMENT)],
    ),
    (
        '@derive "my base.vyr" Drone::Endpoint',
        [("@derive", DIRECTIVE), ('"my base.vyr"', DQ), ("Drone", SCHEMA), ("::", SELECTOR), ("Endpoint", SCHEMA)],
    ),
    ("@derive my base.vyr::Drone", [("@derive", DIRECTIVE), ("my base.vyr", PATH), ("::", SELECTOR), ("Drone", SCHEMA)]),
    ("@derive base.vyr", [("@derive", DIRECTIVE), ("base.vyr", PATH)]),
    ("@type port = i32", [("@type", DIRECTIVE), ("port", ALIAS), ("=", EQ), ("i32", PRIMITIVE)]),
    ("@type speed = physics::meter_per_second", [("@type", DIRECTIVE), ("speed", ALIAS), ("=", EQ), ("physics::meter_per_second", PHYSICS)]),
    (
        "@type sizes = list<physics::byte>   # c",
        [("@type", DIRECTIVE), ("sizes", ALIAS), ("=", EQ), ("list", LIST), ("<", LT), ("physics::byte", PHYSICS), (">", GT)]
        + [("# c", COMMENT)],
    ),
    (
        "@type ids = list<list<i32>>",
        [("@type", DIRECTIVE), ("ids", ALIAS), ("=", EQ), ("list", LIST), ("<", LT), ("list", LIST), ("<", LT)]
        + [("i32", PRIMITIVE), (">", GT), (">", GT)],
    ),
    ("@type b = a", [("@type", DIRECTIVE), ("b", ALIAS), ("=", EQ), ("a", TYPE)]),
    ("@type t = time::week", [("@type", DIRECTIVE), ("t", ALIAS), ("=", EQ), ("time::week", BAD_TYPE)]),
    ("@type u = physics::parsecs", [("@type", DIRECTIVE), ("u", ALIAS), ("=", EQ), ("physics::parsecs", BAD_TYPE)]),
    ("@type v = Math::vector2", [("@type", DIRECTIVE), ("v", ALIAS), ("=", EQ), ("Math::vector2", BAD_TYPE)]),
    (
        "@schema Server { host: string, port: i32, timeout*: time::duration }",
        [("@schema", DIRECTIVE), ("Server", SCHEMA), ("{", BLOCK_OPEN), ("host", FIELD), (":", COLON), ("string", PRIMITIVE)]
        + [(",", COMMA), ("port", FIELD), (":", COLON), ("i32", PRIMITIVE), (",", COMMA)]
        + [("timeout", FIELD), ("*", OPTIONAL), (":", COLON), ("time::duration", TIME), ("}", BLOCK_CLOSE)],
    ),
    (
        "@schema Service { primary: Endpoint, mirrors*: list<Endpoint> }",
        [("@schema", DIRECTIVE), ("Service", SCHEMA), ("{", BLOCK_OPEN), ("primary", FIELD), (":", COLON), ("Endpoint", TYPE)]
        + [(",", COMMA), ("mirrors", FIELD), ("*", OPTIONAL), (":", COLON), ("list", LIST), ("<", LT), ("Endpoint", TYPE)]
        + [(">", GT), ("}", BLOCK_CLOSE)],
    ),
    (
        "@schema P {x:math::quaternion c:color}",
        [("@schema", DIRECTIVE), ("P", SCHEMA), ("{", BLOCK_OPEN), ("x", FIELD), (":", COLON), ("math::quaternion", MATH)]
        + [("c", FIELD), (":", COLON), ("color", PRIMITIVE), ("}", BLOCK_CLOSE)],
    ),
    # Without a brace the schema is refused, but its name is still a name.
    ("@schema Server  # c", [("@schema", DIRECTIVE), ("Server", SCHEMA), ("# c", COMMENT)]),
    ("@include x.vyr", [("@include", BAD_DIRECTIVE), ("x.vyr", UNKNOWN_ARGS)]),
    ("@importx y", [("@importx", BAD_DIRECTIVE), ("y", UNKNOWN_ARGS)]),
    # The name ends at white space only.
    ("@schema{ x: i32 }", [("@schema", BAD_DIRECTIVE), ("{", BLOCK_OPEN), ("x: i32", UNKNOWN_ARGS), ("}", BLOCK_CLOSE)]),
]


LINE_CASES = COMMENT_CASES + ASSIGNMENT_CASES + VALUE_SHAPE_CASES + QUOTED_ITEM_CASES + DIRECTIVE_CASES


@pytest.mark.parametrize("line, expected", LINE_CASES, ids=[repr(line) for line, _ in LINE_CASES])
def test_line_scopes(parser, line, expected):
    assert tokens(parser, line) == expected


MULTI_LINE_CASES = [
    (
        "@schema Server {\n  host: string          # name of the machine\n  port: i32\n}\nafter = 1",
        [("@schema", DIRECTIVE), ("Server", SCHEMA), ("{", BLOCK_OPEN), ("host", FIELD), (":", COLON), ("string", PRIMITIVE)]
        + [("# name of the machine", COMMENT), ("port", FIELD), (":", COLON), ("i32", PRIMITIVE), ("}", BLOCK_CLOSE)]
        + [("after", KEY), ("=", EQ), ("1", NUM)],
    ),
    # A brace in a comment is cut with the comment, so it does not close the block.
    (
        "@schema S {\n  a: i32  # } not yet\n  b*: list<physics::meter>\n}",
        [("@schema", DIRECTIVE), ("S", SCHEMA), ("{", BLOCK_OPEN), ("a", FIELD), (":", COLON), ("i32", PRIMITIVE)]
        + [("# } not yet", COMMENT), ("b", FIELD), ("*", OPTIONAL), (":", COLON), ("list", LIST), ("<", LT)]
        + [("physics::meter", PHYSICS), (">", GT), ("}", BLOCK_CLOSE)],
    ),
    # An assignment never goes on over lines: the next line is a line of its own.
    ("settings = {\nx = 1", [("settings", KEY), ("=", EQ), ("{", OBJ_OPEN), ("x", KEY), ("=", EQ), ("1", NUM)]),
    # Any directive that leaves a brace open takes the lines up to its close.
    (
        "@config {\nx = 1\n}\ny = 2",
        [("@config", BAD_DIRECTIVE), ("{", BLOCK_OPEN), ("x = 1", UNKNOWN_ARGS)]
        + [("}", BLOCK_CLOSE), ("y", KEY), ("=", EQ), ("2", NUM)],
    ),
]


@pytest.mark.parametrize("text, expected", MULTI_LINE_CASES, ids=[text.split("\n")[0] for text, _ in MULTI_LINE_CASES])
def test_multi_line_scopes(parser, text, expected):
    assert tokens(parser, text) == expected


def canonical_units():
    header = (ROOT / "src" / "types" / "physics.hpp").read_text(encoding="utf-8")
    units = re.findall(r"^\s*UNIT\((\w+),", header, re.MULTILINE)
    assert len(units) == 130, "the unit table's layout changed; update this reader"
    return units


def spellings(unit):
    words = re.findall(r"[a-z]+|[A-Z][a-z]*|\d+", unit)
    return [unit, "_".join(w.lower() for w in words), "-".join(w.upper() for w in words)]


def test_every_unit_of_the_library_is_a_known_type(parser):
    # The grammar lists the units itself, so a unit added to the library
    # without it would be shown as an unknown type.
    names = [name for unit in canonical_units() for name in spellings(unit)] + ["atomic_mass_unit"]
    text = "\n".join(f"@type u = physics::{name}" for name in names)
    shown = [content for content, scope in tokens(parser, text) if scope == PHYSICS]
    assert shown == [f"physics::{name}" for name in names]


@pytest.mark.parametrize("path", sorted((ROOT / "examples").rglob("*.vyr")), ids=lambda path: path.name)
def test_examples_tokenize_cleanly(parser, path, caplog):
    # The engine warns about any text that no rule matches.
    with caplog.at_level(logging.WARNING, logger="textmate_grammar"):
        found = tokens(parser, path.read_text(encoding="utf-8"))
    assert caplog.records == []
    assert [token for token in found if token[1].startswith("invalid.")] == []
    assert any(scope == COMMENT for _, scope in found)


def documentation_snippets():
    """The language snippets of README.md, CONTRIBUTING.md and every page under docs/."""
    pages = [ROOT / "README.md", ROOT / "CONTRIBUTING.md", *sorted((ROOT / "docs").glob("*.md"))]
    message = re.compile(r"^(Parse Error|IO Error|Key not found|Invalid type|Directive '@|Schema ')")
    snippets = []
    for page in pages:
        if page.is_file():
            text = page.read_text(encoding="utf-8")
            fenced = re.findall(r"^```text\n(.*?)^```$", text, re.MULTILINE | re.DOTALL)
            snippets += [body for body in fenced if not all(message.match(line) for line in body.splitlines())]
    return snippets


@pytest.mark.parametrize("snippet", documentation_snippets(), ids=lambda snippet: snippet.splitlines()[0][:40])
def test_documentation_snippets_show_nothing_invalid(parser, snippet, caplog):
    # The tool's own tests load these snippets, so each is valid VYRL.
    with caplog.at_level(logging.WARNING, logger="textmate_grammar"):
        found = tokens(parser, snippet)
    assert caplog.records == []
    assert [token for token in found if token[1].startswith("invalid.")] == []


def test_the_comment_toggle_writes_a_comment(parser):
    configuration = json.loads(CONFIGURATION.read_text(encoding="utf-8"))
    marker = configuration["comments"]["lineComment"]
    assert tokens(parser, f"{marker} port = 8080") == [(f"{marker} port = 8080", COMMENT)]
