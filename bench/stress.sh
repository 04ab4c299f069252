#!/usr/bin/env bash
# Stress run: generates a circuit-like hypergraph of about N pins with
# examples/gen_circuit, partitions it into K parts under /usr/bin/time -v,
# checks the partition file, and prints the peak memory per pin.
#
#   bench/stress.sh                       # 2*10^7 pins, 64 parts (long: needs a quiet machine)
#   bench/stress.sh --pins 1000000        # a quick check of the script itself
#   bench/stress.sh --pins 5000000 --parts 16 --extra "-ptype=kway" --keep
#
# Options: --pins N (default 20000000), --parts K (default 64), --seed S
# (generator seed, default 1), --extra "OPTIONS" (passed to veldan), --bin
# PATH (veldan), --gen PATH (gen_circuit), --workdir DIR (default: a new
# temporary folder), --keep (keep the hypergraph and partition files).
# The binaries are looked up in build-bench/, then build/. The exit status
# is non-zero when the run fails or its partition file is wrong.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
pins=20000000
parts=64
seed=1
extra=""
bin=""
gen=""
workdir=""
keep=0

while [ $# -gt 0 ]; do
  case "$1" in
    --pins) pins=$2; shift 2 ;;
    --parts) parts=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --extra) extra=$2; shift 2 ;;
    --bin) bin=$2; shift 2 ;;
    --gen) gen=$2; shift 2 ;;
    --workdir) workdir=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "stress.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

find_built() {  # name, path inside a build folder
  for b in build-bench build; do
    if [ -x "$root/$b/$2" ]; then echo "$root/$b/$2"; return; fi
  done
  echo "stress.sh: no built $1 in build-bench/ or build/ (build Release first, or pass --bin/--gen)" >&2
  exit 2
}
[ -n "$bin" ] || bin=$(find_built veldan programs/veldan)
[ -n "$gen" ] || gen=$(find_built gen_circuit examples/gen_circuit)
if [ ! -x /usr/bin/time ]; then
  echo "stress.sh: /usr/bin/time is missing (apt-get install time)" >&2
  exit 2
fi

if [ -z "$workdir" ]; then
  workdir=$(mktemp -d "${TMPDIR:-/tmp}/veldan-stress-XXXXXX")
else
  mkdir -p "$workdir"
fi
cleanup() { [ "$keep" = 1 ] || rm -rf "$workdir"; }
trap cleanup EXIT

# Pins of a hypergraph file: the tokens of its net lines (no weights here).
count_pins() {
  awk '/^%/ { next } !h { h = 1; n = $1; next } n > 0 { p += NF; n-- } END { print p + 0 }' "$1"
}

# The generator's pins per cell, from a small sample with the same seed.
"$gen" -cells 20000 -seed "$seed" -o "$workdir/sample.hgr"
sample=$(count_pins "$workdir/sample.hgr")
rm -f "$workdir/sample.hgr"
cells=$(awk -v p="$pins" -v s="$sample" 'BEGIN { c = int(p * 20000 / s); print (c < 2 ? 2 : c) }')

hgr="$workdir/stress.hgr"
echo "== generating about $pins pins ($cells cells, seed $seed)"
gen_start=$(date +%s)
"$gen" -cells "$cells" -seed "$seed" -o "$hgr"
read -r nnets nvtxs < <(awk '/^%/ { next } { print $1, $2; exit }' "$hgr")
npins=$(count_pins "$hgr")
echo "   $nvtxs cells, $nnets nets, $npins pins, $(du -h "$hgr" | cut -f1) on disk, $(( $(date +%s) - gen_start )) s"

echo "== $bin -dbglvl=0 $extra $hgr $parts"
# shellcheck disable=SC2086  # the extra options are meant to split
set +e
/usr/bin/time -v -o "$workdir/time.txt" "$bin" -dbglvl=0 $extra "$hgr" "$parts" > "$workdir/out.txt" 2> "$workdir/err.txt"
status=$?
set -e
if [ "$status" -ne 0 ]; then
  echo "stress.sh: veldan failed with status $status" >&2
  cat "$workdir/err.txt" >&2
  exit 1
fi

# The partition file: one part in range per cell.
partfile=$(ls "$hgr".part.* 2>/dev/null | head -1)
if [ -z "$partfile" ]; then
  echo "stress.sh: no partition file" >&2
  exit 1
fi
awk -v n="$nvtxs" -v k="$parts" '
  !/^[0-9]+$/ || $1 >= k { bad++ }
  END {
    if (NR != n || bad) { printf "stress.sh: bad partition file: %d lines for %d cells, %d bad\n", NR, n, bad > "/dev/stderr"; exit 1 }
  }' "$partfile"

cut=$(grep -o 'Hyperedge Cut: *[0-9.]*' "$workdir/out.txt" | awk '{ print $3 }')
ptime=$(grep -o 'Partitioning Time:[^s]*' "$workdir/out.txt" | awk '{ print $3 }')
iotime=$(grep -o 'I/O Time:[^s]*' "$workdir/out.txt" | awk '{ print $3 }')
peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$workdir/time.txt")
wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$workdir/time.txt")
cpu=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "%.2f", u + s }' "$workdir/time.txt")

echo "== result"
echo "   cut:                 $cut"
echo "   partitioning time:   ${ptime}s   I/O time: ${iotime}s"
echo "   wall clock:          $wall   CPU: ${cpu}s"
echo "   peak memory:         $peak_kb KB"
awk -v kb="$peak_kb" -v p="$npins" 'BEGIN { printf "   peak memory per pin: %.1f bytes\n", kb * 1024 / p }'
[ "$keep" = 1 ] && echo "   files kept in $workdir"
exit 0
