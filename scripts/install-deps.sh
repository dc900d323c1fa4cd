#!/usr/bin/env bash
# Installs what building and testing VYRL needs, only when it is missing, so
# that a second run costs a few package queries and nothing else. Everything
# comes from Debian's packages: the tests' Python tools go into virtual
# environments under build/ (scripts/common.sh), never into an interpreter.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

# Debian's own python3, with venv and headers, is one of the interpreters the
# Python tests run on; the libraries after it build the free-threaded one.
# Neovim and Vim load editors/vim in tests/editors.
packages=(g++ make git libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev xz-utils
          python3 python3-venv python3-dev
          libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev libsqlite3-dev libreadline-dev
          neovim vim)
# A CMake or Ninja from elsewhere on PATH will do as well.
command -v cmake >/dev/null || packages+=(cmake)
command -v ninja >/dev/null || packages+=(ninja-build)
need_debian "${packages[@]}"
