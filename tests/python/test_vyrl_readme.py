"""The Python examples of README.md and docs/python.md, run as written.

Every python block of README.md runs, and each block of docs/python.md that
imports vyrl. A line `expression   # value` whose comment starts with a
Python literal must give that value, of that type; a comment line right after
a print() must be in what the block printed.
"""

import ast
import contextlib
import io
import re

import pytest

from conftest import ROOT

FENCED = re.compile(r"^```python\n(.*?)^```$", re.MULTILINE | re.DOTALL)
EXPECTATION = re.compile(r"^(?P<indent>\s*)(?P<code>[^#].*?)\s+# (?P<comment>.*)$")


def blocks(document, only_vyrl):
    found = FENCED.findall((ROOT / document).read_text(encoding="utf-8"))
    return [(document, body) for body in found if not only_vyrl or "import vyrl" in body]


BLOCKS = blocks("README.md", False) + blocks("docs/python.md", True)


def expected_value(comment):
    head = re.split(r"\s{3,}", comment, maxsplit=1)[0]
    if "..." in head:
        return None
    try:
        return (ast.literal_eval(head),)
    except (ValueError, SyntaxError):
        return None


def is_expression(code):
    try:
        ast.parse(code.strip(), mode="eval")
        return True
    except SyntaxError:
        return False


def instrument(body):
    """The block with each `expression   # literal` line turned into a check of it."""
    lines, checks, printed = [], 0, []
    source = body.splitlines()
    for number, line in enumerate(source):
        stripped = line.strip()
        if stripped.startswith("#") and number and "print(" in source[number - 1]:
            printed.append(stripped[2:])
        found = EXPECTATION.match(line)
        value = expected_value(found["comment"]) if found else None
        if found and value is not None and is_expression(found["code"]):
            lines.append(f"{found['indent']}__expect(({found['code']}), {value[0]!r})")
            checks += 1
        else:
            lines.append(line)
    return "\n".join(lines) + "\n", checks, printed


def expect(actual, expected):
    assert actual == expected and type(actual) is type(expected), f"{actual!r} != {expected!r}"


@pytest.mark.parametrize("document, body", BLOCKS, ids=[f"{d}: {b.splitlines()[0][:40]}" for d, b in BLOCKS])
def test_python_example_runs_and_shows_what_it_gives(monkeypatch, document, body):
    monkeypatch.chdir(ROOT)
    for name in [name for name in __import__("os").environ if name.startswith("APP_")]:
        monkeypatch.delenv(name)
    code, checks, printed = instrument(body)
    output = io.StringIO()
    with contextlib.redirect_stdout(output):
        exec(compile(code, document, "exec"), {"__expect": expect, "__name__": "example"})  # noqa: S102
    for line in printed:
        assert line in output.getvalue()
    assert checks or printed or "vyr_rs" in body


def test_the_readme_python_section_starts_from_vyrl():
    assert BLOCKS and "import vyrl" in BLOCKS[0][1]
