// Coarsening: matching, coarse-level construction, the coarsening drivers,
// islands, fixed-cell compression and the partition measures.
#pragma once

#include "hgraph/context.h"
#include "hgraph/hgraph.h"
#include "support/types.h"

namespace veldan {

// --- matching (match.cc) ---------------------------------------------------

// Groups the cells of graph (cells with different where entries never share
// a group) and builds graph->coarser through CreateCoarseHGraph.
void Match_Edges(RunContext& ctrl, HGraph* graph, const idx_t* where);
// With several weights per cell: the heaviest a coarse cell may grow in
// each weight, ctrl.nmaxcellwgt, by the rule of the one-weight bound (twice
// the average coarsest cell, the heavy cells left out).
void SetMaxCellWeights(RunContext& ctrl, const HGraph* graph);
// Builds the clique graph (xadj, the CliqueEdge list adj and adjw) and
// matchthreshold. On a level with keepadj set, a graph built earlier is
// reused and only the threshold is set.
void CreateAdjancentGraph(RunContext& ctrl, HGraph* graph);
// The most entries graph's clique graph can hold: s (s - 1) for every net
// of s <= maxnet pins (larger nets are left out of it).
idx_t CliqueEntryBound(const HGraph& graph, idx_t maxnet);
// Frees the clique graph unless the level keeps it.
void FreeAdjacentGraph(RunContext& ctrl, HGraph* graph);
// Marks a level whose clique graph and variant-1 scores serve every
// matching of it until ReleaseCliqueGraph (the finest level of a bisection
// or of a k-way partitioning, matched once per run and V-cycle).
void KeepCliqueGraph(HGraph* graph);
void ReleaseCliqueGraph(HGraph* graph);
// Stable counting sort of the fine cells by coarse cell.
void MakeGroupLists(idx_t nvtxs, idx_t cnvtxs, const pin_t* cellmap, pin_t* mptr,
                    pin_t* mind);

// --- contraction (contract.cc) -----------------------------------------------

// Builds the next coarser level from cellmap/mptr/mind of graph.
void CreateCoarseHGraph(RunContext& ctrl, HGraph* graph, idx_t cnvtxs);
// Nets as compressed pin lists, owned.
struct NetArrays {
  idx_t nnets = 0;
  Array<idx_t> netptr;
  Array<pin_t> netind;
  Array<real_t> netwgt;
};
// Merges nets with identical pin sets (pins of every net are sorted in
// place, weights summed) into fresh arrays.
NetArrays CollapseSameHEdges(idx_t nnets, idx_t* netptr, pin_t* netind, const real_t* netwgt);

// --- drivers (coarsen.cc) ----------------------------------------------------

HGraph* Coarsen(RunContext& ctrl, HGraph* graph);
// Sets cflags and curtrial of a run's context for run r: the hybrid
// schemes alternate from run to run (each coarsening flips the scheme
// first), so run r coarsens as the r+1-th coarsening from basecflags would,
// whatever ran before it.
void SchemeForRun(RunContext& ctrl, idx_t r);
HGraph* CCoarsen(RunContext& ctrl, HGraph* graph);
void SeparateIslands(HGraph* graph);
void CombineIslands(HGraph* graph);

// --- fixed cells and measures (fixed.cc) -------------------------------------

void CompressFixedCells(RunContext& ctrl, HGraph* graph, const idx_t* part);
// The k-way level of graph with every group of cells fixed to part k
// compressed into cell k (fixed there), owned by the caller: graph keeps
// its cellmap into it for ProjectFixedCells.
HGraphPtr CompressedFixedLevel(RunContext& ctrl, HGraph* graph, const idx_t* part);
void ProjectFixedCells(RunContext& ctrl, HGraph* graph, idx_t* part,
                       const idx_t* cpart);
// Weighted cut over all nets, whatever their size.
real_t ComputeCut(const HGraph* graph, const idx_t* where);
// Sum of external degrees over all nets.
real_t ComputeSOED(const HGraph* graph, const idx_t* where);

}  // namespace veldan
