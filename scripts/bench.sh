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
#   compare-<tag>.json, compare-<tag>.txt  one per interpreter (<tag> as in build/py-<tag>)
#   compare-<tag>.png                      its chart, and compare.png with all of them side by side
# --quick makes a run of well under a minute once things are built, to see
# that everything works; its figures are not worth keeping. --label names the
# run in the JSON and on the chart ("before", "after").
#
# To compare two commits, run this on each (copying the JSON away in between)
# and draw both side by side:
#   build/bench-venv-<tag>/bin/python bench/plot.py before.json after.json -o before-after.png
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

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

# --- The C++ curve, in a build tree of its own: the tests and the tool are not needed. ---
say "building bench/scale_bench.cpp in build/bench-cpp"
cmake -S . -B build/bench-cpp -G Ninja -DCMAKE_BUILD_TYPE=Release -DVYRL_BUILD_BENCH=ON \
  -DVYRL_BUILD_TESTS=OFF -DVYRL_BUILD_CLI=OFF -DVYRL_BUILD_PYTHON=OFF >/dev/null
cmake --build build/bench-cpp -j "$jobs" --target scale_bench
scale_options=(--benchmark_min_time=0.5)
((quick)) && scale_options=(--benchmark_min_time=0.01 '--benchmark_filter=/(1000|10000)$')
say "running scale_bench"
build/bench-cpp/bench/scale_bench "${scale_options[@]}" \
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
  # The same build tree and options as scripts/test-python.sh, so that the two
  # share one build of the module.
  build_dir=build/py-$tag
  say "building vyr_rs for $python in $build_dir"
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DPython_EXECUTABLE="$python" -DVYRL_BUILD_PYTHON=ON \
    -DVYRL_BUILD_TESTS=OFF -DVYRL_BUILD_BENCH=OFF -DVYRL_BUILD_CLI=OFF >/dev/null
  cmake --build "$build_dir" -j "$jobs" --target vyr_rs
  bench_python=$(scripts/bench-env.sh "$python")
  say "running bench/compare.py on $tag"
  PYTHONPATH="$PWD/$build_dir/src/python" "$bench_python" bench/compare.py "${compare_options[@]}" \
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
