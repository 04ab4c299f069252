// Multilevel bisection of one hypergraph: several independent runs of
// coarsening, initial bisection and refined uncoarsening, the best runs
// improved further by V-cycles, and the statistics of each bisection.
#include <algorithm>
#include <cstdio>

#include "bisect/bisect.h"
#include "coarsen/coarsen.h"
#include "coarsen/finest.h"
#include "support/output.h"
#include "support/support.h"

namespace veldan {

double ComputeSideFraction(const HGraph* graph, const idx_t* where) {
  const idx_t nvtxs = graph->nvtxs;
  const real_t* cellwgt = graph->cellwgt.data();
  real_t w[2] = {0.0f, 0.0f};
  for (idx_t i = 0; i < nvtxs; i++) w[where[i]] += cellwgt ? cellwgt[i] : 1.0f;

  const double total = static_cast<double>(w[0]) + static_cast<double>(w[1]);
  // An empty level (or one of weightless cells) has no lighter side.
  if (!(total > 0.0)) return 0.0;
  return (w[1] > w[0]) ? w[0] / total : w[1] / total;
}

void InitBisection(RunContext& ctrl, HGraph* cgraph) {
  // Refinement progress and cell moves are not reported while the coarsest
  // level is bisected.
  PartitionConfig quiet = *ctrl.cfg;
  quiet.dbglvl &= ~(DBG_REFINE | DBG_MOVES);
  const ScopedConfig scope(ctrl, quiet);

  StartTimer(ctrl, TIMER_INITPART);
  Random_FMPartition(ctrl, cgraph);
  if (cgraph->ncon > 1)
    PlaceIslandsMulti(ctrl, cgraph);
  else
    PlaceIslands(cgraph, ctrl.tpwgt);
  StopTimer(ctrl, TIMER_INITPART);
}

real_t VCycleRefine(RunContext& ctrl, HGraph* graph, idx_t maxcycles) {
  return VCycleLoop(
      ctrl, graph, maxcycles, "%8.3f",
      [&](idx_t i) {
        ctrl.curtrial = i;
        HGraph* cgraph = CCoarsen(ctrl, graph);
        Uncoarsen2Way(ctrl, graph, cgraph);
      },
      [&] { return graph->mincut; });
}

// Prints the closing statistics of a bisection (dbglvl 8 or 128).
static void PrintBisectionSummary(const RunContext& ctrl, const HGraph* graph,
                                  real_t bestcut, real_t avgcut,
                                  const idx_t* bisection) {
  if (!(ctrl.cfg->dbglvl & (DBG_BISECT | DBG_DETAIL))) return;
  Print(
      "\n    The mincut for this bisection = %10.2f (average = %3.1f) (balance =",
      bestcut, avgcut);
  Print(" [%.2f]", ComputeSideFraction(graph, bisection));
}

real_t Hypergraph_Bisection(RunContext& ctrl, HGraph* graph, idx_t* bisection) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nnets = graph->nnets;

  if (ctrl.cfg->dbglvl & (DBG_BISECT | DBG_DETAIL))
    Print(
        "\n  Bisecting a hgraph of size [vertices=%ld, hedges=%ld, balance=%4.2f]\n",
        nvtxs, nnets, ctrl.tpwgt);

  // A level of no cell or a single cell (more parts were asked for than
  // there are cells) has only one sensible bisection: everything on side 0,
  // nothing cut. The multilevel machinery is not run on it.
  if (nvtxs < 2) {
    CreateIncidentHGraph(ctrl, graph);  // callers may refine the level later
    for (idx_t i = 0; i < nvtxs; i++) bisection[i] = 0;
    PrintBisectionSummary(ctrl, graph, 0.0f, 0.0f, bisection);
    return 0.0f;
  }

  // A run count below 1 would leave the bisection unset; one run is the
  // least that gives a result.
  const idx_t nruns = std::max<idx_t>(ctrl.cfg->nruns, 1);
  const idx_t nvcycles = ctrl.cfg->nvcycles;

  CreateIncidentHGraph(ctrl, graph);

  const idx_t* netptr = graph->netptr.data();
  bool largenets = false;
  for (idx_t e = 0; e < nnets; e++) {
    if (netptr[e + 1] - netptr[e] > ctrl.cfg->refinement.maxnet) {
      largenets = true;
      break;
    }
  }

