// phase_bench: times single phases of the partitioner on one input.
//
//   phase_bench [benchmark flags] [FILE.hgr]
//
// The input is FILE, else the environment variable VELDAN_BENCH_INPUT, else
// ibm08 of the shared data folder; when none exists the program says so and
// exits with status 0.
//
// Phases:
//   ReadHGraph            reading and checking the file
//   Coarsen               one coarsening of a fresh working copy, set up as
//                         the bisection driver does (seed 1 every iteration)
//   Refine_EEFM/level:L   one FM call (10 passes, gain keys) on level L of a
//                         stored hierarchy, from the side vector projected
//                         from the coarser level (restored every iteration)
//   RefineKway_Random/level:L/k:K
//                         one greedy k-way refinement call (10 passes) on
//                         level L, from the projected part vector (restored
//                         every iteration)
// Every phase runs 7 repetitions and only the aggregates (mean, median,
// stddev, cv, min) are reported, unless --benchmark_repetitions or
// --benchmark_report_aggregates_only say otherwise. Set-up and restoring
// happen with the clock paused. Example:
//   phase_bench --benchmark_filter=Coarsen path/to/ibm05.hgr
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bisect/bisect.h"
#include "bisect/twoway.h"
#include "coarsen/coarsen.h"
#include "kway/kway.h"
#include "programs/cli.h"
#include "support/support.h"

