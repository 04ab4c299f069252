// Routines shared inside the coarsening layer: the per-cell scoring and
// choice of the matching, the merge-limit draw and the net key of the
// contraction. Declared here so that the tests can exercise them directly.
#pragma once

#include "hgraph/context.h"
#include "hgraph/hgraph.h"
#include "support/types.h"

#include <limits>

namespace veldan {

// Number of merges allowed on a level of nvtxs cells for a draw in 0..999:
// (draw - 500) x 0.0001 + 0.4 of the cells, truncated (35% to 45%).
idx_t MatchLimit(idx_t draw, idx_t nvtxs);

// Value of an unmarked entry of the neighbourhood array cmark (NaN); every
// entry must hold it between calls.
inline const real_t kUnmarked = std::numeric_limits<real_t>::quiet_NaN();

// The arrays of one matching of a level. cellmap gives each cell's group
// (-1 while alone); wgts and mcounts, the weight of each group and the cells
// it may still take, are addressable at -1 (the slot of ungrouped cells).
// where keeps cells of different parts apart. cmark (nvtxs entries, all
// kUnmarked) is scratch for variant 1; cand receives the candidates. With
// several weights per cell, nwgts holds the ncon weights of every group
// (addressable at -1 too), and a neighbour is admissible only when the pair
// stays under ctrl.nmaxcellwgt in every weight.
struct MatchArrays {
  const pin_t* cellmap = nullptr;
  const real_t* wgts = nullptr;
  const idx_t* mcounts = nullptr;
  const idx_t* where = nullptr;
  real_t* cmark = nullptr;
  FKeyVal* cand = nullptr;
  const real_t* nwgts = nullptr;
};

// Lists in m.cand the admissible neighbours of cell i whose connection
// reaches threshold; returns their number and adds the rejected ones to
// *nskipped.
idx_t FindMatchCandidates(real_t threshold, const RunContext& ctrl, const HGraph* graph,
                          idx_t i, const MatchArrays& m, idx_t* nskipped);

// The partner chosen for cell i in the given pass (0 or 1): a cell number,
// -1 when i stays on its own, -2 when i waits for pass 1.
idx_t SelectMatch(RunContext& ctrl, const HGraph* graph, idx_t i, const MatchArrays& m,
                  int pass);

// Key of a pin list sorted increasingly (p1 < ... < ps):
// 100 x (1 x p1 + 2 x p2 + ... + s x ps) + s, 0 for an empty list. Computed
// with wrap-around so that long nets of large cell numbers cannot overflow;
// equal keys only make nets candidates for a pin-by-pin comparison.
idx_t NetKey(idx_t s, const pin_t* pins);

}  // namespace veldan
