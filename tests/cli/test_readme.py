"""The documentation's promises about the `vyrl` tool and the language, checked against the built tool.

A page that drifts from the tool misleads every newcomer, so each console
session in README.md, CONTRIBUTING.md and docs/*.md is replayed word for word,
each command table is held to `vyrl --help`, and the language snippets are
loaded.
"""

import os
import re
import subprocess

import pytest

from test_cli import ROOT, VYRL

# Every page a reader may copy an example from, as a path from the repository root.
DOCUMENTS = [
    path.relative_to(ROOT).as_posix()
    for path in [ROOT / "README.md", ROOT / "CONTRIBUTING.md", *sorted((ROOT / "docs").glob("*.md"))]
    if path.is_file()
]
TEXTS = {document: (ROOT / document).read_text(encoding="utf-8") for document in DOCUMENTS}
FENCED = re.compile(r"^```(\w+)\n(.*?)^```$", re.MULTILINE | re.DOTALL)


def blocks(language, document):
    return [body for lang, body in FENCED.findall(TEXTS[document]) if lang == language]


def console_steps(document):
    """(command, expected combined output) for each "$ " line of one page's console blocks, in order."""
    steps = []
    for body in blocks("console", document):
        for line in body.splitlines(keepends=True):
            if line.startswith("$ "):
                steps.append([line[2:].rstrip("\n"), ""])
            else:
                assert steps, f"{document}: a console block starts with output, not with a command"
                steps[-1][1] += line
    return [tuple(step) for step in steps]


# (page, command, expected output); a page's sessions run in the order written,
# since a later command may use a file that an earlier one made.
STEPS = [(document, command, expected) for document in DOCUMENTS for command, expected in console_steps(document)]


def test_documents_include_the_readme():
    assert DOCUMENTS[0] == "README.md"


def test_readme_has_a_console_session():
    assert any(command.startswith("vyrl ") for command, _ in console_steps("README.md"))


@pytest.mark.parametrize(
    "document, command, expected", STEPS, ids=[f"{document}: {command}" for document, command, _ in STEPS]
)
def test_console_session_prints_what_the_page_shows(document, command, expected):
    # The session runs from the repository root with the tool on PATH; which
    # build directory the tool comes from does not matter to its output.
    env = dict(os.environ, PATH=f"{VYRL.parent}{os.pathsep}{os.environ['PATH']}")
    done = subprocess.run(
        ["bash", "-c", command], cwd=ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30
    )
    assert done.stdout.decode("utf-8") == expected


def command_table(document):
    return re.findall(r"^\| `(vyrl [^`]+)` \|", TEXTS[document], re.MULTILINE)


TABLES = [document for document in DOCUMENTS if command_table(document)]
# The pages that must keep a table of every command.
TABLES_REQUIRED = ["README.md", "docs/cli.md"]


def test_required_command_tables_are_there():
    assert set(TABLES_REQUIRED) <= set(TABLES)


@pytest.mark.parametrize("document", TABLES)
def test_command_table_matches_the_tool_help(document):
    """Each row of a page's command table is a synopsis that `vyrl --help` shows, all of them, in order."""
    help_text = subprocess.run([str(VYRL), "--help"], capture_output=True, timeout=30).stdout.decode()
    shown = re.findall(r"^  (vyrl \S.*)$", help_text, re.MULTILINE)
    assert command_table(document) == shown


def tool_help(*args):
    return subprocess.run([str(VYRL), *args, "--help"], capture_output=True, timeout=30).stdout.decode()


def options(text):
    return set(re.findall(r"(?<![\w-])(--?[A-Za-z][\w-]*)", text))


COMMANDS = re.findall(r"^  vyrl (\w+)", tool_help(), re.MULTILINE)


def reference_section(command):
    """The part of the command-line reference that describes one command."""
    found = re.search(rf"^### vyrl {command}\n(.*?)(?=^##)", TEXTS["docs/cli.md"], re.MULTILINE | re.DOTALL)
    assert found, f"docs/cli.md has no section '### vyrl {command}'"
    return found[1]


@pytest.mark.parametrize("command", COMMANDS)
def test_reference_gives_each_command_its_usage_and_options(command):
    """Every option that `vyrl COMMAND --help` names, even one only its prose names, is in the command's section."""
    help_text = tool_help(command)
    section = reference_section(command)
    usage = re.match(r"usage: (vyrl .*)", help_text)[1]
    assert f"Usage: `{usage}`" in section
    assert options(help_text) <= options(section)


def test_reference_gives_the_tool_options():
    listed = tool_help().split("\nOptions:\n")[1].split("\n\n")[0]
    heading = r"^### Options of vyrl itself\n(.*?)(?=^##)"
    section = re.search(heading, TEXTS["docs/cli.md"], re.MULTILINE | re.DOTALL)[1]
    assert options(listed) <= options(section)
    assert "\n  --  " in listed and "`--`" in section


# Snippets that show error messages rather than VYRL lines.
MESSAGE_LINE = re.compile(r"^(Parse Error|IO Error|Key not found|Invalid type|Directive '@|Schema ')")
# Snippets that name files which exist only in the reader's project.
NAMES_FILES = re.compile(r"^@(import|derive)\b", re.MULTILINE)

SNIPPETS = [
    (document, body)
    for document in DOCUMENTS
    for body in blocks("text", document)
    if not NAMES_FILES.search(body) and not all(MESSAGE_LINE.match(line) for line in body.splitlines())
]


@pytest.mark.parametrize(
    "document, snippet", SNIPPETS, ids=[f"{document}: {s.splitlines()[0][:40]}" for document, s in SNIPPETS]
)
def test_language_snippets_load(document, snippet):
    done = subprocess.run([str(VYRL), "check", "-"], input=snippet.encode(), capture_output=True, timeout=30)
    assert (done.returncode, done.stderr.decode()) == (0, "")


def test_snippets_that_name_files_load_from_the_repository_root():
    """The @import/@derive snippets, with the paths that the examples directory really has."""
    runnable = [
        (document, body) for document in DOCUMENTS for body in blocks("text", document) if NAMES_FILES.search(body)
    ]
    assert runnable
    for document, body in runnable:
        lines = [line for line in body.splitlines() if "examples/" in line]
        for line in lines:
            done = subprocess.run(
                [str(VYRL), "check", "-"], cwd=ROOT, input=line.encode(), capture_output=True, timeout=30
            )
            assert (done.returncode, done.stderr.decode()) == (0, ""), f"{document}: {line}"
