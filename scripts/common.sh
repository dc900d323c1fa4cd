# Sourced by the scripts beside it, from the repository root: where builds go,
# and the helpers that keep every script's builds and Python environments the
# same ones, so that no script compiles or installs again what another made.
# shellcheck shell=bash

build_dir=${VYRL_BUILD_DIR:-build}

# What the tests run, installed only into the checkout's own environments.
# mypy 2 prints revealed types as they are written (str, list[str] | None).
test_tools=(pytest "mypy>=2")
package_tools=(build pre-commit)
# A TextMate engine for the editor grammar's tests; nothing else uses it.
editor_tools=("textmate-grammar-python>=0.6.1,<0.7")
# A language-server client, to drive `vyrl lsp` as an editor would.
lsp_tools=("pytest-lsp>=1.0" pytest-timeout)
# The documentation site's builder and theme (mkdocs.yml).
docs_tools=("mkdocs>=1.6,<2" "mkdocs-material>=9.5,<10")

# Runs a command with its output held back, and shows that output only when the
# command fails, so that a successful run stays short.
quietly() {
  local log status=0
  log=$(mktemp "${TMPDIR:-/tmp}/vyrl-output.XXXXXX")
  "$@" >"$log" 2>&1 || status=$?
  if ((status)); then
    echo "failed with status $status: $*" >&2
    cat "$log" >&2
  fi
  rm -f "$log"
  return "$status"
}

# Prints the interpreter that PYTHON (a command or a path) runs, with shims and
# symlinks resolved, so that CMake, venv and the directory names agree on it.
resolve_python() {
  local found
  found=$(command -v "$1") || { echo "no interpreter '$1'" >&2; return 2; }
  "$found" -c 'import os, sys; print(os.path.realpath(sys.executable))'
}

# A directory name for one resolved interpreter: its ABI tag and a hash of its
# path, because pyenv's 3.11 and Debian's 3.11 share a tag but neither headers
# nor packages.
python_id() {
  "$1" -c 'import hashlib, sys, sysconfig
tag = sys.implementation.cache_tag + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else "")
print(tag + "-" + hashlib.sha256(sys.executable.encode()).hexdigest()[:8])'
}

