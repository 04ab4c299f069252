// The finest level shared by the runs of one bisection or k-way
// partitioning.
#include "coarsen/finest.h"

#include <algorithm>
#include <new>

#include "coarsen/coarsen.h"
#include "support/memory.h"

namespace veldan {

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
  b->ndeg[0] = b->ndeg[1] = b->ndeg[2] = nullptr;
  b->nrinfo = nullptr;
  b->nrdata = nullptr;
  b->crinfo = nullptr;
  b->crdata = nullptr;
  b->kpwgts = nullptr;
  return b;
}

FinestLevel::FinestLevel(const PartitionCtrl& ctrl, HGraph* graph)
    : graph_(graph), sep_(graph), ncells_(graph->nvtxs) {
  const idx_t n = graph->nvtxs;
  const idx_t* incptr = graph->incptr;
  bool islands = false;
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
  if (sep_->nvtxs > ctrl.coarsento) {
    PartitionCtrl c = ctrl;
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
  const idx_t n = ncells_;
  const idx_t* map = sep_->islandmap;
  if (run->where) {
    o->where = ax_imalloc(n, "FinestLevel: where");
    for (idx_t i = 0; i < n; i++) o->where[i] = run->where[map[i]];
  }
  std::swap(o->gain, run->gain);
  for (int s = 0; s < 3; s++) std::swap(o->ndeg[s], run->ndeg[s]);
  std::swap(o->kpwgts, run->kpwgts);
  std::swap(o->nrinfo, run->nrinfo);
  std::swap(o->nrdata, run->nrdata);
  std::swap(o->crinfo, run->crinfo);
  std::swap(o->crdata, run->crdata);
  o->mincut = run->mincut;
  o->pwgts[0] = run->pwgts[0];
  o->pwgts[1] = run->pwgts[1];
  o->objval = run->objval;
  o->soed = run->soed;
  o->nislands = 0;
  FreeHGraph(&run, 1);
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

}  // namespace veldan
