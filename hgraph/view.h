// A hypergraph held in a caller's arrays, as the entry and the measures
// read it.
#pragma once

#include "support/types.h"

namespace veldan {

// The nets as compressed pin lists: the pins of net e are
// netind[netptr[e]] .. netind[netptr[e + 1] - 1], cells numbered from 0.
// cellwgt holds ncon weights per cell (cell by cell) or is null (unit
// weights); netwgt is null for unit weights.
struct HGraphView {
  idx_t nvtxs = 0;
  idx_t nnets = 0;
  idx_t ncon = 1;
  const real_t* cellwgt = nullptr;
  const idx_t* netptr = nullptr;
  const pin_t* netind = nullptr;
  const real_t* netwgt = nullptr;
};

}  // namespace veldan
