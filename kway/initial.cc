// Improving a partition the caller already has (-initial): every run starts
// from it, balances it when a part is above the bound, refines it on the
// finest level with greedy k-way moves and by one V-cycle (coarsening that
// keeps the parts apart, refinement on every finer level); the best nvcycles
// runs are then refined by V-cycles with the pairwise refinement. The best
// result wins, and the given partition stays when nothing beats it, so the
// result is never worse in the objective than a given partition that keeps
// the bound. Both schemes come here: recursive bisection improves the
// partition with the k-way machinery its -kwayrefine uses.
#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "coarsen/coarsen.h"
#include "coarsen/finest.h"
#include "kway/kway.h"
#include "support/output.h"
#include "support/support.h"

namespace veldan {

namespace {

// The configuration of the improvement: every net counted, the partition's
// objective refined. Recursive bisection bounds its parts through its
// bisections; here every part is bound directly: by the -epsilon factor or,
// without it, by the heavier of the given partition's heaviest part and
// (1 + ufactor/100) x the average part weight (so that the refinement never
// makes the given partition less balanced than it was, as -kwayrefine,
// yet finds room to move in an evenly balanced one).
PartitionConfig ImprovementConfig(const PartitionConfig& cfg, const HGraph* graph,
                                  const idx_t* initial) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nparts = cfg.nparts;
  PartitionConfig k = WithEveryNet(cfg, nvtxs);
  k.refinement.objective = cfg.objective;
  k.refinement.scheme = Refinement::KRandom;
  if (cfg.scheme != Scheme::RecursiveBisection) return k;
  k.coarsento = KwayCoarsenTo(nvtxs, nparts);
  BalanceConfig& b = k.balance;
  if (b.epsfactor > 0.0) {
    b.ubfactor = static_cast<real_t>(b.epsfactor);
    for (idx_t j = 0; j < b.ncon; j++)
      b.nubfactor[j] = (b.ncon > 1) ? b.nepsfactor[j] : b.epsfactor;
  } else {
    const double floor = std::max(1.0 + static_cast<double>(b.ubfactor), 1.01);
    // The heaviest given part of each weight, as a factor of the average.
    const idx_t ncon = graph->ncon;
    for (idx_t j = 0; j < ncon; j++) {
      std::vector<double> pw(nparts, 0.0);
      double total = 0.0;
      for (idx_t i = 0; i < nvtxs; i++) {
        const double w = (ncon > 1) ? graph->ncellwgt[i * ncon + j] : graph->cellwgt[i];
        pw[initial[i]] += w;
        total += w;
      }
      const double heaviest = *std::max_element(pw.begin(), pw.end());
      const double given = (total > 0.0) ? static_cast<double>(nparts) * heaviest / total : 1.0;
      // A hair above, so that the rounding of the refinement's float sums
      // does not put the given partition outside its own bound.
      b.nubfactor[j] = std::max(floor, given * (1.0 + 1e-6));
    }
    b.ubfactor = static_cast<real_t>(b.nubfactor[0]);
    if (ncon > 1) {
      // The per-weight bounds govern; the mean weight gets the loosest.
      b.ubfactor = static_cast<real_t>(*std::max_element(b.nubfactor.begin(),
                                                         b.nubfactor.begin() + ncon));
    }
  }
  b.epsfactor = 0.0;
  return k;
}

// The objective of where on graph, counted afresh over every net.
real_t ObjectiveOf(const RunContext& ctrl, const HGraph* graph, const idx_t* where) {
  const Objective o = ctrl.cfg->refinement.objective;
  const real_t cut = ComputeCut(graph, where);
  return ObjectiveValue(o, cut, o == Objective::Cut ? cut : ComputeSOED(graph, where));
}

// Whether every part of where keeps the bound, as the k-way balancing
// judges it.
bool WithinBound(const RunContext& ctrl, const HGraph* graph, const idx_t* where) {
  if (graph->ncon > 1) return KwayExcess(ctrl, graph, where) <= 0.0;
  const idx_t nparts = ctrl.cfg->nparts;
  std::vector<real_t> pw(nparts, 0.0f);
  for (idx_t c = 0; c < graph->nvtxs + graph->nislands; ++c) pw[where[c]] += graph->cellwgt[c];
  const real_t total = ax_fsum(nparts, pw.data(), 1);
  const real_t maxpwgt = (total * ctrl.ubfactor) / static_cast<real_t>(nparts);
  for (idx_t p = 0; p < nparts; ++p)
    if (pw[p] > maxpwgt) return false;
  return true;
}

// Improves start (graph's cells, cells below graph->nfixed fixed in their
// parts) into part. ctrl.cfg refines with the greedy k-way moves; the
// V-cycles of the best runs refine with vscheme.
real_t ImproveLevel(RunContext& ctrl, HGraph* graph, const idx_t* start, idx_t* part,
                    Refinement vscheme) {
  const idx_t nvtxs = graph->nvtxs;
  CreateIncidentHGraph(ctrl, graph);
  ctrl.maxcellwgt = ComputeMaxCellWeight(ctrl, nvtxs, graph->cellwgt.data());
  if (graph->ncon > 1) SetMaxCellWeights(ctrl, graph);

  const real_t given = ObjectiveOf(ctrl, graph, start);
  const bool within = WithinBound(ctrl, graph, start);
  if (ctrl.cfg->dbglvl & DBG_INITCUT)
    Print("Given %ld-way partition: %s %f, %s the bound\n", ctrl.cfg->nparts,
          ObjectiveName(ctrl.cfg->refinement.objective), given, within ? "within" : "above");

  const FinestLevel finest(ctrl, graph);
  // The objective of the level's partition and, with several weights, how
  // far it lies outside the bound; a partition that does not beat a given
  // one within the bound gives way to it, unchanged.
  auto settle = [&](RunContext& rctrl, const HGraph* level, idx_t* out) -> real_t {
    const real_t obj = ObjectiveOf(rctrl, level, level->where.data());
    if (level->ncon > 1)
      rctrl.runviolation = std::max(KwayExcess(rctrl, level, level->where.data()), 0.0);
    if (within && !(obj < given)) {
      rctrl.runviolation = 0.0;
      ax_icopy(nvtxs, start, out);
      return given;
    }
    ax_icopy(nvtxs, level->where.data(), out);
    return obj;
  };

  // One run: a part above the bound first loses cells at the least cost,
  // then the finest level is refined and one V-cycle refines every level.
  auto run_once = [&](RunContext& rctrl, idx_t r, idx_t* runwhere) -> real_t {
    rctrl.curtrial = r;
    const HGraphPtr level = BorrowHGraph(*graph);
    level->keepadj = true;  // the clique graph is the finest level's
    AllocateKwayRefinementMemory(rctrl, level.get());
    ax_icopy(nvtxs, start, level->where.data());
    ComputeKwayPartitionParams(rctrl, level.get());
    BalanceKway(rctrl, level.get());
    RefineKway(rctrl, level.get());
    BalanceKway(rctrl, level.get());
    Array<idx_t> where = std::move(level->where);
    level->FreeWork();
    level->where = std::move(where);
    level->objval = ObjectiveOf(rctrl, level.get(), level->where.data());
    VCycleKway(rctrl, level.get(), 1, &finest);
    const real_t obj = settle(rctrl, level.get(), runwhere);
    if (rctrl.cfg->dbglvl & DBG_BISECT2)
      Print("    %s of run %4ld:\t %8.2f\n", ObjectiveName(rctrl.cfg->refinement.objective), r,
            obj);
    return obj;
  };

  // The best runs: V-cycles until two in a row bring nothing (at most 10),
  // with the stronger refinement.
  auto vcycle = [&](RunContext& rctrl, idx_t* where, real_t obj) -> real_t {
    PartitionConfig vcfg = *rctrl.cfg;
    vcfg.refinement.scheme = vscheme;
    const ScopedConfig scope(rctrl, vcfg);
    const HGraphPtr level = BorrowHGraph(*graph);
    level->keepadj = true;
    level->where = Array<idx_t>::CopyOf(nvtxs, where, "ImproveLevel: where");
    level->objval = obj;
    VCycleKway(rctrl, level.get(), 10, &finest);
    return settle(rctrl, level.get(), where);
  };

  const real_t best = RunsAndVCycles(ctrl, nvtxs, ctrl.cfg->nruns, ctrl.cfg->nvcycles, run_once,
                                     vcycle, part)
                         .best;
  if (ctrl.cfg->dbglvl & (DBG_BISECT | DBG_DETAIL))
    Print("    The %s of the improved partition = %.2f (given: %.2f)\n",
          ObjectiveName(ctrl.cfg->refinement.objective), best, given);
  return best;
}

}  // namespace

