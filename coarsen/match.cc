// Matching: the clique graph of a level, the randomised low-degree-first
// visit and the choice of a partner (or a partner's group) for every cell.
// The eleven coarsening schemes differ only in the greedy bit and the
// variant bit of cflags and in maxgroupsize.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "coarsen/coarsen.h"
#include "coarsen/internal.h"
#include "support/memory.h"
#include "support/parallel.h"
#include "support/sort.h"
#include "support/vecops.h"

namespace veldan {

namespace {

// Cells per chunk of the clique graph's construction.
constexpr idx_t kCliqueGrain = 4096;

// Sets matchthreshold from the summed connection weight of nedges entries.
void SetMatchThreshold(const RunContext& ctrl, HGraph* graph, real_t sum,
                       idx_t nedges) {
  graph->matchthreshold = 0.0f;
  if ((ctrl.cflags & CFLAG_GREEDY) && nedges > 0) {
    if (ctrl.cflags & CFLAG_VARIANT1)
      graph->matchthreshold = static_cast<real_t>(0.5 * sum / nedges);
    else
      graph->matchthreshold = sum / static_cast<real_t>(nedges);
  }
}

void ReleaseCliqueArrays(HGraph* graph) {
  graph->xadj.reset();
  graph->adj.reset();
  graph->adjw.reset();
  graph->adjscore.reset();
}

}  // namespace

void CreateAdjancentGraph(RunContext& ctrl, HGraph* graph) {
  if (graph->keepadj && !graph->xadj.empty()) {
    SetMatchThreshold(ctrl, graph, graph->adjwsum, graph->xadj[graph->nvtxs]);
    return;
  }

  const idx_t nvtxs = graph->nvtxs;
  const idx_t cmaxnet = ctrl.cfg->coarsening.maxnet;
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();
  const real_t* edgewgt = graph->edgewgt.data();
  const real_t* edgewgt2 = graph->edgewgt2.data();

  // Cell ids are stored in 32 bits; a level too large for that could not be
  // held in memory anyway, but say so rather than wrap.
  if (nvtxs > static_cast<idx_t>(UINT32_MAX))
    errexit("CreateAdjancentGraph: %ld cells are too many for one level.\n",
            static_cast<long>(nvtxs));

  // A net of s pins contributes s - 1 entries at most to each of its cells,
  // s x (s-1) in all; larger nets than cmaxnet are left out, which bounds
  // the graph. The cells are split into chunks, each filling its own region
  // of the arrays, sized by that bound over its cells and claimed when the
  // chunk starts, right after the last claim; a chunk gives back the unused
  // tail of its claim when nothing was claimed after it. Run one after
  // another, the chunks thus fill the arrays without gaps.
  const idx_t nchunks = ChunkCount(nvtxs, kCliqueGrain);
  std::vector<idx_t> region(static_cast<std::size_t>(nchunks) + 1, 0);
  if (nchunks == 1) {
    region[1] = CliqueEntryBound(*graph, cmaxnet);
  } else {
    ParallelChunks(nvtxs, kCliqueGrain, [&](idx_t c, idx_t begin, idx_t end) {
      idx_t bound = 0;
      for (idx_t q = incptr[begin]; q < incptr[end]; q++) {
        const idx_t s = netptr[incind[q] + 1] - netptr[incind[q]];
        if (s >= 1 && s <= cmaxnet) bound += s - 1;
      }
      region[c + 1] = bound;
    });
    for (idx_t c = 0; c < nchunks; c++) region[c + 1] += region[c];
  }
  const idx_t capacity = region[nchunks];

  graph->xadj = Array<idx_t>(nvtxs + 1, "CreateAdjancentGraph: xadj");
  graph->adj = Array<CliqueEdge>(capacity, "CreateAdjancentGraph: adjncy");
  graph->adjw = Array<real_t>(capacity, "CreateAdjancentGraph: adjwgt");
  idx_t* xadj = graph->xadj.data();
  CliqueEdge* adj = graph->adj.data();
  real_t* adjw = graph->adjw.data();

  // marker[j] - base is the position of j's entry in the current chunk's
  // place while the current cell lists it; any smaller value means "not
  // yet listed". A marker passes from chunk to chunk with base raised past
  // every value written, so it never needs clearing.
  struct Marker {
    Array<idx_t> marker;
    idx_t base = 0;
  };
  std::mutex lock;
  std::vector<Marker> markers;
  idx_t claimed = 0;
  std::vector<idx_t> at(static_cast<std::size_t>(nchunks), 0);
  std::vector<idx_t> count(static_cast<std::size_t>(nchunks), 0);
  ParallelChunks(nvtxs, kCliqueGrain, [&](idx_t c, idx_t begin, idx_t end) {
    const idx_t bound = region[c + 1] - region[c];
    Marker m;
    {
      std::lock_guard<std::mutex> g(lock);
      at[c] = claimed;
      claimed += bound;
      if (!markers.empty()) {
        m = std::move(markers.back());
        markers.pop_back();
      }
    }
    if (m.marker.empty()) m.marker = Array<idx_t>(nvtxs, -1, "CreateAdjancentGraph: marker");
    idx_t* marker = m.marker.data();
    const idx_t base = m.base;
    CliqueEdge* cadj = adj + at[c];
    real_t* cadjw = adjw + at[c];
    idx_t n = 0;
    for (idx_t i = begin; i < end; i++) {
      const idx_t start = base + n;
      for (idx_t q = incptr[i]; q < incptr[i + 1]; q++) {
        const idx_t e = incind[q];
        const idx_t s = netptr[e + 1] - netptr[e];
        if (s < 1 || s > cmaxnet) continue;
        const real_t w = edgewgt[e];
        const real_t w2 = edgewgt2[e];
        for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) {
          const idx_t j = netind[p];
          if (j == i) continue;
          if (marker[j] < start) {
            cadj[n] = CliqueEdge{static_cast<std::uint32_t>(j), w2};
            cadjw[n] = w;
            marker[j] = base + n++;
          } else {
            cadjw[marker[j] - base] += w;
            cadj[marker[j] - base].w2 += w2;
          }
        }
      }
      xadj[i + 1] = n;
    }
    count[c] = n;
    m.base = base + n;
    std::lock_guard<std::mutex> g(lock);
    if (claimed == at[c] + bound) claimed = at[c] + n;
    markers.push_back(std::move(m));
  });
  markers.clear();

