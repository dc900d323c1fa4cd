#!/usr/bin/env bash
# Builds the `vyrl` tool, checks the example configuration set with it, reads a
# few values back from the shell, then does the same through the Python module.
# Runs from the repository root: the examples' @import and @derive paths are
# relative to the working directory, and written relative to this root.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

scripts/install-deps.sh --build-only

# The tree scripts/test.sh uses too, with the module for the default python3
# beside the tool: the core is compiled once for both, and for both scripts.
# The unit tests and benchmarks stay off here; test.sh turns them on.
python=$(resolve_python python3 2>/dev/null) || python=""
configure_shared_build "$python" OFF
quietly cmake --build "$build_dir" --target vyrl_cli ${python:+vyr_rs}
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
if [ -z "$python" ]; then
  echo "notice: no python3 on PATH; skipping this step"
  exit 0
fi

PYTHONPATH=$build_dir/src/python${PYTHONPATH:+:$PYTHONPATH} "$python" - <<'PY'
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
