// The coarsening drivers (fresh and inside a partition) and the islands
// step that sets cells without nets aside before each level is matched.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "coarsen/coarsen.h"
#include "support/memory.h"
#include "support/output.h"
#include "support/vecops.h"

namespace veldan {

namespace {

// The hybrid schemes alternate between two matchings: the flip stays in
// ctrl, so the next coarsening uses the other one.
void ToggleScheme(RunContext& ctrl) {
  const Coarsening scheme = ctrl.cfg->coarsening.scheme;
  if (scheme == Coarsening::H1 || scheme == Coarsening::H2) {
    ctrl.cflags ^= CFLAG_GREEDY;
  } else if (scheme == Coarsening::H12) {
    if (ctrl.curtrial % 2 != 0)
      ctrl.cflags ^= CFLAG_VARIANT1;
    else
      ctrl.cflags ^= CFLAG_GREEDY;
  }
}

// The cells of a level counting the islands its caller set aside: the
// coarsening decides on them as if the islands were still in place.
idx_t CellsBeforeIslands(const HGraph* g) {
  return g->islandsaside ? g->nvtxs + g->nislands : g->nvtxs;
}

}  // namespace

void SchemeForRun(RunContext& ctrl, idx_t r) {
  ctrl.cflags = ctrl.cfg->coarsening.cflags;
  for (idx_t t = 0; t < r; t++) {
    ctrl.curtrial = t;
    ToggleScheme(ctrl);
  }
  ctrl.curtrial = r;
}

namespace {

void PrintLevel(const HGraph* graph, bool newline) {
  const real_t sum = ax_fsum(graph->nnets, graph->netwgt.data(), 1);
  Print("[%6ld %6ld %10.3f %10.3f %10.3f]", CellsBeforeIslands(graph), graph->nnets,
        static_cast<double>(sum), static_cast<double>(graph->removedwgt),
        static_cast<double>(graph->removedwgt + sum));
  if (newline) Print("\n");
}

// A coarser level that keeps nine tenths of the cells ends the coarsening.
bool SlowProgress(const RunContext& ctrl, const HGraph* coarse, idx_t finenvtxs) {
  if (static_cast<double>(coarse->nvtxs) < 0.9 * static_cast<double>(finenvtxs))
    return false;
  if (ctrl.cfg->dbglvl & DBG_COARSEN)
    Print("\nSlow progress in coarsening. Aborted at %ld nodes\n", coarse->nvtxs);
  return true;
}

// new[perm[i]] = old[i] for n rows of ncon floats, through the buffer aux.
void PermuteRows(idx_t n, idx_t ncon, const idx_t* perm, real_t* x, real_t* aux) {
  std::copy(x, x + n * ncon, aux);
  for (idx_t i = 0; i < n; i++)
    for (idx_t j = 0; j < ncon; j++) x[perm[i] * ncon + j] = aux[i * ncon + j];
}

}  // namespace

HGraph* Coarsen(RunContext& ctrl, HGraph* graph) {
  StartTimer(ctrl, TIMER_COARSEN);

  graph->level = 0;
  // Every level is matched against this array of ones: no part restriction.
  Array<idx_t> wherebuf(graph->nvtxs, 1, "Coarsen: where");
  idx_t* where = wherebuf.data();

  if (ctrl.cfg->dbglvl & DBG_COARSEN) {
    Print("----------------------------------------------------------\n");
    PrintLevel(graph, false);
    Print("[%10.3f]\n", static_cast<double>(ctrl.maxcellwgt));
  }

  ToggleScheme(ctrl);

  HGraph* cur = graph;
  idx_t nlevels = 0;
  while (CellsBeforeIslands(cur) > ctrl.cfg->coarsento) {
    if (!cur->islandsaside) SeparateIslands(cur);

    StartTimer(ctrl, TIMER_AUX1);
    Match_Edges(ctrl, cur, where);
    StopTimer(ctrl, TIMER_AUX1);

    const idx_t finenvtxs = cur->nvtxs;
    cur = cur->coarser.get();
    cur->level = ++nlevels;
    if (ctrl.cfg->dbglvl & DBG_COARSEN) PrintLevel(cur, true);
    if (SlowProgress(ctrl, cur, finenvtxs)) break;
  }

  wherebuf.reset();
  if (ctrl.cfg->dbglvl & DBG_COARSEN) Print("\n");
  StopTimer(ctrl, TIMER_COARSEN);
  return cur;
}

HGraph* CCoarsen(RunContext& ctrl, HGraph* graph) {
  if (ctrl.cfg->dbglvl & DBG_COARSEN) {
    Print("----------------------------------------------------------\n");
    PrintLevel(graph, true);
  }

  ToggleScheme(ctrl);
  StartTimer(ctrl, TIMER_COARSEN);
  graph->level = 0;
  const idx_t savedgroupsize = ctrl.maxgroupsize;

  HGraph* cur = graph;
  idx_t nlevels = 0;
  while (CellsBeforeIslands(cur) > ctrl.cfg->coarsento) {
    if (!cur->islandsaside) SeparateIslands(cur);

    // A fresh group size for every level, drawn before the matching's own
    // draws.
    ctrl.maxgroupsize = (ctrl.rng.InRange(2) != 0) ? 5 : 2;
    Match_Edges(ctrl, cur, cur->where.data());

    HGraph* coarse = cur->coarser.get();
    Array<idx_t> cwherebuf(coarse->nvtxs, "CCoarsen: cwhere");
    idx_t* cwhere = cwherebuf.data();
    const pin_t* cellmap = cur->cellmap.data();
    const idx_t* where = cur->where.data();
    for (idx_t i = 0; i < cur->nvtxs; i++) cwhere[cellmap[i]] = where[i];
    cur->where.reset();
    coarse->where = std::move(cwherebuf);

    const idx_t finenvtxs = cur->nvtxs;
    cur = coarse;
    cur->level = ++nlevels;
    if (ctrl.cfg->dbglvl & DBG_COARSEN) PrintLevel(cur, true);
    if (SlowProgress(ctrl, cur, finenvtxs)) break;
  }

  ctrl.maxgroupsize = savedgroupsize;
  if (ctrl.cfg->dbglvl & DBG_COARSEN) Print("\n");
  StopTimer(ctrl, TIMER_COARSEN);
  return cur;
}

void SeparateIslands(HGraph* graph) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nfixed = std::clamp<idx_t>(graph->nfixed, 0, nvtxs);
  const idx_t ncon = std::max<idx_t>(graph->ncon, 1);
  idx_t* incptr = graph->incptr.data();

