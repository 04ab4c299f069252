// The run header and the quality summary of the final partition.
#include <cstdio>

#include "programs/cli.h"
#include "support/memory.h"

namespace veldan {

const char* const kPTypeNames[3] = {"", "rb", "kway"};
const char* const kCTypeNames[12] = {"",   "FC1", "GFC1",  "FC2",    "GFC2",  "H1",
                                     "H2", "H12", "EDGE1", "GEDGE1", "EDGE2", "GEDGE2"};
const char* const kRTypeNames[8] = {"",        "FAST",   "MODERATE",   "SLOW",
                                    "KRANDOM", "KPFAST", "KPMODERATE", "KPSLOW"};
const char* const kOTypeNames[3] = {"", "cut", "soed"};

void ComputePartCuts(idx_t nvtxs, idx_t nnets, idx_t ncon, idx_t nparts,
                     const idx_t* netptr, const idx_t* netind,
                     const real_t* netwgt, const real_t* cellwgt,
                     const idx_t* part) {
  if (ncon < 1) errexit("ComputePartCuts: ncon=%ld, at least 1 expected.\n", ncon);
  // Every count below indexes by part: a part number outside the range is
  // an internal fault of whatever produced the vector.
  for (idx_t i = 0; i < nvtxs; i++)
    if (part[i] < 0 || part[i] >= nparts)
      errexit("ComputePartCuts: cell %ld is in part %ld, outside 0 to %ld.\n", i + 1, part[i],
              nparts - 1);

  real_t* pwgts = ax_fsmalloc(nparts * ncon, 0.0f, "ComputePartCuts: pwgts");
  real_t* pcuts = ax_fsmalloc(nparts, 0.0f, "ComputePartCuts: pcuts");
  idx_t* pdegrees = ax_ismalloc(nparts, 0, "ComputePartCuts: pdegrees");

  for (idx_t i = 0; i < nvtxs; i++) {
    real_t* pw = pwgts + part[i] * ncon;
    for (idx_t j = 0; j < ncon; j++) pw[j] += cellwgt ? cellwgt[i * ncon + j] : 1.0f;
  }

  real_t cut = 0.0f, absorption = 0.0f, soed = 0.0f, scost = 0.0f;
  for (idx_t e = 0; e < nnets; e++) {
    const idx_t start = netptr[e], end = netptr[e + 1];
    const idx_t npins = end - start;
    const real_t w = netwgt ? netwgt[e] : 1.0f;
    if (npins == 0) {  // holds no pins, so spans no two parts
      absorption += 1.0f;
      continue;
    }
    for (idx_t p = start; p < end; p++) pdegrees[part[netind[p]]]++;

    const idx_t first = part[netind[start]];
    if (pdegrees[first] == npins) {
      // Uncut: the net is absorbed whole by one part, whatever its weight.
      absorption += 1.0f;
      pdegrees[first] = 0;
      continue;
    }
    // Cut: the weight counts once in the cut and once per part touched;
    // each part is credited with the share of the net's other pins it holds.
    cut += w;
    for (idx_t k = 0; k < nparts; k++) {
      const idx_t c = pdegrees[k];
      if (c > 0) {
        pcuts[k] += w;
        absorption += 1.0 * (c - 1) / (npins - 1);
        pdegrees[k] = 0;
      }
    }
  }

  for (idx_t k = 0; k < nparts; k++) {
    soed += pcuts[k];
    real_t wsum = 0.0f;
    for (idx_t j = 0; j < ncon; j++) wsum += pwgts[k * ncon + j];
    // A part without weight (an empty part, or zero weights in the file)
    // would divide by zero; it has nothing to scale and is left out.
    if (wsum != 0.0f) scost += 1.0 * pcuts[k] / wsum;
  }
  const real_t scaled =
      (nvtxs > 0 && nparts > 1) ? static_cast<real_t>(scost / (1.0 * nvtxs * (nparts - 1))) : 0.0f;

  std::printf("\n --------------------------------------------------------------------------");
  std::printf("\n  Summary for the %ld-way partition:", nparts);
  std::printf("\n                Hyperedge Cut:%14.2f\t\t(minimize)", static_cast<double>(cut));
  std::printf("\n      Sum of External Degrees:%14.2f\t\t(minimize)", static_cast<double>(soed));
  std::printf("\n                  Scaled Cost:%14.2e\t\t(minimize)", static_cast<double>(scaled));
  std::printf("\n                   Absorption:%14.2f\t\t(maximize)",
              static_cast<double>(absorption));
  std::printf("\n\n      Partition Sizes & External Degrees:\n\t");
  for (idx_t k = 0; k < nparts; k++) {
    std::printf("(");
    const real_t* pw = pwgts + k * ncon;
    for (idx_t j = 0; j < ncon - 1; j++) std::printf("%10.3f ", static_cast<double>(pw[j]));
    std::printf("%10.3f)[%8.3f] ", static_cast<double>(pw[ncon - 1]),
                static_cast<double>(pcuts[k]));
    if ((k + 1) % 3 == 0) std::printf("\n\t");
  }

  ax_free(&pwgts, &pcuts, &pdegrees);
}

void PrintRunHeader(const RunParams* params, const HGraph* graph) {
  std::printf("*******************************************************************************\n");
  std::printf(" VELDAN %s  %s\n\n", "2.0pre1", "Copyright 2026, The veldan developers");
  std::printf("HyperGraph Information -----------------------------------------------------\n");
  std::printf(" Name: %s, #Vtxs: %5ld, #Hedges: %5ld, #Cons: %ld\n", params->filename,
              graph->nvtxs, graph->nnets, graph->ncon);
  std::printf("\n");
  std::printf("Options --------------------------------------------------------------------\n");
  std::printf(" ptype=%s, ctype=%s, rtype=%s, otype=%s, dbglvl=%ld\n",
              SchemeName(kPTypeNames, params->ptype), SchemeName(kCTypeNames, params->ctype),
              SchemeName(kRTypeNames, params->rtype), SchemeName(kOTypeNames, params->otype),
              params->dbglvl);
  std::printf(" kwayrefine: %s, reconstruct: %s, fixed: %s\n", params->kwayrefine ? "Yes" : "No",
              params->reconstruct ? "Yes" : "No", params->fixedfile ? "Yes" : "No");
  std::printf(" Nruns: %ld, NV-cycles: %ld, CMaxNet: %ld, RMaxNet: %ld, Seed: %ld\n",
              params->nruns, params->nvcycles, params->cmaxnet, params->rmaxnet, params->seed);
  std::printf(" #Parts: %ld, UBfactor: %6.2f\n", params->nparts,
              static_cast<double>(params->ubfactor));
  std::printf("\n");
  std::printf("Partitioning... ------------------------------------------------------------\n");
}

}  // namespace veldan
