// The one entry of the partitioning: MakeConfig checks a caller's options
// against the hypergraph and resolves every default once; PartitionHGraph
// runs the scheme the configuration names. The program, the library, the
// Python module and the k-way initial partition all come through here.
#pragma once

#include <span>

#include "hgraph/config.h"
#include "hgraph/context.h"
#include "hgraph/view.h"
#include "support/types.h"
#include "veldan/veldan.h"

namespace veldan {

class Progress;

// The entry reads the caller's hypergraph (HGraphView) with every net
// non-empty and each cell at most once per net.

// The schemes a default stands for: the coarsening scheme follows nruns
// (h1 below 20 runs, else h12), the refinement scheme the partitioning
// scheme (fast for recursive bisection, krandom for k-way, kpmoderate for
// k-way improving a given partition).
Coarsening ResolvedCoarsening(const Options& o);
Refinement ResolvedRefinement(const Options& o);

// The configuration of partitioning h as o says, with the defaults of the
// command line: the coarsening scheme follows nruns, the refinement scheme
// the partitioning scheme; at least one run, at most nruns V-cycles; a
// negative seed is drawn from the clock; threads below 1 leave the number to
// the calling context. anyfixed tells whether fixed cells will be passed.
// Throws Error (Status::InvalidOptions) for an option out of its range.
PartitionConfig MakeConfig(const Options& o, const HGraphView& h, bool anyfixed = false);

// Partitions h into cfg.nparts parts, writing part (nvtxs entries). fixed
// is empty or holds nvtxs entries: a part in 0 .. nparts-1, or -1 (any other
// value too) for a free cell. The partition for a seed does not depend on
// cfg.nthreads. Returns the cut (recursive bisection) or the objective
// (k-way) of the partition. progress (may be null) is stepped after every
// run and V-cycle. A non-empty initial (nvtxs parts, fixed cells already in
// their parts) is improved instead of partitioning from scratch. counts
// (may be null) receives the runs and V-cycles made.
// The runs and V-cycles a partitioning made per bisection (or k-way
// partitioning): the configuration's, or under a time budget those it
// decided. uneven: some bisection could not follow them (see RunBudget).
struct RunCounts {
  idx_t nruns = 0;
  idx_t nvcycles = 0;
  bool uneven = false;
  // Improving a given partition: a run from scratch beat it, so the cells
  // were partitioned afresh (the counts are that partitioning's).
  bool afresh = false;
};

real_t PartitionHGraph(const HGraphView& h, const PartitionConfig& cfg,
                       std::span<const idx_t> fixed, std::span<idx_t> part,
                       Progress* progress = nullptr, std::span<const idx_t> initial = {},
                       RunCounts* counts = nullptr);

}  // namespace veldan
