// The final k-way refinement after recursive bisection: greedy k-way moves
// between any two parts on the finest level, then k-way V-cycles, always
// minimising the cut (km1 under km1) with every net counted and never
// letting a part grow above the heaviest part of the incoming partition.
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "kway/kway.h"
#include "support/output.h"
#include "support/support.h"

namespace veldan {

void PerformFinalKwayRefine(RunContext& ctrl, HGraph* graph, idx_t* part) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nparts = ctrl.cfg->nparts;

  // Greedy k-way moves on the cut (km1 under km1) with every net counted,
  // whatever the bisections used.
  PartitionConfig cfg = *ctrl.cfg;
  cfg.refinement.objective =
      (ctrl.cfg->objective == Objective::Km1) ? Objective::Km1 : Objective::Cut;
  cfg.refinement.scheme = Refinement::KRandom;
  cfg.refinement.maxnet = nvtxs;
  const ScopedConfig scope(ctrl, cfg);

  const real_t oldcut = graph->mincut;
  // A stream of its own, apart from every run's.
  ctrl.rng.Seed(StreamSeed(ctrl.cfg->seed, 0, 0));

  // The bound of every part, from here to the end of the run, is the
  // weight of the heaviest incoming part.
  Array<real_t> kpwgtsbuf(nparts, 0.0f, "PerformFinalKwayRefine: kpwgts");
  real_t* kpwgts = kpwgtsbuf.data();
  for (idx_t i = 0; i < nvtxs; ++i) kpwgts[part[i]] += graph->cellwgt[i];
  ctrl.ubfactor = (static_cast<real_t>(nparts) *
                   kpwgts[ax_fargmax(nparts, kpwgts)]) /
                  ax_fsum(nparts, kpwgts, 1);
  // With target weights: every part may grow as far over its target as the
  // part furthest over its own already is (under -epsilon, not above its
  // own bound), and a part that is above that keeps what it holds.
  const idx_t ncon = graph->ncon;
  if (!cfg.balance.tpwgts.empty() && ncon == 1) {
    const double total = ax_fsum(nparts, kpwgts, 1);
    double over = 0.0;
    for (idx_t p = 0; p < nparts; ++p)
      if (cfg.balance.tpwgts[p] > 0.0)
        over = std::max(over, kpwgts[p] / (cfg.balance.tpwgts[p] * total));
    for (idx_t p = 0; p < nparts; ++p) {
      double share = over * cfg.balance.tpwgts[p];
      if (ctrl.epsfactor > 0.0) share = std::min(share, cfg.balance.maxshare[p]);
      cfg.balance.maxshare[p] = (total > 0.0) ? std::max(share, kpwgts[p] / total) : share;
    }
  }
  // With several weights, each is bound by its own heaviest incoming part;
  // with target weights, each weight of every part as above.
  const bool own = KwayOwnBounds(ctrl, ncon);
  for (idx_t j = 0; ncon > 1 && j < ncon; ++j) {
    std::vector<double> pw(nparts, 0.0);
    double total = 0.0;
    for (idx_t i = 0; i < nvtxs; ++i) {
      pw[part[i]] += graph->ncellwgt[i * ncon + j];
      total += graph->ncellwgt[i * ncon + j];
    }
    const double heaviest = *std::max_element(pw.begin(), pw.end());
    ctrl.nubfactor[j] = (total > 0.0) ? static_cast<double>(nparts) * heaviest / total : 1.0;
    if (!own) continue;
    const std::vector<double>& target = cfg.balance.tpwgts;
    std::vector<double>& maxshare = cfg.balance.maxshare;
    double over = 0.0;
    for (idx_t p = 0; p < nparts; ++p)
      if (target[p * ncon + j] > 0.0 && total > 0.0)
        over = std::max(over, pw[p] / (target[p * ncon + j] * total));
    for (idx_t p = 0; p < nparts; ++p) {
      double share = over * target[p * ncon + j];
      if (ctrl.epsfactor > 0.0) share = std::min(share, maxshare[p * ncon + j]);
      maxshare[p * ncon + j] = (total > 0.0) ? std::max(share, pw[p] / total) : share;
    }
  }

  // The k-way work area reads the incidence lists; a level handed over
  // without them gets them here.
  if (graph->incptr.empty()) CreateIncidentHGraph(ctrl, graph);

  AllocateKwayRefinementMemory(ctrl, graph);
  ax_icopy(nvtxs, part, graph->where.data());
  RefineKway(ctrl, graph);
  if (ctrl.cfg->dbglvl & DBG_REFINE)
    Print("%8.3f => %8.3f\n", oldcut, graph->mincut);

  Array<idx_t> where = std::move(graph->where);
  graph->FreeWork();
  graph->where = std::move(where);

  const real_t before = graph->mincut;
  VCycleKway(ctrl, graph, 10);
  if (ctrl.cfg->dbglvl & DBG_REFINE)
    Print("%8.3f => %8.3f\n", before, graph->mincut);

  ax_icopy(nvtxs, graph->where.data(), part);

  kpwgtsbuf.reset();
  graph->where.reset();
}

}  // namespace veldan
