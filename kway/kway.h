// Direct k-way partitioning: the k-way work area and greedy refinement, the
// pairwise refinement, the multilevel k-way driver and the final k-way
// refinement after recursive bisection.
#pragma once

#include <vector>
#include <span>

#include "hgraph/context.h"
#include "hgraph/hgraph.h"
#include "support/types.h"

namespace veldan {

class FinestLevel;

// The objective's value from a level's cut and sum of external degrees
// (km1 is their difference).
inline real_t ObjectiveValue(Objective o, real_t cut, real_t soed) {
  return o == Objective::Cut ? cut : (o == Objective::Soed ? soed : soed - cut);
}
// The objective's printed name.
inline const char* ObjectiveName(Objective o) {
  return o == Objective::Cut ? "cut" : (o == Objective::Soed ? "soed" : "km1");
}

// --- greedy k-way refinement (kwayrefine.cc) ----------------------------------
void AllocateKwayRefinementMemory(RunContext& ctrl, HGraph* graph);
void ComputeKwayPartitionParams(RunContext& ctrl, HGraph* graph);
void UpdateKwayCellInfo(HGraph* graph, idx_t n, const idx_t* cells);
// Brings the net and cell records up to date after cell c moved from part
// from to part to: the cells whose records were rebuilt (c first) are left
// in updind, marked with c in marker, and their number is returned.
idx_t UpdateKwayAfterMove(HGraph* graph, idx_t c, idx_t from, idx_t to,
                          idx_t* marker, idx_t* updind);
void RefineKway_Random(RunContext& ctrl, HGraph* graph, idx_t npasses);
// With several weights per cell: the bound of each weight on every part
// (nparts * ncon entries, weight j of part p at p * ncon + j) for a level
// whose weights total tot: tot x ctrl.nubfactor / nparts on every part, or
// with target weights each part's own share of tot.
std::vector<double> KwayConBounds(const RunContext& ctrl, idx_t ncon, const double* tot);
// The same into *out, which keeps its storage from call to call.
void KwayConBoundsInto(const RunContext& ctrl, idx_t ncon, const double* tot,
                       std::vector<double>* out);
// Whether those bounds are the parts' own (target weights).
bool KwayOwnBounds(const RunContext& ctrl, idx_t ncon);
// The same from the level's part weights (nkpwgts).
void KwayMaxPartWeights(const RunContext& ctrl, const HGraph* graph, std::vector<double>* out);
// With target weights: the bound of every part for a level of the given
// total weight (ncon 1); empty without targets, when every part has the
// bound of the even split, and with several weights.
std::vector<real_t> KwayPartBounds(const RunContext& ctrl, real_t total);
// The part with the most room under the bounds pmax: the largest bound less
// weight pw.
idx_t RoomiestPart(idx_t nparts, const real_t* pw, const real_t* pmax);
// How far the k-way partition where lies outside those bounds: the largest
// excess of a part over its bound in any weight, as a fraction of that
// weight's total; at most 0 when every part is within every bound.
double KwayExcess(const RunContext& ctrl, const HGraph* graph, const idx_t* where);

// --- k-way FM refinement on km1 gains (kwayfm.cc) ----------------------------
// Passes of k-way FM on the km1 of the counted nets (at most rmaxnet pins),
// each taken back to its best point, until a pass gains nothing or npasses
// ran; no part grows above its bound. Needs the work area allocated and
// where set; rebuilds the records, and leaves them, kpwgts, mincut, soed
// and objval (the km1 of the counted nets) up to date. Never raises km1.
void RefineKway_FM(RunContext& ctrl, HGraph* graph, idx_t npasses);

// --- dispatch and pairwise refinement (pairwise.cc) ---------------------------
// The level's k-way refinement by ctrl.cfg->refinement.scheme; in the direct
// k-way scheme under km1 the greedy refinement is followed by k-way FM.
void RefineKway(RunContext& ctrl, HGraph* graph);
void RefineKway_Pairwise(RunContext& ctrl, HGraph* graph, idx_t npasses);
// With several weights: the two-way balancing on parts p and q alone (the
// other parts frozen), each side bound by maxw (the k-way bound of every
// weight on every part as KwayConBounds lays it out, in the level's
// weights). A pair whose cells can be traded so that
// both keep every bound comes out so: a part full in one weight gives cells
// that carry much of it for cells that carry little. Returns whether a
// cell moved.
bool BalancePartPair(RunContext& ctrl, HGraph* graph, idx_t p, idx_t q, const double* maxw);

// --- recursive-bisection driver (rbentry.cc) ----------------------------------
// Recursive bisection of graph into ctrl.cfg->nparts parts (part holds the fixed
// cells on entry when ctrl.cfg->fixed), with the final k-way refinement under
// -kwayrefine and, with several weights under -epsilon, the k-way repair.
real_t MultilevelPartition(RunContext& ctrl, HGraph* graph, idx_t* part);

// --- multilevel k-way driver (kway.cc) ----------------------------------------
real_t MultilevelKwayPartition(RunContext& ctrl, HGraph* graph, idx_t* part);
// The same with the cells pre-assigned in part (-1: free) compressed into
// one fixed cell per part first.
real_t MultilevelKwayPartitionFixed(RunContext& ctrl, HGraph* graph, idx_t* part);
void InitPartitionKway(RunContext& ctrl, HGraph* cgraph);
void UncoarsenKway(RunContext& ctrl, HGraph* graph, HGraph* cgraph);
// V-cycles of graph (where set, in its own numbering). With finest, graph
// is the input level of that shared finest level and every cycle runs on a
// record borrowed from it.
real_t VCycleKway(RunContext& ctrl, HGraph* graph, idx_t maxcycles,
                  const FinestLevel* finest = nullptr);
real_t ComputeBalanceKway(RunContext& ctrl, const HGraph* graph,
                          const idx_t* where);
real_t ComputeMaxCellWeight(RunContext& ctrl, idx_t n, const real_t* cellwgt);
// Coarsening stops at this many cells in the k-way scheme: min(sqrt(n), 100)
// times 2 nparts, at most n-1.
idx_t KwayCoarsenTo(idx_t nvtxs, idx_t nparts);

// --- bound restoration (balancekway.cc) -----------------------------------------
// Moves cells out of parts above (total x ubfactor) / nparts, each time at
// the least increase of the objective, until all parts are within the bound
// or nothing fits; fixed cells stay. Returns the number of moves; with none
// the level is untouched, otherwise where, kpwgts, mincut and objval are
// brought up to date.
idx_t BalanceKway(RunContext& ctrl, HGraph* graph);

// --- improving a given partition (initial.cc) ---------------------------------
// Improves initial (a k-way partition of graph's cells) into part: runs of
// balancing, greedy refinement and one V-cycle, then V-cycles of the
// cfg->nvcycles best, under the k-way bound (recursive bisection: the
// -epsilon factor, or the heavier of the ufactor bound and the heaviest
// given part). Cells whose fixed entry is a part stay there (initial
// must already put them there); fixed may be empty and may alias part.
// Returns the objective of the result, never above that of initial when
// initial keeps the bound.
real_t ImproveKwayPartition(RunContext& ctrl, HGraph* graph, std::span<const idx_t> fixed,
                            std::span<const idx_t> initial, idx_t* part);

// --- final k-way refinement (finalkway.cc) ------------------------------------
void PerformFinalKwayRefine(RunContext& ctrl, HGraph* graph, idx_t* part);

}  // namespace veldan
