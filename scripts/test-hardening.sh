#!/usr/bin/env bash
# The slow checks that look for memory and undefined-behaviour faults rather
# than wrong answers. scripts/test.sh runs them last: 10 to 12 minutes on 2 cores
# once the tools are installed.
#
#   scripts/test-hardening.sh [STAGE...]     (default: every stage, in this order)
#
#   sanitizers  g++ build with AddressSanitizer and UndefinedBehaviorSanitizer in
#               build/asan: the C++ unit tests, then the tool's tests (tests/cli,
#               and tests/lsp for its language server) against the sanitized
#               tool; any report fails the stage
#   fuzz        each libFuzzer target for VYRL_FUZZ_SECONDS (default 60) from its
#               seed corpus fuzz/corpus/<target>, built with clang in build/fuzz;
#               prints the executions per target. New inputs collect in
#               build/fuzz/grown/<target>; unless CI=true, those that add
#               coverage are then merged into fuzz/corpus/<target>, ready to be
#               committed (VYRL_FUZZ_MERGE=0 or 1 overrides). A crash leaves its input in
#               build/fuzz/artifacts/; replay it by passing it alone to the target.
#   valgrind    the ordinary release tool (${VYRL_BUILD_DIR:-build}) over examples/
#               and examples/broken/courier-9.vyr: no memory errors, no definite
#               or indirect leaks
#   pymalloc    the Python tests on the default python3 under PYTHONMALLOC=debug,
#               with the module build that scripts/test-python.sh keeps
#
# The Python module has no fuzz target: its argument handling only runs inside
# a CPython interpreter, and the fuzz targets run without one. The Python tests
# cover that handling instead, here also under the debug allocator.
#
# Valgrind, clang and the libFuzzer runtime are installed only when missing.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
source scripts/common.sh

say() { echo "test-hardening: $*" >&2; }
die() { say "$*"; exit 1; }

