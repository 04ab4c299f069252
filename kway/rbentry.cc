// The recursive-bisection entry: fills the control record, sets the levels
// up, handles fixed cells and, under -kwayrefine, ends with the k-way
// refinement; the recursion itself is MLRB.
#include <algorithm>
#include <csignal>

#include "bisect/bisect.h"
#include "coarsen/coarsen.h"
#include "kway/kway.h"
#include "support/output.h"
#include "support/parallel.h"
#include "support/support.h"

namespace veldan {

real_t RecursivePartition(idx_t nvtxs, idx_t nnets, const real_t* cellwgt,
                          const idx_t* netptr, const idx_t* netind,
                          const real_t* netwgt, real_t ubfactor, idx_t ctype,
                          idx_t rtype, idx_t nruns, idx_t nvcycles, idx_t cmaxnet,
                          idx_t rmaxnet, idx_t fixed, idx_t reconst,
                          idx_t kwayrefine, idx_t seed, idx_t dbglvl, idx_t nparts,
                          idx_t* part, idx_t nthreads, double epsilon,
                          Progress* progress, idx_t ncon) {
  PartitionCtrl ctrl;
  ctrl.ptype = PTYPE_RB;
  // The rule gives 0 for a single cell and -1 for none; coarsening stops at
  // one cell at the latest.
  ctrl.coarsento = std::max<idx_t>(ComputeCoarsenTo(nvtxs), 1);
  ctrl.ctype = (ctype < 0) ? CTYPE_GFC1 : ctype;
  ctrl.rtype = (rtype < 0) ? RTYPE_FAST : rtype;
  // A run count of 0 would leave no bisection to keep: at least one run.
  ctrl.nruns = (nruns < 0) ? 10 : std::max<idx_t>(nruns, 1);
  ctrl.nvcycles = (nvcycles < 0) ? 1 : std::min(nvcycles, ctrl.nruns);
  ctrl.cmaxnet = (cmaxnet < 0) ? 50 : cmaxnet;
  ctrl.rmaxnet = (rmaxnet < 0) ? 50 : rmaxnet;
  ctrl.ubfactor = ubfactor / 100.0f;
  ctrl.fixed = (fixed < 0) ? 0 : fixed;
  // Every run draws from a stream of its own, derived from this seed.
  ctrl.seed = ResolveSeed(seed);
  ctrl.dbglvl = (dbglvl < 0) ? 0 : dbglvl;
  ctrl.progress = progress;
  ctrl.reconst = (reconst < 0) ? 1 : reconst;
  ctrl.nparts = nparts;
  ctrl.kwayrefine = (kwayrefine < 0) ? 0 : kwayrefine;
  ctrl.tpwgt = 0.5f;
  ctrl.cflags = 0;
  ctrl.maxgroupsize = 5;

  // Parameter errors end the run; should the abort signal be caught, the
  // call returns without touching the part vector.
  if (nparts < 2) {
    ax_errexit(SIGABRT, "Nparts should be at least 2.\n");
    return 0.0f;
  }
  if (ncon < 1 || ncon > kMaxNCon) {
    ax_errexit(SIGABRT, "Invalid ncon parameter of %ld\n", ncon);
    return 0.0f;
  }
  if (epsilon >= 0.0) {
    // Written so that NaN is rejected too.
    if (!(epsilon > 0.0 && epsilon <= kMaxEpsilon)) {
      ax_errexit(SIGABRT, "Epsilon should be greater than 0 and at most %g.\n", kMaxEpsilon);
      return 0.0f;
    }
    ctrl.epsfactor = EpsilonFactor(nvtxs, cellwgt, 1, nparts, epsilon);
    if (ncon > 1)
      ctrl.epsfactor = SetWeightEpsilonFactors(ctrl, nvtxs, ncon, cellwgt, nparts, epsilon);
  } else if (!(static_cast<double>(ubfactor) >= 0.1)) {
    // Written so that a NaN percentage is rejected too.
    ax_errexit(SIGABRT, "UBfactor should be greater than 0.1.\n");
    return 0.0f;
  }
  if (ctrl.ctype < CTYPE_FC1 || ctrl.ctype > CTYPE_GEDGE2) {
    ax_errexit(SIGABRT, "Invalid ctype parameter of %ld\n", ctrl.ctype);
    return 0.0f;
  }
  if (ctrl.rtype < RTYPE_FAST || ctrl.rtype > RTYPE_SLOW) {
    ax_errexit(SIGABRT, "Invalid rtype parameter of %ld\n", ctrl.rtype);
    return 0.0f;
  }

  // The table is looked up with the code as passed: a negative code keeps
  // cflags 0 and maxgroupsize 5.
  ApplyCTypeTable(ctrl, ctype);

  if (ctrl.dbglvl & DBG_TIME) {
    InitTimers(ctrl.timers);
    starttimer(ctrl.timers.t[TIMER_TOTAL]);
  }

  ctrl.ncon = ncon;
  for (idx_t j = 0; j < ncon; j++) ctrl.nubfactor[j] = ctrl.ubfactor;

  HGraph* graph = SetUpHGraph(nvtxs, nnets, ncon, cellwgt, netwgt, netptr, netind);

  StartTimer(ctrl, TIMER_MULTILEVEL);
  real_t cut = 0.0f;
  RunWithThreads(nthreads, [&] { cut = MultilevelPartition(ctrl, graph, part); });
  StopTimer(ctrl, TIMER_MULTILEVEL);
  StopTimer(ctrl, TIMER_TOTAL);
  if (ctrl.dbglvl & DBG_TIME) PrintTimers(ctrl.timers, 0);

  FreeHGraph(&graph, 1);
  return cut;
}

// With several weights under -epsilon: the bisections bound each weight
// side by side, but a part can still end above its bound (a heavy cell
// whose part then lacks the light cells it needs); the k-way balancing
// repairs that on the whole level, part against part.
static void RepairKwayBalance(PartitionCtrl& ctrl, HGraph* graph, idx_t* part) {
  if (graph->ncon < 2 || !(ctrl.epsfactor > 0.0) || graph->nvtxs < 1) return;
  const ConArray oldnubfactor = ctrl.nubfactor;
  for (idx_t j = 0; j < graph->ncon; j++) ctrl.nubfactor[j] = ctrl.nepsfactor[j];
  if (graph->incptr == nullptr) CreateIncidentHGraph(ctrl, graph);
  const idx_t nislands = graph->nislands;
  graph->nislands = 0;
  idx_t* where = graph->where;
  graph->where = ax_imalloc(graph->nvtxs, "RepairKwayBalance: where");
  ax_icopy(graph->nvtxs, part, graph->where);
  if (KwayExcess(ctrl, graph, graph->where) > 0.0) {
    BalanceKway(ctrl, graph);
    ax_icopy(graph->nvtxs, graph->where, part);
  }
  ax_free(&graph->where);
  graph->where = where;
  graph->nislands = nislands;
  ctrl.nubfactor = oldnubfactor;
}

// label[i] = i for every cell of graph.
static void SetIdentityLabel(HGraph* graph) {
  graph->label = ax_imalloc(graph->nvtxs, "MultilevelPartition: label");
  ax_iincset(graph->nvtxs, 0, graph->label);
}

real_t MultilevelPartition(PartitionCtrl& ctrl, HGraph* graph, idx_t* part) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nparts = ctrl.nparts;

