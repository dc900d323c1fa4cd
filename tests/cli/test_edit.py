"""`vyrl fmt` and `vyrl set`: what they print, what they write, and what they leave alone."""

import fcntl
import os
import signal
import stat
import subprocess
import time
from concurrent.futures import ThreadPoolExecutor

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
        (["set", "conf.vyr", "k"], "vyrl: missing arguments\nusage: vyrl set [--delete] [--append] FILE KEY [VALUE]\n"),
        (["set", "--delete", "conf.vyr", "k", "v"], "vyrl: option '--delete' takes FILE KEY, without a value\nusage: vyrl set [--delete] [--append] FILE KEY [VALUE]\n"),
        (["set", "-", "k", "v"], "vyrl: set edits a file in place, not standard input\nusage: vyrl set [--delete] [--append] FILE KEY [VALUE]\n"),
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


def test_a_hard_link_keeps_the_old_text(files, tmp_path):
    # The new text is a new file renamed over the name, as the help says.
    files(conf="k = 1\n")
    os.link(tmp_path / "conf.vyr", tmp_path / "other.vyr")
    assert vyrl("set", "conf.vyr", "k", "2") == (0, "", "")
    assert [(tmp_path / name).read_text() for name in ("conf.vyr", "other.vyr")] == ["k = 2\n", "k = 1\n"]


@pytest.mark.parametrize("mode", [0o4755, 0o2755, 0o6775], ids=oct)
@pytest.mark.parametrize("command", [["set", "conf.vyr", "k", "2"], ["fmt", "conf.vyr"]])
def test_writes_keep_the_set_user_and_group_id_bits(files, tmp_path, command, mode):
    files(conf="k=1\n")
    os.chmod(tmp_path / "conf.vyr", mode)
    assert vyrl(*command) == (0, "", "")
    assert (tmp_path / "conf.vyr").read_text() != "k=1\n"
    assert stat.S_IMODE(os.stat(tmp_path / "conf.vyr").st_mode) == mode


@pytest.mark.parametrize(
    "args, expected",
    [
        (["set", "NAME", "k", "1"], (1, "", "vyrl: cannot write NAME: not a regular file\n")),
        (["fmt", "NAME"], (1, "", "vyrl: cannot write NAME: not a regular file\n")),
        (["fmt", "NAME", "good.vyr"], (1, "", "vyrl: cannot write NAME: not a regular file\n")),
    ],
)
@pytest.mark.parametrize("name", ["pipe.vyr", "link.vyr", "folder"])
def test_what_is_not_a_regular_file_is_refused_unread(files, tmp_path, args, expected, name):
    # Read first, a FIFO with no writer would block for ever.
    if name == "folder" and args[0] == "fmt":
        pytest.skip("fmt formats the files below a directory")
    files(good="k=1\n")
    os.mkfifo(tmp_path / "pipe.vyr")
    os.symlink("pipe.vyr", tmp_path / "link.vyr")
    os.mkdir(tmp_path / "folder")
    status, out, err = expected
    assert vyrl(*[name if word == "NAME" else word for word in args], timeout=5) == (status, out, err.replace("NAME", name))
    assert (tmp_path / "good.vyr").read_text() == ("k = 1\n" if "good.vyr" in args else "k=1\n")


def test_check_and_diff_still_read_a_pipe():
    assert vyrl("fmt", "--check", "/dev/stdin", stdin=b"a=1\n") == (1, "/dev/stdin: would be reformatted\n", "")


def test_writers_of_one_file_take_turns(files, tmp_path):
    # Three writers set keys of a 20,000-line file while a fourth formats it:
    # each must edit what the one before wrote, or an edit is lost.
    lines = [f"key_{i}={i}\n" for i in range(20000)]
    files(big="".join(lines))
    writers, rounds = 3, 5

    def write(writer):
        if writer == writers:
            return [vyrl("fmt", "big.vyr") for _ in range(rounds)]
        return [vyrl("set", "big.vyr", f"key_{writer * 5000 + i}", f"w{writer}.{i}") for i in range(rounds)]

    with ThreadPoolExecutor(writers + 1) as pool:
        results = [result for done in pool.map(write, range(writers + 1)) for result in done]
    assert results == [(0, "", "")] * len(results)
    expected = [line.replace("=", " = ") for line in lines]
    for writer in range(writers):
        for i in range(rounds):
            expected[writer * 5000 + i] = f"key_{writer * 5000 + i} = w{writer}.{i}\n"
    # Only the lines that differ are compared: a diff of the whole text would take pytest minutes.
    got = (tmp_path / "big.vyr").read_text().splitlines(keepends=True)
    assert (len(got), [want for line, want in zip(got, expected) if line != want]) == (len(expected), [])
    assert sorted(os.listdir(tmp_path)) == ["big.vyr"]


def test_a_writer_waits_while_another_holds_the_file(files, tmp_path):
    files(conf="k = 1\n")
    with open(tmp_path / "conf.vyr") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        writer = subprocess.Popen([str(VYRL), "set", "conf.vyr", "k", "2"])
        time.sleep(0.3)
        assert (writer.poll(), (tmp_path / "conf.vyr").read_text()) == (None, "k = 1\n")
    assert writer.wait(timeout=5) == 0
    assert (tmp_path / "conf.vyr").read_text() == "k = 2\n"


