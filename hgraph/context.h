// The context of one task of a partitioning, passed by reference as the
// first argument of every coarsening, bisection and refinement routine.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "hgraph/config.h"
#include "support/timers.h"
#include "support/types.h"
#include "support/vecops.h"

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

// A budget of wall-clock time for the runs of one partitioning, shared by
// its tasks. The first RunsAndVCycles call to meet it (the top bisection, or
// the k-way partitioning) keeps starting runs, width at a time, while its
// share lasts (a levels-th of the budget, counted from the start of the
// partitioning so that the work before the runs is paid from it too),
// keeping room for the V-cycles, and fixes how many runs and V-cycles every
// later call makes; the later calls work on its result, so they start after
// it has decided.
struct RunBudget {
  double start = 0.0;     // in SteadySeconds(), when the partitioning began
  double deadline = 0.0;  // likewise
  idx_t levels = 1;       // the rounds of calls the budget is shared by
  idx_t width = 1;        // the runs a call starts at once
  // 0 open, 1 being decided, 2 decided.
  std::atomic<int> state{0};
  idx_t nruns = 0;
  idx_t nvcycles = 0;
  // Set when a call had to go on before the counts were decided (two
  // first calls at once, which only happens when the top bisection is
  // skipped): its runs then do not follow nruns.
  std::atomic<bool> uneven{false};
};

// What one task of a partitioning owns and changes, beside the levels it
// works on: its place in the recursion and its run number (which pick its
// random stream), the matching limits of its run, the balance targets of
// the bisection or pair of parts at hand, its timers and its progress hook.
// What it reads of the caller's options is cfg, shared by every task and
// never changed. A task of a parallel section works on a copy of its
// parent's (TaskContext).
struct RunContext {
  explicit RunContext(const PartitionConfig& config);

  const PartitionConfig* cfg;

  // Matching: the flags of this run (the runs of a hybrid scheme alternate
  // them, see SchemeForRun) and its group size, whether the level has heavy
  // cells, and the heaviest a coarse cell may grow (per weight in
  // nmaxcellwgt with several weights).
  idx_t cflags = 0;
  idx_t maxgroupsize = 5;
  idx_t hasheavy = 0;
  real_t maxcellwgt = 0.0f;
  ConArray nmaxcellwgt = {};
  idx_t curtrial = 0;
  // Position in the recursion tree (root 1, children 2n and 2n+1): with the
  // seed and the run number it picks a run's random stream.
  std::uint64_t node = 1;
  // The task's random stream: every draw of the phases comes from here. A
  // run or V-cycle seeds it from (seed, node, its number) when it starts.
  RandomStream rng;

  // Balance of the present bisection (or pair of parts): the unbalance
  // factor and the target weight fraction of side 0.
  real_t ubfactor = 0.0f;
  real_t tpwgt = 0.5f;
  // The share of the parts of the present bisection that side 0 receives:
  // tpwgt itself without target weights; it decides where the fixed cells
  // (one per part) go.
  real_t tsplit = 0.5f;
  // Two parts of a k-way partition refined under km1: the pins of the
  // other parts (side 2) are not counted, so a net is cut when it has pins
  // on both sides, and emptying a side lowers its span by one.
  bool pairspan = false;
  // A bound on every final part (-epsilon, recursive bisection), as a
  // factor of the average part weight; 0 when the bisections take their
  // bound from ubfactor alone.
  double epsfactor = 0.0;
  // The bound itself in the weights of the levels (set by the recursive
  // bisection once it knows the total weight).
  double maxpartwgt = 0.0;
  // With target weights: the total weight of the hypergraph in the weights
  // of the levels, of which each final part may hold its maxshare.
  double rootwgt = 0.0;
  // Under -epsilon, the slack of each side of the present bisection over
  // its share of the weight.
  double sideslack[2] = {0.0, 0.0};
  // Cells with several weights (ncon > 1) balance each of them; the levels
  // then carry them in ncellwgt, each scaled to an average of 1 per cell,
  // and cellwgt holds their mean. The fields below apply to weight j:
  // the bound on every final part in the levels' weights (recursive
  // bisection under -epsilon);
  ConArray nmaxpartwgt = {};
  // the slack of each side of the present bisection over its share;
  ConArray nsideslack[2] = {};
  // the unbalance factor of the present bisection or pair of parts;
  ConArray nubfactor = {};
  // with target weights, side 0's share of weight j when contshare is set
  // (otherwise tpwgt is the share of every weight);
  ConArray ntpwgt = {};
  bool contshare = false;
  // with target weights under -epsilon, the total of weight j in the
  // weights of the levels (recursive bisection).
  ConArray nrootwgt = {};