  // The chunks' lists go to their places in chunk order; the weights are
  // summed in the order of the entries. With the claims in chunk order, the
  // gaps close in place, front to back (a list moves down, never past the
  // start of its own old place); else the lists are copied into new arrays.
  bool inorder = true;
  for (idx_t c = 1; c < nchunks; c++) inorder = inorder && at[c] > at[c - 1];
  xadj[0] = 0;
  idx_t nedges = 0;
  for (idx_t c = 0; c < nchunks; c++) {
    region[c] = nedges;
    nedges += count[c];
  }
  real_t sum = 0.0f;
  if (inorder) {
    for (idx_t c = 0; c < nchunks; c++) {
      const idx_t n = count[c];
      const idx_t to = region[c];
      if (at[c] != to && n > 0) {
        std::memmove(adj + to, adj + at[c], sizeof(CliqueEdge) * static_cast<std::size_t>(n));
        std::memmove(adjw + to, adjw + at[c], sizeof(real_t) * static_cast<std::size_t>(n));
      }
      for (idx_t e = to; e < to + n; e++) sum += adjw[e];
    }
    // Give back the unused tail (nets with repeated neighbours fill less
    // than the capacity); shrinking to 0 entries releases the arrays.
    if (nedges < capacity) {
      graph->adj.Resize(nedges, "CreateAdjancentGraph: adjncy");
      graph->adjw.Resize(nedges, "CreateAdjancentGraph: adjwgt");
    }
  } else {
    Array<CliqueEdge> cadj(nedges, "CreateAdjancentGraph: adjncy");
    Array<real_t> cadjw(nedges, "CreateAdjancentGraph: adjwgt");
    ParallelChunks(nvtxs, kCliqueGrain, [&](idx_t c, idx_t /*begin*/, idx_t /*end*/) {
      std::copy(adj + at[c], adj + at[c] + count[c], cadj.data() + region[c]);
      std::copy(adjw + at[c], adjw + at[c] + count[c], cadjw.data() + region[c]);
    });
    for (idx_t e = 0; e < nedges; e++) sum += cadjw[e];
    graph->adj = std::move(cadj);
    graph->adjw = std::move(cadjw);
  }
  if (nchunks > 1)
    ParallelChunks(nvtxs, kCliqueGrain, [&](idx_t c, idx_t begin, idx_t end) {
      const idx_t off = region[c];
      for (idx_t i = begin; i < end; i++) xadj[i + 1] += off;
    });
  graph->adjwsum = sum;
  if (graph->keepadj && nedges > 0)
    graph->adjscore = Array<real_t>(nedges, kUnmarked, "CreateAdjancentGraph: adjscore");
  SetMatchThreshold(ctrl, graph, sum, nedges);
}

