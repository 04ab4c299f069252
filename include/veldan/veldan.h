// veldan: multilevel hypergraph partitioning, the C++ interface.
//
//   veldan::Hypergraph h;                  // a view of the caller's arrays
//   h.nvtxs = 6;
//   h.netptr = netptr;                     // nnets + 1 offsets into netind
//   h.netind = netind;                     // cells of every net, from 0
//   veldan::Options o;
//   o.k = 3;
//   o.epsilon = 0.03;                      // every part <= 1.03 x average
//   o.seed = 1;
//   veldan::Result r = veldan::Partition(h, o);   // throws veldan::Error
//   // r.parts[i] is the part of cell i; r.metrics.cut, .km1, .imbalance ...
//
// Calls share nothing: two calls at once on two threads each get the result
// they would get alone, and a seed gives the same partition whatever the
// number of threads. The library never ends the process and prints nothing
// unless dbglvl asks for it (to standard output).
//
// This header includes nothing but the standard library.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(_WIN32)
#define VELDAN_API
#else
#define VELDAN_API __attribute__((visibility("default")))
#endif

namespace veldan {

// A hypergraph held by the caller. Cells and nets are numbered from 0; the
// pins of net e are netind[netptr[e]] .. netind[netptr[e + 1] - 1].
struct Hypergraph {
  std::int64_t nvtxs = 0;                // number of cells
  std::span<const std::int64_t> netptr;  // nnets + 1 entries, netptr[0] == 0
  std::span<const std::int64_t> netind;  // netptr[nnets] entries
  std::span<const float> netwgt;         // nnets weights, or empty: all 1
  std::int64_t ncon = 1;                 // weights per cell
  std::span<const float> cellwgt;        // nvtxs * ncon weights (cell by cell), or empty: all 1
  // nvtxs entries: -1 for a free cell, else the part it must end in; or
  // empty: every cell is free.
  std::span<const std::int64_t> fixed;

  std::int64_t nnets() const {
    return netptr.empty() ? 0 : static_cast<std::int64_t>(netptr.size()) - 1;
  }
};

// The largest seed any interface takes (2^63 - 2): the k-way scheme derives
// a second seed as seed + 1. A seed below 0 asks for one to be drawn.
inline constexpr std::int64_t kMaxSeed = INT64_MAX - 1;

enum class Scheme { RecursiveBisection = 1, Kway = 2 };
enum class Objective { Cut = 1, Soed = 2, Km1 = 3 };
// Coarsening schemes; Default follows nruns (H1 below 20 runs, else H12).
enum class Coarsening {
  Default = 0, FC1, GFC1, FC2, GFC2, H1, H2, H12, Edge1, GEdge1, Edge2, GEdge2
};
// Refinement schemes; Default is Fast for recursive bisection and KRandom
// for k-way. Fast, Moderate and Slow go with recursive bisection, the others
// with k-way.
enum class Refinement {
  Default = 0, Fast, Moderate, Slow, KRandom, KPFast, KPModerate, KPSlow
};

// The options of the command line, with its defaults; dbglvl is 0 here, so
// that a call prints nothing.
struct Options {
  Scheme scheme = Scheme::RecursiveBisection;
  // Parts, from 1 (every cell in part 0) to the number of cells (1 for a
  // hypergraph without cells).
  std::int64_t k = 2;
  // Above 0: every part weighs at most (1 + epsilon) x the average part
  // weight (with integer weights, at least the average rounded up), and
  // ufactor is not used.
  double epsilon = 0.0;
  // Without epsilon: the unbalance of each bisection in percent (recursive
  // bisection, at least 0.1), or of every part over the average (k-way, at
  // least 1).
  double ufactor = 5.0;
  // Cut and soed: k-way only; km1: both schemes.
  Objective objective = Objective::Cut;
  std::int64_t nruns = 10;
  std::int64_t nvcycles = 1;
  Coarsening ctype = Coarsening::Default;
  Refinement rtype = Refinement::Default;
  std::int64_t cmaxnet = 50;
  std::int64_t rmaxnet = 50;
  // Above 0: coarsening stops at this many cells (at least k with the k-way
  // scheme, at most the cells less one); 0: derived from the input and k.
  std::int64_t coarsento = 0;
  bool kwayrefine = false;   // recursive bisection: a final k-way refinement
  bool reconstruct = false;  // recursive bisection: keep cut nets as partial nets
  // 0 to kMaxSeed; below 0: drawn (and given back in Result::seed).
  std::int64_t seed = -1;
  // Below 1, or more than the cores the process may use: those cores.
  std::int64_t threads = 0;
  std::int64_t dbglvl = 0;   // the program's -dbglvl bits
  // Target weights of the parts, or empty: an even split. k * ncon
  // fractions, weight j of part p at p * ncon + j; each at least 0, those of
  // a weight summing to 1 (within 1e-6). Part p is then bound by
  // (1 + epsilon) x fraction x total (with integer weights, at least the
  // target rounded up), or under ufactor by that unbalance scaled to the
  // fraction; a part of fraction 0 may stay empty. With several weights per
  // cell every weight of every part has its own fraction and bound.
  std::vector<double> part_weights;
  // A partition to improve instead of partitioning from scratch: nvtxs
  // parts, each from 0 to k-1, or empty (none). Each of the nruns runs
  // starts from it (greedy moves and one V-cycle), the nvcycles best are
  // refined by further V-cycles; the result is never worse in the objective
  // than it when it keeps the bound, and is balanced first when it does
  // not. Fixed cells must already be in their parts.
  std::vector<std::int64_t> initial;
  // Above 0: a budget in seconds of wall-clock time. The first bisection
  // (or the k-way partitioning) keeps starting runs while its share of the
  // budget lasts, leaving room for its V-cycles (as many of nvcycles as
  // fit), and every later bisection makes as many; nruns is not used.
  // At least one run is made. Result::nruns and Result::nvcycles tell how
  // many ran: passing them as nruns and nvcycles (with ctype fixed to the
  // scheme that ran) repeats the partition without a budget.
  double time = 0.0;
};

// Settings named by what they are for: Fast is the knee of the runs and
// V-cycles against the cut (2 runs, no V-cycle), Default the defaults
// above, Quality more runs and V-cycles where they still lower the cut.
enum class Preset { Default = 0, Fast = 1, Quality = 2 };

// The options of a preset; fields set afterwards override it:
//   veldan::Options o = veldan::PresetOptions(veldan::Preset::Fast);
//   o.k = 8;
// Throws Error (InvalidOptions) for a value outside the enumeration.
VELDAN_API Options PresetOptions(Preset preset);

// Measures of a partition, on every net with the hypergraph's weights.
struct Metrics {
  double cut = 0.0;   // weight of the nets spanning two parts or more
  double km1 = 0.0;   // sum over nets of (parts spanned - 1) x weight
  double soed = 0.0;  // sum over cut nets of parts spanned x weight
  // Per weight: heaviest part / average part - 1.
  std::vector<double> imbalance;
  // Weight j of part p at p * ncon + j.
  std::vector<double> part_weights;
  std::int64_t empty_parts = 0;
  // Cells whose part differs from the one the hypergraph fixes for them.
  std::int64_t fixed_violations = 0;
};

struct Result {
  std::vector<std::int64_t> parts;  // nvtxs entries, each in 0 .. k-1
  Metrics metrics;
  std::int64_t seed = 0;  // the seed used; passing it again repeats the call
  // Under epsilon: whether every part of every weight kept the bound. With
  // several weights per cell (ncon > 1) every weight is balanced.
  bool balanced = true;
  // When not balanced and no partition could be: why (a cell, or the cells
  // fixed to one part, heavier than the bound); empty otherwise.
  std::string bound_obstacle;
  // The runs and V-cycles made per bisection (or k-way partitioning): the
  // options' own, or under a time budget as many as it allowed.
  std::int64_t nruns = 0;
  std::int64_t nvcycles = 0;
};

enum class Status {
  Ok = 0,
  InvalidHypergraph = 1,  // counts, offsets, pins or weights that do not fit
  InvalidOptions = 2,     // an option out of its range or a scheme mismatch
  OutOfMemory = 3,
  InternalError = 4,
};

// What the throwing calls throw.
class VELDAN_API Error : public std::runtime_error {
 public:
  Error(Status status, const std::string& message)
      : std::runtime_error(message), status_(status) {}
  Status status() const noexcept { return status_; }

