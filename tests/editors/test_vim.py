"""editors/vim in headless Neovim and Vim: the group under each byte, :make, gq, and the documented Neovim set-up.

The grammar's tables serve here too, so both editors read a line alike. A missing editor is skipped, and so
are the tests that need `vyrl` when neither $VYRL_CLI nor PATH has it.
"""

import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

import test_grammar as g

ROOT = Path(__file__).resolve().parents[2]
EDITORS = ["nvim", "vim"]

# The grammar's scope of a token (its name there), and the groups that may show it.
SHOWN_AS = """KEY Key,ObjectKey EQ Operator COMMENT Comment TEXT Text DQ String,ItemString,FieldString
    SQ String,ItemString,FieldString QUOTED OpenSingle,OpenDouble NUM Number COLOR Color BOOL Boolean DATETIME Date
    DURATION Duration COMMA Comma LIST_OPEN Delimiter LIST_CLOSE Delimiter OBJ_OPEN Delimiter OBJ_CLOSE Delimiter
    BLOCK_OPEN Delimiter BLOCK_CLOSE Delimiter DIRECTIVE Directive BAD_DIRECTIVE BadDirective BAD_LINE BadLine
    UNKNOWN_ARGS UnknownDirective BAD_TYPE BadType PATH Path,DerivePath SELECTOR Selector SCHEMA SchemaName
    ALIAS AliasName TYPE TypeName PRIMITIVE Primitive TIME TimeType MATH MathType PHYSICS Unit LIST ListType
    LT ListType GT ListType FIELD Field OPTIONAL Optional COLON FieldColon""".split()
GROUPS = {getattr(g, name): {"vyrl" + group for group in groups.split(",")} for name, groups in zip(SHOWN_AS[::2], SHOWN_AS[1::2])}

UNITS = [f"physics::{name}" for unit in g.canonical_units() for name in g.spellings(unit)] + ["physics::atomic_mass_unit"]
CASES = g.LINE_CASES + g.MULTI_LINE_CASES + [
    ("\n".join(f"@type u = {unit}" for unit in UNITS), [(unit, g.PHYSICS) for unit in UNITS]),
]


def quoted(text):
    return json.dumps(str(text))  # a Vim string too, for all written here


