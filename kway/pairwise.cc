// The k-way refinement entry and the pairwise k-way refinement, which runs
// the two-way FM refinement on every pair of parts with the cells of all
// other parts frozen, then finishes with the greedy k-way refinement.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "bisect/bisect.h"
#include "kway/kway.h"
#include "support/support.h"

namespace veldan {

void RefineKway(RunContext& ctrl, HGraph* graph) {
  switch (ctrl.cfg->refinement.scheme) {
    case Refinement::KRandom:
      RefineKway_Random(ctrl, graph, 10);
      // The greedy pass does the bulk of the work cheaply; FM then climbs
      // over the local minima it stops at.
      if (ctrl.cfg->scheme == Scheme::Kway && ctrl.cfg->refinement.objective == Objective::Km1)
        RefineKway_FM(ctrl, graph, 10);
      break;
    case Refinement::KPFast:
    case Refinement::KPModerate:
    case Refinement::KPSlow:
      RefineKway_Pairwise(ctrl, graph, 10);
      break;
    default:
      errexit("Unknown refinement type: %d\n", static_cast<int>(ctrl.cfg->refinement.scheme));
  }
}

// The unbalance factor of a bisection of t whose sides have bounds m0 and
// m1 and side 0 the share m0 / (m0 + m1): the two-way refinement lets a
// side rise to t less (1 - 2u) times the other side's target, so u is the
// largest that keeps both sides within their bounds (at least 0; 0.5 for t
// of 0).
static double PairUnbalance(double m0, double m1, double t) {
  if (!(t > 0.0)) return 0.5;
  const double share = m0 / (m0 + m1);
  double keep = -HUGE_VAL;
  if (share < 1.0) keep = std::max(keep, (t - m0) / (t * (1.0 - share)));
  if (share > 0.0) keep = std::max(keep, (t - m1) / (t * share));
  return std::max(0.5 * (1.0 - std::min(keep, 1.0)), 0.0);
}

// Fraction of the level's cells a pass may move past its best point, from
// the pair's weight t: the fast and moderate schemes shorten passes on
// heavy pairs, down to a floor.
static real_t PairLimitFraction(Refinement rtype, real_t t) {
  const double q = 1000.0 / static_cast<double>(t);
  double f = 1.0;
  if (rtype == Refinement::KPFast) {
    if (q <= 1.0) f = (q <= 0.05) ? 0.05 : q;
  } else if (rtype == Refinement::KPModerate) {
    if (q <= 1.0) f = (q <= 0.2) ? 0.2 : q;
  }
  return static_cast<real_t>(f);
}

void RefineKway_Pairwise(RunContext& ctrl, HGraph* graph, idx_t npasses) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nparts = ctrl.cfg->nparts;
  const real_t* cellwgt = graph->cellwgt.data();

  // The largest weight either part of a pair may reach.
  const real_t maxpwgt = (ax_fsum(nvtxs, cellwgt, 1) * ctrl.ubfactor) /
                         static_cast<real_t>(nparts);
  // With target weights, the bound of each part of its own.
  const std::vector<real_t> pmax = KwayPartBounds(ctrl, ax_fsum(nvtxs, cellwgt, 1));

  // With several weights: the k-way bound of each on every part.
  const idx_t ncon = (graph->ncon > 1) ? graph->ncon : 0;
  double ntotal[kMaxNCon] = {};
  for (idx_t j = 0; j < ncon; ++j)
    for (idx_t v = 0; v < nvtxs; ++v) ntotal[j] += graph->ncellwgt[v * ncon + j];
  const std::vector<double> nmaxpwgt = KwayConBounds(ctrl, ncon, ntotal);
  const bool ownbounds = KwayOwnBounds(ctrl, ncon);

  // The two-way arrays borrow the level's where field for the side vector.
  Array<idx_t> kwherebuf = std::move(graph->where);
  idx_t* kwhere = kwherebuf.data();
  Allocate2wayRefinementMemory(ctrl, graph);
  idx_t* bwhere = graph->where.data();
  // Islands belong to no side: they never move and count nowhere.
  for (idx_t v = nvtxs; v < nvtxs + graph->nislands; ++v) bwhere[v] = 2;

