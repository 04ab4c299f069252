// The finest level shared by the runs of one bisection or k-way
// partitioning.
#include "coarsen/finest.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>
#include <utility>

#include "coarsen/coarsen.h"
#include "support/memory.h"
#include "support/output.h"
#include "support/parallel.h"
#include "support/progress.h"
#include "support/vecops.h"

namespace veldan {

real_t VCycleLoop(const RunContext& ctrl, HGraph* graph, idx_t maxcycles, const char* valuefmt,
                  const std::function<void(idx_t)>& cycle,
                  const std::function<real_t()>& objective) {
  const bool detail = (ctrl.cfg->dbglvl & DBG_DETAIL) != 0;
  const std::string eachfmt = std::string(valuefmt) + " ";
  const std::string minfmt = "(min = " + std::string(valuefmt) + ")]\n";
  real_t best = objective();
  idx_t last = -1;
  if (detail) Print("          [");

  for (idx_t i = 0; i < maxcycles; i++) {
    cycle(i);
    if (detail) {
      Print(eachfmt.c_str(), static_cast<double>(objective()));
      FlushPrint();
    }

    // Keep the partition, drop the rest of the cycle's working arrays.
    Array<idx_t> where = std::move(graph->where);
    graph->FreeWork();
    graph->where = std::move(where);

    if (objective() < best) {
      best = objective();
      last = i;
    } else if (i - last >= 2) {
      break;  // two cycles in a row brought nothing
    }
  }

  if (detail) Print(minfmt.c_str(), static_cast<double>(objective()));
  return objective();
}

HGraphPtr BorrowHGraph(const HGraph& g) {
  HGraphPtr b = CreateHGraph();
  b->nvtxs = g.nvtxs;
  b->nislands = g.nislands;
  b->nnets = g.nnets;
  b->removedwgt = g.removedwgt;
  b->nfixed = g.nfixed;
  b->ncon = g.ncon;
  b->level = g.level;
  b->islandsaside = g.islandsaside;
  b->incptr = Array<idx_t>::Borrow(g.incptr);
  b->incind = Array<pin_t>::Borrow(g.incind);
  b->netptr = Array<idx_t>::Borrow(g.netptr);
  b->netind = Array<pin_t>::Borrow(g.netind);
  b->cellwgt = Array<real_t>::Borrow(g.cellwgt);
  b->ncellwgt = Array<real_t>::Borrow(g.ncellwgt);
  b->netwgt = Array<real_t>::Borrow(g.netwgt);
  b->incwgt = Array<real_t>::Borrow(g.incwgt);
  b->edgewgt = Array<real_t>::Borrow(g.edgewgt);
  b->edgewgt2 = Array<real_t>::Borrow(g.edgewgt2);
  b->xadj = Array<idx_t>::Borrow(g.xadj);
  b->adj = Array<CliqueEdge>::Borrow(g.adj);
  b->adjw = Array<real_t>::Borrow(g.adjw);
  b->adjscore = Array<real_t>::Borrow(g.adjscore);
  b->matchthreshold = g.matchthreshold;
  b->adjwsum = g.adjwsum;
  b->keepadj = g.keepadj;
  b->mincut = g.mincut;
  b->pwgts[0] = g.pwgts[0];
  b->pwgts[1] = g.pwgts[1];
  b->objval = g.objval;
  b->soed = g.soed;
  return b;
}

namespace {

// An upper bound on the bytes of the clique graph of g with its kept scores.
double CliqueGraphBytes(const HGraph& g, idx_t maxnet) {
  constexpr double kEntryBytes = sizeof(CliqueEdge) + 2 * sizeof(real_t);  // adj, adjw, adjscore
  return static_cast<double>(CliqueEntryBound(g, maxnet)) * kEntryBytes +
         static_cast<double>(g.nvtxs + 1) * sizeof(idx_t);
}

}  // namespace

FinestLevel::FinestLevel(const RunContext& ctrl, HGraph* graph)
    : graph_(graph), sep_(graph), ncells_(graph->nvtxs) {
  const idx_t n = graph->nvtxs;
  const idx_t* incptr = graph->incptr.data();
  // Islands are set aside only on a level that is coarsened at all.
  bool islands = false;
  if (n > ctrl.cfg->coarsento)
    for (idx_t i = std::max<idx_t>(graph->nfixed, 0); i < n && !islands; i++)
    islands = (incptr[i + 1] == incptr[i]);

  if (islands) {
    // Separation reorders these arrays; the copies are the separated
    // level's own, the rest is shared with the input.
    own_ = BorrowHGraph(*graph);
    sep_ = own_.get();
    sep_->xadj.reset();
    sep_->adj.reset();
    sep_->adjw.reset();
    sep_->adjscore.reset();
    sep_->keepadj = false;
    const idx_t npins = graph->netptr[graph->nnets];
    sep_->incptr = Array<idx_t>::CopyOf(n + 1, graph->incptr.data(), "FinestLevel: incptr");
    sep_->netind = Array<pin_t>::CopyOf(npins, graph->netind.data(), "FinestLevel: netind");
    if (!graph->cellwgt.empty())
      sep_->cellwgt = Array<real_t>::CopyOf(n, graph->cellwgt.data(), "FinestLevel: cellwgt");
    if (graph->ncon > 1 && !graph->ncellwgt.empty())
      sep_->ncellwgt =
          Array<real_t>::CopyOf(n * graph->ncon, graph->ncellwgt.data(), "FinestLevel: ncellwgt");
    if (!graph->incwgt.empty())
      sep_->incwgt = Array<real_t>::CopyOf(n, graph->incwgt.data(), "FinestLevel: incwgt");
    SeparateIslands(sep_);
  } else {
    graph->nislands = 0;
  }
  sep_->islandsaside = true;
  // Built whenever the coarsening will match this level (its test counts
  // the islands), so that no run builds one of its own, and kept with the
  // scores the runs find; unless it would take more than cfg's keptclique.
  // On large levels the graph is the largest single item in memory, so
  // there every run builds its own and frees it after its first matching:
  // the same graph and the same matchings, a little more time.
  keep_ = n > ctrl.cfg->coarsento &&
          CliqueGraphBytes(*sep_, ctrl.cfg->coarsening.maxnet) <= ctrl.cfg->coarsening.keptclique;
  if (keep_) {
    KeepCliqueGraph(sep_);
    RunContext c = ctrl;
    CreateAdjancentGraph(c, sep_);
  }
}

FinestLevel::~FinestLevel() {
  ReleaseCliqueGraph(sep_);
  if (sep_ == graph_) graph_->islandsaside = false;
  // own_, the separated copy, goes with its arrays.
}

HGraphPtr FinestLevel::Borrow() const {
  HGraphPtr b = BorrowHGraph(*sep_);
  b->islandsaside = true;
  b->keepadj = keep_;
  return b;
}

void MoveWork(HGraph* dst, HGraphPtr src) {
  dst->FreeWork();
  dst->where = std::move(src->where);
  dst->gain = std::move(src->gain);
  dst->sides = std::move(src->sides);
  dst->kpwgts = std::move(src->kpwgts);
  dst->nkpwgts = std::move(src->nkpwgts);
  dst->nrinfo = std::move(src->nrinfo);
  dst->nrdata = std::move(src->nrdata);
  dst->crinfo = std::move(src->crinfo);
  dst->crdata = std::move(src->crdata);
  dst->mincut = src->mincut;
  dst->pwgts[0] = src->pwgts[0];
  dst->pwgts[1] = src->pwgts[1];
  dst->objval = src->objval;
  dst->soed = src->soed;
}

HGraphPtr FinestLevel::ToInputOrder(HGraphPtr run) const {
  if (sep_ == graph_) {
    run->islandsaside = false;
    return run;
  }
  HGraphPtr o = BorrowHGraph(*graph_);
  o->keepadj = true;  // the input's own clique graph, if any, is not the run's
  o->xadj.reset();
  o->adj.reset();
  o->adjw.reset();
  o->adjscore.reset();
  o->nislands = 0;
  if (!run->where.empty()) {
    const idx_t n = ncells_;
    const pin_t* map = sep_->islandmap.data();
    Array<idx_t> where(n, "FinestLevel: where");
    for (idx_t i = 0; i < n; i++) where[i] = run->where[map[i]];
    run->where = std::move(where);
  }
  MoveWork(o.get(), std::move(run));
  return o;
}

Array<idx_t> FinestLevel::ToRunOrder(const idx_t* where) const {
  const idx_t n = ncells_;
  Array<idx_t> w(n, "FinestLevel: where");
  if (sep_ == graph_) {
    ax_icopy(n, where, w.data());
  } else {
    const pin_t* map = sep_->islandmap.data();
    for (idx_t i = 0; i < n; i++) w[map[i]] = where[i];
  }
  return w;
}

namespace {

// A V-cycle costs about this many runs (it refines every level of a fresh
// coarsening with every net counted); a time budget keeps room for them.
constexpr double kVCycleRuns = 3.0;

struct TaskResult {
  real_t obj = kMaxFloat;
  std::vector<std::int32_t> where;  // part numbers fit: nparts < 2^31
  std::string text;
  std::optional<RunContext> ctrl;
};

// The runs as they come in, in run order: the best run (ties to the lower
// number) and the nvcycles best as V-cycle candidates.
class RunSelection {
 public:
  RunSelection(RunContext& ctrl, idx_t nvtxs, idx_t nvcycles, idx_t* result)
      : ctrl_(ctrl), nvtxs_(nvtxs), result_(result) {
    const std::size_t nslots = static_cast<std::size_t>(std::max<idx_t>(nvcycles, 0));
    parts_.resize(nslots);
    for (Array<idx_t>& p : parts_) p = Array<idx_t>(nvtxs, -1, "RunsAndVCycles: parts");
    objs_.assign(nslots, kMaxFloat);
    viols_.assign(nslots, 0.0);
  }

