#!/usr/bin/env bash
# Installs what building and testing VYRL needs, only when it is missing, so
# that a second run costs a few package queries and nothing else. Everything
# comes from Debian's packages: the tests' Python tools go into virtual
# environments under build/ (scripts/common.sh), never into an interpreter.
set -euo pipefail

# Debian's own python3, with venv and headers, is one of the interpreters the
# Python tests run on.
need_apt=()
for package in g++ make git libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev xz-utils \
               python3 python3-venv python3-dev \
               libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev libsqlite3-dev libreadline-dev; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || need_apt+=("$package")
done
# A CMake or Ninja from elsewhere on PATH will do as well.
command -v cmake >/dev/null || need_apt+=(cmake)
command -v ninja >/dev/null || need_apt+=(ninja-build)

if ((${#need_apt[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing Debian packages: ${need_apt[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need_apt[@]}" >/dev/null
fi