 private:
  Status status_;
};

// Partitions h as the options say. Throws Error.
VELDAN_API Result Partition(const Hypergraph& h, const Options& options);
// The same without exceptions: Status::Ok and *result, or the status and
// a message in *message (either pointer may be null).
VELDAN_API Status Partition(const Hypergraph& h, const Options& options, Result* result,
                            std::string* message) noexcept;

// A hypergraph read from a file, holding its arrays; view() is the
// Hypergraph to pass to Partition and Evaluate while this object lives.
struct HypergraphData {
  std::int64_t nvtxs = 0;
  std::int64_t ncon = 1;
  std::vector<std::int64_t> netptr{0}, netind;
  std::vector<float> netwgt;   // empty: unit net weights
  std::vector<float> cellwgt;  // nvtxs * ncon weights, or empty: unit weights
  Hypergraph view() const {
    Hypergraph h;
    h.nvtxs = nvtxs;
    h.ncon = ncon;
    h.netptr = netptr;
    h.netind = netind;
    h.netwgt = netwgt;
    h.cellwgt = cellwgt;
    return h;
  }
};

// Reads a hypergraph file in the program's input format (or a Matrix Market
// file, column-net model: a name ending in .mtx or the Matrix Market
// banner); each cell appears once per net. Throws Error: InvalidHypergraph
// with the reader's message (file and line) for a file that cannot be read
// or is malformed, OutOfMemory when its counts need more memory than there
// is.
VELDAN_API HypergraphData ReadHypergraph(const std::string& path);

// Measures any partition of h into k parts (parts: nvtxs entries in
// 0 .. k-1; k from 1 to the number of cells, 1 without cells). Throws Error
// for a vector of the wrong length, a part out of range or such a k; cells
// are numbered from 0 in its messages, as everywhere in the library.
VELDAN_API Metrics Evaluate(const Hypergraph& h, std::span<const std::int64_t> parts,
                            std::int64_t k);

// The library's version, "2.0rc1" (the spelling pip keeps; the program's run
// header spells the same version 2.0pre1).
VELDAN_API const char* Version() noexcept;

}  // namespace veldan