idx_t CliqueEntryBound(const HGraph& graph, idx_t maxnet) {
  const idx_t* netptr = graph.netptr.data();
  idx_t bound = 0;
  for (idx_t e = 0; e < graph.nnets; e++) {
    const idx_t s = netptr[e + 1] - netptr[e];
    if (s <= maxnet) bound += s * (s - 1);
  }
  return bound;
}

void FreeAdjacentGraph(RunContext& /*ctrl*/, HGraph* graph) {
  if (!graph->keepadj) ReleaseCliqueArrays(graph);
}

void KeepCliqueGraph(HGraph* graph) {
  graph->keepadj = true;
}

void ReleaseCliqueGraph(HGraph* graph) {
  graph->keepadj = false;
  ReleaseCliqueArrays(graph);
}

void MakeGroupLists(idx_t nvtxs, idx_t cnvtxs, const pin_t* cellmap, pin_t* mptr,
                    pin_t* mind) {
  // Counting sort: sizes at c+1, prefix sums, then fill front to back so
  // that every group lists its cells in increasing fine id.
  for (idx_t c = 0; c <= cnvtxs; c++) mptr[c] = 0;
  for (idx_t i = 0; i < nvtxs; i++) mptr[cellmap[i] + 1]++;
  for (idx_t c = 1; c <= cnvtxs; c++) mptr[c] += mptr[c - 1];
  for (idx_t i = 0; i < nvtxs; i++) mind[mptr[cellmap[i]]++] = static_cast<pin_t>(i);
  // Every start moved to the next group's start: shift back by one.
  for (idx_t c = cnvtxs; c > 0; c--) mptr[c] = mptr[c - 1];
  mptr[0] = 0;
}

idx_t MatchLimit(idx_t draw, idx_t nvtxs) {
  return static_cast<idx_t>(((draw - 500) * 0.0001 + 0.4) * nvtxs);
}