  void Take(TaskResult& res) {
    PrintText(res.text);
    AddTaskTimers(ctrl_, *res.ctrl);
    sum_ += res.obj;
    const double viol = res.ctrl->runviolation;
    if (taken_ == 0 || Worse(bestviol_, best_, viol, res.obj)) {
      std::copy(res.where.begin(), res.where.end(), result_);
      best_ = res.obj;
      bestviol_ = viol;
    }
    taken_++;
    // Keep the run as a V-cycle candidate when it beats the worst one kept.
    const idx_t nslots = static_cast<idx_t>(objs_.size());
    if (nslots > 0) {
      idx_t k = 0;
      for (idx_t i = 1; i < nslots; i++)
        if (Worse(viols_[i], objs_[i], viols_[k], objs_[k])) k = i;
      if (Worse(viols_[k], objs_[k], viol, res.obj)) {
        std::copy(res.where.begin(), res.where.end(), parts_[k].data());
        objs_[k] = res.obj;
        viols_[k] = viol;
      }
    }
    std::vector<std::int32_t>().swap(res.where);
  }

  // Refines the candidates by V-cycles (seeded after the nruns runs) and
  // takes any that ends better than the best, in slot order.
  real_t VCycles(idx_t nruns, const VCycleFn& vcycle) {
    const idx_t nslots = static_cast<idx_t>(objs_.size());
    if (nslots == 0) return best_;
    const PartitionConfig everynet = WithEveryNet(*ctrl_.cfg, nvtxs_);
    std::vector<TaskResult> cycles(static_cast<std::size_t>(nslots));
    ParallelFor(nslots, [&](idx_t k) {
      // A slot that no run filled (fewer runs than V-cycles, or objectives
      // that overflowed) holds no partition.
      if (objs_[k] == kMaxFloat) return;
      TaskResult& res = cycles[k];
      // A V-cycle refines with every net counted, from the scheme's own flags.
      res.ctrl.emplace(TaskContext(ctrl_));
      res.ctrl->cfg = &everynet;
      res.ctrl->cflags = everynet.coarsening.cflags;
      res.ctrl->rng.Seed(StreamSeed(ctrl_.cfg->seed, ctrl_.node, nruns + k));
      OutputCapture out;
      res.obj = vcycle(*res.ctrl, parts_[k].data(), objs_[k]);
      res.text = out.Take();
      if (ctrl_.progress != nullptr) ctrl_.progress->Step();
    });
    for (idx_t k = 0; k < nslots; k++) {
      if (objs_[k] == kMaxFloat) continue;
      PrintText(cycles[k].text);
      AddTaskTimers(ctrl_, *cycles[k].ctrl);
      if (Worse(bestviol_, best_, cycles[k].ctrl->runviolation, cycles[k].obj)) {
        best_ = cycles[k].obj;
        bestviol_ = cycles[k].ctrl->runviolation;
        ax_icopy(nvtxs_, parts_[k].data(), result_);
      }
    }
    return best_;
  }

