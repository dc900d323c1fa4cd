#!/usr/bin/env bash
# Runs every test: the C++ unit tests under CTest, the command-line tool's tests,
# an installed-package consumer, and the Python tests on the default python3 and
# on the free-threaded 3.14 interpreter (built once into a cache).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

build_dir=${VYRL_BUILD_DIR:-build}
export VYRL_BUILD_DIR=$build_dir
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"

scripts/test-consumer.sh

# The Python tests, on the machine's default interpreter (with the stub check and a
# fresh-venv pip install) and on the free-threaded one.
scripts/test-python.sh python3 --stubtest --pip-install
VYRL_CLI="$build_dir/src/cli/vyrl" python3 -m pytest -q tests/cli
free_threaded_python=$(scripts/build-python-ft.sh)
scripts/test-python.sh "$free_threaded_python"
