// The veldan program: parse the options, read the hypergraph (and the
// fixed-cell file), partition, write the partition file and report.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "bisect/bisect.h"
#include "kway/kway.h"
#include "programs/cli.h"
#include "support/io.h"
#include "support/memory.h"
#include "support/parallel.h"
#include "support/timers.h"

using namespace veldan;

namespace {

// The partitioning entries take one weight per cell. With several weights
// per cell, each constraint is normalised to sum 1 and a cell's weight is
// the sum of its normalised weights, scaled by nvtxs/ncon so that the
// weights average 1. A constraint whose total is not positive carries no
// information on relative sizes and is left out.
real_t* CombineCellWeights(idx_t nvtxs, idx_t ncon, const real_t* cellwgt) {
  double* scale = static_cast<double*>(ax_malloc(sizeof(double) * ncon, "main: scale"));
  for (idx_t j = 0; j < ncon; j++) {
    double total = 0.0;
    for (idx_t i = 0; i < nvtxs; i++) total += cellwgt[i * ncon + j];
    scale[j] = (total > 0.0) ? static_cast<double>(nvtxs) / ncon / total : 0.0;
  }
  real_t* combined = ax_fmalloc(nvtxs, "main: combined cellwgt");
  for (idx_t i = 0; i < nvtxs; i++) {
    double w = 0.0;
    for (idx_t j = 0; j < ncon; j++) w += cellwgt[i * ncon + j] * scale[j];
    combined[i] = static_cast<real_t>(w);
  }
  ax_free(&scale);
  return combined;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // Every level of every run allocates and frees arrays of a few megabytes.
  // Served from fresh mappings and handed back at once, each costs page
  // faults and zeroing on every use; kept in the heap, they are reused.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  // One heap for all threads: what one run frees, the next run on another
  // thread reuses, instead of each thread's heap keeping its own. The
  // partitioning allocates per level, not per move, so the shared heap's
  // lock costs nothing measurable.
  mallopt(M_ARENA_MAX, 1);
#endif
  RunParams control;
  ParseCommandLine(&control, argc, argv);

  if (control.nparts < 2) {
    std::printf("The number of partitions should be greater than 1!\n");
    std::exit(0);
  }

  // Processor-time timers, kept in single precision.
  real_t iotmr = 0.0f, parttmr = 0.0f;

  iotmr -= ax_seconds();
  HGraph* graph = ReadHGraph(control.filename);
  iotmr += ax_seconds();

  const idx_t nvtxs = graph->nvtxs;
  idx_t* part = ax_ismalloc(nvtxs, 0, "main: part");

  if (control.fixedfile != nullptr) {
    iotmr -= ax_seconds();
    ReadPartition(nvtxs, part, control.fixedfile);
    idx_t imax = 0;
    for (idx_t i = 1; i < nvtxs; i++)
      if (part[i] > part[imax]) imax = i;
    if (part[imax] >= control.nparts) {
      std::printf("Input Error:\n\tThe file %s contains more than %ld sets of pre-assigned "
                  "vertices.\n\n",
                  control.fixedfile, control.nparts);
      std::exit(0);
    }
    iotmr += ax_seconds();
  }

  PrintRunHeader(&control, graph);

  const idx_t fixed = (control.fixedfile != nullptr) ? 1 : 0;
  real_t* combined = nullptr;
  const real_t* cellwgt = graph->cellwgt;
  if (graph->ncon > 1 && graph->cellwgt != nullptr)
    cellwgt = combined = CombineCellWeights(nvtxs, graph->ncon, graph->cellwgt);

  const idx_t nthreads = (control.nthreads > 0) ? control.nthreads : AvailableCores();
  parttmr -= ax_seconds();
  switch (control.ptype) {
    case PTYPE_RB:
      RecursivePartition(nvtxs, graph->nnets, cellwgt, graph->netptr, graph->netind,
                         graph->netwgt, control.ubfactor, control.ctype, control.rtype,
                         control.nruns, control.nvcycles, control.cmaxnet, control.rmaxnet,
                         fixed, control.reconstruct, control.kwayrefine, control.seed,
                         control.dbglvl, control.nparts, part, nthreads);
      break;
    case PTYPE_KWAY:
      KwayPartition(nvtxs, graph->nnets, cellwgt, graph->netptr, graph->netind, graph->netwgt,
                    control.ubfactor, control.otype, control.ctype, control.rtype, control.nruns,
                    control.nvcycles, control.cmaxnet, control.rmaxnet, fixed, control.seed,
                    control.dbglvl, control.nparts, part, nthreads);
      break;
    default:
      ax_errexit(SIGABRT, "Unknown ptype=%ld\n", control.ptype);
      std::abort();  // reached only when the abort signal is ignored or handled
  }
  parttmr += ax_seconds();
  ax_free(&combined);

  iotmr -= ax_seconds();
  WriteHGraphPart(nvtxs, part, control.filename);
  iotmr += ax_seconds();

  ComputePartCuts(nvtxs, graph->nnets, graph->ncon, control.nparts, graph->netptr,
                  graph->netind, graph->netwgt, graph->cellwgt, part);

  std::printf("\n\nTiming Information ---------------------------------------------------------");
  std::printf("\n  Partitioning Time:\t\t %7.3lfsec", static_cast<double>(parttmr));
  std::printf("\n           I/O Time:\t\t %7.3lfsec", static_cast<double>(iotmr));
  std::printf("\n*******************************************************************************\n");

  FreeHGraph(&graph, 1);
  ax_free(&part, &control.filename, &control.fixedfile);
  return 0;
}
