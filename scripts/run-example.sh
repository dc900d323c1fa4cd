#!/usr/bin/env bash
# Builds the `vyrl` tool, checks the example configuration set with it, reads a
# few values back from the shell, then does the same through the Python module.
# Runs from the repository root: the examples' @import and @derive paths are
# relative to the working directory, and written relative to this root.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

build_dir=${VYRL_BUILD_DIR:-build}
# The same configuration as scripts/test.sh, so the two share one build.
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" --target vyrl_cli -j "$(nproc)"
vyrl=$build_dir/src/cli/vyrl

section() { printf '\n== %s\n' "$*"; }
show() {
  printf '$ %s\n' "$*"
  "$@"
}

section "Checking the examples"
show "$vyrl" check examples/*.vyr

section "A deliberately broken example (this one must fail)"
if show "$vyrl" check examples/broken/*.vyr; then
  echo "run-example: the broken example passed the check" >&2
  exit 1
fi

section "Reading values back"
show "$vyrl" get examples/courier-7.vyr max_speed
show "$vyrl" get examples/courier-7.vyr model
show "$vyrl" get --deep examples/courier-7.vyr radio
show "$vyrl" validate speed 12.5 --file examples/fleet-types.vyr
show "$vyrl" dump --json examples/mission-0042.vyr

section "The same documents from Python"
if ! python=$(command -v python3); then
  echo "notice: no python3 on PATH; skipping this step"
  exit 0
fi
# The same build directory the Python tests use, so neither builds twice.
python=$("$python" -c 'import sys; print(sys.executable)')
py_build=$build_dir/py-$("$python" -c 'import sys, sysconfig
print(sys.implementation.cache_tag + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')
if ! cmake -S . -B "$py_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVYRL_BUILD_PYTHON=ON \
      -DVYRL_BUILD_TESTS=OFF -DVYRL_BUILD_BENCH=OFF -DVYRL_BUILD_CLI=OFF \
      -DPython_EXECUTABLE="$python" >"$py_build.configure.log" 2>&1; then
  echo "notice: the Python module cannot be configured for $python (are its development headers installed?);"
  echo "        skipping this step. Details: $py_build.configure.log"
  exit 0
fi
cmake --build "$py_build" --target vyr_rs -j "$(nproc)"

PYTHONPATH=$py_build/src/python${PYTHONPATH:+:$PYTHONPATH} "$python" - <<'PY'
from vyr_rs import VYRL

drone = VYRL.load("examples/courier-7.vyr")
print(repr(drone))
print("max_speed      ", drone["max_speed"])
print("telemetry      ", dict(sorted(drone.find_object("telemetry").items())))
print("fallback_links ", drone.find_list("fallback_links"))
print("radio, followed", drone.find_deep("radio"))

mission = VYRL.load("examples/mission-0042.vyr")
print("alert_colors   ", mission.find_list("alert_colors"))
mission.validate_value("time::datetime", mission["departure"])
print("departure       is a valid time::datetime")

try:
    VYRL.load("examples/broken/courier-9.vyr")
except RuntimeError as error:
    print("broken example  RuntimeError:", error)
PY