@pytest.mark.parametrize(
    "command, signal_number",
    [
        (["set", "conf.vyr", "k", "2"], signal.SIGTERM),
        (["set", "conf.vyr", "k", "2"], signal.SIGINT),
        (["fmt", "conf.vyr"], signal.SIGTERM),
        (["fmt", "conf.vyr"], signal.SIGINT),
        # SIGKILL leaves the temporary file, but neither it nor the lock of
        # the killed writer holds up the next one.
        (["set", "conf.vyr", "k", "2"], signal.SIGKILL),
    ],
)
def test_a_writer_ended_by_a_signal_leaves_no_temporary_file(files, tmp_path, command, signal_number):
    comment = "# " + "x" * (16 << 20) + "\n"  # big enough to be caught writing
    files(conf="k=1\n" + comment)

    def temporary_files():
        return [name for name in os.listdir(tmp_path) if name != "conf.vyr"]

    # The whole process group is signalled, as a terminal or a supervisor
    # would, for $VYRL_CLI may be a wrapper script (scripts/test-hardening.sh)
    # and vyrl its child. A shell may start background jobs with SIGINT
    # ignored, which vyrl keeps, so it is set back to the default first.
    writer = subprocess.Popen(
        [str(VYRL), *command], start_new_session=True, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL)
    )
    deadline = time.monotonic() + 30
    while writer.poll() is None and time.monotonic() < deadline:
        if temporary_files():
            os.killpg(writer.pid, signal_number)
            break
    assert writer.wait(timeout=10) == -signal_number
    # A wrapper's child may end just after the wrapper.
    deadline = time.monotonic() + 5
    while temporary_files() and signal_number != signal.SIGKILL and time.monotonic() < deadline:
        time.sleep(0.01)
    assert temporary_files() == [] or signal_number == signal.SIGKILL
    # The old text or the new one, whole (compared as a flag: a diff would take minutes).
    first, rest = (tmp_path / "conf.vyr").read_text().split("\n", 1)
    assert (first, rest == comment) in {("k=1", True), ("k=2", True), ("k = 1", True)}
    assert vyrl("set", "conf.vyr", "k", "3", timeout=15) == (0, "", "")
    first, rest = (tmp_path / "conf.vyr").read_text().split("\n", 1)
    # fmt may have finished just before its signal came.
    assert (first, rest == comment) in {("k=3", True), ("k = 3", True)}


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


@pytest.mark.parametrize(
    "original, args, stderr",
    [
        # An import after the edited line wins: set must not say it succeeded.
        (
            "region = eu-north\n@import t.vyr\n",
            ["region", "ap-south"],
            "conf.vyr: cannot set 'region': the value that wins would be 'eu-west', set at t.vyr:1, imported at "
            "conf.vyr:2; nothing was written (--append sets it at the end of conf.vyr, where it wins)\n",
        ),
        # The file's own fault, on the file's own line, not the edited text's.
        ("a = 1\na = 2\nb = 2\nport 8080\n", ["--delete", "a"],
         "conf.vyr:4: Parse Error at line 4: 'port 8080'. Reason: Missing assignment operator '='\n"),
        ("a = 1\n@schema S {\n  a: i32\n", ["region", "x"], "conf.vyr:2: Directive '@schema' error: Expected '}'\n"),
        # A key behind a byte-order mark only looks like the one asked for.
        (
            "\ufeffregion = x\n",
            ["region", "y"],
            "conf.vyr: Invalid value: cannot write the key 'region': the first line assigns it behind a byte-order "
            "mark, which makes it another key; remove the mark first\n",
        ),
    ],
)
def test_set_refuses_what_would_not_take_effect_and_names_the_files_fault(files, tmp_path, original, args, stderr):
    files(conf=original, t="region = eu-west\n")
    command = ["set", args[0], "conf.vyr", *args[1:]] if args[0] == "--delete" else ["set", "conf.vyr", *args]
    assert vyrl(*command) == (1, "", stderr)
    assert (tmp_path / "conf.vyr").read_text(encoding="utf-8") == original


@pytest.mark.parametrize(
    "original, expected",
    [
        ("region = eu-north\n@import t.vyr\n", "region = eu-north\n@import t.vyr\nregion = ap-south\n"),
        # A last line without its line end gets one before the new line.
        ("@import t.vyr", "@import t.vyr\nregion = ap-south\n"),
    ],
)
def test_set_append_puts_the_assignment_where_it_wins(files, tmp_path, original, expected):
    files(conf=original, t="region = eu-west\n")
    assert vyrl("set", "--append", "conf.vyr", "region", "ap-south") == (0, "", "")
    assert (tmp_path / "conf.vyr").read_text(encoding="utf-8") == expected
    assert vyrl("get", "conf.vyr", "region") == (0, "ap-south\n", "")


@pytest.mark.parametrize("conf", ["@derive t.vyr\n", "region = a\n@import d.vyr\n"])
def test_set_wins_over_a_derived_value(files, conf):
    # A derived value never replaces one the document has, so the edit wins.
    files(conf=conf, d="@derive t.vyr\n", t="region = eu-west\n")
    assert vyrl("set", "conf.vyr", "region", "x") == (0, "", "")
    assert vyrl("get", "conf.vyr", "region") == (0, "x\n", "")


@pytest.mark.parametrize("args", [["a", "12345678"], ["--delete", "longer"], ["fresh", "1"]])
def test_set_keeps_a_formatted_file_formatted(files, args):
    files(conf="a = 1       # c\nlonger = 2  # d\n")
    command = ["set", args[0], "conf.vyr", *args[1:]] if args[0] == "--delete" else ["set", "conf.vyr", *args]
    assert vyrl(*command) == (0, "", "")
    assert vyrl("fmt", "--check", "conf.vyr") == (0, "", "")
