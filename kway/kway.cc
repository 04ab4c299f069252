// The direct k-way scheme: the multilevel driver with its runs and V-cycles,
// the initial partition of the coarsest level by recursive bisection, and the
// k-way uncoarsening.
//
// Pre-assigned cells are honoured the way the recursive bisection honours
// them: every group of cells pre-assigned to part k is compressed into one
// cell k of a smaller hypergraph whose first nparts cells are fixed. The
// matching never merges fixed cells, the initial partition puts fixed cell k
// in part k, and neither refinement moves a cell numbered below nfixed, so
// each fixed cell stays in its part through every level, run and V-cycle.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>
#include <vector>

#include "bisect/bisect.h"
#include "coarsen/coarsen.h"
#include "coarsen/finest.h"
#include "kway/entry.h"
#include "kway/kway.h"
#include "support/output.h"
#include "support/parallel.h"
#include "support/support.h"

namespace veldan {

// Cells per chunk of the projection to a finer level (a plain gather, so
// larger chunks than elsewhere).
static constexpr idx_t kProjectGrain = 16384;

idx_t KwayCoarsenTo(idx_t nvtxs, idx_t nparts) {
  const double m = std::min(std::sqrt(static_cast<double>(nvtxs)), 100.0);
  const double c = m * static_cast<double>(2 * nparts);
  if (c < static_cast<double>(nvtxs - 1)) return static_cast<idx_t>(c);
  // An empty hypergraph must not ask for coarsening below zero cells.
  return std::max<idx_t>(nvtxs - 1, 0);
}

real_t ComputeMaxCellWeight(RunContext& ctrl, idx_t n, const real_t* cellwgt) {
  real_t total = ax_fsum(n, cellwgt, 1);
  const real_t heavy = 2.0f * total / static_cast<real_t>(ctrl.cfg->coarsento);
  idx_t h = 0;
  for (idx_t i = 0; i < n; ++i) {
    if (cellwgt[i] > heavy) {
      total -= cellwgt[i];
      ++h;
    }
  }
  ctrl.hasheavy = (h > 0) ? 1 : 0;
  return 2.0f * total / static_cast<real_t>(ctrl.cfg->coarsento - h);
}

real_t ComputeBalanceKway(RunContext& ctrl, const HGraph* graph,
                          const idx_t* where) {
  const idx_t nparts = ctrl.cfg->nparts;
  Array<real_t> kpwgtsbuf(nparts, 0.0f, "ComputeBalanceKway: kpwgts");
  real_t* kpwgts = kpwgtsbuf.data();
  for (idx_t i = 0; i < graph->nvtxs; ++i)
    kpwgts[where[i]] += graph->cellwgt[i];
  const idx_t i = ax_fargmax(nparts, kpwgts);
  const real_t balance = static_cast<real_t>(
      static_cast<double>(nparts) * static_cast<double>(kpwgts[i]) /
      static_cast<double>(ax_fsum(nparts, kpwgts, 1)));
  kpwgtsbuf.reset();
  return balance;
}

// Fills where for the recursive bisection of the coarsest level: fixed
// cell k pre-assigned to part k, every other cell free.
static void FixedStartVector(const HGraph* cgraph, idx_t* where) {
  const idx_t nfixed = std::max<idx_t>(cgraph->nfixed, 0);
  for (idx_t i = 0; i < cgraph->nvtxs; ++i) where[i] = (i < nfixed) ? i : -1;
}

// One recursive bisection of the coarsest level into where, seeded with
// seed: a single run with no V-cycle, ntrials starts of each initial
// bisection, a 1% unbalance per bisection and cut nets kept in both halves.
// With fixed cells the bisection keeps fixed cell k in part k.
static void BisectCoarsest(RunContext& ctrl, HGraph* cgraph, idx_t seed, idx_t ntrials) {
  const bool fixed = cgraph->nfixed > 0;
  if (fixed) FixedStartVector(cgraph, cgraph->where.data());
  const bool multi = cgraph->ncon > 1;
  HGraphView view;
  view.nvtxs = cgraph->nvtxs;
  view.nnets = cgraph->nnets;
  view.ncon = multi ? cgraph->ncon : 1;
  view.cellwgt = multi ? cgraph->ncellwgt.data() : cgraph->cellwgt.data();
  view.netptr = cgraph->netptr.data();
  view.netind = cgraph->netind.data();
  view.netwgt = cgraph->netwgt.data();
  Options o;
  o.k = ctrl.cfg->nparts;
  o.ufactor = 1.0;
  o.ctype = Coarsening::GFC1;
  o.rtype = Refinement::Fast;
  o.nruns = 1;
  o.nvcycles = 0;
  o.reconstruct = true;
  o.seed = seed;
  o.part_weights = ctrl.cfg->balance.tpwgts;
  const std::span<idx_t> where(cgraph->where.data(), static_cast<std::size_t>(cgraph->nvtxs));
  PartitionConfig cfg = MakeConfig(o, view, fixed);
  cfg.ntrials = ntrials;
  PartitionHGraph(view, cfg, where, where);
}

// The attempts at the coarsest level under the connectivity objective, and
// the starts of each of their initial bisections.
constexpr idx_t kKm1Attempts = 6;
constexpr idx_t kKm1Trials = 6;

void InitPartitionKway(RunContext& ctrl, HGraph* cgraph) {
  StartTimer(ctrl, TIMER_INITPART);

  const idx_t nvtxs = cgraph->nvtxs;
  Array<idx_t> bestwherebuf(nvtxs, "InitPartitionKway: bestwhere");
  idx_t* bestwhere = bestwherebuf.data();
  AllocateKwayRefinementMemory(ctrl, cgraph);

  // Attempts, each seeded from a stream of its own derived from the run's
  // (the run number and its place in the recursion), so that no two runs
  // start from the same partitions. The connectivity objective gains more
  // from more attempts than from more starts inside each bisection: it
  // makes six with six starts per initial bisection, for about 1.5 times
  // the time; the others make two with the configured starts.
  const std::uint32_t runseed = StreamSeed(ctrl.cfg->seed, ctrl.node, ctrl.curtrial);
  const bool km1 = ctrl.cfg->refinement.objective == Objective::Km1;
  const idx_t nattempts = km1 ? kKm1Attempts : 2;
  const idx_t ntrials = km1 ? kKm1Trials : ctrl.cfg->ntrials;
  real_t first = 0.0f;
  for (idx_t a = 0; a < nattempts; ++a) {
    BisectCoarsest(ctrl, cgraph, StreamSeed(runseed, 0, a), ntrials);
    RefineKway(ctrl, cgraph);
    if (a == 0 || first > cgraph->objval) {
      ax_icopy(nvtxs, cgraph->where.data(), bestwhere);
      first = cgraph->objval;
    }
  }

  // The rest of the work area describes the last attempt; every finer
  // level rebuilds it from where.
  ax_icopy(nvtxs, bestwhere, cgraph->where.data());
  cgraph->objval = first;

  if (ctrl.cfg->dbglvl & DBG_INITCUT)
    Print("%ld-way initial %s: %f\n", ctrl.cfg->nparts,
          ObjectiveName(ctrl.cfg->refinement.objective), first);

  StopTimer(ctrl, TIMER_INITPART);
}

// The part that cell c would load least, relative to the bounds, in the
// weight it loads most (with target weights, a part of bound 0 in a weight
// of c is loaded without end).
static idx_t LeastLoadedPart(const RunContext& ctrl, const HGraph* graph, idx_t c,
                             std::vector<double>& maxw) {
  const idx_t ncon = graph->ncon;
  KwayMaxPartWeights(ctrl, graph, &maxw);
  const bool own = KwayOwnBounds(ctrl, ncon);
  idx_t best = 0;
  double bestload = 0.0;
  for (idx_t q = 0; q < ctrl.cfg->nparts; ++q) {
    double load = 0.0;
    for (idx_t j = 0; j < ncon; ++j) {
      const double after =
          static_cast<double>(graph->nkpwgts[q * ncon + j]) + graph->ncellwgt[c * ncon + j];
      if (maxw[q * ncon + j] > 0.0)
        load = std::max(load, after / maxw[q * ncon + j]);
      else if (own && after > 0.0)
        load = std::numeric_limits<double>::infinity();
    }
    if (q == 0 || load < bestload) {
      best = q;
      bestload = load;
    }
  }
  return best;
}

void UncoarsenKway(RunContext& ctrl, HGraph* graph, HGraph* cgraph) {
  (void)graph;
  StartTimer(ctrl, TIMER_UNCOARSEN);

  HGraph* cur = cgraph;
  while (cur->finer != nullptr) {
    HGraph* fine = cur->finer;

    StartTimer(ctrl, TIMER_PROJECT);
    AllocateKwayRefinementMemory(ctrl, fine);
    const pin_t* cmap = fine->cellmap.data();
    const idx_t* cwhere = cur->where.data();
    idx_t* fwhere = fine->where.data();
    ParallelChunks(fine->nvtxs, kProjectGrain, [&](idx_t /*chunk*/, idx_t begin, idx_t end) {
      for (idx_t i = begin; i < end; ++i) fwhere[i] = cwhere[cmap[i]];
    });
    StopTimer(ctrl, TIMER_PROJECT);

    fine->coarser.reset();  // cur
    cur = fine;

    if (cur->nvtxs >= 1) {
      StartTimer(ctrl, TIMER_REFINE);
      RefineKway(ctrl, cur);
      StopTimer(ctrl, TIMER_REFINE);
    } else {
      ComputeKwayPartitionParams(ctrl, cur);
    }

    // Islands touch no net: each goes to the currently lightest part (with
    // several weights, the part it loads least in its most loaded weight;
    // with target weights, the part with the most room).
    std::vector<real_t> pmax;
    if (cur->nislands > 0 && cur->ncon == 1 && !ctrl.cfg->balance.maxshare.empty()) {
      real_t total = 0.0f;
      for (idx_t i = 0; i < cur->nvtxs + cur->nislands; ++i) total += cur->cellwgt[i];
      pmax = KwayPartBounds(ctrl, total);
    }
    std::vector<double> maxw;  // the bounds, kept from island to island
    for (idx_t i = cur->nvtxs; i < cur->nvtxs + cur->nislands; ++i) {
      const idx_t k = (cur->ncon > 1) ? LeastLoadedPart(ctrl, cur, i, maxw)
                      : !pmax.empty()
                          ? RoomiestPart(ctrl.cfg->nparts, cur->kpwgts.data(), pmax.data())
                          : ax_fargmin(ctrl.cfg->nparts, cur->kpwgts.data());
      cur->where[i] = k;
      cur->kpwgts[k] += cur->cellwgt[i];
      for (idx_t j = 0; j < cur->ncon && cur->ncon > 1; ++j)
        cur->nkpwgts[k * cur->ncon + j] += cur->ncellwgt[i * cur->ncon + j];
    }
  }

  if (!cur->islandsaside) CombineIslands(cur);
  StopTimer(ctrl, TIMER_UNCOARSEN);
}

real_t VCycleKway(RunContext& ctrl, HGraph* graph, idx_t maxcycles,
                  const FinestLevel* finest) {
  return VCycleLoop(
      ctrl, graph, maxcycles, "%f",
      [&](idx_t) {
        // With a shared finest level the cycle runs on a record of its own in
        // the level's run numbering and hands its result back to graph.
        HGraphPtr run;
        HGraph* level = graph;
        if (finest != nullptr) {
          run = finest->Borrow();
          level = run.get();
          level->where = finest->ToRunOrder(graph->where.data());
        }
        HGraph* cgraph = CCoarsen(ctrl, level);
        UncoarsenKway(ctrl, level, cgraph);
        if (finest != nullptr) MoveWork(graph, finest->ToInputOrder(std::move(run)));
        BalanceKway(ctrl, graph);
      },
      [&] { return graph->objval; });
}

real_t MultilevelKwayPartition(RunContext& ctrl, HGraph* graph, idx_t* part) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nvcycles = ctrl.cfg->nvcycles;
  const Objective otype = ctrl.cfg->refinement.objective;

