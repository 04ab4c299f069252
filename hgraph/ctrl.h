// The control record of one partitioning run, passed by reference as the
// first argument of every coarsening, bisection and refinement routine.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "hgraph/config.h"
#include "support/timers.h"
#include "support/types.h"

namespace veldan {

class Progress;

// Bits of dbglvl.
enum : idx_t {
  DBG_COARSEN = 1,      // coarsening progress
  DBG_INITCUT = 2,      // initial cuts
  DBG_REFINE = 4,       // refinement progress
  DBG_BISECT = 8,       // bisection statistics
  DBG_BISECT2 = 16,     // per-trial bisection statistics
  DBG_TIME = 32,        // timers
  DBG_DETAIL = 128,     // detailed bisection statistics
  DBG_MOVES = 256,      // every cell move
  DBG_LISTING = 16384,  // coarse net listing
};

// Bits of cflags.
enum : idx_t {
  CFLAG_GREEDY = 1,    // a connection-weight threshold is used
  CFLAG_VARIANT1 = 2,  // scores are penalised, the threshold ratchets up
};

// Scheme codes.
enum : idx_t { PTYPE_RB = 1, PTYPE_KWAY = 2 };
enum : idx_t {
  CTYPE_FC1 = 1, CTYPE_GFC1, CTYPE_FC2, CTYPE_GFC2, CTYPE_H1, CTYPE_H2,
  CTYPE_H12, CTYPE_EDGE1, CTYPE_GEDGE1, CTYPE_EDGE2, CTYPE_GEDGE2
};
enum : idx_t {
  RTYPE_FAST = 1, RTYPE_MODERATE, RTYPE_SLOW, RTYPE_KRANDOM, RTYPE_KPFAST,
  RTYPE_KPMODERATE, RTYPE_KPSLOW
};
enum : idx_t { OTYPE_CUT = 1, OTYPE_SOED = 2 };

struct PartitionCtrl {
  idx_t ptype = 0;
  idx_t coarsento = 0;
  idx_t ctype = 0;
  idx_t rtype = 0;
  idx_t otype = 0;
  idx_t nruns = 0;
  idx_t nvcycles = 0;
  idx_t cmaxnet = 0;
  idx_t rmaxnet = 0;
  real_t ubfactor = 0.0f;
  idx_t fixed = 0;
  idx_t seed = 0;
  idx_t dbglvl = 0;
  idx_t cflags = 0;
  idx_t reconst = 0;
  idx_t nparts = 0;
  idx_t hasheavy = 0;
  idx_t kwayrefine = 0;
  idx_t curtrial = 0;
  real_t tpwgt = 0.5f;
  real_t maxcellwgt = 0.0f;
  idx_t maxgroupsize = 5;
  // cflags as the coarsening scheme sets them, before any run alternates
  // them (see SchemeForRun).
  idx_t basecflags = 0;
  // Position in the recursion tree (root 1, children 2n and 2n+1): with the
  // seed and the run number it picks a run's random stream.
  std::uint64_t node = 1;
  // A bound on every final part (-epsilon), as a factor of the average part
  // weight; 0 when the bisections take their bound from ubfactor alone.
  double epsfactor = 0.0;
  // The bound itself in the weights of the levels (set by the recursive
  // bisection once it knows the total weight).
  double maxpartwgt = 0.0;
  // Under -epsilon, the slack of each side of the present bisection over
  // its share of the weight.
  double sideslack[2] = {0.0, 0.0};
  // Cells with several weights (ncon > 1) balance each of them; the levels
  // then carry them in ncellwgt, each scaled to an average of 1 per cell,
  // and cellwgt holds their mean. The fields below apply to weight j:
  idx_t ncon = 1;
  // the bound factor of every part under -epsilon (0 without it);
  ConArray nepsfactor = {};
  // the bound on every final part in the levels' weights (recursive
  // bisection under -epsilon);
  ConArray nmaxpartwgt = {};
  // the slack of each side of the present bisection over its share;
  ConArray nsideslack[2] = {};
  // the two-way unbalance factor when -epsilon is not given (the pairwise
  // k-way refinement sets its own per pair);
  ConArray nubfactor = {};
  // the heaviest a coarse cell may grow in the matching.
  ConArray nmaxcellwgt = {};
  // How far the partition a run returned lies outside its bound (0 within
  // it, and always 0 with one weight): runs are compared on it first.
  double runviolation = 0.0;
  // Stepped after every run and V-cycle, for a progress display (may be
  // null).
  Progress* progress = nullptr;
  TimerSet timers = {};
};

// The factor of the average part weight that bounds every part under
// -epsilon: 1 + epsilon, raised to ceil(avg)/avg when every weight is an
// integer and (1 + epsilon) x avg is below the next integer, so that unit
// weights always admit a partition within the bound. weights holds n
// weights at the given stride (null: unit weights).
double EpsilonFactor(idx_t n, const real_t* weights, idx_t stride, idx_t nparts,
                     double epsilon);
// The bound of each of the ncon weights on every part under -epsilon, for
// cells with ncon weights each (null: unit weights); *factor receives the
// largest of the factors.
std::vector<double> EpsilonBounds(idx_t nvtxs, idx_t ncon, const real_t* cellwgt, idx_t nparts,
                                  double epsilon, double* factor);

// With several weights (ncon > 1, cellwgt holding ncon per cell): sets
// ctrl.nepsfactor[j] to EpsilonFactor of weight j and returns the largest.
double SetWeightEpsilonFactors(PartitionCtrl& ctrl, idx_t nvtxs, idx_t ncon,
                               const real_t* cellwgt, idx_t nparts, double epsilon);

// Sets cflags and maxgroupsize from a ctype code (codes outside 1..11
// leave 0 and 5).
void ApplyCTypeTable(PartitionCtrl& ctrl, idx_t ctype);

// The control record of a task of a parallel section: a copy of its
// parent's with the timers at zero, so that the task's time can be added
// back to the parent once the section is over (AddTaskTimers).
inline PartitionCtrl TaskCtrl(const PartitionCtrl& parent) {
  PartitionCtrl c = parent;
  c.timers = {};
  return c;
}
inline void AddTaskTimers(PartitionCtrl& parent, const PartitionCtrl& task) {
  for (int i = 0; i < NTIMERS; i++) parent.timers.t[i] += task.timers.t[i];
}

// Timers run only when dbglvl has DBG_TIME.
inline void StartTimer(PartitionCtrl& ctrl, TimerId t) {
  if (ctrl.dbglvl & DBG_TIME) starttimer(ctrl.timers.t[t]);
}
inline void StopTimer(PartitionCtrl& ctrl, TimerId t) {
  if (ctrl.dbglvl & DBG_TIME) stoptimer(ctrl.timers.t[t]);
}

}  // namespace veldan
