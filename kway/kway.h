// Direct k-way partitioning: the k-way work area and greedy refinement, the
// pairwise refinement, the multilevel k-way driver and the final k-way
// refinement after recursive bisection.
#pragma once

#include "hgraph/ctrl.h"
#include "hgraph/hgraph.h"
#include "support/types.h"

namespace veldan {

class FinestLevel;

// --- greedy k-way refinement (kwayrefine.cc) ----------------------------------
void AllocateKwayRefinementMemory(PartitionCtrl& ctrl, HGraph* graph);
void ComputeKwayPartitionParams(PartitionCtrl& ctrl, HGraph* graph);
void UpdateKwayCellInfo(HGraph* graph, idx_t n, const idx_t* cells);
void UpdateKwayAfterMove(HGraph* graph, idx_t c, idx_t from, idx_t to,
                         idx_t* marker, idx_t* updind);
void RefineKway_Random(PartitionCtrl& ctrl, HGraph* graph, idx_t npasses);
// With several weights per cell: the bound of each weight on every part,
// from the level's part weights (nkpwgts) and ctrl.nubfactor.
void KwayMaxPartWeights(const PartitionCtrl& ctrl, const HGraph* graph, double* maxw);
// How far the k-way partition where lies outside those bounds: the largest
// excess of a part over its bound in any weight, as a fraction of that
// weight's total; at most 0 when every part is within every bound.
double KwayExcess(const PartitionCtrl& ctrl, const HGraph* graph, const idx_t* where);

// --- dispatch and pairwise refinement (pairwise.cc) ---------------------------
void RefineKway(PartitionCtrl& ctrl, HGraph* graph);
void RefineKway_Pairwise(PartitionCtrl& ctrl, HGraph* graph, idx_t npasses);
// With several weights: the two-way balancing on parts p and q alone (the
// other parts frozen), each side bound by maxw (the k-way bound of every
// weight, in the level's weights). A pair whose cells can be traded so that
// both keep every bound comes out so: a part full in one weight gives cells
// that carry much of it for cells that carry little. Returns whether a
// cell moved.
bool BalancePartPair(PartitionCtrl& ctrl, HGraph* graph, idx_t p, idx_t q, const double* maxw);

// --- recursive-bisection entry (rbentry.cc) ----------------------------------
// ubfactor is the percentage of -ufactor; negative integer parameters stand
// for their defaults. The runs go on at most nthreads threads (below 1: as
// many as the calling context allows); the partition for a seed is the same
// whatever the number. A negative seed is taken from the clock. A
// non-negative epsilon replaces ubfactor: every final part then weighs at
// most EpsilonFactor(epsilon) times the average part weight, whatever
// nparts, as far as the cells' weights allow. With ncon > 1, cellwgt holds
// ncon weights per cell (cell by cell) and every one of them is balanced.
real_t RecursivePartition(idx_t nvtxs, idx_t nnets, const real_t* cellwgt,
                          const idx_t* netptr, const idx_t* netind,
                          const real_t* netwgt, real_t ubfactor, idx_t ctype,
                          idx_t rtype, idx_t nruns, idx_t nvcycles, idx_t cmaxnet,
                          idx_t rmaxnet, idx_t fixed, idx_t reconst,
                          idx_t kwayrefine, idx_t seed, idx_t dbglvl, idx_t nparts,
                          idx_t* part, idx_t nthreads = 1, double epsilon = -1.0,
                          Progress* progress = nullptr, idx_t ncon = 1);
real_t MultilevelPartition(PartitionCtrl& ctrl, HGraph* graph, idx_t* part);

// --- multilevel k-way driver (kway.cc) ----------------------------------------
// ubfactor is the percentage of -ufactor; negative integer parameters stand
// for their defaults. Threads, seed and epsilon as for RecursivePartition
// (under epsilon the bound of the k-way refinement is the bound on every part),
// and ncon as for RecursivePartition.
real_t KwayPartition(idx_t nvtxs, idx_t nnets, const real_t* cellwgt,
                     const idx_t* netptr, const idx_t* netind,
                     const real_t* netwgt, real_t ubfactor, idx_t otype,
                     idx_t ctype, idx_t rtype, idx_t nruns, idx_t nvcycles,
                     idx_t cmaxnet, idx_t rmaxnet, idx_t fixed, idx_t seed,
                     idx_t dbglvl, idx_t nparts, idx_t* part, idx_t nthreads = 1,
                     double epsilon = -1.0, Progress* progress = nullptr, idx_t ncon = 1);
real_t MultilevelKwayPartition(PartitionCtrl& ctrl, HGraph* graph, idx_t* part);
void InitPartitionKway(PartitionCtrl& ctrl, HGraph* cgraph);
void UncoarsenKway(PartitionCtrl& ctrl, HGraph* graph, HGraph* cgraph);
// V-cycles of graph (where set, in its own numbering). With finest, graph
// is the input level of that shared finest level and every cycle runs on a
// record borrowed from it.
real_t VCycleKway(PartitionCtrl& ctrl, HGraph* graph, idx_t maxcycles,
                  const FinestLevel* finest = nullptr);
real_t ComputeBalanceKway(PartitionCtrl& ctrl, const HGraph* graph,
                          const idx_t* where);
real_t ComputeMaxCellWeight(PartitionCtrl& ctrl, idx_t n, const real_t* cellwgt);
// Coarsening stops at this many cells in the k-way scheme: min(sqrt(n), 100)
// times 2 nparts, at most n-1.
idx_t KwayCoarsenTo(idx_t nvtxs, idx_t nparts);

// --- bound restoration (balancekway.cc) -----------------------------------------
// Moves cells out of parts above (total x ubfactor) / nparts, each time at
// the least increase of the objective, until all parts are within the bound
// or nothing fits; fixed cells stay. Returns the number of moves; with none
// the level is untouched, otherwise where, kpwgts, mincut and objval are
// brought up to date.
idx_t BalanceKway(PartitionCtrl& ctrl, HGraph* graph);

// --- final k-way refinement (finalkway.cc) ------------------------------------
void PerformFinalKwayRefine(PartitionCtrl& ctrl, HGraph* graph, idx_t* part);

}  // namespace veldan
