"""`vyrl fmt` and `vyrl set`: what they print, what they write, and what they leave alone."""

import os
import stat
import subprocess

import pytest

from test_cli import ROOT, VYRL, files, vyrl  # noqa: F401  (files is a fixture)

UNFORMATTED = "a=1   # one\nlonger  =  2 # two\n\n\n\n@schema S {\nx: i32 }\n"
FORMATTED = "a = 1       # one\nlonger = 2  # two\n\n@schema S {\n  x: i32\n}\n"


def test_fmt_rewrites_a_file_in_place_and_then_leaves_it(files, tmp_path):
    files(conf=UNFORMATTED)
    assert vyrl("fmt", "conf.vyr") == (0, "", "")
    assert (tmp_path / "conf.vyr").read_text() == FORMATTED
    assert vyrl("fmt", "--check", "conf.vyr") == (0, "", "")


@pytest.mark.parametrize(
    "args, expected",
    [
        (["--check", "conf.vyr", "good.vyr"], (1, "conf.vyr: would be reformatted\n", "")),
        (
            ["--diff", "conf.vyr", "good.vyr"],
            (
                0,
                "--- conf.vyr\n+++ conf.vyr\n@@ -1,2 +1,2 @@\n-a=1   # one\n-longer  =  2 # two\n"
                "+a = 1       # one\n+longer = 2  # two\n",
                "",
            ),
        ),
        (
            ["--check", "--diff", "conf.vyr"],
            (
                1,
                "--- conf.vyr\n+++ conf.vyr\n@@ -1,2 +1,2 @@\n-a=1   # one\n-longer  =  2 # two\n"
                "+a = 1       # one\n+longer = 2  # two\n",
                "",
            ),
        ),
    ],
)
def test_fmt_check_and_diff_write_nothing(files, tmp_path, args, expected):
    files(conf="a=1   # one\nlonger  =  2 # two\n", good="k = v\n")
    assert vyrl("fmt", *args) == expected
    assert (tmp_path / "conf.vyr").read_text() == "a=1   # one\nlonger  =  2 # two\n"


@pytest.mark.parametrize(
    "stdin, expected",
    [
        (UNFORMATTED.encode(), (0, FORMATTED, "")),
        (b"a=1\r\nb=2", (0, "a = 1\r\nb = 2\r\n", "")),
        # Wrong values still format: fmt reads layout, not types or imports.
        (b"@schema S { port: i32 }\nport=fast\n@import nowhere.vyr\n", (0, "@schema S { port: i32 }\nport = fast\n@import nowhere.vyr\n", "")),
        (b"a = 1\nbroken\n", (1, "", "<stdin>:2: Parse Error at line 2: 'broken'. Reason: Missing assignment operator '='\n")),
    ],
)
def test_fmt_reads_standard_input_for_a_dash(stdin, expected):
    assert vyrl("fmt", "-", stdin=stdin) == expected


def test_fmt_leaves_an_unreadable_file_as_it_was(files, tmp_path):
    files(bad="a=1\n@schema S { a : i32 }\n")
    assert vyrl("fmt", "bad.vyr") == (1, "", "bad.vyr:2: Directive '@schema' error: Bad field: 'a'\n")
    assert (tmp_path / "bad.vyr").read_text() == "a=1\n@schema S { a : i32 }\n"


@pytest.mark.parametrize(
    "command", [["fmt"], ["fmt", "--check"], ["set", "conf.vyr", "a", "2"], ["set", "--delete", "conf.vyr", "a"]]
)
@pytest.mark.parametrize("original, line", [(b"name = caf\xe3\xc0\xc0\n", 1), (b"a   =   1\nb = \xff\xfe\n", 2)])
def test_a_file_that_is_not_utf8_is_refused_and_left_whole(files, tmp_path, command, original, line):
    files(conf=original)
    args = command if command[0] == "set" else [*command, "conf.vyr"]
    assert vyrl(*args) == (1, "", f"conf.vyr:{line}: IO Error: stream did not contain valid UTF-8\n")
    assert (tmp_path / "conf.vyr").read_bytes() == original


