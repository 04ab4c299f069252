// The command-line program: options, hypergraph reader, fixed-cell and
// partition files, quality report and the run header.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include <vector>

#include "hgraph/evaluate.h"
#include "hgraph/config.h"
#include "hgraph/hgraph.h"
#include "io/io.h"
#include "kway/entry.h"
#include "support/memory.h"
#include "support/types.h"
#include "veldan/veldan.h"

namespace veldan {

// The command line: the library's options with the program's defaults
// (CommandLineOptions) and, once parsed, the schemes that follow other
// options resolved; and the program's own files.
Options CommandLineOptions();
struct RunParams {
  Options options = CommandLineOptions();  // options.k: <nparts>
  std::string fixedfile;   // -fixed; empty: none
  std::string partweightsfile;  // -partweights; empty: an even split
  std::string initialfile;  // -initial; empty: none
  std::string filename;
  std::string outputfile;  // -output; empty: beside the input
  Preset preset = Preset::Default;  // -preset, applied under the options given
};

// Exit statuses of the program.
enum : int {
  kStatusOk = 0,          // a partition written, or -help / -version
  kStatusUsage = 2,       // a mistake on the command line
  kStatusMemory = kExitOutOfMemory,  // memory ran out
  // Under -epsilon the partition is written, but a part is above the bound:
  kStatusBoundImpossible = 4,  // no partition can meet it (said why)
  kStatusBoundMissed = 5,      // this run did not meet it
  kStatusInput = 254,     // unreadable or malformed input, or a file not written
};

// The name of a scheme code in capitals, as the header prints the
// coarsening and refinement schemes.
std::string UpperName(std::span<const SchemeName> table, int code);

// cmdline.cc
void ParseCommandLine(RunParams* params, int argc, char** argv);
// Ends the run with the status of command-line errors when the parameters
// ask for too few parts or an unbalance factor the scheme refuses.
void CheckRunParams(const RunParams* params);
// How a whole-number text reads.
enum class WholeNumber { kOk, kNotANumber, kOutOfRange };
// Reads text whole as a decimal integer (blanks around it allowed, nothing
// else) into *value when it lies from lo to hi.
WholeNumber ParseWhole(const char* text, idx_t lo, idx_t hi, idx_t* value);
// Decimal text to double, then to float; text without a number gives 0.
real_t ParseFloat(const char* text);
// Ends the run with the status of command-line errors when k is more than
// the cells of the hypergraph read from filename: each part is to hold a
// cell, and time and memory are to follow the input, not k.
void CheckPartsAgainstCells(idx_t nparts, idx_t nvtxs, const char* filename);

// partfile.cc
// Writes the partition to PartitionFileName(filename, nparts).
void WriteHGraphPart(idx_t nvtxs, const idx_t* part, const char* filename, idx_t nparts);
// The partition file beside the input: filename.part.<nparts>.
std::string PartitionFileName(const char* filename, idx_t nparts);
// Writes the partition to name: "-" is standard output; a character
// device, a pipe or the file standard output already goes to is written
// through; otherwise (a symbolic link followed to its target) a temporary
// file beside the file is renamed onto it once complete.
void WritePartitionFile(idx_t nvtxs, const idx_t* part, const std::string& name);
// Ends the run with the failure of opening name for writing unless it can
// be written as WritePartitionFile writes it; called before partitioning,
// so that a run is not lost at its end.
void CheckPartitionFileWritable(const std::string& name);
// Whether the two paths name one existing file (symbolic links followed).
bool SameFile(const char* a, const char* b);

// report.cc
// Prints the quality summary of part (the measures of EvaluatePartition).
void ComputePartCuts(const HGraphView& h, idx_t nparts, const idx_t* part);
void PrintRunHeader(const RunParams* params, const HGraph* graph);
// Under -time: the runs and V-cycles the budget allowed, and the options
// that repeat the partition without it.
void PrintBudgetRuns(const RunParams& params, const RunCounts& counts);
// The summary of ComputePartCuts from measures already taken.
void PrintSummary(const PartitionMetrics& metrics);
// After the summary: the imbalance of each weight, km1, the empty parts and,
// when maxpwgt gives a bound per weight (factor times the average part
// weight), whether every part kept it. Returns false when one did not.
bool PrintBalanceFigures(const PartitionMetrics& metrics, const std::vector<double>& maxpwgt,
                         double factor);
// The same under target weights (-partweights): partbounds holds the bound
// of every part (weight j of part p at p * ncon + j; empty without
// -epsilon), factor times its target; zerotargets counts the parts of
// target 0, which may stay empty.
bool PrintBalanceFigures(const PartitionMetrics& metrics, const std::vector<double>& partbounds,
                         double factor, idx_t zerotargets);

}  // namespace veldan