# tools_python PYTHON REQUIREMENT... prints the Python of the checkout's own
# virtual environment for the resolved interpreter PYTHON, creating it under
# $build_dir on first use and installing whichever REQUIREMENTs it has not had.
tools_python() {
  local python=$1 venv stamp requirement missing=()
  shift
  venv=$build_dir/venv-$(python_id "$python")
  stamp=$venv/vyrl-requirements.txt
  # Called as $(tools_python ...), where errexit does not reach: every step
  # returns its failure itself, so that a failed install is never recorded.
  if ! "$venv/bin/python" -c '' 2>/dev/null; then
    rm -rf "$venv"
    quietly "$python" -m venv "$venv" >&2 || return
  fi
  for requirement in "$@"; do
    grep -qxF -- "$requirement" "$stamp" 2>/dev/null || missing+=("$requirement")
  done
  if ((${#missing[@]})); then
    quietly "$venv/bin/python" -m pip install --disable-pip-version-check "${missing[@]}" >&2 || return
    printf '%s\n' "${missing[@]}" >>"$stamp"
  fi
  echo "$(cd "$venv" && pwd)/bin/python"
}

# configure_shared_build PYTHON TESTS configures the tree that run-example.sh
# and test.sh share: the dev preset, with the Python module for the resolved
# interpreter PYTHON (none if empty), and the unit tests and benchmarks when
# TESTS is ON. Flipping TESTS only adds or drops those targets: the library,
# the tool and the module compile with the same commands either way, so
# neither script rebuilds what the other built.
configure_shared_build() {
  local python_options=(-DVYRL_BUILD_PYTHON=OFF)
  [ -z "${1:-}" ] || python_options=(-DVYRL_BUILD_PYTHON=ON -DPython_EXECUTABLE="$1")
  quietly cmake --preset dev -B "$build_dir" "${python_options[@]}" \
    -DVYRL_BUILD_TESTS="$2" -DVYRL_BUILD_BENCH="$2"
}

# How long apt_get waits for another package manager, and how often it looks.
apt_wait_seconds=${VYRL_APT_WAIT_SECONDS:-600}
apt_poll_seconds=2

# apt_get ARG... runs apt-get as root, with its output shown only when it
# fails. Another apt or dpkg at work (an unattended upgrade, another
# worktree's script) makes it wait instead of fail: the install waits on
# dpkg's lock by itself, but `apt-get update` gives up at once on the lists'
# lock whatever the timeout, hence the loop.
apt_get() {
  local sudo=() output status waited=0
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  while :; do
    status=0
    # Through env, because sudo would drop a plain assignment. Noninteractive
    # also keeps debconf from asking anything.
    output=$("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
      apt-get -o DPkg::Lock::Timeout="$apt_wait_seconds" "$@" 2>&1) || status=$?
    ((status)) || return 0
    if ((waited >= apt_wait_seconds)) || ! grep -q '^E: Could not get lock' <<<"$output"; then
      echo "failed with status $status: apt-get $*" >&2
      printf '%s\n' "$output" >&2
      return "$status"
    fi
    if ((waited == 0)); then echo "Waiting for another package manager to finish" >&2; fi
    sleep "$apt_poll_seconds"
    waited=$((waited + apt_poll_seconds))
  done
}

# need_debian PACKAGE... installs whichever of Debian's packages are missing:
# the one place any script installs from Debian, so that a run asks apt for
# nothing it has.
need_debian() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  echo "Installing Debian packages: ${missing[*]}" >&2
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
}

# Stages of a long run: each has a heading and a time, and an EXIT trap
# (trap stage_summary EXIT) prints them all at the end. A failing stage still
# stops the run through errexit; the trap then names it, so that the summary
# says what ran and what broke however the run ended.
stage_lines=()
stages_passed=0
stages_failed=0
stage_running=""
stage_started=0
run_started=$SECONDS

# 75s -> 1m 15s
duration() {
  if (($1 < 60)); then echo "$1s"; else printf '%dm %02ds\n' $(($1 / 60)) $(($1 % 60)); fi
}

stage_line() {  # stage_line NAME TIME RESULT
  local line
  line=$(printf '  %-40s %7s  %s' "$1" "$2" "$3")
  stage_lines+=("${line%"${line##*[! ]}"}")
}

# stage NAME COMMAND... runs COMMAND as the stage NAME. It must not be called
# where errexit is off (in a condition, or before || or &&): a failure inside
# would then go unnoticed.
stage() {
  local name=$1
  shift
  printf '\n==> %s\n' "$name"
  stage_running=$name
  stage_started=$SECONDS
  "$@"
  stage_line "$name" "$(duration $((SECONDS - stage_started)))" passed
  stages_passed=$((stages_passed + 1))
  stage_running=""
}

skip_stage() {  # skip_stage NAME REASON
  stage_line "$1" "" "skipped: $2"
}

stage_summary() {
  local status=$? line
  if [ -n "$stage_running" ]; then
    stage_line "$stage_running" "$(duration $((SECONDS - stage_started)))" "FAILED (status $status)"
    stages_failed=$((stages_failed + 1))
  elif ((status)); then
    stage_line "(between stages)" "" "FAILED (status $status)"
    stages_failed=1
  fi
  stage_line total "$(duration $((SECONDS - run_started)))" ""
  printf '\n==> Summary\n'
  for line in "${stage_lines[@]}"; do printf '%s\n' "$line"; done
  # The last line, alone, for CI to read.
  printf '%s: %d passed, %d failed\n' "${0##*/}" "$stages_passed" "$stages_failed"
  exit "$status"
}
