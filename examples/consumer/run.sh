#!/usr/bin/env bash
# Builds and runs the three ways of using veldan from another project:
#   find_package/     CMake, against an installed veldan (find_package)
#   pkg-config/       a C program compiled with cc and pkg-config --static
#   add_subdirectory/ CMake, with veldan's sources built as part of the project
# veldan is installed once into a temporary prefix, from an existing build
# folder (--from-build DIR) or from a Release build of its own; --shared
# builds and installs libveldan.so instead and checks what it exports.
# It first checks that the sources README.md shows are these files. Any
# failure ends the script with a non-zero status.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
from_build=""
shared=0
while [ $# -gt 0 ]; do
  case "$1" in
    --from-build) from_build=$(cd "$2" && pwd); shift 2 ;;
    --shared) shared=1; shift ;;
    *) echo "usage: $0 [--from-build DIR | --shared]" >&2; exit 2 ;;
  esac
done
if [ -n "$from_build" ] && [ "$shared" = 1 ]; then
  echo "$0: --shared builds veldan itself; give one of --from-build and --shared" >&2
  exit 2
fi

fail() { echo "run.sh: $*" >&2; exit 1; }

# The README shows these sources after a line <!-- path -->; they must be
# the files built here.
shown=$(grep -c '^<!-- examples/consumer/[^ ]* -->$' "$src/README.md" || true)
[ "$shown" -ge 3 ] || fail "README.md shows $shown consumer files, not 3"
for path in $(sed -n 's/^<!-- \(examples\/consumer\/[^ ]*\) -->$/\1/p' "$src/README.md"); do
  awk -v marker="<!-- $path -->" '
    inside && /^```$/ { exit }
    inside { print }
    $0 == marker { getline; inside = 1 }' "$src/README.md" |
    diff -u "$src/$path" - >&2 || fail "README.md shows another $path (diff above)"
done

jobs=$(nproc 2>/dev/null || echo 2)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/veldan-consumer-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"

echo "== veldan installed into $prefix"
if [ -z "$from_build" ]; then
  from_build="$tmp/veldan-build"
  cmake -S "$src" -B "$from_build" -DCMAKE_BUILD_TYPE=Release -DVELDAN_TESTS=OFF \
    -DVELDAN_EXAMPLES=OFF -DBUILD_SHARED_LIBS=$([ "$shared" = 1 ] && echo ON || echo OFF) >/dev/null
  cmake --build "$from_build" -j"$jobs"
fi
cmake --install "$from_build" --prefix "$prefix" >/dev/null
pcfile=$(find "$prefix" -name veldan.pc | head -n 1)
[ -n "$pcfile" ] || fail "no veldan.pc installed"
libdir=$(dirname "$(dirname "$pcfile")")
[ -x "$prefix/bin/veldan" ] || fail "the program is not installed"
# The program stands alone (a shared build links it with the objects).
"$prefix/bin/veldan" -output="$tmp/circuit1.part.2" "$src/examples/circuit1.hgr" 2 >/dev/null
[ -s "$tmp/circuit1.part.2" ] || fail "the installed program wrote no partition"

if [ -e "$libdir/libveldan.so" ]; then
  echo "== symbols libveldan.so exports"
  # Only the entries of include/veldan/ and the type information of
  # veldan::Error may be visible.
  exported=$(nm -D --defined-only "$libdir/libveldan.so" | awk '{print $3}' | c++filt)
  grep -q '^veldan_partition$' <<<"$exported" || fail "veldan_partition is not exported"
  grep -q '^veldan::Partition(' <<<"$exported" || fail "veldan::Partition is not exported"
  stray=$(grep -v -e '^veldan_[a-z_]*$' \
    -e '^veldan::\(Partition\|Evaluate\|Version\|ReadHypergraph\)(' -e '^veldan::Error::' \
    -e '^\(typeinfo\|typeinfo name\|vtable\) for veldan::Error$' <<<"$exported" || true)
  [ -z "$stray" ] || fail "libveldan.so exports more than the interface:"$'\n'"$stray"
  export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
fi

echo "== find_package: examples/consumer/find_package"
cmake -S "$here/find_package" -B "$tmp/find_package" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$tmp/find_package" -j"$jobs"
"$tmp/find_package/partition_file" "$src/examples/circuit1.hgr" 4

echo "== pkg-config: examples/consumer/pkg-config"
export PKG_CONFIG_PATH="$(dirname "$pcfile")"
# shellcheck disable=SC2046  # the flags are words
cc -std=c99 -Wall -Wextra -pedantic -Werror "$here/pkg-config/partition.c" \
  $(pkg-config --cflags --libs --static veldan) -o "$tmp/partition"
"$tmp/partition"

echo "== add_subdirectory: examples/consumer/add_subdirectory"
sub="$tmp/add_subdirectory"
cmake -S "$here/add_subdirectory" -B "$sub" -DVELDAN_SOURCE_DIR="$src" \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$sub" -j"$jobs"
"$sub/circuit_tool"
# veldan's policies stay inside veldan: no build type forced on the project,
# no tests (and no search for GoogleTest), and none of veldan's compile
# flags or its source root on the project's own target.
grep -q '^CMAKE_BUILD_TYPE:STRING=$' "$sub/CMakeCache.txt" || fail "veldan set the build type"
grep -q '^VELDAN_TESTS:BOOL=OFF$' "$sub/CMakeCache.txt" || fail "veldan's tests are on"
! grep -q '^GTest_DIR' "$sub/CMakeCache.txt" || fail "veldan looked for GoogleTest"
command_of() {  # the compile command of a source file in compile_commands.json
  grep -B 1 -F "\"file\": \"$1\"" "$sub/compile_commands.json" | grep '"command"' || true
}
own=$(command_of "$here/add_subdirectory/main.cc")
ours=$(command_of "$src/api/veldan.cc")
[ -n "$own" ] && [ -n "$ours" ] || fail "compile commands not found in $sub/compile_commands.json"
grep -q -e ' -Wall ' <<<"$ours" || fail "the check below cannot see veldan's flags"
for flag in -Wall -Wextra -fvisibility=hidden "-I$src" "-isystem $src"; do
  if grep -q -F -e " $flag " <<<" $own "; then
    fail "the project's own target is compiled with $flag from veldan: $own"
  fi
done
grep -q -F -e "-I$src/include" -e "-isystem $src/include" <<<"$own" \
  || fail "the project's target does not see include/veldan: $own"

echo "== consumers passed"
