// Command-line options: the option table, the keyword tables of the scheme
// options, the help and usage texts, and the defaults that depend on other
// options.
#include <getopt.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cfloat>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "programs/cli.h"
#include "support/io.h"
#include "bisect/bisect.h"
#include "support/memory.h"
#include "veldan/veldan.h"

namespace veldan {
namespace {

// A mistake on the command line: the message on standard error and the
// status of command-line errors.
[[noreturn]] __attribute__((format(printf, 1, 2))) void UsageError(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vfprintf(stderr, fmt, args);
  va_end(args);
  std::exit(kStatusUsage);
}

enum OptionCode {
  CMD_PTYPE = 1,
  CMD_CTYPE,
  CMD_RTYPE,
  CMD_OTYPE,
  CMD_UFACTOR,
  CMD_NRUNS,
  CMD_NVCYCLES,
  CMD_CMAXNET,
  CMD_RMAXNET,
  CMD_FIXED,
  CMD_RECONST,
  CMD_KWAYREFINE,
  CMD_SEED,
  CMD_DBGLVL,
  CMD_NTHREADS,
  CMD_EPSILON,
  CMD_OUTPUT,
  CMD_VERSION,
  CMD_HELP
};

const struct option kLongOptions[] = {
    {"ptype", required_argument, nullptr, CMD_PTYPE},
    {"ctype", required_argument, nullptr, CMD_CTYPE},
    {"rtype", required_argument, nullptr, CMD_RTYPE},
    {"otype", required_argument, nullptr, CMD_OTYPE},
    {"ufactor", required_argument, nullptr, CMD_UFACTOR},
    {"nruns", required_argument, nullptr, CMD_NRUNS},
    {"nvcycles", required_argument, nullptr, CMD_NVCYCLES},
    {"cmaxnet", required_argument, nullptr, CMD_CMAXNET},
    {"rmaxnet", required_argument, nullptr, CMD_RMAXNET},
    {"fixed", required_argument, nullptr, CMD_FIXED},
    {"reconst", no_argument, nullptr, CMD_RECONST},
    {"kwayrefine", no_argument, nullptr, CMD_KWAYREFINE},
    {"seed", required_argument, nullptr, CMD_SEED},
    {"dbglvl", required_argument, nullptr, CMD_DBGLVL},
    {"nthreads", required_argument, nullptr, CMD_NTHREADS},
    {"epsilon", required_argument, nullptr, CMD_EPSILON},
    {"output", required_argument, nullptr, CMD_OUTPUT},
    {"version", no_argument, nullptr, CMD_VERSION},
    {"help", no_argument, nullptr, CMD_HELP},
    {nullptr, 0, nullptr, 0}};

const StringMap kPTypeTable[] = {{"rb", PTYPE_RB}, {"kway", PTYPE_KWAY}, {nullptr, 0}};

const StringMap kCTypeTable[] = {
    {"fc1", CTYPE_FC1},       {"gfc1", CTYPE_GFC1},     {"fc2", CTYPE_FC2},
    {"gfc2", CTYPE_GFC2},     {"h1", CTYPE_H1},         {"h2", CTYPE_H2},
    {"h12", CTYPE_H12},       {"edge1", CTYPE_EDGE1},   {"gedge1", CTYPE_GEDGE1},
    {"edge2", CTYPE_EDGE2},   {"gedge2", CTYPE_GEDGE2}, {nullptr, 0}};

const StringMap kRTypeTable[] = {
    {"fast", RTYPE_FAST},         {"moderate", RTYPE_MODERATE},
    {"slow", RTYPE_SLOW},         {"krandom", RTYPE_KRANDOM},
    {"kpfast", RTYPE_KPFAST},     {"kpmoderate", RTYPE_KPMODERATE},
    {"kpslow", RTYPE_KPSLOW},     {nullptr, 0}};

const StringMap kOTypeTable[] = {{"cut", OTYPE_CUT}, {"soed", OTYPE_SOED}, {nullptr, 0}};

const char* const kHelpText[] = {
    " ",
    "Usage: veldan [options] <filename> <nparts>",
    " ",
    " Required parameters",
    "    filename    Stores the hypergraph to be partitioned.",
    "    nparts      The number of partitions to split the hypergraph.",
    " ",
    " Optional parameters",
    "  -ptype=string",
    "     Specifies the scheme to be used for computing the k-way partitioning.",
    "     The possible values are:",
    "        rb       - Recursive bisection [default]",
    "        kway     - Direct k-way partitioning.",
    " ",
    "  -ctype=string                 (rb, kway)",
    "     Specifies the scheme to be used for coarsening.",
    "     The possible values are:",
    "        fc1        - First-choice scheme",
    "        gfc1       - Greedy first-choice scheme [default]",
    "        fc2        - Alternate implementation of the fc scheme",
    "        gfc2       - Alternate implementation of the gfc scheme",
    "        h1         - Alternates between fc1 and gfc1 [default if nruns<20]",
    "        h2         - Alternates between fc2 and gfc2",
    "        h12        - Alternates between fc1, gfc1, fc2, gfc2 [default otherwise]",
    "        edge1      - Edge-based coarsening",
    "        gedge1     - Greedy edge-based coarsening",
    "        edge2      - Alternate implementation of the edge scheme",
    "        gedge2     - Alternate implementation of the gedge scheme",
    " ",
    "  -rtype=string                 (rb, kway)",
    "     Specifies the scheme to be used for refinement.",
    "     The possible values and the partitioning types where they apply are:",
    "        fast        - Fast FM-based refinement (rb) [default]",
    "        moderate    - Moderate FM-based refinement (rb)",
    "        slow        - Slow FM-based refinement (rb)",
    "        krandom     - Random k-way refinement (kway) [default for ptype=kway]",
    "        kpfast      - Pairwise k-way FAST refinement (kway)",
    "        kpmoderate  - Pairwise k-way MODERATE refinement (kway)",
    "        kpslow      - Pairwise k-way SLOW refinement (kway)",
    " ",
    "  -otype=string                 (kway)",
    "     Specifies the objective function to use for k-way partitioning.",
    "     The possible values are:",
    "        cut      - Minimize the cut [default]",
    "        soed     - Minimize the sum-of-external-degrees",
    " ",
    "  -ufactor=float                (rb, kway)",
    "     Specifies the unbalance factor. The meaning of this parameters depends",
    "     on the partitioning scheme (ptype):",
    "       For ptype=rb",
    "         Specifies the maximum difference between each successive bisection.",
    "         For instance, a value of 5 leads to a 45-55 split at each bisection.",
    "       For ptype=kway",
    "         Specifies the maximum load imbalance among all the partitions. For",
    "         instance, a value of 5 produces partitions in which the weight of",
    "         the largest partition over the average weight is bounded by 5%.",
    " ",
    "  -nruns=int                    (rb, kway)",
    "     Specifies the number of different bisections to be computed",
    "     at each level. The final bisection corresponds to the one that",
    "     has the smallest cut",
    " ",
    "  -nvcycles=int                 (rb, kway)",
    "     Specifies the number of solutions to be further refined using",
    "     V-cycle refinement. If the supplied number is k, then the best",
    "     k bisections are further refined using V-cycling. This number",
    "     should be less or equal to that specified for -nruns. The default",
    "     value is one.",
    " ",
    "  -cmaxnet=int                  (rb, kway)",
    "     Specifies the size of the largest net to be considered during",
    "     coarsening. Any nets larger than that are ignored when determing",
    "     which cells to merge together. Default value for that is 50.",
    " ",
    "  -rmaxnet=int                  (rb, kway)",
    "     Specifies the size of the largest net to be considered during",
    "     refinement. Any nets larger than that are ignored during the",
    "     multilevel partitioning phase, and are dealt once the partitioning",
    "     has been computed. Default value for that is 50.",
    " ",
    "  -reconst                      (rb)",
    "     Instructs veldan to create partial nets within each partition ",
    "     representing the nets that were cut during the bisection.",
    " ",
    "  -kwayrefine                   (rb)",
    "     Instructs veldan to perform a final k-way refinement once the",
    "     partitioning has been computed using recursive bisection",
    " ",
    "  -fixed=string                 (rb, kway)",
    "     Instructs veldan to read the file specified as the argument",
    "     of this parameter for specifying the groups of cells to be",
    "     placed in the same partition",
    " ",
    "  -seed=int                     (rb, kway)",
    "     Selects the seed of the random number generator.  ",
    " ",
    "  -dbglvl=int                   (rb, kway)",
    "     Selects the dbglvl. The value is obtained by adding the following ",
    "     codes:",
    "        1       - Show coarsening progress",
    "        2       - Show the initial cuts",
    "        4       - Show the refinement progress",
    "        8       - Show bisection statistics",
    "       16       - Show bisection statistics",
    "       32       - Print timing statistics",
    "      128       - Show detailed bisection statistics",
    "      256       - Show detailed info about cell moves",
    " ",
    "  -nthreads=int                 (rb, kway)",
    "     Specifies the number of threads used to compute the partitioning.",
    "     For a given seed the partitioning does not depend on it. The",
    "     default value is the number of cores the process may run on.",
    " ",
    "  -epsilon=float                (rb, kway)",
    "     Bounds the weight of every part by (1+epsilon) times the average",
    "     part weight (with integer weights, by at least the average rounded",
    "     up), for any number of parts. It overrides -ufactor; for",
    "     ptype=kway it is the same as -ufactor=100*epsilon.",
    " ",
    "  -output=string                (rb, kway)",
    "     Writes the partition to the named file instead of",
    "     <filename>.part.<nparts>.",
    " ",
    "  -version",
    "     Prints the version and exits.",
    " ",
    "  -help",
    "     Prints this message.",
    nullptr};

const char* const kUsageText[] = {
    " ",
    "   Usage: veldan [options] <filename> <nparts>",
    "          use 'veldan -help' for a summary of the options.",
    nullptr};

void PrintLines(std::FILE* to, const char* const* lines) {
  for (; *lines != nullptr; lines++) std::fprintf(to, "%s\n", *lines);
}

// Looks a keyword option's argument up in its table; an unknown keyword ends
// the run naming the option and the text as typed.
idx_t KeywordCode(const StringMap* table, const char* optname, const char* arg) {
  const idx_t code = ax_GetStringID(table, arg);
  if (code == -1) UsageError("Invalid option -%s=%s\n\n", optname, arg);
  return code;
}

// -epsilon takes a plain decimal number above 0: text around the number
// or a value out of range is refused.
double ParseEpsilon(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  while (end != text && (*end == ' ' || *end == '\t')) end++;
  if (end == text || *end != '\0' || !(value > 0.0 && value <= kMaxEpsilon))
    UsageError("Invalid option -epsilon=%s\nThe bound must be a number above 0 and at most "
               "%g.\n\n",
               text, kMaxEpsilon);
  return value;
}

// An integer option, read whole and within lo to hi; anything else ends
// the run naming the option and its range.
idx_t IntOption(const char* optname, const char* arg, idx_t lo, idx_t hi) {
  idx_t value = 0;
  if (ParseWhole(arg, lo, hi, &value) != WholeNumber::kOk)
    UsageError("Invalid option -%s=%s\nThe value must be a whole number from %ld to %ld.\n\n",
               optname, arg, lo, hi);
  return value;
}

}  // namespace

WholeNumber ParseWhole(const char* text, idx_t lo, idx_t hi, idx_t* value) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') p++;
  const char* digits = (*p == '-' || *p == '+') ? p + 1 : p;
  if (*digits < '0' || *digits > '9') return WholeNumber::kNotANumber;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(p, &end, 10);
  while (*end == ' ' || *end == '\t') end++;
  if (*end != '\0') return WholeNumber::kNotANumber;
  if (errno == ERANGE || v < lo || v > hi) return WholeNumber::kOutOfRange;
  *value = static_cast<idx_t>(v);
  return WholeNumber::kOk;
}

