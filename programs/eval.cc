// veldan-eval: measures a partition file (from veldan or any other tool)
// on a hypergraph: cut, km1, sum of external degrees, imbalance of every
// weight, part weights, empty parts and, with -fixed, the fixed cells that
// are not where the fixed-cell file puts them.
#include <getopt.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hgraph/evaluate.h"
#include "programs/cli.h"
#include "support/io.h"
#include "support/memory.h"

using namespace veldan;

namespace {

const char kUsage[] =
    "Usage: veldan-eval [-format=text|json|csv] [-fixed=file] <hgr file> <partition file> [k]\n"
    "  Measures the partition: cut, km1, sum of external degrees, imbalance of every\n"
    "  weight, part weights, empty parts, and with -fixed the cells not in their\n"
    "  fixed part. k defaults to the largest part in the file plus one.\n";

[[noreturn]] void Usage(const char* message) {
  std::fprintf(stderr, "%s\n%s", message, kUsage);
  std::exit(kStatusUsage);
}

// Reads one part number per line (blank lines skipped) for each cell; a
// file of the wrong length, a line that is not one whole number or a part
// outside 0..limit-1 ends the run with the file and the line.
std::vector<idx_t> ReadParts(const char* filename, idx_t nvtxs, idx_t limit) {
  struct stat st;
  if (stat(filename, &st) == 0 && S_ISDIR(st.st_mode))
    errexit("Partition file %s is a folder, not a file.\n", filename);
  std::FILE* fp = ax_fopen(filename, "r", "veldan-eval: partition file");
  std::vector<idx_t> parts;
  parts.reserve(static_cast<std::size_t>(nvtxs));
  idx_t lineno = 0;
  ValueLines lines(fp);
  std::string token;
  while (lines.Next(&token, &lineno)) {
    const idx_t cell = static_cast<idx_t>(parts.size()) + 1;
    if (cell > nvtxs)
      errexit("Partition file %s, line %ld: more values than the %ld cells, one per cell.\n",
              filename, lineno, nvtxs);
    idx_t v = 0;
    switch (ParseWhole(token.c_str(), INT64_MIN, INT64_MAX, &v)) {
      case WholeNumber::kOk:
        break;
      case WholeNumber::kNotANumber:
      case WholeNumber::kOutOfRange:
        errexit("Partition file %s, line %ld: \"%s\" is not one part number.\n", filename,
                lineno, token.substr(0, 40).c_str());
    }
    if (v < 0 || v >= limit)
      errexit("Partition file %s, line %ld: cell %ld is in part %ld, outside 0 to %ld.\n",
              filename, lineno, cell, v, limit - 1);
    parts.push_back(v);
  }
  std::fclose(fp);
  if (static_cast<idx_t>(parts.size()) != nvtxs)
    errexit("Partition file %s holds %ld values for %ld cells.\n", filename,
            static_cast<idx_t>(parts.size()), nvtxs);
  return parts;
}

}  // namespace

