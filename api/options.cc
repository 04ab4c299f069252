// The option table: names, kinds, fields and -help entries of every option.
#include "api/options.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

namespace veldan {
namespace {

constexpr const char* kHelp_ptype[] = {
    "  -ptype=string",
    "     Specifies the scheme to be used for computing the k-way partitioning.",
    "     The possible values are:",
    "        rb       - Recursive bisection [default]",
    "        kway     - Direct k-way partitioning.",
    " ",
};
constexpr const char* kHelp_preset[] = {
    "  -preset=string                (rb, kway)",
    "     Selects a setting of nruns and nvcycles; options given",
    "     explicitly override it. The possible values are:",
    "        fast     - 2 runs, no V-cycle: the knee of cut against time",
    "        default  - The defaults of the options [default]",
    "        quality  - More runs and V-cycles, for a lower cut",
    " ",
};
constexpr const char* kHelp_ctype[] = {
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
};
constexpr const char* kHelp_rtype[] = {
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
};
constexpr const char* kHelp_otype[] = {
    "  -otype=string                 (kway)",
    "     Specifies the objective function to use for k-way partitioning.",
    "     The possible values are:",
    "        cut      - Minimize the cut [default]",
    "        soed     - Minimize the sum-of-external-degrees",
    "        km1      - Minimize the connectivity, (parts spanned - 1) x weight",
    " ",
};
constexpr const char* kHelp_ufactor[] = {
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
};
constexpr const char* kHelp_nruns[] = {
    "  -nruns=int                    (rb, kway)",
    "     Specifies the number of different bisections to be computed",
    "     at each level. The final bisection corresponds to the one that",
    "     has the smallest cut",
    " ",
};
constexpr const char* kHelp_nvcycles[] = {
    "  -nvcycles=int                 (rb, kway)",
    "     Specifies the number of solutions to be further refined using",
    "     V-cycle refinement. If the supplied number is k, then the best",
    "     k bisections are further refined using V-cycling. This number",
    "     should be less or equal to that specified for -nruns. The default",
    "     value is one.",
    " ",
};
constexpr const char* kHelp_time[] = {
    "  -time=float                   (rb, kway)",
    "     Bounds the wall-clock time of the runs, in seconds: runs keep",
    "     starting while the budget lasts (at least one is made) and nruns",
    "     is not used. The report tells how many runs and V-cycles ran and",
    "     the options that repeat the partition without a budget.",
    " ",
};
constexpr const char* kHelp_cmaxnet[] = {
    "  -cmaxnet=int                  (rb, kway)",
    "     Specifies the size of the largest net to be considered during",
    "     coarsening. Any nets larger than that are ignored when determing",
    "     which cells to merge together. Default value for that is 50.",
    " ",
};
constexpr const char* kHelp_coarsento[] = {
    "  -coarsento=int                (rb, kway)",
    "     Specifies the number of cells at which coarsening stops. By",
    "     default it follows the size of the hypergraph (and, for",
    "     ptype=kway, nparts).",
    " ",
};
constexpr const char* kHelp_rmaxnet[] = {
    "  -rmaxnet=int                  (rb, kway)",
    "     Specifies the size of the largest net to be considered during",
    "     refinement. Any nets larger than that are ignored during the",
    "     multilevel partitioning phase, and are dealt once the partitioning",
    "     has been computed. Default value for that is 50.",
    " ",
};
constexpr const char* kHelp_reconst[] = {
    "  -reconst                      (rb)",
    "     Instructs veldan to create partial nets within each partition ",
    "     representing the nets that were cut during the bisection.",
    " ",
};
constexpr const char* kHelp_kwayrefine[] = {
    "  -kwayrefine                   (rb)",
    "     Instructs veldan to perform a final k-way refinement once the",
    "     partitioning has been computed using recursive bisection",
    " ",
};
constexpr const char* kHelp_fixed[] = {
    "  -fixed=string                 (rb, kway)",
    "     Instructs veldan to read the file specified as the argument",
    "     of this parameter for specifying the groups of cells to be",
    "     placed in the same partition",
    " ",
};
constexpr const char* kHelp_partweights[] = {
    "  -partweights=string           (rb, kway)",
    "     Reads the target weight of every part from the named file: one",
    "     line per part, holding a fraction of the total weight (ncon",
    "     fractions under several weights per cell); the fractions are at",
    "     least 0 and sum to 1. The balance bound of each part (-epsilon or",
    "     -ufactor) is taken relative to its own target.",
    " ",
};
constexpr const char* kHelp_initial[] = {
    "  -initial=string               (rb, kway)",
    "     Improves the partition in the named file (one part from 0 to",
    "     nparts-1 per line, cell by cell) instead of partitioning from",
    "     scratch: each run refines it by greedy moves and one V-cycle,",
    "     the nvcycles best runs by further V-cycles. The result is never",
    "     worse than the given partition when that one keeps the balance",
    "     bound.",
    " ",
};
constexpr const char* kHelp_seed[] = {
    "  -seed=int                     (rb, kway)",
    "     Selects the seed of the random number generator.  ",
    " ",
};
constexpr const char* kHelp_dbglvl[] = {
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
};
constexpr const char* kHelp_nthreads[] = {
    "  -nthreads=int                 (rb, kway)",
    "     Specifies the number of threads used to compute the partitioning.",
    "     For a given seed the partitioning does not depend on it. The",
    "     default value is the number of cores the process may run on.",
    " ",
};
constexpr const char* kHelp_epsilon[] = {
    "  -epsilon=float                (rb, kway)",
    "     Bounds the weight of every part by (1+epsilon) times the average",
    "     part weight (with integer weights, by at least the average rounded",
    "     up), for any number of parts. It overrides -ufactor; for",
    "     ptype=kway it is the same as -ufactor=100*epsilon.",
    " ",
};
constexpr const char* kHelp_output[] = {
    "  -output=string                (rb, kway)",
    "     Writes the partition to the named file instead of",
    "     <filename>.part.<nparts>.",
    " ",
};
constexpr const char* kHelp_version[] = {
    "  -version",
    "     Prints the version and exits.",
    " ",
};
constexpr const char* kHelp_help[] = {
    "  -help",
    "     Prints this message.",
};

constexpr std::span<const SchemeName> kNoKeywords{};

// The accessors of one field of Options: decimals in OptionValue::d; whole
// numbers, flags (0 or 1) and keyword codes in OptionValue::i.
template <auto Field>
OptionValue Get(const Options& o) {
  using T = std::remove_cvref_t<decltype(o.*Field)>;
  if constexpr (std::is_same_v<T, double>)
    return OptionValue{0, o.*Field};
  else
    return OptionValue{static_cast<std::int64_t>(o.*Field), 0};
}
template <auto Field>
void Set(Options& o, OptionValue v) {
  using T = std::remove_cvref_t<decltype(o.*Field)>;
  if constexpr (std::is_same_v<T, double>)
    o.*Field = v.d;
  else if constexpr (std::is_same_v<T, bool>)
    o.*Field = v.i != 0;
  else
    o.*Field = static_cast<T>(v.i);
}

// Every row of the command line, in the order of its help.
const OptionRow kRows[] = {
    {"ptype", "scheme", OptionKind::Keyword, kSchemeNames, 0, 0,
     Get<&Options::scheme>, Set<&Options::scheme>,
     CField::Int, offsetof(veldan_options, scheme), kHelp_ptype},
    {"preset", nullptr, OptionKind::Program, kPresetNames, 0, 0, nullptr, nullptr,
     CField::None, 0, kHelp_preset},
    {"ctype", "ctype", OptionKind::Keyword, kCoarseningNames, 0, 0,
     Get<&Options::ctype>, Set<&Options::ctype>,
     CField::Int, offsetof(veldan_options, ctype), kHelp_ctype},
    {"rtype", "rtype", OptionKind::Keyword, kRefinementNames, 0, 0,
     Get<&Options::rtype>, Set<&Options::rtype>,
     CField::Int, offsetof(veldan_options, rtype), kHelp_rtype},
    {"otype", "objective", OptionKind::Keyword, kObjectiveNames, 0, 0,
     Get<&Options::objective>, Set<&Options::objective>,
     CField::Int, offsetof(veldan_options, objective), kHelp_otype},
    {"ufactor", "ufactor", OptionKind::Real, kNoKeywords, 0, 0,
     Get<&Options::ufactor>, Set<&Options::ufactor>,
     CField::Double, offsetof(veldan_options, ufactor), kHelp_ufactor},
    {"nruns", "nruns", OptionKind::Integer, kNoKeywords, 0, INT_MAX,
     Get<&Options::nruns>, Set<&Options::nruns>,
     CField::Int64, offsetof(veldan_options, nruns), kHelp_nruns},
    {"nvcycles", "nvcycles", OptionKind::Integer, kNoKeywords, 0, INT_MAX,
     Get<&Options::nvcycles>, Set<&Options::nvcycles>,
     CField::Int64, offsetof(veldan_options, nvcycles), kHelp_nvcycles},
    {"time", "time", OptionKind::Real, kNoKeywords, 0, 0,
     Get<&Options::time>, Set<&Options::time>,
     CField::Double, offsetof(veldan_options, time), kHelp_time},
    {"cmaxnet", "cmaxnet", OptionKind::Integer, kNoKeywords, 0, INT64_MAX,
     Get<&Options::cmaxnet>, Set<&Options::cmaxnet>,
     CField::Int64, offsetof(veldan_options, cmaxnet), kHelp_cmaxnet},
    {"rmaxnet", "rmaxnet", OptionKind::Integer, kNoKeywords, 0, INT64_MAX,
     Get<&Options::rmaxnet>, Set<&Options::rmaxnet>,
     CField::Int64, offsetof(veldan_options, rmaxnet), kHelp_rmaxnet},
    {"coarsento", "coarsento", OptionKind::Integer, kNoKeywords, 0, INT64_MAX,
     Get<&Options::coarsento>, Set<&Options::coarsento>,
     CField::Int64, offsetof(veldan_options, coarsento), kHelp_coarsento},
    {"reconst", "reconstruct", OptionKind::Flag, kNoKeywords, 0, 1,
     Get<&Options::reconstruct>, Set<&Options::reconstruct>,
     CField::Int, offsetof(veldan_options, reconstruct), kHelp_reconst},
    {"kwayrefine", "kwayrefine", OptionKind::Flag, kNoKeywords, 0, 1,
     Get<&Options::kwayrefine>, Set<&Options::kwayrefine>,
     CField::Int, offsetof(veldan_options, kwayrefine), kHelp_kwayrefine},
    {"fixed", nullptr, OptionKind::Program, kNoKeywords, 0, 0, nullptr, nullptr, CField::None, 0,
     kHelp_fixed},
    {"partweights", "part_weights", OptionKind::Program, kNoKeywords, 0, 0, nullptr, nullptr,
     CField::None, 0, kHelp_partweights},
    {"initial", nullptr, OptionKind::Program, kNoKeywords, 0, 0, nullptr, nullptr, CField::None, 0,
     kHelp_initial},
    {"seed", "seed", OptionKind::Integer, kNoKeywords, INT64_MIN, kMaxSeed,
     Get<&Options::seed>, Set<&Options::seed>,
     CField::Int64, offsetof(veldan_options, seed), kHelp_seed},
    {"dbglvl", "dbglvl", OptionKind::Integer, kNoKeywords, 0, INT_MAX,
     Get<&Options::dbglvl>, Set<&Options::dbglvl>,
     CField::Int64, offsetof(veldan_options, dbglvl), kHelp_dbglvl},
    {"nthreads", "threads", OptionKind::Integer, kNoKeywords, 1, INT64_MAX,
     Get<&Options::threads>, Set<&Options::threads>,
     CField::Int64, offsetof(veldan_options, threads), kHelp_nthreads},
    {"epsilon", "epsilon", OptionKind::Real, kNoKeywords, 0, 0,
     Get<&Options::epsilon>, Set<&Options::epsilon>,
     CField::Double, offsetof(veldan_options, epsilon), kHelp_epsilon},
    {"output", nullptr, OptionKind::Program, kNoKeywords, 0, 0, nullptr, nullptr, CField::None, 0,
     kHelp_output},
    {"version", nullptr, OptionKind::Program, kNoKeywords, 0, 0, nullptr, nullptr, CField::None, 0,
     kHelp_version},
    {"help", nullptr, OptionKind::Program, kNoKeywords, 0, 0, nullptr, nullptr, CField::None, 0,
     kHelp_help},
    // The number of parts: an operand of the command line.
    {nullptr, "k", OptionKind::Integer, kNoKeywords, 1, INT64_MAX,
     Get<&Options::k>, Set<&Options::k>,
     CField::Int64, offsetof(veldan_options, k), {}},
};

}  // namespace

std::span<const OptionRow> OptionRows() { return kRows; }

Options PresetOptions(Preset preset) {
  Options o;
  switch (preset) {
    case Preset::Default:
      break;
    case Preset::Fast:
      o.nruns = 2;
      o.nvcycles = 0;
      break;
    case Preset::Quality:
      o.nruns = 40;
      o.nvcycles = 3;
      break;
    default:
      throw Error(Status::InvalidOptions,
                  "unknown preset " + std::to_string(static_cast<int>(preset)));
  }
  return o;
}

const OptionRow* FindOption(std::string_view name, bool cli) {
  for (const OptionRow& r : kRows) {
    const char* n = cli ? r.cli : r.key;
    if (n != nullptr && name == n) return &r;
  }
  return nullptr;
}

void OptionsToC(const Options& o, veldan_options* c) {
  char* base = reinterpret_cast<char*>(c);
  for (const OptionRow& r : kRows) {
    if (r.get == nullptr) continue;
    const OptionValue v = r.get(o);
    char* field = base + r.coffset;
    switch (r.cfield) {
      case CField::Int: {
        const int x = static_cast<int>(v.i);
        std::memcpy(field, &x, sizeof x);
        break;
      }
      case CField::Int64:
        std::memcpy(field, &v.i, sizeof v.i);
        break;
      case CField::Double:
        std::memcpy(field, &v.d, sizeof v.d);
        break;
      case CField::None:
        break;
    }
  }
  // The targets are a view of o's own; an even split is none.
  c->part_weights = o.part_weights.empty() ? nullptr : o.part_weights.data();
  c->npart_weights = static_cast<std::int64_t>(o.part_weights.size());
}

Options OptionsFromC(const veldan_options& c) {
  Options o;
  const char* base = reinterpret_cast<const char*>(&c);
  for (const OptionRow& r : kRows) {
    if (r.set == nullptr) continue;
    const char* field = base + r.coffset;
    OptionValue v;
    switch (r.cfield) {
      case CField::Int: {
        int x = 0;
        std::memcpy(&x, field, sizeof x);
        v.i = x;
        break;
      }
      case CField::Int64:
        std::memcpy(&v.i, field, sizeof v.i);
        break;
      case CField::Double:
        std::memcpy(&v.d, field, sizeof v.d);
        break;
      case CField::None:
        continue;
    }
    r.set(o, v);
  }
  if (c.part_weights != nullptr && c.npart_weights > 0)
    o.part_weights.assign(c.part_weights, c.part_weights + c.npart_weights);
  return o;
}

}  // namespace veldan
