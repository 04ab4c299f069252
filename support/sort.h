// In-place sorts: a partitioning pass with an explicit stack followed by one
// insertion pass. Not stable, but equal keys always end in the same order
// for the same input.
#pragma once

#include "support/types.h"

namespace veldan {

void ax_isorti(idx_t n, idx_t* a);        // increasing
void ax_isorti(idx_t n, pin_t* a);        // increasing
void ax_ikvsorti(idx_t n, IKeyVal* a);    // increasing key
void ax_fkvsorti(idx_t n, FKeyVal* a);    // increasing key
void ax_fkvsortd(idx_t n, FKeyVal* a);    // decreasing key

}  // namespace veldan
