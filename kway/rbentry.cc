// The recursive-bisection driver under the entry (kway/entry.cc): the bound
// of every final part, fixed cells and, under -kwayrefine, the final k-way
// refinement; the recursion itself is MLRB (bisect/recursive.cc).
#include <algorithm>
#include <csignal>
#include <utility>

#include "bisect/bisect.h"
#include "coarsen/coarsen.h"
#include "kway/kway.h"
#include "support/output.h"
#include "support/parallel.h"
#include "support/support.h"

namespace veldan {

// With several weights under -epsilon: the bisections bound each weight
// side by side, but a part can still end above its bound (a heavy cell
// whose part then lacks the light cells it needs); the k-way balancing
// repairs that on the whole level, part against part, at the least loss of
// the cut (of km1 under km1).
static void RepairKwayBalance(RunContext& ctrl, HGraph* graph, idx_t* part) {
  if (graph->ncon < 2 || !(ctrl.epsfactor > 0.0) || graph->nvtxs < 1) return;
  PartitionConfig cfg = *ctrl.cfg;
  cfg.refinement.objective = cfg.objective;
  const ScopedConfig scope(ctrl, cfg);
  const ConArray oldnubfactor = ctrl.nubfactor;
  for (idx_t j = 0; j < graph->ncon; j++) ctrl.nubfactor[j] = ctrl.cfg->balance.nepsfactor[j];
  if (graph->incptr.empty()) CreateIncidentHGraph(ctrl, graph);
  const idx_t nislands = graph->nislands;
  graph->nislands = 0;
  Array<idx_t> saved = std::move(graph->where);
  graph->where = Array<idx_t>::CopyOf(graph->nvtxs, part, "RepairKwayBalance: where");
  if (KwayExcess(ctrl, graph, graph->where.data()) > 0.0) {
    BalanceKway(ctrl, graph);
    ax_icopy(graph->nvtxs, graph->where.data(), part);
  }
  graph->where = std::move(saved);
  graph->nislands = nislands;
  ctrl.nubfactor = oldnubfactor;
}

// label[i] = i for every cell of graph.
static void SetIdentityLabel(HGraph* graph) {
  graph->label = Array<pin_t>(graph->nvtxs, "MultilevelPartition: label");
  pin_t* label = graph->label.data();
  for (idx_t i = 0; i < graph->nvtxs; i++) label[i] = static_cast<pin_t>(i);
}

real_t MultilevelPartition(RunContext& ctrl, HGraph* graph, idx_t* part) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nparts = ctrl.cfg->nparts;

  // The bound on every final part, in the weights of the levels.
  if (ctrl.epsfactor > 0.0) {
    double total = 0.0;
    for (idx_t i = 0; i < nvtxs; i++) total += graph->cellwgt[i];
    ctrl.maxpartwgt = ctrl.epsfactor * total / static_cast<double>(nparts);
    ctrl.rootwgt = total;
    const idx_t ncon = graph->ncon;
    for (idx_t j = 0; ncon > 1 && j < ncon; j++) {
      double wsum = 0.0;
      for (idx_t i = 0; i < nvtxs; i++) wsum += graph->ncellwgt[i * ncon + j];
      ctrl.nmaxpartwgt[j] = ctrl.cfg->balance.nepsfactor[j] * wsum / static_cast<double>(nparts);
      ctrl.nrootwgt[j] = wsum;
    }
  }

  if (ctrl.cfg->fixed == 0) {
    graph->nfixed = 0;
    SetIdentityLabel(graph);

    MLRB(ctrl, *graph, part, nparts, 0);
    if (ctrl.cfg->kwayrefine == 1) PerformFinalKwayRefine(ctrl, graph, part);
    RepairKwayBalance(ctrl, graph, part);
    graph->mincut = ComputeCut(graph, part);
    return graph->mincut;
  }

  // A pre-assignment outside 0..nparts-1 names no part: the cell is free.
  // (The driver rejects too large numbers; this keeps the compression from
  // indexing outside its arrays for other callers.)
  for (idx_t i = 0; i < nvtxs; i++)
    if (part[i] < 0 || part[i] >= nparts) part[i] = -1;

  Array<idx_t> orgpartbuf(nvtxs, "orgpart");
  idx_t* orgpart = orgpartbuf.data();
  ax_icopy(nvtxs, part, orgpart);

  // Every group of cells pre-assigned to part k becomes the single cell k of
  // a compressed level; the free cells follow, one cell each.
  CompressFixedCells(ctrl, graph, part);
  const HGraphPtr cgraphp = std::move(graph->coarser);
  HGraph* cgraph = cgraphp.get();
  cgraph->finer = nullptr;
  SetIdentityLabel(cgraph);
  Array<idx_t> cpartbuf(cgraph->nvtxs, "MultilevelPartition: cpart");
  idx_t* cpart = cpartbuf.data();
  cgraph->nfixed = nparts;

  MLRB(ctrl, *cgraph, cpart, nparts, 0);
  cgraph->mincut = ComputeCut(cgraph, cpart);
  if (ctrl.cfg->kwayrefine == 1) PerformFinalKwayRefine(ctrl, cgraph, cpart);
  RepairKwayBalance(ctrl, cgraph, cpart);

  ProjectFixedCells(ctrl, graph, part, cpart);
  graph->mincut = ComputeCut(graph, part);

  for (idx_t i = 0; i < nvtxs; i++)
    if (orgpart[i] != -1 && orgpart[i] != part[i])
      Print("Fixing failed: %ld %ld %ld\n", i, orgpart[i], part[i]);

  return graph->mincut;
}

}  // namespace veldan
