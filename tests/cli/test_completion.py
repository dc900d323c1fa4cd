"""`vyrl completion`: each script parses in its shell and offers what the tool accepts."""

import re
import shutil
import subprocess

import pytest

from test_cli import VYRL, vyrl

# The line that checks a script's syntax without running it.
SYNTAX = {"bash": ["bash", "-n"], "zsh": ["zsh", "-n"], "fish": ["fish", "-n"]}


@pytest.mark.parametrize("shell", SYNTAX)
def test_each_script_is_valid_in_its_shell(shell, tmp_path):
    if shutil.which(shell) is None:
        pytest.skip(f"{shell} is not installed")
    status, script, err = vyrl("completion", shell)
    assert (status, err) == (0, "")
    (tmp_path / "script").write_text(script)
    done = subprocess.run([*SYNTAX[shell], str(tmp_path / "script")], capture_output=True, timeout=30)
    assert (done.returncode, done.stderr) == (0, b"")


def bash_completes(line, cwd):
    """The words the bash script offers for `line`, completed at its end."""
    words = line.split(" ")
    driver = (
        f'source <("{VYRL}" completion bash)\n'
        'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vyrl\n'
        'for word in "${COMPREPLY[@]}"; do printf "%s\\n" "$word"; done\n'
    )
    done = subprocess.run(["bash", "-c", driver, "bash", *words], cwd=cwd, capture_output=True, timeout=30)
    assert done.returncode == 0, done.stderr
    return sorted(done.stdout.decode().split("\n")[:-1])


@pytest.mark.parametrize(
    "line, expected",
    [
        ("vyrl ch", ["check"]),
        ("vyrl check --st", ["--strict"]),
        ("vyrl dump --", ["--help", "--json", "--raw", "--root"]),
        ("vyrl check ", ["a.vyr", "sub"]),
        ("vyrl check a.vyr ", ["a.vyr", "sub"]),
        ("vyrl get ", ["a.vyr", "sub"]),
        ("vyrl get a.vyr ", []),  # a KEY, not a file
        ("vyrl get --root sub ", ["a.vyr", "sub"]),
        ("vyrl keys --root ", ["sub"]),
        ("vyrl validate i32 1 --file ", ["a.vyr", "sub"]),
        ("vyrl completion ", ["bash", "fish", "zsh"]),
        ("vyrl help fm", ["fmt"]),
    ],
)
def test_bash_offers_commands_options_and_files(tmp_path, line, expected):
    (tmp_path / "sub").mkdir()
    (tmp_path / "a.vyr").write_text("k = v\n")
    (tmp_path / "notes.txt").write_text("")
    assert bash_completes(line, tmp_path) == expected


def test_bash_offers_every_command_and_option_the_help_shows(tmp_path):
    _, help_text, _ = vyrl("--help")
    synopses = re.findall(r"^  vyrl (\S+)(.*)$", help_text, re.MULTILINE)
    commands = [name for name, _ in synopses]
    assert bash_completes("vyrl ", tmp_path) == sorted(["help", *commands, "--help", "--version"])
    for name, synopsis in synopses:
        assert set(re.findall(r"--[a-z][a-z-]*", synopsis)) <= set(bash_completes(f"vyrl {name} --", tmp_path)), name


@pytest.mark.skipif(shutil.which("fish") is None, reason="fish is not installed")
def test_fish_offers_commands_and_only_vyr_files(tmp_path):
    (tmp_path / "sub").mkdir()
    (tmp_path / "a.vyr").write_text("")
    (tmp_path / "notes.txt").write_text("")
    driver = f'"{VYRL}" completion fish | source; complete -C "vyrl ch"; complete -C "vyrl check "'
    done = subprocess.run(["fish", "-c", driver], cwd=tmp_path, capture_output=True, timeout=30)
    assert done.stdout.decode().split("\n") == ["check", "a.vyr", "sub/", ""]


def test_an_unknown_shell_is_a_usage_error():
    assert vyrl("completion", "bsah") == (
        2, "", "vyrl: unknown shell 'bsah'\ndid you mean 'bash'?\nusage: vyrl completion SHELL\n")