def run(editor, workdir, commands, env=None):
    """Runs the Vim script `commands` with editors/vim on the runtime path; returns what it left in g:out."""
    if shutil.which(editor) is None:
        pytest.skip(f"{editor} is not installed")
    output = workdir / "out.json"
    script = ["let g:out = {}", "filetype plugin on", "syntax on", "set hidden", "try", *commands, "catch",
              "let g:out.exception = v:exception", "endtry", "let g:out.errmsg = v:errmsg",
              f"call writefile([json_encode(g:out)], {quoted(output)})", "qa!"]
    (workdir / "run.vim").write_text("\n".join(script) + "\n", encoding="utf-8")
    # Set before startup, as a user's configuration is: Neovim detects file types before a -S script runs.
    runtime = f"let &runtimepath = {quoted(ROOT / 'editors' / 'vim')} . ',' . &runtimepath"
    flags = ["--headless", "--clean"] if editor == "nvim" else ["-N", "-es"]
    command = [editor, *flags, "-u", "NONE", "-i", "NONE", "-n", "--cmd", runtime, "-S", "run.vim"]
    done = subprocess.run(command, cwd=workdir, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    assert output.exists(), done.stderr.decode(errors="replace")
    out = json.loads(output.read_text(encoding="utf-8"))
    assert (out.pop("exception", ""), out.pop("errmsg")) == ("", "")
    return out


@pytest.fixture(scope="module", params=EDITORS)
def shown(request, tmp_path_factory):
    """Each case's file type and the group of every byte, line by line, from one run of the editor."""
    workdir = tmp_path_factory.mktemp(request.param)
    for number, (text, _) in enumerate(CASES):
        (workdir / f"{number}.vyr").write_text(text + "\n", encoding="utf-8")
    return run(request.param, workdir, [
        "let g:out.files = []",
        f"for number in range({len(CASES)})",
        "  execute 'edit' number . '.vyr'",
        "  call add(g:out.files, [&filetype] + map(range(1, line('$')),"
        " {_, row -> map(range(1, col([row, '$']) - 1), {_, c -> synIDattr(synID(row, c, 1), 'name')})}))",
        "endfor",
    ])["files"]


@pytest.mark.parametrize("number", range(len(CASES)), ids=[repr(text[:40]) for text, _ in CASES])
def test_groups_follow_the_grammar(shown, number):
    (text, tokens), (filetype, *lines) = CASES[number], shown[number]
    wrong, position = [], 0
    for token, scope in tokens:
        start = text.index(token, position)
        position = start + len(token)
        row, column = text.count("\n", 0, start), start - text.rfind("\n", 0, start) - 1
        first = len(text.split("\n")[row][:column].encode("utf-8"))
        groups = set(lines[row][first : first + len(token.encode("utf-8"))])
        if not groups or not groups <= GROUPS[scope]:
            wrong.append((token, groups))
    assert (filetype, wrong) == ("vyrl", [])


@pytest.fixture
def with_vyrl(tmp_path):
    """An environment whose PATH has `vyrl`, the one of $VYRL_CLI if set."""
    cli = os.environ.get("VYRL_CLI") or shutil.which("vyrl") or pytest.skip("no vyrl: set VYRL_CLI or PATH")
    (tmp_path / "bin").mkdir()
    (tmp_path / "bin" / "vyrl").symlink_to(Path(cli).absolute())
    return dict(os.environ, PATH=f"{tmp_path / 'bin'}{os.pathsep}{os.environ['PATH']}")


MAKE_CASES = {  # the files (:make runs on the first), and each entry: file, line, type, a part of its text
    "error": ({"my a.vyr": "x = 1\nport 8080\n"}, [("my a.vyr", 2, "E", "Missing assignment operator '='")]),
    "imported": (
        {"a.vyr": "@import b.vyr\n", "b.vyr": "@schema S { a: strng }\na = 1\n"},
        [("b.vyr", 2, "E", "Unknown type 'strng'\n  imported from a.vyr:1\n  did you mean 'string'?")],
    ),
    "derived": ({"a.vyr": "@derive b.vyr\n", "b.vyr": "@schema S { y: i32 }\ny = x\n"}, [("b.vyr", 2, "E", "\n  derived from a.vyr:1")]),
    # A file that cannot be read has no line: the line that imports it stands in.
    "unreadable": ({"a.vyr": "x = 1\n@import gone.vyr\n"}, [("a.vyr", 2, "E", "gone.vyr: IO Error")]),
    "warning": ({"a.vyr": "@type t = list<i32>\n"}, [("a.vyr", 1, "w", "accepts no value")]),
    # A hint on how to fix the mistake goes with its error.
    "hint": ({"a.vyr": "@schema S { port : i32 }\n"}, [("a.vyr", 1, "E", "Bad field: 'port'\n  a field is written")]),
    "ok": ({"a.vyr": "x = 1\n"}, []),
}


@pytest.mark.parametrize("editor", EDITORS)
@pytest.mark.parametrize("files, expected", MAKE_CASES.values(), ids=MAKE_CASES)
def test_make_fills_the_quickfix_list(tmp_path, with_vyrl, editor, files, expected):
    for name, text in files.items():
        (tmp_path / name).write_text(text, encoding="utf-8")
    listed = run(editor, tmp_path, [
        f"execute 'edit' fnameescape({quoted(next(iter(files)))})", "silent make!",
        "let g:out.list = map(getqflist(), '[bufname(v:val.bufnr), v:val.lnum, v:val.type, v:val.valid, v:val.text]')",
    ], with_vyrl)["list"]
    assert [entry[:4] + [part in entry[4]] for entry, (*_, part) in zip(listed, expected)] == [
        [name, line, kind, 1, True] for name, line, kind, _ in expected
    ]
    assert len(listed) == len(expected)


FORMAT_CASES = [  # a text, and its lines after gggqG: None where `vyrl fmt` refuses it, so they stay
    ("a = 1\n\n\n\nb=2\n", ["a = 1", "", "b = 2"]),
    ("@schema S {\nport: i32 }\n", ["@schema S {", "  port: i32", "}"]),
    ("port=8080\nbroken line\n", None),
]


@pytest.mark.parametrize("editor", EDITORS)
@pytest.mark.parametrize("text, expected", FORMAT_CASES, ids=[text.split("\n")[0] for text, _ in FORMAT_CASES])
def test_gq_formats_as_vyrl_fmt(tmp_path, with_vyrl, editor, text, expected):
    (tmp_path / "f.vyr").write_text(text, encoding="utf-8")
    out = run(editor, tmp_path, ["edit f.vyr", "silent normal! gggqG", "let g:out.lines = getline(1, '$')"], with_vyrl)
    assert out["lines"] == (text.splitlines() if expected is None else expected)


def documented_neovim_setup():
    page = (ROOT / "docs" / "editors.md").read_text(encoding="utf-8")
    return page.split("Neovim 0.7 or later, with its built-in client")[1].split("```lua\n")[1].split("```\n")[0]


def test_the_documented_neovim_setup_starts_the_language_server(tmp_path, with_vyrl):
    # On the installed Neovim: Debian's 0.7 has neither vim.fs.root nor vim.lsp.start.
    (tmp_path / "init.lua").write_text(documented_neovim_setup(), encoding="utf-8")
    (tmp_path / ".git").mkdir()
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "bad.vyr").write_text("x = 1\nport 8080\n", encoding="utf-8")
    (tmp_path / "sub" / "good.vyr").write_text("x = 1\n", encoding="utf-8")
    wait = "call luaeval('vim.wait(10000, function() return {} end, 20)')"
    out = run("nvim", tmp_path / "sub", [
        "autocmd! filetypedetect BufNewFile,BufRead *.vyr",  # the snippet must set the file type itself
        "luafile ../init.lua", "edit bad.vyr", wait.format("#vim.diagnostic.get(0) > 0"),
        "let g:out.errors = luaeval('vim.tbl_map(function(d) return d.lnum end, vim.diagnostic.get(0))')",
        "edit good.vyr", wait.format("next(vim.lsp.buf_get_clients(0)) ~= nil"),
        "let g:out.clients = luaeval('vim.tbl_map(function(c) return {c.config.root_dir,"
        " #vim.lsp.get_buffers_by_client_id(c.id)} end, vim.lsp.get_active_clients())')",
    ], with_vyrl)
    # The broken line's error arrived, and one server, at the project's root, serves both files.
    assert out == {"errors": [1], "clients": [[str(tmp_path), 2]]}


