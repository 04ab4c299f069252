// The library interface: checks the caller's hypergraph and options, hands
// them to the partitioning entries and measures the result. Every failure
// comes back as veldan::Error; nothing here ends the process.
#include "veldan/veldan.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <new>
#include <random>

#include "bisect/bisect.h"
#include "hgraph/context.h"
#include "hgraph/evaluate.h"
#include "io/io.h"
#include "hgraph/hgraph.h"
#include "kway/entry.h"
#include "kway/kway.h"
#include "support/memory.h"
#include "support/parallel.h"

namespace veldan {

namespace {

[[noreturn]] void Fail(Status status, const std::string& message) {
  throw Error(status, message);
}

std::string Str(std::int64_t v) { return std::to_string(v); }

// Checks the hypergraph against its own counts.
void CheckHypergraph(const Hypergraph& h) {
  const Status bad = Status::InvalidHypergraph;
  if (h.nvtxs < 0) Fail(bad, "the number of cells is negative (" + Str(h.nvtxs) + ")");
  if (h.netptr.empty()) Fail(bad, "netptr is empty: it holds nnets + 1 offsets");
  const std::int64_t nnets = h.nnets();
  if (!FitsPinLists(h.nvtxs, nnets))
    Fail(bad, "the hypergraph is too large (" + Str(nnets) + " nets, " + Str(h.nvtxs) +
                  " cells): it holds at most " + Str(kMaxLevelCount) + " nets and " +
                  Str(kMaxLevelCount) + " cells");
  if (h.netptr[0] != 0) Fail(bad, "netptr[0] is " + Str(h.netptr[0]) + ", not 0");
  for (std::int64_t e = 0; e < nnets; e++)
    if (h.netptr[e + 1] < h.netptr[e])
      Fail(bad, "netptr decreases at net " + Str(e) + " (" + Str(h.netptr[e]) + " then " +
                    Str(h.netptr[e + 1]) + ")");
  if (h.netptr[nnets] != static_cast<std::int64_t>(h.netind.size()))
    Fail(bad, "netptr ends at " + Str(h.netptr[nnets]) + " but netind holds " +
                  Str(static_cast<std::int64_t>(h.netind.size())) + " pins");
  for (std::int64_t e = 0; e < nnets; e++)
    for (std::int64_t p = h.netptr[e]; p < h.netptr[e + 1]; p++)
      if (h.netind[p] < 0 || h.netind[p] >= h.nvtxs)
        Fail(bad, "net " + Str(e) + " holds cell " + Str(h.netind[p]) + ", outside 0 to " +
                      Str(h.nvtxs - 1));
  if (!h.netwgt.empty()) {
    if (static_cast<std::int64_t>(h.netwgt.size()) != nnets)
      Fail(bad, "netwgt holds " + Str(static_cast<std::int64_t>(h.netwgt.size())) +
                    " weights for " + Str(nnets) + " nets");
    for (std::int64_t e = 0; e < nnets; e++)
      if (!std::isfinite(h.netwgt[e]) || h.netwgt[e] < 0.0f)
        Fail(bad, "the weight of net " + Str(e) + " is not a finite number of at least 0");
  }
  if (h.ncon < 1 || h.ncon > 20) Fail(bad, "ncon is " + Str(h.ncon) + ", not 1 to 20");
  if (!h.cellwgt.empty()) {
    if (static_cast<std::int64_t>(h.cellwgt.size()) != h.nvtxs * h.ncon)
      Fail(bad, "cellwgt holds " + Str(static_cast<std::int64_t>(h.cellwgt.size())) +
                    " weights for " + Str(h.nvtxs) + " cells of " + Str(h.ncon) + " each");
    for (std::size_t i = 0; i < h.cellwgt.size(); i++)
      if (!std::isfinite(h.cellwgt[i]) || h.cellwgt[i] < 0.0f)
        Fail(bad, "weight " + Str(static_cast<std::int64_t>(i % h.ncon)) + " of cell " +
                      Str(static_cast<std::int64_t>(i / h.ncon)) +
                      " is not a finite number of at least 0");
  } else if (h.ncon > 1) {
    Fail(bad, "ncon is " + Str(h.ncon) + " but no cell weights are given");
  }
  if (!h.fixed.empty() && static_cast<std::int64_t>(h.fixed.size()) != h.nvtxs)
    Fail(bad, "fixed holds " + Str(static_cast<std::int64_t>(h.fixed.size())) + " entries for " +
                  Str(h.nvtxs) + " cells");
}

// k from 1 to the number of cells (1 for a hypergraph without cells):
// time and memory follow the input, never k alone.
void CheckParts(const Hypergraph& h, std::int64_t k) {
  const Status bad = Status::InvalidOptions;
  if (k < 1) Fail(bad, "k is " + Str(k) + ": at least 1 part");
  if (k > std::max<std::int64_t>(h.nvtxs, 1))
    Fail(bad, "k is " + Str(k) + ": more parts than the " + Str(h.nvtxs) + " cells");
}

void CheckOptions(const Hypergraph& h, const Options& o) {
  const Status bad = Status::InvalidOptions;
  CheckParts(h, o.k);
  if (o.seed > kMaxSeed)
    Fail(bad, "seed is " + Str(o.seed) + ": at most " + Str(kMaxSeed) + " (below 0: drawn)");
  for (std::int64_t i = 0; i < static_cast<std::int64_t>(h.fixed.size()); i++)
    if (h.fixed[i] < -1 || h.fixed[i] >= o.k)
      Fail(Status::InvalidHypergraph, "cell " + Str(i) + " is fixed to part " + Str(h.fixed[i]) +
                                          ", outside -1 (free) to " + Str(o.k - 1));
  if (!o.initial.empty()) {
    if (static_cast<std::int64_t>(o.initial.size()) != h.nvtxs)
      Fail(bad, "initial holds " + Str(static_cast<std::int64_t>(o.initial.size())) +
                    " entries for " + Str(h.nvtxs) + " cells");
    for (std::int64_t i = 0; i < h.nvtxs; i++) {
      if (o.initial[i] < 0 || o.initial[i] >= o.k)
        Fail(bad, "cell " + Str(i) + " is in part " + Str(o.initial[i]) +
                      " of the initial partition, outside 0 to " + Str(o.k - 1));
      if (!h.fixed.empty() && h.fixed[i] >= 0 && h.fixed[i] != o.initial[i])
        Fail(bad, "cell " + Str(i) + " is fixed to part " + Str(h.fixed[i]) +
                      " but the initial partition puts it in part " + Str(o.initial[i]));
    }
  }
  if (o.scheme != Scheme::RecursiveBisection && o.scheme != Scheme::Kway)
    Fail(bad, "unknown scheme");
  const bool rb = o.scheme == Scheme::RecursiveBisection;
  if (std::isnan(o.epsilon) || o.epsilon < 0.0 || o.epsilon > kMaxEpsilon)
    Fail(bad, "epsilon is " + std::to_string(o.epsilon) + ": 0 (not used) or above 0 up to " +
                  std::to_string(kMaxEpsilon));
  if (o.epsilon == 0.0) {
    if (rb && !(o.ufactor >= 0.1)) Fail(bad, "UBfactor should be greater than 0.1.");
    if (!rb && !(o.ufactor >= 1.0)) Fail(bad, "UBfactor should be greater than 1.");
    if (!(o.ufactor <= 1e6)) Fail(bad, "ufactor is not a finite number up to 1e6");
  }
  if (o.objective != Objective::Cut && o.objective != Objective::Soed &&
      o.objective != Objective::Km1)
    Fail(bad, "unknown objective");
  if (!o.part_weights.empty()) {
    const std::string problem = TargetWeightsProblem(o.part_weights, o.k, h.ncon);
    if (!problem.empty()) Fail(bad, problem);
  }
  if (o.nruns < 0 || o.nvcycles < 0 || o.cmaxnet < 0 || o.rmaxnet < 0 || o.dbglvl < 0)
    Fail(bad, "nruns, nvcycles, cmaxnet, rmaxnet and dbglvl cannot be negative");
  if (!(o.time >= 0.0 && o.time <= kMaxTime))
    Fail(bad, "time is " + std::to_string(o.time) + ": 0 (no budget) or a number of seconds up to " +
                  std::to_string(static_cast<long>(kMaxTime)));
  const int c = static_cast<int>(o.ctype);
  if (c < 0 || c > 11) Fail(bad, "unknown coarsening scheme");
  const int r = static_cast<int>(o.rtype);
  if (r < 0 || r > 7) Fail(bad, "unknown refinement scheme");
  if (r != 0 && rb != (r <= 3))
    Fail(bad, std::string("the refinement scheme does not go with ") +
                  (rb ? "recursive bisection" : "k-way partitioning"));
}

// The caller's pins in pin_t, as the levels hold them (CheckHypergraph has
// seen that every cell number fits).
std::vector<pin_t> NarrowPins(std::span<const std::int64_t> netind) {
  std::vector<pin_t> ind(netind.size());
  for (std::size_t p = 0; p < netind.size(); p++) ind[p] = static_cast<pin_t>(netind[p]);
  return ind;
}

// The nets as the partitioning entries take them: each cell once per net,
// no empty net, the pins in pin_t. The caller's offsets and weights are used
// as they are when the nets already are so.
struct NetLists {
  std::vector<idx_t> ptr;
  std::vector<pin_t> ind;
  std::vector<real_t> wgt;
  const idx_t* netptr = nullptr;
  const pin_t* netind = nullptr;
  const real_t* netwgt = nullptr;
  idx_t nnets = 0;

