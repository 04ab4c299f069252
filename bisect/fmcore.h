// The pieces of the two-way FM refinement that the one-weight and the
// several-weight refinements share: the work area, the queue key and the
// update of pin counts and neighbour gains after a move (the pass loop
// itself is in fmpass.h).
#pragma once

#include "hgraph/hgraph.h"
#include "support/array.h"
#include "support/types.h"

namespace veldan {

// The work area of one refinement call, created once and reused by every
// pass and move.
struct FMWork {
  explicit FMWork(idx_t n)
      : moved(n, "FMWork: moved"),
        swaps(n, "FMWork: swaps"),
        perm(n, "FMWork: perm"),
        updind(n, "FMWork: updind"),
        updmrk(n, "FMWork: updmrk") {}

  Array<idx_t> moved;   // -1 until the cell moves in this pass or is locked
  Array<idx_t> swaps;   // the cells in the order they moved
  Array<idx_t> perm;    // the order in which the queues are filled
  Array<idx_t> updind;  // neighbours whose gain changed by the current move
  Array<idx_t> updmrk;  // move number at which a cell was last listed
};

// Queue key of a cell under the given queue type.
inline real_t FMKey(idx_t fmtype, real_t gain, real_t wgt) {
  return fmtype == 1 ? gain : gain / wgt;
}

// Sum of the weights of the nets with pins on at least two sides, from the
// pin counts.
inline real_t CutFromPinCounts(const HGraph* graph) {
  real_t cut = 0.0f;
  for (idx_t e = 0; e < graph->nnets; e++) {
    const NetSides& ns = graph->sides[e];
    const int nsides = (ns.n[0] > 0) + (ns.n[1] > 0) + (ns.n[2] > 0);
    if (nsides >= 2) cut += graph->netwgt[e];
  }
  return cut;
}

// Updates the pin counts of the nets of c, which has just gone from side
// `from` to side `to`, and the gains of its neighbours. A net changes
// neighbour gains only when a count crosses a threshold: the from-side count
// falls to 1 or 0, or the to-side count rises to 1 or 2. With `list` set,
// each neighbour that has not moved in this pass is listed once for move k.
template <bool list>
inline idx_t UpdateNeighbours(const HGraph* graph, idx_t rmaxnet, idx_t c,
                              idx_t from, idx_t to, idx_t k, FMWork& w) {
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();
  const real_t* netwgt = graph->netwgt.data();
  const idx_t* where = graph->where.data();
  real_t* gain = graph->gain.data();
  NetSides* sides = graph->sides.data();
  const idx_t* moved = w.moved.data();
  idx_t* updmrk = w.updmrk.data();
  idx_t* updind = w.updind.data();
  idx_t nupd = 0;

  for (idx_t j = incptr[c]; j < incptr[c + 1]; j++) {
    const idx_t e = incind[j];
    const idx_t begin = netptr[e];
    const idx_t end = netptr[e + 1];
    if (end - begin > rmaxnet) continue;
    NetSides& ns = sides[e];
    const idx_t tcount = ++ns.n[to];
    const idx_t fcount = --ns.n[from];
    if (!(tcount < 3 || fcount < 2) || ns.n[2] > 0) continue;

    // What the move does to the gain of a pin d of e, as two additions (kept
    // apart so that the sums round exactly as one addition per event would):
    // a pin still on side `from` gains wgt when it is now the last one there
    // (moving it would uncut e) and wgt when e has just become cut (moving
    // it no longer cuts e); a pin on side `to` loses wgt when e now lies
    // wholly on `to` (moving it would cut e) and wgt when the to-side pin has
    // company (moving it no longer uncuts e). A zero addend leaves the gain
    // bit for bit as it was; selecting the addends by side avoids a branch
    // that follows no pattern.
    const real_t wgt = netwgt[e];
    const real_t from1 = (fcount == 1) ? wgt : 0.0f;
    const real_t from2 = (tcount == 1) ? wgt : 0.0f;
    const real_t to1 = (fcount == 0) ? -wgt : 0.0f;
    const real_t to2 = (tcount == 2) ? -wgt : 0.0f;
    for (idx_t p = begin; p < end; p++) {
      const idx_t d = netind[p];
      if (d == c) continue;
      const bool onfrom = (where[d] == from);
      gain[d] = (gain[d] + (onfrom ? from1 : to1)) + (onfrom ? from2 : to2);
      if constexpr (list) {
        if (moved[d] == -1 && updmrk[d] != k) {
          updmrk[d] = k;
          updind[nupd++] = d;
        }
      }
    }
  }
  return nupd;
}

}  // namespace veldan
