// Two-way balancing: moves cells from the heavy side to a side below its
// minimum weight, best gain first.
#include <cstdio>

#include "bisect/bisect.h"
#include "bisect/twoway.h"
#include "support/memory.h"
#include "support/output.h"
#include "support/pqueue.h"
#include "support/vecops.h"

namespace veldan {

int Balance(RunContext& ctrl, HGraph* graph) {
  if (graph->ncon > 1) return Balance_Multi(ctrl, graph);
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nfixed = graph->nfixed;
  const real_t* cellwgt = graph->cellwgt.data();
  idx_t* where = graph->where.data();
  real_t* pwgts = graph->pwgts;

  pwgts[0] = pwgts[1] = 0.0f;
  for (idx_t c = 0; c < nvtxs; c++)
    if (where[c] == 0 || where[c] == 1) pwgts[where[c]] += cellwgt[c];

  const real_t total = pwgts[0] + pwgts[1];
  real_t minwgt[2];
  SideMinWeights(ctrl, total, minwgt);
  const real_t minwgt0 = minwgt[0], minwgt1 = minwgt[1];

  if (pwgts[0] >= minwgt0 && pwgts[1] >= minwgt1) return 0;

  PQueue queues[2];
  ax_PQInit(&queues[0], nvtxs);
  ax_PQInit(&queues[1], nvtxs);
  Array<idx_t> lockedbuf(nvtxs, -1, "Balance: perm");
  idx_t* locked = lockedbuf.data();
  Array<idx_t> permbuf(nvtxs, "Balance: perm");
  idx_t* perm = permbuf.data();

  StartTimer(ctrl, TIMER_INIT);
  Compute2WayParams(ctrl, graph);
  StopTimer(ctrl, TIMER_INIT);
  ax_PQReset(&queues[0]);
  ax_PQReset(&queues[1]);
  real_t cut = graph->mincut;

  const idx_t rmaxnet = ctrl.cfg->refinement.maxnet;
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();
  const real_t* netwgt = graph->netwgt.data();
  real_t* gain = graph->gain.data();
  NetSides* sides = graph->sides.data();

  ctrl.rng.Permute(nvtxs, perm, 1);
  for (idx_t i = 0; i < nvtxs; i++) {
    const idx_t c = perm[i];
    // Fixed cells stay; a cell outside both sides cannot be balanced either.
    if (c < nfixed || (where[c] != 0 && where[c] != 1))
      locked[c] = 1;
    else
      ax_PQInsert(&queues[where[c]], c, gain[c]);
  }

  if (ctrl.cfg->dbglvl & DBG_REFINE) {
    real_t recount = 0.0f;
    for (idx_t e = 0; e < graph->nnets; e++) {
      const NetSides& ns = sides[e];
      const int nsides = (ns.n[0] > 0) + (ns.n[1] > 0) + (ns.n[2] > 0);
      if (nsides >= 2) recount += netwgt[e];
    }
    Print(
        "Partitions[B]: [%6ld,%10.2f]  [%6ld,%10.2f], Initial Cut: %10.2f "
        "[%10.2f] [%10.2f]\n",
        queues[0].nnodes, pwgts[0], queues[1].nnodes, pwgts[1], cut, recount,
        minwgt0);
  }

  StartTimer(ctrl, TIMER_ITERATE);
  for (idx_t step = 0; step < nvtxs; step++) {
    idx_t from;
    idx_t c;
    if (pwgts[0] >= minwgt0) {
      // Side 1 is the light one: take from side 0 unless the top cell
      // would push side 0 below its own minimum.
      c = ax_PQSeeTopVal(&queues[0]);
      if (c == -1) break;
      if (pwgts[0] - cellwgt[c] < minwgt0) {
        ax_PQGetTop(&queues[0]);
        locked[c] = 1;
        continue;
      }
      from = 0;
    } else {
      c = ax_PQSeeTopVal(&queues[1]);
      if (c == -1) break;
      if (!(pwgts[1] - cellwgt[c] >= minwgt1)) {
        ax_PQGetTop(&queues[1]);
        locked[c] = 1;
        continue;
      }
      from = 1;
    }
    const idx_t to = 1 - from;

    ax_PQGetTop(&queues[from]);
    cut -= gain[c];
    locked[c] = 1;
    where[c] = to;
    pwgts[to] += cellwgt[c];
    pwgts[from] -= cellwgt[c];

    for (idx_t j = incptr[c]; j < incptr[c + 1]; j++) {
      const idx_t e = incind[j];
      if (netptr[e + 1] - netptr[e] > rmaxnet) continue;
      const idx_t tcount = ++sides[e].n[to];
      const idx_t fcount = --sides[e].n[from];
      if (!(tcount < 3 || fcount < 2)) continue;
      const real_t w = netwgt[e];
      for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) {
        const idx_t d = netind[p];
        if (locked[d] != -1) continue;
        if (where[d] == from) {
          if (fcount == 1) gain[d] += w;  // d is now alone on its side
          if (tcount == 1) gain[d] += w;  // e became cut: moving d no longer cuts it
        } else {
          if (fcount == 0) gain[d] -= w;  // e became uncut: moving d would cut it
          if (tcount == 2) gain[d] -= w;  // d no longer alone on its side
        }
        ax_PQUpdate(&queues[where[d]], d, gain[d]);
      }
    }

    if (pwgts[0] >= minwgt[0] && pwgts[1] >= minwgt[1]) break;
  }
  StopTimer(ctrl, TIMER_ITERATE);

  graph->mincut = cut;
  ax_PQFree(&queues[0]);
  ax_PQFree(&queues[1]);
  lockedbuf.reset();
  permbuf.reset();
  return 1;
}

}  // namespace veldan
