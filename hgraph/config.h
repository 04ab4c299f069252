// The configuration of one partitioning: what the caller asked for, checked
// once and with every default and every balance bound resolved, nested by
// phase. MakeConfig (kway/entry.h) builds it; from then on it is read-only
// and shared by every task of the partitioning.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "support/types.h"
#include "veldan/veldan.h"

namespace veldan {

// The most weights a cell may carry.
inline constexpr idx_t kMaxNCon = 20;
using ConArray = std::array<double, kMaxNCon>;

// The printed names of the schemes, one table for the command line, its
// help and header, the library and the Python module.
struct SchemeName {
  const char* name;
  int code;
};
inline constexpr SchemeName kSchemeNames[] = {{"rb", 1}, {"kway", 2}};
inline constexpr SchemeName kCoarseningNames[] = {
    {"fc1", 1}, {"gfc1", 2}, {"fc2", 3},    {"gfc2", 4},   {"h1", 5},     {"h2", 6},
    {"h12", 7}, {"edge1", 8}, {"gedge1", 9}, {"edge2", 10}, {"gedge2", 11}};
inline constexpr SchemeName kRefinementNames[] = {
    {"fast", 1},   {"moderate", 2},   {"slow", 3},  {"krandom", 4},
    {"kpfast", 5}, {"kpmoderate", 6}, {"kpslow", 7}};
inline constexpr SchemeName kObjectiveNames[] = {{"cut", 1}, {"soed", 2}, {"km1", 3}};
inline constexpr SchemeName kPresetNames[] = {{"default", 0}, {"fast", 1}, {"quality", 2}};

// The code of name in table, -1 when it has none (names compare without
// regard to case).
int SchemeCode(std::span<const SchemeName> table, const char* name);
// The name of code in table, "?" when it has none.
const char* SchemeNameOf(std::span<const SchemeName> table, int code);

struct CoarseningConfig {
  Coarsening scheme = Coarsening::GFC1;  // never Default here
  // Matching flags (bits of CFLAG_*) and group size of the scheme; the runs
  // of a hybrid scheme alternate the flags (SchemeForRun).
  idx_t cflags = 0;
  idx_t maxgroupsize = 5;
  idx_t maxnet = 50;  // nets above this size do not steer the matching
  // The largest clique graph (bytes, bounded from the net sizes) that the
  // finest level of a bisection keeps for all its runs; larger ones every
  // run builds and frees by itself. Either way the same matchings.
  double keptclique = 64.0 * (1 << 20);
};

struct RefinementConfig {
  Refinement scheme = Refinement::Fast;  // never Default here
  idx_t maxnet = 50;  // nets above this size wait for the last refinement
  // What the k-way refinements minimise; recursive bisection refines the
  // cut of each bisection.
  Objective objective = Objective::Cut;
};

struct BalanceConfig {
  // Recursive bisection: the unbalance of each bisection as a fraction;
  // k-way: the bound factor of every part over the average part weight.
  real_t ubfactor = 0.05f;
  // Under -epsilon: the bound factor of every part (the largest over the
  // weights), 0 without it.
  double epsfactor = 0.0;
  idx_t ncon = 1;
  // Per weight: the -epsilon factor, and the unbalance the refinements
  // start from.
  ConArray nepsfactor = {};
  ConArray nubfactor = {};
  // Target weights of the parts, each a share of the total of a weight
  // (nparts * ncon entries, weight j of part p at p * ncon + j), or empty:
  // an even split.
  std::vector<double> tpwgts;
  // With targets: the bound of each part as a share of the total of each
  // weight (laid out as tpwgts), for the k-way refinements and balancing
  // and, under -epsilon, the final parts of the recursive bisection.
  std::vector<double> maxshare;
};

// The largest time budget any interface takes, in seconds (about 31 years).
inline constexpr double kMaxTime = 1e9;

struct PartitionConfig {
  Scheme scheme = Scheme::RecursiveBisection;
  idx_t nparts = 2;
  idx_t nruns = 10;
  idx_t nvcycles = 1;
  // Above 0: the wall-clock seconds the runs may take (nruns is then
  // decided by the first bisection or k-way partitioning, see RunBudget).
  double time = 0.0;
  // What the partitioning minimises and its runs are compared by.
  Objective objective = Objective::Cut;
  bool reconstruct = false;  // recursive bisection: cut nets kept as partial nets
  bool kwayrefine = false;   // recursive bisection: a final k-way refinement
  bool fixed = false;        // some cells are pre-assigned
  idx_t seed = 0;            // never negative here
  idx_t dbglvl = 0;
  idx_t nthreads = 1;
  // Coarsening stops at this many cells (derived from the hypergraph).
  idx_t coarsento = 1;
  // Random starts of each initial bisection, the best one kept.
  idx_t ntrials = 20;
  CoarseningConfig coarsening;
  RefinementConfig refinement;
  BalanceConfig balance;
};

}  // namespace veldan
