// Restoring the part-weight bound after k-way refinement. The greedy and
// pairwise refinements never move a cell out of a part at a loss, so a part
// that the coarse levels left too heavy can stay too heavy at the finest
// level. BalanceKway moves cells out of such parts, each time the move that
// raises the objective least, until every part is within the bound or no
// cell can leave. Levels whose parts are all within the bound are left
// untouched.
#include <algorithm>
#include <utility>
#include <vector>

#include "coarsen/coarsen.h"
#include "kway/kway.h"
#include "support/support.h"

namespace veldan {

namespace {

struct Move {
  real_t delta = 0.0f;  // increase of the objective
  idx_t to = -1;
};

// The scratch of one BalanceKway call, sized once.
struct BalanceWork {
  std::vector<idx_t> cnt;      // pins of the current net per part
  std::vector<idx_t> touched;  // parts with a non-zero count
  std::vector<idx_t> seen;     // candidate mark per part: the stamp of the call
  idx_t stamp = 0;
  std::vector<idx_t> cands;    // candidate target parts of the current cell
  std::vector<real_t> delta;   // objective increase per candidate
};

// The best move of cell c out of part `from` into a part with room for it:
// the parts its nets reach and the lightest part. delta is the change of the
// objective (otype).
// fits(q) tells whether part q has room for c; roomiest is the part with
// the most room, considered besides the parts c's nets reach (every part
// with roomiest -1).
struct MoveAsk {
  idx_t c;         // the cell
  idx_t from;      // its part
  idx_t roomiest;  // the part with the most room, or -1: every part
  Objective otype;
};

// What a net of weight wgt spanning span parts adds to the objective.
inline real_t NetCost(Objective otype, idx_t span, real_t wgt) {
  if (otype == Objective::Km1) return static_cast<real_t>(span - 1) * wgt;
  if (span < 2) return 0.0f;
  return (otype == Objective::Cut) ? wgt : static_cast<real_t>(span) * wgt;
}
template <typename Fits>
Move BestMove(const HGraph* graph, const idx_t* where, const real_t* pw, Fits fits,
              const MoveAsk& ask, BalanceWork& w) {
  const idx_t c = ask.c, from = ask.from, roomiest = ask.roomiest;
  const Objective otype = ask.otype;
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();
  const idx_t stamp = ++w.stamp;

  w.cands.clear();
  auto consider = [&](idx_t q) {
    if (q == from || w.seen[q] == stamp) return;
    w.seen[q] = stamp;
    if (fits(q)) w.cands.push_back(q);
  };
  for (idx_t j = incptr[c]; j < incptr[c + 1]; ++j) {
    const idx_t e = incind[j];
    for (idx_t p = netptr[e]; p < netptr[e + 1]; ++p) consider(where[netind[p]]);
  }
  if (roomiest >= 0)
    consider(roomiest);
  else
    for (idx_t q = 0; q < static_cast<idx_t>(w.seen.size()); ++q) consider(q);
  if (w.cands.empty()) return Move{};

  w.delta.assign(w.cands.size(), 0.0f);
  for (idx_t j = incptr[c]; j < incptr[c + 1]; ++j) {
    const idx_t e = incind[j];
    const real_t wgt = graph->netwgt[e];
    idx_t span = 0;
    for (idx_t p = netptr[e]; p < netptr[e + 1]; ++p) {
      const idx_t q = where[netind[p]];
      if (w.cnt[q]++ == 0) {
        w.touched.push_back(q);
        span++;
      }
    }
    const real_t before = NetCost(otype, span, wgt);
    const idx_t leaves = (w.cnt[from] == 1) ? 1 : 0;
    for (std::size_t k = 0; k < w.cands.size(); ++k) {
      const idx_t after_span = span - leaves + ((w.cnt[w.cands[k]] == 0) ? 1 : 0);
      const real_t after = NetCost(otype, after_span, wgt);
      w.delta[k] += after - before;
    }
    for (idx_t q : w.touched) w.cnt[q] = 0;
    w.touched.clear();
  }

  // Least increase; then the lighter target; then the lower part number.
  Move best;
  for (std::size_t k = 0; k < w.cands.size(); ++k) {
    const idx_t q = w.cands[k];
    const bool better = best.to == -1 || w.delta[k] < best.delta ||
                        (w.delta[k] == best.delta &&
                         (pw[q] < pw[best.to] || (pw[q] == pw[best.to] && q < best.to)));
    if (better) best = Move{w.delta[k], q};
  }
  return best;
}

// With several weights per cell: repairs the most exceeded weight of the
// most exceeded part first, moving out of it the cells that cost least per
// unit of that weight, each to a part with room for it in every weight.
// Returns the number of moves.
idx_t BalanceKwayMulti(RunContext& ctrl, HGraph* graph) {
  const idx_t n = graph->nvtxs + graph->nislands;
  const idx_t nparts = ctrl.cfg->nparts;
  const idx_t ncon = graph->ncon;
  const idx_t nfixed = std::max<idx_t>(graph->nfixed, 0);
  const real_t* cellwgt = graph->cellwgt.data();
  const real_t* nw = graph->ncellwgt.data();
  idx_t* where = graph->where.data();
  if (n < 1 || nparts < 2 || where == nullptr) return 0;

  std::vector<real_t> pw(nparts, 0.0f);
  std::vector<double> npw(nparts * ncon, 0.0);
  // The part weights from where.
  auto recount = [&] {
    std::fill(pw.begin(), pw.end(), 0.0f);
    std::fill(npw.begin(), npw.end(), 0.0);
    for (idx_t c = 0; c < n; ++c) {
      pw[where[c]] += cellwgt[c];
      for (idx_t j = 0; j < ncon; ++j) npw[where[c] * ncon + j] += nw[c * ncon + j];
    }
  };
  recount();
  double tot[kMaxNCon] = {};
  for (idx_t c = 0; c < n; ++c)
    for (idx_t j = 0; j < ncon; ++j) tot[j] += nw[c * ncon + j];
  // The bound of weight j on part q at q * ncon + j.
  const std::vector<double> maxw = KwayConBounds(ctrl, ncon, tot);
  double inv[kMaxNCon] = {};
  for (idx_t j = 0; j < ncon; ++j) inv[j] = (tot[j] > 0.0) ? 1.0 / tot[j] : 0.0;
  // The part with the most room: the lowest load in its most loaded weight.
  auto roomiest = [&] {
    idx_t best = 0;
    double bestload = 0.0;
    for (idx_t q = 0; q < nparts; ++q) {
      double load = 0.0;
      for (idx_t j = 0; j < ncon; ++j)
        if (maxw[q * ncon + j] > 0.0)
          load = std::max(load, npw[q * ncon + j] / maxw[q * ncon + j]);
      if (q == 0 || load < bestload) {
        best = q;
        bestload = load;
      }
    }
    return best;
  };

  const Objective otype = ctrl.cfg->refinement.objective;
  BalanceWork w;
  w.cnt.assign(nparts, 0);
  w.seen.assign(nparts, 0);
  struct Cand {
    double key;
    idx_t cell;
  };
  std::vector<Cand> order;
  idx_t nmoves = 0;
  // Every round works on the most exceeded weight of the most exceeded
  // part; the rounds are bounded.
  std::vector<char> stuck(nparts * ncon, 0);
  // The part and weight furthest above the bound, relative to the weight's
  // total (p = -1 when none is above it), leaving out the stuck pairs when
  // asked to.
  auto most_exceeded = [&](bool skipstuck, idx_t* p, idx_t* con) {
    double worst = 0.0;
    *p = -1;
    for (idx_t q = 0; q < nparts; ++q)
      for (idx_t j = 0; j < ncon; ++j) {
        const double x = (npw[q * ncon + j] - maxw[q * ncon + j]) * inv[j];
        if (x > worst && !(skipstuck && stuck[q * ncon + j])) {
          worst = x;
          *p = q;
          *con = j;
        }
      }
    return worst;
  };
  for (idx_t round = 0; round < nparts * ncon * 8; ++round) {
    idx_t p = -1;
    idx_t con = 0;
    most_exceeded(true, &p, &con);
    if (p == -1) break;

    // First only into parts that stay within every bound; when that
    // leaves p over, also into parts that go over a bound by less than p
    // comes back under its bounds (the summed relative excess of all parts
    // falls with every move, so the rounds cannot cycle).
    idx_t moved = 0;
    for (const bool strict : {true, false}) {
      if (!(npw[p * ncon + con] > maxw[p * ncon + con])) break;
      // How far weight x of weight j on part q lies above its bound.
      auto over = [&](double x, idx_t q, idx_t j) {
        return std::max(x - maxw[q * ncon + j], 0.0) * inv[j];
      };
      auto fits_for = [&](const real_t* wc) {
        double relief = 0.0;  // what p's excess falls by
        if (!strict)
          for (idx_t j = 0; j < ncon; ++j)
            relief += over(npw[p * ncon + j], p, j) - over(npw[p * ncon + j] - wc[j], p, j);
        return [&, wc, relief](idx_t q) {
          double added = 0.0;
          for (idx_t j = 0; j < ncon; ++j) {
            const double before = npw[q * ncon + j];
            if (strict && before + wc[j] > maxw[q * ncon + j]) return false;
            added += over(before + wc[j], q, j) - over(before, q, j);
          }
          return strict || added < relief;
        };
      };
      order.clear();
      // The relaxed pass looks at every part: a cell of a part held up by
      // one weight may have room only in a part it shares no net with.
      const idx_t spare = strict ? roomiest() : -1;
      for (idx_t c = nfixed; c < n; ++c) {
        if (where[c] != p) continue;
        const real_t* wc = nw + c * ncon;
        if (!(wc[con] > 0.0f)) continue;
        const Move m =
            BestMove(graph, where, pw.data(), fits_for(wc), MoveAsk{c, p, spare, otype}, w);
        if (m.to < 0) continue;
        // Improving moves first; then by the cost of the move (plus one, so
        // that free moves are ordered too) per unit of the weight repaired,
        // times the cell's footprint in all weights: a cell that carries
        // little else uses up little room in the part it goes to.
        double foot = 0.0;
        for (idx_t j = 0; j < ncon; ++j) foot += wc[j] * inv[j];
        const double key = (m.delta < 0.0f)
                               ? m.delta - 1e30
                               : (m.delta + 1.0) * foot / (wc[con] * inv[con]);
        order.push_back({key, c});
      }
      std::sort(order.begin(), order.end(), [](const Cand& a, const Cand& b) {
        if (a.key != b.key) return a.key < b.key;
        return a.cell < b.cell;
      });
      for (const Cand& cand : order) {
        if (!(npw[p * ncon + con] > maxw[p * ncon + con])) break;
        const idx_t c = cand.cell;
        const real_t* wc = nw + c * ncon;
        const Move m = BestMove(graph, where, pw.data(), fits_for(wc),
                                MoveAsk{c, p, strict ? roomiest() : -1, otype}, w);
        if (m.to < 0) continue;
        where[c] = m.to;
        pw[p] -= cellwgt[c];
        pw[m.to] += cellwgt[c];
        for (idx_t j = 0; j < ncon; ++j) {
          npw[p * ncon + j] -= wc[j];
          npw[m.to * ncon + j] += wc[j];
        }
        moved++;
      }
    }
    nmoves += moved;
    // A pair that gave nothing is not tried again until some other move
    // has made room.
    if (moved > 0)
      std::fill(stuck.begin(), stuck.end(), 0);
    else
      stuck[p * ncon + con] = 1;
  }

  // The parts with the most room in weight con first, p left out.
  auto partners_of = [&](idx_t p, idx_t con) {
    std::vector<std::pair<double, idx_t>> partners;
    for (idx_t q = 0; q < nparts; ++q)
      if (q != p) partners.emplace_back(npw[q * ncon + con] - maxw[q * ncon + con], q);
    std::sort(partners.begin(), partners.end());
    return partners;
  };

  // With target weights the parts want the weights in mixes of their own,
  // which single moves into parts with room seldom reach: parts p and q
  // trade cells while that lowers their summed excess over the bounds,
  // each time by the move that lowers it most or, when no move does, by
  // the best exchange of two cells (a part over in one weight and short in
  // another gives cells rich in the first for cells rich in the second).
  // Returns the number of cells moved.
  auto trade = [&](idx_t p, idx_t q) {
    const idx_t side[2] = {p, q};
    std::vector<idx_t> cells[2];
    for (idx_t c = nfixed; c < n; ++c)
      if (where[c] == p || where[c] == q) cells[where[c] == p ? 0 : 1].push_back(c);
    auto over = [&](idx_t k, idx_t j, double x) {
      return std::max(x - maxw[k * ncon + j], 0.0) * inv[j];
    };
    // The change of the pair's excess when weights x go from side s to
    // the other.
    auto change = [&](int s, const double* x) {
      const idx_t a = side[s], b = side[1 - s];
      double d = 0.0;
      for (idx_t j = 0; j < ncon; ++j) {
        const double wa = npw[a * ncon + j], wb = npw[b * ncon + j];
        d += over(a, j, wa - x[j]) - over(a, j, wa) + over(b, j, wb + x[j]) - over(b, j, wb);
      }
      return d;
    };
    // Cell i of side s goes to the other side.
    auto shift = [&](int s, std::size_t i) {
      const idx_t c = cells[s][i];
      const idx_t from = side[s], to = side[1 - s];
      cells[s][i] = cells[s].back();
      cells[s].pop_back();
      cells[1 - s].push_back(c);
      where[c] = to;
      pw[from] -= cellwgt[c];
      pw[to] += cellwgt[c];
      for (idx_t j = 0; j < ncon; ++j) {
        npw[from * ncon + j] -= nw[c * ncon + j];
        npw[to * ncon + j] += nw[c * ncon + j];
      }
    };
    constexpr std::size_t kSwapCands = 64;
    constexpr std::size_t kMaxTradeSteps = 1024;
    constexpr double kGain = -1e-12;  // what counts as lowering the excess
    std::vector<std::pair<double, std::size_t>> cand[2];
    // Each step scans the pair's cells: a bounded number of steps keeps the
    // repair linear in them.
    const std::size_t limit = std::min(cells[0].size() + cells[1].size(), kMaxTradeSteps);
    idx_t moved = 0;
    for (std::size_t step = 0; step < limit; ++step) {
      // The best single move, and the cells that suit an exchange best:
      // ranked by what they carry in the weights in which their side is
      // full (at least 0.999 of its bound) less what they carry in those
      // in which the other side is.
      double x[kMaxNCon];
      double slope[kMaxNCon];
      for (idx_t j = 0; j < ncon; ++j) {
        auto full = [&](idx_t k) { return npw[k * ncon + j] >= 0.999 * maxw[k * ncon + j]; };
        slope[j] = ((full(q) ? 1.0 : 0.0) - (full(p) ? 1.0 : 0.0)) * inv[j];
      }
      double single = kGain;
      int ss = -1;
      std::size_t si = 0;
      for (int s = 0; s < 2; ++s) {
        cand[s].clear();
        for (std::size_t i = 0; i < cells[s].size(); ++i) {
          const real_t* wc = nw + cells[s][i] * ncon;
          double rank = 0.0;
          for (idx_t j = 0; j < ncon; ++j) {
            x[j] = wc[j];
            rank += (s == 0 ? slope[j] : -slope[j]) * wc[j];
          }
          const double d = change(s, x);
          if (d < single) {
            single = d;
            ss = s;
            si = i;
          }
          cand[s].emplace_back(rank, i);
        }
        const std::size_t k = std::min(kSwapCands, cand[s].size());
        std::partial_sort(cand[s].begin(), cand[s].begin() + k, cand[s].end());
        cand[s].resize(k);
      }
      if (ss >= 0) {
        shift(ss, si);
        moved++;
        continue;
      }
      double best = kGain;
      std::size_t bi = 0, bj = 0;
      for (const auto& [ra, ia] : cand[0])
        for (const auto& [rb, ib] : cand[1]) {
          for (idx_t j = 0; j < ncon; ++j)
            x[j] = static_cast<double>(nw[cells[0][ia] * ncon + j]) - nw[cells[1][ib] * ncon + j];
          const double d = change(0, x);
          if (d < best) {
            best = d;
            bi = ia;
            bj = ib;
          }
        }
      if (!(best < kGain)) break;
      shift(0, bi);  // leaves the order of side 1's cells as it was
      shift(1, bj);
      moved += 2;
    }
    return moved;
  };
  // The most exceeded part trades with the parts that have the most room
  // in the weight it exceeds most; when it cannot, the next most exceeded
  // part does, until none can.
  auto worst_of = [&](idx_t q, idx_t* con) {
    double worst = 0.0;
    for (idx_t j = 0; j < ncon; ++j) {
      const double x = (npw[q * ncon + j] - maxw[q * ncon + j]) * inv[j];
      if (x > worst) {
        worst = x;
        *con = j;
      }
    }
    return worst;
  };
  for (idx_t attempt = 0; KwayOwnBounds(ctrl, ncon) && attempt < 2 * nparts * ncon; ++attempt) {
    std::vector<std::pair<double, idx_t>> above;
    for (idx_t q = 0; q < nparts; ++q) {
      idx_t con = 0;
      const double x = worst_of(q, &con);
      if (x > 0.0) above.emplace_back(-x, q);
    }
    std::sort(above.begin(), above.end());
    idx_t moved = 0;
    for (std::size_t i = 0; i < above.size() && moved == 0; ++i) {
      const idx_t p = above[i].second;
      idx_t con = 0;
      worst_of(p, &con);
      for (const auto& [room, q] : partners_of(p, con)) {
        moved += trade(p, q);
        if (!(npw[p * ncon + con] > maxw[p * ncon + con])) break;
      }
    }
    nmoves += moved;
    if (moved == 0) break;
  }

  // What single moves could not repair, trades between two parts may: the
  // most exceeded part with each of the parts that have the most room in
  // its most exceeded weight, by the two-way balancing on the pair.
  for (idx_t attempt = 0; attempt < nparts * ncon; ++attempt) {
    idx_t p = -1;
    idx_t con = 0;
    most_exceeded(false, &p, &con);
    if (p == -1) break;
    const std::vector<std::pair<double, idx_t>> partners = partners_of(p, con);
    bool any = false;
    for (std::size_t i = 0; i < partners.size(); ++i) {
      if (!BalancePartPair(ctrl, graph, p, partners[i].second, maxw.data())) continue;
      any = true;
      nmoves++;
      recount();
      if (!(npw[p * ncon + con] > maxw[p * ncon + con])) break;
    }
    if (!any) break;
  }

  if (nmoves > 0) {
    if (!graph->kpwgts.empty()) std::copy(pw.begin(), pw.end(), graph->kpwgts.data());
    if (!graph->nkpwgts.empty())
      for (idx_t i = 0; i < nparts * ncon; ++i) graph->nkpwgts[i] = static_cast<real_t>(npw[i]);
    graph->mincut = ComputeCut(graph, where);
    if (otype != Objective::Cut) graph->soed = ComputeSOED(graph, where);
    graph->objval = ObjectiveValue(otype, graph->mincut, graph->soed);
  }
  return nmoves;
}

}  // namespace

double KwayExcess(const RunContext& ctrl, const HGraph* graph, const idx_t* where) {
  const idx_t n = graph->nvtxs + graph->nislands;
  const idx_t nparts = ctrl.cfg->nparts;
  const idx_t ncon = graph->ncon;
  std::vector<double> npw(nparts * ncon, 0.0);
  double tot[kMaxNCon] = {};
  for (idx_t c = 0; c < n; ++c)
    for (idx_t j = 0; j < ncon; ++j) {
      npw[where[c] * ncon + j] += graph->ncellwgt[c * ncon + j];
      tot[j] += graph->ncellwgt[c * ncon + j];
    }
  const std::vector<double> maxw = KwayConBounds(ctrl, ncon, tot);
  double worst = -1.0;
  for (idx_t j = 0; j < ncon; ++j) {
    if (!(tot[j] > 0.0)) continue;
    for (idx_t q = 0; q < nparts; ++q)
      worst = std::max(worst, (npw[q * ncon + j] - maxw[q * ncon + j]) / tot[j]);
  }
  return worst;
}

idx_t BalanceKway(RunContext& ctrl, HGraph* graph) {
  if (graph->ncon > 1) return BalanceKwayMulti(ctrl, graph);
  const idx_t n = graph->nvtxs + graph->nislands;
  const idx_t nparts = ctrl.cfg->nparts;
  const idx_t nfixed = std::max<idx_t>(graph->nfixed, 0);
  const real_t* cellwgt = graph->cellwgt.data();
  idx_t* where = graph->where.data();
  if (n < 1 || nparts < 2 || where == nullptr) return 0;

  std::vector<real_t> pw(nparts, 0.0f);
  for (idx_t c = 0; c < n; ++c) pw[where[c]] += cellwgt[c];
  // The bound the k-way refinement works with.
  const real_t total = ax_fsum(nparts, pw.data(), 1);
  const real_t maxpwgt = (total * ctrl.ubfactor) / static_cast<real_t>(nparts);
  // With target weights, every part has a bound of its own.
  const std::vector<real_t> pmaxv = KwayPartBounds(ctrl, total);
  const real_t* pmax = pmaxv.empty() ? nullptr : pmaxv.data();
  auto bound = [&](idx_t q) { return pmax ? pmax[q] : maxpwgt; };
  // The part a cell may go to when none of its nets' parts has room.
  auto spare = [&] {
    return pmax ? RoomiestPart(nparts, pw.data(), pmax) : ax_fargmin(nparts, pw.data());
  };
  bool over = false;
  for (idx_t p = 0; p < nparts; ++p) over = over || pw[p] > bound(p);
  if (!over) return 0;

  const Objective otype = ctrl.cfg->refinement.objective;
  BalanceWork w;
  w.cnt.assign(nparts, 0);
  w.seen.assign(nparts, 0);

  struct Cand {
    real_t delta;
    real_t wgt;
    idx_t cell;
  };
  std::vector<Cand> order;
  idx_t nmoves = 0;
  for (idx_t p = 0; p < nparts; ++p) {
    while (pw[p] > bound(p)) {
      // Rank the movable cells of p by their best move, then take them in
      // that order, each re-evaluated against the weights as they stand.
      order.clear();
      const idx_t lightest = spare();
      for (idx_t c = nfixed; c < n; ++c) {
        if (where[c] != p) continue;
        const real_t cw = cellwgt[c];
        auto fits = [&](idx_t q) { return pw[q] + cw <= bound(q); };
        const Move m = BestMove(graph, where, pw.data(), fits, MoveAsk{c, p, lightest, otype}, w);
        if (m.to >= 0) order.push_back({m.delta, cellwgt[c], c});
      }
      std::sort(order.begin(), order.end(), [](const Cand& a, const Cand& b) {
        if (a.delta != b.delta) return a.delta < b.delta;
        if (a.wgt != b.wgt) return a.wgt > b.wgt;  // fewer moves for the same loss
        return a.cell < b.cell;
      });
      idx_t moved = 0;
      for (const Cand& cand : order) {
        if (!(pw[p] > bound(p))) break;
        const idx_t c = cand.cell;
        const real_t cw = cellwgt[c];
        auto fits = [&](idx_t q) { return pw[q] + cw <= bound(q); };
        const Move m = BestMove(graph, where, pw.data(), fits,
                                MoveAsk{c, p, spare(), otype}, w);
        if (m.to < 0) continue;
        where[c] = m.to;
        pw[p] -= cellwgt[c];
        pw[m.to] += cellwgt[c];
        moved++;
      }
      nmoves += moved;
      if (moved == 0) break;  // no cell of p fits anywhere
    }
  }

  if (nmoves > 0) {
    if (!graph->kpwgts.empty()) std::copy(pw.begin(), pw.end(), graph->kpwgts.data());
    graph->mincut = ComputeCut(graph, where);
    if (otype != Objective::Cut) graph->soed = ComputeSOED(graph, where);
    graph->objval = ObjectiveValue(otype, graph->mincut, graph->soed);
  }
  return nmoves;
}

}  // namespace veldan
