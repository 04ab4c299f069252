// Small pieces of the two-way refinement exposed for reuse and testing.
#pragma once

#include "hgraph/context.h"
#include "support/types.h"

namespace veldan {

// Fraction f of a level's cells that an FM pass may move past its best point
// under the refinement scheme rtype (1 fast, 2 moderate, 3 slow), for a
// level of n cells. Any other scheme ends the program.
real_t Refine2WayLimitFrac(Refinement rtype, idx_t n);

// The pass limit of the FM refinement: n * f in single precision, truncated.
idx_t FMPassMoveLimit(idx_t n, real_t limitfrac);

// The least weight each side of a bisection must keep, for a level whose
// two sides weigh total together. Under -epsilon each side's slack over its
// share tpwgt comes from sideslack; otherwise ubfactor bounds both sides.
inline void SideMinWeights(const RunContext& ctrl, real_t total, real_t minwgt[2]) {
  const double t = ctrl.tpwgt;
  if (ctrl.epsfactor > 0.0) {
    minwgt[0] = static_cast<real_t>(total * (1.0 - (1.0 + ctrl.sideslack[1]) * (1.0 - t)));
    minwgt[1] = static_cast<real_t>(total * (1.0 - (1.0 + ctrl.sideslack[0]) * t));
    return;
  }
  const double u = ctrl.ubfactor;
  minwgt[0] = static_cast<real_t>(2.0 * (0.5 - u) * t * total);
  minwgt[1] = static_cast<real_t>((1.0 - t) * minwgt[0] / t);
}

// With several weights per cell: side 0's share of weight j.
inline double ConShare(const RunContext& ctrl, idx_t j) {
  return ctrl.contshare ? ctrl.ntpwgt[j] : static_cast<double>(ctrl.tpwgt);
}

// With several weights per cell: the most weight j that each side of a
// bisection may hold, for a level whose two sides hold total of it
// together; the same rule as SideMinWeights, with weight j's own share,
// slack (-epsilon) or unbalance factor.
inline void ConSideMaxWeights(const RunContext& ctrl, idx_t j, double total,
                              double maxwgt[2]) {
  const double t = ConShare(ctrl, j);
  if (ctrl.epsfactor > 0.0) {
    maxwgt[0] = total * (1.0 + ctrl.nsideslack[0][j]) * t;
    maxwgt[1] = total * (1.0 + ctrl.nsideslack[1][j]) * (1.0 - t);
    return;
  }
  const double keep = 1.0 - 2.0 * ctrl.nubfactor[j];  // 2 (0.5 - u)
  maxwgt[0] = total * (1.0 - keep * (1.0 - t));
  maxwgt[1] = total * (1.0 - keep * t);
}

}  // namespace veldan
