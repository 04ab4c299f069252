// Contraction of one level: the coarse nets are the fine nets with their
// pins mapped to coarse cells; nets inside one coarse cell vanish and nets
// with identical pin sets merge into one whose weight is the sum.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "coarsen/coarsen.h"
#include "coarsen/internal.h"
#include "support/memory.h"
#include "support/output.h"
#include "support/sort.h"

namespace veldan {

idx_t NetKey(idx_t s, const idx_t* pins) {
  // Unsigned arithmetic wraps instead of overflowing; for small cell numbers
  // the value is the plain signed sum.
  std::uint64_t sum = 0;
  for (idx_t k = 0; k < s; k++)
    sum += static_cast<std::uint64_t>(k + 1) * static_cast<std::uint64_t>(pins[k]);
  return static_cast<idx_t>(100u * sum + static_cast<std::uint64_t>(s));
}

namespace {

// Whether nets a and b of the pin arrays have the same pins, position by
// position (the caller has checked that their sizes agree).
bool SamePins(const idx_t* netptr, const idx_t* netind, idx_t a, idx_t b) {
  const idx_t* pa = netind + netptr[a];
  const idx_t* pb = netind + netptr[b];
  const idx_t s = netptr[a + 1] - netptr[a];
  for (idx_t k = 0; k < s; k++)
    if (pa[k] != pb[k]) return false;
  return true;
}

// Net lists being written: offsets, pins and weights.
struct NetListsOut {
  idx_t* ptr;
  idx_t* ind;
  real_t* wgt;
};

// The merge scan over the nets of `in` sorted by key: each net not yet
// merged becomes the next output net, and the following nets of the same key
// and size with the same pins join it. Writes the output nets into out,
// records the output net of every input net in dnetmap (when given) and
// returns the output count. cand entries of merged nets are marked with -1.
idx_t MergeScan(const HGraphView& in, IKeyVal* cand, const NetListsOut& out, idx_t* dnetmap) {
  const idx_t nnets = in.nnets;
  const idx_t* netptr = in.netptr;
  const idx_t* netind = in.netind;
  const real_t* netwgt = in.netwgt;
  idx_t* dnetptr = out.ptr;
  idx_t* dnetind = out.ind;
  real_t* dnetwgt = out.wgt;
  idx_t d = 0;
  idx_t npins = 0;
  dnetptr[0] = 0;
  for (idx_t k = 0; k < nnets; k++) {
    const idx_t e = cand[k].val;
    if (e == -1) continue;
    const idx_t key = cand[k].key;
    const idx_t s = netptr[e + 1] - netptr[e];
    for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) dnetind[npins++] = netind[p];
    if (dnetmap) dnetmap[e] = d;
    real_t w = netwgt[e];

    for (idx_t k2 = k + 1; k2 < nnets; k2++) {
      const idx_t e2 = cand[k2].val;
      if (e2 == -1) continue;
      if (cand[k2].key != key) break;
      if (netptr[e2 + 1] - netptr[e2] != s) break;
      if (SamePins(netptr, netind, e, e2)) {
        cand[k2].val = -1;
        if (dnetmap) dnetmap[e2] = d;
        w += netwgt[e2];
      }
    }
    dnetwgt[d] = w;
    dnetptr[++d] = npins;
  }
  return d;
}

}  // namespace

