// Two-way FM refinement: passes of single-cell moves taken from one priority
// queue per side, with a rollback to the best point of every pass.
#include <cmath>
#include <cstdio>

#include "bisect/bisect.h"
#include "bisect/fmpass.h"
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

namespace {

// The balance rule of the one-weight refinement: one queue per side; each
// side keeps a least weight, and among points that keep both the best has
// the least cut, then the smaller difference of the side weights.
class OneWeightRule {
 public:
  OneWeightRule(RunContext& ctrl, HGraph* graph)
      : graph_(graph),
        rng_(ctrl.rng),
        cellwgt_(graph->cellwgt.data()),
        gain_(graph->gain.data()),
        pwgts_(graph->pwgts),
        show_progress_((ctrl.cfg->dbglvl & DBG_REFINE) != 0),
        show_moves_((ctrl.cfg->dbglvl & DBG_MOVES) != 0) {
    const idx_t n = graph->nvtxs;
    ax_PQInit(&queues_[0], n);
    ax_PQInit(&queues_[1], n);

    // Least weight each side must keep; a side already lighter than that
    // only has to keep what it has.
    const real_t total = pwgts_[0] + pwgts_[1];
    real_t bounds[2];
    SideMinWeights(ctrl, total, bounds);
    minwgt_[0] = bounds[0];
    minwgt_[1] = bounds[1];
    if (pwgts_[0] < minwgt_[0]) minwgt_[0] = pwgts_[0];
    if (pwgts_[1] < minwgt_[1]) minwgt_[1] = pwgts_[1];
  }
  ~OneWeightRule() {
    ax_PQFree(&queues_[0]);
    ax_PQFree(&queues_[1]);
  }
  OneWeightRule(const OneWeightRule&) = delete;
  OneWeightRule& operator=(const OneWeightRule&) = delete;

  void Reset() {
    ax_PQReset(&queues_[0]);
    ax_PQReset(&queues_[1]);
  }
  void Insert(idx_t c, idx_t side, real_t key) { ax_PQInsert(&queues_[side], c, key); }
  void Update(idx_t c, idx_t side, real_t key) { ax_PQUpdate(&queues_[side], c, key); }

  // Side to move from: the larger raw gain, unless that would take its side
  // below the minimum; on equal gains, the side with more room.
  FMPick Take() {
    const real_t* gain = gain_;
    const real_t* pwgts = pwgts_;
    const real_t* cellwgt = cellwgt_;
    const idx_t a = ax_PQSeeTopVal(&queues_[0]);
    const idx_t b = ax_PQSeeTopVal(&queues_[1]);
    if (a == -1 && b == -1) return FMPick{};
    idx_t from;
    if (a == -1) {
      from = 1;
    } else if (b == -1) {
      from = 0;
    } else if (gain[a] > gain[b]) {
      from = (pwgts[0] - cellwgt[a] < minwgt_[0]) ? 1 : 0;
    } else if (gain[b] > gain[a]) {
      from = (pwgts[1] - cellwgt[b] >= minwgt_[1]) ? 1 : 0;
    } else {
      from = (pwgts[0] - minwgt_[0] < pwgts[1] - minwgt_[1]) ? 1 : 0;
    }
    return FMPick{ax_PQGetTop(&queues_[from]), from};
  }
  static bool Allowed(idx_t /*c*/, idx_t /*from*/) { return true; }

  void Move(idx_t c, idx_t from, idx_t to) {
    pwgts_[to] += cellwgt_[c];
    pwgts_[from] -= cellwgt_[c];
  }

  void PassStart(idx_t pass, real_t initcut) {
    if (show_progress_ && pass == 0)
      Print(
          "Partitions: [%6ld,%12.2f]  [%6ld,%12.2f], Initial Cut: %12.2f "
          "[%12.2f] [%12.2f]\n",
          queues_[0].nnodes, pwgts_[0], queues_[1].nnodes, pwgts_[1], initcut,
          CutFromPinCounts(graph_), minwgt_[0]);
    bestdiff_ = std::fabs(pwgts_[0] - pwgts_[1]);
  }

  // A point that takes a side below its minimum is never the best; on an
  // equal cut, a smaller weight difference wins and a tie is a coin toss.
  FMVerdict Judge(real_t cut, real_t best) {
    const real_t* pwgts = pwgts_;
    if (pwgts[0] >= minwgt_[0] && pwgts[1] >= minwgt_[1]) {
      if (cut < best ||
          (cut == best &&
           (std::fabs(pwgts[0] - pwgts[1]) < bestdiff_ || rng_.InRange(2) == 1))) {
        bestdiff_ = std::fabs(pwgts[0] - pwgts[1]);
        return FMVerdict::kBest;
      }
    }
    return cut > best ? FMVerdict::kWorse : FMVerdict::kNotBest;
  }

  void Trace(idx_t c, idx_t from, real_t cut, bool newbest) const {
    if (show_moves_)
      Print(
          "Gains from moving %8ld from %2ld: %4.2f, \tNewcut: %10.2f "
          "[%10.2f %10.2f]%s\n",
          c, from, gain_[c], cut, pwgts_[0], pwgts_[1], newbest ? "*" : "");
  }

  static bool BalanceGained() { return false; }

  void PassEnd(real_t best, idx_t bestpos) const {
    if (show_progress_)
      Print("\tMinimum Cut: %12.2f [%12.2f] at %5ld [%10.2f %10.2f]\n",
            best, CutFromPinCounts(graph_), bestpos, pwgts_[0], pwgts_[1]);
  }

 private:
  PQueue queues_[2];
  const HGraph* graph_;
  RandomStream& rng_;  // ties between equal cuts
  const real_t* cellwgt_;
  const real_t* gain_;
  real_t* pwgts_;
  real_t minwgt_[2];
  real_t bestdiff_ = 0.0f;
  bool show_progress_;
  bool show_moves_;
};

}  // namespace

void Refine_EEFM(RunContext& ctrl, HGraph* graph, idx_t npasses, idx_t fmtype,
                 real_t limitfrac) {
  if (graph->ncon > 1) {
    Refine_MultiFM(ctrl, graph, npasses, fmtype, limitfrac);
    return;
  }

  FMWork w(graph->nvtxs);
  StartTimer(ctrl, TIMER_INIT);
  Compute2WayParams(ctrl, graph);
  StopTimer(ctrl, TIMER_INIT);

  OneWeightRule rule(ctrl, graph);
  RunFMPasses(ctrl, graph, npasses, fmtype, limitfrac, w, rule);
}

}  // namespace veldan