  if (ctrl.cfg->dbglvl & (DBG_BISECT | DBG_DETAIL))
    Print(
        "\n  Partitioning a hgraph of size [vertices=%ld, hedges=%ld, "
        "balance=%4.2f]\n",
        nvtxs, graph->nnets, ctrl.ubfactor);


  CreateIncidentHGraph(ctrl, graph);

  bool largenets = false;
  for (idx_t e = 0; e < graph->nnets; ++e) {
    if (NetSize(graph, e) > ctrl.cfg->refinement.maxnet) {
      largenets = true;
      break;
    }
  }

  ctrl.maxcellwgt = ComputeMaxCellWeight(ctrl, nvtxs, graph->cellwgt.data());
  if (graph->ncon > 1) SetMaxCellWeights(ctrl, graph);

  // Every run and V-cycle matches this level: its islands are set aside and
  // its clique graph is built once, and each run works on a record of its
  // own that borrows the structure.
  const FinestLevel finest(ctrl, graph);
  const PartitionConfig everynet = WithEveryNet(*ctrl.cfg, nvtxs);

  // One run: coarsen, partition the coarsest level, uncoarsen, balance; the
  // result is left in runwhere (the input's numbering) and returned.
  auto run_once = [&](RunContext& rctrl, idx_t r, idx_t* runwhere) -> real_t {
    rctrl.curtrial = r;
    HGraphPtr run = finest.Borrow();
    HGraph* level = run.get();
    HGraph* cgraph = Coarsen(rctrl, level);
    InitPartitionKway(rctrl, cgraph);
    UncoarsenKway(rctrl, level, cgraph);
    run = finest.ToInputOrder(std::move(run));
    level = run.get();

    if (rctrl.cfg->dbglvl & DBG_DETAIL) {
      Print("    Cut/SOED of trial %4ld:\t %8.3f %8.3f", r, level->mincut,
            level->soed);
      FlushPrint();
    }

    // Nets above rmaxnet were left out so far: one more refinement of the
    // finest level with every net counted.
    if (largenets) {
      if (rctrl.cfg->dbglvl & DBG_DETAIL) {
        const real_t cut = ComputeCut(level, level->where.data());
        Print("[%12.3f, ", ObjectiveValue(otype, cut, otype == Objective::Cut
                                                          ? cut
                                                          : ComputeSOED(level, level->where.data())));
        FlushPrint();
      }
      const ScopedConfig scope(rctrl, everynet);
      RefineKway(rctrl, level);
      if (rctrl.cfg->dbglvl & DBG_DETAIL) {
        Print("%f]", level->objval);
        FlushPrint();
      }
    }

    // A part the refinement could not bring under the bound loses cells at
    // the least cost; runs are compared once every part is within it.
    BalanceKway(rctrl, level);
    if (level->ncon > 1)
      rctrl.runviolation = std::max(KwayExcess(rctrl, level, level->where.data()), 0.0);

    if (rctrl.cfg->dbglvl & DBG_BISECT2)
      Print("    %s of trial %4ld:\t %8.2f",
            otype == Objective::Cut ? "Cut" : (otype == Objective::Soed ? "SOED" : "km1"), r,
            level->objval);
    if (rctrl.cfg->dbglvl & (DBG_BISECT2 | DBG_DETAIL))
      Print(" [%4.2f]\n", ComputeBalanceKway(rctrl, level, level->where.data()));

    const real_t obj = level->objval;
    ax_icopy(nvtxs, level->where.data(), runwhere);
    return obj;
  };

