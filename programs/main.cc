// The veldan program: parse the options, read the hypergraph (and the
// fixed-cell file), partition, write the partition file and report.
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "bisect/bisect.h"
#include "hgraph/context.h"
#include "hgraph/evaluate.h"
#include "kway/entry.h"
#include "kway/kway.h"
#include "programs/cli.h"
#include "support/io.h"
#include "support/memory.h"
#include "support/parallel.h"
#include "support/progress.h"
#include "support/timers.h"

using namespace veldan;


namespace {

#if defined(__GLIBC__)
// The largest array the heap serves (and keeps for reuse once freed);
// larger ones are mappings of their own, handed back when freed.
constexpr int kHeapArrayMax = 32 << 20;

// Kept in the heap, a level's freed arrays leave holes that arrays of
// other sizes do not fill, and the holes grow with the levels: on an input
// of four million pins the heap ended twice the size of what it held. The
// threshold falls as the input grows, so that the arrays of the large
// levels come and go as mappings and the heap's holes stay about the same
// size whatever the input; small inputs keep every level array in the heap.
void HeapForInput(idx_t npins) {
  constexpr double kHeldBytes = 16e12;  // threshold x pins
  const double threshold = kHeldBytes / static_cast<double>(std::max<idx_t>(npins, 1));
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(std::clamp(threshold, 4.0 * (1 << 20),
                                                         static_cast<double>(kHeapArrayMax))));
}
#else
void HeapForInput(idx_t /*npins*/) {}
#endif

