// The k-way work area of one level and the greedy random-order k-way
// refinement.
//
// The work area keeps, for every counted net (at most rmaxnet pins), the
// parts it touches with their pin counts, and for every cell the gains of
// moving it to each part it shares a cut net with. A move updates the net
// records in place and recomputes only the cells whose gains can change, so
// a pass costs about the pins of the nets touched by its moves and allocates
// nothing per move.
#include <cmath>
#include <cstdio>

#include "kway/kway.h"
#include "support/output.h"
#include "support/parallel.h"
#include "support/support.h"

namespace veldan {

// Nets or cells per chunk of the recount.
static constexpr idx_t kRecountGrain = 4096;

void AllocateKwayRefinementMemory(RunContext& ctrl, HGraph* graph) {
  const idx_t n = graph->nvtxs + graph->nislands;
  const idx_t nparts = ctrl.cfg->nparts;
  const idx_t nnets = graph->nnets;
  const idx_t npins = graph->netptr[nnets];

  graph->where = Array<idx_t>(n, "AllocateRefinementMemory: where");
  graph->kpwgts = Array<real_t>(nparts, "AllocateKwayRefinementMemory: kpwgts");
  if (graph->ncon > 1)
    graph->nkpwgts =
        Array<real_t>(nparts * graph->ncon, "AllocateKwayRefinementMemory: nkpwgts");
  graph->crinfo =
      Array<CellRInfo>(n, "AllocateKwayRefinementMemory: crinfo");
  graph->crdata = Array<CellPartDegree>(
      nparts * n, "AllocateKwayRefinementMemory: crdata");
  graph->nrinfo =
      Array<NetRInfo>(nnets, "AllocateKwayRefinementMemory: nrinfo");
  graph->nrdata =
      Array<NetPartCount>(npins, "AllocateKwayRefinementMemory: nrdata");

  // A net never spans more parts than it has pins, and a cell never has
  // more than nparts-1 neighbouring parts, so fixed stretches suffice.
  for (idx_t e = 0; e < nnets; ++e) {
    graph->nrinfo[e].nspan = 0;
    graph->nrinfo[e].pcounts = graph->nrdata.data() + graph->netptr[e];
  }
  for (idx_t c = 0; c < n; ++c) {
    graph->crinfo[c].ndegrees = 0;
    graph->crinfo[c].degrees = graph->crdata.data() + c * nparts;
  }
}

// The cell rule: rebuilds the CellRInfo of cell c from the net records and
// where. The records appear in the order their parts are first met over
// the incidence list and each net's part list; the move step depends on it.
static void ComputeCellRInfo(HGraph* graph, idx_t c) {
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();
  const idx_t* netptr = graph->netptr.data();
  const real_t* netwgt = graph->netwgt.data();
  const NetRInfo* nrinfo = graph->nrinfo.data();
  const idx_t p = graph->where[c];

  CellRInfo& r = graph->crinfo[c];
  CellPartDegree* deg = r.degrees;
  real_t iwgt = 0.0f;
  real_t swgt = 0.0f;
  real_t ownwgt = 0.0f;  // nets whose only pin is c
  idx_t nd = 0;

  for (idx_t j = incptr[c]; j < incptr[c + 1]; ++j) {
    const idx_t e = incind[j];
    const idx_t nspan = nrinfo[e].nspan;
    if (nspan == -1) continue;  // not counted
    const real_t w = netwgt[e];
    if (nspan == 1) {
      // A net wholly inside p is cut by any move of c, unless c is its only
      // pin: such a net goes wherever c goes and never enters the cut.
      if (netptr[e + 1] - netptr[e] == 1)
        ownwgt += w;
      else
        iwgt += w;
      continue;
    }
    const NetPartCount* pc = nrinfo[e].pcounts;
    idx_t k = 0;  // pins of e in p (c is one of them)
    for (idx_t i = 0; i < nspan; ++i) {
      if (pc[i].part == p) {
        k = pc[i].count;
        break;
      }
    }
    const bool alone = (k == 1);
    if (alone) swgt += w;
    for (idx_t i = 0; i < nspan; ++i) {
      const idx_t q = pc[i].part;
      if (q == p) continue;
      const idx_t kq = pc[i].count;
      idx_t d = 0;
      while (d < nd && deg[d].part != q) ++d;
      if (d == nd) {
        deg[nd].part = q;
        deg[nd].uncutwgt = 0.0f;
        deg[nd].affinity = 0;
        deg[nd].congain = 0.0f;
        ++nd;
      }
      deg[d].congain += w;  // weight shared with q, for now
      if (k > kq)
        deg[d].affinity -= 1;
      else if (k < kq)
        deg[d].affinity += 1;
      if (alone && nspan == 2) deg[d].uncutwgt += w;  // leaves the cut
    }
  }

  // incwgt also holds the ignored nets, which lower every congain; the
  // single-pin nets are taken out again since a move never changes them.
  const real_t incwgt =
      (ownwgt != 0.0f) ? graph->incwgt[c] - ownwgt : graph->incwgt[c];
  for (idx_t d = 0; d < nd; ++d)
    deg[d].congain = swgt - (incwgt - deg[d].congain);
  r.iwgt = iwgt;
  r.swgt = swgt;
  r.ndegrees = nd;
}

void ComputeKwayPartitionParams(RunContext& ctrl, HGraph* graph) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nnets = graph->nnets;
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  const real_t* netwgt = graph->netwgt.data();
  const real_t* cellwgt = graph->cellwgt.data();
  const idx_t* where = graph->where.data();
  const idx_t rmaxnet = ctrl.cfg->refinement.maxnet;
  real_t* kpwgts = graph->kpwgts.data();
  NetRInfo* nrinfo = graph->nrinfo.data();

