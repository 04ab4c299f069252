// The k-way FM refinement on km1 gains, for the direct k-way scheme under
// -otype=km1.
//
// It works on the k-way work area of the level (kwayrefine.cc): per counted
// net the parts it spans with their pin counts (one record per part, inside
// a stretch as long as the net, so linear in pins whatever k), and per cell
// the km1 gain of a move to each part it shares a net with. Moving v from a
// to b gains w(e) for every counted net whose only pin in a is v and loses
// w(e) for every counted net with no pin in b.
//
// A pass queues every boundary cell by the best gain of its targets, then
// repeatedly takes the top cell, moves it to its best target that keeps
// the bound, and locks it for the rest of the pass; negative moves are
// allowed, so that the pass can climb out of a local minimum, and at the end
// the moves after the best point of the pass are taken back. A pass ends
// early after a run of moves that never returns to its best point. The
// passes draw on nothing but the run's random stream (the order in which
// cells enter the queue), so the result depends on the seed only.
#include <algorithm>
#include <cmath>
#include <vector>

#include "kway/kway.h"
#include "support/output.h"
#include "support/pqueue.h"
#include "support/support.h"

namespace veldan {

namespace {

// Moves a pass may make past its best point before it ends: a twentieth of
// the level's cells, within [kMinStall, kMaxStall].
constexpr idx_t kMinStall = 25;
constexpr idx_t kMaxStall = 300;

template <bool kMulti>
void RefineKwayFMImpl(RunContext& ctrl, HGraph* graph, idx_t npasses) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nparts = ctrl.cfg->nparts;
  const idx_t nfixed = graph->nfixed;
  const idx_t ncon = graph->ncon;
  const real_t* cellwgt = graph->cellwgt.data();
  const real_t* ncellwgt = graph->ncellwgt.data();
  const real_t* netwgt = graph->netwgt.data();
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();

  StartTimer(ctrl, TIMER_INIT);
  ComputeKwayPartitionParams(ctrl, graph);
  real_t* kpwgts = graph->kpwgts.data();
  real_t* nkpwgts = graph->nkpwgts.data();
  idx_t* where = graph->where.data();
  if (nvtxs < 2 || nparts < 2) {
    graph->objval = graph->soed - graph->mincut;
    StopTimer(ctrl, TIMER_INIT);
    return;
  }

  // The bounds, as the greedy refinement takes them.
  const real_t total = ax_fsum(nparts, kpwgts, 1);
  const real_t maxpwgt = (total * ctrl.ubfactor) / static_cast<real_t>(nparts);
  std::vector<double> nmaxpwgt;
  if constexpr (kMulti) KwayMaxPartWeights(ctrl, graph, &nmaxpwgt);
  const std::vector<real_t> pmax = KwayPartBounds(ctrl, total);
  const real_t* pmaxp = pmax.empty() ? nullptr : pmax.data();
  auto bound = [&](idx_t q) { return pmaxp ? pmaxp[q] : maxpwgt; };
  // Whether part q has room for cell c.
  auto fits = [&](idx_t c, idx_t q) {
    if constexpr (kMulti) {
      const real_t* wc = ncellwgt + c * ncon;
      const real_t* pq = nkpwgts + q * ncon;
      for (idx_t j = 0; j < ncon; ++j)
        if (static_cast<double>(pq[j]) + wc[j] > nmaxpwgt[q * ncon + j]) return false;
      return true;
    } else {
      return !(cellwgt[c] + kpwgts[q] > bound(q));
    }
  };

  // The cell records charge every congain with the weight of the cell's
  // uncounted nets (above rmaxnet), as if each lost a part by any move; the
  // FM adds it back, so that its gains are the exact change of the counted
  // km1 the level tracks.
  Array<real_t> ignbuf(nvtxs, 0.0f, "RefineKway_FM: ignored");
  real_t* ign = ignbuf.data();
  for (idx_t c = 0; c < nvtxs; ++c)
    for (idx_t j = incptr[c]; j < incptr[c + 1]; ++j)
      if (graph->nrinfo[incind[j]].nspan == -1) ign[c] += netwgt[incind[j]];

  Array<idx_t> permbuf(nvtxs, "RefineKway_FM: perm");
  idx_t* perm = permbuf.data();
  Array<idx_t> markerbuf(nvtxs, -1, "RefineKway_FM: marker");
  idx_t* marker = markerbuf.data();
  Array<idx_t> updindbuf(nvtxs, "RefineKway_FM: updind");
  idx_t* updind = updindbuf.data();
  Array<idx_t> lockbuf(nvtxs, -1, "RefineKway_FM: lock");
  idx_t* lock = lockbuf.data();  // the pass that moved the cell
  Array<idx_t> mcellbuf(nvtxs, "RefineKway_FM: moved cells");
  idx_t* mcell = mcellbuf.data();
  Array<idx_t> mfrombuf(nvtxs, "RefineKway_FM: moved from");
  idx_t* mfrom = mfrombuf.data();
  PQueue queue;
  ax_PQInit(&queue, nvtxs);
  ax_iincset(nvtxs, 0, perm);
  const idx_t stall = std::clamp<idx_t>(nvtxs / 20, kMinStall, kMaxStall);
  StopTimer(ctrl, TIMER_INIT);

