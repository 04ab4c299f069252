// Recursive bisection: the library entry that fills the control record, the
// driver that handles fixed cells, the recursion over the number of parts
// and the split of a bisected hypergraph into its two halves.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "bisect/bisect.h"
#include "coarsen/coarsen.h"
#include "kway/kway.h"
#include "support/output.h"
#include "support/parallel.h"
#include "support/support.h"

namespace veldan {

idx_t ComputeCoarsenTo(idx_t nvtxs) {
  const double s = std::sqrt(static_cast<double>(nvtxs));
  const double m = std::min(s, 100.0);
  if (m < static_cast<double>(nvtxs - 1)) return static_cast<idx_t>(m);
  return nvtxs - 1;
}

real_t RecursivePartition(idx_t nvtxs, idx_t nnets, const real_t* cellwgt,
                          const idx_t* netptr, const idx_t* netind,
                          const real_t* netwgt, real_t ubfactor, idx_t ctype,
                          idx_t rtype, idx_t nruns, idx_t nvcycles, idx_t cmaxnet,
                          idx_t rmaxnet, idx_t fixed, idx_t reconst,
                          idx_t kwayrefine, idx_t seed, idx_t dbglvl, idx_t nparts,
                          idx_t* part, idx_t nthreads, double epsilon,
                          Progress* progress) {
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
  if (epsilon >= 0.0) {
    // Written so that NaN is rejected too.
    if (!(epsilon > 0.0 && epsilon <= kMaxEpsilon)) {
      ax_errexit(SIGABRT, "Epsilon should be greater than 0 and at most %g.\n", kMaxEpsilon);
      return 0.0f;
    }
    ctrl.epsfactor = EpsilonFactor(nvtxs, cellwgt, 1, nparts, epsilon);
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

  HGraph* graph = SetUpHGraph(nvtxs, nnets, 1, cellwgt, netwgt, netptr, netind);

  StartTimer(ctrl, TIMER_MULTILEVEL);
  real_t cut = 0.0f;
  RunWithThreads(nthreads, [&] { cut = MultilevelPartition(ctrl, graph, part); });
  StopTimer(ctrl, TIMER_MULTILEVEL);
  StopTimer(ctrl, TIMER_TOTAL);
  if (ctrl.dbglvl & DBG_TIME) PrintTimers(ctrl.timers, 0);

  FreeHGraph(&graph, 1);
  return cut;
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
  }

  if (ctrl.fixed == 0) {
    graph->keep = 1;
    graph->nfixed = 0;
    SetIdentityLabel(graph);

    MLRB(ctrl, graph, part, nparts, 0);
    graph->mincut = ComputeCut(graph, part);
    if (ctrl.kwayrefine == 1) PerformFinalKwayRefine(ctrl, graph, part);
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

  ProjectFixedCells(ctrl, graph, part, cpart);
  graph->mincut = ComputeCut(graph, part);

  for (idx_t i = 0; i < nvtxs; i++)
    if (orgpart[i] != -1 && orgpart[i] != part[i])
      Print("Fixing failed: %ld %ld %ld\n", i, orgpart[i], part[i]);

  ax_free(&cpart, &orgpart);
  FreeHGraph(&cgraph, 1);
  return graph->mincut;
}

namespace {

// Bisections to go before a part of nparts parts is final.
int Depth(idx_t nparts) {
  int d = 0;
  while ((idx_t{1} << d) < nparts) d++;
  return d;
}

}  // namespace

// Under -epsilon: how much each side of the bisection of graph into parts
// nparts/2 and the rest may weigh above its share, so that the final parts
// can still meet the bound. The slack left, (L x nparts / W) with L the
// bound and W the weight of graph, is spread evenly over the D bisections
// still to come, and each side takes the share of it that its own
// remaining bisections do not need: (L nparts / W)^((D - d) / D) for a
// side d bisections from its final parts. A side of one part may reach L.
void SetSideSlack(PartitionCtrl& ctrl, const HGraph* graph, idx_t nparts) {
  double weight = 0.0;
  for (idx_t i = 0; i < graph->nvtxs; i++) weight += graph->cellwgt[i];
  const double room = (weight > 0.0)
                          ? ctrl.maxpartwgt * static_cast<double>(nparts) / weight
                          : 2.0;
  const int depth = Depth(nparts);
  const idx_t kside[2] = {nparts / 2, nparts - nparts / 2};
  const double t = ctrl.tpwgt;
  const double share[2] = {t, 1.0 - t};
  for (int s = 0; s < 2; s++) {
    const int d = Depth(kside[s]);
    double slack = std::pow(room, static_cast<double>(depth - d) / depth) - 1.0;
    // A sub-hypergraph already above its bound still gets a little room to
    // move cells; and no side's slack may let the other fall below half its
    // share.
    slack = std::max(slack, kMinSideSlack);
    slack = std::min(slack, (1.0 - 0.5 * share[1 - s]) / share[s] - 1.0);
    ctrl.sideslack[s] = slack;
  }
}

real_t MLRB(PartitionCtrl& ctrl, HGraph* graph, idx_t* part, idx_t nparts,
            idx_t fpart) {
  // Side 0 receives nparts div 2 of the parts, and that share of the weight.
  ctrl.tpwgt = static_cast<real_t>(static_cast<double>(nparts / 2) /
                                   static_cast<double>(nparts));
  if (ctrl.epsfactor > 0.0) SetSideSlack(ctrl, graph, nparts);

  const idx_t nvtxs = graph->nvtxs;
  idx_t* bisection = ax_imalloc(nvtxs, "MLRB: bisection");
  real_t cut = Hypergraph_Bisection(ctrl, graph, bisection);

  const idx_t* label = graph->label;
  for (idx_t i = 0; i < nvtxs; i++) part[label[i]] = fpart + bisection[i];

  HGraph* lgraph = nullptr;
  HGraph* rgraph = nullptr;
  if (nparts > 2) {
    lgraph = CreateHGraph();
    rgraph = CreateHGraph();
    SplitGraphPart(ctrl, graph, bisection, lgraph, rgraph);
  }

  ax_free(&bisection, &graph->label);
  if (graph->keep == 0) {
    ax_free(&graph->ncellwgt);  // made by SplitGraphPart, owned by the half
    FreeHGraph(&graph, 1);
  }

  if (nparts > 3) {
    // The halves are independent: at once where threads allow, each with a
    // control record and an output of its own. They write disjoint cells of
    // part (their labels), and their reports come out left before right.
    PartitionCtrl lctrl = TaskCtrl(ctrl);
    PartitionCtrl rctrl = TaskCtrl(ctrl);
    lctrl.node = 2 * ctrl.node;
    rctrl.node = 2 * ctrl.node + 1;
    real_t lcut = 0.0f;
    real_t rcut = 0.0f;
    std::string ltext;
    std::string rtext;
    ParallelInvoke(
        [&] {
          OutputCapture out;
          lcut = MLRB(lctrl, lgraph, part, nparts / 2, fpart);
          ltext = out.Take();
        },
        [&] {
          OutputCapture out;
          rcut = MLRB(rctrl, rgraph, part, (nparts + 1) / 2, fpart + nparts / 2);
          rtext = out.Take();
        });
    PrintText(ltext);
    PrintText(rtext);
    AddTaskTimers(ctrl, lctrl);
    AddTaskTimers(ctrl, rctrl);
    cut += lcut;
    cut += rcut;
  } else if (nparts == 3) {
    // Side 0 is the single part fpart: nothing left to bisect there.
    ax_free(&lgraph->label, &lgraph->ncellwgt);
    FreeHGraph(&lgraph, 1);
    const std::uint64_t node = ctrl.node;
    ctrl.node = 2 * node + 1;
    cut += MLRB(ctrl, rgraph, part, 2, fpart + 1);
    ctrl.node = node;
  }
  return cut;
}

void SplitGraphPart(PartitionCtrl& ctrl, HGraph* graph, const idx_t* where,
                    HGraph* lgraph, HGraph* rgraph) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nnets = graph->nnets;
  const idx_t ncon = graph->ncon;
  const idx_t* netptr = graph->netptr;
  const idx_t* netind = graph->netind;
  const real_t* netwgt = graph->netwgt;
  const idx_t npins = netptr[nnets];
  const bool single = (ncon <= 1);  // one weight per cell, in cellwgt
  const idx_t wstride = single ? 1 : ncon;

  // Numbers of the cells inside their halves, in their present order.
  idx_t* rename = ax_imalloc(nvtxs, "SplitGraphPart:rename");
  idx_t snvtxs[2] = {0, 0};
  for (idx_t i = 0; i < nvtxs; i++) rename[i] = snvtxs[where[i]]++;

  HGraph* half[2] = {lgraph, rgraph};
  idx_t* snetptr[2];
  idx_t* snetind[2];
  real_t* snetwgt[2];
  idx_t* slabel[2];
  real_t* scellwgt[2];
  static const char* const kNetptrMsg[2] = {"SplitGraphPart: snetptr[0]",
                                            "SplitGraphPart: snetptr[1]"};
  static const char* const kNetindMsg[2] = {"SplitGraphPart: snetind[0]",
                                            "SplitGraphPart: snetind[1]"};
  static const char* const kNetwgtMsg[2] = {"SplitGraphPart: snetwgt[0]",
                                            "SplitGraphPart: snetwgt[1]"};
  static const char* const kLabelMsg[2] = {"SplitGraphPart: slabel[0]",
                                           "SplitGraphPart: slabel[1]"};
  static const char* const kCellwgtMsg[2] = {"SplitGraphPart: scellwgt[0]",
                                             "SplitGraphPart: scellwgt[1]"};
  static const char* const kNCellwgtMsg[2] = {"SplitGraphPart: sncellwgt[0]",
                                              "SplitGraphPart: sncellwgt[1]"};
  for (int k = 0; k < 2; k++) {
    half[k]->ncon = ncon;
    snetptr[k] = ax_imalloc(nnets + 1, kNetptrMsg[k]);
    snetind[k] = ax_imalloc(npins, kNetindMsg[k]);
    snetwgt[k] = ax_fmalloc(nnets, kNetwgtMsg[k]);
    slabel[k] = ax_imalloc(snvtxs[k], kLabelMsg[k]);
    scellwgt[k] = ax_fmalloc(snvtxs[k] * wstride,
                             single ? kCellwgtMsg[k] : kNCellwgtMsg[k]);
    snetptr[k][0] = 0;
  }

  // Nets: an uncut net goes whole to its side; a cut net is dropped, or
  // under reconst leaves a partial net on each side that holds two or more
  // of its pins.
  idx_t snnets[2] = {0, 0};
  idx_t snpins[2] = {0, 0};
  for (idx_t e = 0; e < nnets; e++) {
    idx_t cnt[2] = {0, 0};
    for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) cnt[where[netind[p]]]++;

    if (cnt[0] + cnt[1] == 0) continue;  // a net without pins connects nothing

    if (cnt[0] == 0 || cnt[1] == 0) {
      const idx_t k = where[netind[netptr[e]]];
      idx_t* ind = snetind[k];
      idx_t n = snpins[k];
      for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) ind[n++] = rename[netind[p]];
      snpins[k] = n;
      snetwgt[k][snnets[k]] = netwgt[e];
      snetptr[k][++snnets[k]] = n;
    } else if (ctrl.reconst) {
      for (idx_t k = 0; k < 2; k++) {
        if (cnt[k] < 2) continue;
        idx_t* ind = snetind[k];
        idx_t n = snpins[k];
        for (idx_t p = netptr[e]; p < netptr[e + 1]; p++)
          if (where[netind[p]] == k) ind[n++] = rename[netind[p]];
        snpins[k] = n;
        snetwgt[k][snnets[k]] = netwgt[e];
        snetptr[k][++snnets[k]] = n;
      }
    }
  }

  // Partial nets often repeat one another (or an uncut net): merge them.
  if (ctrl.reconst) {
    for (int k = 0; k < 2; k++) {
      if (snnets[k] == 0) continue;
      idx_t cnnets = 0;
      idx_t* cnetptr = nullptr;
      idx_t* cnetind = nullptr;
      real_t* cnetwgt = nullptr;
      CollapseSameHEdges(snnets[k], snetptr[k], snetind[k], snetwgt[k], &cnnets,
                         &cnetptr, &cnetind, &cnetwgt);
      ax_free(&snetptr[k], &snetind[k], &snetwgt[k]);
      snetptr[k] = cnetptr;
      snetind[k] = cnetind;
      snetwgt[k] = cnetwgt;
      snnets[k] = cnnets;
      snpins[k] = cnetptr[cnnets];
    }
  }

  // Cells: label and weights to the next free place of their half.
  const idx_t* label = graph->label;
  const real_t* cellwgt = single ? graph->cellwgt : graph->ncellwgt;
  for (idx_t i = 0; i < nvtxs; i++) {
    const idx_t k = where[i];
    const idx_t j = rename[i];
    slabel[k][j] = label ? label[i] : i;
    if (cellwgt) {
      for (idx_t c = 0; c < wstride; c++)
        scellwgt[k][j * wstride + c] = cellwgt[i * wstride + c];
    } else {
      for (idx_t c = 0; c < wstride; c++) scellwgt[k][j * wstride + c] = 1.0f;
    }
  }

  static const char* const kHalfNetptrMsg[2] = {"SplitGraphPart: lgraph->netptr",
                                                "SplitGraphPart: rgraph->netptr"};
  static const char* const kHalfNetindMsg[2] = {"SplitGraphPart: lgraph->netind",
                                                "SplitGraphPart: rgraph->netind"};
  static const char* const kHalfNetwgtMsg[2] = {"SplitGraphPart: lgraph->netwgt",
                                                "SplitGraphPart: rgraph->netwgt"};
  for (int k = 0; k < 2; k++) {
    HGraph* h = half[k];
    h->nvtxs = snvtxs[k];
    h->nnets = snnets[k];
    h->netptr = ax_imalloc(snnets[k] + 1, kHalfNetptrMsg[k]);
    ax_icopy(snnets[k] + 1, snetptr[k], h->netptr);
    h->netind = ax_imalloc(snpins[k], kHalfNetindMsg[k]);
    ax_icopy(snpins[k], snetind[k], h->netind);
    h->netwgt = ax_fmalloc(snnets[k], kHalfNetwgtMsg[k]);
    ax_fcopy(snnets[k], snetwgt[k], h->netwgt);
    h->label = slabel[k];
    if (single)
      h->cellwgt = scellwgt[k];
    else
      h->ncellwgt = scellwgt[k];
    h->keep = 0;
  }

  // The left half keeps the share of the fixed cells that the initial
  // bisection put on side 0 (fixed cells never move afterwards).
  const idx_t nfixed = std::max<idx_t>(graph->nfixed, 0);
  const real_t lshare = static_cast<real_t>(nfixed) * ctrl.tpwgt;
  lgraph->nfixed = static_cast<idx_t>(static_cast<double>(lshare) + 0.4);
  rgraph->nfixed = nfixed - lgraph->nfixed;

  for (int k = 0; k < 2; k++) ax_free(&snetptr[k], &snetind[k], &snetwgt[k]);
  ax_free(&rename);
}

}  // namespace veldan