  real_t Sum() const { return sum_; }
  idx_t Taken() const { return taken_; }

 private:
  // With several weights a run may end outside its bound: such a run loses
  // to any that is less so, whatever the objectives (with one weight every
  // violation is 0 and the objective alone decides).
  static bool Worse(double v1, real_t o1, double v2, real_t o2) {
    return v1 > v2 || (v1 == v2 && o1 > o2);
  }

  RunContext& ctrl_;
  idx_t nvtxs_;
  idx_t* result_;
  std::vector<Array<idx_t>> parts_;
  std::vector<real_t> objs_;
  std::vector<double> viols_;  // how far each kept candidate is outside its bound
  real_t best_ = 0.0f;
  double bestviol_ = 0.0;
  real_t sum_ = 0.0f;
  idx_t taken_ = 0;
};

}  // namespace

RunsOutcome RunsAndVCycles(RunContext& ctrl, idx_t nvtxs, idx_t nruns, idx_t nvcycles,
                           const RunFn& run, const VCycleFn& vcycle, idx_t* result) {
  auto run_task = [&](TaskResult& res, idx_t r) {
    res.ctrl.emplace(TaskContext(ctrl));
    SchemeForRun(*res.ctrl, r);
    res.ctrl->rng.Seed(StreamSeed(ctrl.cfg->seed, ctrl.node, r));
    OutputCapture out;
    Array<idx_t> where(nvtxs, "RunsAndVCycles: where");
    res.obj = run(*res.ctrl, r, where.data());
    res.where.assign(where.begin(), where.end());
    where.reset();
    res.text = out.Take();
    if (ctrl.progress != nullptr) ctrl.progress->Step();
  };

  // Under a time budget the first call decides the counts for all.
  RunBudget* budget = ctrl.budget;
  int state = 0;
  const bool deciding =
      budget != nullptr && budget->state.compare_exchange_strong(state, 1);
  if (budget != nullptr && !deciding) {
    if (state == 2) {
      nruns = budget->nruns;
      nvcycles = budget->nvcycles;
    } else {
      budget->uneven = true;
    }
  }

  if (!deciding) {
    RunSelection sel(ctrl, nvtxs, nvcycles, result);
    std::vector<TaskResult> runs(static_cast<std::size_t>(nruns));
    ParallelFor(nruns, [&](idx_t r) { run_task(runs[r], r); });
    for (TaskResult& res : runs) sel.Take(res);
    return {sel.VCycles(nruns, vcycle), sel.Sum(), sel.Taken()};
  }

  // Runs go width at a time while the share lasts. After the first batch,
  // the V-cycles are cut to what the share leaves room for; then another
  // batch starts only when it and the V-cycles fit in what is left.
  const double start = SteadySeconds();
  const double end =
      budget->start + std::max(budget->deadline - budget->start, 0.0) /
                          static_cast<double>(std::max<idx_t>(budget->levels, 1));
  const idx_t width = std::max<idx_t>(budget->width, 1);
  std::vector<TaskResult> batch(static_cast<std::size_t>(width));
  auto run_batch = [&](idx_t first) {
    ParallelFor(width, [&](idx_t i) { run_task(batch[i], first + i); });
  };
  run_batch(0);
  idx_t done = width;
  double now = SteadySeconds();
  const double perbatch = now - start;
  auto vcycletime = [&](idx_t m) {
    return static_cast<double>((m + width - 1) / width) * kVCycleRuns * perbatch;
  };
  idx_t m = std::max<idx_t>(nvcycles, 0);
  while (m > 0 && now + vcycletime(m) > end) m--;
  RunSelection sel(ctrl, nvtxs, m, result);
  for (TaskResult& res : batch) sel.Take(res);
  for (;;) {
    const double each = (now - start) / static_cast<double>(done / width);
    if (now + each + vcycletime(m) > end || done > INT32_MAX - width) break;
    run_batch(done);
    for (TaskResult& res : batch) sel.Take(res);
    done += width;
    now = SteadySeconds();
  }
  budget->nruns = done;
  budget->nvcycles = std::min(m, done);
  budget->state.store(2);
  return {sel.VCycles(done, vcycle), sel.Sum(), sel.Taken()};
}

}  // namespace veldan
