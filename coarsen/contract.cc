// Contraction of one level: the coarse nets are the fine nets with their
// pins mapped to coarse cells; nets inside one coarse cell vanish and nets
// with identical pin sets merge into one whose weight is the sum.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "coarsen/coarsen.h"
#include "coarsen/internal.h"
#include "support/memory.h"
#include "support/output.h"
#include "support/parallel.h"
#include "support/sort.h"

namespace veldan {

idx_t NetKey(idx_t s, const pin_t* pins) {
  // Unsigned arithmetic wraps instead of overflowing; for small cell numbers
  // the value is the plain signed sum.
  std::uint64_t sum = 0;
  for (idx_t k = 0; k < s; k++)
    sum += static_cast<std::uint64_t>(k + 1) * static_cast<std::uint64_t>(pins[k]);
  return static_cast<idx_t>(100u * sum + static_cast<std::uint64_t>(s));
}

namespace {

// Nets or cells per chunk of the contraction's passes.
constexpr idx_t kContractGrain = 4096;

// Net lists being read: net e's pins are ind[begin[e]] .. ind[end[e] - 1]
// (begin = ptr and end = ptr + 1 for the usual offsets), its weight wgt[e].
struct NetListsIn {
  idx_t nnets;
  const idx_t* begin;
  const idx_t* end;
  const pin_t* ind;
  const real_t* wgt;
};

// Whether nets a and b have the same pins, position by position (the caller
// has checked that their sizes agree).
bool SamePins(const NetListsIn& in, idx_t a, idx_t b) {
  const pin_t* pa = in.ind + in.begin[a];
  const pin_t* pb = in.ind + in.begin[b];
  const idx_t s = in.end[a] - in.begin[a];
  for (idx_t k = 0; k < s; k++)
    if (pa[k] != pb[k]) return false;
  return true;
}

// Net lists being written: offsets, pins and weights.
struct NetListsOut {
  idx_t* ptr;
  pin_t* ind;
  real_t* wgt;
};

// The merge scan over the nets of `in` sorted by key: each net not yet
// merged becomes the next output net, and the following nets of the same key
// and size with the same pins join it. Writes the output nets into out,
// records the output net of every input net in dnetmap (when given) and
// returns the output count. cand entries of merged nets are marked with -1.
idx_t MergeScan(const NetListsIn& in, IKeyVal* cand, const NetListsOut& out, pin_t* dnetmap) {
  const idx_t nnets = in.nnets;
  const idx_t* nbegin = in.begin;
  const idx_t* nend = in.end;
  const pin_t* netind = in.ind;
  const real_t* netwgt = in.wgt;
  idx_t* dnetptr = out.ptr;
  pin_t* dnetind = out.ind;
  real_t* dnetwgt = out.wgt;
  idx_t d = 0;
  idx_t npins = 0;
  dnetptr[0] = 0;
  for (idx_t k = 0; k < nnets; k++) {
    const idx_t e = cand[k].val;
    if (e == -1) continue;
    const idx_t key = cand[k].key;
    const idx_t s = nend[e] - nbegin[e];
    for (idx_t p = nbegin[e]; p < nend[e]; p++) dnetind[npins++] = netind[p];
    if (dnetmap) dnetmap[e] = static_cast<pin_t>(d);
    real_t w = netwgt[e];

    for (idx_t k2 = k + 1; k2 < nnets; k2++) {
      const idx_t e2 = cand[k2].val;
      if (e2 == -1) continue;
      if (cand[k2].key != key) break;
      if (nend[e2] - nbegin[e2] != s) break;
      if (SamePins(in, e, e2)) {
        cand[k2].val = -1;
        if (dnetmap) dnetmap[e2] = static_cast<pin_t>(d);
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
  const pin_t* netind = graph->netind.data();
  const real_t* netwgt = graph->netwgt.data();
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();
  const pin_t* cellmap = graph->cellmap.data();
  const pin_t* mptr = graph->mptr.data();
  const pin_t* mind = graph->mind.data();
  const idx_t npins = netptr[nnets];

  graph->netmap.reset();
  graph->netmap = Array<pin_t>(nnets, -1, "CreateCoarseHGraph: graph->netmap");
  pin_t* netmap = graph->netmap.data();

  graph->coarser = CreateHGraph();
  HGraph* coarser = graph->coarser.get();
  coarser->nvtxs = cnvtxs;
  coarser->nfixed = graph->nfixed;
  coarser->ncon = graph->ncon;
  coarser->finer = graph;

  // First pass, in chunks of nets: map every net's pins to coarse cells,
  // once each, into the net's own place in tnetind (a net never gains
  // pins), and keep its new size in netmap for now. htable[c] holds the
  // last net that listed c, so it never needs clearing.
  Array<pin_t> tnetindbuf(npins, "CreateCoarseHGraph: netind");
  pin_t* tnetind = tnetindbuf.data();
  const idx_t nchunks = ChunkCount(nnets, kContractGrain);
  std::vector<idx_t> firstnet(static_cast<std::size_t>(nchunks) + 1, 0);
  std::vector<idx_t> firstpin(static_cast<std::size_t>(nchunks) + 1, 0);
  {
    ScratchPool<pin_t> tables(cnvtxs, -1, "CreateCoarseHGraph: htable");
    ParallelChunks(nnets, kContractGrain, [&](idx_t c, idx_t begin, idx_t end) {
      Array<pin_t> table = tables.Take();
      pin_t* htable = table.data();
      idx_t kept = 0;
      idx_t keptpins = 0;
      for (idx_t i = begin; i < end; i++) {
        pin_t* pins = tnetind + netptr[i];
        idx_t s = 0;
        for (idx_t p = netptr[i]; p < netptr[i + 1]; p++) {
          const pin_t cc = cellmap[netind[p]];
          if (htable[cc] != i) {
            htable[cc] = static_cast<pin_t>(i);
            pins[s++] = cc;
          }
        }
        netmap[i] = static_cast<pin_t>(s);
        if (s == 1) continue;  // the net lies inside one coarse cell
        if (s == 2) {
          if (pins[0] > pins[1]) std::swap(pins[0], pins[1]);
        } else if (s >= 3) {
          ax_isorti(s, pins);
        }
        kept++;
        keptpins += s;
      }
      firstnet[c + 1] = kept;
      firstpin[c + 1] = keptpins;
      tables.Give(std::move(table));
    });
  }
  for (idx_t c = 0; c < nchunks; c++) {
    firstnet[c + 1] += firstnet[c];
    firstpin[c + 1] += firstpin[c];
  }
  const idx_t tnets = firstnet[nchunks];
  const idx_t tpins = firstpin[nchunks];

  // Number the nets that stay, in order, and key them: identical nets have
  // equal keys, so sorting by key leaves the pin-by-pin comparison to runs
  // of equal key and size.
  Array<idx_t> tbeginbuf(tnets, "CreateCoarseHGraph: netbegin");
  idx_t* tbegin = tbeginbuf.data();
  Array<idx_t> tendbuf(tnets, "CreateCoarseHGraph: netend");
  idx_t* tend = tendbuf.data();
  Array<real_t> tnetwgtbuf(tnets, "CreateCoarseHGraph: netwgt");
  real_t* tnetwgt = tnetwgtbuf.data();
  Array<IKeyVal> candbuf(tnets, "CreateCoarseHGraph: cand");
  IKeyVal* cand = candbuf.data();
  ParallelChunks(nnets, kContractGrain, [&](idx_t c, idx_t begin, idx_t end) {
    idx_t t = firstnet[c];
    for (idx_t i = begin; i < end; i++) {
      const idx_t s = netmap[i];
      if (s == 1) {
        netmap[i] = -1;
        continue;
      }
      tbegin[t] = netptr[i];
      tend[t] = netptr[i] + s;
      tnetwgt[t] = netwgt[i];
      cand[t].key = NetKey(s, tnetind + netptr[i]);
      cand[t].val = t;
      netmap[i] = static_cast<pin_t>(t++);
    }
  });
  real_t removed = 0.0f;
  for (idx_t i = 0; i < nnets; i++)
    if (netmap[i] == -1) removed += netwgt[i];
  coarser->nnets = tnets;
  coarser->removedwgt = graph->removedwgt + removed;
  ax_ikvsorti(tnets, cand);

  Array<idx_t> dnetptrbuf(tnets + 1, "CreateCoarseHGraph: dnetptr");
  idx_t* dnetptr = dnetptrbuf.data();
  Array<pin_t> dnetindbuf(tpins, "CreateCoarseHGraph: dnetind");
  pin_t* dnetind = dnetindbuf.data();
  Array<real_t> dnetwgtbuf(tnets, "CreateCoarseHGraph: dnetwgt");
  real_t* dnetwgt = dnetwgtbuf.data();
  Array<pin_t> dnetmapbuf(tnets, "CreateCoarseHGraph: dnetmap");
  pin_t* dnetmap = dnetmapbuf.data();
  const idx_t cnnets =
      MergeScan(NetListsIn{tnets, tbegin, tend, tnetind, tnetwgt}, cand,
                NetListsOut{dnetptr, dnetind, dnetwgt}, dnetmap);

  ParallelChunks(nnets, kContractGrain, [&](idx_t /*c*/, idx_t begin, idx_t end) {
    for (idx_t i = begin; i < end; i++)
      if (netmap[i] != -1) netmap[i] = dnetmap[netmap[i]];
  });

  tbeginbuf.reset();
  tendbuf.reset();
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
  ParallelChunks(cnnets, kContractGrain, [&](idx_t /*c*/, idx_t begin, idx_t end) {
    for (idx_t e = begin; e < end; e++) {
      const idx_t s = dnetptr[e + 1] - dnetptr[e];
      if (s < 2) {
        cedgewgt[e] = cedgewgt2[e] = 0.0f;
      } else {
        cedgewgt[e] = dnetwgt[e] / static_cast<real_t>(s - 1);
        cedgewgt2[e] = cedgewgt[e] / static_cast<real_t>(s - 1);
      }
    }
  });

  // Incidence lists of the coarse cells, in chunks of coarse cells: walk
  // each group's fine cells and their nets; htable[ce] = c marks a coarse
  // net already listed for c. A chunk fills its own region of cincind,
  // sized by the fine incidences of its groups, and the regions are closed
  // up afterwards.
  coarser->incptr = Array<idx_t>(cnvtxs + 1, "CreateCoarseHGraph: coarser->incptr");
  idx_t* cincptr = coarser->incptr.data();
  coarser->incind = Array<pin_t>(incptr[nvtxs], "CreateCoarseHGraph: coarser->incind");
  pin_t* cincind = coarser->incind.data();
  coarser->incwgt = Array<real_t>(cnvtxs, 0.0f, "CreateCoarseHGraph: coarser->incwgt");
  real_t* cincwgt = coarser->incwgt.data();
  if (multi)
    coarser->ncellwgt = Array<real_t>(cnvtxs * ncon, 0.0f, "CreateCoarseHGraph: coarser->ncellwgt");
  real_t* cncellwgt = coarser->ncellwgt.data();
  coarser->cellwgt = Array<real_t>(cnvtxs, 0.0f, "CreateCoarseHGraph: coarser->cellwgt");
  real_t* ccellwgt = coarser->cellwgt.data();
  const real_t* cellwgt = graph->cellwgt.data();
  const real_t* ncellwgt = graph->ncellwgt.data();

  const idx_t ncchunks = ChunkCount(cnvtxs, kContractGrain);
  std::vector<idx_t> region(static_cast<std::size_t>(ncchunks) + 1, 0);
  std::vector<idx_t> count(static_cast<std::size_t>(ncchunks), 0);
  if (ncchunks == 1) {
    region[1] = incptr[nvtxs];
  } else {
    ParallelChunks(cnvtxs, kContractGrain, [&](idx_t c, idx_t begin, idx_t end) {
      idx_t bound = 0;
      for (idx_t m = mptr[begin]; m < mptr[end]; m++)
        bound += incptr[mind[m] + 1] - incptr[mind[m]];
      region[c + 1] = bound;
    });
    for (idx_t c = 0; c < ncchunks; c++) region[c + 1] += region[c];
  }
  {
    ScratchPool<pin_t> tables(cnnets, -1, "CreateCoarseHGraph: htable");
    ParallelChunks(cnvtxs, kContractGrain, [&](idx_t chunk, idx_t begin, idx_t end) {
      Array<pin_t> table = tables.Take();
      pin_t* htable = table.data();
      pin_t* out = cincind + region[chunk];
      idx_t ninc = 0;
      for (idx_t c = begin; c < end; c++) {
        for (idx_t m = mptr[c]; m < mptr[c + 1]; m++) {
          const idx_t v = mind[m];
          if (multi)
            for (idx_t j = 0; j < ncon; j++) cncellwgt[c * ncon + j] += ncellwgt[v * ncon + j];
          ccellwgt[c] += cellwgt[v];
          for (idx_t q = incptr[v]; q < incptr[v + 1]; q++) {
            const idx_t ce = netmap[incind[q]];
            if (ce != -1 && htable[ce] != c) {
              htable[ce] = static_cast<pin_t>(c);
              out[ninc++] = static_cast<pin_t>(ce);
              cincwgt[c] += dnetwgt[ce];
            }
          }
        }
        cincptr[c + 1] = ninc;
      }
      count[chunk] = ninc;
      tables.Give(std::move(table));
    });
  }
  cincptr[0] = 0;
  if (ncchunks > 1) {
    // Front to back: a region moves down, never past its own old start.
    idx_t ninc = 0;
    for (idx_t c = 0; c < ncchunks; c++) {
      if (region[c] != ninc && count[c] > 0)
        std::memmove(cincind + ninc, cincind + region[c],
                     sizeof(pin_t) * static_cast<std::size_t>(count[c]));
      region[c] = ninc;
      ninc += count[c];
    }
    ParallelChunks(cnvtxs, kContractGrain, [&](idx_t chunk, idx_t begin, idx_t end) {
      const idx_t off = region[chunk];
      for (idx_t c = begin; c < end; c++) cincptr[c + 1] += off;
    });
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

  StopTimer(ctrl, TIMER_AUX2);
}

NetArrays CollapseSameHEdges(idx_t nnets, idx_t* netptr, pin_t* netind,
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
  Array<pin_t> dnetindbuf(netptr[nnets], "CollapseSameHEdges: dnetind");
  pin_t* dnetind = dnetindbuf.data();
  Array<real_t> dnetwgtbuf(nnets, "CollapseSameHEdges: dnetwgt");
  real_t* dnetwgt = dnetwgtbuf.data();
  NetArrays merged;
  merged.nnets = MergeScan(NetListsIn{nnets, netptr, netptr + 1, netind, netwgt}, cand,
                           NetListsOut{dnetptr, dnetind, dnetwgt}, nullptr);
  candbuf.reset();
  merged.netptr = std::move(dnetptrbuf);
  merged.netind = std::move(dnetindbuf);
  merged.netwgt = std::move(dnetwgtbuf);
  return merged;
}

}  // namespace veldan
