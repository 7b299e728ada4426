#!/usr/bin/env bash
# Installs what building and testing ZEMA needs on Debian 12. Runs apt-get only
# for packages that are missing, so it is quick on a machine that has them.
set -euo pipefail

packages=(cmake ninja-build g++ g++-multilib qemu-user googletest libgtest-dev
          libbenchmark-dev libsimdjson-dev libcli11-dev liblzma-dev zlib1g-dev help2man
          python3 xz-utils gzip file pkgconf clang libclang-rt-14-dev valgrind gcovr
          clang-format clang-tidy libboost1.81-dev pybind11-dev python3-dev python3-pytest
          python3-mypy python3-setuptools python3-wheel python3-pip python3-venv)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
