#!/usr/bin/env bash
# Runs every test: the C++ unit tests under CTest, the command-line tool's tests,
# an installed-package consumer, the Python tests on the default python3 and
# on the free-threaded 3.14 interpreter (built once into a cache), and last the
# slow sanitizer, fuzzing and leak checks of scripts/test-hardening.sh
# (VYRL_SKIP_HARDENING=1 leaves those out, for a quick local run).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

build_dir=${VYRL_BUILD_DIR:-build}
export VYRL_BUILD_DIR=$build_dir
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"

scripts/test-consumer.sh

# The Python tests, on the machine's default interpreter (with the stub check and a
# fresh-venv pip install) and on the free-threaded one.
scripts/test-python.sh python3 --stubtest --pip-install
VYRL_CLI="$build_dir/src/cli/vyrl" python3 -m pytest -q tests/cli
# Crafted inputs must cost time and memory in step with their size.
py_tag=$(python3 -c 'import sys, sysconfig
print(sys.implementation.cache_tag + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')
PYTHONPATH="$build_dir/py-$py_tag/src/python" python3 scripts/check-scaling.py --cli "$build_dir/src/cli/vyrl"
free_threaded_python=$(scripts/build-python-ft.sh)
scripts/test-python.sh "$free_threaded_python"

if [ "${VYRL_SKIP_HARDENING:-0}" = 1 ]; then
  echo "test.sh: VYRL_SKIP_HARDENING=1, so scripts/test-hardening.sh was not run" >&2
else
  scripts/test-hardening.sh
fi
