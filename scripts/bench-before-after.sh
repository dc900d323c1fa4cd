#!/usr/bin/env bash
# Measures an earlier commit against this checkout, side by side in one run:
#
#   scripts/bench-before-after.sh [--quick] BEFORE_COMMIT [PYTHON]
#
# Two runs of scripts/bench.sh minutes apart differ by more than many changes
# are worth on a shared machine, so this builds both sides and measures them in
# alternation (bench/before_after.py): the Python figures of bench/compare.py,
# round by round in one worker process per module, and the C++ scale curve,
# benchmark by benchmark with both scale_bench executables in turn. It prints
# one table (metric, before, after, after/before) and writes, in
# build/bench-results/:
#   before-after-<commit>-<tag>.json, before-after-<commit>-<tag>.txt
# (<tag>: the interpreter's, cpython-311, cpython-314t, ...)
#
# BEFORE_COMMIT is taken with git archive into build/before-<commit>/ and built
# there, in build-<interpreter>/; both stay, so a second run against the same
# commit builds nothing. Its bench/scale_bench.cpp and bench/bench_support.hpp
# are replaced by this checkout's, so that both sides time the same cases in the
# same way (and the earlier commit gains the ones added since); should they not
# build against it, it keeps its own and the cases it lacks show as "-", and a
# commit with no scale_bench at all gets no C++ figures. The checkout's own side
# is built in the trees scripts/bench.sh uses.
#
# PYTHON (default python3) is the interpreter whose module is measured; it runs
# in the environment scripts/bench-env.sh makes. --quick measures up to 10k
# pairs with short timings, to see that everything works: seconds once built,
# and figures not worth keeping. A full run takes about six minutes.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

say() { echo "bench-before-after: $*" >&2; }

usage() { echo "usage: $0 [--quick] BEFORE_COMMIT [PYTHON]" >&2; exit 2; }
quick=0
arguments=()
while (($#)); do
  case $1 in
    --quick) quick=1 ;;
    -*) usage ;;
    *) arguments+=("$1") ;;
  esac
  shift
done
((${#arguments[@]} >= 1 && ${#arguments[@]} <= 2)) || usage
before=$(git rev-parse --verify --quiet "${arguments[0]}^{commit}") || { say "no commit '${arguments[0]}'"; exit 2; }
short=$(git rev-parse --short "$before")
after_name=$(git describe --always --dirty)
python=$(resolve_python "${arguments[1]:-python3}")
tag=$("$python" -c 'import sys, sysconfig
print(sys.implementation.cache_tag + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')

scripts/install-deps.sh

results=$build_dir/bench-results
mkdir -p "$results"
jobs=$(nproc 2>/dev/null || echo 2)
((jobs <= 2)) || jobs=2

# --- After: this checkout, in the trees scripts/bench.sh builds. ---
default_python=$(resolve_python python3)
configure_shared_build "$default_python" ON
if [ "$python" = "$default_python" ]; then
  after_module_build=$build_dir
else
  after_module_build=$build_dir/py-$(python_id "$python")
  quietly cmake --preset dev -B "$after_module_build" -DPython_EXECUTABLE="$python" \
    -DVYRL_BUILD_TESTS=OFF -DVYRL_BUILD_BENCH=OFF -DVYRL_BUILD_CLI=OFF
fi
say "building this checkout ($after_name): vyr_rs in $after_module_build, scale_bench in $build_dir"
cmake --build "$build_dir" -j "$jobs" --target scale_bench
cmake --build "$after_module_build" -j "$jobs" --target vyr_rs

# --- Before: the commit's own tree, extracted once. ---
source_dir=$build_dir/before-$short
stamp=$source_dir/.vyrl-before-commit
if [ "$(cat "$stamp" 2>/dev/null)" != "$before" ]; then
  say "extracting $short into $source_dir"
  rm -rf "$source_dir"
  mkdir -p "$source_dir"
  git archive "$before" | tar -x -C "$source_dir"
  echo "$before" >"$stamp"
fi
harness=(bench/scale_bench.cpp bench/bench_support.hpp)
for file in "${harness[@]}"; do
  # Copied only when different, so that an unchanged harness is not rebuilt.
  cmp -s "$file" "$source_dir/$file" || cp "$file" "$source_dir/$file"
done
before_build=$(cd "$source_dir" && pwd)/build-$(python_id "$python")
say "building $short: vyr_rs and scale_bench in $before_build"
# From its own directory, so that its own presets are the ones read; a commit
# from before the presets gets what the dev preset sets that matters here.
configure=(--preset dev)
[ -f "$source_dir/CMakePresets.json" ] || configure=(-G Ninja -DCMAKE_BUILD_TYPE=Release)
(cd "$source_dir" && quietly cmake "${configure[@]}" -S . -B "$before_build" \
  -DPython_EXECUTABLE="$python" -DVYRL_BUILD_PYTHON=ON -DVYRL_BUILD_BENCH=ON \
  -DVYRL_BUILD_TESTS=OFF -DVYRL_BUILD_CLI=OFF)
cmake --build "$before_build" -j "$jobs" --target vyr_rs
scale_options=(--before-scale "$before_build/bench/scale_bench" --after-scale "$build_dir/bench/scale_bench")
if ! quietly cmake --build "$before_build" -j "$jobs" --target scale_bench; then
  own=()
  for file in "${harness[@]}"; do
    git cat-file -e "$before:$file" 2>/dev/null && own+=("$file")
  done
  if git cat-file -e "$before:bench/scale_bench.cpp" 2>/dev/null; then
    say "this checkout's scale_bench does not build against $short; measuring with its own"
    git archive "$before" "${own[@]}" | tar -x -C "$source_dir"
    cmake --build "$before_build" -j "$jobs" --target scale_bench
  else
    say "$short has no scale_bench; the C++ figures are left out"
    scale_options=()
  fi
fi

# --- Both, side by side. ---
bench_python=$(scripts/bench-env.sh "$python")
options=(--before-name "$short" --after-name "$after_name")
((quick)) && options+=(--quick)
say "measuring $short against $after_name"
"$bench_python" bench/before_after.py "${options[@]}" \
  --before-module "$before_build/src/python" --after-module "$after_module_build/src/python" \
  "${scale_options[@]}" --json "$results/before-after-$short-$tag.json" | tee "$results/before-after-$short-$tag.txt"
say "results in $results/before-after-$short-$tag.json"
