// The run header and the quality summary of the final partition.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "programs/cli.h"
#include "support/memory.h"

namespace veldan {

std::string UpperName(std::span<const SchemeName> table, int code) {
  std::string name = SchemeNameOf(table, code);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

void PrintSummary(const PartitionMetrics& m) {
  const idx_t nparts = m.nparts, ncon = m.ncon;
  std::printf("\n --------------------------------------------------------------------------");
  std::printf("\n  Summary for the %ld-way partition:", nparts);
  std::printf("\n                Hyperedge Cut:%14.2f\t\t(minimize)", m.cut);
  std::printf("\n      Sum of External Degrees:%14.2f\t\t(minimize)", m.soed);
  std::printf("\n                  Scaled Cost:%14.2e\t\t(minimize)", m.scaledcost);
  std::printf("\n                   Absorption:%14.2f\t\t(maximize)", m.absorption);
  std::printf("\n\n      Partition Sizes & External Degrees:\n\t");
  for (idx_t k = 0; k < nparts; k++) {
    std::printf("(");
    const real_t* pw = m.pwgts.data() + k * ncon;
    for (idx_t j = 0; j < ncon - 1; j++) std::printf("%10.3f ", static_cast<double>(pw[j]));
    std::printf("%10.3f)[%8.3f] ", static_cast<double>(pw[ncon - 1]),
                static_cast<double>(m.pcuts[k]));
    if ((k + 1) % 3 == 0) std::printf("\n\t");
  }
}

void ComputePartCuts(const HGraphView& h, idx_t nparts, const idx_t* part) {
  if (h.ncon < 1) errexit("ComputePartCuts: ncon=%ld, at least 1 expected.\n", h.ncon);
  PartitionMetrics m;
  std::string error;
  // A part number outside the range is an internal fault of whatever
  // produced the vector.
  if (!EvaluatePartition(h, nparts, part, &m, &error))
    errexit("ComputePartCuts: %s.\n", error.c_str());
  PrintSummary(m);
}

bool PrintBalanceFigures(const PartitionMetrics& m, const std::vector<double>& maxpwgt,
                         double factor) {
  std::printf("\n");
  if (m.ncon == 1) {
    std::printf("\n                    Imbalance:%14.4f\t\t(heaviest part / average - 1)",
                m.imbalance[0]);
  } else {
    for (idx_t j = 0; j < m.ncon; j++)
      std::printf("\n%*s%ld:%14.4f\t\t(heaviest part / average - 1)", 28 - (j + 1 > 9 ? 1 : 0),
                  "Imbalance of weight ", j + 1, m.imbalance[j]);
  }
  std::printf("\n       Connectivity - 1 (km1):%14.2f\t\t(minimize)", m.km1);
  if (m.emptyparts > 0) std::printf("\n                  Empty parts:%14ld", m.emptyparts);
  if (maxpwgt.empty()) return true;

  bool held = true;
  for (idx_t j = 0; j < m.ncon; j++)
    for (idx_t k = 0; k < m.nparts; k++)
      held = held && static_cast<double>(m.pwgts[k * m.ncon + j]) <= maxpwgt[j];
  std::printf("\n                Balance bound:%14s\t\t(every part at most %.4f x average)",
              held ? "held" : "NOT held", factor);
  return held;
}

bool PrintBalanceFigures(const PartitionMetrics& m, const std::vector<double>& partbounds,
                         double factor, idx_t zerotargets) {
  PrintBalanceFigures(m, {}, 0.0);
  if (zerotargets > 0)
    std::printf("\n            Parts of target 0:%14ld\t\t(may stay empty)", zerotargets);
  if (partbounds.empty()) return true;
  bool held = true;
  for (std::size_t i = 0; i < partbounds.size() && i < m.pwgts.size(); i++)
    held = held && static_cast<double>(m.pwgts[i]) <= partbounds[i];
  std::printf("\n                Balance bound:%14s\t\t(every part at most %.4f x its target)",
              held ? "held" : "NOT held", factor);
  return held;
}

void PrintBudgetRuns(const RunParams& params, const RunCounts& counts) {
  const Options& o = params.options;
  const bool rb = o.scheme == Scheme::RecursiveBisection && params.initialfile.empty();
  std::printf("\n        Time Budget:\t\t %7.3lfsec, %ld run%s and %ld V-cycle%s per %s", o.time,
              counts.nruns, counts.nruns == 1 ? "" : "s", counts.nvcycles,
              counts.nvcycles == 1 ? "" : "s", rb ? "bisection" : "partitioning");
  if (counts.uneven) {
    std::printf("\n                    \t\t (not every bisection made as many)");
    return;
  }
  // The coarsening scheme follows nruns when not given: name the one used
  // when those runs alone would pick another.
  Options repeat = o;
  repeat.ctype = Coarsening::Default;
  repeat.nruns = counts.nruns;
  std::string ctype;
  if (ResolvedCoarsening(repeat) != o.ctype)
    ctype = std::string(" -ctype=") + SchemeNameOf(kCoarseningNames, static_cast<int>(o.ctype));
  std::printf("\n                    \t\t -nruns=%ld -nvcycles=%ld%s -seed=%ld repeat it",
              counts.nruns, counts.nvcycles, ctype.c_str(), o.seed);
}

void PrintRunHeader(const RunParams* params, const HGraph* graph) {
  const Options& o = params->options;
  std::printf("*******************************************************************************\n");
  std::printf(" VELDAN %s  %s\n\n", "2.0pre1", "Copyright 2026, The veldan developers");
  std::printf("HyperGraph Information -----------------------------------------------------\n");
  std::printf(" Name: %s, #Vtxs: %5ld, #Hedges: %5ld, #Cons: %ld\n", params->filename.c_str(),
              graph->nvtxs, graph->nnets, graph->ncon);
  std::printf("\n");
  std::printf("Options --------------------------------------------------------------------\n");
  std::printf(" ptype=%s, ctype=%s, rtype=%s, otype=%s, dbglvl=%ld\n",
              SchemeNameOf(kSchemeNames, static_cast<int>(o.scheme)),
              UpperName(kCoarseningNames, static_cast<int>(o.ctype)).c_str(),
              UpperName(kRefinementNames, static_cast<int>(o.rtype)).c_str(),
              SchemeNameOf(kObjectiveNames, static_cast<int>(o.objective)), o.dbglvl);
  std::printf(" kwayrefine: %s, reconstruct: %s, fixed: %s\n", o.kwayrefine ? "Yes" : "No",
              o.reconstruct ? "Yes" : "No", params->fixedfile.empty() ? "No" : "Yes");
  std::printf(" Nruns: %ld, NV-cycles: %ld, CMaxNet: %ld, RMaxNet: %ld, Seed: %ld\n", o.nruns,
              o.nvcycles, o.cmaxnet, o.rmaxnet, o.seed);
  std::printf(" #Parts: %ld, UBfactor: %6.2f\n", o.k, o.ufactor);
  if (params->preset != Preset::Default)
    std::printf(" Preset: %s\n", SchemeNameOf(kPresetNames, static_cast<int>(params->preset)));
  if (o.time > 0.0)
    std::printf(" Time budget: %g sec (runs start while it lasts; Nruns not used)\n", o.time);
  if (o.epsilon > 0.0 && params->partweightsfile.empty())
    std::printf(" Epsilon: %g (every part at most 1+epsilon times the average)\n", o.epsilon);
  if (o.epsilon > 0.0 && !params->partweightsfile.empty())
    std::printf(" Epsilon: %g (every part at most 1+epsilon times its target)\n", o.epsilon);
  if (!params->partweightsfile.empty())
    std::printf(" Part weights: %s\n", params->partweightsfile.c_str());
  if (!params->initialfile.empty())
    std::printf(" Initial partition: %s\n", params->initialfile.c_str());
  std::printf("\n");
  std::printf("Partitioning... ------------------------------------------------------------\n");
}

}  // namespace veldan