void CreateCoarseHGraph(RunContext& ctrl, HGraph* graph, idx_t cnvtxs) {
  StartTimer(ctrl, TIMER_AUX2);

  const idx_t nvtxs = graph->nvtxs;
  const idx_t nnets = graph->nnets;
  const idx_t ncon = graph->ncon;
  const bool multi = ncon > 1;
  const idx_t* netptr = graph->netptr.data();
  const idx_t* netind = graph->netind.data();
  const real_t* netwgt = graph->netwgt.data();
  const idx_t* incptr = graph->incptr.data();
  const idx_t* incind = graph->incind.data();
  const idx_t* cellmap = graph->cellmap.data();
  const idx_t* mptr = graph->mptr.data();
  const idx_t* mind = graph->mind.data();
  const idx_t npins = netptr[nnets];

  graph->netmap.reset();
  graph->netmap = Array<idx_t>(nnets, -1, "CreateCoarseHGraph: graph->netmap");
  idx_t* netmap = graph->netmap.data();

  graph->coarser = CreateHGraph();
  HGraph* coarser = graph->coarser.get();
  const idx_t hsize = std::max({cnvtxs, nvtxs, nnets}) + 1;
  Array<idx_t> htablebuf(hsize, -1, "CreateCoarseHGraph: htable");
  idx_t* htable = htablebuf.data();
  coarser->nvtxs = cnvtxs;
  coarser->nfixed = graph->nfixed;
  coarser->ncon = graph->ncon;
  coarser->finer = graph;

  Array<idx_t> tnetptrbuf(nnets + 1, "CreateCoarseHGraph: netptr");
  idx_t* tnetptr = tnetptrbuf.data();
  Array<idx_t> tnetindbuf(npins, "CreateCoarseHGraph: netind");
  idx_t* tnetind = tnetindbuf.data();
  Array<real_t> tnetwgtbuf(nnets, "CreateCoarseHGraph: netwgt");
  real_t* tnetwgt = tnetwgtbuf.data();

  // First pass: map every net's pins to coarse cells, once each. htable[c]
  // holds the last net that listed c, so it never needs clearing.
  idx_t tnets = 0;
  idx_t tpins = 0;
  real_t removed = 0.0f;
  tnetptr[0] = 0;
  for (idx_t i = 0; i < nnets; i++) {
    const idx_t start = tpins;
    for (idx_t p = netptr[i]; p < netptr[i + 1]; p++) {
      const idx_t c = cellmap[netind[p]];
      if (htable[c] != i) {
        htable[c] = i;
        tnetind[tpins++] = c;
      }
    }
    const idx_t s = tpins - start;
    if (s == 1) {
      removed += netwgt[i];  // the net lies inside one coarse cell
      tpins = start;
      continue;
    }
    if (s == 2) {
      if (tnetind[start] > tnetind[start + 1])
        std::swap(tnetind[start], tnetind[start + 1]);
    } else if (s >= 3) {
      ax_isorti(s, tnetind + start);
    }
    netmap[i] = tnets;
    tnetwgt[tnets] = netwgt[i];
    tnetptr[++tnets] = tpins;
  }
  coarser->nnets = tnets;
  coarser->removedwgt = graph->removedwgt + removed;

  // Identical nets have equal keys: sort by key, then compare pin by pin
  // only within runs of equal key and size.
  Array<IKeyVal> candbuf(tnets, "CreateCoarseHGraph: cand");
  IKeyVal* cand = candbuf.data();
  for (idx_t t = 0; t < tnets; t++) {
    cand[t].key = NetKey(tnetptr[t + 1] - tnetptr[t], tnetind + tnetptr[t]);
    cand[t].val = t;
  }
  ax_ikvsorti(tnets, cand);

  Array<idx_t> dnetptrbuf(tnets + 1, "CreateCoarseHGraph: dnetptr");
  idx_t* dnetptr = dnetptrbuf.data();
  Array<idx_t> dnetindbuf(tpins, "CreateCoarseHGraph: dnetind");
  idx_t* dnetind = dnetindbuf.data();
  Array<real_t> dnetwgtbuf(tnets, "CreateCoarseHGraph: dnetwgt");
  real_t* dnetwgt = dnetwgtbuf.data();
  Array<idx_t> dnetmapbuf(tnets, "CreateCoarseHGraph: dnetmap");
  idx_t* dnetmap = dnetmapbuf.data();
  HGraphView tnets_view;
  tnets_view.nnets = tnets;
  tnets_view.netptr = tnetptr;
  tnets_view.netind = tnetind;
  tnets_view.netwgt = tnetwgt;
  const idx_t cnnets =
      MergeScan(tnets_view, cand, NetListsOut{dnetptr, dnetind, dnetwgt}, dnetmap);

  for (idx_t i = 0; i < nnets; i++)
    if (netmap[i] != -1) netmap[i] = dnetmap[netmap[i]];

  tnetptrbuf.reset();
  tnetindbuf.reset();
  candbuf.reset();
  dnetmapbuf.reset();
  tnetwgtbuf.reset();
  coarser->nnets = cnnets;
  coarser->netptr = std::move(dnetptrbuf);
  coarser->netind = std::move(dnetindbuf);
  coarser->netwgt = std::move(dnetwgtbuf);

  // Clique weights per coarse net; a net of fewer than two pins connects
  // nothing and gets 0 (only an empty fine net can leave one behind).
  coarser->edgewgt = Array<real_t>(nnets, "CreateCoarseHGraph: coarser->edgewgt");
  real_t* cedgewgt = coarser->edgewgt.data();
  coarser->edgewgt2 = Array<real_t>(nnets, "CreateCoarseHGraph: coarser->edgewgt2");
  real_t* cedgewgt2 = coarser->edgewgt2.data();
  for (idx_t e = 0; e < cnnets; e++) {
    const idx_t s = dnetptr[e + 1] - dnetptr[e];
    if (s < 2) {
      cedgewgt[e] = cedgewgt2[e] = 0.0f;
    } else {
      cedgewgt[e] = dnetwgt[e] / static_cast<real_t>(s - 1);
      cedgewgt2[e] = cedgewgt[e] / static_cast<real_t>(s - 1);
    }
  }

  // Incidence lists of the coarse cells: walk each group's fine cells and
  // their nets; htable[ce] = c marks a coarse net already listed for c.
  std::fill(htable, htable + hsize, -1);
  coarser->incptr = Array<idx_t>(cnvtxs + 1, "CreateCoarseHGraph: coarser->incptr");
  idx_t* cincptr = coarser->incptr.data();
  coarser->incind = Array<idx_t>(incptr[nvtxs], "CreateCoarseHGraph: coarser->incind");
  idx_t* cincind = coarser->incind.data();
  coarser->incwgt = Array<real_t>(cnvtxs, 0.0f, "CreateCoarseHGraph: coarser->incwgt");
  real_t* cincwgt = coarser->incwgt.data();
  if (multi)
    coarser->ncellwgt = Array<real_t>(cnvtxs * ncon, 0.0f, "CreateCoarseHGraph: coarser->ncellwgt");
  real_t* cncellwgt = coarser->ncellwgt.data();
  coarser->cellwgt = Array<real_t>(cnvtxs, 0.0f, "CreateCoarseHGraph: coarser->cellwgt");
  real_t* ccellwgt = coarser->cellwgt.data();
  const real_t* cellwgt = graph->cellwgt.data();
  const real_t* ncellwgt = graph->ncellwgt.data();

  idx_t ninc = 0;
  cincptr[0] = 0;
  for (idx_t c = 0; c < cnvtxs; c++) {
    for (idx_t m = mptr[c]; m < mptr[c + 1]; m++) {
      const idx_t v = mind[m];
      if (multi)
        for (idx_t j = 0; j < ncon; j++) cncellwgt[c * ncon + j] += ncellwgt[v * ncon + j];
      ccellwgt[c] += cellwgt[v];
      for (idx_t q = incptr[v]; q < incptr[v + 1]; q++) {
        const idx_t ce = netmap[incind[q]];
        if (ce != -1 && htable[ce] != c) {
          htable[ce] = c;
          cincind[ninc++] = ce;
          cincwgt[c] += dnetwgt[ce];
        }
      }
    }
    cincptr[c + 1] = ninc;
  }

  if (ctrl.cfg->dbglvl & DBG_LISTING) {
    for (idx_t e = 0; e < cnnets; e++) {
      Print("%5ld %8.2f  %8.4f\t", dnetptr[e + 1] - dnetptr[e],
            static_cast<double>(dnetwgt[e]), static_cast<double>(cedgewgt[e]));
      for (idx_t p = dnetptr[e]; p < dnetptr[e + 1]; p++) {
        const idx_t c = dnetind[p];
        Print("%7.2f ", static_cast<double>(ccellwgt[c]));
      }
      Print("\n");
    }
  }

  htablebuf.reset();
  StopTimer(ctrl, TIMER_AUX2);
}

