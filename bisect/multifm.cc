// Two-way refinement and balancing when every cell carries several weights.
//
// Each side has one queue per weight, and a cell waits in the queue of the
// weight it carries most of (relative to the level's totals): a side that is
// too heavy in weight j gives up first the cells that carry most of j,
// best gain first. While a bound is broken, the move comes from the most
// exceeded side and weight (when balancing, only if it lowers the worst
// excess); within the bounds, the best move that keeps them, else a move
// from the other side (see NextMove). A pass keeps the
// point that is best by (excess over the bounds, cut), so that a
// refinement never trades balance for cut.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include "bisect/bisect.h"
#include "bisect/fmpass.h"
#include "bisect/twoway.h"
#include "support/memory.h"
#include "support/pqueue.h"
#include "support/vecops.h"

namespace veldan {

namespace {

constexpr double kNoExcess = -std::numeric_limits<double>::infinity();

// Weights of both sides against their bounds.
struct SideState {
  idx_t ncon = 0;
  double inv[kMaxNCon] = {};      // 1 / total of weight j
  double maxw[2][kMaxNCon] = {};  // the most side s may hold of weight j
  double pw[2][kMaxNCon] = {};    // weight j on side s

  // The worst excess of a side over its bound, as a fraction of the total
  // of the weight; with side and con, where it occurs.
  double Excess(int* side = nullptr, idx_t* con = nullptr) const {
    double worst = kNoExcess;
    for (int s = 0; s < 2; s++) {
      for (idx_t j = 0; j < ncon; j++) {
        const double x = (pw[s][j] - maxw[s][j]) * inv[j];
        if (x > worst) {
          worst = x;
          if (side) *side = s;
          if (con) *con = j;
        }
      }
    }
    return worst;
  }

  // The worst excess once a cell of weights w has left side from.
  double ExcessAfter(const real_t* w, int from) const {
    const int to = 1 - from;
    double worst = kNoExcess;
    for (idx_t j = 0; j < ncon; j++) {
      worst = std::max(worst, (pw[from][j] - w[j] - maxw[from][j]) * inv[j]);
      worst = std::max(worst, (pw[to][j] + w[j] - maxw[to][j]) * inv[j]);
    }
    return worst;
  }

  void Move(const real_t* w, int from) {
    for (idx_t j = 0; j < ncon; j++) {
      pw[from][j] -= w[j];
      pw[1 - from][j] += w[j];
    }
  }
};

// The side weights of the cells on sides 0 and 1 among the first n, and
// the bounds for totals tot (null: the weight of the two sides).
SideState MakeSideState(const RunContext& ctrl, const HGraph* graph, idx_t n,
                        const idx_t* where, const double* tot) {
  SideState st;
  const idx_t ncon = st.ncon = graph->ncon;
  const real_t* nw = graph->ncellwgt.data();
  for (idx_t c = 0; c < n; c++) {
    const idx_t s = where[c];
    if (s != 0 && s != 1) continue;
    for (idx_t j = 0; j < ncon; j++) st.pw[s][j] += nw[c * ncon + j];
  }
  for (idx_t j = 0; j < ncon; j++) {
    const double total = tot ? tot[j] : st.pw[0][j] + st.pw[1][j];
    st.inv[j] = (total > 0.0) ? 1.0 / total : 0.0;
    double maxw[2];
    ConSideMaxWeights(ctrl, j, total, maxw);
    st.maxw[0][j] = maxw[0];
    st.maxw[1][j] = maxw[1];
  }
  return st;
}

// One queue per side and weight, sharing one locator (a cell is in at most
// one of them), each as large as the cells queued under its weight.
class MultiQueues {
 public:
  MultiQueues(const HGraph* graph, const SideState& st)
      : n_(graph->nvtxs),
        ncon_(graph->ncon),
        q_(2 * graph->ncon),
        dom_(n_, "MultiQueues: dom") {
    const real_t* nw = graph->ncellwgt.data();
    idx_t count[kMaxNCon] = {};
    for (idx_t c = 0; c < n_; c++) {
      idx_t best = 0;
      double most = nw[c * ncon_] * st.inv[0];
      for (idx_t j = 1; j < ncon_; j++) {
        const double x = nw[c * ncon_ + j] * st.inv[j];
        if (x > most) {
          most = x;
          best = j;
        }
      }
      dom_[c] = best;
      count[best]++;
    }
    locator_ = Array<std::int32_t>(std::max<idx_t>(n_, 1), "MultiQueues: locator");
    for (int s = 0; s < 2; s++) {
      for (idx_t j = 0; j < ncon_; j++) {
        Array<PQEntry>& heap = heaps_[s * ncon_ + j];
        heap = Array<PQEntry>(std::max<idx_t>(count[j], 1), "MultiQueues: heap");
        PQueue& q = q_[s * ncon_ + j];
        q.maxnodes = count[j];
        q.heap = heap.data();
        q.locator = locator_.data();
      }
    }
    Reset();
  }
  MultiQueues(const MultiQueues&) = delete;
  MultiQueues& operator=(const MultiQueues&) = delete;

