"""The pre-commit hook that .pre-commit-hooks.yaml offers, tried as a user tries it first.

`pre-commit try-repo` installs the hook from this checkout, uncommitted changes
to tracked files included, and runs it in a scratch repository.
"""

import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
FILES = {
    "good.vyr": "@schema S { port: i32 }\nport = 8080\n",
    "bad.vyr": "name = x\nbroken\n",
    # Not VYRL by name, nor by content: if the hook passed it on, vyrl would report it.
    "notes.txt": "no assignment here\n",
}
# What the hook's output says of each file (None: nothing).
SHOWN = {
    "good.vyr": "good.vyr: ok",
    "bad.vyr": "bad.vyr:2: Parse Error at line 2: 'broken'. Reason: Missing assignment operator '='",
    "notes.txt": None,
}


def test_hook_checks_vyrl_files_and_fails_on_a_broken_one(tmp_path):
    # One run, because each try-repo builds the package afresh: what it prints for
    # each file shows that .vyr files, and only they, reached vyrl check.
    repo = tmp_path / "repo"
    repo.mkdir()
    for name, content in FILES.items():
        (repo / name).write_text(content, encoding="utf-8")
    subprocess.run(["git", "init", "-q"], cwd=repo, check=True)
    subprocess.run(["git", "add", *FILES], cwd=repo, check=True)
    # pre-commit keeps a log and a database there even for try-repo: not in the user's home.
    env = dict(os.environ, PRE_COMMIT_HOME=str(tmp_path / "pre-commit-home"))
    done = subprocess.run(
        [sys.executable, "-m", "pre_commit", "try-repo", str(ROOT), "vyrl-check", "--all-files", "--verbose"],
        cwd=repo, env=env, capture_output=True, text=True, timeout=900,
    )
    output = done.stdout + done.stderr
    assert done.returncode == 1, output
    lines = output.splitlines()
    for name, shown in SHOWN.items():
        if shown is None:
            assert not [line for line in lines if line.startswith(name)], output
        else:
            assert shown in lines, output