namespace {

// Variant-1 score of candidate j = adj[e].cell for cell i, whose
// neighbourhood is marked in cmark with total as the sum of its marks: the
// connection weight less 0.8 x the smaller of the weight i keeps outside the
// pair's common neighbourhood and the weight j has outside i's.
inline real_t VariantOneScore(const idx_t* xadj, const CliqueEdge* adj, idx_t e,
                              idx_t j, real_t wij, real_t total, const real_t* cmark) {
  // rest: i's connections that reach neither j nor j's neighbours;
  // out: j's connections that lie outside i's neighbourhood. Unmarked entries
  // hold NaN; both sums take every entry through a select rather than a
  // branch, since whether a neighbour's neighbour is marked follows no
  // pattern. Adding or subtracting 0 leaves either sum bit for bit as the
  // branching loop would.
  real_t rest = total - adj[e].w2;
  real_t out = 0.0f;
  const CliqueEdge* const jend = adj + xadj[j + 1];
  for (const CliqueEdge* f = adj + xadj[j]; f < jend; f++) {
    const real_t m = cmark[f->cell];
    // All ones when m is a mark, all zeros for NaN; the masked bits of the
    // other operand are +0.0f. Written on the bits, as compilers turn the
    // plain conditional back into a branch.
    const std::uint32_t mask = 0u - static_cast<std::uint32_t>(m == m);
    rest -= std::bit_cast<real_t>(std::bit_cast<std::uint32_t>(m) & mask);
    out += std::bit_cast<real_t>(std::bit_cast<std::uint32_t>(f->w2) & ~mask);
  }
  return static_cast<real_t>(static_cast<double>(wij) +
                             (-0.8) * static_cast<double>(std::min(out, rest)));
}

// With several weights: whether cell i and cell j (or j's group cj) stay
// under the bound of every weight together.
bool PairFits(const RunContext& ctrl, const HGraph* graph, idx_t i, idx_t j, idx_t cj,
              const real_t* nwgts) {
  const idx_t ncon = graph->ncon;
  const real_t* wi = graph->ncellwgt.data() + i * ncon;
  const real_t* wj = (cj == -1) ? graph->ncellwgt.data() + j * ncon : nwgts + cj * ncon;
  for (idx_t c = 0; c < ncon; c++)
    if (static_cast<double>(wi[c]) + wj[c] > ctrl.nmaxcellwgt[c]) return false;
  return true;
}

}  // namespace

void SetMaxCellWeights(RunContext& ctrl, const HGraph* graph) {
  const idx_t n = graph->nvtxs;
  const idx_t ncon = graph->ncon;
  const idx_t coarsento = std::max<idx_t>(ctrl.cfg->coarsento, 1);
  for (idx_t c = 0; c < ncon; c++) {
    double total = 0.0;
    for (idx_t i = 0; i < n; i++) total += graph->ncellwgt[i * ncon + c];
    const double heavy = 2.0 * total / static_cast<double>(coarsento);
    double light = total;
    idx_t nheavy = 0;
    for (idx_t i = 0; i < n; i++) {
      const double w = graph->ncellwgt[i * ncon + c];
      if (w > heavy) {
        nheavy++;
        light -= w;
      }
    }
    ctrl.nmaxcellwgt[c] = 2.0 * light / static_cast<double>(std::max<idx_t>(coarsento - nheavy, 1));
  }
}

