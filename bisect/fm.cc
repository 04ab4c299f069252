// Two-way FM refinement: passes of single-cell moves taken from one priority
// queue per side, with a rollback to the best point of every pass.
#include <cmath>
#include <cstdio>

#include "bisect/bisect.h"
#include "bisect/fmcore.h"
#include "bisect/twoway.h"
#include "support/memory.h"
#include "support/output.h"
#include "support/pqueue.h"
#include "support/vecops.h"

namespace veldan {

idx_t FMPassMoveLimit(idx_t n, real_t limitfrac) {
  const real_t product = static_cast<real_t>(n) * limitfrac;
  return static_cast<idx_t>(product);
}

void Refine_EEFM(RunContext& ctrl, HGraph* graph, idx_t npasses, idx_t fmtype,
                 real_t limitfrac) {
  const idx_t n = graph->nvtxs;
  const idx_t nnets = graph->nnets;
  const idx_t nfixed = graph->nfixed;
  const idx_t rmaxnet = ctrl.cfg->refinement.maxnet;
  const real_t* cellwgt = graph->cellwgt.data();
  const bool show_progress = (ctrl.cfg->dbglvl & DBG_REFINE) != 0;
  const bool show_moves = (ctrl.cfg->dbglvl & DBG_MOVES) != 0;
  if (graph->ncon > 1) {
    Refine_MultiFM(ctrl, graph, npasses, fmtype, limitfrac);
    return;
  }

  FMWork w;
  ax_PQInit(&w.queues[0], n);
  ax_PQInit(&w.queues[1], n);
  w.moved = ax_imalloc(n, "Refine_EEFM: moved");
  w.swaps = ax_imalloc(n, "Refine_EEFM: swaps");
  w.perm = ax_imalloc(n, "Refine_EEFM: perm");
  w.updind = ax_imalloc(n, "Refine_EEFM: updind");
  w.updmrk = ax_imalloc(n, "Refine_EEFM: updmrk");
  const idx_t limit = FMPassMoveLimit(n, limitfrac);

  StartTimer(ctrl, TIMER_INIT);
  Compute2WayParams(ctrl, graph);
  StopTimer(ctrl, TIMER_INIT);

  idx_t* where = graph->where.data();
  real_t* gain = graph->gain.data();
  real_t* pwgts = graph->pwgts;

  // Least weight each side must keep; a side already lighter than that
  // only has to keep what it has.
  const real_t total = pwgts[0] + pwgts[1];
  real_t bounds[2];
  SideMinWeights(ctrl, total, bounds);
  real_t minwgt0 = bounds[0], minwgt1 = bounds[1];
  if (pwgts[0] < minwgt0) minwgt0 = pwgts[0];
  if (pwgts[1] < minwgt1) minwgt1 = pwgts[1];
  const real_t minwgt[2] = {minwgt0, minwgt1};

  const idx_t npins = (n >= 0 && !graph->incptr.empty()) ? graph->incptr[n] : 0;
  bool recompute = false;

  for (idx_t pass = 0; pass < npasses; pass++) {
    if (recompute) {
      StartTimer(ctrl, TIMER_INIT);
      Compute2WayParams(ctrl, graph);
      StopTimer(ctrl, TIMER_INIT);
    }

    ax_PQReset(&w.queues[0]);
    ax_PQReset(&w.queues[1]);
    const real_t initcut = graph->mincut;
    for (idx_t i = 0; i < n; i++) w.moved[i] = w.updmrk[i] = -1;
    RandomPermute(n, w.perm, 1);

    for (idx_t i = 0; i < n; i++) {
      const idx_t c = w.perm[i];
      if (c < nfixed || where[c] == 2) {
        w.moved[c] = 1;
        continue;
      }
      if (fmtype != 1 && fmtype != 2)
        errexit("Unknown FMType of %d\n", static_cast<int>(fmtype));
      ax_PQInsert(&w.queues[where[c]], c, FMKey(fmtype, gain[c], cellwgt[c]));
    }

    if (show_progress && pass == 0)
      Print(
          "Partitions: [%6ld,%12.2f]  [%6ld,%12.2f], Initial Cut: %12.2f "
          "[%12.2f] [%12.2f]\n",
          w.queues[0].nnodes, pwgts[0], w.queues[1].nnodes, pwgts[1], initcut,
          CutFromPinCounts(graph), minwgt0);

    StartTimer(ctrl, TIMER_ITERATE);
    real_t best = initcut;
    real_t cut = initcut;
    idx_t bestpos = -1;
    real_t bestdiff = std::fabs(pwgts[0] - pwgts[1]);
    idx_t nmoves = 0;  // moves that stand at the end of the pass
    for (idx_t k = 0; k < n; k++) {
      const idx_t a = ax_PQSeeTopVal(&w.queues[0]);
      const idx_t b = ax_PQSeeTopVal(&w.queues[1]);
      nmoves = k;
      if (a == -1 && b == -1) break;

      // Side to move from: the larger raw gain, unless that would take its
      // side below the minimum; on equal gains, the side with more room.
      idx_t from;
      if (a == -1) {
        from = 1;
      } else if (b == -1) {
        from = 0;
      } else if (gain[a] > gain[b]) {
        from = (pwgts[0] - cellwgt[a] < minwgt0) ? 1 : 0;
      } else if (gain[b] > gain[a]) {
        from = (pwgts[1] - cellwgt[b] >= minwgt1) ? 1 : 0;
      } else {
        from = (pwgts[0] - minwgt0 < pwgts[1] - minwgt1) ? 1 : 0;
      }
      const idx_t to = 1 - from;

      const idx_t c = ax_PQGetTop(&w.queues[from]);
      cut -= gain[c];
      pwgts[to] += cellwgt[c];
      pwgts[from] -= cellwgt[c];
      w.moved[c] = k;
      w.swaps[k] = c;
      where[c] = to;

      bool newbest = false;
      if (pwgts[0] < minwgt[0] || pwgts[1] < minwgt[1]) {
        newbest = false;
      } else if (cut < best) {
        newbest = true;
      } else if (cut == best) {
        newbest = std::fabs(pwgts[0] - pwgts[1]) < bestdiff ||
                  RandomInRange(2) == 1;
      }
      if (newbest) {
        best = cut;
        bestpos = k;
        bestdiff = std::fabs(pwgts[0] - pwgts[1]);
      } else if (cut > best && k - bestpos > limit) {
        // Too far past the best point: take this move back and end the
        // pass. Its gain and pin counts were not touched yet.
        where[c] = from;
        pwgts[from] += cellwgt[c];
        pwgts[to] -= cellwgt[c];
        nmoves = k;
        break;
      }

      if (show_moves)
        Print(
            "Gains from moving %8ld from %2ld: %4.2f, \tNewcut: %10.2f "
            "[%10.2f %10.2f]%s\n",
            c, from, gain[c], cut, pwgts[0], pwgts[1], newbest ? "*" : "");

      gain[c] = -gain[c];
      const idx_t nupd = UpdateNeighbours<true>(graph, rmaxnet, c, from, to, k, w);
      for (idx_t i = 0; i < nupd; i++) {
        const idx_t d = w.updind[i];
        ax_PQUpdate(&w.queues[where[d]], d, FMKey(fmtype, gain[d], cellwgt[d]));
      }
      nmoves = k + 1;
    }
    StopTimer(ctrl, TIMER_ITERATE);

    graph->mincut = best;
    const bool stop = std::fabs(best - initcut) <= kFloatEps || pass == npasses - 1;
    // Undoing move by move costs about the pins of the undone cells; a
    // recount costs all pins. Recount when that is cheaper.
    recompute = (nmoves - bestpos) * npins > nnets * n;

    StartTimer(ctrl, TIMER_WRAPUP);
    for (idx_t i = nmoves - 1; i > bestpos; i--) {
      const idx_t c = w.swaps[i];
      const idx_t from = where[c];
      const idx_t to = 1 - from;
      where[c] = to;
      pwgts[to] += cellwgt[c];
      pwgts[from] -= cellwgt[c];
      if (!stop && !recompute) {
        gain[c] = -gain[c];
        UpdateNeighbours<false>(graph, rmaxnet, c, from, to, i, w);
      }
    }
    StopTimer(ctrl, TIMER_WRAPUP);

    if (show_progress)
      Print("\tMinimum Cut: %12.2f [%12.2f] at %5ld [%10.2f %10.2f]\n",
            best, CutFromPinCounts(graph), bestpos, pwgts[0], pwgts[1]);

    if (stop) break;
  }

  ax_PQFree(&w.queues[0]);
  ax_PQFree(&w.queues[1]);
  ax_free(&w.moved, &w.swaps, &w.perm, &w.updind, &w.updmrk);
}

}  // namespace veldan