all_stages=(sanitizers fuzz valgrind pymalloc)
stages=("$@")
((${#stages[@]})) || stages=("${all_stages[@]}")
for stage in "${stages[@]}"; do
  [[ " ${all_stages[*]} " == *" $stage "* ]] || die "unknown stage '$stage' (stages: ${all_stages[*]})"
done

jobs=$(nproc 2>/dev/null || echo 2)
clang_version=${VYRL_CLANG_VERSION:-19}
fuzz_seconds=${VYRL_FUZZ_SECONDS:-60}
fuzz_targets=(merge model validate helpers syntax scan lsp)
if [ "${CI:-}" = true ]; then fuzz_merge=${VYRL_FUZZ_MERGE:-0}; else fuzz_merge=${VYRL_FUZZ_MERGE:-1}; fi


# pytest comes from the checkout's own environment, never the user's interpreter.
tools_python_for_tests() {
  tools_python "$(resolve_python python3)" "${test_tools[@]}" "${lsp_tools[@]}"
}

# Sanitizer settings shared by every instrumented process. A report must never
# be mistaken for the tool's own exit status 1, hence the distinct exit code.
asan_options=halt_on_error=1:detect_leaks=1:exitcode=86:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
ubsan_options=halt_on_error=1:print_stacktrace=1:exitcode=86

run_sanitizers() {
  # The build is the asan preset's, which developers run by hand as well; g++
  # is named because clang's runtime would need other options.
  local dir=build/asan
  say "sanitizers: building in $dir"
  CXX=g++ cmake --preset asan >/dev/null
  cmake --build "$dir" -j "$jobs"

  say "sanitizers: C++ unit tests"
  ASAN_OPTIONS=$asan_options UBSAN_OPTIONS=$ubsan_options \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"

  # Some of the tool's tests ignore its status or its stderr, so a report must
  # not depend on them to be seen. AddressSanitizer's reports go to files,
  # looked for afterwards; UndefinedBehaviorSanitizer writes to stderr whatever
  # it is told, so the tool runs behind a wrapper of the same name that notes
  # every run a sanitizer stopped (status 86) with its arguments.
  local reports=$root/$dir/reports watched=$root/$dir/watched
  rm -rf "$reports" "$watched"
  mkdir -p "$reports" "$watched"
  {
    echo '#!/bin/sh'
    echo "\"$root/$dir/src/cli/vyrl\" \"\$@\""
    echo 'status=$?'
    echo "[ \"\$status\" -ne 86 ] || echo \"stopped by a sanitizer: vyrl \$*\" >>\"$reports/stopped\""
    echo 'exit "$status"'
  } >"$watched/vyrl"
  chmod +x "$watched/vyrl"
  say "sanitizers: the tool's tests against $dir/src/cli/vyrl"
  local status=0 tests_python
  tests_python=$(tools_python_for_tests)
  VYRL_CLI=$watched/vyrl ASAN_OPTIONS=$asan_options:log_path=$reports/asan UBSAN_OPTIONS=$ubsan_options \
    "$tests_python" -m pytest -q tests/cli tests/lsp || status=$?
  if compgen -G "$reports/*" >/dev/null; then
    cat "$reports"/* >&2
    die "sanitizers: the tool reported the faults above"
  fi
  ((status == 0)) || die "sanitizers: the tool's tests failed"
}

fuzz_stats=()

run_fuzz() {
  need_debian "clang-$clang_version" "libclang-rt-$clang_version-dev"
  local dir=build/fuzz
  say "fuzz: building the targets with clang-$clang_version in $dir"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER="clang++-$clang_version" \
    -DVYRL_BUILD_FUZZ=ON -DVYRL_BUILD_TESTS=OFF -DVYRL_BUILD_BENCH=OFF -DVYRL_BUILD_CLI=OFF >/dev/null
  cmake --build "$dir" -j "$jobs" --target "${fuzz_targets[@]/%/_fuzzer}"

  # The same limits as a developer's long run (fuzz/CMakeLists.txt), so that a
  # finding here reproduces there.
  local limits=(-max_len=4096 -timeout=5 -rss_limit_mb=2048)
  local target fuzzer grown log artifacts=$root/$dir/artifacts executions before after
  mkdir -p "$artifacts"
  for target in "${fuzz_targets[@]}"; do
    # Absolute: a merge runs the target again as a child from the scratch
    # directory the target moves into.
    fuzzer=$root/$dir/fuzz/${target}_fuzzer
    grown=$dir/grown/$target
    log=$dir/$target.log
    mkdir -p "$grown"
    say "fuzz: $target for ${fuzz_seconds}s"
    if ! ASAN_OPTIONS=$asan_options UBSAN_OPTIONS=$ubsan_options \
        "$fuzzer" "$grown" "fuzz/corpus/$target" "${limits[@]}" -max_total_time="$fuzz_seconds" \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" >"$log" 2>&1; then
      tail -n 60 "$log" >&2
      ls -l "$artifacts" >&2
      die "fuzz: $target failed (full log: $log); replay: $fuzzer $artifacts/<file>"
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\)$/\1/p' "$log" | tail -n 1)
    [ -n "$executions" ] || die "fuzz: $target printed no final statistics (log: $log)"
    fuzz_stats+=("$target: $executions executions in ${fuzz_seconds}s")
    say "fuzz: $target ran $executions inputs; $(find "$grown" -type f | wc -l) grown inputs in $grown"

    if ((fuzz_merge)); then
      before=$(find "fuzz/corpus/$target" -type f | wc -l)
      # The merge reports success even when its child never ran, so its log decides.
      if ! "$fuzzer" -merge=1 "fuzz/corpus/$target" "$grown" "${limits[@]}" >"$dir/$target.merge.log" 2>&1 \
          || ! grep -q '^MERGE-OUTER: successful' "$dir/$target.merge.log"; then
        tail -n 30 "$dir/$target.merge.log" >&2
        die "fuzz: merging into fuzz/corpus/$target failed"
      fi
      after=$(find "fuzz/corpus/$target" -type f | wc -l)
      say "fuzz: $((after - before)) new inputs merged into fuzz/corpus/$target"
    fi
  done
}

run_valgrind() {
  need_debian valgrind
  local dir=${VYRL_BUILD_DIR:-build}
  say "valgrind: building the tool in $dir"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$dir" -j "$jobs" --target vyrl_cli
  local tool=$dir/src/cli/vyrl logs=$root/$dir/valgrind
  rm -rf "$logs" && mkdir -p "$logs"

  local count=0 failures=0
  memcheck() {  # memcheck EXPECTED_STATUS ARG...  (from the root: @import paths are relative to it)
    local expected=$1 status=0 log
    shift
    count=$((count + 1))
    log=$logs/$count.log
    valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
      --log-file="$log" "$tool" "$@" >/dev/null 2>"$log.stderr" || status=$?
    # The tool's own failure status is 1 too, so the error summary decides.
    if ! grep -q 'ERROR SUMMARY: 0 errors from 0 contexts' "$log" || ((status != expected)); then
      failures=$((failures + 1))
      say "valgrind: vyrl $* exited with $status (expected $expected):"
      cat "$log" "$log.stderr" >&2
    fi
  }
  local file
  memcheck 0 check examples/*.vyr
  for file in examples/*.vyr; do memcheck 0 dump --json "$file"; done
  memcheck 0 get --deep examples/courier-7.vyr radio
  memcheck 1 check examples/broken/courier-9.vyr
  memcheck 1 validate speed fast --file examples/fleet-types.vyr
  ((failures == 0)) || die "valgrind: $failures of $count runs failed (logs in $logs)"
  say "valgrind: $count runs clean"
}

run_pymalloc() {
  say "pymalloc: the Python tests under PYTHONMALLOC=debug"
  PYTHONMALLOC=debug scripts/test-python.sh python3
}

durations=()
for stage in "${stages[@]}"; do
  started=$SECONDS
  "run_$stage"
  durations+=("$stage: $((SECONDS - started))s")
done

say "passed; ${durations[*]}"
for line in "${fuzz_stats[@]}"; do say "  $line"; done
