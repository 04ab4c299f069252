// The table that turns a coarsening scheme code into matching flags.
#include "hgraph/ctrl.h"

namespace veldan {

void ApplyCTypeTable(PartitionCtrl& ctrl, idx_t ctype) {
  // cflags (bit 1 greedy, bit 2 first variant) and group size per code 1..11.
  static constexpr idx_t kFlags[] = {2, 3, 0, 1, 2, 0, 0, 2, 3, 0, 1};
  static constexpr idx_t kGroup[] = {5, 5, 5, 5, 5, 5, 5, 2, 2, 2, 2};
  ctrl.cflags = 0;
  ctrl.maxgroupsize = 5;
  if (ctype >= 1 && ctype <= 11) {
    ctrl.cflags = kFlags[ctype - 1];
    ctrl.maxgroupsize = kGroup[ctype - 1];
  }
  ctrl.basecflags = ctrl.cflags;
}

}  // namespace veldan