NetArrays CollapseSameHEdges(idx_t nnets, idx_t* netptr, idx_t* netind,
                             const real_t* netwgt) {
  Array<IKeyVal> candbuf(nnets, "CreateCoarseHGraph: cand");
  IKeyVal* cand = candbuf.data();
  for (idx_t i = 0; i < nnets; i++) {
    const idx_t s = netptr[i + 1] - netptr[i];
    ax_isorti(s, netind + netptr[i]);
    cand[i].key = NetKey(s, netind + netptr[i]);
    cand[i].val = i;
  }
  ax_ikvsorti(nnets, cand);

  Array<idx_t> dnetptrbuf(nnets + 1, "CollapseSameHEdges: dnetptr");
  idx_t* dnetptr = dnetptrbuf.data();
  Array<idx_t> dnetindbuf(netptr[nnets], "CollapseSameHEdges: dnetind");
  idx_t* dnetind = dnetindbuf.data();
  Array<real_t> dnetwgtbuf(nnets, "CollapseSameHEdges: dnetwgt");
  real_t* dnetwgt = dnetwgtbuf.data();
  HGraphView nets;
  nets.nnets = nnets;
  nets.netptr = netptr;
  nets.netind = netind;
  nets.netwgt = netwgt;
  NetArrays merged;
  merged.nnets = MergeScan(nets, cand, NetListsOut{dnetptr, dnetind, dnetwgt}, nullptr);
  candbuf.reset();
  merged.netptr = std::move(dnetptrbuf);
  merged.netind = std::move(dnetindbuf);
  merged.netwgt = std::move(dnetwgtbuf);
  return merged;
}

}  // namespace veldan
