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
