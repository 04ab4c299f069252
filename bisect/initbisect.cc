// Initial bisection of the coarsest level: the best of twenty balanced and
// refined trial partitions, alternating a greedy fill and a growth by net
// attraction.
#include <algorithm>
#include <cstdio>

#include "bisect/bisect.h"
#include "bisect/twoway.h"
#include "support/memory.h"
#include "support/output.h"
#include "support/vecops.h"

namespace veldan {

namespace {

// Free cells in perm order: side 0 until it reaches its minimum weight,
// then side 1.
void GreedyFill(HGraph* graph, const idx_t* perm, real_t minwgt0) {
  idx_t* where = graph->where.data();
  for (idx_t i = 0; i < graph->nvtxs; i++) {
    const idx_t c = perm[i];
    if (c < graph->nfixed) continue;
    const idx_t side = (graph->pwgts[0] < minwgt0) ? 0 : 1;
    where[c] = side;
    graph->pwgts[side] += graph->cellwgt[c];
  }
}

// Free cells in perm order: each joins the side whose already placed cells
// share more net weight with it, unless that side would pass its maximum.
void AttractionGrowth(HGraph* graph, const idx_t* perm, real_t** attract,
                      const real_t maxwgt[2]) {
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();
  const real_t* netwgt = graph->netwgt.data();
  const real_t* cellwgt = graph->cellwgt.data();
  idx_t* where = graph->where.data();
  real_t* pwgts = graph->pwgts;

  ax_fSetMatrix(attract, 2, graph->nnets, 0.0f);
  for (idx_t i = 0; i < graph->nvtxs; i++) {
    const idx_t c = perm[i];
    if (c < graph->nfixed) continue;
    real_t a0 = 0.0f;
    real_t a1 = 0.0f;
    for (idx_t j = incptr[c]; j < incptr[c + 1]; j++) {
      a0 += attract[0][incind[j]];
      a1 += attract[1][incind[j]];
    }
    idx_t side = (a0 >= a1 || incptr[c] == incptr[c + 1]) ? 0 : 1;
    if (pwgts[side] + cellwgt[c] > maxwgt[side]) side = 1 - side;
    where[c] = side;
    pwgts[side] += cellwgt[c];
    real_t* row = attract[side];
    for (idx_t j = incptr[c]; j < incptr[c + 1]; j++) row[incind[j]] += netwgt[incind[j]];
  }
}

}  // namespace

void Random_FMPartition(RunContext& ctrl, HGraph* graph) {
  Allocate2wayRefinementMemory(ctrl, graph);
  const idx_t nvtxs = graph->nvtxs;
  if (nvtxs <= 0) {
    // Nothing to split; leave a consistent empty partition for the callers
    // that read the side weights and the cut.
    graph->pwgts[0] = graph->pwgts[1] = 0.0f;
    graph->mincut = 0.0f;
    return;
  }

  const Array<real_t> attractrows[2] = {
      Array<real_t>(graph->nnets, 0.0f, "Random_FMPartition: attract"),
      Array<real_t>(graph->nnets, 0.0f, "Random_FMPartition: attract")};
  real_t* attract[2] = {attractrows[0].data(), attractrows[1].data()};
  Array<idx_t> permbuf(nvtxs, "Random_FMPartition: perm");
  idx_t* perm = permbuf.data();
  Array<idx_t> bestwherebuf(nvtxs, "Random_FMPartition: bestwhere");
  idx_t* bestwhere = bestwherebuf.data();

  const real_t* cellwgt = graph->cellwgt.data();
  idx_t* where = graph->where.data();
  real_t* pwgts = graph->pwgts;

  const real_t total = ax_fsum(nvtxs, cellwgt, 1);
  real_t minwgt[2];
  SideMinWeights(ctrl, total, minwgt);
  const real_t minwgt0 = minwgt[0], minwgt1 = minwgt[1];
  const real_t maxwgt[2] = {static_cast<real_t>(static_cast<double>(total) - minwgt1),
                            static_cast<real_t>(static_cast<double>(total) - minwgt0)};
  // The 0.4 absorbs the rounding error of t * nfixed, so that t = (p/2)/p
  // with nfixed = p gives exactly p/2 (t: the share of the parts, which
  // under target weights differs from the share of the weight).
  const idx_t nfixed = graph->nfixed > 0 ? graph->nfixed : 0;
  const real_t fixedshare = ctrl.tsplit * static_cast<real_t>(nfixed);
  const idx_t nfixed0 = static_cast<idx_t>(static_cast<double>(fixedshare) + 0.4);

  // With several weights, trials are compared on their excess over the
  // bounds first: a trial within every bound beats any that is not.
  const bool multi = graph->ncon > 1;
  double bestexcess = 0.0;
  real_t bestcut = 0.0f;
  for (idx_t r = 0; r < ctrl.cfg->ntrials; r++) {
    for (idx_t i = 0; i < nvtxs; i++) where[i] = -1;
    pwgts[0] = pwgts[1] = 0.0f;

    if (nfixed > 0) {
      ctrl.rng.Permute(nfixed, perm, 1);
      // With target weights fixed cell i stays with part i of the range
      // (side 0 takes the first parts), since the parts are not alike.
      const bool inorder = !ctrl.cfg->balance.tpwgts.empty();
      for (idx_t i = 0; i < nfixed; i++) {
        const idx_t c = inorder ? i : perm[i];
        const idx_t side = (i < nfixed0) ? 0 : 1;
        where[c] = side;
        pwgts[side] += cellwgt[c];
      }
    }

    ctrl.rng.Permute(nvtxs, perm, 1);
    if (multi)
      MultiInitialPlacement(ctrl, graph, perm, r % 2 == 0, attract);
    else if (r % 2 == 0)
      GreedyFill(graph, perm, minwgt0);
    else
      AttractionGrowth(graph, perm, attract, maxwgt);

    Balance(ctrl, graph);
    Refine2Way(ctrl, graph);

    if (ctrl.cfg->dbglvl & DBG_INITCUT)
      Print("%3ld %9.3f %9.3f %9.3f\n", r, pwgts[0], pwgts[1], graph->mincut);

    bool better = (r == 0 || graph->mincut < bestcut);
    if (multi) {
      const double excess = std::max(BisectionExcess(ctrl, graph, where), 0.0);
      better = r == 0 || excess < bestexcess || (excess == bestexcess && graph->mincut < bestcut);
      if (better) bestexcess = excess;
    }
    if (better) {
      bestcut = graph->mincut;
      ax_icopy(nvtxs, where, bestwhere);
    }
  }

  if (ctrl.cfg->dbglvl & DBG_INITCUT) Print("Bestcut Icut: %5f\n", bestcut);

  ax_icopy(nvtxs, bestwhere, where);
  graph->mincut = bestcut;
  // The side weights still describe the last trial; recount them for the
  // partition kept, so that islands placed next go to the truly lighter side.
  pwgts[0] = pwgts[1] = 0.0f;
  for (idx_t i = 0; i < nvtxs; i++) pwgts[where[i]] += cellwgt[i];

}

}  // namespace veldan
