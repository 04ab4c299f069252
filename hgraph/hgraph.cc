// Creation, set-up, incidence lists and release of hypergraph levels.
#include "hgraph/hgraph.h"

#include <new>

#include "support/memory.h"

namespace veldan {

void* HGraph::operator new(std::size_t nbytes) {
  return ax_malloc(nbytes, "CreateCoarseHGraph: graph");
}

void HGraph::operator delete(void* p) noexcept { ax_release(p); }

void HGraph::FreeWork() noexcept {
  cellmap.reset();
  netmap.reset();
  mptr.reset();
  mind.reset();
  gain.reset();
  sides.reset();
  islandmap.reset();
  where.reset();
  kpwgts.reset();
  nkpwgts.reset();
  nrinfo.reset();
  nrdata.reset();
  crinfo.reset();
  crdata.reset();
}

HGraphPtr SetUpHGraph(idx_t nvtxs, idx_t nnets, idx_t ncon, const real_t* cellwgt,
                      const real_t* netwgt, const idx_t* netptr, const pin_t* netind) {
  // Every later level (coarser, or a half of this one) holds no more cells
  // or nets than this one, so this is the one place to check they fit.
  if (!FitsPinLists(nvtxs, nnets))
    errexit("SetUpHGraph: a level of %ld cells and %ld nets is too large; a level holds at "
            "most %ld cells and %ld nets.",
            static_cast<long>(nvtxs), static_cast<long>(nnets),
            static_cast<long>(kMaxLevelCount), static_cast<long>(kMaxLevelCount));
  HGraphPtr graph = CreateHGraph();
  graph->nvtxs = nvtxs;
  graph->nnets = nnets;
  graph->ncon = ncon;

  const idx_t npins = netptr[nnets];
  graph->netwgt = Array<real_t>(nnets, "SetUpHGraph: graph->netwgt");
  graph->netptr = Array<idx_t>::CopyOf(nnets + 1, netptr, "SetUpHGraph: graph->netptr");
  graph->netind = Array<pin_t>::CopyOf(npins, netind, "SetUpHGraph: graph->netind");

  // Weights below the single-precision epsilon (zero, negative, NaN) are
  // raised to it, so that every cell has a positive weight.
  auto raise = [](real_t w) { return (w >= kFloatEps) ? w : kFloatEps; };

  graph->cellwgt = Array<real_t>(nvtxs, "VELDAN: graph->cellwgt");
  real_t* cw = graph->cellwgt.data();
  if (ncon <= 1) {
    for (idx_t i = 0; i < nvtxs; i++) cw[i] = cellwgt ? raise(cellwgt[i]) : 1.0f;
  } else {
    // Each weight scaled to an average of 1 per cell, so that the weights
    // compare with one another and with their mean, which cellwgt holds for
    // the steps that look at one weight (matching scores, queue keys).
    const idx_t n = nvtxs * ncon;
    graph->ncellwgt = Array<real_t>(n, "VELDAN: graph->ncellwgt");
    real_t* nw = graph->ncellwgt.data();
    for (idx_t i = 0; i < n; i++) nw[i] = cellwgt ? raise(cellwgt[i]) : 1.0f;
    for (idx_t j = 0; j < ncon; j++) {
      double sum = 0.0;
      for (idx_t i = 0; i < nvtxs; i++) sum += nw[i * ncon + j];
      const double factor = static_cast<double>(nvtxs) / sum;
      for (idx_t i = 0; i < nvtxs; i++)
        nw[i * ncon + j] = static_cast<real_t>(nw[i * ncon + j] * factor);
    }
    for (idx_t i = 0; i < nvtxs; i++) {
      double mean = 0.0;
      for (idx_t j = 0; j < ncon; j++) mean += nw[i * ncon + j];
      cw[i] = static_cast<real_t>(mean / static_cast<double>(ncon));
    }
  }

  if (netwgt)
    ax_fcopy(nnets, netwgt, graph->netwgt.data());
  else
    for (idx_t e = 0; e < nnets; e++) graph->netwgt[e] = 1.0f;
  return graph;
}

void CreateIncidentHGraph(RunContext& /*ctrl*/, HGraph* graph) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nnets = graph->nnets;
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  const real_t* netwgt = graph->netwgt.data();
  const idx_t npins = netptr[nnets];

  graph->incptr = Array<idx_t>(nvtxs + 1, 0, "CreateIncidentHGraph: incptr");
  graph->incind = Array<pin_t>(npins, "CreateIncidentHGraph: graph->incind");
  graph->incwgt = Array<real_t>(nvtxs, "CreateIncidentHGraph: incwgt");
  graph->edgewgt = Array<real_t>(nnets, "CreateIncidentHGraph: graph->edgewgt");
  graph->edgewgt2 = Array<real_t>(nnets, "CreateIncidentHGraph: graph->edgewgt2");
  idx_t* incptr = graph->incptr.data();
  pin_t* incind = graph->incind.data();
  real_t* incwgt = graph->incwgt.data();
  real_t* edgewgt = graph->edgewgt.data();
  real_t* edgewgt2 = graph->edgewgt2.data();

  // Counting sort of the pins by cell: count, prefix, fill, shift back.
  for (idx_t p = 0; p < npins; p++) incptr[netind[p]]++;
  for (idx_t i = 1; i < nvtxs; i++) incptr[i] += incptr[i - 1];
  for (idx_t e = nnets - 1; e >= 0; e--)
    for (idx_t p = netptr[e + 1] - 1; p >= netptr[e]; p--)
      incind[--incptr[netind[p]]] = static_cast<pin_t>(e);
  // After the backward fill incptr[i] is the start of cell i; the last entry
  // is the number of pins.
  if (nvtxs >= 0) incptr[nvtxs] = npins;

  for (idx_t i = 0; i < nvtxs; i++) {
    real_t sum = 0.0f;
    for (idx_t j = incptr[i]; j < incptr[i + 1]; j++) sum += netwgt[incind[j]];
    incwgt[i] = sum;
  }

  // A net of fewer than two pins connects nothing: its clique weights are 0.
  for (idx_t e = 0; e < nnets; e++) {
    const idx_t p = netptr[e + 1] - netptr[e];
    if (p < 2) {
      edgewgt[e] = edgewgt2[e] = 0.0f;
    } else {
      edgewgt[e] = static_cast<real_t>(static_cast<double>(netwgt[e]) / (p - 1));
      edgewgt2[e] = edgewgt[e] / static_cast<real_t>(p - 1);
    }
  }
}

}  // namespace veldan
