// The entry of the partitioning: the options checked and resolved into a
// configuration once, and the scheme it names run on a working copy of the
// caller's hypergraph.
#include "kway/entry.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "bisect/bisect.h"
#include "coarsen/coarsen.h"
#include "hgraph/evaluate.h"
#include "kway/kway.h"
#include "support/output.h"
#include "support/parallel.h"
#include "support/support.h"
#include "support/timers.h"

namespace veldan {

namespace {

[[noreturn]] void RefuseOption(const std::string& message) {
  throw Error(Status::InvalidOptions, message);
}

// A given partition whose objective is more than this factor above that of
// one run from scratch is not improved but replaced by a fresh partitioning.
constexpr double kFarWorse = 1.25;

// The objective cfg minimises, counted over every net of h.
double CountObjective(const HGraphView& h, const PartitionConfig& cfg, const idx_t* part) {
  PartitionMetrics m;
  std::string error;
  if (!EvaluatePartition(h, cfg.nparts, part, &m, &error)) return HUGE_VAL;
  switch (cfg.objective) {
    case Objective::Soed: return m.soed;
    case Objective::Km1: return m.km1;
    default: return m.cut;
  }
}

}  // namespace

Coarsening ResolvedCoarsening(const Options& o) {
  if (o.ctype != Coarsening::Default) return o.ctype;
  return (o.nruns > 19) ? Coarsening::H12 : Coarsening::H1;
}

Refinement ResolvedRefinement(const Options& o) {
  if (o.rtype != Refinement::Default) return o.rtype;
  if (o.scheme == Scheme::RecursiveBisection) return Refinement::Fast;
  // Improving a given partition refines pairs of parts.
  return o.initial.empty() ? Refinement::KRandom : Refinement::KPModerate;
}

PartitionConfig MakeConfig(const Options& o, const HGraphView& h, bool anyfixed) {
  PartitionConfig cfg;
  const bool rb = o.scheme == Scheme::RecursiveBisection;
  if (!rb && o.scheme != Scheme::Kway) RefuseOption("unknown scheme");
  cfg.scheme = o.scheme;
  if (o.k < 2) RefuseOption("Nparts should be at least 2.");
  cfg.nparts = o.k;
  const idx_t ncon = (h.cellwgt != nullptr) ? h.ncon : 1;
  if (ncon < 1 || ncon > kMaxNCon) RefuseOption("Invalid ncon parameter of " + std::to_string(ncon));
  if (o.nruns < 0 || o.nvcycles < 0 || o.cmaxnet < 0 || o.rmaxnet < 0 || o.dbglvl < 0 ||
      o.coarsento < 0)
    RefuseOption("nruns, nvcycles, cmaxnet, rmaxnet, dbglvl and coarsento cannot be negative");

  // The balance: -epsilon bounds every part (and replaces ufactor), else
  // ufactor bounds each bisection (rb) or every part (k-way).
  BalanceConfig& b = cfg.balance;
  b.ncon = ncon;
  const bool eps = o.epsilon > 0.0;
  if (std::isnan(o.epsilon) || o.epsilon < 0.0 || o.epsilon > kMaxEpsilon)
    RefuseOption("Epsilon should be greater than 0 and at most " +
           std::to_string(static_cast<int>(kMaxEpsilon)) + ".");
  const real_t percent = static_cast<real_t>(eps ? 100.0 * o.epsilon : o.ufactor);
  if (!eps) {
    // Written so that NaN is refused too.
    if (rb && !(static_cast<double>(percent) >= 0.1))
      RefuseOption("UBfactor should be greater than 0.1.");
    if (!rb && !(percent >= 1.0f)) RefuseOption("UBfactor should be greater than 1.");
    if (!(o.ufactor <= 1e6)) RefuseOption("ufactor is not a finite number up to 1e6");
  }
  // At least one run; V-cycles refine the best runs, so at most nruns (under
  // a time budget, at most the runs it allows).
  cfg.nruns = std::max<idx_t>(o.nruns, 1);
  cfg.nvcycles = std::min<idx_t>(o.nvcycles, cfg.nruns);
  if (!(o.time >= 0.0 && o.time <= kMaxTime))
    RefuseOption("time is " + std::to_string(o.time) +
                 ": 0 (no budget) or a number of seconds up to 1e9");
  cfg.time = o.time;
  if (cfg.time > 0.0) cfg.nvcycles = o.nvcycles;
  // Under km1 every cut net goes on split into both halves, so that the
  // bisections' cuts add up to the km1 of the result.
  cfg.reconstruct = rb && (o.reconstruct || o.objective == Objective::Km1);
  cfg.kwayrefine = rb && o.kwayrefine;
  cfg.fixed = anyfixed;
  cfg.seed = ResolveSeed(o.seed);
  cfg.dbglvl = o.dbglvl;
  cfg.nthreads = std::max<std::int64_t>(o.threads, 0);
  cfg.coarsento = rb ? std::max<idx_t>(ComputeCoarsenTo(h.nvtxs), 1)
                     : KwayCoarsenTo(h.nvtxs, cfg.nparts);
  // A limit of the caller's: at least the parts a k-way coarsest level is
  // split into, below the cells so that coarsening can start.
  if (o.coarsento > 0)
    cfg.coarsento = std::max<idx_t>(
        std::min<idx_t>(std::max<idx_t>(o.coarsento, rb ? 1 : cfg.nparts), h.nvtxs - 1), 1);

  const Coarsening ctype = ResolvedCoarsening(o);
  const int c = static_cast<int>(ctype);
  if (c < 1 || c > 11) RefuseOption("Invalid ctype parameter of " + std::to_string(c));
  SetCoarseningScheme(cfg.coarsening, ctype);
  cfg.coarsening.maxnet = o.cmaxnet;

  const Refinement rtype = ResolvedRefinement(o);
  const int r = static_cast<int>(rtype);
  // Fast, moderate and slow refine bisections, the others k-way partitions.
  if (r < 1 || r > 7 || rb != (r <= 3)) RefuseOption("Invalid rtype parameter of " + std::to_string(r));
  cfg.refinement.scheme = rtype;
  cfg.refinement.maxnet = o.rmaxnet;
  if (o.objective != Objective::Cut && o.objective != Objective::Soed &&
      o.objective != Objective::Km1)
    RefuseOption("Invalid objtype parameter of " + std::to_string(static_cast<int>(o.objective)));
  // Recursive bisection minimises the cut of each bisection, and only km1
  // of the objectives (the sum of those cuts); the k-way scheme minimises
  // any.
  cfg.objective = (rb && o.objective != Objective::Km1) ? Objective::Cut : o.objective;
  cfg.refinement.objective = rb ? Objective::Cut : o.objective;

  // The -epsilon factor: of the one weight, or of each weight and their
  // largest.
  double epsfactor = 0.0;
  if (eps && ncon == 1) epsfactor = EpsilonFactor(h.nvtxs, h.cellwgt, 1, cfg.nparts, o.epsilon);
  for (idx_t j = 0; eps && ncon > 1 && j < ncon; j++) {
    b.nepsfactor[j] = EpsilonFactor(h.nvtxs, h.cellwgt + j, ncon, cfg.nparts, o.epsilon);
    epsfactor = std::max(epsfactor, b.nepsfactor[j]);
  }
  if (rb) {
    b.ubfactor = percent / 100.0f;
    b.epsfactor = epsfactor;
    for (idx_t j = 0; j < ncon; j++) b.nubfactor[j] = b.ubfactor;
  } else {
    // The k-way bound of every part: 1 + ufactor/100 (at least 1.01), or
    // the -epsilon factor; per weight, its own -epsilon factor.
    const double ub = 1.0 + static_cast<double>(percent) / 100.0;
    b.ubfactor = (ub < 1.01) ? 1.01f : static_cast<real_t>(ub);
    if (eps) b.ubfactor = static_cast<real_t>(epsfactor);
    for (idx_t j = 0; j < ncon; j++) b.nubfactor[j] = eps ? b.nepsfactor[j] : b.ubfactor;
  }

  // Target weights: each part's bound is its own share times the factor
  // the even split would apply, rounded up to its target under -epsilon.
  if (!o.part_weights.empty()) {
    const std::string problem = TargetWeightsProblem(o.part_weights, cfg.nparts, ncon);
    if (!problem.empty()) RefuseOption(problem);
    // Each weight on its own: its total, whether it is whole, and the sum
    // of its fractions.
    double total[kMaxNCon] = {};
    bool integral[kMaxNCon] = {};
    double sum[kMaxNCon] = {};
    for (idx_t j = 0; j < ncon; j++) {
      integral[j] = true;
      for (idx_t i = 0; i < h.nvtxs; i++) {
        const double w = h.cellwgt ? h.cellwgt[i * ncon + j] : 1.0;
        total[j] += w;
        integral[j] = integral[j] && w == std::floor(w);
      }
      for (idx_t p = 0; p < cfg.nparts; p++) sum[j] += o.part_weights[p * ncon + j];
    }
    const double kfactor = 1.0 + static_cast<double>(percent) / 100.0;
    for (std::size_t i = 0; i < o.part_weights.size(); i++) {
      const idx_t j = static_cast<idx_t>(i) % ncon;
      const double share = o.part_weights[i] / sum[j];
      b.tpwgts.push_back(share);
      b.maxshare.push_back(eps ? TargetEpsilonShare(total[j], integral[j], share, o.epsilon)
                               : share * std::max(kfactor, 1.01));
    }
  }
  return cfg;
}

real_t PartitionHGraph(const HGraphView& h, const PartitionConfig& cfg,
                       std::span<const idx_t> fixed, std::span<idx_t> part, Progress* progress,
                       std::span<const idx_t> initial, RunCounts* counts) {
  RunContext ctrl(cfg);
  ctrl.progress = progress;
  // A time budget is shared by the rounds of bisections of the recursion
  // (each round works on every cell once), or taken whole by the k-way
  // partitioning and the improvement of a given partition.
  RunBudget budget;
  if (cfg.time > 0.0) {
    idx_t levels = 1;
    while (cfg.scheme == Scheme::RecursiveBisection && initial.empty() &&
           (idx_t{1} << levels) < cfg.nparts && levels < 62)
      levels++;
    budget.levels = levels;
    budget.width = cfg.nthreads > 0 ? cfg.nthreads : AvailableCores();
    budget.start = SteadySeconds();
    budget.deadline = budget.start + cfg.time;
    ctrl.budget = &budget;
  }
  // The counts the runs were made with, once the partitioning is done.
  const auto tell = [&] {
    if (counts == nullptr) return;
    const bool decided = ctrl.budget != nullptr && budget.state.load() == 2;
    counts->nruns = decided ? budget.nruns : cfg.nruns;
    counts->nvcycles = decided ? budget.nvcycles : cfg.nvcycles;
    counts->uneven = budget.uneven.load();
  };
  if (!initial.empty()) {
    // One run from scratch first. A given partition whose objective is
    // far above that run's (a random one, say) is a worse start than none:
    // V-cycles that keep its parts apart can hardly coarsen it. The cells
    // are then partitioned afresh, and the better of that and the run is
    // kept. Otherwise the given partition is improved, and nothing moves
    // without a gain.
    PartitionConfig once = cfg;
    once.nruns = 1;
    once.nvcycles = 0;
    once.time = 0.0;
    once.dbglvl = 0;  // what -dbglvl shows is the improvement
    std::vector<idx_t> fresh(static_cast<std::size_t>(h.nvtxs));
    PartitionHGraph(h, once, fixed, fresh, nullptr, {}, nullptr);
    const double freshobj = CountObjective(h, cfg, fresh.data());
    if (CountObjective(h, cfg, initial.data()) > kFarWorse * freshobj) {
      PartitionConfig afresh = cfg;
      if (cfg.time > 0.0) afresh.time = std::max(budget.deadline - SteadySeconds(), 1e-6);
      const real_t result = PartitionHGraph(h, afresh, fixed, part, progress, {}, counts);
      if (counts != nullptr) counts->afresh = true;
      if (!(freshobj < CountObjective(h, cfg, part.data()))) return result;
      std::copy(fresh.begin(), fresh.end(), part.begin());
      return static_cast<real_t>(freshobj);
    }
    const HGraphPtr graph(SetUpHGraph(h.nvtxs, h.nnets, cfg.balance.ncon, h.cellwgt, h.netwgt,
                                      h.netptr, h.netind));
    real_t result = 0.0f;
    RunWithThreads(cfg.nthreads, [&] {
      result = ImproveKwayPartition(ctrl, graph.get(), cfg.fixed ? fixed : std::span<const idx_t>(),
                                    initial, part.data());
    });
    tell();
    return result;
  }
  if (cfg.fixed && fixed.data() != part.data()) std::copy(fixed.begin(), fixed.end(), part.begin());
  // k-way: a value outside 0..nparts-1 means "free"; without any fixed cell
  // the cells are not compressed.
  bool kwayfixed = false;
  for (idx_t i = 0; cfg.fixed && cfg.scheme == Scheme::Kway && i < h.nvtxs; ++i) {
    if (part[i] < 0 || part[i] >= cfg.nparts)
      part[i] = -1;
    else
      kwayfixed = true;
  }

  if (cfg.dbglvl & DBG_TIME) {
    InitTimers(ctrl.timers);
    starttimer(ctrl.timers.t[TIMER_TOTAL]);
  }
  const HGraphPtr graph(SetUpHGraph(h.nvtxs, h.nnets, cfg.balance.ncon, h.cellwgt, h.netwgt,
                                    h.netptr, h.netind));
  StartTimer(ctrl, TIMER_MULTILEVEL);
  real_t result = 0.0f;
  RunWithThreads(cfg.nthreads, [&] {
    if (cfg.scheme == Scheme::RecursiveBisection) {
      result = MultilevelPartition(ctrl, graph.get(), part.data());
    } else if (kwayfixed) {
      result = MultilevelKwayPartitionFixed(ctrl, graph.get(), part.data());
    } else {
      graph->nfixed = 0;  // every cell may move
      result = MultilevelKwayPartition(ctrl, graph.get(), part.data());
    }
  });
  StopTimer(ctrl, TIMER_MULTILEVEL);
  StopTimer(ctrl, TIMER_TOTAL);
  if (cfg.dbglvl & DBG_TIME) PrintTimers(ctrl.timers, 0);
  tell();
  return result;
}

}  // namespace veldan