  // The best gain of cell c over its targets, bound or not (the queue key).
  auto topgain = [&](idx_t c) {
    const CellRInfo& r = graph->crinfo[c];
    real_t best = r.degrees[0].congain;
    for (idx_t d = 1; d < r.ndegrees; ++d) best = std::max(best, r.degrees[d].congain);
    return best + ign[c];
  };
  // Queues, requeues or drops cell c after its records changed.
  auto requeue = [&](idx_t c) {
    const bool queued = queue.locator[c] != -1;
    if (graph->crinfo[c].ndegrees == 0) {
      if (queued) ax_PQDelete(&queue, c);
    } else if (queued) {
      ax_PQUpdate(&queue, c, topgain(c));
    } else {
      ax_PQInsert(&queue, c, topgain(c));
    }
  };
  // Moves cell c to part q, updating the records, weights and queue.
  auto move = [&](idx_t c, idx_t q, idx_t pass, bool inpass) {
    const idx_t p = where[c];
    kpwgts[q] += cellwgt[c];
    kpwgts[p] -= cellwgt[c];
    if constexpr (kMulti) {
      for (idx_t j = 0; j < ncon; ++j) {
        nkpwgts[q * ncon + j] += ncellwgt[c * ncon + j];
        nkpwgts[p * ncon + j] -= ncellwgt[c * ncon + j];
      }
    }
    where[c] = q;
    const idx_t n = UpdateKwayAfterMove(graph, c, p, q, marker, updind);
    for (idx_t i = 0; i < n; ++i) {
      const idx_t u = updind[i];
      marker[u] = -1;
      if (inpass && u >= nfixed && lock[u] != pass) requeue(u);
    }
  };

  real_t mincut = graph->mincut;
  real_t km1 = graph->soed - graph->mincut;
  for (idx_t pass = 0; pass < npasses; ++pass) {
    const real_t startkm1 = km1;
    ctrl.rng.Permute(nvtxs, perm, 0);
    ax_PQReset(&queue);
    for (idx_t ii = 0; ii < nvtxs; ++ii) {
      const idx_t c = perm[ii];
      if (c >= nfixed && graph->crinfo[c].ndegrees > 0) ax_PQInsert(&queue, c, topgain(c));
    }

    StartTimer(ctrl, TIMER_ITERATE);
    idx_t nmoves = 0;
    idx_t bestmoves = 0;
    real_t bestkm1 = km1;
    real_t bestcut = mincut;
    while (ax_PQLength(&queue) > 0 && nmoves - bestmoves < stall) {
      const real_t key = ax_PQSeeTopKey(&queue);
      const idx_t c = ax_PQGetTop(&queue);
      // The best target that keeps the bound: the highest gain, then the
      // most room left.
      const CellRInfo& r = graph->crinfo[c];
      idx_t best = -1;
      for (idx_t d = 0; d < r.ndegrees; ++d) {
        const idx_t q = r.degrees[d].part;
        if (!fits(c, q)) continue;
        if (best < 0 || r.degrees[d].congain > r.degrees[best].congain ||
            (r.degrees[d].congain == r.degrees[best].congain &&
             bound(q) - kpwgts[q] > bound(r.degrees[best].part) - kpwgts[r.degrees[best].part]))
          best = d;
      }
      if (best < 0) continue;  // back in the queue when a neighbour moves
      const real_t gain = r.degrees[best].congain + ign[c];
      // A bound target below the key waits behind cells that are better
      // now; it comes back with the gain it can have.
      if (gain < key && ax_PQLength(&queue) > 0 && ax_PQSeeTopKey(&queue) > gain) {
        ax_PQInsert(&queue, c, gain);
        continue;
      }
      const idx_t q = r.degrees[best].part;
      mincut -= r.degrees[best].uncutwgt - r.iwgt;
      km1 -= gain;
      mcell[nmoves] = c;
      mfrom[nmoves] = where[c];
      ++nmoves;
      lock[c] = pass;
      if (ctrl.cfg->dbglvl & DBG_MOVES)
        Print("\tFM moving %6ld (%3ld -> %3ld) gain %10.3f km1 %10.3f\n", c, where[c], q,
              static_cast<double>(gain), static_cast<double>(km1));
      move(c, q, pass, true);
      if (km1 < bestkm1) {
        bestkm1 = km1;
        bestcut = mincut;
        bestmoves = nmoves;
      }
    }

    // Back to the best point of the pass.
    for (idx_t i = nmoves - 1; i >= bestmoves; --i) move(mcell[i], mfrom[i], pass, false);
    km1 = bestkm1;
    mincut = bestcut;
    StopTimer(ctrl, TIMER_ITERATE);

    if (ctrl.cfg->dbglvl & DBG_REFINE)
      Print("\tFM pass %ld: km1 %10.3f -> %10.3f, %ld of %ld moves kept\n", pass,
            static_cast<double>(startkm1), static_cast<double>(km1), bestmoves, nmoves);
    if (!(km1 < startkm1)) break;
  }
  ax_PQFree(&queue);

  graph->mincut = mincut;
  graph->soed = km1 + mincut;
  graph->objval = km1;
}

}  // namespace

void RefineKway_FM(RunContext& ctrl, HGraph* graph, idx_t npasses) {
  if (graph->ncon > 1)
    RefineKwayFMImpl<true>(ctrl, graph, npasses);
  else
    RefineKwayFMImpl<false>(ctrl, graph, npasses);
}

}  // namespace veldan
