#!/usr/bin/env bash
# Installs the library into a fresh temporary prefix and builds a separate
# project against it with find_package(vyrl), so that the installed headers,
# the exported target and the package files are tested as users receive them.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

# The library comes from the main build (scripts/test.sh builds it first); only
# the prefix and the consumer are new every time.
build_dir=${VYRL_BUILD_DIR:-build}
work=$(mktemp -d "${TMPDIR:-/tmp}/vyrl-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build_dir" -j "$(nproc)" --target vyrl_core vyrl_cli
cmake --install "$build_dir" --prefix "$prefix" >/dev/null

cmake -S tests/consumer -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer"
"$work/consumer/vyrl_consumer"

# The tool is installed beside the library.
[ "$("$prefix/bin/vyrl" --version)" = "vyrl 1.4.0" ]
echo "test-consumer: the installed package builds and runs"
