// The finest level shared by the runs of one bisection or k-way
// partitioning.
#include "coarsen/finest.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

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
    idx_t* where = graph->where;
    graph->where = nullptr;
    FreeHGraphWork(graph);
    graph->where = where;

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

HGraph* BorrowHGraph(const HGraph* g) {
  HGraph* b = CreateHGraph();
  *b = *g;
  b->borrowed = true;
  b->coarser = b->finer = nullptr;
  b->islandmap = nullptr;
  b->label = nullptr;
  b->cellmap = b->netmap = b->mptr = b->mind = nullptr;
  b->where = nullptr;
  b->gain = nullptr;
  b->sides = nullptr;
  b->nrinfo = nullptr;
  b->nrdata = nullptr;
  b->crinfo = nullptr;
  b->crdata = nullptr;
  b->kpwgts = nullptr;
  b->nkpwgts = nullptr;
  return b;
}

FinestLevel::FinestLevel(const RunContext& ctrl, HGraph* graph)
    : graph_(graph), sep_(graph), ncells_(graph->nvtxs) {
  const idx_t n = graph->nvtxs;
  const idx_t* incptr = graph->incptr;
  // Islands are set aside only on a level that is coarsened at all.
  bool islands = false;
  if (n > ctrl.cfg->coarsento)
    for (idx_t i = std::max<idx_t>(graph->nfixed, 0); i < n && !islands; i++)
    islands = (incptr[i + 1] == incptr[i]);

  if (islands) {
    // Separation reorders these arrays; the copies are the separated
    // level's own, the rest is shared with the input.
    sep_ = BorrowHGraph(graph);
    sep_->xadj = nullptr;
    sep_->adj = nullptr;
    sep_->adjw = nullptr;
    sep_->adjscore = nullptr;
    sep_->keepadj = false;
    const idx_t npins = graph->netptr[graph->nnets];
    sep_->incptr = ax_imalloc(n + 1, "FinestLevel: incptr");
    ax_icopy(n + 1, graph->incptr, sep_->incptr);
    sep_->netind = ax_imalloc(npins, "FinestLevel: netind");
    ax_icopy(npins, graph->netind, sep_->netind);
    if (graph->cellwgt) {
      sep_->cellwgt = ax_fmalloc(n, "FinestLevel: cellwgt");
      ax_fcopy(n, graph->cellwgt, sep_->cellwgt);
    }
    if (graph->ncon > 1 && graph->ncellwgt) {
      sep_->ncellwgt = ax_fmalloc(n * graph->ncon, "FinestLevel: ncellwgt");
      ax_fcopy(n * graph->ncon, graph->ncellwgt, sep_->ncellwgt);
    }
    if (graph->incwgt) {
      sep_->incwgt = ax_fmalloc(n, "FinestLevel: incwgt");
      ax_fcopy(n, graph->incwgt, sep_->incwgt);
    }
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
  if (sep_ == graph_) {
    ReleaseCliqueGraph(graph_);
    graph_->islandsaside = false;
    return;
  }
  ReleaseCliqueGraph(sep_);
  ax_free(&sep_->incptr, &sep_->netind, &sep_->incwgt, &sep_->islandmap);
  if (sep_->cellwgt != graph_->cellwgt) ax_free(&sep_->cellwgt);
  if (sep_->ncellwgt != graph_->ncellwgt) ax_free(&sep_->ncellwgt);
  sep_->cellwgt = sep_->ncellwgt = nullptr;
  FreeHGraph(&sep_, 1);
}

HGraph* FinestLevel::Borrow() const {
  HGraph* b = BorrowHGraph(sep_);
  b->islandsaside = true;
  b->keepadj = true;
  return b;
}

void MoveWork(HGraph* dst, HGraph* src) {
  FreeHGraphWork(dst);
  std::swap(dst->where, src->where);
  std::swap(dst->gain, src->gain);
  std::swap(dst->sides, src->sides);
  std::swap(dst->kpwgts, src->kpwgts);
  std::swap(dst->nkpwgts, src->nkpwgts);
  std::swap(dst->nrinfo, src->nrinfo);
  std::swap(dst->nrdata, src->nrdata);
  std::swap(dst->crinfo, src->crinfo);
  std::swap(dst->crdata, src->crdata);
  dst->mincut = src->mincut;
  dst->pwgts[0] = src->pwgts[0];
  dst->pwgts[1] = src->pwgts[1];
  dst->objval = src->objval;
  dst->soed = src->soed;
  FreeHGraph(&src, 1);
}

HGraph* FinestLevel::ToInputOrder(HGraph* run) const {
  if (sep_ == graph_) {
    run->islandsaside = false;
    return run;
  }
  HGraph* o = BorrowHGraph(graph_);
  o->keepadj = true;  // the input's own clique graph, if any, is not the run's
  o->xadj = nullptr;
  o->adj = nullptr;
  o->adjw = nullptr;
  o->adjscore = nullptr;
  o->nislands = 0;
  if (run->where) {
    const idx_t n = ncells_;
    const idx_t* map = sep_->islandmap;
    idx_t* where = ax_imalloc(n, "FinestLevel: where");
    for (idx_t i = 0; i < n; i++) where[i] = run->where[map[i]];
    ax_free(&run->where);
    run->where = where;
  }
  MoveWork(o, run);
  return o;
}

idx_t* FinestLevel::ToRunOrder(const idx_t* where) const {
  const idx_t n = ncells_;
  idx_t* w = ax_imalloc(n, "FinestLevel: where");
  if (sep_ == graph_) {
    ax_icopy(n, where, w);
  } else {
    const idx_t* map = sep_->islandmap;
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
    RandomScope stream(StreamSeed(ctrl.cfg->seed, ctrl.node, r));
    OutputCapture out;
    idx_t* where = ax_imalloc(nvtxs, "RunsAndVCycles: where");
    res.obj = run(*res.ctrl, r, where);
    res.where.assign(where, where + nvtxs);
    ax_free(&where);
    res.text = out.Take();
    if (ctrl.progress != nullptr) ctrl.progress->Step();
  });

  idx_t** parts = nullptr;
  real_t* objs = nullptr;
  std::vector<double> viols;  // how far each kept candidate is outside its bound
  if (nvcycles > 0) {
    parts = ax_iAllocMatrix(nvcycles, nvtxs, -1, "RunsAndVCycles: parts");
    objs = ax_fsmalloc(nvcycles, kMaxFloat, "RunsAndVCycles: objs");
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
        std::copy(res.where.begin(), res.where.end(), parts[k]);
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
    RandomScope stream(StreamSeed(ctrl.cfg->seed, ctrl.node, nruns + k));
    OutputCapture out;
    res.obj = vcycle(*res.ctrl, parts[k], objs[k]);
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
      ax_icopy(nvtxs, parts[k], result);
    }
  }
  ax_FreeMatrix(&parts, nvcycles);
  ax_free(&objs);
  return best;
}

}  // namespace veldan
