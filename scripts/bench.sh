#!/usr/bin/env bash
# Builds and runs the comparison benchmarks, and draws their chart.
#
#   scripts/bench.sh [--quick] [--label NAME] [PYTHON...]
#
# Runs the C++ scale curve (bench/scale_bench.cpp), then bench/compare.py on
# each interpreter: by default python3 and, when scripts/build-python-ft.sh has
# built it, the free-threaded one; this script does not build it, as that takes
# long. Everything lands in build/bench-results/:
#   scale.json, scale.txt                  the C++ curve
#   compare-<tag>.json, compare-<tag>.txt  one per interpreter (<tag>: cpython-311, cpython-314t, ...)
#   compare-<tag>.png                      its chart, and compare.png with all of them side by side
# --quick makes a run of well under a minute once things are built, to see
# that everything works; its figures are not worth keeping. --label names the
# run in the JSON and on the chart ("before", "after").
#
# To compare two commits, scripts/bench-before-after.sh measures both in one
# run, in alternation, which two runs of this script minutes apart cannot match
# on a busy machine. Two runs' JSON can still be drawn side by side:
#   build/bench-venv-<tag>/bin/python bench/plot.py before.json after.json -o before-after.png
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

say() { echo "bench: $*" >&2; }

usage() { echo "usage: $0 [--quick] [--label NAME] [PYTHON...]" >&2; exit 2; }
quick=0
label=""
pythons=()
while (($#)); do
  case $1 in
    --quick) quick=1 ;;
    --label) (($# >= 2)) || usage; label=$2; shift ;;
    -*) usage ;;
    *) pythons+=("$1") ;;
  esac
  shift
done
if ((${#pythons[@]} == 0)); then
  pythons=(python3)
  # The newest finished free-threaded build in the cache, if there is one.
  cache_root=${VYRL_CACHE_DIR:-$HOME/.cache/vyrl}
  for prefix in "$cache_root"/cpython-*t; do
    [ -f "$prefix/.vyrl-build-complete" ] && [ -x "$prefix/bin/python3" ] && free_threaded=$prefix/bin/python3
  done
  if [ -n "${free_threaded:-}" ]; then
    pythons+=("$free_threaded")
  else
    say "no free-threaded interpreter in $cache_root (scripts/build-python-ft.sh builds one); the thread figures are skipped"
  fi
fi

scripts/install-deps.sh

results=build/bench-results
mkdir -p "$results"
jobs=$(nproc 2>/dev/null || echo 2)
((jobs <= 2)) || jobs=2

# --- The C++ curve, from the tree that scripts/run-example.sh and test.sh
# share (its dev preset builds the benchmarks too), so nothing is compiled twice. ---
default_python=$(resolve_python python3)
say "building bench/scale_bench.cpp in $build_dir"
configure_shared_build "$default_python" ON
cmake --build "$build_dir" -j "$jobs" --target scale_bench
scale_options=(--benchmark_min_time=0.5)
((quick)) && scale_options=(--benchmark_min_time=0.01 '--benchmark_filter=/(30|1000|10000)$')
say "running scale_bench"
"$build_dir/bench/scale_bench" "${scale_options[@]}" \
  --benchmark_out="$results/scale.json" --benchmark_out_format=json | tee "$results/scale.txt"

# --- The Python comparison, once per interpreter. ---
compare_options=(--label "$label")
((quick)) && compare_options+=(--quick)
charts=()
plotter=""
for python in "${pythons[@]}"; do
  python=$(command -v "$python") || { say "no interpreter '$python'"; exit 2; }
  python=$("$python" -c 'import sys; print(sys.executable)')
  tag=$("$python" -c 'import sys, sysconfig
print(sys.implementation.cache_tag + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')
  # The same build trees as scripts/test-python.sh: the shared one for the
  # default python3, build/py-<id> for any other, so the module is built once.
  if [ "$(resolve_python "$python")" = "$default_python" ]; then
    module_build=$build_dir
  else
    module_build=$build_dir/py-$(python_id "$(resolve_python "$python")")
    quietly cmake --preset dev -B "$module_build" -DPython_EXECUTABLE="$(resolve_python "$python")" \
      -DVYRL_BUILD_TESTS=OFF -DVYRL_BUILD_BENCH=OFF -DVYRL_BUILD_CLI=OFF
  fi
  say "building vyr_rs for $python in $module_build"
  cmake --build "$module_build" -j "$jobs" --target vyr_rs
  bench_python=$(scripts/bench-env.sh "$python")
  say "running bench/compare.py on $tag"
  PYTHONPATH="$PWD/$module_build/src/python" "$bench_python" bench/compare.py "${compare_options[@]}" \
    --json "$results/compare-$tag.json" | tee "$results/compare-$tag.txt"
  charts+=("$results/compare-$tag.json")
  [ -z "$plotter" ] && "$bench_python" -c 'import matplotlib' 2>/dev/null && plotter=$bench_python
done

# --- Charts, with whichever environment has matplotlib. ---
if [ -z "$plotter" ]; then
  say "no environment has matplotlib; no charts drawn"
  exit 0
fi
for chart in "${charts[@]}"; do
  "$plotter" bench/plot.py "$chart" -o "${chart%.json}.png" >/dev/null
done
"$plotter" bench/plot.py "${charts[@]}" -o "$results/compare.png" >/dev/null
say "results in $results/"
ls -1 "$results" >&2