namespace veldan {
namespace {

constexpr idx_t kSeed = 1;

std::string g_path;
HGraphPtr g_input;       // the file's arrays, read once
const real_t* g_cellwgt = nullptr;  // one weight per cell, or null (unit)

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

idx_t NumPins(const HGraph* g) { return g->netptr[g->nnets]; }

// A fresh working level of the input with its incidence lists, as the
// partitioning entries build it.
HGraphPtr WorkingCopy(RunContext& ctrl) {
  HGraphPtr g = SetUpHGraph(g_input->nvtxs, g_input->nnets, 1, g_cellwgt, g_input->netwgt.data(),
                          g_input->netptr.data(), g_input->netind.data());
  CreateIncidentHGraph(ctrl, g.get());
  g->nfixed = 0;
  return g;
}

// Control record of one bisection of the whole input, as the recursive
// bisection entry and the bisection driver fill it: default scheme codes,
// coarsening limit 100, heavy-cell bound on merged weights.
OwnedContext BisectionCtrl(const HGraph* g) {
  OwnedContext ctrl;
  ctrl.config.scheme = Scheme::RecursiveBisection;
  ctrl.config.coarsento = 100;
  ctrl.config.coarsening.scheme = Coarsening::GFC1;
  ctrl.config.refinement.scheme = Refinement::Fast;
  ctrl.config.nruns = 1;
  ctrl.config.coarsening.maxnet = 50;
  ctrl.config.refinement.maxnet = 50;
  ctrl.ubfactor = 0.05f;
  ctrl.config.nparts = 2;
  ctrl.tpwgt = 0.5f;
  ctrl.config.seed = kSeed;
  ctrl.UseScheme(ctrl.config.coarsening.scheme);

  const real_t total = ax_fsum(g->nvtxs, g->cellwgt.data(), 1);
  const real_t heavy = 2.0f * total / static_cast<real_t>(ctrl.config.coarsento);
  real_t light = total;
  idx_t nheavy = 0;
  for (idx_t i = 0; i < g->nvtxs; i++) {
    if (g->cellwgt[i] > heavy) {
      nheavy++;
      light -= g->cellwgt[i];
    }
  }
  ctrl.hasheavy = nheavy > 0;
  ctrl.maxcellwgt =
      2.0f * light / static_cast<real_t>(std::max<idx_t>(ctrl.config.coarsento - nheavy, 1));
  return ctrl;
}

OwnedContext KwayCtrl(const HGraph* g, idx_t nparts) {
  OwnedContext ctrl;
  ctrl.config.scheme = Scheme::Kway;
  ctrl.config.coarsento = KwayCoarsenTo(g->nvtxs, nparts);
  ctrl.config.coarsening.scheme = Coarsening::GFC1;
  ctrl.config.refinement.scheme = Refinement::KRandom;
  ctrl.config.refinement.objective = Objective::Cut;
  ctrl.config.nruns = 1;
  ctrl.config.coarsening.maxnet = 50;
  ctrl.config.refinement.maxnet = 50;
  ctrl.ubfactor = 1.05f;
  ctrl.config.nparts = nparts;
  ctrl.tpwgt = 0.5f;
  ctrl.config.seed = kSeed;
  ctrl.UseScheme(ctrl.config.coarsening.scheme);
  ctrl.maxcellwgt = ComputeMaxCellWeight(ctrl, g->nvtxs, g->cellwgt.data());
  return ctrl;
}

void SetCounters(benchmark::State& state, const HGraph* g) {
  state.counters["cells"] = static_cast<double>(g->nvtxs);
  state.counters["pins"] = static_cast<double>(NumPins(g));
  state.SetItemsProcessed(state.iterations() * NumPins(g));
}

void BM_ReadHGraph(benchmark::State& state) {
  for (auto _ : state) {
    HGraphPtr g = ReadHGraph(g_path.c_str());
    benchmark::DoNotOptimize(g->netind.data());
    state.PauseTiming();
    g.reset();
    state.ResumeTiming();
  }
  SetCounters(state, g_input.get());
}

void BM_Coarsen(benchmark::State& state) {
  idx_t levels = 0, coarsest = 0;
  for (auto _ : state) {
    state.PauseTiming();
    OwnedContext ctrl;
    HGraphPtr g = WorkingCopy(ctrl);
    ctrl = BisectionCtrl(g.get());
    ctrl.rng.Seed(kSeed);
    state.ResumeTiming();

    HGraph* c = Coarsen(ctrl, g.get());

    state.PauseTiming();
    levels = c->level;
    coarsest = c->nvtxs;
    g.reset();
    state.ResumeTiming();
  }
  state.counters["levels"] = static_cast<double>(levels);
  state.counters["coarsest"] = static_cast<double>(coarsest);
  SetCounters(state, g_input.get());
}

// A hierarchy walked back to one level: every coarser level was bisected,
// projected and refined as in a real run and then freed; the side vector of
// the stored level is the projection of its coarser level's, islands placed.
struct TwoWayLevel {
  OwnedContext ctrl;
  HGraphPtr top;
  HGraph* level = nullptr;
  std::vector<idx_t> where;
};

TwoWayLevel MakeTwoWayLevel(idx_t target) {
  TwoWayLevel s;
  OwnedContext setup;
  s.top = WorkingCopy(setup);
  s.ctrl = BisectionCtrl(s.top.get());
  s.ctrl.rng.Seed(kSeed);
  HGraph* cur = Coarsen(s.ctrl, s.top.get());
  const idx_t stop = std::min(target, cur->level);
  InitBisection(s.ctrl, cur);
  while (cur->level > stop) {
    HGraph* fine = cur->finer;
    Allocate2wayRefinementMemory(s.ctrl, fine);
    for (idx_t i = 0; i < fine->nvtxs; i++) fine->where[i] = cur->where[fine->cellmap[i]];
    fine->coarser.reset();  // cur
    cur = fine;
    if (cur->level > stop) {
      Refine2Way(s.ctrl, cur);
      if (Balance(s.ctrl, cur)) Refine2Way(s.ctrl, cur);
    } else {
      Compute2WayParams(s.ctrl, cur);  // side weights for the islands
    }
    if (cur->nislands > 0) PlaceIslands(cur, s.ctrl.tpwgt);
  }
  s.level = cur;
  s.where.assign(cur->where.data(), cur->where.data() + cur->nvtxs + cur->nislands);
  return s;
}

void BM_Refine_EEFM(benchmark::State& state) {
  TwoWayLevel s = MakeTwoWayLevel(state.range(0));
  HGraph* g = s.level;
  const real_t f = Refine2WayLimitFrac(s.ctrl.config.refinement.scheme, g->nvtxs);
  const real_t before = ComputeCut(g, s.where.data());
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(s.where.begin(), s.where.end(), g->where.data());
    s.ctrl.rng.Seed(kSeed);
    state.ResumeTiming();

    Refine_EEFM(s.ctrl, g, 10, 1, f);

  }
  state.counters["cut_in"] = static_cast<double>(before);
  state.counters["cut_out"] = static_cast<double>(ComputeCut(g, g->where.data()));
  SetCounters(state, g);
  s.top.reset();
}

struct KwayLevel {
  OwnedContext ctrl;
  HGraphPtr top;
  HGraph* level = nullptr;
  std::vector<idx_t> where;
};

// As MakeTwoWayLevel, for the k-way scheme: initial k-way partition of the
// coarsest level, greedy refinement on the way back, projection only onto
// the stored level.
KwayLevel MakeKwayLevel(idx_t target, idx_t nparts) {
  KwayLevel s;
  OwnedContext setup;
  s.top = WorkingCopy(setup);
  s.ctrl = KwayCtrl(s.top.get(), nparts);
  s.ctrl.rng.Seed(kSeed);
  HGraph* cur = Coarsen(s.ctrl, s.top.get());
  const idx_t stop = std::min(target, cur->level);
  InitPartitionKway(s.ctrl, cur);
  while (cur->level > stop) {
    HGraph* fine = cur->finer;
    AllocateKwayRefinementMemory(s.ctrl, fine);
    for (idx_t i = 0; i < fine->nvtxs; i++) fine->where[i] = cur->where[fine->cellmap[i]];
    fine->coarser.reset();  // cur
    cur = fine;
    if (cur->level > stop)
      RefineKway(s.ctrl, cur);
    else
      ComputeKwayPartitionParams(s.ctrl, cur);  // part weights for the islands
    for (idx_t i = cur->nvtxs; i < cur->nvtxs + cur->nislands; i++) {
      const idx_t k = ax_fargmin(nparts, cur->kpwgts.data());
      cur->where[i] = k;
      cur->kpwgts[k] += cur->cellwgt[i];
    }
  }
  s.level = cur;
  s.where.assign(cur->where.data(), cur->where.data() + cur->nvtxs + cur->nislands);
  return s;
}

void BM_RefineKway_Random(benchmark::State& state) {
  KwayLevel s = MakeKwayLevel(state.range(0), state.range(1));
  HGraph* g = s.level;
  const real_t before = ComputeCut(g, s.where.data());
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(s.where.begin(), s.where.end(), g->where.data());
    s.ctrl.rng.Seed(kSeed);
    state.ResumeTiming();

    RefineKway_Random(s.ctrl, g, 10);

  }
  state.counters["cut_in"] = static_cast<double>(before);
  state.counters["cut_out"] = static_cast<double>(ComputeCut(g, g->where.data()));
  SetCounters(state, g);
  s.top.reset();
}