  ax_fset(ctrl.cfg->nparts, 0.0f, kpwgts);
  real_t mincut = 0.0f;
  real_t soed = 0.0f;

  // The part counts of the nets and the records of the cells are built in
  // chunks; the cut, the degree sum and the part weights are summed in index
  // order afterwards, as floating-point sums depend on their order.
  ParallelChunks(nnets, kRecountGrain, [&](idx_t /*chunk*/, idx_t begin, idx_t end) {
    for (idx_t e = begin; e < end; ++e) {
      if (netptr[e + 1] - netptr[e] > rmaxnet) {
        nrinfo[e].nspan = -1;
        continue;
      }
      NetPartCount* pc = nrinfo[e].pcounts;
      idx_t nspan = 0;
      for (idx_t j = netptr[e]; j < netptr[e + 1]; ++j) {
        const idx_t part = where[netind[j]];
        idx_t i = 0;
        while (i < nspan && pc[i].part != part) ++i;
        if (i < nspan) {
          pc[i].count += 1;
        } else {
          pc[nspan].part = part;
          pc[nspan].count = 1;
          ++nspan;
        }
      }
      nrinfo[e].nspan = nspan;
    }
  });
  for (idx_t e = 0; e < nnets; ++e) {
    const idx_t nspan = nrinfo[e].nspan;
    if (nspan > 1) {
      mincut += netwgt[e];
      soed += static_cast<real_t>(nspan) * netwgt[e];
    }
  }

  ParallelChunks(nvtxs, kRecountGrain, [&](idx_t /*chunk*/, idx_t begin, idx_t end) {
    for (idx_t c = begin; c < end; ++c) ComputeCellRInfo(graph, c);
  });
  for (idx_t c = 0; c < nvtxs; ++c) kpwgts[where[c]] += cellwgt[c];
  if (graph->ncon > 1) {
    const idx_t ncon = graph->ncon;
    ax_fset(ctrl.cfg->nparts * ncon, 0.0f, graph->nkpwgts.data());
    for (idx_t c = 0; c < nvtxs; ++c)
      for (idx_t j = 0; j < ncon; ++j)
        graph->nkpwgts[where[c] * ncon + j] += graph->ncellwgt[c * ncon + j];
  }
  graph->mincut = mincut;
  graph->soed = soed;
}

void UpdateKwayCellInfo(HGraph* graph, idx_t n, const idx_t* cells) {
  for (idx_t i = 0; i < n; ++i) ComputeCellRInfo(graph, cells[i]);
}