idx_t FindMatchCandidates(real_t threshold, const RunContext& ctrl, const HGraph* graph,
                          idx_t i, const MatchArrays& m, idx_t* nskipped) {
  const pin_t* cellmap = m.cellmap;
  const real_t* wgts = m.wgts;
  const idx_t* mcounts = m.mcounts;
  const idx_t* where = m.where;
  real_t* cmark = m.cmark;
  FKeyVal* cand = m.cand;
  const real_t* nwgts = m.nwgts;
  const real_t* cellwgt = graph->cellwgt.data();
  const real_t room = ctrl.maxcellwgt - cellwgt[i];
  if (room <= 0.0f) return 0;

  const idx_t* xadj = graph->xadj.data();
  const CliqueEdge* adj = graph->adj.data();
  const real_t* adjw = graph->adjw.data();
  real_t* scores = graph->adjscore.data();
  const bool variant1 = (ctrl.cflags & CFLAG_VARIANT1) != 0;

  // Variant 1 marks i's neighbourhood with the second weights, so that the
  // weight a pair would leave outside itself can be read off j's list.
  // Unmarked entries hold NaN: one 4-byte array serves as both mark and
  // weight. i itself is marked with 0, so subtracting its entry changes
  // nothing. The marks are set only when a score is not known yet (a kept
  // clique graph remembers the scores of earlier matchings).
  real_t total = 0.0f;
  bool marked = false;
  auto mark = [&] {
    for (idx_t e = xadj[i]; e < xadj[i + 1]; e++) {
      cmark[adj[e].cell] = adj[e].w2;
      total += adj[e].w2;
    }
    cmark[i] = 0.0f;
    marked = true;
  };

  auto eligible = [&](idx_t j) {
    if (where[j] != where[i]) return false;
    const idx_t cj = cellmap[j];
    if (mcounts[cj] == 0) return false;
    const real_t wj = (cj == -1) ? cellwgt[j] : wgts[cj];
    if (wj > room) return false;
    return nwgts == nullptr || PairFits(ctrl, graph, i, j, cj, nwgts);
  };
  // A kept score is shared by the runs matching this level at once; a
  // score is a function of the level alone, so whichever run stores it
  // first stores the value every other run would.
  auto score_of = [&](idx_t e) {
    real_t score = kUnmarked;
    if (scores != nullptr)
      score = std::atomic_ref<real_t>(scores[e]).load(std::memory_order_relaxed);
    if (score != score) {
      if (!marked) mark();
      score = VariantOneScore(xadj, adj, e, adj[e].cell, adjw[e], total, cmark);
      if (scores != nullptr)
        std::atomic_ref<real_t>(scores[e]).store(score, std::memory_order_relaxed);
    }
    return score;
  };

  // A score costs a walk of the candidate's own list, and no score exceeds
  // its connection weight. Scoring the heaviest eligible connection first
  // raises the threshold at once, so the walk below passes over every
  // lighter connection unscored: on coarse levels, whose cells have
  // hundreds of neighbours, this keeps the matching near linear in the
  // level's size.
  idx_t ncand = 0;
  idx_t first = -1;
  if (variant1) {
    for (idx_t e = xadj[i]; e < xadj[i + 1]; e++) {
      if (adjw[e] < threshold || (first != -1 && adjw[e] <= adjw[first])) continue;
      if (eligible(adj[e].cell)) first = e;
    }
    if (first != -1) {
      const real_t score = score_of(first);
      if (score < threshold) {
        (*nskipped)++;
      } else {
        cand[ncand++] = FKeyVal{score, static_cast<idx_t>(adj[first].cell)};
        threshold = score;
      }
    }
  }

  for (idx_t e = xadj[i]; e < xadj[i + 1]; e++) {
    if (e == first) continue;
    const idx_t j = adj[e].cell;
    const real_t wij = adjw[e];
    if (!eligible(j)) continue;
    if (wij < threshold) {
      (*nskipped)++;
      continue;
    }
    cand[ncand].key = wij;
    cand[ncand].val = j;
    if (!variant1) {
      ncand++;
      continue;
    }
    const real_t score = score_of(e);
    cand[ncand].key = score;
    if (score < threshold) {
      (*nskipped)++;  // the slot is reused by the next candidate
    } else {
      ncand++;
      threshold = score;
    }
  }

  if (marked) {
    for (idx_t e = xadj[i]; e < xadj[i + 1]; e++) cmark[adj[e].cell] = kUnmarked;
    cmark[i] = kUnmarked;
  }
  return ncand;
}

