// Per-level state of a bisection: allocation and release of the two-way
// arrays, and the recount of pin counts, cut, side weights and gains from
// the side vector.
#include "bisect/bisect.h"
#include "support/memory.h"

namespace veldan {

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
  const idx_t* netind = graph->netind.data();
  const idx_t* incptr = graph->incptr.data();
  const idx_t* incind = graph->incind.data();
  const idx_t* where = graph->where.data();
  const real_t* netwgt = graph->netwgt.data();
  const real_t* cellwgt = graph->cellwgt.data();
  real_t* gain = graph->gain.data();
  NetSides* sides = graph->sides.data();

  for (idx_t e = 0; e < nnets; e++) sides[e] = NetSides{{0, 0, 0}};
  for (idx_t i = 0; i < nvtxs; i++) gain[i] = 0.0f;

  // Pin counts per side and the cut: a net is cut when pins lie on at
  // least two of the three sides (of sides 0 and 1 under pairspan, which
  // leaves the side-2 count at 0).
  const bool pairspan = ctrl.pairspan;
  real_t mincut = 0.0f;
  for (idx_t e = 0; e < nnets; e++) {
    if (netptr[e + 1] - netptr[e] > rmaxnet) continue;
    NetSides& ns = sides[e];
    for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) ns.n[where[netind[p]]]++;
    if (pairspan) ns.n[2] = 0;
    const int nsides = (ns.n[0] > 0) + (ns.n[1] > 0) + (ns.n[2] > 0);
    if (nsides >= 2) mincut += netwgt[e];
  }
  graph->mincut = mincut;

  graph->pwgts[0] = graph->pwgts[1] = 0.0f;
  for (idx_t c = 0; c < nvtxs; c++) {
    const idx_t s = where[c];
    if (s == 2) continue;
    graph->pwgts[s] += cellwgt[c];
    real_t g = 0.0f;
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
}

}  // namespace veldan
