// The finest level of a bisection or a k-way partitioning as its runs and
// V-cycles share it: islands set aside once, the clique graph built once
// (unless it is large), and a record of its own (borrowing the structure)
// for every run.
#pragma once

#include <functional>

#include "hgraph/context.h"
#include "hgraph/hgraph.h"
#include "support/types.h"

namespace veldan {

class FinestLevel {
 public:
  // graph must have its incidence lists; its structure is not changed, and
  // must stay as it is while the object lives. The clique graph is built
  // with ctrl's cmaxnet when the level will be matched at all and the graph
  // is not too large to keep; else every run builds its own.
  FinestLevel(const RunContext& ctrl, HGraph* graph);
  ~FinestLevel();
  FinestLevel(const FinestLevel&) = delete;
  FinestLevel& operator=(const FinestLevel&) = delete;

  // A record for one run: the structure of the level with its islands at
  // the end and the kept clique graph if any, no working arrays.
  HGraphPtr Borrow() const;
  // Hands the working state of a run's record (partition, gains, pin
  // counts, k-way records) over to a record in the input's numbering, with
  // every cell back in its place, and releases the run's record. Without
  // islands the run's record already is in that numbering and is returned.
  HGraphPtr ToInputOrder(HGraphPtr run) const;
  // where of the input's numbering (nvtxs + islands cells) into a fresh
  // array in the numbering of Borrow's records.
  Array<idx_t> ToRunOrder(const idx_t* where) const;


 private:
  HGraph* graph_;
  HGraphPtr own_;  // the level with its islands set aside, when it has any
  HGraph* sep_;    // own_, or graph_ itself when the level has no islands
  idx_t ncells_;
  bool keep_ = false;  // whether the runs share a clique graph built here
};

// The runs of a multilevel partitioning of one finest level and the
// V-cycles of the best of them, at once where threads allow. Run r gets a
// context of its own (the scheme of run r, timers at zero), a random
// stream from (ctrl.cfg->seed, ctrl.node, r) and an output capture; it fills
// where (nvtxs cells) and returns its objective. The results are then taken
// in run order: the best run (ties to the lower number) goes to result, the
// nvcycles best are kept as V-cycle candidates, each refined by vcycle (its
// stream from (seed, node, nruns + slot), rmaxnet raised to nvtxs) in place,
// and a candidate that ends better than the best replaces it, in slot
// order. So the outcome does not depend on the threads. Under a time budget
// (ctrl.budget) nruns and nvcycles are the budget's (see RunBudget), and
// the outcome is the one those counts give without it. Returns
// the outcome: the best objective, the sum of the runs' objectives and the
// number of runs made.
using RunFn = std::function<real_t(RunContext& rctrl, idx_t r, idx_t* where)>;
using VCycleFn = std::function<real_t(RunContext& rctrl, idx_t* where, real_t obj)>;
struct RunsOutcome {
  real_t best = 0.0f;
  real_t sum = 0.0f;
  idx_t made = 0;
};
RunsOutcome RunsAndVCycles(RunContext& ctrl, idx_t nvtxs, idx_t nruns, idx_t nvcycles,
                           const RunFn& run, const VCycleFn& vcycle, idx_t* result);

// The V-cycle loop of both schemes: cycle(i) coarsens graph keeping its
// partition and uncoarsens it again, improving objective(); the loop ends
// after maxcycles cycles or two cycles in a row without improvement, and
// drops each cycle's working arrays, keeping the partition. Under
// DBG_DETAIL every cycle's objective is printed with valuefmt (a printf
// conversion of one double). Returns the final objective.
real_t VCycleLoop(const RunContext& ctrl, HGraph* graph, idx_t maxcycles, const char* valuefmt,
                  const std::function<void(idx_t)>& cycle,
                  const std::function<real_t()>& objective);

// A record that shares g's structure and clique graph (borrowed arrays, g
// must outlive it) with the same counts and no working arrays.
HGraphPtr BorrowHGraph(const HGraph& g);

// Frees dst's working arrays, moves src's (partition, gains, pin counts,
// k-way records) and partition measures to dst; src's record goes.
void MoveWork(HGraph* dst, HGraphPtr src);

}  // namespace veldan
