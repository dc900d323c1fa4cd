#!/usr/bin/env bash
# Runs every test: the C++ unit tests under CTest, an installed-package
# consumer, the Python tests on the default python3, the command-line tool's
# and its language server's tests, the scaling check of crafted inputs, the
# Python tests on Debian's own python3 and on the free-threaded 3.14 (built
# once into a cache), the sdist and wheel as pip installs them, and last the
# slow sanitizer, fuzzing, leak and debug-allocator checks of
# scripts/test-hardening.sh (VYRL_SKIP_HARDENING=1 leaves those out, for a
# quick local run). Warnings are errors here (the dev preset), as they are not
# for a user's build.
#
# Each stage prints a heading; the run ends with every stage's time and result
# and, as its last line, "test.sh: N passed, N failed". The first failing
# stage stops the run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh
export VYRL_BUILD_DIR=$build_dir
trap stage_summary EXIT

vyrl=$build_dir/src/cli/vyrl
python=""  # the default python3, resolved once its packages are in

build() {
  python=$(resolve_python python3)
  # The same tree as scripts/run-example.sh, with the unit tests and
  # benchmarks added: the core, the tool and the module for the default
  # python3 are compiled once for both.
  configure_shared_build "$python" ON
  quietly cmake --build "$build_dir"
}

unit_tests() { ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"; }

# pytest_in REQUIREMENTS_ARRAY ARG...: pytest -q from the checkout's own
# environment for the default python3, with those tools in it.
pytest_in() {
  local -n requirements=$1
  local tools
  shift
  tools=$(tools_python "$python" "${requirements[@]}")
  "$tools" -m pytest -q "$@"
}

tool_tests() { VYRL_CLI=$vyrl pytest_in test_tools tests/cli; }
# Through a real client over the server's standard input and output.
lsp_requirements=("${test_tools[@]}" "${lsp_tools[@]}")
lsp_tests() { VYRL_CLI=$vyrl pytest_in lsp_requirements tests/lsp; }
editor_requirements=("${test_tools[@]}" "${editor_tools[@]}")
# :make and gq in editors/vim call `vyrl`, so they get this build's.
editor_tests() { VYRL_CLI=$vyrl pytest_in editor_requirements tests/editors; }
# The documentation site, built strictly: a broken link or a page left out fails.
docs_requirements=("${test_tools[@]}" "${docs_tools[@]}")
docs_tests() { pytest_in docs_requirements tests/docs; }
# The benchmark tools' arithmetic: a slip there prints a plausible, wrong table.
bench_tests() { PYTHONPATH="$build_dir/src/python" pytest_in test_tools bench; }
script_tests() { pytest_in test_tools tests/scripts; }
# Crafted inputs must cost time and memory in step with their size.
scaling() {
  local tools
  tools=$(tools_python "$python" "${test_tools[@]}")
  PYTHONPATH="$build_dir/src/python" "$tools" scripts/check-scaling.py --cli "$vyrl"
}
free_threaded() {
  local free_threaded_python
  free_threaded_python=$(scripts/build-python-ft.sh)
  scripts/test-python.sh "$free_threaded_python"
}

stage "Debian packages" scripts/install-deps.sh
stage "Build" build
stage "C++ unit tests" unit_tests
stage "Installed C++ package" scripts/test-consumer.sh
stage "Python module, default python3, stubs" \
  scripts/test-python.sh "$python" --build-dir "$build_dir" --stubtest
stage "Command-line tool" tool_tests
stage "Language server" lsp_tests
stage "Editors: grammar, Vim and Neovim" editor_tests
stage "Documentation site" docs_tests
stage "Benchmark tools" bench_tests
stage "Set-up scripts" script_tests
stage "Scaling of crafted inputs" scaling
debian_python=$(resolve_python /usr/bin/python3)
if [ "$debian_python" != "$python" ]; then
  stage "Python module, Debian's python3" scripts/test-python.sh "$debian_python"
else
  skip_stage "Python module, Debian's python3" "it is the default python3"
fi
stage "Python module, free-threaded 3.14" free_threaded
stage "sdist and wheel" scripts/test-package.sh "$python"

hardening=(sanitizers fuzz valgrind pymalloc)
for check in "${hardening[@]}"; do
  if [ "${VYRL_SKIP_HARDENING:-0}" = 1 ]; then
    skip_stage "Hardening: $check" "VYRL_SKIP_HARDENING=1"
  else
    stage "Hardening: $check" scripts/test-hardening.sh "$check"
  fi
done
