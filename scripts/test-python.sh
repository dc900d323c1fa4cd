#!/usr/bin/env bash
# Builds the vyr_rs module and the vyrl package for one interpreter and runs
# the Python tests on them.
#
#   scripts/test-python.sh PYTHON [--build-dir DIR] [--stubtest]
#
# The module is built with CMake into build/py-<id> (<id>: the interpreter's
# ABI tag and a hash of its path) and put first on PYTHONPATH; --build-dir
# names a tree configured for this interpreter that builds it instead (test.sh
# passes the shared build/ for the default python3, so the core is compiled once).
#   --stubtest     also checks src/python/vyr_rs.pyi against the built module,
#                  and the vyrl package under mypy --strict
# pytest and mypy run from build/venv-<id>, made on first use: nothing is ever
# installed into the interpreter itself.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

usage() { echo "usage: $0 PYTHON [--build-dir DIR] [--stubtest]" >&2; exit 2; }
say() { echo "test-python: $*" >&2; }

(($# >= 1)) || usage
python=$(resolve_python "$1")
shift
module_build=""
stubtest=0
while (($#)); do
  case $1 in
    --build-dir) (($# >= 2)) || usage; module_build=$2; shift ;;
    --stubtest) stubtest=1 ;;
    *) usage ;;
  esac
  shift
done

if ((stubtest)); then
  tools_python=$(tools_python "$python" "${test_tools[@]}")
else
  tools_python=$(tools_python "$python" pytest)
fi

if [ -z "$module_build" ]; then
  module_build=$build_dir/py-$(python_id "$python")
  quietly cmake --preset dev -B "$module_build" -DPython_EXECUTABLE="$python" \
    -DVYRL_BUILD_TESTS=OFF -DVYRL_BUILD_BENCH=OFF -DVYRL_BUILD_CLI=OFF
fi
quietly cmake --build "$module_build" --target vyr_rs vyrl_native
module_dir=$(cd "$module_build/src/python" && pwd)
# The vyrl package, its Python files copied beside vyrl._native.
package_dir=$(cd "$module_build/src/python_vyrl" && pwd)

say "$python"
PYTHONPATH="$module_dir:$package_dir${PYTHONPATH:+:$PYTHONPATH}" "$tools_python" -m pytest tests/python -q

if ((stubtest)); then
  # MYPYPATH points at the source stub, so it is the checked-in file that is
  # compared with the module just built.
  PYTHONPATH="$module_dir${PYTHONPATH:+:$PYTHONPATH}" MYPYPATH="$PWD/src/python" \
    "$tools_python" -m mypy.stubtest vyr_rs
  # The vyrl package carries its own types (py.typed); they must hold under
  # --strict, _native's stub included, and the stub must match the module.
  PYTHONPATH="$package_dir" "$tools_python" -m mypy.stubtest vyrl._native
  (cd python && "$tools_python" -m mypy --strict --no-incremental -p vyrl)
fi