  // One V-cycle candidate, refined in place.
  auto vcycle = [&](RunContext& rctrl, idx_t* where, real_t obj) -> real_t {
    const HGraphPtr level = BorrowHGraph(*graph);
    level->keepadj = true;  // the clique graph is the finest level's
    level->where = Array<idx_t>::CopyOf(nvtxs, where, "MultilevelKwayPartition: where");
    level->objval = obj;
    VCycleKway(rctrl, level.get(), 10, &finest);
    if (level->ncon > 1)
      rctrl.runviolation = std::max(KwayExcess(rctrl, level.get(), level->where.data()), 0.0);
    obj = level->objval;
    ax_icopy(nvtxs, level->where.data(), where);
    return obj;
  };

  const RunsOutcome runs =
      RunsAndVCycles(ctrl, nvtxs, ctrl.cfg->nruns, nvcycles, run_once, vcycle, part);
  const real_t best = runs.best;

  if (ctrl.cfg->dbglvl & (DBG_BISECT | DBG_DETAIL))
    Print(
        "    The %s for this partitioning = %.2f, (average = %.2f) "
        "(balance = %.2f)\n",
        otype == Objective::Cut ? "mincut" : (otype == Objective::Soed ? "minsoed" : "minkm1"),
        best,
        static_cast<double>(runs.sum) / static_cast<double>(runs.made),
        ComputeBalanceKway(ctrl, graph, part));

