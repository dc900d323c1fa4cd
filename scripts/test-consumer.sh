#!/usr/bin/env bash
# Builds and installs the library as docs/cpp.md tells a C++ user to (the release
# preset: no tests, no benchmarks) into a fresh temporary prefix, and builds a
# separate project against it with find_package(vyrl), so that the installed
# headers, the exported target and the package files are tested as users
# receive them. GoogleTest and Google Benchmark are hidden from these builds, as
# on a machine that has only a compiler and CMake.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

scripts/install-deps.sh

# Its own tree, not the shared one: what is installed must not depend on
# anything the developer build found or turned on.
release_dir=$build_dir/release
work=$(mktemp -d "${TMPDIR:-/tmp}/vyrl-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
no_test_libraries=(-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)

fail() { echo "test-consumer: $*" >&2; exit 1; }

quietly cmake --preset release -B "$release_dir" "${no_test_libraries[@]}"
quietly cmake --build "$release_dir" -j "$(nproc)"
quietly cmake --install "$release_dir" --prefix "$prefix"
! grep -q -- -Werror "$release_dir/compile_commands.json" ||
  fail "the release build turns warnings into errors, which a newer compiler would break"

quietly cmake -S tests/consumer -B "$work/consumer" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix"
quietly cmake --build "$work/consumer"
"$work/consumer/vyrl_consumer"

# The tool is installed beside the library, with the project's version.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$release_dir/CMakeCache.txt")
[ "$("$prefix/bin/vyrl" --version)" = "vyrl $version" ] || fail "the installed vyrl is not version $version"

# Taken in as a subproject, VYRL brings neither tests nor benchmarks, so it
# configures without GoogleTest. (Configured only: the build is the one above.)
quietly cmake -S tests/consumer -B "$work/subproject" -DVYRL_FROM_SOURCE="$PWD" "${no_test_libraries[@]}"
for option in VYRL_BUILD_TESTS VYRL_BUILD_BENCH; do
  grep -qx "$option:BOOL=OFF" "$work/subproject/CMakeCache.txt" || fail "$option is on in a subproject build"
done
echo "test-consumer: the installed package builds and runs"