  void Reset() {
    for (PQueue& q : q_) q.nnodes = 0;
    std::fill_n(locator_.data(), n_, -1);
  }
  PQueue& Of(idx_t c, idx_t side) { return q_[side * ncon_ + dom_[c]]; }
  PQueue& At(int side, idx_t j) { return q_[side * ncon_ + j]; }

 private:
  idx_t n_;
  idx_t ncon_;
  std::vector<PQueue> q_;
  Array<idx_t> dom_;
  Array<std::int32_t> locator_;
  Array<PQEntry> heaps_[2 * kMaxNCon];  // the storage of q_
};

// The next move: the cell and the side it leaves; c is -1 when every queue
// is empty.
struct Pick {
  idx_t c = -1;
  int from = 0;
};

Pick NextMove(MultiQueues& mq, const SideState& st, const real_t* nw, const real_t* gain) {
  const idx_t ncon = st.ncon;
  int vs = 0;
  idx_t vj = 0;
  const double v = st.Excess(&vs, &vj);
  if (v > 0.0) {
    // The most exceeded side gives up a cell: from the queue of the most
    // exceeded weight, or else from its queue with the best top. That
    // always lowers the excess where it is worst.
    PQueue* q = &mq.At(vs, vj);
    if (q->nnodes == 0) {
      q = nullptr;
      for (idx_t j = 0; j < ncon; j++) {
        PQueue& o = mq.At(vs, j);
        if (o.nnodes > 0 && (q == nullptr || gain[ax_PQSeeTopVal(&o)] > gain[ax_PQSeeTopVal(q)]))
          q = &o;
      }
    }
    if (q != nullptr) return Pick{ax_PQSeeTopVal(q), vs};
  }
  // Within the bounds: the best top of each side; the better of the two if
  // its move keeps every bound, else the other side's when that one does.
  // When neither does, the other side's move is still taken: a pass may
  // step outside the bounds on its way to a better point, but only points
  // within them (or no worse than the start) are kept, and the next move
  // brings it back.
  Pick top[2];
  for (int s = 0; s < 2; s++) {
    for (idx_t j = 0; j < ncon; j++) {
      PQueue& q = mq.At(s, j);
      if (q.nnodes == 0) continue;
      const idx_t c = ax_PQSeeTopVal(&q);
      if (top[s].c == -1 || gain[c] > gain[top[s].c]) top[s] = Pick{c, s};
    }
  }
  if (top[0].c == -1) return top[1];
  if (top[1].c == -1) return top[0];
  const int s = (gain[top[0].c] >= gain[top[1].c]) ? 0 : 1;
  if (st.ExcessAfter(nw + top[s].c * ncon, s) <= 0.0) return top[s];
  return top[1 - s];
}

// The balance rule of the several-weight refinement: the queues and the
// choice of NextMove; the best point of a pass is the one with the least
// excess over the bounds, then the least cut, then the least excess within
// them. When balancing, only moves that lower the worst excess are made and
// every point is kept, until every bound holds.
class MultiWeightRule {
 public:
  MultiWeightRule(HGraph* graph, SideState& st, bool balanceonly)
      : mq_(graph, st),
        st_(st),
        nw_(graph->ncellwgt.data()),
        cellwgt_(graph->cellwgt.data()),
        gain_(graph->gain.data()),
        pwgts_(graph->pwgts),
        ncon_(graph->ncon),
        balanceonly_(balanceonly) {}

