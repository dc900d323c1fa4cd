#!/usr/bin/env bash
# Runs every test: the C++ unit tests under CTest, the command-line tool's tests,
# an installed-package consumer, the scaling check of crafted inputs, the Python
# tests on the default python3, on Debian's own python3 and on the
# free-threaded 3.14 (built once into a cache), the sdist and wheel as pip
# installs them, and last the slow sanitizer, fuzzing and leak checks of
# scripts/test-hardening.sh (VYRL_SKIP_HARDENING=1 leaves those out, for a
# quick local run). Warnings are errors here (the dev preset), as they are not
# for a user's build.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh
export VYRL_BUILD_DIR=$build_dir

scripts/install-deps.sh

python=$(resolve_python python3)
# The same tree as scripts/run-example.sh: the core, the tool and the module
# for the default python3 are compiled once for both.
configure_shared_build "$python" ON
quietly cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"

scripts/test-consumer.sh

scripts/test-python.sh "$python" --build-dir "$build_dir" --stubtest
tools_python=$(tools_python "$python" "${test_tools[@]}")
VYRL_CLI="$build_dir/src/cli/vyrl" "$tools_python" -m pytest -q tests/cli
# The language server, through a real client over its standard input and output.
lsp_python=$(tools_python "$python" "${test_tools[@]}" "${lsp_tools[@]}")
VYRL_CLI="$build_dir/src/cli/vyrl" "$lsp_python" -m pytest -q tests/lsp
editor_python=$(tools_python "$python" "${test_tools[@]}" "${editor_tools[@]}")
"$editor_python" -m pytest -q tests/editors
# The benchmark tools' arithmetic: a slip there prints a plausible, wrong table.
PYTHONPATH="$build_dir/src/python" "$tools_python" -m pytest -q bench
# The set-up scripts' helpers, against stand-ins for apt.
"$tools_python" -m pytest -q tests/scripts
# Crafted inputs must cost time and memory in step with their size.
PYTHONPATH="$build_dir/src/python" "$tools_python" scripts/check-scaling.py --cli "$build_dir/src/cli/vyrl"

debian_python=$(resolve_python /usr/bin/python3)
[ "$debian_python" = "$python" ] || scripts/test-python.sh "$debian_python"
free_threaded_python=$(scripts/build-python-ft.sh)
scripts/test-python.sh "$free_threaded_python"

scripts/test-package.sh "$python"

if [ "${VYRL_SKIP_HARDENING:-0}" = 1 ]; then
  echo "test.sh: VYRL_SKIP_HARDENING=1, so scripts/test-hardening.sh was not run" >&2
else
  scripts/test-hardening.sh
fi
