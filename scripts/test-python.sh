#!/usr/bin/env bash
# Builds the vyr_rs module for one interpreter and runs the Python tests on it.
#
#   scripts/test-python.sh PYTHON [--stubtest] [--pip-install]
#
# The module is built with CMake into build/py-<tag> (the interpreter's cache
# tag, plus "t" for a free-threaded build) and put first on PYTHONPATH.
#   --stubtest     also checks src/python/vyr_rs.pyi against the built module
#   --pip-install  also installs the project with pip into a fresh virtual
#                  environment of that interpreter and imports it from there
# pytest and mypy are installed into the interpreter only when missing.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD

usage() { echo "usage: $0 PYTHON [--stubtest] [--pip-install]" >&2; exit 2; }
say() { echo "test-python: $*" >&2; }

(($# >= 1)) || usage
python=$1
shift
stubtest=0
pip_install=0
for option in "$@"; do
  case $option in
    --stubtest) stubtest=1 ;;
    --pip-install) pip_install=1 ;;
    *) usage ;;
  esac
done

python=$(command -v "$python") || { say "no interpreter '$1'"; exit 2; }
# Resolve shims and symlinks to the interpreter itself, so CMake and the venv see
# the same one.
python=$("$python" -c 'import sys; print(sys.executable)')
tag=$("$python" -c 'import sys, sysconfig
print(sys.implementation.cache_tag + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')
build_dir=build/py-$tag
jobs=$(nproc 2>/dev/null || echo 2)
((jobs <= 2)) || jobs=2

say "building vyr_rs for $python in $build_dir"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPython_EXECUTABLE="$python" -DVYRL_BUILD_PYTHON=ON \
  -DVYRL_BUILD_TESTS=OFF -DVYRL_BUILD_BENCH=OFF -DVYRL_BUILD_CLI=OFF >/dev/null
cmake --build "$build_dir" -j "$jobs" --target vyr_rs
module_dir=$root/$build_dir/src/python

ensure() {  # ensure MODULE PACKAGE
  "$python" -c "import $1" 2>/dev/null && return 0
  say "installing $2 into $python"
  "$python" -m pip install -q "$2"
}

ensure pytest pytest
PYTHONPATH="$module_dir${PYTHONPATH:+:$PYTHONPATH}" "$python" -m pytest tests/python -q

if ((stubtest)); then
  ensure mypy mypy
  say "stubtest"
  # MYPYPATH points at the source stub, so it is the checked-in file that is
  # compared with the module just built.
  PYTHONPATH="$module_dir${PYTHONPATH:+:$PYTHONPATH}" MYPYPATH="$root/src/python" \
    "$python" -m mypy.stubtest vyr_rs
fi

if ((pip_install)); then
  venv=$(mktemp -d "${TMPDIR:-/tmp}/vyrl-venv.XXXXXX")
  trap 'rm -rf "$venv"' EXIT
  say "pip install . into a fresh virtual environment ($venv)"
  "$python" -m venv "$venv"
  "$venv/bin/python" -m pip install -q "$root"
  # From elsewhere, so that nothing in the checkout can shadow the installed module.
  (cd "$venv" && "$venv/bin/python" - <<'PY'
import pathlib, sysconfig
import vyr_rs
site = pathlib.Path(sysconfig.get_paths()["platlib"])
assert pathlib.Path(vyr_rs.__file__).parent == site, vyr_rs.__file__
assert (site / "vyr_rs-stubs" / "__init__.pyi").is_file() and not (site / "py.typed").exists()
doc = vyr_rs.VYRL.parse("port = 8080")
assert doc["port"] == "8080" and vyr_rs.__version__ == "1.4.0"
print("test-python: installed", vyr_rs.__file__)
PY
  )
fi