idx_t SelectMatch(RunContext& ctrl, const HGraph* graph, idx_t i, const MatchArrays& m,
                  int pass) {
  const pin_t* cellmap = m.cellmap;
  const real_t* wgts = m.wgts;
  const FKeyVal* cand = m.cand;
  const real_t* cellwgt = graph->cellwgt.data();
  if (ctrl.maxcellwgt - cellwgt[i] <= 0.0f) return -1;

  const real_t threshold = (pass == 0) ? graph->matchthreshold : -kMaxFloat;
  idx_t nskipped = 0;
  const idx_t ncand = FindMatchCandidates(threshold, ctrl, graph, i, m, &nskipped);
  if (ncand == 0) {
    if (pass == 1) return -1;
    return (nskipped > 0) ? -2 : -1;
  }

  auto weight_of = [&](idx_t j) {
    return (cellmap[j] == -1) ? cellwgt[j] : wgts[cellmap[j]];
  };

  // Highest key wins; on equal keys the lighter cell or group; on equal
  // keys and weights a coin flip from the task's stream.
  idx_t best = cand[0].val;
  real_t bestkey = cand[0].key;
  real_t bestw = weight_of(best);
  for (idx_t k = 1; k < ncand; k++) {
    const idx_t j = cand[k].val;
    const real_t key = cand[k].key;
    const real_t w = weight_of(j);
    bool take;
    if (key > bestkey)
      take = true;
    else if (key < bestkey)
      take = false;
    else if (w < bestw)
      take = true;
    else if (w > bestw)
      take = false;
    else
      take = ctrl.rng.InRange(2) != 0;
    if (take) {
      best = j;
      bestkey = key;
      bestw = w;
    }
  }
  return best;
}

