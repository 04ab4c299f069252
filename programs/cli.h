// The command-line program: options, hypergraph reader, fixed-cell and
// partition files, quality report and the run header.
#pragma once

#include <cstddef>

#include "hgraph/hgraph.h"
#include "support/types.h"

namespace veldan {

struct RunParams {
  idx_t ptype = 1;
  idx_t ctype = 0;
  idx_t rtype = -1;
  idx_t otype = 1;
  real_t ubfactor = 5.0f;
  idx_t nruns = 10;
  idx_t nvcycles = 1;
  idx_t reconstruct = 0;
  idx_t cmaxnet = 50;
  idx_t rmaxnet = 50;
  idx_t kwayrefine = 0;
  idx_t seed = -1;
  idx_t dbglvl = 8;
  idx_t nthreads = 0;  // 0: the cores the process may run on
  idx_t nparts = 1;
  char* fixedfile = nullptr;
  char* filename = nullptr;
};

// Printed names of the scheme codes, indexed by code (entry 0 unused).
extern const char* const kPTypeNames[3];
extern const char* const kCTypeNames[12];
extern const char* const kRTypeNames[8];
extern const char* const kOTypeNames[3];

// The name of a code in one of the tables above, "?" outside its range.
template <std::size_t N>
inline const char* SchemeName(const char* const (&names)[N], idx_t code) {
  return (code >= 1 && code < static_cast<idx_t>(N)) ? names[code] : "?";
}

// cmdline.cc
void ParseCommandLine(RunParams* params, int argc, char** argv);
// The numeric conversions of the options: decimal text to int, saturating
// at the ends of the int range, and decimal text to float; text without a
// number gives 0.
int ParseInt(const char* text);
real_t ParseFloat(const char* text);

// reader.cc
idx_t GetNetListSize(const char* filename);
HGraph* ReadHGraph(const char* filename);

// partfile.cc
void ReadPartition(idx_t nvtxs, idx_t* part, const char* filename);
void WriteHGraphPart(idx_t nvtxs, const idx_t* part, const char* filename);

// report.cc
void ComputePartCuts(idx_t nvtxs, idx_t nnets, idx_t ncon, idx_t nparts,
                     const idx_t* netptr, const idx_t* netind,
                     const real_t* netwgt, const real_t* cellwgt,
                     const idx_t* part);
void PrintRunHeader(const RunParams* params, const HGraph* graph);

}  // namespace veldan