  Array<idx_t> newidbuf(nvtxs, "SeparateIslands: ncells");
  idx_t* newid = newidbuf.data();
  Array<idx_t> auxbuf(nvtxs, "SeparateIslands: aux");
  idx_t* aux = auxbuf.data();
  Array<real_t> nauxbuf(nvtxs * ncon, "SeparateIslands: naux");
  real_t* naux = nauxbuf.data();

  // Fixed cells keep their ids; the other cells with nets count up from
  // nfixed in their old order, the islands count down from the end.
  for (idx_t i = 0; i < nfixed; i++) newid[i] = i;
  idx_t up = nfixed;
  idx_t down = nvtxs - 1;
  for (idx_t i = nfixed; i < nvtxs; i++)
    newid[i] = (incptr[i + 1] > incptr[i]) ? up++ : down--;

  graph->nislands = nvtxs - up;
  graph->nvtxs = up;
  if (graph->nislands == 0) {
    newidbuf.reset();
    auxbuf.reset();
    nauxbuf.reset();
    return;
  }

  // Drop the empty ranges; the lists themselves stay where they are, since
  // the cells with nets keep their relative order.
  for (idx_t i = nfixed; i < nvtxs; i++) {
    const idx_t end = incptr[i + 1];
    if (newid[i] < up) incptr[newid[i] + 1] = end;
  }

