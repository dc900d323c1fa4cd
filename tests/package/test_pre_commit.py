"""The pre-commit hook that .pre-commit-hooks.yaml offers, tried as a user tries it first.

`pre-commit try-repo` installs the hook from this checkout (with uncommitted
changes) into a scratch repository's run. Its environments are kept in
$PRE_COMMIT_HOME (build/pre-commit by default), so a later run at the same
commit reuses them.
"""

import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BROKEN = "bad.vyr: Parse Error at line 2: 'broken'. Reason: Missing assignment operator '='"

FILES = {
    "good.vyr": "@schema S { port: i32 }\nport = 8080\n",
    "bad.vyr": "name = x\nbroken\n",
    # Not a VYRL file, and not one either by content: the hook must leave it alone.
    "notes.txt": "no assignment here\n",
}


@pytest.mark.parametrize(
    "names, status, shown",
    [
        (["good.vyr", "notes.txt"], 0, ["good.vyr: ok"]),
        (["good.vyr", "bad.vyr", "notes.txt"], 1, ["good.vyr: ok", BROKEN]),
    ],
)
def test_hook_checks_vyrl_files_only(tmp_path, names, status, shown):
    for name in names:
        (tmp_path / name).write_text(FILES[name], encoding="utf-8")
    subprocess.run(["git", "init", "-q"], cwd=tmp_path, check=True)
    subprocess.run(["git", "add", *names], cwd=tmp_path, check=True)
    env = dict(os.environ, PRE_COMMIT_HOME=os.environ.get("PRE_COMMIT_HOME", str(ROOT / "build" / "pre-commit")))
    done = subprocess.run(
        [sys.executable, "-m", "pre_commit", "try-repo", str(ROOT), "vyrl-check", "--all-files", "--verbose"],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=900,
    )
    output = done.stdout + done.stderr
    assert done.returncode == status, output
    for line in shown:
        assert line in output.splitlines(), output
    assert "notes.txt" not in output