idx_t UpdateKwayAfterMove(HGraph* graph, idx_t c, idx_t from, idx_t to,
                          idx_t* marker, idx_t* updind) {
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  NetRInfo* nrinfo = graph->nrinfo.data();

  marker[c] = c;
  updind[0] = c;
  idx_t n = 1;

  for (idx_t j = incptr[c]; j < incptr[c + 1]; ++j) {
    const idx_t e = incind[j];
    idx_t nspan = nrinfo[e].nspan;
    if (nspan == -1) continue;
    NetPartCount* pc = nrinfo[e].pcounts;

    // One pin fewer in `from`; a part left empty gives its slot to the
    // last record.
    idx_t i = 0;
    while (pc[i].part != from) ++i;
    const idx_t fromleft = --pc[i].count;
    if (fromleft == 0) {
      pc[i] = pc[nspan - 1];
      --nspan;
    }

    // One pin more in `to`.
    idx_t tocount = 1;
    bool found = false;
    for (i = 0; i < nspan; ++i) {
      if (pc[i].part == to) {
        tocount = ++pc[i].count;
        found = true;
        break;
      }
    }
    if (!found) {
      pc[nspan].part = to;
      pc[nspan].count = 1;
      ++nspan;
    }
    nrinfo[e].nspan = nspan;

    // The span is unchanged and neither part's count crossed the values
    // (1 and 2) that decide the other pins' uncut and single-pin weights.
    if (found && fromleft > 1 && tocount > 2) continue;

    for (idx_t p = netptr[e]; p < netptr[e + 1]; ++p) {
      const idx_t u = netind[p];
      if (marker[u] != c) {
        marker[u] = c;
        updind[n++] = u;
      }
    }
  }

  UpdateKwayCellInfo(graph, n, updind);
  return n;
}

// Whether record e beats record d for the move of a cell: the objective's
// own measure first, then the other one, then affinity; on a full tie the
// lighter (or equally light) target part wins. congain is the fall of km1
// (a net loses a part when c is its only pin in p, gains one when it has no
// pin in the target), so soed and km1 both rank by it first.
static inline bool BetterDegree(const CellPartDegree& e, const CellPartDegree& d,
                                Objective otype, const real_t* kpwgts) {
  if (otype == Objective::Cut) {
    if (e.uncutwgt != d.uncutwgt) return e.uncutwgt > d.uncutwgt;
    if (e.congain != d.congain) return e.congain > d.congain;
  } else {
    if (e.congain != d.congain) return e.congain > d.congain;
    if (e.uncutwgt != d.uncutwgt) return e.uncutwgt > d.uncutwgt;
  }
  if (e.affinity != d.affinity) return e.affinity > d.affinity;
  return kpwgts[e.part] <= kpwgts[d.part];
}

bool KwayOwnBounds(const RunContext& ctrl, idx_t ncon) {
  return ncon > 1 && ctrl.cfg->balance.maxshare.size() ==
                         static_cast<std::size_t>(ctrl.cfg->nparts * ncon);
}

std::vector<double> KwayConBounds(const RunContext& ctrl, idx_t ncon, const double* tot) {
  std::vector<double> maxw;
  KwayConBoundsInto(ctrl, ncon, tot, &maxw);
  return maxw;
}

void KwayConBoundsInto(const RunContext& ctrl, idx_t ncon, const double* tot,
                       std::vector<double>* out) {
  const idx_t nparts = ctrl.cfg->nparts;
  const std::vector<double>& share = ctrl.cfg->balance.maxshare;
  const bool own = KwayOwnBounds(ctrl, ncon);
  std::vector<double>& maxw = *out;
  maxw.resize(static_cast<std::size_t>(nparts * ncon));
  for (idx_t j = 0; j < ncon; ++j) {
    const double even = tot[j] * ctrl.nubfactor[j] / static_cast<double>(nparts);
    for (idx_t p = 0; p < nparts; ++p)
      maxw[p * ncon + j] = own ? tot[j] * share[p * ncon + j] : even;
  }
}

void KwayMaxPartWeights(const RunContext& ctrl, const HGraph* graph, std::vector<double>* out) {
  const idx_t ncon = graph->ncon;
  const idx_t nparts = ctrl.cfg->nparts;
  double tot[kMaxNCon] = {};
  for (idx_t j = 0; j < ncon; ++j)
    for (idx_t p = 0; p < nparts; ++p) tot[j] += graph->nkpwgts[p * ncon + j];
  KwayConBoundsInto(ctrl, ncon, tot, out);
}