def test_fmt_is_stable_on_a_last_line_kept_whole_that_ends_in_a_lone_cr(files, tmp_path):
    files(conf=b"a = 1\nx = 1 #\v\r")
    assert vyrl("fmt", "conf.vyr") == (0, "", "")
    assert (tmp_path / "conf.vyr").read_bytes() == b"a = 1\nx = 1 #\v\n"
    assert vyrl("fmt", "--check", "conf.vyr") == (0, "", "")


def test_fmt_check_passes_on_every_example():
    examples = sorted(str(path.relative_to(ROOT)) for path in (ROOT / "examples").glob("*.vyr"))
    done = subprocess.run([str(VYRL), "fmt", "--check", *examples], cwd=ROOT, capture_output=True, timeout=30)
    assert (done.returncode, done.stdout, done.stderr) == (0, b"", b"")


@pytest.mark.parametrize(
    "value",
    ["8080", "", "  padded  ", "a # b", "# lead", "say \"hi\"", "'single'", "\"double\"", "a = b", "[1, 2]", "{ x = 1 }", "café ✓", "-5"],
)
def test_set_then_get_returns_exactly_the_value(files, value):
    files(conf="@schema S { port*: string }\nport = 1\nname = x  # kept\n")
    assert vyrl("set", "conf.vyr", "port", value) == (0, "", "")
    assert vyrl("get", "conf.vyr", "port") == (0, value + "\n", "")
    assert vyrl("set", "conf.vyr", "fresh", value) == (0, "", "")
    assert vyrl("get", "conf.vyr", "fresh") == (0, value + "\n", "")
    assert vyrl("get", "conf.vyr", "name") == (0, "x\n", "")


def test_set_changes_only_the_winning_line_and_delete_removes_every_one(files, tmp_path):
    files(conf="k = 1\r\nother = 2   # note\r\nk = 3 # wins\r\n")
    assert vyrl("set", "conf.vyr", "k", "9") == (0, "", "")
    assert (tmp_path / "conf.vyr").read_bytes() == b"k = 1\r\nother = 2   # note\r\nk = 9 # wins\r\n"
    assert vyrl("set", "--delete", "conf.vyr", "k") == (0, "", "")
    assert (tmp_path / "conf.vyr").read_bytes() == b"other = 2   # note\r\n"
    assert vyrl("get", "conf.vyr", "k") == (1, "", "conf.vyr: Key not found: 'k'\n")


@pytest.mark.parametrize(
    "args, stderr",
    [
        (["conf.vyr", "port", "fast"], "conf.vyr:2: Schema 'S' validation error: field 'port' (type 'i32') — Invalid value: Expected i32, got 'fast'\n"),
        (["conf.vyr", "a=b", "1"], "conf.vyr: Invalid value: cannot write the key 'a=b': an '=' in it would end the key early\n"),
        (["conf.vyr", "@x", "1"], "conf.vyr: Invalid value: cannot write the key '@x': a line starting with '@' is a directive\n"),
        (["conf.vyr", "k", "a\nb"], "conf.vyr: Invalid value: cannot write the value 'a\nb': a value cannot hold a line break\n"),
        (["--delete", "conf.vyr", "nope"], "conf.vyr: Key not found: 'nope'\n"),
        (["gone.vyr", "k", "1"], "gone.vyr: IO Error: No such file or directory (os error 2)\n"),
    ],
)
def test_a_refused_set_leaves_every_byte(files, tmp_path, args, stderr):
    original = b"@schema S { port: i32 }\nport = 1   # odd   spacing \n"
    files(conf=original)
    assert vyrl("set", *args) == (1, "", stderr)
    assert (tmp_path / "conf.vyr").read_bytes() == original
    assert sorted(os.listdir(tmp_path)) == ["conf.vyr"]


def test_set_refuses_an_edit_that_breaks_an_import_chain(files, tmp_path):
    files(types="@schema S { port: i32 }\n", conf="@import types.vyr\nport = 1\n")
    assert vyrl("set", "conf.vyr", "port", "x") == (
        1, "", "conf.vyr:2: Schema 'S' validation error: field 'port' (type 'i32') — Invalid value: Expected i32, got 'x'\n")
    assert (tmp_path / "conf.vyr").read_text() == "@import types.vyr\nport = 1\n"


