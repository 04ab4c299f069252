// veldan-eval: measures a partition file (from veldan or any other tool)
// on a hypergraph: cut, km1, sum of external degrees, imbalance of every
// weight, part weights, empty parts and, with -fixed, the fixed cells that
// are not where the fixed-cell file puts them.
#include <getopt.h>

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

// Reads one part number per cell (any white space between them); a file of
// the wrong length, a token that is not a whole number or a part outside
// 0..k-1 (k < 1: no upper limit) ends the run with the file and the line.
std::vector<idx_t> ReadParts(const char* filename, idx_t nvtxs, idx_t k) {
  std::FILE* fp = ax_fopen(filename, "r", "veldan-eval: partition file");
  std::vector<idx_t> parts;
  parts.reserve(static_cast<std::size_t>(nvtxs));
  idx_t lineno = 1;
  std::string token;
  int ch = std::getc(fp);
  for (;;) {
    while (ch != EOF && std::isspace(ch)) {
      if (ch == '\n') lineno++;
      ch = std::getc(fp);
    }
    if (ch == EOF) break;
    token.clear();
    while (ch != EOF && !std::isspace(ch)) {
      token += static_cast<char>(ch);
      ch = std::getc(fp);
    }
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(token.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE)
      errexit("Partition file %s, line %ld: \"%s\" is not a part number.\n", filename, lineno,
              token.c_str());
    const idx_t cell = static_cast<idx_t>(parts.size()) + 1;
    if (cell > nvtxs)
      errexit("Partition file %s holds more than %ld values, one per cell.\n", filename, nvtxs);
    if (v < 0 || (k > 0 && v >= k))
      errexit("Partition file %s, line %ld: cell %ld is in part %lld, outside 0 to %ld.\n",
              filename, lineno, cell, v, k > 0 ? k - 1 : INT64_MAX);
    parts.push_back(static_cast<idx_t>(v));
  }
  std::fclose(fp);
  if (static_cast<idx_t>(parts.size()) != nvtxs)
    errexit("Partition file %s holds %ld values for %ld cells.\n", filename,
            static_cast<idx_t>(parts.size()), nvtxs);
  return parts;
}

}  // namespace

int main(int argc, char** argv) {
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
  if (nargs != 2 && nargs != 3) Usage("Missing parameters.");
  const char* hgrfile = argv[optind];
  const char* partfile = argv[optind + 1];
  idx_t k = 0;
  if (nargs == 3) {
    char* end = nullptr;
    k = std::strtol(argv[optind + 2], &end, 10);
    if (*end != '\0' || k < 1) Usage("The number of parts must be a whole number above 0.");
  }

  HGraph* graph = ReadHGraph(hgrfile);
  const idx_t nvtxs = graph->nvtxs;
  std::vector<idx_t> parts = ReadParts(partfile, nvtxs, k);
  if (k == 0) k = parts.empty() ? 1 : *std::max_element(parts.begin(), parts.end()) + 1;

  idx_t violations = -1;
  if (fixedfile != nullptr) {
    std::vector<idx_t> fixed(static_cast<std::size_t>(nvtxs), -1);
    ReadPartition(nvtxs, fixed.data(), fixedfile);
    violations = 0;
    for (idx_t i = 0; i < nvtxs; i++) violations += (fixed[i] >= 0 && fixed[i] != parts[i]);
  }

  PartitionMetrics m;
  std::string error;
  if (!EvaluatePartition(nvtxs, graph->nnets, graph->ncon, k, graph->netptr, graph->netind,
                         graph->netwgt, graph->cellwgt, parts.data(), &m, &error))
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
  FreeHGraph(&graph, 1);
  return 0;
}
