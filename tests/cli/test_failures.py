"""How `vyrl check` reports a failure: where it really is, how that file was reached, and as JSON."""

import json
import re
import sys

import pytest

from test_cli import ROOT, vyrl

sys.path.insert(0, str(ROOT / "tests" / "data"))
from failure_chains import scenarios  # noqa: E402

SCENARIOS = scenarios()


def line_or_null(frame):
    return frame.line or None


def expected_report(scenario):
    failing = scenario.frames[-1]
    where = f"{failing.file}:{failing.line}" if failing.line else failing.file
    lines = [f"{where}: {scenario.message}"]
    for outer, inner in zip(reversed(scenario.frames[:-1]), reversed(scenario.frames[1:])):
        lines.append(f"  {inner.origin} from {outer.file}:{outer.line}")
    if scenario.hint:
        lines.append(f"  {scenario.hint}")
    return "".join(line + "\n" for line in lines)


@pytest.mark.parametrize("scenario", SCENARIOS, ids=[s.name for s in SCENARIOS])
def test_check_reports_where_the_failure_is(tmp_path, scenario):
    scenario.write(tmp_path)
    assert vyrl("check", scenario.load, cwd=tmp_path) == (1, "", expected_report(scenario))

    status, out, err = vyrl("check", "--json", scenario.load, cwd=tmp_path)
    assert (status, err, out.count("\n")) == (1, "", 1)
    assert json.loads(out) == {
        "argument": scenario.load,
        "file": scenario.frames[-1].file,
        "line": line_or_null(scenario.frames[-1]),
        "kind": scenario.kind,
        "message": scenario.message,
        "chain": [{"file": f.file, "line": line_or_null(f), "origin": f.origin} for f in scenario.frames],
        "suggestions": re.findall(r"'([^']+)'", scenario.hint or ""),
    }


def test_check_json_prints_one_line_per_failing_file_only(tmp_path):
    (tmp_path / "good.vyr").write_text("k = v\n")
    (tmp_path / "bad.vyr").write_text("@import good.vyr\nbroken\n")
    status, out, err = vyrl("check", "--json", "good.vyr", "bad.vyr", "gone.vyr", "good.vyr", cwd=tmp_path)
    records = [json.loads(line) for line in out.splitlines()]
    assert (status, err) == (1, "")
    assert [(r["argument"], r["file"], r["line"], r["kind"]) for r in records] == [
        ("bad.vyr", "bad.vyr", 2, "ParseError"),
        ("gone.vyr", "gone.vyr", None, "IoError"),
    ]
    assert vyrl("check", "--json", "good.vyr", cwd=tmp_path) == (0, "", "")


def test_check_json_names_standard_input_and_stays_json_for_any_path(tmp_path):
    status, out, _ = vyrl("check", "--json", "-", stdin=b"x")
    record = json.loads(out)
    assert (status, record["argument"], record["file"], record["line"]) == (1, "-", "<stdin>", 1)
    # File names may hold bytes that are not UTF-8; the record must still parse.
    status, out, _ = vyrl("check", "--json", b"caf\xe9.vyr", cwd=tmp_path)
    assert (status, json.loads(out)["argument"]) == (1, "caf\ufffd.vyr")


HINTS = [
    # name, text of doc.vyr, the failing line, its message, the hint below it
    ("colon apart", "a = 1\n@schema S { port : i32 }\n", 2, "Directive '@schema' error: Bad field: 'port'",
     "a field is written 'name: type', with the ':' right after the name"),
    ("list alias", "@type ids = list<i32>\n@schema S { xs: ids }\nxs = [1]\n", 3,
     "Schema 'S' validation error: field 'xs' (type 'ids') — Key not found: 'list<i32>'",
     "a list type cannot be aliased; write 'list<i32>' where it is used"),
    ("bare import", "a = 1\n@import   # nothing\n", 2, "Parse Error at line 0: ''. Reason: Import path cannot be empty",
     "@import needs the path of a file, e.g. '@import other.vyr'"),
    ("i32 out of range", "@schema S { ports: list<i32> }\nports = [80, -2147483649]\n", 2,
     "Schema 'S' validation error: field 'ports' (type 'list<i32>') — Invalid value: List item '-2147483649' failed "
     "validation for type 'i32': Schema 'list<i32>' validation error: field 'list_item' (type 'i32') — Invalid value: "
     "Expected i32, got '-2147483649'",
     "the integer is out of the range of i32 (-2147483648 to 2147483647)"),
    ("block never closed", "a = 1\n@schema S {\n  port: i32\n\nb = 2\n", 2,
     "Directive '@schema' error: Expected '}'", "the '{' opened on line 2 is never closed; end the block with '}'"),
    ("object over lines", "a = 1\nx = {\n  y = 2\n}\n", 4,
     "Parse Error at line 4: '}'. Reason: Missing assignment operator '='",
     "the value opened on line 2 must close on that same line: an assignment cannot go on over lines"),
]


@pytest.mark.parametrize("text, line, message, hint", [h[1:] for h in HINTS], ids=[h[0] for h in HINTS])
def test_check_says_how_to_fix_a_mechanical_mistake(tmp_path, text, line, message, hint):
    (tmp_path / "doc.vyr").write_text(text, encoding="utf-8")
    status, out, err = vyrl("check", "doc.vyr", cwd=tmp_path)
    # Warnings, if any, follow the report.
    assert (status, out, err.split("\n")[:2]) == (1, "", [f"doc.vyr:{line}: {message}", f"  {hint}"])

    record = json.loads(vyrl("check", "--json", "doc.vyr", cwd=tmp_path)[1])
    assert (record["line"], record["message"], record["suggestions"], record["hints"]) == (line, message, [], [hint])
