#include "programs/mpi/options.h"

#include "api/options.h"
#include "programs/cli.h"

#include <getopt.h>
#include <strings.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace veldan::mpi {
namespace {

// veldan's bound on -epsilon.
constexpr double kMaxEpsilon = 10.0;

const Comm* g_comm = nullptr;

[[noreturn]] __attribute__((format(printf, 1, 2))) void UsageError(const char* fmt, ...) {
  if (g_comm->rank == 0) {
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
  }
  ExitAll(kStatusUsage);
}

enum OptionCode {
  CMD_PTYPE = 1,
  CMD_OTYPE,
  CMD_UFACTOR,
  CMD_EPSILON,
  CMD_NRUNS,
  CMD_FIXED,
  CMD_SEED,
  CMD_DBGLVL,
  CMD_OUTPUT,
  CMD_STATS,
  CMD_ZPARAM,
  CMD_VERSION,
  CMD_HELP
};

const struct option kLongOptions[] = {{"ptype", required_argument, nullptr, CMD_PTYPE},
                                      {"otype", required_argument, nullptr, CMD_OTYPE},
                                      {"ufactor", required_argument, nullptr, CMD_UFACTOR},
                                      {"epsilon", required_argument, nullptr, CMD_EPSILON},
                                      {"nruns", required_argument, nullptr, CMD_NRUNS},
                                      {"fixed", required_argument, nullptr, CMD_FIXED},
                                      {"seed", required_argument, nullptr, CMD_SEED},
                                      {"dbglvl", required_argument, nullptr, CMD_DBGLVL},
                                      {"output", required_argument, nullptr, CMD_OUTPUT},
                                      {"stats", no_argument, nullptr, CMD_STATS},
                                      {"zparam", required_argument, nullptr, CMD_ZPARAM},
                                      {"version", no_argument, nullptr, CMD_VERSION},
                                      {"help", no_argument, nullptr, CMD_HELP},
                                      {nullptr, 0, nullptr, 0}};

const char* const kHelpText[] = {
    " ",
    "Usage: mpirun -np P veldan-mpi [options] <filename> <nparts>",
    " ",
    " Partitions the hypergraph on P MPI processes with Zoltan's parallel",
    " hypergraph partitioner. Every process reads its own part of the file.",
    " ",
    " Required parameters",
    "    filename    Stores the hypergraph to be partitioned (.hgr).",
    "    nparts      The number of partitions to split the hypergraph.",
    " ",
    " Optional parameters",
    "  -ptype=string",
    "     rb [default] or kway. Both run Zoltan's multilevel partitioner (which",
    "     splits by recursive bisection); the choice only changes what",
    "     -ufactor means.",
    " ",
    "  -otype=string",
    "     The objective Zoltan minimises:",
    "        cut      - the hyperedge cut [default]",
    "        soed     - the connectivity (k-1) metric, sum-of-external-degrees",
    "                   minus the cut",
    " ",
    "  -ufactor=float",
    "     For ptype=kway: every part at most (1+ufactor/100) times the average.",
    "     For ptype=rb: ufactor per bisection (5 allows a 45-55 split), which",
    "     gives (1+ufactor/50)^ceil(log2 nparts) times the average. Default 5.",
    " ",
    "  -epsilon=float",
    "     Bounds the weight of every part by (1+epsilon) times the average part",
    "     weight. It overrides -ufactor.",
    " ",
    "  -nruns=int",
    "     Runs Zoltan this many times with successive seeds and keeps the best",
    "     partition (the balanced one with the smallest objective). Default 1.",
    " ",
    "  -fixed=string",
    "     The file of pre-assigned cells: one value per cell, -1 for a free",
    "     cell, otherwise its part.",
    " ",
    "  -seed=int",
    "     Selects the seed of Zoltan's random number generator.",
    " ",
    "  -dbglvl=int",
    "     0 prints only the summary and the timing; any other value also the",
    "     hypergraph and the options, and the objective of every run. Default 8.",
    " ",
    "  -output=string",
    "     Writes the partition to the named file instead of",
    "     <filename>.part.<nparts>.",
    " ",
    "  -stats",
    "     Adds the peak resident memory of every process to the report.",
    " ",
    "  -zparam=NAME=VALUE",
    "     Sets a Zoltan parameter (after the built-in ones); may be repeated.",
    " ",
    "  -version",
    "     Prints the version and exits.",
    " ",
    "  -help",
    "     Prints this message.",
    nullptr};

const char* const kUsageText[] = {" ",
                                  "   Usage: veldan-mpi [options] <filename> <nparts>",
                                  "          use 'veldan-mpi -help' for a summary of the options.",
                                  nullptr};

void PrintLines(std::FILE* to, const char* const* lines) {
  for (; *lines != nullptr; lines++) std::fprintf(to, "%s\n", *lines);
}

// The options veldan-mpi shares with veldan are read as veldan reads them,
// through its option table: the same keywords, whole numbers and ranges.
int Keyword(const char* optname, const char* arg) {
  const veldan::OptionRow* row = veldan::FindOption(optname, true);
  const int code = veldan::SchemeCode(row->keywords, arg);
  if (code < 0) UsageError("Invalid option -%s=%s\n\n", optname, arg);
  return code;
}

// A whole number from lo to hi (the table's range when hi is 0).
long WholeOption(const char* optname, const char* arg, long lo = 0, long hi = 0) {
  if (hi == 0) {
    const veldan::OptionRow* row = veldan::FindOption(optname, true);
    lo = row->lo;
    hi = row->hi;
  }
  veldan::idx_t value = 0;
  if (veldan::ParseWhole(arg, lo, hi, &value) != veldan::WholeNumber::kOk)
    UsageError("Invalid option -%s=%s\nThe value must be a whole number from %ld to %ld.\n\n",
               optname, arg, lo, hi);
  return value;
}

double ParseFloat(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text) return 0.0;
  if (value > static_cast<double>(FLT_MAX)) return HUGE_VAL;
  if (value < -static_cast<double>(FLT_MAX)) return -HUGE_VAL;
  return static_cast<double>(static_cast<float>(value));
}

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

}  // namespace

