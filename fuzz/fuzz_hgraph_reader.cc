// Fuzz target of the hypergraph file reader: the bytes are written to a file
// and read with ReadHGraph, as the program reads its input. An input is
// either rejected through an orderly exit with a message, or read into arrays
// that are checked here; a small accepted hypergraph is then set up and
// partitioned with options drawn from the input, and the result checked.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bisect/bisect.h"
#include "fuzz/fuzz_common.h"
#include "hgraph/context.h"
#include "hgraph/hgraph.h"
#include "kway/entry.h"
#include "kway/kway.h"
#include "programs/cli.h"

using veldan::HGraph;
using veldan::idx_t;
using veldan::real_t;

namespace {

// Inputs whose header asks for more cells than this are skipped: the reader
// rightly allocates per declared cell before it can tell that the file is
// short, and such requests only measure the allocator. The tests cover
// absurd counts.
constexpr long kMaxCells = 1L << 17;
// Accepted hypergraphs up to these sizes are also partitioned.
constexpr idx_t kPartitionCells = 200;
constexpr idx_t kPartitionPins = 2000;

veldan_fuzz::ScratchFile* g_file = nullptr;
// VELDAN_FUZZ_READER_ONLY=1 leaves the partitioning out, for speed.
bool g_partition = true;
// VELDAN_FUZZ_VERBOSE=1 prints the options of each partitioning run, so
// that a finding can be replayed with the program.
bool g_verbose = false;

[[noreturn]] void Fault(const char* what) {
  std::fprintf(stderr, "fault: %s\n", what);
  std::abort();
}

// The cell count the header declares, found as the reader finds it: the
// first line that does not begin with "%", its second integer. -1 when there
// is none.
long DeclaredCells(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 0;
  while (pos < size) {
    std::size_t end = pos;
    while (end < size && data[end] != '\n') end++;
    if (end == pos) return -1;  // a blank line ends the input
    if (data[pos] != '%') {
      const std::string line(reinterpret_cast<const char*>(data) + pos, end - pos);
      const char* text = line.c_str();
      char* stop = nullptr;
      std::strtol(text, &stop, 10);
      if (stop == text) return -1;
      text = stop;
      const long cells = std::strtol(text, &stop, 10);
      return stop == text ? -1 : cells;
    }
    pos = end + 1;
  }
  return -1;
}

// The arrays of an accepted file keep every promise of the reader.
void CheckGraph(const HGraph* g) {
  if (g->nvtxs < 2) Fault("fewer than two cells accepted");
  if (g->nnets < 0) Fault("negative net count accepted");
  if (g->ncon < 1 || g->ncon > 20) Fault("ncon out of range accepted");
  if (g->netptr.empty() || g->netptr[0] != 0) Fault("netptr does not start at 0");
  // Weight sums stay far inside the float range (cut, part weights).
  constexpr double kMaxSum = FLT_MAX / 4.0;
  double netsum = 0.0;
  std::vector<idx_t> seen(static_cast<std::size_t>(g->nvtxs), -1);
  for (idx_t i = 0; i < g->nnets; i++) {
    if (g->netptr[i + 1] <= g->netptr[i]) Fault("a net without pins accepted");
    if (!g->netwgt.empty())
      netsum += static_cast<double>(g->netwgt[i]) *
                static_cast<double>(g->netptr[i + 1] - g->netptr[i]);
    for (idx_t j = g->netptr[i]; j < g->netptr[i + 1]; j++) {
      const idx_t c = g->netind[j];
      if (c < 0 || c >= g->nvtxs) Fault("pin out of range");
      if (seen[c] == i) Fault("repeated pin kept");
      seen[c] = i;
    }
    if (!g->netwgt.empty() && !(std::isfinite(g->netwgt[i]) && g->netwgt[i] >= 0.0f))
      Fault("non-finite or negative net weight accepted");
  }
  if (netsum > kMaxSum) Fault("net weights beyond the float range accepted");
  if (!g->cellwgt.empty()) {
    std::vector<double> cellsum(static_cast<std::size_t>(g->ncon), 0.0);
    for (idx_t i = 0; i < g->nvtxs * g->ncon; i++) {
      if (!std::isfinite(g->cellwgt[i])) Fault("non-finite cell weight accepted");
      if (g->cellwgt[i] > 0.0f) cellsum[i % g->ncon] += g->cellwgt[i];
    }
    for (const double sum : cellsum)
      if (sum > kMaxSum) Fault("cell weights beyond the float range accepted");
  }
}

// The working hypergraph of the partitioning entries: weights sanitised,
// incidence lists the transpose of the nets.
void CheckSetUp(const HGraph* g) {
  const veldan::HGraphPtr w = veldan::SetUpHGraph(g->nvtxs, g->nnets, 1, g->cellwgt.data(), g->netwgt.data(), g->netptr.data(),
                                  g->netind.data());
  veldan::OwnedContext ctrl;
  veldan::CreateIncidentHGraph(ctrl, w.get());
  if (w->incptr[w->nvtxs] != w->netptr[w->nnets]) Fault("incidence count differs from pins");
  for (idx_t i = 0; i < w->nvtxs; i++) {
    if (!(w->cellwgt[i] >= 1.1920929e-07f) || !std::isfinite(w->cellwgt[i]))
      Fault("cell weight not sanitised");
    for (idx_t j = w->incptr[i]; j < w->incptr[i + 1]; j++)
      if (j > w->incptr[i] && w->incind[j] <= w->incind[j - 1]) Fault("incidence not sorted");
  }
  for (idx_t n = 0; n < w->nnets; n++)
    if (!std::isfinite(w->edgewgt[n]) || !std::isfinite(w->edgewgt2[n]))
      Fault("edge weight not finite");
}

// Partitions a small accepted hypergraph with options drawn from the input
// and checks that every cell gets a part in range.
void Partition(const HGraph* g, const std::uint8_t* data, std::size_t size) {
  std::uint64_t h = 1469598103934665603ULL;
  for (std::size_t i = 0; i < size; i++) h = (h ^ data[i]) * 1099511628211ULL;
  const auto draw = [&h](std::uint64_t n) {
    h = h * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<idx_t>((h >> 33) % n);
  };
  const bool kway = draw(2) == 1;
  // The pairwise k-way schemes visit every pair of parts, so they get the
  // small part counts only.
  static const idx_t kParts[] = {2, 3, 4, 7, 8, 64, 300};
  // The entries' lower bounds: 0.1 for bisection, 1 for k-way.
  static const real_t kUb[] = {5.0f, 1.0f, 10.0f, 49.9f, 0.1f};
  const real_t ub = kUb[draw(kway ? 4 : 5)];
  const idx_t rtype = kway ? 4 + draw(4) : 1 + draw(3);
  const idx_t nparts = kParts[draw(rtype > 4 ? 5 : 7)];
  static const idx_t kMaxNet[] = {50, 1, 2, 3};
  const idx_t cmaxnet = kMaxNet[draw(4)], rmaxnet = kMaxNet[draw(4)];
  const idx_t nruns = 1 + draw(2);
  const idx_t nvcycles = draw(2);
  const idx_t seed = draw(1000);

  const idx_t otype = 1 + draw(2);
  const idx_t kwayrefine = draw(2);
  if (g_verbose)
    std::fprintf(stderr,
                 "partition: -ptype=%s -rtype=%s%s -ufactor=%g -cmaxnet=%ld -rmaxnet=%ld "
                 "-nruns=%ld -nvcycles=%ld -seed=%ld%s, %ld parts\n",
                 kway ? "kway" : "rb",
                 veldan::SchemeNameOf(veldan::kRefinementNames, static_cast<int>(rtype)),
                 kway && otype == 2 ? " -otype=soed" : "", static_cast<double>(ub), cmaxnet,
                 rmaxnet, nruns, nvcycles, seed, !kway && kwayrefine ? " -kwayrefine" : "",
                 nparts);

  veldan::Options o;
  o.scheme = kway ? veldan::Scheme::Kway : veldan::Scheme::RecursiveBisection;
  o.k = nparts;
  o.ufactor = ub;
  o.objective = static_cast<veldan::Objective>(otype);
  o.ctype = veldan::Coarsening::H1;
  o.rtype = static_cast<veldan::Refinement>(rtype);
  o.nruns = nruns;
  o.nvcycles = nvcycles;
  o.cmaxnet = cmaxnet;
  o.rmaxnet = rmaxnet;
  o.kwayrefine = kwayrefine != 0;
  o.seed = seed;
  o.threads = 1;
  const veldan::HGraphView view = veldan::ViewOf(g);  // one weight per cell here
  std::vector<idx_t> part(static_cast<std::size_t>(g->nvtxs), 0);
  veldan::PartitionHGraph(view, veldan::MakeConfig(o, view), part, part);
  for (const idx_t p : part)
    if (p < 0 || p >= nparts) Fault("part out of range");
}


}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  veldan::ax_SetExitHook(veldan_fuzz::ThrowExit);
  g_file = new veldan_fuzz::ScratchFile();
  const char* only = std::getenv("VELDAN_FUZZ_READER_ONLY");
  g_partition = !(only != nullptr && std::strcmp(only, "1") == 0);
  const char* verbose = std::getenv("VELDAN_FUZZ_VERBOSE");
  g_verbose = verbose != nullptr && std::strcmp(verbose, "1") == 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (DeclaredCells(data, size) > kMaxCells) return 0;
  const char* path = g_file->Write(data, size);
  veldan::HGraphPtr owner;
  try {
    owner = veldan::ReadHGraph(path);
  } catch (const veldan::InputError& e) {
    veldan_fuzz::CheckRefusal(e);
    return 0;
  } catch (const veldan_fuzz::OrderlyExit& e) {
    veldan_fuzz::CheckOrderlyExit(e);
    return 0;
  }
  const HGraph* g = owner.get();
  CheckGraph(g);
  if (g->ncon == 1) {
    CheckSetUp(g);
    if (g_partition && g->nvtxs <= kPartitionCells && g->netptr[g->nnets] <= kPartitionPins)
      Partition(g, data, size);
  }
  return 0;
}
