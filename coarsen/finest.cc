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
  b->incind = Array<idx_t>::Borrow(g.incind);
  b->netptr = Array<idx_t>::Borrow(g.netptr);
  b->netind = Array<idx_t>::Borrow(g.netind);
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
    sep_->netind = Array<idx_t>::CopyOf(npins, graph->netind.data(), "FinestLevel: netind");
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
  KeepCliqueGraph(sep_);
  // Built whenever the coarsening will match this level (its test counts
  // the islands), so that no run builds one of its own.
  if (n > ctrl.cfg->coarsento) {
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
  b->keepadj = true;
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
    const idx_t* map = sep_->islandmap.data();
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
    const idx_t* map = sep_->islandmap.data();
    for (idx_t i = 0; i < n; i++) w[map[i]] = where[i];
  }
  return w;
}

real_t RunsAndVCycles(RunContext& ctrl, idx_t nvtxs, idx_t nruns, idx_t nvcycles,
                      const RunFn& run, const VCycleFn& vcycle, idx_t* result,
                      real_t* sum) {
  struct TaskResult {
    real_t obj = kMaxFloat;
    std::vector<std::int32_t> where;  // part numbers fit: nparts < 2^31
    std::string text;
    std::optional<RunContext> ctrl;
  };
  std::vector<TaskResult> runs(nruns);
  ParallelFor(nruns, [&](idx_t r) {
    TaskResult& res = runs[r];
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
  });

  const std::size_t nslots = static_cast<std::size_t>(std::max<idx_t>(nvcycles, 0));
  std::vector<Array<idx_t>> parts(nslots);
  std::vector<real_t> objs(nslots, kMaxFloat);
  std::vector<double> viols;  // how far each kept candidate is outside its bound
  if (nvcycles > 0) {
    for (Array<idx_t>& p : parts) p = Array<idx_t>(nvtxs, -1, "RunsAndVCycles: parts");
    viols.assign(nvcycles, 0.0);
  }
  // With several weights a run may end outside its bound: such a run loses
  // to any that is less so, whatever the objectives (with one weight every
  // violation is 0 and the objective alone decides).
  auto worse = [](double v1, real_t o1, double v2, real_t o2) {
    return v1 > v2 || (v1 == v2 && o1 > o2);
  };
  real_t best = 0.0f;
  double bestviol = 0.0;
  *sum = 0.0f;
  for (idx_t r = 0; r < nruns; r++) {
    TaskResult& res = runs[r];
    PrintText(res.text);
    AddTaskTimers(ctrl, *res.ctrl);
    *sum += res.obj;
    const double viol = res.ctrl->runviolation;
    if (r == 0 || worse(bestviol, best, viol, res.obj)) {
      std::copy(res.where.begin(), res.where.end(), result);
      best = res.obj;
      bestviol = viol;
    }
    // Keep the run as a V-cycle candidate when it beats the worst one kept.
    if (nvcycles > 0) {
      idx_t k = 0;
      for (idx_t i = 1; i < nvcycles; i++)
        if (worse(viols[i], objs[i], viols[k], objs[k])) k = i;
      if (worse(viols[k], objs[k], viol, res.obj)) {
        std::copy(res.where.begin(), res.where.end(), parts[k].data());
        objs[k] = res.obj;
        viols[k] = viol;
      }
    }
    std::vector<std::int32_t>().swap(res.where);
  }
  if (nvcycles <= 0) return best;

  const PartitionConfig everynet = WithEveryNet(*ctrl.cfg, nvtxs);
  std::vector<TaskResult> cycles(nvcycles);
  ParallelFor(nvcycles, [&](idx_t k) {
    // A slot that no run filled (fewer runs than V-cycles, or objectives
    // that overflowed) holds no partition.
    if (objs[k] == kMaxFloat) return;
    TaskResult& res = cycles[k];
    // A V-cycle refines with every net counted, from the scheme's own flags.
    res.ctrl.emplace(TaskContext(ctrl));
    res.ctrl->cfg = &everynet;
    res.ctrl->cflags = everynet.coarsening.cflags;
    res.ctrl->rng.Seed(StreamSeed(ctrl.cfg->seed, ctrl.node, nruns + k));
    OutputCapture out;
    res.obj = vcycle(*res.ctrl, parts[k].data(), objs[k]);
    res.text = out.Take();
    if (ctrl.progress != nullptr) ctrl.progress->Step();
  });
  for (idx_t k = 0; k < nvcycles; k++) {
    if (objs[k] == kMaxFloat) continue;
    PrintText(cycles[k].text);
    AddTaskTimers(ctrl, *cycles[k].ctrl);
    if (worse(bestviol, best, cycles[k].ctrl->runviolation, cycles[k].obj)) {
      best = cycles[k].obj;
      bestviol = cycles[k].ctrl->runviolation;
      ax_icopy(nvtxs, parts[k].data(), result);
    }
  }
  return best;
}

}  // namespace veldan