  return best;
}

// The k-way scheme on the hypergraph with every pre-assigned group
// compressed into one fixed cell per part; the result is projected back to
// the input cells. Any pre-assigned cell that still ends elsewhere is
// reported, as the recursive bisection does.
real_t MultilevelKwayPartitionFixed(RunContext& ctrl, HGraph* graph, idx_t* part) {
  const idx_t nvtxs = graph->nvtxs;

  const Array<idx_t> orgpartbuf = Array<idx_t>::CopyOf(nvtxs, part, "orgpart");
  const idx_t* orgpart = orgpartbuf.data();

  const HGraphPtr cgraphp = CompressedFixedLevel(ctrl, graph, orgpartbuf.data());
  HGraph* cgraph = cgraphp.get();

  Array<idx_t> cpartbuf(cgraph->nvtxs, "MultilevelKwayPartition: cpart");
  idx_t* cpart = cpartbuf.data();
  const real_t result = MultilevelKwayPartition(ctrl, cgraph, cpart);
  ProjectFixedCells(ctrl, graph, part, cpart);

  for (idx_t i = 0; i < nvtxs; ++i)
    if (orgpart[i] != -1 && orgpart[i] != part[i])
      Print("Fixing failed: %ld %ld %ld\n", i, orgpart[i], part[i]);

  return result;
}

}  // namespace veldan