  explicit NetLists(const Hypergraph& h) {
    const std::int64_t nnets0 = h.nnets();
    std::vector<std::int64_t> mark(static_cast<std::size_t>(h.nvtxs), -1);
    bool clean = true;
    for (std::int64_t e = 0; e < nnets0 && clean; e++) {
      clean = h.netptr[e + 1] > h.netptr[e];
      for (std::int64_t p = h.netptr[e]; p < h.netptr[e + 1] && clean; p++) {
        clean = mark[h.netind[p]] != e;
        mark[h.netind[p]] = e;
      }
    }
    if (clean) {
      ind = NarrowPins(h.netind);
      netptr = h.netptr.data();
      netind = ind.empty() ? nullptr : ind.data();
      netwgt = h.netwgt.empty() ? nullptr : h.netwgt.data();
      nnets = nnets0;
      return;
    }
    std::fill(mark.begin(), mark.end(), -1);
    ptr.push_back(0);
    for (std::int64_t e = 0; e < nnets0; e++) {
      const std::size_t start = ind.size();
      for (std::int64_t p = h.netptr[e]; p < h.netptr[e + 1]; p++) {
        if (mark[h.netind[p]] == e) continue;
        mark[h.netind[p]] = e;
        ind.push_back(static_cast<pin_t>(h.netind[p]));
      }
      if (ind.size() == start) continue;
      ptr.push_back(static_cast<idx_t>(ind.size()));
      if (!h.netwgt.empty()) wgt.push_back(h.netwgt[e]);
    }
    netptr = ptr.data();
    netind = ind.empty() ? nullptr : ind.data();
    netwgt = h.netwgt.empty() ? nullptr : wgt.data();
    nnets = static_cast<idx_t>(ptr.size()) - 1;
  }
};

Metrics Measure(const Hypergraph& h, const std::int64_t* parts, std::int64_t k) {
  PartitionMetrics m;
  std::string error;
  const std::vector<pin_t> pins = NarrowPins(h.netind);
  HGraphView view;
  view.nvtxs = h.nvtxs;
  view.nnets = h.nnets();
  view.ncon = h.ncon;
  view.netptr = h.netptr.data();
  view.netind = pins.empty() ? nullptr : pins.data();
  view.netwgt = h.netwgt.empty() ? nullptr : h.netwgt.data();
  view.cellwgt = h.cellwgt.empty() ? nullptr : h.cellwgt.data();
  const bool ok = EvaluatePartition(view, k, parts, &m, &error);
  if (!ok) Fail(Status::InvalidOptions, error);
  Metrics out;
  out.cut = m.cut;
  out.km1 = m.km1;
  out.soed = m.soed;
  out.imbalance = m.imbalance;
  out.part_weights.assign(m.pwgts.begin(), m.pwgts.end());
  out.empty_parts = m.emptyparts;
  for (std::size_t i = 0; i < h.fixed.size(); i++)
    out.fixed_violations += (h.fixed[i] >= 0 && h.fixed[i] != parts[i]);
  return out;
}

Result PartitionChecked(const Hypergraph& h, const Options& o) {
  Result res;
  res.seed = (o.seed >= 0) ? o.seed
                           : static_cast<std::int64_t>(std::random_device{}() & 0x7fffffffu);
  res.parts.assign(static_cast<std::size_t>(h.nvtxs), 0);
  bool anyfixed = false;
  for (std::size_t i = 0; i < h.fixed.size(); i++) {
    res.parts[i] = h.fixed[i];
    anyfixed = anyfixed || h.fixed[i] >= 0;
  }

  // One part, or too few cells to split: nothing to partition.
  if (o.k > 1 && h.nvtxs > 1) {
    const NetLists nets(h);
    HGraphView view;
    view.nvtxs = h.nvtxs;
    view.nnets = nets.nnets;
    view.cellwgt = h.cellwgt.empty() ? nullptr : h.cellwgt.data();
    view.ncon = view.cellwgt ? h.ncon : 1;
    view.netptr = nets.netptr;
    view.netind = nets.netind;
    view.netwgt = nets.netwgt;
    Options run = o;
    run.seed = res.seed;
    const PartitionConfig cfg = MakeConfig(run, view, anyfixed);
    std::vector<idx_t>& part = res.parts;
    RunCounts counts;
    PartitionHGraph(view, cfg, part, part, nullptr, o.initial, &counts);
    res.nruns = counts.nruns;
    res.nvcycles = counts.nvcycles;
  } else {
    for (auto& p : res.parts) p = 0;
  }

  res.metrics = Measure(h, res.parts.data(), o.k);
  if (o.epsilon > 0.0) {
    double factor = 0.0;
    const real_t* cellwgt = h.cellwgt.empty() ? nullptr : h.cellwgt.data();
    std::vector<double> bounds = EpsilonBounds(h.nvtxs, h.ncon, cellwgt, o.k, o.epsilon, &factor);
    // With target weights, every part has a bound of its own; the obstacle
    // below reads the largest.
    std::vector<double> partbounds;
    if (!o.part_weights.empty()) {
      partbounds = TargetEpsilonBounds(h.nvtxs, h.ncon, cellwgt, o.part_weights, o.epsilon);
      for (std::int64_t j = 0; j < h.ncon; j++) {
        bounds[j] = 0.0;
        for (std::int64_t p = 0; p < o.k; p++)
          bounds[j] = std::max(bounds[j], partbounds[p * h.ncon + j]);
      }
    }
    for (std::int64_t p = 0; p < o.k; p++)
      for (std::int64_t j = 0; j < h.ncon; j++)
        res.balanced = res.balanced &&
                       res.metrics.part_weights[p * h.ncon + j] <=
                           (partbounds.empty() ? bounds[j] : partbounds[p * h.ncon + j]);
    if (!res.balanced) {
      std::vector<idx_t> fixed(h.fixed.begin(), h.fixed.end());
      res.bound_obstacle =
          BoundObstacle(h.nvtxs, h.ncon, h.cellwgt.empty() ? nullptr : h.cellwgt.data(),
                        fixed.empty() ? nullptr : fixed.data(), o.k, bounds);
    }
  }
  return res;
}

// Runs f, turning whatever the partitioning code throws into Error.
template <class F>
auto Guarded(F f) -> decltype(f()) {
  try {
    // Whatever an error leaves behind in the partitioning's arrays is freed
    // as it passes: nothing of a failed call stays allocated.
    const AllocationScope scope;
    return f();
  } catch (const Error&) {
    throw;
  } catch (const ScopedExit& e) {
    // An error exit of the partitioning code, thrown under the call's scope.
    Fail(e.status() == kExitOutOfMemory ? Status::OutOfMemory : Status::InternalError,
         *e.what() == '\0' ? "the partitioning stopped" : e.what());
  } catch (const std::bad_alloc&) {
    Fail(Status::OutOfMemory, "out of memory");
  } catch (const std::exception& e) {
    Fail(Status::InternalError, e.what());
  }
}

}  // namespace

Result Partition(const Hypergraph& h, const Options& options) {
  return Guarded([&] {
    CheckHypergraph(h);
    CheckOptions(h, options);
    Options capped = options;
    capped.threads = CapThreads(options.threads);
    return PartitionChecked(h, capped);
  });
}

Status Partition(const Hypergraph& h, const Options& options, Result* result,
                 std::string* message) noexcept {
  try {
    Result r = Partition(h, options);
    if (result != nullptr) *result = std::move(r);
    if (message != nullptr) message->clear();
    return Status::Ok;
  } catch (const Error& e) {
    try {
      if (message != nullptr) *message = e.what();
    } catch (...) {
    }
    return e.status();
  } catch (...) {
    return Status::OutOfMemory;  // what a copy of the result may throw
  }
}

Metrics Evaluate(const Hypergraph& h, std::span<const std::int64_t> parts, std::int64_t k) {
  return Guarded([&] {
    CheckHypergraph(h);
    CheckParts(h, k);
    if (static_cast<std::int64_t>(parts.size()) != h.nvtxs)
      Fail(Status::InvalidOptions, "the partition holds " +
                                       Str(static_cast<std::int64_t>(parts.size())) +
                                       " entries for " + Str(h.nvtxs) + " cells");
    for (std::size_t i = 0; i < parts.size(); i++)
      if (parts[i] < 0 || parts[i] >= k)
        Fail(Status::InvalidOptions, "cell " + Str(static_cast<std::int64_t>(i)) +
                                         " is in part " + Str(parts[i]) + ", outside 0 to " +
                                         Str(k - 1));
    return Measure(h, parts.data(), k);
  });
}

HypergraphData ReadHypergraph(const std::string& path) {
  return Guarded([&] {
    HGraphPtr read;
    try {
      read = ReadHGraph(path.c_str());
    } catch (const InputError& e) {
      // The reader's text without its last line feed.
      std::string message = e.what();
      while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
      Fail(e.status() == kExitOutOfMemory ? Status::OutOfMemory : Status::InvalidHypergraph,
           message);
    }
    const HGraph* g = read.get();
    HypergraphData d;
    d.nvtxs = g->nvtxs;
    d.ncon = g->ncon;
    const idx_t npins = g->netptr[g->nnets];
    d.netptr.assign(g->netptr.data(), g->netptr.data() + g->nnets + 1);
    d.netind.assign(g->netind.data(), g->netind.data() + npins);
    if (!g->netwgt.empty()) d.netwgt.assign(g->netwgt.data(), g->netwgt.data() + g->nnets);
    if (!g->cellwgt.empty()) d.cellwgt.assign(g->cellwgt.data(), g->cellwgt.data() + g->nvtxs * g->ncon);
    return d;
  });
}

const char* Version() noexcept { return VELDAN_VERSION; }

}  // namespace veldan