void ParseOptions(const Comm& comm, int argc, char** argv, Options* o) {
  g_comm = &comm;
  *o = Options();
  optind = 0;
  opterr = comm.rank == 0 ? 1 : 0;
  int c;
  while ((c = getopt_long_only(argc, argv, "", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case CMD_PTYPE:
        o->ptype = Keyword("ptype", optarg);
        break;
      case CMD_OTYPE:
        o->otype = Keyword("otype", optarg);
        break;
      case CMD_UFACTOR:
        o->ufactor = ParseFloat(optarg);
        break;
      case CMD_EPSILON:
        o->epsilon = ParseEpsilon(optarg);
        break;
      case CMD_NRUNS:
        o->nruns = static_cast<int>(WholeOption("nruns", optarg, 1, INT_MAX));
        break;
      case CMD_FIXED:
        o->fixedfile = optarg;
        break;
      case CMD_SEED:
        // Zoltan's generator takes a 32-bit seed; below 0 one is drawn.
        o->seed = WholeOption("seed", optarg, INT_MIN, INT_MAX);
        break;
      case CMD_DBGLVL:
        o->dbglvl = WholeOption("dbglvl", optarg);
        break;
      case CMD_OUTPUT:
        o->outputfile = optarg;
        break;
      case CMD_STATS:
        o->stats = true;
        break;
      case CMD_ZPARAM: {
        const char* eq = std::strchr(optarg, '=');
        if (eq == nullptr || eq == optarg)
          UsageError("Invalid option -zparam=%s\nThe form is -zparam=NAME=VALUE.\n\n", optarg);
        o->zparams.emplace_back(std::string(optarg, static_cast<std::size_t>(eq - optarg)),
                                std::string(eq + 1));
        break;
      }
      case CMD_VERSION:
        if (comm.rank == 0) std::printf("veldan-mpi %s\n", kVersion);
        ExitAll(kStatusOk);
      case CMD_HELP:
        if (comm.rank == 0) PrintLines(stdout, kHelpText);
        ExitAll(kStatusOk);
      default:
        // getopt has printed its own diagnostic on rank 0.
        UsageError("Illegal command-line option(s)\nUse %s -help for a summary of the options.\n",
                   argv[0]);
    }
  }
  if (argc - optind != 2) {
    if (comm.rank == 0) {
      std::fprintf(stderr, "Missing parameters.");
      PrintLines(stderr, kUsageText);
    }
    ExitAll(kStatusUsage);
  }
  o->filename = argv[optind];
  veldan::idx_t nparts = 0;
  switch (veldan::ParseWhole(argv[optind + 1], LONG_MIN, LONG_MAX, &nparts)) {
    case veldan::WholeNumber::kOk:
      break;
    case veldan::WholeNumber::kNotANumber:
      UsageError("The number of partitions must be a whole number, not \"%s\".\n",
                 argv[optind + 1]);
    case veldan::WholeNumber::kOutOfRange:
      UsageError("The number of partitions %s is more than any hypergraph has cells.\n",
                 argv[optind + 1]);
  }
  o->nparts = nparts;

  if (o->nparts < 2) UsageError("The number of partitions should be greater than 1!\n");
  if (o->epsilon < 0.0) {
    if (o->ptype == kPTypeRB && !(o->ufactor >= 0.1))
      UsageError("UBfactor should be greater than 0.1.\n\n");
    if (o->ptype == kPTypeKway && !(o->ufactor >= 1.0))
      UsageError("UBfactor should be greater than 1.\n\n");
  }
}

double ImbalanceTolerance(const Options& o) {
  if (o.epsilon > 0.0) return 1.0 + o.epsilon;
  if (o.ptype == kPTypeKway) return 1.0 + o.ufactor / 100.0;
  const double levels = std::ceil(std::log2(static_cast<double>(o.nparts)));
  return std::pow(1.0 + o.ufactor / 50.0, levels);
}

}  // namespace veldan::mpi