  // How far the partition a run returned lies outside its bound (0 within
  // it, and always 0 with one weight): runs are compared on it first.
  double runviolation = 0.0;
  // Stepped after every run and V-cycle, for a progress display (may be
  // null).
  Progress* progress = nullptr;
  // The time budget of the runs (null: nruns runs).
  RunBudget* budget = nullptr;
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

// With target weights: the bound of a part whose target is the share
// fraction of total, as a share of total, under -epsilon: 1 + epsilon times
// the fraction, raised to the target rounded up when every weight is an
// integer (integral), as EpsilonFactor does for the average part; 0 for a
// fraction of 0.
double TargetEpsilonShare(double total, bool integral, double fraction, double epsilon);
// The bound of each part under -epsilon with the target fractions
// (nparts * ncon entries, part by part), in the weights of the cells.
std::vector<double> TargetEpsilonBounds(idx_t nvtxs, idx_t ncon, const real_t* cellwgt,
                                        const std::vector<double>& fractions, double epsilon);
// Whether the fractions, nparts * ncon of them, are targets a partition can
// take: each a finite number of at least 0, those of every weight summing to
// 1 within 1e-6; otherwise why not, with the first offending entry.
std::string TargetWeightsProblem(const std::vector<double>& fractions, idx_t nparts, idx_t ncon);

// Sets the scheme of c with its matching flags and group size.
void SetCoarseningScheme(CoarseningConfig& c, Coarsening scheme);

// A run context over a configuration of its own, for callers that drive one
// phase by hand (tests, benchmarks): they edit config (and the context's
// own fields) and pass the object wherever a RunContext is taken. Copies
// read their own configuration.
struct ConfigHolder {
  PartitionConfig config;
};
struct OwnedContext : ConfigHolder, RunContext {
  OwnedContext() : RunContext(config) {}
  OwnedContext(const OwnedContext& o) : ConfigHolder(o), RunContext(o) { cfg = &config; }
  OwnedContext& operator=(const OwnedContext& o) {
    ConfigHolder::operator=(o);
    RunContext::operator=(o);
    cfg = &config;
    return *this;
  }
  // Coarsening scheme c: its flags and group size in the configuration and
  // in the context.
  void UseScheme(Coarsening c) {
    SetCoarseningScheme(config.coarsening, c);
    cflags = config.coarsening.cflags;
    maxgroupsize = config.coarsening.maxgroupsize;
  }
};

// For the span of one call, ctx reads cfg, a variant of its configuration
// (one that counts every net in the refinement, say), instead of its own.
class ScopedConfig {
 public:
  ScopedConfig(RunContext& ctx, const PartitionConfig& cfg) : ctx_(ctx), prev_(ctx.cfg) {
    ctx.cfg = &cfg;
  }
  ~ScopedConfig() { ctx_.cfg = prev_; }
  ScopedConfig(const ScopedConfig&) = delete;
  ScopedConfig& operator=(const ScopedConfig&) = delete;

 private:
  RunContext& ctx_;
  const PartitionConfig* prev_;
};

// cfg with the refinement counting every net of a level of n cells.
inline PartitionConfig WithEveryNet(const PartitionConfig& cfg, idx_t n) {
  PartitionConfig c = cfg;
  c.refinement.maxnet = n;
  return c;
}

// The context of a task of a parallel section: a copy of its parent's with
// the timers at zero, so that the task's time can be added
// back to the parent once the section is over (AddTaskTimers).
inline RunContext TaskContext(const RunContext& parent) {
  RunContext c = parent;
  c.timers = {};
  return c;
}
inline void AddTaskTimers(RunContext& parent, const RunContext& task) {
  for (int i = 0; i < NTIMERS; i++) parent.timers.t[i] += task.timers.t[i];
}

// Timers run only when dbglvl has DBG_TIME.
inline void StartTimer(RunContext& ctrl, TimerId t) {
  if (ctrl.cfg->dbglvl & DBG_TIME) starttimer(ctrl.timers.t[t]);
}
inline void StopTimer(RunContext& ctrl, TimerId t) {
  if (ctrl.cfg->dbglvl & DBG_TIME) stoptimer(ctrl.timers.t[t]);
}

}  // namespace veldan
