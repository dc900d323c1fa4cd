#!/usr/bin/env bash
# Installs what building and testing VYRL needs, only when it is missing, so
# that a second run costs a few package queries and nothing else. Everything
# comes from Debian's packages: the tests' Python tools go into virtual
# environments under build/ (scripts/common.sh), never into an interpreter.
#
#   scripts/install-deps.sh [--build-only]
#
#   --build-only  only what the tool and the Python module need to build, for
#                 scripts/run-example.sh: no test or benchmark libraries
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

build_only=0
case ${1:-} in
  "") ;;
  --build-only) build_only=1 ;;
  *) echo "usage: $0 [--build-only]" >&2; exit 2 ;;
esac

# Debian's own python3, with venv and headers, is one of the interpreters the
# Python tests run on, and the module builds for it when it is the default.
packages=(g++ nlohmann-json3-dev python3 python3-venv python3-dev)
# A CMake or Ninja from elsewhere on PATH will do as well.
command -v cmake >/dev/null || packages+=(cmake)
command -v ninja >/dev/null || packages+=(ninja-build)
if ((!build_only)); then
  # make for the release preset's build, git for pre-commit, xz-utils and the
  # libraries after it for building the free-threaded interpreter; Neovim and
  # Vim load editors/vim in tests/editors.
  packages+=(make git libgtest-dev libgmock-dev libbenchmark-dev xz-utils
             libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev libsqlite3-dev libreadline-dev
             neovim vim)
fi
need_debian "${packages[@]}"
