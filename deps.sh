#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build veldan: the compiler,
# CMake and oneTBB; with --tests also GoogleTest. Needs root (or sudo) only
# when something is missing.
set -euo pipefail
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
[ -e /usr/include/oneapi/tbb.h ] || missing+=(libtbb-dev)
if [ "${1:-}" = "--tests" ]; then
  [ -e /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev libgmock-dev)
fi
[ ${#missing[@]} -eq 0 ] && exit 0
echo "deps.sh: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q "${missing[@]}"