def test_writes_go_through_a_symbolic_link_and_keep_the_mode(files, tmp_path):
    files(real="k = 1\n")
    os.chmod(tmp_path / "real.vyr", 0o640)
    os.symlink("real.vyr", tmp_path / "link.vyr")
    assert vyrl("set", "link.vyr", "k", "2") == (0, "", "")
    assert vyrl("fmt", "link.vyr") == (0, "", "")
    assert os.path.islink(tmp_path / "link.vyr")
    assert (tmp_path / "real.vyr").read_text() == "k = 2\n"
    assert stat.S_IMODE(os.stat(tmp_path / "real.vyr").st_mode) == 0o640
    assert sorted(os.listdir(tmp_path)) == ["link.vyr", "real.vyr"]


@pytest.mark.parametrize("command", [["set", "conf.vyr", "k", "2"], ["fmt", "conf.vyr"]])
def test_a_read_only_file_or_directory_is_refused_and_left_whole(files, tmp_path, command):
    files(conf="k=1\n")
    os.chmod(tmp_path / "conf.vyr", 0o444)
    assert vyrl(*command) == (1, "", "vyrl: cannot write conf.vyr: Permission denied\n")
    os.chmod(tmp_path / "conf.vyr", 0o644)
    os.chmod(tmp_path, 0o555)
    try:
        assert vyrl(*command) == (1, "", "vyrl: cannot write conf.vyr: its directory: Permission denied\n")
    finally:
        os.chmod(tmp_path, 0o755)
    assert (tmp_path / "conf.vyr").read_text() == "k=1\n"
    assert sorted(os.listdir(tmp_path)) == ["conf.vyr"]


@pytest.mark.parametrize(
    "args, stderr",
    [
        (["set", "conf.vyr", "k"], "vyrl: missing arguments\nusage: vyrl set [--delete] FILE KEY [VALUE]\n"),
        (["set", "--delete", "conf.vyr", "k", "v"], "vyrl: option '--delete' takes FILE KEY, without a value\nusage: vyrl set [--delete] FILE KEY [VALUE]\n"),
        (["set", "-", "k", "v"], "vyrl: set edits a file in place, not standard input\nusage: vyrl set [--delete] FILE KEY [VALUE]\n"),
    ],
)
def test_set_usage_errors(files, args, stderr):
    files(conf="k = 1\n")
    assert vyrl(*args) == (2, "", stderr)


def test_a_write_that_fails_midway_leaves_no_temporary_file(files, tmp_path):
    import resource
    import signal

    def small_files():
        # Writing past the limit then fails with EFBIG instead of a signal.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (16, 16))

    original = "k = 1\n# " + "x" * 64 + "\n"
    files(conf=original)
    done = subprocess.run([str(VYRL), "set", "conf.vyr", "k", "2"], preexec_fn=small_files, capture_output=True, timeout=30)
    assert (done.returncode, done.stderr) == (1, b"vyrl: cannot write conf.vyr: File too large\n")
    assert (tmp_path / "conf.vyr").read_text() == original
    assert sorted(os.listdir(tmp_path)) == ["conf.vyr"]


def test_fmt_takes_a_directory_for_the_vyr_files_below_it(tmp_path):
    for name in ["conf/a.vyr", "conf/deep/b.vyr", "conf/.cache/c.vyr"]:
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text("k=1\n")
    (tmp_path / "conf" / "notes.txt").write_text("k=1\n")
    (tmp_path / "empty").mkdir()
    assert vyrl("fmt", "--check", "conf", cwd=tmp_path) == (
        1, "conf/a.vyr: would be reformatted\nconf/deep/b.vyr: would be reformatted\n", "")
    assert vyrl("fmt", "conf", cwd=tmp_path) == (0, "", "")
    assert [(tmp_path / name).read_text() for name in ["conf/a.vyr", "conf/deep/b.vyr", "conf/.cache/c.vyr", "conf/notes.txt"]] == [
        "k = 1\n", "k = 1\n", "k=1\n", "k=1\n"]
    assert vyrl("fmt", "--check", "conf", "empty", cwd=tmp_path) == (0, "", "")