  void Reset() { mq_.Reset(); }
  void Insert(idx_t c, idx_t side, real_t key) { ax_PQInsert(&mq_.Of(c, side), c, key); }
  void Update(idx_t c, idx_t side, real_t key) { ax_PQUpdate(&mq_.Of(c, side), c, key); }

  FMPick Take() {
    if (balanceonly_ && st_.Excess() <= 0.0) return FMPick{};
    const Pick p = NextMove(mq_, st_, nw_, gain_);
    if (p.c == -1) return FMPick{};
    ax_PQGetTop(&mq_.Of(p.c, p.from));
    return FMPick{p.c, p.from};
  }
  // Balancing takes only moves that lower the worst excess (a heavy cell
  // that would carry the excess over to the other side is set aside for
  // the sweep).
  bool Allowed(idx_t c, idx_t from) const {
    return !(balanceonly_ &&
             st_.ExcessAfter(nw_ + c * ncon_, static_cast<int>(from)) >= st_.Excess());
  }

  void Move(idx_t c, idx_t from, idx_t to) {
    st_.Move(nw_ + c * ncon_, static_cast<int>(from));
    pwgts_[to] += cellwgt_[c];
    pwgts_[from] -= cellwgt_[c];
  }

  void PassStart(idx_t /*pass*/, real_t /*initcut*/) {
    bestexcess_ = st_.Excess();
    bestviol_ = std::max(bestexcess_, 0.0);
    initviol_ = bestviol_;
  }

  FMVerdict Judge(real_t cut, real_t best) {
    if (balanceonly_) return FMVerdict::kBest;
    const double excess = st_.Excess();
    const double viol = std::max(excess, 0.0);
    if (viol < bestviol_ ||
        (viol == bestviol_ && (cut < best || (cut == best && excess < bestexcess_)))) {
      bestexcess_ = excess;
      bestviol_ = viol;
      return FMVerdict::kBest;
    }
    return (cut > best || viol > bestviol_) ? FMVerdict::kWorse : FMVerdict::kNotBest;
  }

  static void Trace(idx_t /*c*/, idx_t /*from*/, real_t /*cut*/, bool /*newbest*/) {}
  bool BalanceGained() const { return !(bestviol_ >= initviol_); }
  static void PassEnd(real_t /*best*/, idx_t /*bestpos*/) {}