int Run(int argc, char** argv) {
#if defined(__GLIBC__)
  // Every level of every run allocates and frees arrays of a few megabytes.
  // Served from fresh mappings and handed back at once, each costs page
  // faults and zeroing on every use; kept in the heap, they are reused.
  // (Once the input is read, the threshold shrinks with its size: see
  // HeapForInput.)
  mallopt(M_MMAP_THRESHOLD, kHeapArrayMax);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  // One heap for all threads: what one run frees, the next run on another
  // thread reuses, instead of each thread's heap keeping its own. The
  // partitioning allocates per level, not per move, so the shared heap's
  // lock costs nothing measurable.
  mallopt(M_ARENA_MAX, 1);
#endif
  // Every line shows as soon as it is written, also through a pipe or into
  // a log, and an interrupt loses nothing already printed.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  RunParams control;
  ParseCommandLine(&control, argc, argv);

  CheckRunParams(&control);

  // Processor-time timers, kept in single precision.
  real_t iotmr = 0.0f, parttmr = 0.0f;

  iotmr -= ax_seconds();
  const HGraphPtr graphholder(ReadHGraph(control.filename.c_str()));
  const HGraph* graph = graphholder.get();
  iotmr += ax_seconds();

  HeapForInput(graph->netptr[graph->nnets]);

  const idx_t nvtxs = graph->nvtxs;
  CheckPartsAgainstCells(control.options.k, nvtxs, control.filename.c_str());
  std::vector<idx_t> partholder(static_cast<std::size_t>(nvtxs), 0);
  idx_t* part = partholder.data();

  // The target weights of the parts, one fraction per weight of a cell.
  if (!control.partweightsfile.empty()) {
    iotmr -= ax_seconds();
    control.options.part_weights =
        ReadPartWeights(control.partweightsfile.c_str(), control.options.k,
                        graph->cellwgt.data() != nullptr ? graph->ncon : 1);
    iotmr += ax_seconds();
  }

  const bool hasfixed = !control.fixedfile.empty();
  if (hasfixed) {
    iotmr -= ax_seconds();
    // A part at or above nparts ends the run there, naming the line.
    ReadPartition(nvtxs, part, control.fixedfile.c_str(), control.options.k);
    iotmr += ax_seconds();
  }
  // The partition to improve, with every fixed cell already in its part.
  std::vector<idx_t> initial;
  if (!control.initialfile.empty()) {
    iotmr -= ax_seconds();
    initial.assign(static_cast<std::size_t>(nvtxs), 0);
    ReadInitialPartition(nvtxs, initial.data(), control.initialfile.c_str(), control.options.k);
    iotmr += ax_seconds();
    for (idx_t i = 0; hasfixed && i < nvtxs; i++)
      if (part[i] >= 0 && part[i] != initial[i]) {
        // Refused as the readers refuse a file.
        throw InputError(kStatusInput,
                         "Initial partition file " + control.initialfile + " puts cell " +
                             std::to_string(i + 1) + " in part " + std::to_string(initial[i]) +
                             ", but fixed-cell file " + control.fixedfile +
                             " fixes it to part " + std::to_string(part[i]) + ".\n\n");
      }
  }

  // The partition file never replaces an input; it is written at the end,
  // so a target that does not take it is found now, before the work is done.
  const std::string target = !control.outputfile.empty()
                                 ? control.outputfile
                                 : PartitionFileName(control.filename.c_str(), control.options.k);
  for (const std::string& input :
       {control.filename, control.fixedfile, control.partweightsfile, control.initialfile})
    if (!input.empty() && SameFile(target.c_str(), input.c_str())) {
      std::fprintf(stderr,
                   "The partition file %s is the input file %s; the partition is not written "
                   "over an input (name another file with -output).\n",
                   target.c_str(), input.c_str());
      std::exit(kStatusUsage);
    }
  CheckPartitionFileWritable(target);

  // Without -seed a seed is drawn, and shown, so that the run can be
  // repeated with -seed.
  if (control.options.seed < 0)
    control.options.seed = static_cast<idx_t>(std::random_device{}() & 0x7fffffffu);

  PrintRunHeader(&control, graph);

  const idx_t fixed = hasfixed ? 1 : 0;
  // The fixed parts, for telling why a bound could not be met.
  std::vector<idx_t> fixedparts;
  if (fixed && control.options.epsilon > 0.0) fixedparts.assign(part, part + nvtxs);
  const real_t* cellwgt = graph->cellwgt.data();
  // Without cell weights every weight is 1, and there is only one.
  const idx_t ncon = (cellwgt != nullptr) ? graph->ncon : 1;

  const idx_t nthreads = CapThreads(control.options.threads);
  if (control.options.threads > nthreads)
    std::fprintf(stderr, "Note: -nthreads=%ld is more than the %ld cores this process may use; "
                         "%ld threads are used (the partition does not depend on it).\n",
                 control.options.threads, nthreads, nthreads);

  // On a terminal, a line on standard error follows the runs: nruns and
  // the V-cycles per bisection (k - 1 of them) or per k-way partitioning.
  Progress progress;
  std::unique_ptr<ProgressLine> progressline;
  // (Under a time budget the runs are not known beforehand.)
  if (isatty(STDERR_FILENO) == 1 && !(control.options.time > 0.0)) {
    const idx_t nruns = std::max<idx_t>(control.options.nruns, 1);
    const idx_t perpart = nruns + std::clamp<idx_t>(control.options.nvcycles, 0, nruns);
    // Improving a given partition runs on the whole partition, as k-way does.
    const bool rb = control.options.scheme == Scheme::RecursiveBisection && initial.empty();
    progressline = std::make_unique<ProgressLine>(
        progress, rb ? (control.options.k - 1) * perpart : perpart,
        rb ? "bisection runs" : "runs");
  }

  RunCounts counts;
  bool givenkept = false;  // -initial: the result is the given partition
  parttmr -= ax_seconds();
  {
    HGraphView view = ViewOf(graph);
    view.ncon = ncon;
    Options options = control.options;
    options.threads = nthreads;
    const std::span<idx_t> parts(part, static_cast<std::size_t>(nvtxs));
    options.initial = std::move(initial);
    PartitionHGraph(view, MakeConfig(options, view, fixed != 0), parts, parts, &progress,
                    options.initial, &counts);
    givenkept = !options.initial.empty() &&
                std::equal(parts.begin(), parts.end(), options.initial.begin());
  }
  parttmr += ax_seconds();
  progressline.reset();

  iotmr -= ax_seconds();
  WritePartitionFile(nvtxs, part, target);
  iotmr += ax_seconds();

  PartitionMetrics metrics;
  std::string error;
  if (!EvaluatePartition(ViewOf(graph), control.options.k, part, &metrics, &error))
    errexit("ComputePartCuts: %s.\n", error.c_str());
  PrintSummary(metrics);

  // Under -epsilon, the bound of every weight on every part.
  std::vector<double> maxpwgt;
  double factor = 0.0;
  if (control.options.epsilon > 0.0)
    maxpwgt = EpsilonBounds(nvtxs, graph->ncon, graph->cellwgt.data(), control.options.k,
                            control.options.epsilon, &factor);
  // With target weights, the bound of every part of its own.
  const std::vector<double>& targets = control.options.part_weights;
  bool held = true;
  if (targets.empty()) {
    held = PrintBalanceFigures(metrics, maxpwgt, factor);
  } else {
    std::vector<double> partbounds;
    if (control.options.epsilon > 0.0) {
      partbounds = TargetEpsilonBounds(nvtxs, graph->ncon, graph->cellwgt.data(), targets,
                                       control.options.epsilon);
      // The obstacle below reads the largest of them.
      for (idx_t j = 0; j < graph->ncon; j++) {
        maxpwgt[j] = 0.0;
        for (idx_t p = 0; p < control.options.k; p++)
          maxpwgt[j] = std::max(maxpwgt[j], partbounds[p * graph->ncon + j]);
      }
      factor = 1.0 + control.options.epsilon;
    }
    idx_t zerotargets = 0;
    for (idx_t p = 0; p < control.options.k; p++) {
      bool zero = true;
      for (idx_t j = 0; j < graph->ncon; j++) zero = zero && !(targets[p * graph->ncon + j] > 0.0);
      zerotargets += zero ? 1 : 0;
    }
    held = PrintBalanceFigures(metrics, partbounds, factor, zerotargets);
  }

  if (!control.initialfile.empty())
    std::printf("\n              Given partition:%14s\t\t(%s)",
                givenkept ? "kept" : (counts.afresh ? "replaced" : "improved"),
                givenkept       ? "nothing beat it"
                : counts.afresh ? "far worse than a run from scratch: partitioned afresh"
                                : "refined from it");

  std::printf("\n\nTiming Information ---------------------------------------------------------");
  std::printf("\n  Partitioning Time:\t\t %7.3lfsec", static_cast<double>(parttmr));
  std::printf("\n           I/O Time:\t\t %7.3lfsec", static_cast<double>(iotmr));
  if (control.options.time > 0.0) PrintBudgetRuns(control, counts);
  std::printf("\n*******************************************************************************\n");

  std::string obstacle;
  if (!held) {
    std::fprintf(stderr,
                 "The balance bound was not met: a part weighs more than %.4f times %s.\n",
                 factor, targets.empty() ? "the average part weight" : "its target weight");
    // What makes the bound impossible to meet, if anything.
    obstacle = BoundObstacle(nvtxs, graph->ncon, graph->cellwgt.data(),
                             fixedparts.empty() ? nullptr : fixedparts.data(), control.options.k,
                             maxpwgt);
    if (!obstacle.empty()) std::fprintf(stderr, "%s\n", obstacle.c_str());
  }

  if (!held) return obstacle.empty() ? kStatusBoundMissed : kStatusBoundImpossible;
  return kStatusOk;
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever the partitioning allocates through the standard library (its
  // lists per run, per part) ends the same way as the checked allocations
  // when memory runs out: a message and a status, not a signal.
  try {
    return Run(argc, argv);
  } catch (const InputError& e) {
    // An input that cannot be read: its message, and the status it asks for.
    std::fflush(stdout);
    std::fputs(e.what(), stderr);
    return e.status();
  } catch (const Error& e) {
    // An option the partitioning refuses that the command line let through.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
    return kStatusUsage;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "***Memory allocation failed: the input or the options ask for more "
                         "memory than there is.\n");
    return kStatusMemory;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "Internal error: %s\n", e.what());
    return kStatusInput;
  }
}
