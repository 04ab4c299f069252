// Multilevel recursive bisection: two-way refinement arrays, FM refinement,
// balancing, uncoarsening, initial bisection, multilevel bisection and the
// recursive driver.
#pragma once

#include "hgraph/context.h"
#include "hgraph/hgraph.h"
#include "support/types.h"

namespace veldan {

// --- two-way arrays (params2way.cc) -------------------------------------------
void Allocate2wayRefinementMemory(RunContext& ctrl, HGraph* graph);
void Free2wayRefinementMemory(HGraph* graph);
void Compute2WayParams(RunContext& ctrl, HGraph* graph);

// --- balancing (balance.cc) ---------------------------------------------------
// 1 when a side was below its minimum and balancing ran, else 0.
int Balance(RunContext& ctrl, HGraph* graph);

// --- FM refinement (fm.cc) ----------------------------------------------------
// fmtype 1: queue key = gain; 2: gain / cell weight.
void Refine_EEFM(RunContext& ctrl, HGraph* graph, idx_t npasses, idx_t fmtype,
                 real_t limitfrac);

// --- several weights per cell (multifm.cc) -------------------------------------
// The FM refinement and the balancing of a level whose cells carry ncon > 1
// weights; Refine_EEFM and Balance hand such levels over to them.
void Refine_MultiFM(RunContext& ctrl, HGraph* graph, idx_t npasses, idx_t fmtype,
                    real_t limitfrac);
int Balance_Multi(RunContext& ctrl, HGraph* graph);
// How far the bisection where (sides 0 and 1; other cells ignored) lies
// outside the side bounds: the largest excess of a side over its bound in
// any weight, as a fraction of that weight's total. At most 0 when every
// weight of both sides is within its bound.
double BisectionExcess(const RunContext& ctrl, const HGraph* graph, const idx_t* where);
// The initial placement of one trial of the initial bisection with several
// weights: free cells in perm order, each to side 0 while side 0 has room
// for it in every weight below its share (greedy), or to the side its
// placed neighbours pull to unless that side would pass its bound in some
// weight (attraction, with the net-attraction rows in attract).
void MultiInitialPlacement(const RunContext& ctrl, HGraph* graph, const idx_t* perm,
                           bool greedy, real_t** attract);
// Islands of a level with several weights, heaviest first, each to the
// side where the worst excess over the bounds of the whole level (its
// islands included) ends lowest.
void PlaceIslandsMulti(const RunContext& ctrl, HGraph* graph);

// --- uncoarsening (uncoarsen2way.cc) ------------------------------------------
void Refine2Way(RunContext& ctrl, HGraph* graph);
void PlaceIslands(HGraph* graph, real_t tpwgt = 0.5f);
void Uncoarsen2Way(RunContext& ctrl, HGraph* graph, HGraph* cgraph);

// --- initial bisection (initbisect.cc) ----------------------------------------
void Random_FMPartition(RunContext& ctrl, HGraph* graph);

// --- multilevel bisection (bisection.cc) --------------------------------------
real_t Hypergraph_Bisection(RunContext& ctrl, HGraph* graph, idx_t* bisection);
real_t VCycleRefine(RunContext& ctrl, HGraph* graph, idx_t maxcycles);
void InitBisection(RunContext& ctrl, HGraph* cgraph);
// Weight fraction of the lighter side of a 0/1 vector.
double ComputeSideFraction(const HGraph* graph, const idx_t* where);

// --- recursive bisection (recursive.cc) ---------------------------------------
// Coarsening limit for an input of nvtxs cells: the smaller of sqrt(nvtxs)
// and 100, truncated, but at most nvtxs - 1.
idx_t ComputeCoarsenTo(idx_t nvtxs);
// The largest -epsilon taken, and the least slack a side of a bisection gets
// under it.
inline constexpr double kMaxEpsilon = 10.0;
inline constexpr double kMinSideSlack = 1e-3;
void SetSideSlack(RunContext& ctrl, const HGraph* graph, idx_t nparts, idx_t fpart = 0);
// Recursive bisection of graph (with its label: cell i is cell label[i] of
// part) into nparts parts numbered from fpart, written to part[label[i]];
// returns the summed cut. The first form leaves graph to the caller (its
// label freed); the second frees it as soon as it is split.
real_t MLRB(RunContext& ctrl, HGraph& graph, idx_t* part, idx_t nparts, idx_t fpart);
real_t MLRB(RunContext& ctrl, HGraphPtr graph, idx_t* part, idx_t nparts, idx_t fpart);
void SplitGraphPart(RunContext& ctrl, HGraph* graph, const idx_t* where,
                    HGraph* lgraph, HGraph* rgraph);

}  // namespace veldan
