// The pass loop of the two-way FM refinement, written once for the
// one-weight and the several-weight refinements. What differs between them
// (the queues, which cell moves next, whether a move may be made, how the
// weights follow a move and when a point beats the best so far) is a
// balance rule, a class whose members the loop calls directly, so that the
// compiler inlines them into the loop.
//
// A rule provides:
//   void Reset()                            empty every queue
//   void Insert(idx_t c, idx_t side, real_t key)
//   void Update(idx_t c, idx_t side, real_t key)   c's key changed
//   FMPick Take()                           pop the next cell to move; c = -1
//                                           ends the pass
//   bool Allowed(idx_t c, idx_t from)       false: c is set aside for the pass
//   void Move(idx_t c, idx_t from, idx_t to)   the side weights follow c
//   void PassStart(idx_t pass, real_t cut)  the queues are full; the start of
//                                           the pass is its best point so far
//   FMVerdict Judge(real_t cut, real_t best)   the point after a move against
//                                           the best; on kBest the rule keeps
//                                           its balance as the best
//   void Trace(idx_t c, idx_t from, real_t cut, bool newbest)   after a move
//   bool BalanceGained() const              the best point is better balanced
//                                           than the start of the pass
//   void PassEnd(real_t best, idx_t bestpos)   the pass is rolled back
#pragma once

#include <cmath>

#include "bisect/bisect.h"
#include "bisect/fmcore.h"
#include "bisect/twoway.h"
#include "hgraph/context.h"
#include "hgraph/hgraph.h"
#include "support/memory.h"
#include "support/types.h"
#include "support/vecops.h"

namespace veldan {

// The next move: the cell and the side it leaves.
struct FMPick {
  idx_t c = -1;
  idx_t from = 0;
};

// The point after a move against the best of the pass: better, not better,
// or worse (past the limit, a worse point ends the pass).
enum class FMVerdict { kBest, kNotBest, kWorse };

// Runs up to npasses FM passes on a level whose gains and pin counts are
// set. Each pass queues the free cells in a random order, moves cells the
// rule picks until the rule has none or the pass runs more than the move
// limit past its best point, and rolls back to that point; it is the last
// when it leaves the cut and the balance as they were.
//
// Kept out of line: inlined into Refine_EEFM, beside the set-up of the work
// arrays, it left the gain, side and lock arrays of the pin loop in
// UpdateNeighbours on the stack, and a whole run on ibm03, k = 8, took 3.6%
// more instructions.
template <class Rule>
[[gnu::noinline]] void RunFMPasses(RunContext& ctrl, HGraph* graph, idx_t npasses,
                                   idx_t fmtype, real_t limitfrac, FMWork& w, Rule& rule) {
  const idx_t n = graph->nvtxs;
  const idx_t nnets = graph->nnets;
  const idx_t nfixed = graph->nfixed;
  const idx_t rmaxnet = ctrl.cfg->refinement.maxnet;
  const real_t* cellwgt = graph->cellwgt.data();
  idx_t* where = graph->where.data();
  real_t* gain = graph->gain.data();
  if (fmtype != 1 && fmtype != 2) errexit("Unknown FMType of %d\n", static_cast<int>(fmtype));

  idx_t* moved = w.moved.data();
  idx_t* swaps = w.swaps.data();
  idx_t* perm = w.perm.data();
  idx_t* updind = w.updind.data();
  idx_t* updmrk = w.updmrk.data();
  const idx_t limit = FMPassMoveLimit(n, limitfrac);
  const idx_t npins = (n >= 0 && !graph->incptr.empty()) ? graph->incptr[n] : 0;
  bool recompute = false;

  for (idx_t pass = 0; pass < npasses; pass++) {
    if (recompute) {
      StartTimer(ctrl, TIMER_INIT);
      Compute2WayParams(ctrl, graph);
      StopTimer(ctrl, TIMER_INIT);
    }

    rule.Reset();
    const real_t initcut = graph->mincut;
    for (idx_t i = 0; i < n; i++) moved[i] = updmrk[i] = -1;
    ctrl.rng.Permute(n, perm, 1);
    for (idx_t i = 0; i < n; i++) {
      const idx_t c = perm[i];
      if (c < nfixed || (where[c] != 0 && where[c] != 1)) {
        moved[c] = 1;
        continue;
      }
      rule.Insert(c, where[c], FMKey(fmtype, gain[c], cellwgt[c]));
    }
    rule.PassStart(pass, initcut);

    StartTimer(ctrl, TIMER_ITERATE);
    real_t best = initcut;
    real_t cut = initcut;
    idx_t bestpos = -1;
    idx_t nmoves = 0;  // moves that stand at the end of the pass
    while (nmoves < n) {
      const FMPick p = rule.Take();
      if (p.c == -1) break;
      const idx_t c = p.c;
      const idx_t from = p.from;
      const idx_t to = 1 - from;
      if (!rule.Allowed(c, from)) {
        moved[c] = -2;
        continue;
      }

      const idx_t k = nmoves;
      cut -= gain[c];
      rule.Move(c, from, to);
      moved[c] = k;
      swaps[k] = c;
      where[c] = to;

      const FMVerdict verdict = rule.Judge(cut, best);
      if (verdict == FMVerdict::kBest) {
        best = cut;
        bestpos = k;
      } else if (verdict == FMVerdict::kWorse && k - bestpos > limit) {
        // Too far past the best point: take this move back and end the
        // pass. Its gain and pin counts were not touched yet.
        where[c] = from;
        rule.Move(c, to, from);
        break;
      }
      rule.Trace(c, from, cut, verdict == FMVerdict::kBest);

      gain[c] = -gain[c];
      const idx_t nupd = UpdateNeighbours<true>(graph, rmaxnet, c, from, to, k, w);
      for (idx_t i = 0; i < nupd; i++) {
        const idx_t d = updind[i];
        rule.Update(d, where[d], FMKey(fmtype, gain[d], cellwgt[d]));
      }
      nmoves = k + 1;
    }
    StopTimer(ctrl, TIMER_ITERATE);

    graph->mincut = best;
    const bool stop = (std::fabs(best - initcut) <= kFloatEps && !rule.BalanceGained()) ||
                      pass == npasses - 1;
    // Undoing move by move costs about the pins of the undone cells; a
    // recount costs all pins. Recount when that is cheaper.
    recompute = (nmoves - bestpos) * npins > nnets * n;

    StartTimer(ctrl, TIMER_WRAPUP);
    for (idx_t i = nmoves - 1; i > bestpos; i--) {
      const idx_t c = swaps[i];
      const idx_t from = where[c];
      const idx_t to = 1 - from;
      where[c] = to;
      rule.Move(c, from, to);
      if (!stop && !recompute) {
        gain[c] = -gain[c];
        UpdateNeighbours<false>(graph, rmaxnet, c, from, to, i, w);
      }
    }
    StopTimer(ctrl, TIMER_WRAPUP);
    rule.PassEnd(best, bestpos);

    if (stop) break;
  }
}

}  // namespace veldan
