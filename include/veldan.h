// Public interface of the veldan partitioning library.
//
// Both entries take a hypergraph as plain arrays (cells and nets numbered
// from 0; the pins of net e are netind[netptr[e] .. netptr[e+1]-1]) and fill
// part with a part number 0..nparts-1 for every cell. cellwgt and netwgt may
// be null (unit weights). ubfactor is the unbalance percentage; a negative
// integer parameter selects its default. The arrays are only read.
//
// Recursive bisection (the default scheme):
//   veldan::RecursivePartition(nvtxs, nnets, cellwgt, netptr, netind, netwgt,
//       ubfactor, ctype, rtype, nruns, nvcycles, cmaxnet, rmaxnet, fixed,
//       reconst, kwayrefine, seed, dbglvl, nparts, part[, nthreads]);
// Direct k-way partitioning:
//   veldan::KwayPartition(nvtxs, nnets, cellwgt, netptr, netind, netwgt,
//       ubfactor, otype, ctype, rtype, nruns, nvcycles, cmaxnet, rmaxnet,
//       fixed, seed, dbglvl, nparts, part[, nthreads]);
// With fixed = 1, part carries on entry the pre-assigned part of every fixed
// cell and -1 for every free cell. nthreads (default 1) bounds the threads
// the call runs on; the partition for a seed is the same for any value.
#pragma once

#include "bisect/bisect.h"
#include "kway/kway.h"
#include "support/types.h"