  if (!graph->where.empty()) {
    std::copy(graph->where.data(), graph->where.data() + nvtxs, aux);
    for (idx_t i = 0; i < nvtxs; i++) graph->where[newid[i]] = aux[i];
  }
  if (graph->ncon > 1 && !graph->ncellwgt.empty())
    PermuteRows(nvtxs, ncon, newid, graph->ncellwgt.data(), naux);
  if (!graph->cellwgt.empty()) PermuteRows(nvtxs, 1, newid, graph->cellwgt.data(), naux);
  if (!graph->incwgt.empty()) PermuteRows(nvtxs, 1, newid, graph->incwgt.data(), naux);

  const idx_t npins = graph->netptr[graph->nnets];
  pin_t* netind = graph->netind.data();
  for (idx_t p = 0; p < npins; p++) netind[p] = static_cast<pin_t>(newid[netind[p]]);

  if (HGraph* finer = graph->finer) {
    // The finer level's groups now point at the new ids; its group lists
    // are rebuilt so that they stay the transpose of cellmap.
    pin_t* cellmap = finer->cellmap.data();
    for (idx_t v = 0; v < finer->nvtxs; v++) cellmap[v] = static_cast<pin_t>(newid[cellmap[v]]);
    if (finer->mptr.data() && !finer->mind.empty())
      MakeGroupLists(finer->nvtxs, nvtxs, cellmap, finer->mptr.data(), finer->mind.data());
  } else {
    graph->islandmap.reset();
    graph->islandmap = Array<pin_t>(nvtxs, "SeparateIslands: graph->islandmap");
    pin_t* islandmap = graph->islandmap.data();
    for (idx_t i = 0; i < nvtxs; i++) islandmap[i] = static_cast<pin_t>(newid[i]);
  }

}

void CombineIslands(HGraph* graph) {
  if (graph->nislands == 0) return;

  const idx_t nvtxs = graph->nvtxs;
  const idx_t n = nvtxs + graph->nislands;
  const idx_t ncon = std::max<idx_t>(graph->ncon, 1);
  const pin_t* islandmap = graph->islandmap.data();

  Array<idx_t> imapbuf(n, "CombineIslands: imap");
  idx_t* imap = imapbuf.data();
  Array<idx_t> auxbuf(n + 1, "CombineIslands: aux");
  idx_t* aux = auxbuf.data();
  Array<real_t> nauxbuf(n * ncon, "CombineIslands: naux");
  real_t* naux = nauxbuf.data();
  for (idx_t i = 0; i < n; i++) imap[islandmap[i]] = i;

  const idx_t npins = graph->netptr[graph->nnets];
  pin_t* netind = graph->netind.data();
  for (idx_t p = 0; p < npins; p++) netind[p] = static_cast<pin_t>(imap[netind[p]]);

  if (graph->ncon > 1 && !graph->ncellwgt.empty()) PermuteRows(n, ncon, imap, graph->ncellwgt.data(), naux);
  if (!graph->cellwgt.empty()) PermuteRows(n, 1, imap, graph->cellwgt.data(), naux);
  if (!graph->incwgt.empty()) PermuteRows(n, 1, imap, graph->incwgt.data(), naux);
  if (!graph->where.empty()) {
    std::copy(graph->where.data(), graph->where.data() + n, aux);
    for (idx_t i = 0; i < n; i++) graph->where[imap[i]] = aux[i];
  }

  // The lists in incind are already in the old cell order (islands have
  // none); only the pointers need the old numbering.
  if (idx_t* incptr = graph->incptr.data()) {
    std::fill(aux, aux + n + 1, 0);
    for (idx_t i = 0; i < nvtxs; i++) aux[imap[i] + 1] = incptr[i + 1] - incptr[i];
    incptr[0] = 0;
    for (idx_t i = 0; i < n; i++) incptr[i + 1] = incptr[i] + aux[i + 1];
  }

  graph->nvtxs = n;
  graph->nislands = 0;
}

}  // namespace veldan