  // Heavy cells: heavier than twice the average weight of a cell of the
  // coarsest level. They are left out of the weight that bounds a coarse
  // cell. coarsento is at least 1 here and the divisor of the bound never
  // drops below 1, even when the heavy cells alone outnumber coarsento.
  {
    const real_t* cellwgt = graph->cellwgt.data();
    const idx_t coarsento = std::max<idx_t>(ctrl.cfg->coarsento, 1);
    const real_t totwgt = ax_fsum(nvtxs, cellwgt, 1);
    const real_t heavy = 2.0f * totwgt / static_cast<real_t>(coarsento);
    idx_t nheavy = 0;
    real_t lightwgt = totwgt;
    for (idx_t i = 0; i < nvtxs; i++) {
      if (cellwgt[i] > heavy) {
        nheavy++;
        lightwgt -= cellwgt[i];
      }
    }
    ctrl.hasheavy = (nheavy > 0) ? 1 : 0;
    ctrl.maxcellwgt =
        2.0f * lightwgt / static_cast<real_t>(std::max<idx_t>(coarsento - nheavy, 1));
    if (graph->ncon > 1) SetMaxCellWeights(ctrl, graph);
  }

  // Every run and V-cycle matches this level: its islands are set aside and
  // its clique graph is built once, and each run works on a record of its
  // own that borrows the structure.
  const FinestLevel finest(ctrl, graph);
  const PartitionConfig everynet = WithEveryNet(*ctrl.cfg, nvtxs);

  // One run: coarsen, bisect the coarsest level, uncoarsen; the result is
  // left in runwhere (the input's numbering) and the returned cut.
  auto run_once = [&](RunContext& rctrl, idx_t r, idx_t* runwhere) -> real_t {
    rctrl.curtrial = r;
    HGraphPtr run = finest.Borrow();
    HGraph* level = run.get();
    HGraph* cgraph = Coarsen(rctrl, level);
    InitBisection(rctrl, cgraph);
    Uncoarsen2Way(rctrl, level, cgraph);
    run = finest.ToInputOrder(std::move(run));
    level = run.get();

    if (rctrl.cfg->dbglvl & DBG_DETAIL) {
      Print("    Cut of trial %6ld:\t %8.2f", r, level->mincut);
      FlushPrint();
    }

    // Nets above rmaxnet were ignored during the run: one more refinement
    // of the finest level counts them all.
    if (largenets) {
      if (rctrl.cfg->dbglvl & DBG_DETAIL) {
        Print("[%8.2f, ", ComputeCut(level, level->where.data()));
        FlushPrint();
      }
      const ScopedConfig scope(rctrl, everynet);
      Refine2Way(rctrl, level);
      if (rctrl.cfg->dbglvl & DBG_DETAIL) {
        Print("%8.2f]", level->mincut);
        FlushPrint();
      }
    }

    if (rctrl.cfg->dbglvl & DBG_BISECT2)
      Print("    Cut of trial %4ld:\t %8.2f", r, level->mincut);
    if (rctrl.cfg->dbglvl & (DBG_BISECT2 | DBG_DETAIL))
      Print(" [%0.2f]\n", ComputeSideFraction(level, level->where.data()));

    if (level->ncon > 1)
      rctrl.runviolation = std::max(BisectionExcess(rctrl, level, level->where.data()), 0.0);
    const real_t cut = level->mincut;
    ax_icopy(nvtxs, level->where.data(), runwhere);
    return cut;
  };

  // One V-cycle candidate, refined in place in the input's numbering.
  auto vcycle = [&](RunContext& rctrl, idx_t* where, real_t cut) -> real_t {
    HGraphPtr run = finest.Borrow();
    HGraph* level = run.get();
    level->where = finest.ToRunOrder(where);
    level->mincut = cut;
    VCycleRefine(rctrl, level, 10);
    run = finest.ToInputOrder(std::move(run));
    level = run.get();
    if (level->ncon > 1)
      rctrl.runviolation = std::max(BisectionExcess(rctrl, level, level->where.data()), 0.0);
    cut = level->mincut;
    ax_icopy(nvtxs, level->where.data(), where);
    return cut;
  };

  const RunsOutcome runs =
      RunsAndVCycles(ctrl, nvtxs, nruns, nvcycles, run_once, vcycle, bisection);
  const real_t bestcut = runs.best;

  PrintBisectionSummary(ctrl, graph, bestcut, runs.sum / static_cast<real_t>(runs.made),
                        bisection);

  const real_t cut = ComputeCut(graph, bisection);
  if (cut != bestcut) Print("Wrong cut! %8.3f %8.3f\n", bestcut, cut);

  return bestcut;
}

}  // namespace veldan