  // Cells per part, kept up to date pair by pair: a pair of two empty parts
  // has nothing to refine and is skipped without a sweep over the cells,
  // which keeps many parts on a small level cheap.
  Array<idx_t> pcountbuf(nparts, 0, "RefineKway_Pairwise: pcount");
  idx_t* pcount = pcountbuf.data();
  for (idx_t v = 0; v < nvtxs; ++v)
    if (kwhere[v] >= 0 && kwhere[v] < nparts) pcount[kwhere[v]]++;

  // Each pair is refined under balance factors of its own; under km1 a net
  // counts as cut in the pair when it has pins in both parts, whatever its
  // pins elsewhere, which is the km1 the pair's moves can change.
  RunContext pair = TaskContext(ctrl);
  pair.pairspan = (ctrl.cfg->refinement.objective == Objective::Km1);
  for (idx_t p1 = 0; p1 < nparts - 1; ++p1) {
    for (idx_t p2 = p1 + 1; p2 < nparts; ++p2) {
      if (pcount[p1] == 0 && pcount[p2] == 0) continue;
      real_t w0 = 0.0f;
      real_t w1 = 0.0f;
      for (idx_t v = 0; v < nvtxs; ++v) {
        if (kwhere[v] == p1) {
          bwhere[v] = 0;
          w0 += cellwgt[v];
        } else if (kwhere[v] == p2) {
          bwhere[v] = 1;
          w1 += cellwgt[v];
        } else {
          bwhere[v] = 2;
        }
      }

      // With a target fraction of 0.5 the two-way refinement keeps each
      // side above (0.5 - x) t = t - maxpwgt, so neither part exceeds
      // maxpwgt; the floor keeps heavy pairs near an even split.
      const real_t t = w0 + w1;
      const double x =
          (static_cast<double>(maxpwgt) - 0.5 * static_cast<double>(t)) /
          static_cast<double>(t);
      pair.ubfactor = (x > 0.001) ? static_cast<real_t>(x) : 0.001f;
      if (!pmax.empty()) {
        // Unequal bounds m0 and m1: side 0 targets m0 / (m0 + m1) of the
        // pair, and the unbalance keeps each side within its bound (the
        // two-way refinement lets a side rise to t less (1 - 2u) times the
        // other side's target); a part of bound 0 is left as it is.
        const double m0 = pmax[p1], m1 = pmax[p2], td = t;
        if (!(m0 > 0.0) || !(m1 > 0.0) || !(td > 0.0)) continue;
        pair.tpwgt = static_cast<real_t>(m0 / (m0 + m1));
        pair.ubfactor = static_cast<real_t>(std::max(PairUnbalance(m0, m1, td), 0.001));
      }
      // With several weights, the same for each from its own bound; with
      // target weights, from the bounds of the two parts as above (a pair
      // in which a part has a bound of 0 is left as it is).
      pair.contshare = ownbounds;
      bool zerobound = false;
      for (idx_t j = 0; j < ncon; ++j) {
        double tj = 0.0;
        for (idx_t v = 0; v < nvtxs; ++v)
          if (bwhere[v] == 0 || bwhere[v] == 1) tj += graph->ncellwgt[v * ncon + j];
        if (ownbounds) {
          const double m0 = nmaxpwgt[p1 * ncon + j], m1 = nmaxpwgt[p2 * ncon + j];
          zerobound = zerobound || !(m0 > 0.0) || !(m1 > 0.0);
          if (zerobound) break;
          const double share = m0 / (m0 + m1);
          pair.ntpwgt[j] = share;
          pair.nubfactor[j] = std::max(PairUnbalance(m0, m1, tj), 0.001);
          continue;
        }
        const double xj = (tj > 0.0) ? (nmaxpwgt[j] - 0.5 * tj) / tj : 0.5;
        pair.nubfactor[j] = std::max(xj, 0.001);
      }
      if (zerobound) continue;

      const Refinement rtype = ctrl.cfg->refinement.scheme;
      if (rtype >= Refinement::KPFast && rtype <= Refinement::KPSlow) {
        const real_t f = PairLimitFraction(rtype, t);
        Refine_EEFM(pair, graph, npasses, 2, f);
        Refine_EEFM(pair, graph, npasses, 1, f);
      }

      idx_t n0 = 0;
      idx_t n1 = 0;
      for (idx_t v = 0; v < nvtxs; ++v) {
        if (bwhere[v] == 0) {
          kwhere[v] = p1;
          n0++;
        } else if (bwhere[v] == 1) {
          kwhere[v] = p2;
          n1++;
        }
      }
      pcount[p1] = n0;
      pcount[p2] = n1;
    }
  }
  pcountbuf.reset();