real_t ParseFloat(const char* text) {
  // Decimal text to double, then to float; a finite double beyond the float
  // range becomes the infinity of its sign (what the hardware conversion
  // gives, made explicit because the language leaves it undefined).
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text) return 0.0f;
  if (value > static_cast<double>(FLT_MAX)) return HUGE_VALF;
  if (value < -static_cast<double>(FLT_MAX)) return -HUGE_VALF;
  return static_cast<real_t>(value);
}

void ParseCommandLine(RunParams* params, int argc, char** argv) {
  *params = RunParams();
  params->ptype = PTYPE_RB;
  params->rtype = -1;
  params->nparts = 1;

  // optind 0 makes the parser start afresh (and read POSIXLY_CORRECT again),
  // so the routine can be called more than once in one process.
  optind = 0;
  opterr = 1;

  bool ctypegiven = false;
  int c;
  while ((c = getopt_long_only(argc, argv, "", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case CMD_PTYPE:
        params->ptype = KeywordCode(kPTypeTable, "ptype", optarg);
        break;
      case CMD_CTYPE:
        params->ctype = KeywordCode(kCTypeTable, "ctype", optarg);
        ctypegiven = true;
        break;
      case CMD_RTYPE:
        params->rtype = KeywordCode(kRTypeTable, "rtype", optarg);
        break;
      case CMD_OTYPE:
        params->otype = KeywordCode(kOTypeTable, "otype", optarg);
        break;
      case CMD_UFACTOR:
        params->ubfactor = ParseFloat(optarg);
        break;
      case CMD_NRUNS:
        params->nruns = IntOption("nruns", optarg, 0, INT_MAX);
        break;
      case CMD_NVCYCLES:
        params->nvcycles = IntOption("nvcycles", optarg, 0, INT_MAX);
        break;
      case CMD_CMAXNET:
        params->cmaxnet = IntOption("cmaxnet", optarg, 0, INT64_MAX);
        break;
      case CMD_RMAXNET:
        params->rmaxnet = IntOption("rmaxnet", optarg, 0, INT64_MAX);
        break;
      case CMD_FIXED:
        ax_free(&params->fixedfile);
        params->fixedfile = ax_strdup(optarg);
        break;
      case CMD_RECONST:
        params->reconstruct = 1;
        break;
      case CMD_KWAYREFINE:
        params->kwayrefine = 1;
        break;
      case CMD_SEED:
        // Below 0 a seed is drawn; every interface takes the same range.
        params->seed = IntOption("seed", optarg, INT64_MIN, kMaxSeed);
        break;
      case CMD_DBGLVL:
        params->dbglvl = IntOption("dbglvl", optarg, 0, INT_MAX);
        break;
      case CMD_NTHREADS:
        params->nthreads = IntOption("nthreads", optarg, 1, INT64_MAX);
        break;
      case CMD_EPSILON:
        params->epsilon = ParseEpsilon(optarg);
        break;
      case CMD_OUTPUT:
        ax_free(&params->outputfile);
        params->outputfile = ax_strdup(optarg);
        break;
      case CMD_VERSION:
        std::printf("veldan %s\n", kVersion);
        std::exit(0);
      case CMD_HELP:
        PrintLines(stdout, kHelpText);
        std::exit(0);
      default:
        // The parser has already printed its own diagnostic.
        UsageError("Illegal command-line option(s)\nUse %s -help for a summary of the options.\n",
                   argv[0]);
    }
  }

  if (argc - optind < 2) {
    std::fprintf(stderr, "Missing parameters.");
    PrintLines(stderr, kUsageText);
    std::exit(kStatusUsage);
  }
  if (argc - optind > 2) {
    std::fprintf(stderr, "Too many parameters: \"%s\" follows <filename> <nparts>.\n",
                 argv[optind + 2]);
    PrintLines(stderr, kUsageText);
    std::exit(kStatusUsage);
  }
  const char* nparts = argv[optind + 1];
  switch (ParseWhole(nparts, INT64_MIN, INT64_MAX, &params->nparts)) {
    case WholeNumber::kOk:
      break;
    case WholeNumber::kNotANumber:
      UsageError("The number of partitions must be a whole number, not \"%s\".\n", nparts);
    case WholeNumber::kOutOfRange:
      // A count beyond 64 bits is beyond the cells of any hypergraph.
      UsageError("The number of partitions %s is more than any hypergraph has cells.\n", nparts);
  }
  params->filename = ax_strdup(argv[optind]);

  // Unless one is named, the coarsening scheme follows the number of runs.
  if (!ctypegiven) params->ctype = (params->nruns > 19) ? CTYPE_H12 : CTYPE_H1;

  if (params->rtype == -1)
    params->rtype = (params->ptype == PTYPE_RB) ? RTYPE_FAST : RTYPE_KRANDOM;

  const bool rbpair = params->ptype == PTYPE_RB && params->rtype >= RTYPE_KRANDOM &&
                      params->rtype <= RTYPE_KPSLOW;
  const bool kwaypair = params->ptype == PTYPE_KWAY && params->rtype >= RTYPE_FAST &&
                        params->rtype <= RTYPE_SLOW;
  if (rbpair || kwaypair)
    UsageError("rtype=%s cannot be used with ptype=%s.\n\n", SchemeName(kRTypeNames, params->rtype),
               SchemeName(kPTypeNames, params->ptype));

  // -epsilon replaces -ufactor; for kway the two are the same bound.
  if (params->epsilon > 0.0) params->ubfactor = static_cast<real_t>(100.0 * params->epsilon);

}

void CheckPartsAgainstCells(idx_t nparts, idx_t nvtxs, const char* filename) {
  if (nparts > nvtxs)
    UsageError("The number of partitions (%ld) is more than the %ld cells of %s.\n", nparts,
               nvtxs, filename);
}

void CheckRunParams(const RunParams* params) {
  if (params->nparts < 2) UsageError("The number of partitions should be greater than 1!\n");
  // The unbalance factors the schemes refuse, unless -epsilon replaces them.
  // Written so that NaN is refused too.
  if (params->epsilon < 0.0) {
    if (params->ptype == PTYPE_RB && !(params->ubfactor >= 0.1f))
      UsageError("UBfactor should be greater than 0.1.\n\n");
    if (params->ptype == PTYPE_KWAY && !(params->ubfactor >= 1.0f))
      UsageError("UBfactor should be greater than 1.\n\n");
  }
}

}  // namespace veldan
