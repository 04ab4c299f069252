// Per-level state of a bisection: allocation and release of the two-way
// arrays, and the recount of pin counts, cut, side weights and gains from
// the side vector.
#include "bisect/bisect.h"
#include "support/memory.h"
#include "support/parallel.h"

namespace veldan {

namespace {

// Nets or cells per chunk of the recount.
constexpr idx_t kParamsGrain = 4096;

}  // namespace

void Allocate2wayRefinementMemory(RunContext& /*ctrl*/, HGraph* graph) {
  const idx_t ncells = graph->nvtxs + graph->nislands;
  const idx_t nnets = graph->nnets;
  graph->where = Array<idx_t>(ncells, "Allocate2wayRefinementMemory: where");
  graph->gain = Array<real_t>(ncells, "Allocate2wayRefinementMemory: gain");
  graph->sides = Array<NetSides>(nnets, "Allocate2wayRefinementMemory: sides");
}

void Free2wayRefinementMemory(HGraph* graph) {
  graph->where.reset();
  graph->gain.reset();
  graph->sides.reset();
}

void Compute2WayParams(RunContext& ctrl, HGraph* graph) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nnets = graph->nnets;
  const idx_t rmaxnet = ctrl.cfg->refinement.maxnet;
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  const idx_t* incptr = graph->incptr.data();
  const pin_t* incind = graph->incind.data();
  const idx_t* where = graph->where.data();
  const real_t* netwgt = graph->netwgt.data();
  const real_t* cellwgt = graph->cellwgt.data();
  real_t* gain = graph->gain.data();
  NetSides* sides = graph->sides.data();

  // Pin counts per side: a net is cut when pins lie on at least two of the
  // three sides (of sides 0 and 1 under pairspan, which leaves the side-2
  // count at 0). Nets and cells are counted in chunks; the cut and the side
  // weights are summed in index order afterwards, as floating-point sums
  // depend on their order.
  const bool pairspan = ctrl.pairspan;
  ParallelChunks(nnets, kParamsGrain, [&](idx_t /*c*/, idx_t begin, idx_t end) {
    for (idx_t e = begin; e < end; e++) {
      NetSides& ns = sides[e];
      ns = NetSides{{0, 0, 0}};
      if (netptr[e + 1] - netptr[e] > rmaxnet) continue;
      for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) ns.n[where[netind[p]]]++;
      if (pairspan) ns.n[2] = 0;
    }
  });
  real_t mincut = 0.0f;
  for (idx_t e = 0; e < nnets; e++) {
    const NetSides& ns = sides[e];
    const int nsides = (ns.n[0] > 0) + (ns.n[1] > 0) + (ns.n[2] > 0);
    if (nsides >= 2) mincut += netwgt[e];
  }
  graph->mincut = mincut;

  ParallelChunks(nvtxs, kParamsGrain, [&](idx_t /*c*/, idx_t begin, idx_t end) {
    for (idx_t c = begin; c < end; c++) {
      const idx_t s = where[c];
      real_t g = 0.0f;
      if (s == 2) {
        gain[c] = g;
        continue;
      }
      for (idx_t j = incptr[c]; j < incptr[c + 1]; j++) {
        const idx_t e = incind[j];
        const idx_t size = netptr[e + 1] - netptr[e];
        // A net with a pin outside both sides stays cut whatever c does.
        // A net whose only pin is c can never be cut, so moving c changes
        // nothing on it; counting it as a loss would make the running cut of
        // the refinement drift away from the true cut of its partition.
        const NetSides& ns = sides[e];
        if (size > rmaxnet || size < 2 || ns.n[2] > 0) continue;
        // Under pairspan a net with no other pin on the two sides keeps its
        // span wherever c goes.
        if (pairspan && ns.n[0] + ns.n[1] < 2) continue;
        if (ns.n[1 - s] == 0)
          g -= netwgt[e];  // moving c would cut e
        else if (ns.n[s] == 1)
          g += netwgt[e];  // moving c would uncut e
      }
      gain[c] = g;
    }
  });

  real_t pwgts[2] = {0.0f, 0.0f};
  for (idx_t c = 0; c < nvtxs; c++)
    if (where[c] != 2) pwgts[where[c]] += cellwgt[c];
  graph->pwgts[0] = pwgts[0];
  graph->pwgts[1] = pwgts[1];
}

}  // namespace veldan
