"""The README's promises about the `vyrl` tool and the language, checked against the built tool.

A README that drifts from the tool misleads every newcomer, so its console
session is replayed word for word and its language snippets are loaded.
"""

import os
import re
import subprocess
from pathlib import Path

import pytest

from test_cli import ROOT, VYRL

README = (ROOT / "README.md").read_text(encoding="utf-8")
FENCED = re.compile(r"^```(\w+)\n(.*?)^```$", re.MULTILINE | re.DOTALL)


def blocks(language):
    return [body for lang, body in FENCED.findall(README) if lang == language]


def console_steps():
    """(command, expected combined output) for each "$ " line of the console blocks."""
    steps = []
    for body in blocks("console"):
        for line in body.splitlines(keepends=True):
            if line.startswith("$ "):
                steps.append([line[2:].rstrip("\n"), ""])
            else:
                steps[-1][1] += line
    return [tuple(step) for step in steps]


STEPS = console_steps()


def test_readme_has_a_console_session():
    assert any(command.startswith("vyrl ") for command, _ in STEPS)


@pytest.mark.parametrize("command, expected", STEPS, ids=[command for command, _ in STEPS])
def test_console_session_prints_what_the_readme_shows(command, expected):
    # The session runs from the repository root with the tool on PATH; which
    # build directory the tool comes from does not matter to its output.
    env = dict(os.environ, PATH=f"{VYRL.parent}{os.pathsep}{os.environ['PATH']}")
    done = subprocess.run(
        ["bash", "-c", command], cwd=ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30
    )
    assert done.stdout.decode("utf-8") == expected


def test_command_table_matches_the_tool_help():
    """Each row of the README's command table is a synopsis that `vyrl --help` shows."""
    documented = re.findall(r"^\| `(vyrl [^`]+)` \|", README, re.MULTILINE)
    help_text = subprocess.run([str(VYRL), "--help"], capture_output=True, timeout=30).stdout.decode()
    shown = re.findall(r"^  (vyrl \S.*)$", help_text, re.MULTILINE)
    assert documented == shown


# Snippets that show error messages rather than VYRL lines.
MESSAGE_LINE = re.compile(r"^(Parse Error|IO Error|Key not found|Invalid type|Directive '@|Schema ')")
# Snippets that name files which exist only in the reader's project.
NAMES_FILES = re.compile(r"^@(import|derive)\b", re.MULTILINE)

SNIPPETS = [
    body
    for body in blocks("text")
    if not NAMES_FILES.search(body) and not all(MESSAGE_LINE.match(line) for line in body.splitlines())
]


@pytest.mark.parametrize("snippet", SNIPPETS, ids=[s.splitlines()[0][:40] for s in SNIPPETS])
def test_language_snippets_load(snippet):
    done = subprocess.run([str(VYRL), "check", "-"], input=snippet.encode(), capture_output=True, timeout=30)
    assert (done.returncode, done.stderr.decode()) == (0, "")


def test_snippets_that_name_files_load_from_the_repository_root():
    """The @import/@derive snippets, with the paths that the examples directory really has."""
    runnable = [body for body in blocks("text") if NAMES_FILES.search(body)]
    assert runnable
    for body in runnable:
        lines = [line for line in body.splitlines() if "examples/" in line]
        for line in lines:
            done = subprocess.run(
                [str(VYRL), "check", "-"], cwd=ROOT, input=line.encode(), capture_output=True, timeout=30
            )
            assert (done.returncode, done.stderr.decode()) == (0, ""), line
