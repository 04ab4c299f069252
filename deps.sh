#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build veldan: the compiler,
# CMake and oneTBB; with --tests also GoogleTest and pkg-config (CI builds a C
# program against the installed library with it). Needs root (or sudo) only
# when something is missing.
set -euo pipefail
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
[ -e /usr/include/oneapi/tbb.h ] || missing+=(libtbb-dev)
if [ "${1:-}" = "--tests" ]; then
  [ -e /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev libgmock-dev)
  command -v pkg-config >/dev/null || missing+=(pkg-config)
  # veldan-mpi and its tests: MPI and Zoltan.
  command -v mpicxx >/dev/null || missing+=(libopenmpi-dev)
  command -v mpirun >/dev/null || missing+=(openmpi-bin)
  [ -e /usr/include/trilinos/zoltan.h ] || missing+=(libtrilinos-zoltan-dev)
  # The Python module and its tests, and pip installs of it.
  for pkg in python3-dev python3-numpy python3-pybind11 pybind11-dev python3-pytest \
             python3-venv python3-setuptools python3-wheel; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
fi
[ ${#missing[@]} -eq 0 ] && exit 0
echo "deps.sh: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q "${missing[@]}"