static int RunEval(int argc, char** argv) {
  enum { OPT_FORMAT = 1, OPT_FIXED, OPT_HELP };
  const struct option options[] = {{"format", required_argument, nullptr, OPT_FORMAT},
                                   {"fixed", required_argument, nullptr, OPT_FIXED},
                                   {"help", no_argument, nullptr, OPT_HELP},
                                   {nullptr, 0, nullptr, 0}};
  std::string format = "text";
  const char* fixedfile = nullptr;
  int c;
  while ((c = getopt_long_only(argc, argv, "", options, nullptr)) != -1) {
    switch (c) {
      case OPT_FORMAT:
        format = optarg;
        if (format != "text" && format != "json" && format != "csv")
          Usage(("Invalid option -format=" + format).c_str());
        break;
      case OPT_FIXED:
        fixedfile = optarg;
        break;
      case OPT_HELP:
        std::fputs(kUsage, stdout);
        return 0;
      default:
        Usage("Illegal command-line option(s)");
    }
  }
  const int nargs = argc - optind;
  if (nargs < 2) Usage("Missing parameters.");
  if (nargs > 3) Usage("Too many parameters.");
  const char* hgrfile = argv[optind];
  const char* partfile = argv[optind + 1];
  idx_t k = 0;
  if (nargs == 3 && ParseWhole(argv[optind + 2], 1, INT64_MAX, &k) != WholeNumber::kOk)
    Usage("The number of parts must be a whole number above 0.");

  const HGraphPtr graphholder(ReadHGraph(hgrfile));
  const HGraph* graph = graphholder.get();
  const idx_t nvtxs = graph->nvtxs;
  // Time and memory follow the input: k is at most the number of cells.
  if (k > nvtxs) {
    std::fprintf(stderr, "The number of parts (%ld) is more than the %ld cells of %s.\n", k,
                 nvtxs, hgrfile);
    return kStatusUsage;
  }
  // Without k every part number is below the number of cells.
  std::vector<idx_t> parts = ReadParts(partfile, nvtxs, k > 0 ? k : nvtxs);
  if (k == 0) k = parts.empty() ? 1 : *std::max_element(parts.begin(), parts.end()) + 1;

  idx_t violations = -1;
  if (fixedfile != nullptr) {
    std::vector<idx_t> fixed(static_cast<std::size_t>(nvtxs), -1);
    ReadPartition(nvtxs, fixed.data(), fixedfile, k);
    violations = 0;
    for (idx_t i = 0; i < nvtxs; i++) violations += (fixed[i] >= 0 && fixed[i] != parts[i]);
  }

  PartitionMetrics m;
  std::string error;
  if (!EvaluatePartition(ViewOf(graph), k, parts.data(), &m, &error))
    errexit("veldan-eval: %s.\n", error.c_str());
  const idx_t ncon = m.ncon;
  const double imbalance = *std::max_element(m.imbalance.begin(), m.imbalance.end());

  if (format == "json") {
    std::printf("{\"cut\": %.10g, \"km1\": %.10g, \"soed\": %.10g, \"imbalance\": %.6f, ", m.cut,
                m.km1, m.soed, imbalance);
    std::printf("\"imbalance_per_weight\": [");
    for (idx_t j = 0; j < ncon; j++) std::printf("%s%.6f", j ? ", " : "", m.imbalance[j]);
    std::printf("], \"part_weights\": [");
    for (idx_t p = 0; p < k; p++) {
      std::printf("%s", p ? ", " : "");
      if (ncon > 1) std::printf("[");
      for (idx_t j = 0; j < ncon; j++)
        std::printf("%s%.10g", j ? ", " : "", static_cast<double>(m.pwgts[p * ncon + j]));
      if (ncon > 1) std::printf("]");
    }
    std::printf("], \"empty_parts\": %ld, \"parts\": %ld", m.emptyparts, k);
    if (violations >= 0) std::printf(", \"fixed_violations\": %ld", violations);
    std::printf("}\n");
  } else if (format == "csv") {
    std::printf("cut,km1,soed,imbalance,empty_parts,parts%s\n",
                violations >= 0 ? ",fixed_violations" : "");
    std::printf("%.10g,%.10g,%.10g,%.6f,%ld,%ld", m.cut, m.km1, m.soed, imbalance, m.emptyparts,
                k);
    if (violations >= 0) std::printf(",%ld", violations);
    std::printf("\n");
  } else {
    std::printf("Partition %s of %s into %ld parts\n", partfile, hgrfile, k);
    std::printf("  Hyperedge cut:            %.10g\n", m.cut);
    std::printf("  Connectivity - 1 (km1):   %.10g\n", m.km1);
    std::printf("  Sum of external degrees:  %.10g\n", m.soed);
    for (idx_t j = 0; j < ncon; j++) {
      if (ncon == 1)
        std::printf("  Imbalance:                %.6f\n", m.imbalance[j]);
      else
        std::printf("  Imbalance of weight %-2ld:   %.6f\n", j + 1, m.imbalance[j]);
    }
    std::printf("  Empty parts:              %ld\n", m.emptyparts);
    if (violations >= 0) std::printf("  Fixed cells elsewhere:    %ld\n", violations);
    std::printf("  Part weights:\n");
    for (idx_t p = 0; p < k; p++) {
      std::printf("    %6ld:", p);
      for (idx_t j = 0; j < ncon; j++)
        std::printf(" %.10g", static_cast<double>(m.pwgts[p * ncon + j]));
      std::printf("\n");
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  try {
    return RunEval(argc, argv);
  } catch (const veldan::InputError& e) {
    // An input that cannot be read: its message, and the status it asks for.
    std::fflush(stdout);
    std::fputs(e.what(), stderr);
    return e.status();
  }
}