real_t ImproveKwayPartition(RunContext& ctrl, HGraph* graph, std::span<const idx_t> fixed,
                            std::span<const idx_t> initial, idx_t* part) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nparts = ctrl.cfg->nparts;
  const PartitionConfig cfg = ImprovementConfig(*ctrl.cfg, graph, initial.data());
  // The V-cycles of the best runs refine pairs of parts (kpmoderate) unless
  // the k-way scheme names its refinement.
  const Refinement vscheme = (ctrl.cfg->scheme == Scheme::Kway) ? ctrl.cfg->refinement.scheme
                                                                 : Refinement::KPModerate;
  const ScopedConfig scope(ctrl, cfg);
  ctrl.ubfactor = cfg.balance.ubfactor;
  ctrl.nubfactor = cfg.balance.nubfactor;
  ctrl.epsfactor = 0.0;

  // A value outside 0 .. nparts-1 leaves a cell free. (fixed may be part.)
  Array<idx_t> fx(nvtxs, -1, "ImproveKwayPartition: fixed");
  bool anyfixed = false;
  for (idx_t i = 0; i < static_cast<idx_t>(fixed.size()) && i < nvtxs; i++)
    if (fixed[i] >= 0 && fixed[i] < nparts) {
      fx[i] = fixed[i];
      anyfixed = true;
    }
  if (!anyfixed) {
    graph->nfixed = 0;
    return ImproveLevel(ctrl, graph, initial.data(), part, vscheme);
  }

  // Every group of cells fixed to part k becomes cell k of a compressed
  // level, fixed there; the free cells follow with their given parts.
  const HGraphPtr cgraphp = CompressedFixedLevel(ctrl, graph, fx.data());
  HGraph* cgraph = cgraphp.get();
  Array<idx_t> cstart(cgraph->nvtxs, "ImproveKwayPartition: cstart");
  for (idx_t k = 0; k < nparts; k++) cstart[k] = k;
  const pin_t* cellmap = graph->cellmap.data();
  for (idx_t i = 0; i < nvtxs; i++)
    if (fx[i] == -1) cstart[cellmap[i]] = initial[i];
  Array<idx_t> cpart(cgraph->nvtxs, "ImproveKwayPartition: cpart");
  const real_t result = ImproveLevel(ctrl, cgraph, cstart.data(), cpart.data(), vscheme);
  ProjectFixedCells(ctrl, graph, part, cpart.data());
  return result;
}

}  // namespace veldan
