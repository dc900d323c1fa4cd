#!/usr/bin/env bash
# Installs the library into a fresh temporary prefix and builds a separate
# project against it with find_package(vyrl), so that the installed headers,
# the exported target and the package files are tested as users receive them.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

# The library build is kept between runs (it is the slow part); the prefix and
# the consumer are new every time.
lib_build=${VYRL_BUILD_DIR:-build}/install-check
work=$(mktemp -d "${TMPDIR:-/tmp}/vyrl-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake -S . -B "$lib_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVYRL_BUILD_TESTS=OFF -DVYRL_BUILD_BENCH=OFF -DVYRL_BUILD_CLI=ON -DVYRL_BUILD_PYTHON=OFF \
  -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$lib_build" -j "$(nproc)"
cmake --install "$lib_build" >/dev/null

cmake -S tests/consumer -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer"
"$work/consumer/vyrl_consumer"

# The tool is installed beside the library.
[ "$("$prefix/bin/vyrl" --version)" = "vyrl 1.4.0" ]
echo "test-consumer: the installed package builds and runs"
