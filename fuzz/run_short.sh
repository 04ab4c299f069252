#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan and UBSan, one core) and
# runs each of them in turn for a short while on a fresh copy of the seed
# corpus and the stored inputs of tests/data/robust/. Any finding (a crash,
# a sanitizer report, a leak, a time-out) ends the script with a failing
# status and leaves the input in the artifact folder.
#
#   fuzz/run_short.sh [--seconds N] [--build DIR] [--keep]
#   fuzz/run_short.sh --probe     # status 0 when clang++ can build a fuzz target
#
# --seconds N   time per target (default 30)
# --build DIR   build folder (default build-fuzz)
# --keep        keep the work folder (corpora, logs, artifacts)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=30
build="$root/build-fuzz"
keep=0
probe=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --probe) probe=1; shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run_short.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

# Whether clang++ and its fuzzer runtime can link a fuzz target.
have_fuzzer() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local dir
  dir=$(mktemp -d)
  printf '%s\n' 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    > "$dir/probe.cc"
  local ok=0
  clang++ -fsanitize=fuzzer,address,undefined "$dir/probe.cc" -o "$dir/probe" >/dev/null 2>&1 || ok=1
  rm -rf "$dir"
  return $ok
}

if [ "$probe" = 1 ]; then
  have_fuzzer
  exit $?
fi
if ! have_fuzzer; then
  echo "run_short.sh: clang++ with the libFuzzer runtime is not available" >&2
  exit 2
fi

echo "== building the fuzz targets in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVELDAN_FUZZ=ON -DVELDAN_TESTS=OFF > /dev/null
cmake --build "$build" -j1 --target fuzz_hgraph_reader fuzz_fixed_reader

work=$(mktemp -d "${TMPDIR:-/tmp}/veldan-fuzz-run-XXXXXX")
cleanup() { [ "$keep" = 1 ] && echo "work folder kept: $work" || rm -rf "$work"; }
trap cleanup EXIT
"$root/fuzz/make_seeds.sh" "$work/seeds"
# The stored inputs that once broke a reader are seeds as well.
if [ -d "$root/tests/data/robust" ]; then
  for f in "$root"/tests/data/robust/*.hgr; do [ -e "$f" ] && cp "$f" "$work/seeds/hgraph/"; done
  for f in "$root"/tests/data/robust/*.fixed; do [ -e "$f" ] && cp "$f" "$work/seeds/fixed/"; done
fi

status=0
for target in hgraph fixed; do
  bin="$build/fuzz/fuzz_${target}_reader"
  mkdir -p "$work/corpus-$target" "$work/artifacts-$target"
  echo "== fuzz_${target}_reader for ${seconds}s"
  set +e
  "$bin" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -close_fd_mask=1 \
    -dict="$root/fuzz/$target.dict" -print_final_stats=1 \
    -artifact_prefix="$work/artifacts-$target/" \
    "$work/corpus-$target" "$work/seeds/$target" > "$work/$target.log" 2>&1
  rc=$?
  set -e
  grep -E '^stat::number_of_executed_units|^Done ' "$work/$target.log" || true
  if [ "$rc" -ne 0 ]; then
    status=1
    echo "run_short.sh: fuzz_${target}_reader found a fault (status $rc):" >&2
    grep -v '^#' "$work/$target.log" | tail -60 >&2
    for a in "$work/artifacts-$target"/*; do
      [ -e "$a" ] || continue
      echo "input $(basename "$a") (base64): $(base64 -w0 "$a")" >&2
    done
  fi
done

if [ "$status" -ne 0 ]; then
  keep=1
  echo "== fuzzing found faults" >&2
  exit 1
fi
echo "== fuzzing found nothing"