double MinOf(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

template <class B>
void Common(B* b) {
  b->Unit(benchmark::kMillisecond)->ComputeStatistics("min", MinOf);
}

void Register() {
  Common(benchmark::RegisterBenchmark("ReadHGraph", BM_ReadHGraph));
  Common(benchmark::RegisterBenchmark("Coarsen", BM_Coarsen));
  Common(benchmark::RegisterBenchmark("Refine_EEFM", BM_Refine_EEFM)
             ->ArgName("level")
             ->Arg(0)
             ->Arg(1));
  Common(benchmark::RegisterBenchmark("RefineKway_Random", BM_RefineKway_Random)
             ->ArgNames({"level", "k"})
             ->Args({0, 8})
             ->Args({1, 8})
             ->Args({0, 32}));
}

// Repetitions and aggregates-only reporting are defaults that the usual
// --benchmark_repetitions / --benchmark_report_aggregates_only flags replace.
std::vector<char*> WithDefaults(int argc, char** argv) {
  static char reps[] = "--benchmark_repetitions=7";
  static char aggr[] = "--benchmark_report_aggregates_only=true";
  bool has_reps = false, has_aggr = false;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    has_reps = has_reps || a.rfind("--benchmark_repetitions", 0) == 0;
    has_aggr = has_aggr || a.rfind("--benchmark_report_aggregates_only", 0) == 0 ||
               a.rfind("--benchmark_display_aggregates_only", 0) == 0;
  }
  std::vector<char*> args(argv, argv + argc);
  if (!has_reps) args.insert(args.begin() + 1, reps);
  if (!has_aggr) args.insert(args.begin() + 1, aggr);
  args.push_back(nullptr);
  return args;
}

}  // namespace
}  // namespace veldan

int main(int argc0, char** argv0) {
  std::vector<char*> args = veldan::WithDefaults(argc0, argv0);
  int argc = static_cast<int>(args.size()) - 1;
  char** argv = args.data();
  benchmark::Initialize(&argc, argv);
  using veldan::g_path;
  if (argc > 2) {
    std::fprintf(stderr, "usage: %s [benchmark flags] [FILE.hgr]\n", argv[0]);
    return 1;
  }
  if (argc == 2) {
    g_path = argv[1];
  } else if (const char* env = std::getenv("VELDAN_BENCH_INPUT"); env && *env) {
    g_path = env;
  } else {
    g_path = std::string(VELDAN_SHARED_DIR) + "/data/hgr/ibm08.hgr";
  }
  if (!veldan::IsRegularFile(g_path)) {
    std::printf("phase_bench: input %s not found; nothing to measure.\n", g_path.c_str());
    return 0;
  }

  veldan::g_input = veldan::ReadHGraph(g_path.c_str());
  // Several weights per cell: the phases run on unit weights.
  if (veldan::g_input->ncon <= 1) veldan::g_cellwgt = veldan::g_input->cellwgt.data();
  std::printf("input: %s (%ld cells, %ld nets, %ld pins)\n", g_path.c_str(),
              veldan::g_input->nvtxs, veldan::g_input->nnets,
              veldan::NumPins(veldan::g_input.get()));

  veldan::Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  veldan::g_input.reset();
  return 0;
}