void Match_Edges(RunContext& ctrl, HGraph* graph, const idx_t* where) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nfixed = std::max<idx_t>(graph->nfixed, 0);
  const real_t* cellwgt = graph->cellwgt.data();
  const idx_t* incptr = graph->incptr.data();

  CreateAdjancentGraph(ctrl, graph);

  // Maps of an earlier matching of this level are replaced.
  graph->mptr.reset();
  graph->mind.reset();
  graph->cellmap.reset();
  graph->mptr = Array<pin_t>(nvtxs + 1, -1, "Match_Edges: graph->mptr");
  graph->mind = Array<pin_t>(nvtxs, -1, "Match_Edges: graph->mind");
  graph->cellmap = Array<pin_t>(nvtxs, -1, "Match_Edges: graph->cellmap");
  pin_t* cellmap = graph->cellmap.data();

  Array<idx_t> permbuf(nvtxs, "Match_Edges: perm");
  idx_t* perm = permbuf.data();
  Array<real_t> cmarkbuf(nvtxs, kUnmarked, "Match_Edges: cmark");
  real_t* cmark = cmarkbuf.data();
  Array<FKeyVal> candbuf(nvtxs, "Match_Edges: cand");
  FKeyVal* cand = candbuf.data();
  // Slot 0 of these two stands for coarse cell -1, so that lookups through
  // cellmap of a cell not yet grouped need no test.
  Array<real_t> wgtsbasebuf(nvtxs + 1, 0.0f, "Match_Edges: wgts");
  real_t* wgtsbase = wgtsbasebuf.data();
  Array<idx_t> mcountsbasebuf(nvtxs + 1, ctrl.maxgroupsize, "Match_Edges: mcounts");
  idx_t* mcountsbase = mcountsbasebuf.data();
  real_t* wgts = wgtsbase + 1;
  idx_t* mcounts = mcountsbase + 1;
  // With several weights, those of every group too (row -1 likewise).
  const idx_t ncon = graph->ncon;
  const real_t* ncellwgt = graph->ncellwgt.data();
  Array<real_t> nwgtsbuf;
  real_t* nwgts = nullptr;
  if (ncon > 1) {
    nwgtsbuf = Array<real_t>((nvtxs + 1) * ncon, 0.0f, "Match_Edges: nwgts");
    nwgts = nwgtsbuf.data() + ncon;
  }
  auto setgroup = [&](idx_t c, idx_t i) {
    for (idx_t k = 0; k < ncon; k++) nwgts[c * ncon + k] = ncellwgt[i * ncon + k];
  };
  auto addgroup = [&](idx_t c, idx_t i) {
    for (idx_t k = 0; k < ncon; k++) nwgts[c * ncon + k] += ncellwgt[i * ncon + k];
  };

  const real_t maxw = (nvtxs > 0) ? cellwgt[ax_fargmax(nvtxs, cellwgt)] : 0.0f;

  // Visit cells with few nets first, lighter before heavier, with ties left
  // in random order.
  ctrl.rng.Permute(nvtxs, perm, 1);
  for (idx_t i = 0; i < nvtxs; i++) {
    const idx_t degree = incptr[i + 1] - incptr[i];
    cand[perm[i]].key =
        static_cast<real_t>(degree * (maxw + 1.0) + cellwgt[i]);
    cand[perm[i]].val = i;
  }
  ax_fkvsorti(nvtxs, cand);
  for (idx_t k = 0; k < nvtxs; k++) perm[k] = cand[k].val;

  const idx_t limit = MatchLimit(ctrl.rng.InRange(1000), nvtxs);

  // Fixed cells stay alone: a weight of twice the limit keeps everyone out.
  idx_t cnvtxs = 0;
  for (; cnvtxs < nfixed; cnvtxs++) {
    cellmap[cnvtxs] = static_cast<pin_t>(cnvtxs);
    wgts[cnvtxs] = 2.0f * ctrl.maxcellwgt;
  }

  MatchArrays arrays;
  arrays.cellmap = cellmap;
  arrays.wgts = wgts;
  arrays.mcounts = mcounts;
  arrays.where = where;
  arrays.cmark = cmark;
  arrays.cand = cand;
  arrays.nwgts = nwgts;

  StartTimer(ctrl, TIMER_AUX4);
  idx_t nmatched = 0;
  for (int pass = 0; pass < 2; pass++) {
    for (idx_t k = 0; k < nvtxs; k++) {
      const idx_t i = perm[k];
      if (cellmap[i] != -1) continue;

      idx_t j = -1;
      if (nmatched < limit) {
        j = SelectMatch(ctrl, graph, i, arrays, pass);
        if (j == -2) continue;  // retried in pass 1
      }

      if (j >= 0) {
        nmatched++;
        if (cellmap[j] == -1) {
          const idx_t c = cnvtxs++;
          mcounts[c] -= 2;
          cellmap[i] = cellmap[j] = static_cast<pin_t>(c);
          wgts[c] = cellwgt[i] + cellwgt[j];
          if (nwgts != nullptr) {
            setgroup(c, i);
            addgroup(c, j);
          }
        } else {
          const idx_t c = cellmap[j];
          mcounts[c] -= 1;
          cellmap[i] = static_cast<pin_t>(c);
          wgts[c] += cellwgt[i];
          if (nwgts != nullptr) addgroup(c, i);
        }
      } else {
        const idx_t c = cnvtxs++;
        mcounts[c] -= 1;
        cellmap[i] = static_cast<pin_t>(c);
        wgts[c] = cellwgt[i];
        if (nwgts != nullptr) setgroup(c, i);
      }
    }
  }
  StopTimer(ctrl, TIMER_AUX4);

  // Groups were numbered in visiting order, which is random. Renumber them
  // by their first fine cell so that the coarse level keeps the fine level's
  // locality: neighbours stay close in memory on every level. Fixed cells
  // are the first nfixed cells and their own groups, so they keep 0..nfixed-1.
  {
    idx_t* newid = mcounts;  // no longer needed: reused as the renumbering
    std::fill(newid, newid + cnvtxs, -1);
    idx_t next = 0;
    for (idx_t i = 0; i < nvtxs; i++) {
      idx_t& c = newid[cellmap[i]];
      if (c == -1) c = next++;
      cellmap[i] = static_cast<pin_t>(c);
    }
  }

  MakeGroupLists(nvtxs, cnvtxs, cellmap, graph->mptr.data(), graph->mind.data());

  permbuf.reset();
  cmarkbuf.reset();
  candbuf.reset();
  wgtsbasebuf.reset();
  mcountsbasebuf.reset();
  nwgtsbuf.reset();
  FreeAdjacentGraph(ctrl, graph);

  CreateCoarseHGraph(ctrl, graph, cnvtxs);
}

}  // namespace veldan
