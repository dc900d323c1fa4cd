"""The set-up scripts' helpers (scripts/common.sh): installing from Debian, and
the stages of a long run with their summary.

apt-get, dpkg-query and sudo are stand-ins here, so nothing is installed and no
lock is taken.
"""

import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]

FAKE_APT = """#!/bin/sh
echo "DEBIAN_FRONTEND=$DEBIAN_FRONTEND $*" >>"$APT_LOG"
echo "debconf: delaying package configuration, since apt-utils is not installed" >&2
case $(sed -n "$(wc -l <"$APT_LOG")p" "$APT_OUTCOMES") in
  lock) echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 1 (apt-get)" >&2; exit 100 ;;
  fail) echo "E: Unable to locate package nosuch" >&2; exit 100 ;;
esac
"""


@pytest.fixture
def apt(tmp_path):
    """Runs bash code with common.sh sourced and a stand-in apt-get that answers
    its calls with the given outcomes; returns the run and the calls it saw."""
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    for name, text in {"apt-get": FAKE_APT, "dpkg-query": "#!/bin/sh\nexit 1\n", "sudo": '#!/bin/sh\nexec "$@"\n'}.items():
        (bin_dir / name).write_text(text)
        (bin_dir / name).chmod(0o755)
    log = tmp_path / "apt.log"

    def run(code, *outcomes, **env):
        (tmp_path / "outcomes").write_text("".join(f"{o}\n" for o in outcomes))
        log.write_text("")
        env = dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}", APT_LOG=str(log),
                   APT_OUTCOMES=str(tmp_path / "outcomes"), **env)
        done = subprocess.run(["bash", "-c", f"set -euo pipefail; source scripts/common.sh; {code}"],
                              cwd=ROOT, env=env, capture_output=True, text=True, timeout=60)
        return done, log.read_text().splitlines()

    return run


def test_apt_waits_for_a_held_lock_and_keeps_quiet(apt):
    done, calls = apt("apt_get update -qq", "lock", "ok")
    assert done.returncode == 0
    assert calls == ["DEBIAN_FRONTEND=noninteractive -o DPkg::Lock::Timeout=600 update -qq"] * 2
    assert "debconf" not in done.stderr and "Could not get lock" not in done.stderr


def test_apt_shows_any_other_failure_at_once(apt):
    done, calls = apt("apt_get install -y nosuch", "fail", "ok")
    assert done.returncode == 100 and len(calls) == 1
    assert "Unable to locate package nosuch" in done.stderr


def test_apt_stops_waiting_after_its_limit(apt):
    done, calls = apt("apt_get update", "lock", "ok", VYRL_APT_WAIT_SECONDS="0")
    assert done.returncode == 100 and len(calls) == 1
    assert "Could not get lock" in done.stderr


@pytest.mark.parametrize("option, test_libraries", [("--build-only", False), ("", True)])
def test_the_example_installs_no_test_libraries(apt, option, test_libraries):
    done, calls = apt(f"scripts/install-deps.sh {option}", "ok", "ok")
    assert done.returncode == 0, done.stderr
    words = calls[1].split()
    installed = set(words[words.index("--no-install-recommends") + 1:])
    assert {"g++", "nlohmann-json3-dev", "python3-dev"} <= installed
    wanted = {"libgtest-dev", "libgmock-dev", "libbenchmark-dev"} & installed
    assert wanted == ({"libgtest-dev", "libgmock-dev", "libbenchmark-dev"} if test_libraries else set())


def run_stages(tmp_path, body):
    script = tmp_path / "stages.sh"
    script.write_text(f"set -euo pipefail\nsource {ROOT}/scripts/common.sh\ntrap stage_summary EXIT\n{body}")
    done = subprocess.run(["bash", str(script)], capture_output=True, text=True, timeout=60)
    return done, done.stdout.splitlines()


def test_a_failing_stage_stops_the_run_and_the_summary_names_it(tmp_path):
    done, lines = run_stages(tmp_path, """
two_steps() { echo "first step"; false; echo "second step"; }
stage "Ready" true
skip_stage "Optional" "not wanted"
stage "Broken" two_steps
stage "Never" true
""")
    assert done.returncode == 1
    assert "==> Ready" in lines and "==> Broken" in lines and "first step" in lines
    assert "second step" not in lines and "==> Never" not in lines
    summary = lines[lines.index("==> Summary") + 1:]
    assert [line.split()[0] for line in summary[:-1]] == ["Ready", "Optional", "Broken", "total"]
    assert summary[0].endswith("passed") and summary[1].endswith("skipped: not wanted")
    assert summary[2].endswith("FAILED (status 1)")
    assert summary[-1] == "stages.sh: 1 passed, 1 failed"


@pytest.mark.parametrize("body, status, last", [
    ('stage "A" true\nstage "B" true\n', 0, "stages.sh: 2 passed, 0 failed"),
    # A failure outside any stage must not leave CI reading "0 failed".
    ('stage "A" true\nfalse\n', 1, "stages.sh: 1 passed, 1 failed"),
])
def test_the_last_line_counts_the_stages(tmp_path, body, status, last):
    done, lines = run_stages(tmp_path, body)
    assert done.returncode == status and lines[-1] == last
