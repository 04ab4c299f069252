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
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "api/options.h"
#include "kway/entry.h"
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

// The lines of -help before the entries of the options (api/options.cc).
const char* const kHelpHead[] = {
    " ",
    "Usage: veldan [options] <filename> <nparts>",
    " ",
    " Required parameters",
    "    filename    Stores the hypergraph to be partitioned.",
    "    nparts      The number of partitions to split the hypergraph.",
    " ",
    " Optional parameters",
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
int KeywordCode(std::span<const SchemeName> table, const char* optname, const char* arg) {
  const int code = SchemeCode(table, arg);
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

// -time takes a plain decimal number of seconds above 0.
double ParseTime(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  while (end != text && (*end == ' ' || *end == '\t')) end++;
  if (end == text || *end != '\0' || !(value > 0.0 && value <= kMaxTime))
    UsageError("Invalid option -time=%s\nThe budget must be a number of seconds above 0 and at "
               "most %g.\n\n",
               text, kMaxTime);
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

Options CommandLineOptions() {
  Options o;
  o.dbglvl = 8;  // the bisection statistics
  return o;
}

void ParseCommandLine(RunParams* params, int argc, char** argv) {
  *params = RunParams();
  Options& o = params->options;

  // The long options of the table, each returning its row number plus one.
  const std::span<const OptionRow> rows = OptionRows();
  std::vector<struct option> longopts;
  for (std::size_t r = 0; r < rows.size(); r++) {
    const OptionRow& row = rows[r];
    if (row.cli == nullptr) continue;
    const bool bare = row.kind == OptionKind::Flag ||
                      (row.kind == OptionKind::Program && (std::strcmp(row.cli, "version") == 0 ||
                                                           std::strcmp(row.cli, "help") == 0));
    longopts.push_back({row.cli, bare ? no_argument : required_argument, nullptr,
                        static_cast<int>(r) + 1});
  }
  longopts.push_back({nullptr, 0, nullptr, 0});

  // optind 0 makes the parser start afresh (and read POSIXLY_CORRECT again),
  // so the routine can be called more than once in one process.
  optind = 0;
  opterr = 1;

  // The options given, in order, applied again over a preset's settings so
  // that they override it wherever -preset stands.
  std::vector<std::pair<const OptionRow*, OptionValue>> given;

  int c;
  while ((c = getopt_long_only(argc, argv, "", longopts.data(), nullptr)) != -1) {
    if (c < 1 || c > static_cast<int>(rows.size())) {
      // The parser has already printed its own diagnostic.
      UsageError("Illegal command-line option(s)\nUse %s -help for a summary of the options.\n",
                 argv[0]);
    }
    const OptionRow& row = rows[c - 1];
    OptionValue v;
    switch (row.kind) {
      case OptionKind::Keyword:
        v.i = KeywordCode(row.keywords, row.cli, optarg);
        break;
      case OptionKind::Integer:
        v.i = IntOption(row.cli, optarg, row.lo, row.hi);
        break;
      case OptionKind::Real:
        if (std::strcmp(row.cli, "epsilon") == 0)
          v.d = ParseEpsilon(optarg);
        else if (std::strcmp(row.cli, "time") == 0)
          v.d = ParseTime(optarg);
        else
          v.d = ParseFloat(optarg);
        break;
      case OptionKind::Flag:
        v.i = 1;
        break;
      case OptionKind::Program:
        if (std::strcmp(row.cli, "preset") == 0) {
          params->preset = static_cast<Preset>(KeywordCode(row.keywords, row.cli, optarg));
        } else if (std::strcmp(row.cli, "fixed") == 0) {
          params->fixedfile = optarg;
        } else if (std::strcmp(row.cli, "partweights") == 0) {
          params->partweightsfile = optarg;
        } else if (std::strcmp(row.cli, "initial") == 0) {
          params->initialfile = optarg;
        } else if (std::strcmp(row.cli, "output") == 0) {
          params->outputfile = optarg;
        } else if (std::strcmp(row.cli, "version") == 0) {
          std::printf("veldan %s\n", Version());
          std::exit(0);
        } else {
          PrintLines(stdout, kHelpHead);
          for (const OptionRow& r : rows)
            for (const char* line : r.help) std::printf("%s\n", line);
          std::exit(0);
        }
        continue;
    }
    row.set(o, v);
    given.emplace_back(&row, v);
  }
  if (params->preset != Preset::Default) {
    o = PresetOptions(params->preset);
    o.dbglvl = CommandLineOptions().dbglvl;
    for (const auto& [row, v] : given) row->set(o, v);
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
  switch (ParseWhole(nparts, INT64_MIN, INT64_MAX, &o.k)) {
    case WholeNumber::kOk:
      break;
    case WholeNumber::kNotANumber:
      UsageError("The number of partitions must be a whole number, not \"%s\".\n", nparts);
    case WholeNumber::kOutOfRange:
      // A count beyond 64 bits is beyond the cells of any hypergraph.
      UsageError("The number of partitions %s is more than any hypergraph has cells.\n", nparts);
  }
  params->filename = argv[optind];

  // The schemes that follow other options, as the entry resolves them, so
  // that the header shows them.
  o.ctype = ResolvedCoarsening(o);
  if (!params->initialfile.empty()) o.initial.assign(1, 0);  // resolved as with a partition
  o.rtype = ResolvedRefinement(o);
  o.initial.clear();
  const bool rb = o.scheme == Scheme::RecursiveBisection;
  const bool rbrtype = o.rtype == Refinement::Fast || o.rtype == Refinement::Moderate ||
                       o.rtype == Refinement::Slow;
  if (rb != rbrtype)
    UsageError("rtype=%s cannot be used with ptype=%s.\n\n", UpperName(kRefinementNames,
               static_cast<int>(o.rtype)).c_str(), SchemeNameOf(kSchemeNames,
               static_cast<int>(o.scheme)));

  // -epsilon replaces -ufactor; for kway the two are the same bound.
  if (o.epsilon > 0.0) o.ufactor = static_cast<real_t>(100.0 * o.epsilon);
}

void CheckPartsAgainstCells(idx_t nparts, idx_t nvtxs, const char* filename) {
  if (nparts > nvtxs)
    UsageError("The number of partitions (%ld) is more than the %ld cells of %s.\n", nparts,
               nvtxs, filename);
}

void CheckRunParams(const RunParams* params) {
  const Options& o = params->options;
  if (o.k < 2) UsageError("The number of partitions should be greater than 1!\n");
  // The unbalance factors the schemes refuse, unless -epsilon replaces them.
  // Written so that NaN is refused too.
  if (!(o.epsilon > 0.0)) {
    const real_t ufactor = static_cast<real_t>(o.ufactor);
    if (o.scheme == Scheme::RecursiveBisection && !(ufactor >= 0.1f))
      UsageError("UBfactor should be greater than 0.1.\n\n");
    if (o.scheme == Scheme::Kway && !(ufactor >= 1.0f))
      UsageError("UBfactor should be greater than 1.\n\n");
  }
}

}  // namespace veldan