 private:
  MultiQueues mq_;
  SideState& st_;
  const real_t* nw_;
  const real_t* cellwgt_;
  const real_t* gain_;
  real_t* pwgts_;
  idx_t ncon_;
  bool balanceonly_;
  double bestexcess_ = 0.0;
  double bestviol_ = 0.0;
  double initviol_ = 0.0;
};

// FM passes with a rollback to the best point of each (balanceonly false),
// or one sweep of moves until every bound holds (balanceonly true). Returns
// 1 when the sweep ran.
int MultiFM(RunContext& ctrl, HGraph* graph, idx_t npasses, idx_t fmtype,
            real_t limitfrac, bool balanceonly) {
  const idx_t n = graph->nvtxs;
  const idx_t* where = graph->where.data();

  SideState st = MakeSideState(ctrl, graph, n, where, nullptr);
  if (balanceonly && st.Excess() <= 0.0) return 0;

  StartTimer(ctrl, TIMER_INIT);
  Compute2WayParams(ctrl, graph);
  StopTimer(ctrl, TIMER_INIT);
  if (n < 1) return balanceonly ? 1 : 0;

  MultiWeightRule rule(graph, st, balanceonly);
  FMWork w(n);
  // A sweep is one pass that keeps every move it makes.
  RunFMPasses(ctrl, graph, balanceonly ? std::min<idx_t>(npasses, 1) : npasses, fmtype,
              limitfrac, w, rule);
  return balanceonly ? 1 : 0;
}

}  // namespace

void Refine_MultiFM(RunContext& ctrl, HGraph* graph, idx_t npasses, idx_t fmtype,
                    real_t limitfrac) {
  MultiFM(ctrl, graph, npasses, fmtype, limitfrac, false);
}

int Balance_Multi(RunContext& ctrl, HGraph* graph) {
  return MultiFM(ctrl, graph, 1, 1, 1.0f, true);
}

double BisectionExcess(const RunContext& ctrl, const HGraph* graph, const idx_t* where) {
  return MakeSideState(ctrl, graph, graph->nvtxs, where, nullptr).Excess();
}

void MultiInitialPlacement(const RunContext& ctrl, HGraph* graph, const idx_t* perm,
                           bool greedy, real_t** attract) {
  const idx_t n = graph->nvtxs;
  const idx_t ncon = graph->ncon;
  const real_t* nw = graph->ncellwgt.data();
  const real_t* cellwgt = graph->cellwgt.data();
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();
  const real_t* netwgt = graph->netwgt.data();
  idx_t* where = graph->where.data();
  real_t* pwgts = graph->pwgts;

  double tot[kMaxNCon] = {};
  for (idx_t c = 0; c < n; c++)
    for (idx_t j = 0; j < ncon; j++) tot[j] += nw[c * ncon + j];
  SideState st = MakeSideState(ctrl, graph, n, where, tot);
  auto fits = [&](const real_t* wc, int side, bool below_share) {
    for (idx_t j = 0; j < ncon; j++) {
      const double cap = below_share ? ConShare(ctrl, j) * tot[j] : st.maxw[side][j];
      if (st.pw[side][j] + wc[j] > cap) return false;
    }
    return true;
  };

  if (!greedy) ax_fSetMatrix(attract, 2, graph->nnets, 0.0f);
  for (idx_t i = 0; i < n; i++) {
    const idx_t c = perm[i];
    if (c < graph->nfixed) continue;
    const real_t* wc = nw + c * ncon;
    int side;
    if (greedy) {
      side = fits(wc, 0, true) ? 0 : 1;
    } else {
      real_t a0 = 0.0f;
      real_t a1 = 0.0f;
      for (idx_t j = incptr[c]; j < incptr[c + 1]; j++) {
        a0 += attract[0][incind[j]];
        a1 += attract[1][incind[j]];
      }
      side = (a0 >= a1 || incptr[c] == incptr[c + 1]) ? 0 : 1;
      if (!fits(wc, side, false)) side = 1 - side;
      real_t* row = attract[side];
      for (idx_t j = incptr[c]; j < incptr[c + 1]; j++) row[incind[j]] += netwgt[incind[j]];
    }
    where[c] = side;
    for (idx_t j = 0; j < ncon; j++) st.pw[side][j] += wc[j];
    pwgts[side] += cellwgt[c];
  }
}

void PlaceIslandsMulti(const RunContext& ctrl, HGraph* graph) {
  const idx_t ncon = graph->ncon;
  const idx_t first = graph->nvtxs;
  const idx_t last = graph->nvtxs + graph->nislands;
  const real_t* nw = graph->ncellwgt.data();
  idx_t* where = graph->where.data();
  if (last == first) return;

  // The bounds of the level with its islands; the islands, heaviest first,
  // each to the side where the worst excess over them ends lowest.
  double tot[kMaxNCon] = {};
  for (idx_t c = 0; c < last; c++)
    for (idx_t j = 0; j < ncon; j++) tot[j] += nw[c * ncon + j];
  SideState st = MakeSideState(ctrl, graph, first, where, tot);
  std::vector<std::pair<double, idx_t>> order;
  for (idx_t c = first; c < last; c++) {
    double most = 0.0;
    for (idx_t j = 0; j < ncon; j++) most = std::max(most, nw[c * ncon + j] * st.inv[j]);
    order.emplace_back(-most, c);
  }
  std::sort(order.begin(), order.end());
  for (const auto& [key, c] : order) {
    const real_t* wc = nw + c * ncon;
    double after[2];
    for (int s = 0; s < 2; s++) {
      for (idx_t j = 0; j < ncon; j++) st.pw[s][j] += wc[j];
      after[s] = st.Excess();
      for (idx_t j = 0; j < ncon; j++) st.pw[s][j] -= wc[j];
    }
    const int side = (after[0] < after[1]) ? 0 : 1;
    for (idx_t j = 0; j < ncon; j++) st.pw[side][j] += wc[j];
    where[c] = side;
    graph->pwgts[side] += graph->cellwgt[c];
  }
}

}  // namespace veldan
