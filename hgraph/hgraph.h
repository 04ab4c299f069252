// The hypergraph record: one level of the multilevel hierarchy, with its
// nets as compressed pin lists, its incidence lists, coarsening maps and
// the partition state of the two-way and k-way refinements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "hgraph/context.h"
#include "hgraph/view.h"
#include "support/array.h"
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

// One level of the hierarchy. The record owns its arrays (a borrowed array
// shares the finest level's, see BorrowHGraph) and the next coarser level;
// it is move-only and freed by its destructor, whatever path a run takes.
struct HGraph {
  HGraph() = default;
  HGraph(const HGraph&) = delete;
  HGraph& operator=(const HGraph&) = delete;
  // Records are counted in the memory figures and listed by the allocation
  // scopes as the arrays are.
  static void* operator new(std::size_t nbytes);
  static void operator delete(void* p) noexcept;

  // Frees the per-level working arrays (maps, matching data, partition
  // state, k-way work area); the structure stays.
  void FreeWork() noexcept;

  idx_t nvtxs = -1;
  idx_t nislands = 0;
  idx_t nnets = -1;
  real_t removedwgt = 0.0f;
  idx_t nfixed = -1;

  Array<idx_t> incptr;
  Array<pin_t> incind;
  Array<idx_t> netptr;
  Array<pin_t> netind;
  Array<pin_t> islandmap;

  Array<real_t> cellwgt;
  Array<real_t> netwgt;
  Array<real_t> incwgt;
  Array<real_t> edgewgt;
  Array<real_t> edgewgt2;

  Array<pin_t> label;
  Array<pin_t> cellmap;
  Array<pin_t> netmap;
  Array<pin_t> mptr;
  Array<pin_t> mind;

  Array<idx_t> xadj;
  Array<CliqueEdge> adj;
  Array<real_t> adjw;  // adjwgt: summed edgewgt of the shared nets, per entry
  real_t matchthreshold = 0.0f;
  // With keepadj set, the clique graph outlives the matching that built it:
  // the runs and V-cycles of one bisection match the same finest level, so it
  // is built once, together with adjwsum (the sum of adjw) and adjscore, the
  // variant-1 score of each entry (NaN until first needed). Released by
  // ReleaseCliqueGraph.
  Array<real_t> adjscore;
  real_t adjwsum = 0.0f;
  bool keepadj = false;

  std::unique_ptr<HGraph> coarser;
  HGraph* finer = nullptr;
  idx_t level = -1;

  // Partition state.
  Array<idx_t> where;
  real_t mincut = 0.0f;
  Array<real_t> gain;
  Array<NetSides> sides;
  real_t pwgts[2] = {-1.0f, -1.0f};

  // K-way work area.
  real_t objval = -1.0f;
  real_t soed = 0.0f;
  Array<NetRInfo> nrinfo;
  Array<NetPartCount> nrdata;
  Array<CellRInfo> crinfo;
  Array<CellPartDegree> crdata;
  Array<real_t> kpwgts;
  Array<real_t> nkpwgts;  // with several weights: ncon per part

  // With several weights per cell: ncon of them per cell (cell by cell),
  // each scaled to an average of 1; cellwgt then holds their mean.
  idx_t ncon = -1;
  Array<real_t> ncellwgt;

  // The islands of this level were set aside before the runs started: the
  // coarsening does not separate them again, the uncoarsening does not put
  // them back (the runs' caller maps the partition back once).
  bool islandsaside = false;
};

using HGraphPtr = std::unique_ptr<HGraph>;

// A new record with every field at its initial value.
inline HGraphPtr CreateHGraph() { return std::make_unique<HGraph>(); }

// A working copy of caller arrays: weights defaulted to 1, cell weights
// raised to kFloatEps. With ncon >= 2 the weights go to ncellwgt, each
// scaled to an average of 1 per cell, and cellwgt holds their mean.
HGraphPtr SetUpHGraph(idx_t nvtxs, idx_t nnets, idx_t ncon, const real_t* cellwgt,
                      const real_t* netwgt, const idx_t* netptr, const pin_t* netind);

// Fills incptr, incind, incwgt, edgewgt and edgewgt2 from the nets.
void CreateIncidentHGraph(RunContext& ctrl, HGraph* graph);

// The arrays of g as a view (its nets, weights and counts).
inline HGraphView ViewOf(const HGraph* g) {
  HGraphView v;
  v.nvtxs = g->nvtxs;
  v.nnets = g->nnets;
  v.ncon = g->ncon;
  v.cellwgt = g->cellwgt.data();
  v.netptr = g->netptr.data();
  v.netind = g->netind.data();
  v.netwgt = g->netwgt.data();
  return v;
}

// Number of pins of net e.
inline idx_t NetSize(const HGraph* g, idx_t e) {
  return g->netptr[e + 1] - g->netptr[e];
}

}  // namespace veldan