def test_neovims_client_carries_semantic_tokens_both_ways(tmp_path, with_vyrl):
    # Neovim 0.7 colours none itself, but its client must send the request and
    # take the answer as it comes.
    (tmp_path / "init.lua").write_text(documented_neovim_setup(), encoding="utf-8")
    (tmp_path / ".git").mkdir()
    (tmp_path / "a.vyr").write_text("port = 8080  # c\n", encoding="utf-8")
    ask = (
        "local answers = vim.lsp.buf_request_sync(0, 'textDocument/semanticTokens/full',"
        " {textDocument = vim.lsp.util.make_text_document_params()}, 5000) or {};"
        " vim.g.vyrl_tokens = vim.tbl_map(function(a) return {a.err or vim.NIL, a.result.data} end,"
        " vim.tbl_values(answers))"
    )
    out = run("nvim", tmp_path, [
        "luafile init.lua", "edit a.vyr",
        "call luaeval('vim.wait(10000, function() return next(vim.lsp.buf_get_clients(0)) ~= nil end, 20)')",
        f"lua {ask}", "let g:out.tokens = g:vyrl_tokens",
    ], with_vyrl)
    # port (property), 8080 (number), # c (comment): five numbers each, placed from the one before.
    assert out == {"tokens": [[None, [0, 0, 4, 0, 0, 0, 7, 4, 2, 0, 0, 6, 3, 3, 0]]]}
