#!/usr/bin/env bash
# Builds the sdist and the wheel as a release would, installs each into a fresh
# virtual environment, and tests what a user gets from them:
#   tests/package  the module and its types from site-packages (mypy --strict
#                  with no MYPYPATH), vyrl on PATH, the metadata, for both the
#                  wheel and the sdist; and the pre-commit hook
#   tests/cli      once more, against the vyrl that pip installed
#
#   scripts/test-package.sh [PYTHON]      (default: python3)
#
# The environments are build/pkg-wheel and build/pkg-sdist, made anew each run;
# the tools (build, mypy, pytest, pre-commit) come from build/venv-<id>.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

python=$(resolve_python "${1:-python3}")
# The backend as pyproject.toml names it, installed once: the sdist's own
# install below is the isolated build that checks that list is complete.
mapfile -t backend < <("$python" -c 'import tomllib
print(*tomllib.load(open("pyproject.toml", "rb"))["build-system"]["requires"], sep="\n")')
tools_python=$(tools_python "$python" "${test_tools[@]}" "${package_tools[@]}" "${backend[@]}")

# `python -m build` makes the wheel from the unpacked sdist, so this alone shows
# that the sdist is complete enough to build.
dist=$build_dir/dist
rm -rf "$dist"
quietly "$tools_python" -m build --no-isolation --outdir "$dist" .
wheels=("$dist"/*.whl)
sdists=("$dist"/*.tar.gz)

# fresh_env NAME ARTIFACT: a new environment under $build_dir with ARTIFACT
# installed by the environment's own pip, as a user would do it.
fresh_env() {
  local venv=$build_dir/$1
  rm -rf "$venv"
  quietly "$python" -m venv "$venv" || return
  # No cache: pip would otherwise reuse its wheel built from an earlier sdist of
  # the same name and version.
  quietly "$venv/bin/python" -m pip install --disable-pip-version-check --no-cache-dir "$2" || return
  (cd "$venv" && pwd)
}
wheel_env=$(fresh_env pkg-wheel "${wheels[0]}")
sdist_env=$(fresh_env pkg-sdist "${sdists[0]}")

VYRL_WHEEL_ENV=$wheel_env VYRL_SDIST_ENV=$sdist_env "$tools_python" -m pytest -q tests/package
VYRL_CLI=$wheel_env/bin/vyrl "$tools_python" -m pytest -q tests/cli
