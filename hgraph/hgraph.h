// The hypergraph record: one level of the multilevel hierarchy, with its
// nets as compressed pin lists, its incidence lists, coarsening maps and
// the partition state of the two-way and k-way refinements.
#pragma once

#include <cstdint>
#include <memory>

#include "hgraph/context.h"
#include "hgraph/view.h"
#include "support/types.h"

namespace veldan {

// K-way work records (see kway/kwayrefine.cc).
struct NetPartCount {
  idx_t part;
  idx_t count;
};

struct NetRInfo {
  idx_t nspan;            // parts spanned, -1 when the net is not counted
  NetPartCount* pcounts;  // nspan records inside HGraph::nrdata
};

struct CellPartDegree {
  idx_t part;
  real_t uncutwgt;
  idx_t affinity;
  real_t congain;
};

// Pins of a net on side 0, on side 1 and on neither (side 2), side by side:
// a move reads and updates all three of a net at once.
struct NetSides {
  std::int32_t n[3];
};

struct CellRInfo {
  idx_t ndegrees;
  real_t iwgt;
  real_t swgt;
  CellPartDegree* degrees;  // ndegrees records inside HGraph::crdata
};

// One entry of the clique graph that matching builds and scores on: the
// neighbouring cell and the second connection weight, the two fields the
// scoring loop of variant-1 matching reads for every neighbour of a
// neighbour, in one stream of 8-byte records. The first connection weight,
// read once per candidate, lives in the parallel array HGraph::adjw. A level
// has far fewer than 2^32 cells (each costs tens of bytes).
struct CliqueEdge {
  std::uint32_t cell;
  real_t w2;  // adjwgt2: summed edgewgt2 of the shared nets
};

struct HGraph {
  idx_t nvtxs = -1;
  idx_t nislands = 0;
  idx_t nnets = -1;
  real_t removedwgt = 0.0f;
  idx_t nfixed = -1;
  idx_t keep = 0;

  idx_t* incptr = nullptr;
  idx_t* incind = nullptr;
  idx_t* netptr = nullptr;
  idx_t* netind = nullptr;
  idx_t* islandmap = nullptr;

  real_t* cellwgt = nullptr;
  real_t* netwgt = nullptr;
  real_t* incwgt = nullptr;
  real_t* edgewgt = nullptr;
  real_t* edgewgt2 = nullptr;

  idx_t* label = nullptr;
  idx_t* cellmap = nullptr;
  idx_t* netmap = nullptr;
  idx_t* mptr = nullptr;
  idx_t* mind = nullptr;

  idx_t* xadj = nullptr;
  CliqueEdge* adj = nullptr;
  real_t* adjw = nullptr;  // adjwgt: summed edgewgt of the shared nets, per entry
  real_t matchthreshold = 0.0f;
  // With keepadj set, the clique graph outlives the matching that built it:
  // the runs and V-cycles of one bisection match the same finest level, so it
  // is built once, together with adjwsum (the sum of adjw) and adjscore, the
  // variant-1 score of each entry (NaN until first needed). Released by
  // ReleaseCliqueGraph.
  real_t* adjscore = nullptr;
  real_t adjwsum = 0.0f;
  bool keepadj = false;

  HGraph* coarser = nullptr;
  HGraph* finer = nullptr;
  idx_t level = -1;

  // Partition state.
  idx_t* where = nullptr;
  real_t mincut = 0.0f;
  real_t* gain = nullptr;
  NetSides* sides = nullptr;
  real_t pwgts[2] = {-1.0f, -1.0f};

  // K-way work area.
  real_t objval = -1.0f;
  real_t soed = 0.0f;
  NetRInfo* nrinfo = nullptr;
  NetPartCount* nrdata = nullptr;
  CellRInfo* crinfo = nullptr;
  CellPartDegree* crdata = nullptr;
  real_t* kpwgts = nullptr;
  real_t* nkpwgts = nullptr;  // with several weights: ncon per part

  // With several weights per cell: ncon of them per cell (cell by cell),
  // each scaled to an average of 1; cellwgt then holds their mean.
  idx_t ncon = -1;
  real_t* ncellwgt = nullptr;

  // A borrowed record shares the structural arrays of another level (the
  // finest level, which concurrent runs read at once) and owns only its
  // working arrays; FreeHGraph then releases only those.
  bool borrowed = false;
  // The islands of this level were set aside before the runs started: the
  // coarsening does not separate them again, the uncoarsening does not put
  // them back (the runs' caller maps the partition back once).
  bool islandsaside = false;
};

// A new record with every field at its initial value.
HGraph* CreateHGraph();

// A working copy of caller arrays: weights defaulted to 1, cell weights
// raised to kFloatEps. With ncon >= 2 the weights go to ncellwgt, each
// scaled to an average of 1 per cell, and cellwgt holds their mean.
HGraph* SetUpHGraph(idx_t nvtxs, idx_t nnets, idx_t ncon, const real_t* cellwgt,
                    const real_t* netwgt, const idx_t* netptr,
                    const idx_t* netind);

// Fills incptr, incind, incwgt, edgewgt and edgewgt2 from the nets.
void CreateIncidentHGraph(RunContext& ctrl, HGraph* graph);

// Frees the per-level working arrays (maps, matching data, partition state,
// k-way work area); the record and its structure stay.
void FreeHGraphWork(HGraph* graph);

// Frees the working and structural arrays (only the working ones of a
// borrowed record); with flag non-zero also the record itself, setting
// *graph to null.
void FreeHGraph(HGraph** graph, int flag);

// A record freed (FreeHGraph) when its handle goes, also when an error
// unwinds past it.
struct HGraphDeleter {
  void operator()(HGraph* g) const { FreeHGraph(&g, 1); }
};
using HGraphPtr = std::unique_ptr<HGraph, HGraphDeleter>;

// The arrays of g as a view (its nets, weights and counts).
inline HGraphView ViewOf(const HGraph* g) {
  HGraphView v;
  v.nvtxs = g->nvtxs;
  v.nnets = g->nnets;
  v.ncon = g->ncon;
  v.cellwgt = g->cellwgt;
  v.netptr = g->netptr;
  v.netind = g->netind;
  v.netwgt = g->netwgt;
  return v;
}

// Number of pins of net e.
inline idx_t NetSize(const HGraph* g, idx_t e) {
  return g->netptr[e + 1] - g->netptr[e];
}

}  // namespace veldan
