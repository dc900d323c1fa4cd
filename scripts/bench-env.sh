#!/usr/bin/env bash
# Creates the virtual environment the comparison benchmarks run in, for one
# interpreter, and prints its python's absolute path as the only line on stdout:
#
#   python=$(scripts/bench-env.sh python3)
#
# The environment is build/bench-venv-<tag> (the interpreter's cache tag, plus
# "t" for a free-threaded build). It holds the peer readers bench/compare.py
# measures against (orjson, msgspec, rtoml, and pydantic for typed values) and
# matplotlib for bench/plot.py.
# None of them is a dependency of the project: they live only in this
# environment, which nothing but the benchmark scripts uses.
#
# A second run installs nothing. Packages are taken only as wheels, because
# building them needs toolchains (Rust) this project does not otherwise need; a
# package without a wheel for the interpreter (common on free-threaded builds)
# is reported and left out, and compare.py skips its figures with a note.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

say() { echo "bench-env: $*" >&2; }

(($# == 1)) || { echo "usage: $0 PYTHON" >&2; exit 2; }
python=$(command -v "$1") || { say "no interpreter '$1'"; exit 2; }
# Resolve shims and symlinks, so that the environment is bound to the interpreter
# itself rather than to whatever a shim points at later.
python=$("$python" -c 'import sys; print(sys.executable)')
tag=$("$python" -c 'import sys, sysconfig
print(sys.implementation.cache_tag + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')
venv=$PWD/build/bench-venv-$tag

# import name -> distribution name
declare -A packages=([orjson]=orjson [msgspec]=msgspec [pydantic]=pydantic [rtoml]=rtoml [matplotlib]=matplotlib)

# An environment left by another interpreter of the same tag (say, a rebuilt
# 3.11) would import fine and still be wrong, so its base is checked too.
base_of() { "$1" -c 'import os, sys; print(os.path.realpath(sys._base_executable))' 2>/dev/null; }
if [ -x "$venv/bin/python" ] && [ "$(base_of "$venv/bin/python")" != "$(base_of "$python")" ]; then
  say "$venv belongs to another interpreter; recreating it"
  rm -rf "$venv"
fi
if [ ! -x "$venv/bin/python" ]; then
  say "creating $venv for $python"
  mkdir -p build
  "$python" -m venv "$venv"
fi

# Written once every package has been tried, so that a later run neither
# installs nor asks the index again for a package that had no wheel. Delete it
# to try again.
marker=$venv/.bench-env-tried
wanted=$(printf '%s\n' "${packages[@]}" | sort | tr '\n' ' ')
if [ "$(cat "$marker" 2>/dev/null)" != "$wanted" ]; then
  for module in "${!packages[@]}"; do
    "$venv/bin/python" -c "import $module" 2>/dev/null && continue
    # Each one alone, so that one without a wheel does not keep the others out.
    say "installing ${packages[$module]}"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --only-binary :all: "${packages[$module]}" >&2 ||
      say "no wheel of ${packages[$module]} for $tag; its figures will be skipped"
  done
  echo "$wanted" >"$marker"
fi

echo "$venv/bin/python"