  // The bound on every final part, in the weights of the levels.
  if (ctrl.epsfactor > 0.0) {
    double total = 0.0;
    for (idx_t i = 0; i < nvtxs; i++) total += graph->cellwgt[i];
    ctrl.maxpartwgt = ctrl.epsfactor * total / static_cast<double>(nparts);
    const idx_t ncon = graph->ncon;
    for (idx_t j = 0; ncon > 1 && j < ncon; j++) {
      double wsum = 0.0;
      for (idx_t i = 0; i < nvtxs; i++) wsum += graph->ncellwgt[i * ncon + j];
      ctrl.nmaxpartwgt[j] = ctrl.nepsfactor[j] * wsum / static_cast<double>(nparts);
    }
  }

  if (ctrl.fixed == 0) {
    graph->keep = 1;
    graph->nfixed = 0;
    SetIdentityLabel(graph);

    MLRB(ctrl, graph, part, nparts, 0);
    if (ctrl.kwayrefine == 1) PerformFinalKwayRefine(ctrl, graph, part);
    RepairKwayBalance(ctrl, graph, part);
    graph->mincut = ComputeCut(graph, part);
    return graph->mincut;
  }

  // A pre-assignment outside 0..nparts-1 names no part: the cell is free.
  // (The driver rejects too large numbers; this keeps the compression from
  // indexing outside its arrays for other callers.)
  for (idx_t i = 0; i < nvtxs; i++)
    if (part[i] < 0 || part[i] >= nparts) part[i] = -1;

  idx_t* orgpart = ax_imalloc(nvtxs, "orgpart");
  ax_icopy(nvtxs, part, orgpart);

  // Every group of cells pre-assigned to part k becomes the single cell k of
  // a compressed level; the free cells follow, one cell each.
  CompressFixedCells(ctrl, graph, part);
  HGraph* cgraph = graph->coarser;
  graph->coarser = nullptr;
  cgraph->finer = nullptr;
  cgraph->keep = 1;
  SetIdentityLabel(cgraph);
  idx_t* cpart = ax_imalloc(cgraph->nvtxs, "MultilevelPartition: cpart");
  cgraph->nfixed = nparts;

  MLRB(ctrl, cgraph, cpart, nparts, 0);
  cgraph->mincut = ComputeCut(cgraph, cpart);
  if (ctrl.kwayrefine == 1) PerformFinalKwayRefine(ctrl, cgraph, cpart);
  RepairKwayBalance(ctrl, cgraph, cpart);

  ProjectFixedCells(ctrl, graph, part, cpart);
  graph->mincut = ComputeCut(graph, part);

  for (idx_t i = 0; i < nvtxs; i++)
    if (orgpart[i] != -1 && orgpart[i] != part[i])
      Print("Fixing failed: %ld %ld %ld\n", i, orgpart[i], part[i]);

  ax_free(&cpart, &orgpart);
  FreeHGraph(&cgraph, 1);
  return graph->mincut;
}

}  // namespace veldan
