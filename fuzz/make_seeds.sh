#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets: small valid files of each
# kind the readers take, and a few near misses.
#   fuzz/make_seeds.sh OUTDIR   (creates OUTDIR/hgraph and OUTDIR/fixed)
set -euo pipefail
out=${1:?usage: make_seeds.sh OUTDIR}
h=$out/hgraph
f=$out/fixed
mkdir -p "$h" "$f"

# Hypergraph files.
printf '4 7\n1 2\n2 3\n4 5 6\n7 1\n'                        > "$h/fmt0"
printf '3 5 0\n1 2 3\n3 4\n5 1 2\n'                          > "$h/fmt0-explicit"
printf '3 5 1\n2 1 2\n0.5 3 4 5\n7 5 1\n'                    > "$h/fmt1"
printf '2 4 10\n1 2\n3 4 1\n1\n2\n0\n4.5\n'                  > "$h/fmt10"
printf '2 4 11\n3 1 2\n1 3 4 1\n1\n2\n3\n4\n'                > "$h/fmt11"
printf '1 3 10 2\n1 2 3\n1 2\n3 4\n5 6\n'                    > "$h/ncon2"
printf '2 4 11\r\n1.5 1 2\r\n2 3 4 4\r\n1\r\n2\r\n3\r\n4\r\n' > "$h/crlf"
printf '2 3\n1 2\n2 3'                                       > "$h/no-final-lf"
printf '%% comment\n%%\n2 3 22\n%% between\n2.5 1 3\n%% nets\n4 2 3 1\n7 x\n%% c\n0\n-1.5\n' \
                                                             > "$h/comments-weights"
printf '0 3\n'                                               > "$h/no-nets"
printf '3 3\n1\n2\n3\n'                                      > "$h/single-pin-nets"
printf '1 6\n1 2 3 4 5 6\n'                                  > "$h/one-net-all-cells"
printf '2 2\n1 2\n2 1 2 1\n'                                 > "$h/two-cells-repeats"
printf '2 4 1\n0 1 2\n1e3 3 4\n'                             > "$h/zero-net-weight"
printf '1 4 1\nnan 1 2\n'                                    > "$h/nan-net-weight"
printf '2 4\n1 2\n\n3 4\n'                                   > "$h/blank-line"
printf '1 4 1 2\n1 1 2\n'                                    > "$h/ncon-without-weights"
# A circuit-like one: a ring of pairs and triples over 20 cells.
{
  echo "40 20"
  for i in $(seq 0 19); do echo "$((i + 1)) $(((i + 1) % 20 + 1))"; done
  for i in $(seq 0 19); do echo "$((i + 1)) $(((i + 5) % 20 + 1)) $(((i + 11) % 20 + 1))"; done
} > "$h/ring20"

# Fixed-cell files: the first byte is the number of cells less one.
cell() { printf "\\$(printf '%03o' "$(($1 - 1))")"; }
{ cell 4; printf '0\n1\n-1\n1\n'; }       > "$f/four"
{ cell 6; printf '0 0\n1\n1 2\n2\n'; }    > "$f/several-per-line"
{ cell 3; printf -- '-1\r\n-1\r\n2\r\n'; } > "$f/crlf"
{ cell 2; printf '3\n4'; }                > "$f/no-final-lf"
{ cell 3; printf '0\n1\n'; }              > "$f/short"
{ cell 2; printf -- '-2\n+7\n'; }         > "$f/below-minus-one"
{ cell 2; printf '99999999999999999999999 1\n'; } > "$f/huge"
