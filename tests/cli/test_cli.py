"""Behaviour of the `vyrl` command: results, exit statuses and which stream says what.

The binary comes from $VYRL_CLI, or build/src/cli/vyrl under the repository root.
"""

import json
import random
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
# Absolute now: the tests change the working directory.
VYRL = Path(os.environ.get("VYRL_CLI", ROOT / "build" / "src" / "cli" / "vyrl")).absolute()

NO_FILE = "IO Error: No such file or directory (os error 2)"


@pytest.fixture(scope="session", autouse=True)
def binary_exists():
    if not VYRL.is_file():
        pytest.fail(f"no vyrl binary at {VYRL}: build the project or set VYRL_CLI")


def vyrl(*args, cwd=None, stdin=b"", timeout=30):
    done = subprocess.run([str(VYRL), *args], cwd=cwd, input=stdin, capture_output=True, timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


@pytest.fixture
def files(tmp_path, monkeypatch):
    """Writes name -> content (str or bytes) into a scratch directory that is also the working directory."""
    monkeypatch.chdir(tmp_path)

    def write(**contents):
        for name, content in contents.items():
            data = content if isinstance(content, bytes) else content.encode("utf-8")
            (tmp_path / f"{name}.vyr").write_bytes(data)

    return write


@pytest.mark.parametrize(
    "contents, args, expected",
    [
        ({"a": "x = 1", "b": "y = 2"}, ["a.vyr", "b.vyr"], (0, "a.vyr: ok\nb.vyr: ok\n", "")),
        # Every file is reported, in order, even after a failure.
        (
            {"a": "x = 1", "bad": "x = 1\nbroken"},
            ["bad.vyr", "a.vyr", "gone.vyr"],
            (
                1,
                "a.vyr: ok\n",
                "bad.vyr:2: Parse Error at line 2: 'broken'. Reason: Missing assignment operator '='\n"
                f"gone.vyr: {NO_FILE}\n",
            ),
        ),
        ({"latin1": b"name = caf\xe9"}, ["latin1.vyr"], (1, "", "latin1.vyr: IO Error: stream did not contain valid UTF-8\n")),
        (
            {"typed": "@schema S { port: i32 }\nport = fast"},
            ["typed.vyr"],
            (1, "", "typed.vyr:2: Schema 'S' validation error: field 'port' (type 'i32') — Invalid value: Expected i32, got 'fast'\n"),
        ),
        ({"empty": ""}, ["empty.vyr"], (0, "empty.vyr: ok\n", "")),
    ],
)
def test_check(files, contents, args, expected):
    files(**contents)
    assert vyrl("check", *args) == expected


THREE_ERRORS = "a = 1\nb\n@bogus\nport = 80\n=4\n"
E2 = "bad.vyr:2: Parse Error at line 2: 'b'. Reason: Missing assignment operator '='\n"
E3 = "bad.vyr:3: Parse Error at line 3: 'bogus'. Reason: Unknown directive: @bogus\n"
E5 = "bad.vyr:5: Parse Error at line 5: '=4'. Reason: Key cannot be empty\n"


@pytest.mark.parametrize(
    "contents, args, expected",
    [
        # Fixing line 2 must not be the way to learn about line 5.
        ({"bad": THREE_ERRORS}, [], (1, "", E2 + E3 + E5)),
        ({"bad": THREE_ERRORS}, ["--max-errors", "2"], (1, "", E2 + E3 + "bad.vyr: stopped after 2 errors (see --max-errors)\n")),
        # Errors of an imported file, each with the line that imported it.
        (
            {"bad": "@import inner.vyr\nc\n", "inner": "x\ny = 1\nz\n"},
            [],
            (
                1,
                "",
                "inner.vyr:1: Parse Error at line 1: 'x'. Reason: Missing assignment operator '='\n  imported from bad.vyr:1\n"
                "inner.vyr:3: Parse Error at line 3: 'z'. Reason: Missing assignment operator '='\n  imported from bad.vyr:1\n"
                "bad.vyr:2: Parse Error at line 2: 'c'. Reason: Missing assignment operator '='\n",
            ),
        ),
        # A failed alias is reported once, not again at the value it would check.
        (
            {"bad": "@type port = \n@schema S { p: port }\np = 5\n"},
            [],
            (1, "", "bad.vyr:1: Parse Error at line 0: 'port ='. Reason: Type definition cannot be empty\n"
                    "bad.vyr:2: warning: type 'port' names nothing\n"),
        ),
    ],
)
def test_check_reports_every_error(files, contents, args, expected):
    files(**contents)
    assert vyrl("check", *args, "bad.vyr") == expected
    records = [json.loads(line) for line in vyrl("check", "--json", *args, "bad.vyr")[1].splitlines()]
    assert [(r["file"], r["line"]) for r in records] == [
        (line.split(":")[0], int(line.split(":")[1])) for line in expected[2].splitlines() if line[0] != " " and "stopped" not in line and "warning" not in line]


@pytest.mark.parametrize(
    "stdin, expected",
    [
        (b"k = v\n", (0, "<stdin>: ok\n", "")),
        (b"@nope x", (1, "", "<stdin>:1: Parse Error at line 1: 'nope x'. Reason: Unknown directive: @nope\n")),
        (b"k = \xff", (1, "", "<stdin>: IO Error: stream did not contain valid UTF-8\n")),
    ],
)
def test_check_reads_standard_input(stdin, expected):
    assert vyrl("check", "-", stdin=stdin) == expected


LOOKUPS = "port = 8080\nfirst = second\nsecond = third\nself = self\n--odd = dash\n"


@pytest.mark.parametrize(
    "args, expected",
    [
        (["f.vyr", "port"], (0, "8080\n", "")),
        (["f.vyr", "8080"], (1, "", "f.vyr: Key not found: '8080'\n")),  # exact: a value is no key
        (["--fallback", "f.vyr", "8080"], (0, "port\n", "")),  # reverse fallback
        (["--fallback", "f.vyr", "port"], (0, "8080\n", "")),  # a key still comes first
        (["--fallback", "f.vyr", "missing"], (1, "", "f.vyr: Key not found: 'missing'\n")),
        (["f.vyr", "first"], (0, "second\n", "")),
        (["--deep", "f.vyr", "first"], (0, "third\n", "")),
        (["f.vyr", "first", "--deep"], (0, "third\n", "")),  # options may follow the arguments
        (["--deep", "f.vyr", "self"], (0, "self\n", "")),
        (["--deep", "f.vyr", "third"], (1, "", "f.vyr: Key not found: 'third'\n")),  # no reverse step when following
        (["f.vyr", "missing"], (1, "", "f.vyr: Key not found: 'missing'\n")),
        (["f.vyr", "--", "--odd"], (0, "dash\n", "")),
        (["gone.vyr", "port"], (1, "", f"gone.vyr: {NO_FILE}\n")),
    ],
)
def test_get(files, args, expected):
    files(f=LOOKUPS)
    assert vyrl("get", *args) == expected


def test_keys_are_sorted_by_bytes(files):
    files(f="é = 1\nb = 2\nB = 3\na key = 4\n_ = 5\n")
    assert vyrl("keys", "f.vyr") == (0, "B\n_\na key\nb\né\n", "")


def test_dump_lists_stored_texts_sorted(files):
    files(f="z = 'quoted # kept'\nempty =\nobj = { a = 1, b = [2, 3] }\ncolor = #FF8800 # note\n")
    # Each value is written so that it reads back as itself.
    expected = 'color = #FF8800\nempty =\nobj = { a = 1, b = [2, 3] }\nz = "quoted # kept"\n'
    assert vyrl("dump", "f.vyr") == (0, expected, "")


JSON_CASES = [
    ("plain", "plain = text", {"plain": "text"}),
    ("quotes in key and value", 'say "hi" = a "b" c', {'say "hi"': 'a "b" c'}),
    ("backslashes", r"path = C:\temp\new", {"path": r"C:\temp\new"}),
    ("tab and other controls", "ctl = a\tb\x01c\x1fd\x7fe\rf", {"ctl": "a\tb\x01c\x1fd\x7fe\rf"}),
    ("non-ASCII passes through", "grüße = ✓ 🚀 日本", {"grüße": "✓ 🚀 日本"}),
    ("structures become arrays and objects", "o = { a = 1 }\nl = [1, 2]", {"o": {"a": "1"}, "l": ["1", "2"]}),
    ("empty document", "# nothing", {}),
]


@pytest.mark.parametrize("content, expected", [c[1:] for c in JSON_CASES], ids=[c[0] for c in JSON_CASES])
def test_dump_json_round_trips(files, content, expected):
    files(f=content)
    status, out, err = vyrl("dump", "--json", "f.vyr")
    assert (status, err) == (0, "")
    assert json.loads(out) == expected  # strict: a raw control character would be rejected
    for text in expected.values():
        if isinstance(text, str) and not text.isascii():
            assert text in out  # written as UTF-8, not as \u escapes


@pytest.mark.parametrize(
    "args, expected",
    [
        (["i32", "-5"], (0, "ok\n", "")),  # a negative number is not an option
        (["f64", "-inf"], (0, "ok\n", "")),
        (["i32", "3.5"], (1, "", "Invalid type 'i32': Invalid value: Expected i32, got '3.5'\n")),
        (["intt", "1"], (1, "", "Key not found: 'intt'\n  did you mean 'i32'?\n")),
        (["int", "5"], (1, "", "Key not found: 'int'\n  did you mean 'i32'?\n")),
        (["physics::metr", "5"], (1, "", "Key not found: 'physics::metr'\n  did you mean 'physics::meter'?\n")),
        # The unknown name deep inside a nested check still gets its hint.
        (
            ["list<flaot>", "[1]"],
            (
                1,
                "",
                "Invalid type 'list<flaot>': Invalid value: List item '1' failed validation for type 'flaot': "
                "Schema 'list<flaot>' validation error: field 'list_item' (type 'flaot') — Unknown type 'flaot'\n"
                "  did you mean 'f64'?\n",
            ),
        ),
        (["port", "80", "--file", "f.vyr"], (0, "ok\n", "")),
        (["port", "http", "--file=f.vyr"], (1, "", "Invalid type 'port': Invalid value: Expected i32, got 'http'\n")),
        (["port", "80"], (1, "", "Key not found: 'port'\n")),  # aliases only with --file
        (["Server", "{ port = 1 }", "--file", "f.vyr"], (1, "", "Key not found: 'Server'\n")),  # schemas are no value types
        (["i32", "1", "--file", "gone.vyr"], (1, "", f"gone.vyr: {NO_FILE}\n")),
    ],
)
def test_validate(files, args, expected):
    files(f="@type port = i32\n@schema Server { port: port }")
    assert vyrl("validate", *args) == expected


@pytest.mark.parametrize(
    "args, message",
    [
        ([], "vyrl: missing command\nTry 'vyrl --help' for more information.\n"),
        (["frob"], "vyrl: unknown command 'frob'\nTry 'vyrl --help' for more information.\n"),
        (["--frob"], "vyrl: unknown option '--frob'\nTry 'vyrl --help' for more information.\n"),
        (["help", "frob"], "vyrl: unknown command 'frob'\nTry 'vyrl --help' for more information.\n"),
        (["check"], "vyrl: missing arguments\nusage: vyrl check [--json] [--max-errors N] FILE...\n"),
        (["get", "f.vyr"], "vyrl: missing arguments\nusage: vyrl get [--deep] [--fallback] FILE KEY\n"),
        (["keys", "a.vyr", "b.vyr"], "vyrl: too many arguments\nusage: vyrl keys FILE\n"),
        (["get", "--json", "f.vyr", "k"], "vyrl: unknown option '--json'\nusage: vyrl get [--deep] [--fallback] FILE KEY\n"),
        (["dump", "--json=yes", "f.vyr"], "vyrl: option '--json' takes no value\nusage: vyrl dump [--json [--raw]] FILE\n"),
        (["validate", "i32", "1", "--file"], "vyrl: option '--file' needs a value\nusage: vyrl validate TYPE VALUE [--file FILE]\n"),
        (["validate", "i32"], "vyrl: missing arguments\nusage: vyrl validate TYPE VALUE [--file FILE]\n"),
        (["validate", "i32", "1", "2"], "vyrl: too many arguments\nusage: vyrl validate TYPE VALUE [--file FILE]\n"),
        # An option belongs to its command only.
        (["get", "f.vyr", "k", "--file", "x"], "vyrl: unknown option '--file'\nusage: vyrl get [--deep] [--fallback] FILE KEY\n"),
        (["-x"], "vyrl: unknown option '-x'\nTry 'vyrl --help' for more information.\n"),
        (["help", "dump", "check"], "vyrl: too many arguments\nTry 'vyrl --help' for more information.\n"),
        (["get", "--deep", "--fallback", "f.vyr", "k"],
         "vyrl: options '--deep' and '--fallback' exclude each other\nusage: vyrl get [--deep] [--fallback] FILE KEY\n"),
        (["dump", "--raw", "f.vyr"], "vyrl: option '--raw' needs '--json'\nusage: vyrl dump [--json [--raw]] FILE\n"),
        (["types", "x"], "vyrl: too many arguments\nusage: vyrl types [--json]\n"),
    ],
)
def test_usage_errors(args, message):
    assert vyrl(*args) == (2, "", message)


@pytest.mark.parametrize("args", [["--help"], ["help", "dump"], ["dump", "-h", "x", "y", "z"]])
def test_help_goes_to_stdout(args):
    status, out, err = vyrl(*args)
    assert (status, err) == (0, "")
    assert out.startswith("usage: vyrl ")


def test_help_command_alone_is_the_general_help():
    assert vyrl("help") == vyrl("--help") == vyrl("-h")


@pytest.mark.parametrize("flag", ["--version", "-V"])
def test_version(flag):
    assert vyrl(flag) == (0, "vyrl 1.4.0\n", "")


@pytest.mark.skipif(not Path("/dev/full").exists(), reason="needs /dev/full")
def test_unwritable_output_fails(files):
    files(f="k = v")
    with open("/dev/full", "wb") as full:
        done = subprocess.run([str(VYRL), "keys", "f.vyr"], stdout=full, stderr=subprocess.PIPE, timeout=30)
    assert done.returncode == 1
    assert done.stderr.decode() == "vyrl: cannot write output: No space left on device\n"


# The examples use paths relative to the repository root, where they are meant to be run.
EXAMPLES = sorted(p.relative_to(ROOT).as_posix() for p in (ROOT / "examples").glob("*.vyr"))


def test_examples_pass():
    assert EXAMPLES, "no examples found"
    assert vyrl("check", *EXAMPLES, cwd=ROOT) == (0, "".join(f"{e}: ok\n" for e in EXAMPLES), "")


def test_broken_example_fails_helpfully():
    assert vyrl("check", "examples/broken/courier-9.vyr", cwd=ROOT) == (
        1,
        "",
        "examples/broken/courier-9.vyr:10: Schema 'Drone' validation error: field 'telemetry' (type 'Endpoint') — "
        "Schema 'Endpoint' validation error: field 'port' (type 'port') — "
        "Missing field 'port' in inline object for schema 'Endpoint'\n",
    )


@pytest.mark.parametrize(
    "args, value",
    [
        (["examples/courier-7.vyr", "max_speed"], "21.5"),  # set after @derive: replaces the default
        (["examples/courier-7.vyr", "model"], "Courier X2"),  # filled in by @derive
        (["examples/courier-7.vyr", "port"], None),  # a field of Endpoint, never a key of its own
        (["--deep", "examples/courier-7.vyr", "radio"], "courier-7"),
        (["examples/mission-0042.vyr", "window"], "PT2H30M"),
    ],
)
def test_example_values(args, value):
    status, out, _ = vyrl("get", *args, cwd=ROOT)
    assert (status, out) == ((0, value + "\n") if value is not None else (1, ""))


BROKEN = "k = v\nno equals sign"
BROKEN_MESSAGE = "Parse Error at line 2: 'no equals sign'. Reason: Missing assignment operator '='"


@pytest.mark.parametrize(
    "args",
    [
        ["get", "bad.vyr", "k"],
        ["get", "--deep", "bad.vyr", "k"],
        ["keys", "bad.vyr"],
        ["dump", "bad.vyr"],
        ["dump", "--json", "bad.vyr"],
        ["validate", "i32", "1", "--file", "bad.vyr"],
    ],
)
def test_a_file_that_fails_to_load_prints_no_partial_result(files, args):
    # The lines before the failure did load; showing them would pass a broken file off as a short one.
    files(bad=BROKEN)
    assert vyrl(*args) == (1, "", f"bad.vyr:2: {BROKEN_MESSAGE}\n")


@pytest.mark.parametrize(
    "args, stdin, expected",
    [
        (["get", "-", "port"], b"port = 8080", (0, "8080\n", "")),
        (["get", "-", "nope"], b"port = 8080", (1, "", "<stdin>: Key not found: 'nope'\n")),
        (["keys", "-"], b"b = 1\na = 2", (0, "a\nb\n", "")),
        (["dump", "--json", "-"], b"a = 1", (0, '{\n  "a": "1"\n}\n', "")),
        (["validate", "port", "x", "--file", "-"], b"@type port = i32", (1, "", "Invalid type 'port': Invalid value: Expected i32, got 'x'\n")),
        (["dump", "-"], BROKEN.encode(), (1, "", f"<stdin>:2: {BROKEN_MESSAGE}\n")),
    ],
)
def test_every_command_reads_standard_input(args, stdin, expected):
    assert vyrl(*args, stdin=stdin) == expected


@pytest.mark.parametrize(
    "args, expected",
    [
        # After "--", even "-h" and "--deep" are keys to look up.
        (["get", "--", "f.vyr", "-h"], (0, "help\n", "")),
        (["get", "--", "f.vyr", "--deep"], (0, "deep\n", "")),
        # Repeated options: the last value counts.
        (["validate", "port", "80", "--file", "gone.vyr", "--file", "f.vyr"], (0, "ok\n", "")),
        (["validate", "port", "80", "--file", "f.vyr", "--file=gone.vyr"], (1, "", f"gone.vyr: {NO_FILE}\n")),
    ],
)
def test_option_edges(files, args, expected):
    files(f="@type port = i32\n-h = help\n--deep = deep")
    assert vyrl(*args) == expected


@pytest.mark.parametrize(
    "args, expected",
    [
        # Between the arguments, a word is the next argument, whatever it looks like.
        (["validate", "string", "-h"], (0, "ok\n", "")),
        (["validate", "string", "-V"], (0, "ok\n", "")),
        (["validate", "string", "--json"], (0, "ok\n", "")),
        (["validate", "string", "--", "--"], (0, "ok\n", "")),
        (["get", "--fallback", "f.vyr", "-h"], (0, "help\n", "")),
        (["get", "f.vyr", "-V"], (0, "version\n", "")),
        (["get", "f.vyr", "--json"], (0, "json\n", "")),
        (["get", "f.vyr", "--", "--"], (0, "dashes\n", "")),
        (["get", "--deep", "f.vyr", "--deep"], (0, "deep\n", "")),
        # Once the arguments begin, a FILE... list takes every later word.
        (["check", "f.vyr", "--json"], (1, "f.vyr: ok\n", f"--json: {NO_FILE}\n")),
        # Where options go, they are still options.
        (["validate", "-h"], (0, "usage: vyrl validate TYPE VALUE [--file FILE]\n", None)),
        (["get", "f.vyr", "k", "-h"], (0, "usage: vyrl get [--deep] [--fallback] FILE KEY\n", None)),
    ],
)
def test_option_words_are_values_where_values_go(files, args, expected):
    files(f="-h = help\n-V = version\n--json = json\n-- = dashes\n--deep = deep\nk = 1")
    status, out, err = vyrl(*args)
    if expected[2] is None:
        assert (status, out.splitlines()[0] + "\n") == expected[:2]
    else:
        assert (status, out, err) == expected


def test_dump_json_orders_keys_like_dump(files):
    files(f="b = 1\nB = 2\na key = 3\n_ = 4\nempty =")
    status, out, _ = vyrl("dump", "--json", "f.vyr")
    pairs = json.loads(out, object_pairs_hook=list)
    assert status == 0
    assert pairs == [("B", "2"), ("_", "4"), ("a key", "3"), ("b", "1"), ("empty", "")]


def test_dump_of_an_empty_document_prints_nothing(files):
    files(f="# only a comment\n")
    assert vyrl("dump", "f.vyr") == (0, "", "")


STRUCTURED = (
    "o = { b = [1, { y = 2, x = 3 }], a = 'q', a = r }\n"
    "l = ['x, y', [], {}]\n"
    "not_a_list = [1, 2\n"
    "bad_object = { a }\n"
)


def test_dump_json_gives_lists_and_objects_structure(files):
    files(f=STRUCTURED)
    status, out, _ = vyrl("dump", "--json", "f.vyr")
    assert status == 0
    assert json.loads(out) == {
        "o": {"a": "r", "b": ["1", {"x": "3", "y": "2"}]},  # the later field wins
        "l": ["'x", "y'", [], {}],  # quotes do not protect commas; items keep them
        "not_a_list": "[1, 2",
        "bad_object": "{ a }",
    }
    assert '{"x": "3", "y": "2"}' in out  # object keys sorted, as dump sorts the document's


def test_dump_json_raw_keeps_every_value_a_string(files):
    files(f=STRUCTURED)
    status, out, _ = vyrl("dump", "--json", "--raw", "f.vyr")
    assert status == 0
    assert json.loads(out)["o"] == "{ b = [1, { y = 2, x = 3 }], a = 'q', a = r }"


@pytest.mark.parametrize("depth", [255, 256, 257, 100_000])
def test_dump_json_stops_nesting_at_256_levels(files, depth):
    files(f="deep = " + "[" * depth + "x" + "]" * depth)
    status, out, err = vyrl("dump", "--json", "f.vyr")
    assert (status, err) == (0, "")
    value, levels = json.loads(out)["deep"], 0
    while isinstance(value, list):
        value, levels = value[0], levels + 1
    assert levels == min(depth, 256)
    assert value == "[" * (depth - levels) + "x" + "]" * (depth - levels)


def test_types_lists_every_built_in_name_in_both_forms():
    status, out, _ = vyrl("types")
    assert status == 0
    families, current = {}, None
    for line in out.splitlines():
        if line.startswith("  "):
            name, description = line.strip().split(": ", 1)
            assert description
            families[current].append(name)
        else:
            current = line.removesuffix(":")
            families[current] = []
    assert list(families) == ["list", "primitive", "time", "math", "physics"]
    assert families["primitive"] == ["i32", "f64", "string", "bool", "color"]
    assert len(families["physics"]) == 130
    assert "physics::dalton (also physics::atomicmassunit)" in families["physics"]

    status, out, _ = vyrl("types", "--json")
    types = json.loads(out)
    assert status == 0
    assert [t["name"] for t in types] == [line.split(" (")[0] for names in families.values() for line in names]
    assert {t["family"] for t in types} == set(families)
    assert {"name": "physics::dalton", "family": "physics", "aliases": ["physics::atomicmassunit"],
            "description": "a number, without a unit symbol"} in types
    # Counts of things take whole numbers, as their values must be.
    assert {t["name"]: t["description"] for t in types}["physics::byte"] == "a whole number, without a unit symbol"


@pytest.mark.parametrize(
    "contents, args, expected",
    [
        # A warning leaves a passing file passing, and goes to standard error.
        (
            {"s": "@schema S { port: i23 }\n"},
            ["s.vyr"],
            (0, "s.vyr: ok\n", "s.vyr:1: warning: type 'i23' names nothing; did you mean 'i32'?\n"),
        ),
        (
            {"s": "@schema S { port: i23 }\n"},
            ["--strict", "s.vyr"],
            # Failing on its warning, it is never called ok.
            (1, "", "s.vyr:1: warning: type 'i23' names nothing; did you mean 'i32'?\n"),
        ),
        # --strict fails only the run that has a warning.
        ({"a": "x = 1\n"}, ["--strict", "a.vyr"], (0, "a.vyr: ok\n", "")),
        # A failing file gets its error first, then its warnings.
        (
            {"bad": "@type a = i32\n@type b = a\n@shcema S { x: i32 }\n"},
            ["bad.vyr"],
            (
                1,
                "",
                "bad.vyr:3: Parse Error at line 3: 'shcema S { x: i32 }'. Reason: Unknown directive: @shcema\n"
                "bad.vyr:2: warning: alias 'b' accepts no value: 'a' is an alias, and aliases do not chain; "
                "define it as 'i32'\n"
                "bad.vyr:3: warning: '@shcema' is no directive; did you mean '@schema'?\n",
            ),
        ),
        # Warnings still go to standard error with --json; a file that fails on
        # them under --strict gets a record of its own.
        (
            {"bom": b"\xef\xbb\xbfx = 1\n"},
            ["--json", "--strict", "bom.vyr"],
            (
                1,
                '{"argument": "bom.vyr", "file": "bom.vyr", "line": 1, "kind": "Warning", '
                '"message": "the byte-order mark becomes part of the first line", '
                '"chain": [{"file": "bom.vyr", "line": 1, "origin": "file"}], "suggestions": [], '
                '"warnings": [{"line": 1, "message": "the byte-order mark becomes part of the first line"}]}\n',
                "bom.vyr:1: warning: the byte-order mark becomes part of the first line\n",
            ),
        ),
        # A failing file's record carries its warnings too.
        (
            {"w": "@type a = i32\n@type b = a\nx\n"},
            ["--json", "w.vyr"],
            (
                1,
                '{"argument": "w.vyr", "file": "w.vyr", "line": 3, "kind": "ParseError", '
                '"message": "Parse Error at line 3: \'x\'. Reason: Missing assignment operator \'=\'", '
                '"chain": [{"file": "w.vyr", "line": 3, "origin": "file"}], "suggestions": [], '
                '"warnings": [{"line": 2, "message": "alias \'b\' accepts no value: \'a\' is an alias, and aliases '
                'do not chain; define it as \'i32\'"}]}\n',
                "w.vyr:2: warning: alias 'b' accepts no value: 'a' is an alias, and aliases do not chain; "
                "define it as 'i32'\n",
            ),
        ),
    ],
)
def test_check_warnings(files, contents, args, expected):
    files(**contents)
    assert vyrl("check", *args) == expected


# A FIFO gives its text once; reading it again for warnings would wait for a
# writer that never comes.
def test_check_reads_a_fifo_once(tmp_path):
    fifo = tmp_path / "f.vyr"
    os.mkfifo(fifo)
    writer = subprocess.Popen(["sh", "-c", f"printf 'a = 1\\n' > '{fifo}'"])
    try:
        assert vyrl("check", str(fifo)) == (0, f"{fifo}: ok\n", "")
    finally:
        writer.wait(timeout=10)


@pytest.mark.parametrize(
    "args, message",
    [
        (["chek"], "vyrl: unknown command 'chek'\ndid you mean 'check'?\nTry 'vyrl --help' for more information.\n"),
        (["help", "dmp"], "vyrl: unknown command 'dmp'\ndid you mean 'dump'?\nTry 'vyrl --help' for more information.\n"),
        (["--versoin"], "vyrl: unknown option '--versoin'\ndid you mean '--version'?\nTry 'vyrl --help' for more information.\n"),
        (["check", "--strct", "f.vyr"], "vyrl: unknown option '--strct'\ndid you mean '--strict'?\nusage: vyrl check [--json] [--max-errors N] FILE...\n"),
        (["dump", "--rwa=1", "f.vyr"], "vyrl: unknown option '--rwa=1'\ndid you mean '--raw'?\nusage: vyrl dump [--json [--raw]] FILE\n"),
    ],
)
def test_a_slip_is_answered_with_the_nearest_name(args, message):
    assert vyrl(*args) == (2, "", message)


def dump_reads_back(path, cwd):
    """The document at `path` and the one its `dump` loads as, each as `dump --json --raw` gives it."""
    status, original, err = vyrl("dump", "--json", "--raw", path, cwd=cwd)
    assert (status, err) == (0, "")
    status, dumped, err = vyrl("dump", path, cwd=cwd)
    assert (status, err) == (0, "")
    status, again, err = vyrl("dump", "--json", "--raw", "-", stdin=dumped.encode())
    assert (status, err) == (0, "")
    return json.loads(original), json.loads(again)


@pytest.mark.parametrize("example", EXAMPLES)
def test_dump_of_each_example_reads_back(example):
    original, again = dump_reads_back(example, ROOT)
    assert again == original


# Keys and values built from what makes a line read differently: quotes,
# comments, outer spaces, brackets, '='.
PIECES = ["a", "b c", " # ", "#", "'", '"', "=", "[", "]", "{", "}", "  ", "x#y", ",", "é", "\t", "# z", ":"]


def random_document(seed):
    rng = random.Random(seed)
    lines = []
    for n in range(40):
        key = f"k{n}" + rng.choice(["", " x", ".y", "#z", "'", '"'])
        value = "".join(rng.choice(PIECES) for _ in range(rng.randint(0, 6)))
        quote = rng.choice(["", "", '"', "'"])
        lines.append(f"{key} ={rng.choice(['', ' ', '  '])}{quote}{value}{quote}")
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("seed", range(25))
def test_dump_of_a_random_document_reads_back(files, seed):
    files(f=random_document(seed))
    original, again = dump_reads_back("f.vyr", None)
    assert len(original) == 40
    assert again == original


def test_dump_refuses_a_pair_no_line_can_hold(files):
    files(f=b"ok = 1\ncr = a\rb\n")
    assert vyrl("dump", "f.vyr") == (
        1, "", "f.vyr: cannot dump the key 'cr': Invalid value: cannot write the value 'a\rb': a value cannot hold a line break\n")


NOT_FOUND_FROM_APP = f"types.vyr: {NO_FILE}\n  imported from proj/conf/app.vyr:1\n"


@pytest.mark.parametrize(
    "args, expected",
    [
        (["check", "--root", "proj", "proj/conf/app.vyr"], (0, "proj/conf/app.vyr: ok\n", "")),
        (["check", "proj/conf/app.vyr"], (1, "", NOT_FOUND_FROM_APP)),
        (["get", "proj/conf/app.vyr", "port", "--root", "proj"], (0, "8080\n", "")),
        (["keys", "--root=proj", "proj/conf/app.vyr"], (0, "port\n", "")),
        (["dump", "--root", "proj", "proj/conf/app.vyr"], (0, "port = 8080\n", "")),
        (["validate", "port", "80", "--root", "proj", "--file", "proj/conf/app.vyr"], (0, "ok\n", "")),
        # The schema came in through --root; the message names the file as given.
        (
            ["set", "--root", "proj", "proj/conf/app.vyr", "port", "x"],
            (1, "", "proj/conf/app.vyr:2: Schema 'S' validation error: field 'port' (type 'port') — "
                    "Invalid value: Expected i32, got 'x'\n"),
        ),
        (["set", "--root", "/nowhere", "proj/conf/app.vyr", "port", "1"], (1, "", f"/nowhere: {NO_FILE}\n")),
        (["get", "--root", "proj/types.vyr", "proj/conf/app.vyr", "port"],
         (1, "", "proj/types.vyr: IO Error: Not a directory (os error 20)\n")),
    ],
)
def test_root_resolves_imports_against_another_directory(tmp_path, args, expected):
    (tmp_path / "proj" / "conf").mkdir(parents=True)
    (tmp_path / "proj" / "types.vyr").write_text("@type port = i32\n@schema S { port: port }\n")
    (tmp_path / "proj" / "conf" / "app.vyr").write_text("@import types.vyr\nport = 8080\n")
    assert vyrl(*args, cwd=tmp_path) == expected


def test_root_serves_derive_too():
    examples = [Path(e).name for e in EXAMPLES]
    assert vyrl("check", "--root", "..", *examples, cwd=ROOT / "examples") == (
        0, "".join(f"{e}: ok\n" for e in examples), "")


def test_check_takes_a_directory_for_the_vyr_files_below_it(tmp_path):
    for name in ["b.vyr", "a/x.vyr", "a/deeper/y.vyr", ".hidden/h.vyr", "a/.h.vyr"]:
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text("k = v\n")
    (tmp_path / "a" / "notes.txt").write_text("not vyrl")
    os.symlink("b.vyr", tmp_path / "c.vyr")  # a file behind a link is a file
    os.symlink(".", tmp_path / "a" / "loop")  # a directory behind one is not followed
    os.mkdir(tmp_path / "empty")
    assert vyrl("check", ".", "b.vyr", cwd=tmp_path) == (
        0, "./a/deeper/y.vyr: ok\n./a/x.vyr: ok\n./b.vyr: ok\n./c.vyr: ok\nb.vyr: ok\n", "")
    assert vyrl("check", "a/", cwd=tmp_path) == (0, "a/deeper/y.vyr: ok\na/x.vyr: ok\n", "")
    assert vyrl("check", "empty", cwd=tmp_path) == (0, "", "")