  Free2wayRefinementMemory(graph);
  graph->where = std::move(kwherebuf);
  AddTaskTimers(ctrl, pair);
  ctrl.rng = pair.rng;  // the pair's draws are the task's own

  RefineKway_Random(ctrl, graph, npasses);
}

bool BalancePartPair(RunContext& ctrl, HGraph* graph, idx_t p, idx_t q, const double* maxw) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t n = nvtxs + graph->nislands;
  const idx_t ncon = graph->ncon;
  const real_t* nw = graph->ncellwgt.data();

  // The pair's weights on cells the two-way balancing can move, and what
  // islands of either part leave of the bound: each side gets the tighter.
  double t[kMaxNCon] = {};
  double room[kMaxNCon] = {};
  double isl[2][kMaxNCon] = {};
  for (idx_t v = 0; v < n; ++v) {
    const idx_t k = graph->where[v];
    if (k != p && k != q) continue;
    for (idx_t j = 0; j < ncon; ++j) {
      if (v < nvtxs)
        t[j] += nw[v * ncon + j];
      else
        isl[k == q][j] += nw[v * ncon + j];
    }
  }
  // The pair is balanced as an even bisection under factors of its own;
  // with target weights, as a bisection whose sides' shares follow the
  // room each part has.
  RunContext pair = TaskContext(ctrl);
  const bool own = KwayOwnBounds(ctrl, ncon);
  for (idx_t j = 0; j < ncon; ++j) {
    if (own) {
      const double room0 = std::max(maxw[p * ncon + j] - isl[0][j], 0.0);
      const double room1 = std::max(maxw[q * ncon + j] - isl[1][j], 0.0);
      pair.ntpwgt[j] = (room0 + room1 > 0.0) ? room0 / (room0 + room1) : 0.5;
      pair.nubfactor[j] = (room0 + room1 > 0.0) ? PairUnbalance(room0, room1, t[j]) : 0.0;
      continue;
    }
    room[j] = maxw[p * ncon + j] - std::max(isl[0][j], isl[1][j]);
    // Each side within room: 0.5 + u of the pair's total.
    pair.nubfactor[j] = (t[j] > 0.0) ? std::max((room[j] - 0.5 * t[j]) / t[j], 0.0) : 0.5;
  }
  pair.tpwgt = 0.5f;
  pair.contshare = own;
  pair.epsfactor = 0.0;

  Array<idx_t> kwherebuf = std::move(graph->where);
  idx_t* kwhere = kwherebuf.data();
  Allocate2wayRefinementMemory(ctrl, graph);
  idx_t* bwhere = graph->where.data();
  for (idx_t v = 0; v < n; ++v) bwhere[v] = (kwhere[v] == p) ? 0 : (kwhere[v] == q) ? 1 : 2;
  // The pair's summed excess over its bounds, before and after; a result
  // that is not better is dropped.
  auto excess = [&] {
    double pw[2][kMaxNCon] = {};
    for (idx_t v = 0; v < nvtxs; ++v)
      if (bwhere[v] == 0 || bwhere[v] == 1)
        for (idx_t j = 0; j < ncon; ++j) pw[bwhere[v]][j] += nw[v * ncon + j];
    double sum = 0.0;
    for (int s = 0; s < 2; ++s)
      for (idx_t j = 0; j < ncon; ++j)
        if (t[j] > 0.0)
          sum += std::max(pw[s][j] + isl[s][j] - maxw[(s == 0 ? p : q) * ncon + j], 0.0) / t[j];
    return sum;
  };
  const double before = excess();
  const int ran = Balance_Multi(pair, graph);
  bool moved = false;
  if (ran != 0 && excess() < before) {
    for (idx_t v = 0; v < nvtxs; ++v) {
      const idx_t k = (bwhere[v] == 0) ? p : (bwhere[v] == 1) ? q : kwhere[v];
      moved = moved || k != kwhere[v];
      kwhere[v] = k;
    }
  }
  Free2wayRefinementMemory(graph);
  graph->where = std::move(kwherebuf);
  AddTaskTimers(ctrl, pair);
  ctrl.rng = pair.rng;  // the pair's draws are the task's own
  return moved;
}

}  // namespace veldan
