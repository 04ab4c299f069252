// Partitioning through Zoltan's parallel hypergraph partitioner (PHG), and
// the measures of a partition computed across the ranks.
#pragma once

#include <string>
#include <vector>

#include "programs/mpi/common.h"
#include "programs/mpi/hgraph_reader.h"
#include "programs/mpi/options.h"

namespace veldan::mpi {

// The weight Zoltan balances, one per cell of the local block: the file's
// weight (1 without weights), several weights combined into one as veldan
// combines them (each normalised to average 1, then summed), and weights
// below the single-precision epsilon raised to it. Collective.
std::vector<float> BalancedWeights(const Comm& comm, const LocalHGraph& graph);

// One run of Zoltan PHG. Returns the part of every cell of the local block,
// or ends every rank when Zoltan fails. Collective.
std::vector<int> RunZoltan(const Comm& comm, const LocalHGraph& graph,
                           const std::vector<float>& weights, const std::vector<int>& fixed,
                           const Options& options, double tolerance, unsigned seed);

struct Metrics {
  i64 nparts = 0;
  i64 ncon = 1;
  double cut = 0.0, soed = 0.0, km1 = 0.0, absorption = 0.0, scaledcost = 0.0;
  std::vector<double> pwgts;  // weight j of part k at k * ncon + j (the file's weights)
  std::vector<double> pcuts;  // external degree of each part
  std::vector<double> imbalance;  // per weight: heaviest part / average - 1
  std::vector<double> maxpwgt;    // per weight: the bound on every part
  i64 emptyparts = 0;
  bool held = true;  // every part within its bound
};

// Measures the partition (part of every cell of the local block) with every
// net, as read. factor: the tolerance, raised as veldan raises 1 + epsilon
// for integer weights. Collective; every rank gets the result.
Metrics Evaluate(const Comm& comm, const LocalHGraph& graph, i64 nparts,
                 const std::vector<int>& blockpart, double factor);

// The objective the options select (cut or sum of external degrees).
double Objective(const Metrics& m, const Options& options);

}  // namespace veldan::mpi
