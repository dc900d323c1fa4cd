#!/usr/bin/env bash
# Installs what building and testing VYRL needs, only when it is missing, so
# that a second run costs a few package queries and nothing else.
set -euo pipefail

need_apt=()
for package in g++ make libgtest-dev libgmock-dev libbenchmark-dev xz-utils \
               libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev libsqlite3-dev libreadline-dev; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || need_apt+=("$package")
done
if ((${#need_apt[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing Debian packages: ${need_apt[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need_apt[@]}" >/dev/null
fi

command -v cmake >/dev/null || python3 -m pip install -q cmake
command -v ninja >/dev/null || python3 -m pip install -q ninja
