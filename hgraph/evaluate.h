// Measures of a partition of a hypergraph as read from its file: every net,
// whatever its size, with the file's weights.
#pragma once

#include <string>
#include <vector>

#include "hgraph/view.h"
#include "support/types.h"

namespace veldan {

struct PartitionMetrics {
  idx_t nparts = 0;
  idx_t ncon = 1;
  // Summed in single precision, as the report prints them.
  double cut = 0.0;         // weight of the nets that span two parts or more
  double soed = 0.0;        // sum over parts of the weight of their cut nets
  double scaledcost = 0.0;  // per part: external degree / part weight, scaled
  double absorption = 0.0;  // per net: share of its other pins with each pin
  double km1 = 0.0;         // sum over nets of (parts spanned - 1) x weight
  std::vector<real_t> pwgts;  // weight j of part k at k * ncon + j
  std::vector<real_t> pcuts;  // external degree of each part
  // Per constraint: heaviest part / average part - 1 (0 without weight).
  std::vector<double> imbalance;
  idx_t emptyparts = 0;  // parts without a cell
};

// Measures part (h.nvtxs entries, each in 0..nparts-1) on h. Returns
// false, with a message in *error, when a part number is out of range or a
// count is invalid.
bool EvaluatePartition(const HGraphView& h, idx_t nparts, const idx_t* part,
                       PartitionMetrics* metrics, std::string* error);

// Why no partition into nparts parts can keep every weight j of every part
// within bounds[j]: a cell heavier than the bound on its own, or the cells
// fixed to one part (fixed: the part of each cell, -1 when free; may be
// null) heavier than the bound together. Empty when neither is the case.
std::string BoundObstacle(idx_t nvtxs, idx_t ncon, const real_t* cellwgt, const idx_t* fixed,
                          idx_t nparts, const std::vector<double>& bounds);

}  // namespace veldan
