// Fixed cells: the cells pre-assigned to one part are contracted into one
// fixed cell before partitioning and the result is projected back. Also the
// two recounted partition measures, the weighted cut and the sum of external
// degrees.
#include "coarsen/coarsen.h"
#include "support/memory.h"
#include "support/vecops.h"

namespace veldan {

void CompressFixedCells(RunContext& ctrl, HGraph* graph, const idx_t* part) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nparts = ctrl.cfg->nparts;

  // The spare entries keep the sizes valid for any grouping of these cells.
  graph->mptr.reset();
  graph->mind.reset();
  graph->cellmap.reset();
  graph->mptr = Array<pin_t>(nvtxs + nparts + 11, 0, "CompressFixedCells: graph->mptr");
  pin_t* mptr = graph->mptr.data();
  graph->mind = Array<pin_t>(nvtxs + 10, "CompressFixedCells: graph->mind");
  pin_t* mind = graph->mind.data();
  graph->cellmap = Array<pin_t>(nvtxs + 10, -1, "CompressFixedCells: graph->cellmap");
  pin_t* cellmap = graph->cellmap.data();

  // Cell k < nparts gathers the cells pre-assigned to part k; every free
  // cell is a cell of its own after them, in input order.
  idx_t cnvtxs = nparts;
  for (idx_t i = 0; i < nvtxs; i++)
    cellmap[i] = static_cast<pin_t>((part[i] != -1) ? part[i] : cnvtxs++);
  // With few cells fixed, the nparts fixed cells and the free ones together
  // may outnumber the cells of the input; their numbers must fit pin_t.
  if (cnvtxs > kMaxLevelCount)
    errexit("CompressFixedCells: %ld cells are too many for one level.\n",
            static_cast<long>(cnvtxs));

  MakeGroupLists(nvtxs, cnvtxs, cellmap, mptr, mind);

  // Incidence lists the level may already carry are rebuilt, not leaked.
  graph->incptr.reset();
  graph->incind.reset();
  graph->incwgt.reset();
  graph->edgewgt.reset();
  graph->edgewgt2.reset();
  CreateIncidentHGraph(ctrl, graph);
  CreateCoarseHGraph(ctrl, graph, cnvtxs);

  // The partitioner rebuilds the incidence data it needs on the level it
  // works on.
  HGraph* cgraph = graph->coarser.get();
  graph->incptr.reset();
  graph->incind.reset();
  graph->incwgt.reset();
  graph->edgewgt.reset();
  graph->edgewgt2.reset();
  cgraph->incptr.reset();
  cgraph->incind.reset();
  cgraph->incwgt.reset();
  cgraph->edgewgt.reset();
  cgraph->edgewgt2.reset();
}

HGraphPtr CompressedFixedLevel(RunContext& ctrl, HGraph* graph, const idx_t* part) {
  CompressFixedCells(ctrl, graph, part);
  HGraphPtr level = std::move(graph->coarser);
  level->finer = nullptr;
  level->nfixed = ctrl.cfg->nparts;
  return level;
}

void ProjectFixedCells(RunContext& ctrl, HGraph* graph, idx_t* part,
                       const idx_t* cpart) {
  const idx_t nparts = ctrl.cfg->nparts;
  const pin_t* cellmap = graph->cellmap.data();

  // The part holding fixed cell k becomes part k. Should two fixed cells
  // share a part, the part numbers left unclaimed go, in increasing order,
  // to the parts left unnamed, so that the result is still a permutation.
  Array<idx_t> imapbuf(nparts, -1, "ProjectFixedCells: imap");
  idx_t* imap = imapbuf.data();
  for (idx_t k = 0; k < nparts; k++) imap[cpart[k]] = k;

  Array<idx_t> usedbuf(nparts, 0, "ProjectFixedCells: used");
  idx_t* used = usedbuf.data();
  for (idx_t p = 0; p < nparts; p++)
    if (imap[p] != -1) used[imap[p]] = 1;
  idx_t next = 0;
  for (idx_t p = 0; p < nparts; p++) {
    if (imap[p] != -1) continue;
    while (used[next]) next++;
    imap[p] = next++;
  }
  usedbuf.reset();

  for (idx_t i = 0; i < graph->nvtxs; i++) part[i] = imap[cpart[cellmap[i]]];
}

real_t ComputeCut(const HGraph* graph, const idx_t* where) {
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  const real_t* netwgt = graph->netwgt.data();

  real_t cut = 0.0f;
  for (idx_t e = 0; e < graph->nnets; e++) {
    if (netptr[e + 1] == netptr[e]) continue;
    const idx_t first = where[netind[netptr[e]]];
    for (idx_t p = netptr[e] + 1; p < netptr[e + 1]; p++) {
      if (where[netind[p]] != first) {
        cut += netwgt[e];
        break;
      }
    }
  }
  return cut;
}

real_t ComputeSOED(const HGraph* graph, const idx_t* where) {
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  const real_t* netwgt = graph->netwgt.data();
  const idx_t nvtxs = graph->nvtxs;

  // htable[part] holds the last net that counted the part.
  const idx_t maxpart = (nvtxs > 0) ? where[ax_iargmax(nvtxs, where)] : 0;
  Array<idx_t> htablebuf(maxpart + 1, -1, "htable");
  idx_t* htable = htablebuf.data();

  real_t soed = 0.0f;
  for (idx_t e = 0; e < graph->nnets; e++) {
    idx_t nspan = 0;
    for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) {
      const idx_t q = where[netind[p]];
      if (htable[q] != e) {
        htable[q] = e;
        nspan++;
      }
    }
    if (nspan > 1) soed += static_cast<real_t>(nspan) * netwgt[e];
  }
  htablebuf.reset();
  return soed;
}

}  // namespace veldan
