// Small pieces of the two-way refinement exposed for reuse and testing.
#pragma once

#include "support/types.h"

namespace veldan {

// Fraction f of a level's cells that an FM pass may move past its best point
// under the refinement scheme rtype (1 fast, 2 moderate, 3 slow), for a
// level of n cells. Any other scheme ends the program.
real_t Refine2WayLimitFrac(idx_t rtype, idx_t n);

// The pass limit of the FM refinement: n * f in single precision, truncated.
idx_t FMPassMoveLimit(idx_t n, real_t limitfrac);

}  // namespace veldan
