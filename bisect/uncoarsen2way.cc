// The walk of a bisection from the coarsest level back to the finest, the
// refinement schedule of one level and the placement of island cells.
#include "bisect/bisect.h"
#include "bisect/twoway.h"
#include "coarsen/coarsen.h"
#include "support/memory.h"
#include "support/parallel.h"

namespace veldan {

namespace {

// Cells per chunk of the projection to a finer level (a plain gather, so
// larger chunks than elsewhere).
constexpr idx_t kProjectGrain = 16384;

}  // namespace

real_t Refine2WayLimitFrac(Refinement rtype, idx_t n) {
  // The floor of f bounds how many moves a pass may run past its best
  // point: about a thousand on mid-sized levels, a fixed share above.
  double minfrac;
  switch (rtype) {
    case Refinement::Fast:
      minfrac = 0.05;
      break;
    case Refinement::Moderate:
      minfrac = 0.2;
      break;
    case Refinement::Slow:
      return 1.0f;
    default:
      errexit("Unknown refinement type: %d\n", static_cast<int>(rtype));
  }
  const double q = 1000.0 / static_cast<double>(n);
  if (q > 1.0) return 1.0f;
  if (q <= minfrac) return static_cast<real_t>(minfrac);
  return static_cast<real_t>(q);
}

void Refine2Way(RunContext& ctrl, HGraph* graph) {
  const real_t f = Refine2WayLimitFrac(ctrl.cfg->refinement.scheme, graph->nvtxs);
  Refine_EEFM(ctrl, graph, 10, 2, f);
  Refine_EEFM(ctrl, graph, 10, 1, f);
}

void PlaceIslands(HGraph* graph, real_t tpwgt) {
  // Each island goes to the side that is further below its target share:
  // side 0 when pwgts[0] / t0 < pwgts[1] / t1 (cross-multiplied), else side 1.
  // With equal targets this is "the lighter side, ties to side 1"; with the
  // unequal targets of an odd part count it keeps the split proportional.
  const double t0 = tpwgt;
  const double t1 = 1.0 - static_cast<double>(tpwgt);
  const idx_t first = graph->nvtxs;
  const idx_t last = graph->nvtxs + graph->nislands;
  for (idx_t c = first; c < last; c++) {
    const idx_t side =
        (static_cast<double>(graph->pwgts[1]) * t0 > static_cast<double>(graph->pwgts[0]) * t1) ? 0 : 1;
    graph->where[c] = side;
    graph->pwgts[side] += graph->cellwgt[c];
  }
}

void Uncoarsen2Way(RunContext& ctrl, HGraph* graph, HGraph* cgraph) {
  StartTimer(ctrl, TIMER_UNCOARSEN);

  HGraph* cur = cgraph;
  while (cur->finer != nullptr) {
    HGraph* fine = cur->finer;

    StartTimer(ctrl, TIMER_PROJECT);
    Allocate2wayRefinementMemory(ctrl, fine);
    const pin_t* cellmap = fine->cellmap.data();
    const idx_t* cwhere = cur->where.data();
    idx_t* where = fine->where.data();
    ParallelChunks(fine->nvtxs, kProjectGrain, [&](idx_t /*chunk*/, idx_t begin, idx_t end) {
      for (idx_t i = begin; i < end; i++) where[i] = cwhere[cellmap[i]];
    });
    fine->coarser.reset();  // cur
    StopTimer(ctrl, TIMER_PROJECT);

    if (fine->nvtxs < 1) {
      Compute2WayParams(ctrl, fine);
    } else {
      StartTimer(ctrl, TIMER_REFINE);
      Refine2Way(ctrl, fine);
      if (Balance(ctrl, fine)) Refine2Way(ctrl, fine);
      StopTimer(ctrl, TIMER_REFINE);
    }

    if (fine->nislands > 0) {
      if (fine->ncon > 1)
        PlaceIslandsMulti(ctrl, fine);
      else
        PlaceIslands(fine, ctrl.tpwgt);
    }
    cur = fine;
  }

  // The walk ends on the finest level, graph itself. Islands set aside by
  // the caller are put back by the caller.
  if (!graph->islandsaside) CombineIslands(graph);
  StopTimer(ctrl, TIMER_UNCOARSEN);
}

}  // namespace veldan