std::vector<real_t> KwayPartBounds(const RunContext& ctrl, real_t total) {
  const std::vector<double>& share = ctrl.cfg->balance.maxshare;
  // Several weights: their bounds are KwayConBounds, the mean has none.
  if (share.size() != static_cast<std::size_t>(ctrl.cfg->nparts)) return {};
  std::vector<real_t> pmax(share.size());
  for (std::size_t p = 0; p < share.size(); ++p)
    pmax[p] = static_cast<real_t>(static_cast<double>(total) * share[p]);
  return pmax;
}

idx_t RoomiestPart(idx_t nparts, const real_t* pw, const real_t* pmax) {
  idx_t best = 0;
  for (idx_t q = 1; q < nparts; ++q)
    if (pmax[q] - pw[q] > pmax[best] - pw[best]) best = q;
  return best;
}

// With kMulti, every weight of the target part is checked against its own
// bound (the level carries several weights per cell).
template <bool kMulti>
static void RefineKwayRandom(RunContext& ctrl, HGraph* graph, idx_t npasses) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nparts = ctrl.cfg->nparts;
  const Objective otype = ctrl.cfg->refinement.objective;
  const idx_t nfixed = graph->nfixed;
  const real_t* cellwgt = graph->cellwgt.data();

  Array<idx_t> permbuf(nvtxs, "RefineKway_Random: perm");
  idx_t* perm = permbuf.data();
  Array<idx_t> markerbuf(nvtxs, "RefineKway_Random: marker");
  idx_t* marker = markerbuf.data();
  Array<idx_t> updindbuf(nvtxs, "RefineKway_Random: updind");
  idx_t* updind = updindbuf.data();

  StartTimer(ctrl, TIMER_INIT);
  ax_iincset(nvtxs, 0, perm);
  ComputeKwayPartitionParams(ctrl, graph);
  real_t* kpwgts = graph->kpwgts.data();
  idx_t* where = graph->where.data();
  const real_t total = ax_fsum(nparts, kpwgts, 1);
  const real_t maxpwgt = (total * ctrl.ubfactor) / static_cast<real_t>(nparts);
  const real_t minpwgt =
      total / (static_cast<real_t>(nparts) * ctrl.ubfactor);
  const idx_t ncon = graph->ncon;
  const real_t* ncellwgt = graph->ncellwgt.data();
  real_t* nkpwgts = graph->nkpwgts.data();
  std::vector<double> nmaxpwgt;
  if constexpr (kMulti) KwayMaxPartWeights(ctrl, graph, &nmaxpwgt);
  // With target weights every part has a bound of its own.
  const std::vector<real_t> pmax = KwayPartBounds(ctrl, total);
  const real_t* pmaxp = pmax.empty() ? nullptr : pmax.data();
  StopTimer(ctrl, TIMER_INIT);

  for (idx_t pass = 0; pass < npasses; ++pass) {
    ctrl.rng.Permute(nvtxs, perm, 0);

    if (pass == 0 && (ctrl.cfg->dbglvl & DBG_REFINE))
      Print(
          "Partitions: [%10.3f,%10.3f], Balance: [%10.3f, %10.3f,%10.3f], "
          "Init Cut: %10.3f, Init SOED: %10.3f\n",
          kpwgts[ax_fargmin(nparts, kpwgts)], kpwgts[ax_fargmax(nparts, kpwgts)],
          ctrl.ubfactor, minpwgt, maxpwgt, graph->mincut, graph->soed);

    const real_t oldcut = graph->mincut;
    const real_t oldsoed = graph->soed;
    ax_iset(nvtxs, -1, marker);

    StartTimer(ctrl, TIMER_ITERATE);
    idx_t nmoves = 0;
    for (idx_t ii = 0; ii < nvtxs; ++ii) {
      const idx_t c = perm[ii];
      if (c < nfixed) continue;
      const CellRInfo& r = graph->crinfo[c];
      if (r.iwgt > r.swgt) continue;  // any move would cut more than it uncuts

      const real_t w = cellwgt[c];
      const idx_t p = where[c];
      const CellPartDegree* deg = r.degrees;
      const idx_t nd = r.ndegrees;
      // Whether part q has room for c.
      auto fits = [&](idx_t q) {
        if constexpr (kMulti) {
          const real_t* wc = ncellwgt + c * ncon;
          const real_t* pq = nkpwgts + q * ncon;
          for (idx_t j = 0; j < ncon; ++j)
            if (static_cast<double>(pq[j]) + wc[j] > nmaxpwgt[q * ncon + j]) return false;
          return true;
        } else {
          return !(w + kpwgts[q] > (pmaxp ? pmaxp[q] : maxpwgt));
        }
      };

      // First feasible record that does not worsen the objective's measure.
      idx_t best = 0;
      for (; best < nd; ++best) {
        const CellPartDegree& d = deg[best];
        if (!fits(d.part)) continue;
        if (otype == Objective::Cut ? d.uncutwgt >= r.iwgt : d.congain >= 0.0f)
          break;
      }
      if (best == nd) continue;
      for (idx_t j = best + 1; j < nd; ++j) {
        if (!fits(deg[j].part)) continue;
        if (BetterDegree(deg[j], deg[best], otype, kpwgts)) best = j;
      }
      const CellPartDegree d = deg[best];  // copy: the move rebuilds deg
      const idx_t q = d.part;

      // Decide: the primary measure, then the secondary one, then the tie
      // rule (affinity, then a strictly narrowing balance).
      int verdict;  // 1 move, -1 skip, 0 tie
      if (otype == Objective::Cut) {
        if (d.uncutwgt > r.iwgt)
          verdict = 1;
        else
          verdict = d.congain > 0.0f ? 1 : (d.congain < 0.0f ? -1 : 0);
      } else {
        if (d.congain > 0.0f)
          verdict = 1;
        else
          verdict = d.uncutwgt > r.iwgt ? 1 : (d.uncutwgt < r.iwgt ? -1 : 0);
      }
      if (verdict == 0) {
        if (d.affinity > 0)
          verdict = 1;
        else if (d.affinity < 0)
          verdict = -1;
        else
          verdict = (pmaxp ? (kpwgts[q] + w) * pmaxp[p] < kpwgts[p] * pmaxp[q]
                           : kpwgts[p] - kpwgts[q] > w)
                        ? 1
                        : -1;
      }
      if (verdict < 0) continue;

      const real_t iwgt = r.iwgt;
      const real_t g = d.uncutwgt - iwgt;
      graph->mincut -= g;
      graph->soed -= g + d.congain;
      kpwgts[q] += w;
      kpwgts[p] -= w;
      if constexpr (kMulti) {
        for (idx_t j = 0; j < ncon; ++j) {
          nkpwgts[q * ncon + j] += ncellwgt[c * ncon + j];
          nkpwgts[p * ncon + j] -= ncellwgt[c * ncon + j];
        }
      }
      where[c] = q;

      if (ctrl.cfg->dbglvl & DBG_MOVES)
        Print(
            "\tMoving %6ld[%3ld] (%3ld -> %3ld) [%6.2f %6.2f %10.3f %6ld] "
            "%10.3f %10.3f\n",
            c, graph->incptr[c + 1] - graph->incptr[c], p, q, iwgt, d.uncutwgt,
            d.congain, d.affinity, graph->mincut, graph->soed);

      UpdateKwayAfterMove(graph, c, p, q, marker, updind);
      ++nmoves;
    }
    StopTimer(ctrl, TIMER_ITERATE);

    if (ctrl.cfg->dbglvl & DBG_REFINE)
      Print(
          "\tCut: %12.3f, SOED: %12.3f, Nmoves: %3ld, Pwgts: [%10.3f %10.3f]\n",
          graph->mincut, graph->soed, nmoves,
          kpwgts[ax_fargmin(nparts, kpwgts)],
          kpwgts[ax_fargmax(nparts, kpwgts)]);

    if (std::fabs(oldcut - graph->mincut) <= kFloatEps &&
        std::fabs(oldsoed - graph->soed) <= kFloatEps)
      break;
  }

  graph->objval = ObjectiveValue(otype, graph->mincut, graph->soed);
}

void RefineKway_Random(RunContext& ctrl, HGraph* graph, idx_t npasses) {
  if (graph->ncon > 1)
    RefineKwayRandom<true>(ctrl, graph, npasses);
  else
    RefineKwayRandom<false>(ctrl, graph, npasses);
}

}  // namespace veldan
