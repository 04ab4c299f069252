// The command-line program: options (in-process and end to end), the help,
// usage and failure texts, the run header, fixed-cell and partition files,
// and the quality report on hand-worked cases.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "programs/cli.h"
#include "support/memory.h"
#include "tests/testutil.h"

namespace {

using veldan::idx_t;
using veldan::real_t;
using veldan::RunParams;
using veldan_test::ReadFile;
using veldan_test::RunResult;
using veldan_test::TempDir;

// Runs the built program (the name Run is taken inside test bodies).
RunResult Exec(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
               const std::string& argv0 = "") {
  return veldan_test::Run(args, env, argv0);
}

// ---- in-process option parsing ------------------------------------------------

// Parses the arguments (after the program name) and owns the strings of
// the result.
struct Parsed {
  explicit Parsed(std::vector<std::string> args) {
    args.insert(args.begin(), "veldan");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    veldan::ParseCommandLine(&p, static_cast<int>(args.size()), argv.data());
  }
  RunParams p;
};

// The defaults and every option's field are checked end to end through
// the run header (Runs.HeaderWithDefaults, Runs.HeaderWithOptions).

TEST(ParseOptions, KeywordsIgnoreCase) {
  EXPECT_EQ(static_cast<int>(Parsed({"-ptype=KWAY", "g", "2"}).p.options.scheme), 2);
  EXPECT_EQ(static_cast<int>(Parsed({"-ptype=Kway", "g", "2"}).p.options.scheme), 2);
  EXPECT_EQ(static_cast<int>(Parsed({"-rtype=MODERATE", "g", "2"}).p.options.rtype), 2);
  EXPECT_EQ(static_cast<int>(Parsed({"-otype=SoEd", "g", "2"}).p.options.objective), 2);
  EXPECT_EQ(static_cast<int>(Parsed({"-otype=KM1", "g", "2"}).p.options.objective), 3);
}

TEST(ParseOptions, CoarseningSchemeAsNamedOrFollowingRuns) {
  EXPECT_EQ(static_cast<int>(Parsed({"-ctype=gfc1", "g", "2"}).p.options.ctype), 2);
  EXPECT_EQ(static_cast<int>(Parsed({"-ctype=edge1", "-nruns=20", "g", "2"}).p.options.ctype), 8);
  // Unless one is named, nruns chooses.
  EXPECT_EQ(static_cast<int>(Parsed({"-nruns=19", "g", "2"}).p.options.ctype), 5);
  EXPECT_EQ(static_cast<int>(Parsed({"-nruns=20", "g", "2"}).p.options.ctype), 7);
}

TEST(ParseOptions, RefinementDefaultFollowsScheme) {
  EXPECT_EQ(static_cast<int>(Parsed({"-ptype=kway", "g", "2"}).p.options.rtype), 4);
  EXPECT_EQ(static_cast<int>(Parsed({"-ptype=rb", "g", "2"}).p.options.rtype), 1);
  EXPECT_EQ(static_cast<int>(Parsed({"-ptype=kway", "-rtype=kpfast", "g", "2"}).p.options.rtype), 5);
  // The objective is accepted with rb and simply not used.
  EXPECT_EQ(static_cast<int>(Parsed({"-otype=soed", "g", "2"}).p.options.objective), 2);
}

TEST(ParseOptions, SyntaxOfTheParser) {
  // Unique prefixes, two dashes, the argument as the next word.
  EXPECT_EQ(Parsed({"-nr=20", "g", "2"}).p.options.nruns, 20);
  EXPECT_EQ(Parsed({"--seed=3", "g", "2"}).p.options.seed, 3);
  EXPECT_EQ(Parsed({"-uf", "2.5", "g", "2"}).p.options.ufactor, 2.5f);
  EXPECT_TRUE(Parsed({"-kw", "g", "2"}).p.options.kwayrefine);
  // Operands may come first.
  Parsed r({"g.hgr", "-nruns=5", "4", "-seed", "9"});
  EXPECT_EQ(r.p.filename, "g.hgr");
  EXPECT_EQ(r.p.options.k, 4);
  EXPECT_EQ(r.p.options.nruns, 5);
  EXPECT_EQ(r.p.options.seed, 9);
}

TEST(ParseOptions, LastOccurrenceWins) {
  Parsed r({"-nruns=5", "-fixed=a", "-ptype=kway", "g", "2", "-nruns=7", "-fixed=b",
            "-ptype=rb"});
  EXPECT_EQ(r.p.options.nruns, 7);
  EXPECT_EQ(r.p.fixedfile, "b");
  EXPECT_EQ(static_cast<int>(r.p.options.scheme), 1);
  EXPECT_EQ(static_cast<int>(r.p.options.rtype), 1);
}

TEST(ParseOptions, NumberConversions) {
  EXPECT_EQ(Parsed({"-nruns= 12 ", "g", "2"}).p.options.nruns, 12);
  EXPECT_EQ(Parsed({"-seed=-4", "g", "2"}).p.options.seed, -4);
  EXPECT_EQ(Parsed({"-seed=1099511627776", "g", "2"}).p.options.seed, 1099511627776);
  EXPECT_EQ(Parsed({"-seed=9223372036854775806", "g", "2"}).p.options.seed, 9223372036854775806);
  EXPECT_EQ(Parsed({"-dbglvl=+17", "g", "2"}).p.options.dbglvl, 17);
  EXPECT_EQ(Parsed({"g", "3"}).p.options.k, 3);
  EXPECT_EQ(Parsed({"-ufactor=abc", "g", "2"}).p.options.ufactor, 0.0f);
  EXPECT_EQ(Parsed({"-ufactor=2.5e0x", "g", "2"}).p.options.ufactor, 2.5f);
  const real_t big = Parsed({"-ufactor=1e300", "g", "2"}).p.options.ufactor;
  EXPECT_TRUE(std::isinf(big) && big > 0);

  using veldan::WholeNumber;
  struct Case {
    const char* text;
    idx_t lo, hi;
    WholeNumber expect;
    idx_t value;
  };
  for (const Case& c : std::vector<Case>{
           {"17", 0, 100, WholeNumber::kOk, 17},
           {" -3\t", -5, 5, WholeNumber::kOk, -3},
           {"+0", 0, 0, WholeNumber::kOk, 0},
           {"9223372036854775807", 0, INT64_MAX, WholeNumber::kOk, INT64_MAX},
           {"", 0, 100, WholeNumber::kNotANumber, 0},
           {"abc", 0, 100, WholeNumber::kNotANumber, 0},
           {"3.5", 0, 100, WholeNumber::kNotANumber, 0},
           {"1e3", 0, 10000, WholeNumber::kNotANumber, 0},
           {"12x", 0, 100, WholeNumber::kNotANumber, 0},
           {"- 1", -5, 5, WholeNumber::kNotANumber, 0},
           {"101", 0, 100, WholeNumber::kOutOfRange, 0},
           {"-1", 0, 100, WholeNumber::kOutOfRange, 0},
           {"9223372036854775808", INT64_MIN, INT64_MAX, WholeNumber::kOutOfRange, 0},
       }) {
    SCOPED_TRACE(c.text);
    idx_t value = 0;
    EXPECT_EQ(veldan::ParseWhole(c.text, c.lo, c.hi, &value), c.expect);
    EXPECT_EQ(value, c.value);
  }
}

// ---- end to end: help, usage and the failure table ---------------------------

const char kHelp[] =
    " \n"
    "Usage: veldan [options] <filename> <nparts>\n"
    " \n"
    " Required parameters\n"
    "    filename    Stores the hypergraph to be partitioned.\n"
    "    nparts      The number of partitions to split the hypergraph.\n"
    " \n"
    " Optional parameters\n"
    "  -ptype=string\n"
    "     Specifies the scheme to be used for computing the k-way partitioning.\n"
    "     The possible values are:\n"
    "        rb       - Recursive bisection [default]\n"
    "        kway     - Direct k-way partitioning.\n"
    " \n"
    "  -preset=string                (rb, kway)\n"
    "     Selects a setting of nruns and nvcycles; options given\n"
    "     explicitly override it. The possible values are:\n"
    "        fast     - 2 runs, no V-cycle: the knee of cut against time\n"
    "        default  - The defaults of the options [default]\n"
    "        quality  - More runs and V-cycles, for a lower cut\n"
    " \n"
    "  -ctype=string                 (rb, kway)\n"
    "     Specifies the scheme to be used for coarsening.\n"
    "     The possible values are:\n"
    "        fc1        - First-choice scheme\n"
    "        gfc1       - Greedy first-choice scheme [default]\n"
    "        fc2        - Alternate implementation of the fc scheme\n"
    "        gfc2       - Alternate implementation of the gfc scheme\n"
    "        h1         - Alternates between fc1 and gfc1 [default if nruns<20]\n"
    "        h2         - Alternates between fc2 and gfc2\n"
    "        h12        - Alternates between fc1, gfc1, fc2, gfc2 [default otherwise]\n"
    "        edge1      - Edge-based coarsening\n"
    "        gedge1     - Greedy edge-based coarsening\n"
    "        edge2      - Alternate implementation of the edge scheme\n"
    "        gedge2     - Alternate implementation of the gedge scheme\n"
    " \n"
    "  -rtype=string                 (rb, kway)\n"
    "     Specifies the scheme to be used for refinement.\n"
    "     The possible values and the partitioning types where they apply are:\n"
    "        fast        - Fast FM-based refinement (rb) [default]\n"
    "        moderate    - Moderate FM-based refinement (rb)\n"
    "        slow        - Slow FM-based refinement (rb)\n"
    "        krandom     - Random k-way refinement (kway) [default for ptype=kway]\n"
    "        kpfast      - Pairwise k-way FAST refinement (kway)\n"
    "        kpmoderate  - Pairwise k-way MODERATE refinement (kway)\n"
    "        kpslow      - Pairwise k-way SLOW refinement (kway)\n"
    " \n"
    "  -otype=string                 (kway)\n"
    "     Specifies the objective function to use for k-way partitioning.\n"
    "     The possible values are:\n"
    "        cut      - Minimize the cut [default]\n"
    "        soed     - Minimize the sum-of-external-degrees\n"
    "        km1      - Minimize the connectivity, (parts spanned - 1) x weight\n"
    " \n"
    "  -ufactor=float                (rb, kway)\n"
    "     Specifies the unbalance factor. The meaning of this parameters depends\n"
    "     on the partitioning scheme (ptype):\n"
    "       For ptype=rb\n"
    "         Specifies the maximum difference between each successive bisection.\n"
    "         For instance, a value of 5 leads to a 45-55 split at each bisection.\n"
    "       For ptype=kway\n"
    "         Specifies the maximum load imbalance among all the partitions. For\n"
    "         instance, a value of 5 produces partitions in which the weight of\n"
    "         the largest partition over the average weight is bounded by 5%.\n"
    " \n"
    "  -nruns=int                    (rb, kway)\n"
    "     Specifies the number of different bisections to be computed\n"
    "     at each level. The final bisection corresponds to the one that\n"
    "     has the smallest cut\n"
    " \n"
    "  -nvcycles=int                 (rb, kway)\n"
    "     Specifies the number of solutions to be further refined using\n"
    "     V-cycle refinement. If the supplied number is k, then the best\n"
    "     k bisections are further refined using V-cycling. This number\n"
    "     should be less or equal to that specified for -nruns. The default\n"
    "     value is one.\n"
    " \n"
    "  -time=float                   (rb, kway)\n"
    "     Bounds the wall-clock time of the runs, in seconds: runs keep\n"
    "     starting while the budget lasts (at least one is made) and nruns\n"
    "     is not used. The report tells how many runs and V-cycles ran and\n"
    "     the options that repeat the partition without a budget.\n"
    " \n"
    "  -cmaxnet=int                  (rb, kway)\n"
    "     Specifies the size of the largest net to be considered during\n"
    "     coarsening. Any nets larger than that are ignored when determing\n"
    "     which cells to merge together. Default value for that is 50.\n"
    " \n"
    "  -rmaxnet=int                  (rb, kway)\n"
    "     Specifies the size of the largest net to be considered during\n"
    "     refinement. Any nets larger than that are ignored during the\n"
    "     multilevel partitioning phase, and are dealt once the partitioning\n"
    "     has been computed. Default value for that is 50.\n"
    " \n"
    "  -coarsento=int                (rb, kway)\n"
    "     Specifies the number of cells at which coarsening stops. By\n"
    "     default it follows the size of the hypergraph (and, for\n"
    "     ptype=kway, nparts).\n"
    " \n"
    "  -reconst                      (rb)\n"
    "     Instructs veldan to create partial nets within each partition \n"
    "     representing the nets that were cut during the bisection.\n"
    " \n"
    "  -kwayrefine                   (rb)\n"
    "     Instructs veldan to perform a final k-way refinement once the\n"
    "     partitioning has been computed using recursive bisection\n"
    " \n"
    "  -fixed=string                 (rb, kway)\n"
    "     Instructs veldan to read the file specified as the argument\n"
    "     of this parameter for specifying the groups of cells to be\n"
    "     placed in the same partition\n"
    " \n"
    "  -partweights=string           (rb, kway)\n"
    "     Reads the target weight of every part from the named file: one\n"
    "     line per part, holding a fraction of the total weight (ncon\n"
    "     fractions under several weights per cell); the fractions are at\n"
    "     least 0 and sum to 1. The balance bound of each part (-epsilon or\n"
    "     -ufactor) is taken relative to its own target.\n"
    " \n"
    "  -initial=string               (rb, kway)\n"
    "     Improves the partition in the named file (one part from 0 to\n"
    "     nparts-1 per line, cell by cell) instead of partitioning from\n"
    "     scratch: each run refines it by greedy moves and one V-cycle,\n"
    "     the nvcycles best runs by further V-cycles. The result is never\n"
    "     worse than the given partition when that one keeps the balance\n"
    "     bound.\n"
    " \n"
    "  -seed=int                     (rb, kway)\n"
    "     Selects the seed of the random number generator.  \n"
    " \n"
    "  -dbglvl=int                   (rb, kway)\n"
    "     Selects the dbglvl. The value is obtained by adding the following \n"
    "     codes:\n"
    "        1       - Show coarsening progress\n"
    "        2       - Show the initial cuts\n"
    "        4       - Show the refinement progress\n"
    "        8       - Show bisection statistics\n"
    "       16       - Show bisection statistics\n"
    "       32       - Print timing statistics\n"
    "      128       - Show detailed bisection statistics\n"
    "      256       - Show detailed info about cell moves\n"
    " \n"
    "  -nthreads=int                 (rb, kway)\n"
    "     Specifies the number of threads used to compute the partitioning.\n"
    "     For a given seed the partitioning does not depend on it. The\n"
    "     default value is the number of cores the process may run on.\n"
    " \n"
    "  -epsilon=float                (rb, kway)\n"
    "     Bounds the weight of every part by (1+epsilon) times the average\n"
    "     part weight (with integer weights, by at least the average rounded\n"
    "     up), for any number of parts. It overrides -ufactor; for\n"
    "     ptype=kway it is the same as -ufactor=100*epsilon.\n"
    " \n"
    "  -output=string                (rb, kway)\n"
    "     Writes the partition to the named file instead of\n"
    "     <filename>.part.<nparts>.\n"
    " \n"
    "  -version\n"
    "     Prints the version and exits.\n"
    " \n"
    "  -help\n"
    "     Prints this message.\n";

const char kMissing[] =
    "Missing parameters. \n"
    "   Usage: veldan [options] <filename> <nparts>\n"
    "          use 'veldan -help' for a summary of the options.\n";

TEST(CommandLine, HelpAndVersion) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-help"}, {"--help"}, {"-h"}, {"g.hgr", "4", "-help"}, {"-help", "-ptype=foo"}}) {
    const RunResult r = Exec(args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, kHelp);
    EXPECT_EQ(r.err, "");
  }
  const RunResult r = Exec({"-version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "veldan 2.0rc1\n");
}

// Every mistake on the command line ends before any file is read, with its
// message on standard error, nothing on standard output and status 2.
std::vector<std::string> FolderEntries(const std::string& dir);

TEST(CommandLine, MistakesEndWithStatus2) {
  const auto whole = [](const std::string& option, const std::string& value,
                        const std::string& range) {
    return "Invalid option -" + option + "=" + value + "\nThe value must be a whole number from " +
           range + ".\n\n";
  };
  const std::string kSeedRange = "-9223372036854775808 to 9223372036854775806";
  const std::string kTooMany = "Too many parameters: \"extra\" follows <filename> <nparts>.\n" +
                               std::string(kMissing).substr(std::string("Missing parameters.").size());
  const std::string illegal =
      "Illegal command-line option(s)\nUse prog -help for a summary of the options.\n";
  const std::string fewparts = "The number of partitions should be greater than 1!\n";
  const auto budget = [](const std::string& value) {
    return "Invalid option -time=" + value +
           "\nThe budget must be a number of seconds above 0 and at most 1e+09.\n\n";
  };
  struct Case {
    std::vector<std::string> args;
    std::string err;           // exactly, after the parser's own diagnostic if any
    bool parser_first = false; // the parser's diagnostic comes first
    std::vector<std::string> env = {};
  };
  for (const Case& c : std::vector<Case>{
           {{}, kMissing},
           {{"g.hgr"}, kMissing},
           {{"g.hgr", "4", "extra"}, kTooMany},
           {{"-nruns=3", "g.hgr"}, kMissing},
           // With POSIXLY_CORRECT the options stop at the first operand.
           {{"g.hgr", "4", "-nruns=5"},
            "Too many parameters: \"-nruns=5\" follows <filename> <nparts>.\n" +
                std::string(kMissing).substr(std::string("Missing parameters.").size()),
            false,
            {"POSIXLY_CORRECT=1"}},
           {{"-foo", "g", "2"}, illegal, true},        // unknown
           {{"-ufator=5", "g", "2"}, illegal, true},   // a typo
           {{"-n=5", "g", "2"}, illegal, true},        // ambiguous: nruns, nvcycles
           {{"-r", "g", "2"}, illegal, true},          // ambiguous: rtype, rmaxnet, reconst
           {{"-o=x", "g", "2"}, illegal, true},        // ambiguous: otype, output
           {{"g", "2", "-seed"}, illegal, true},       // missing argument
           {{"-reconst=1", "g", "2"}, illegal, true},  // the flag takes no argument
           {{"-ptype=k", "g", "2"}, "Invalid option -ptype=k\n\n"},
           {{"-pt=foo", "g", "2"}, "Invalid option -ptype=foo\n\n"},
           {{"-ctype=foo", "g", "2"}, "Invalid option -ctype=foo\n\n"},
           {{"-rtype=Fastest", "g", "2"}, "Invalid option -rtype=Fastest\n\n"},
           {{"-otype", "", "g", "2"}, "Invalid option -otype=\n\n"},
           {{"-otype=km", "g", "2"}, "Invalid option -otype=km\n\n"},
           {{"-otype=km1x", "g", "2"}, "Invalid option -otype=km1x\n\n"},
           {{"-ptype=foo", "-help"}, "Invalid option -ptype=foo\n\n"},
           {{"-nthreads=0", "g", "2"}, whole("nthreads", "0", "1 to 9223372036854775807")},
           {{"-seed=abc", "g", "2"}, whole("seed", "abc", kSeedRange)},
           {{"-seed=", "g", "2"}, whole("seed", "", kSeedRange)},
           {{"-seed=9223372036854775807", "g", "2"},
            whole("seed", "9223372036854775807", kSeedRange)},
           {{"-seed=1.5", "g", "2"}, whole("seed", "1.5", kSeedRange)},
           {{"-nruns=-5", "g", "2"}, whole("nruns", "-5", "0 to 2147483647")},
           {{"-nruns=abc", "g", "2"}, whole("nruns", "abc", "0 to 2147483647")},
           {{"-nvcycles=-1", "g", "2"}, whole("nvcycles", "-1", "0 to 2147483647")},
           {{"-dbglvl=-1", "g", "2"}, whole("dbglvl", "-1", "0 to 2147483647")},
           {{"-dbglvl=4294967297", "g", "2"}, whole("dbglvl", "4294967297", "0 to 2147483647")},
           {{"-cmaxnet=12x", "g", "2"}, whole("cmaxnet", "12x", "0 to 9223372036854775807")},
           {{"-rmaxnet=-2", "g", "2"}, whole("rmaxnet", "-2", "0 to 9223372036854775807")},
           {{"-coarsento=x", "g", "2"}, whole("coarsento", "x", "0 to 9223372036854775807")},
           {{"-epsilon=10.5", "g", "2"},
            "Invalid option -epsilon=10.5\nThe bound must be a number above 0 and at most 10.\n\n"},
           {{"g", "abc"}, "The number of partitions must be a whole number, not \"abc\".\n"},
           {{"g", "1e3"}, "The number of partitions must be a whole number, not \"1e3\".\n"},
           {{"g", "3.5"}, "The number of partitions must be a whole number, not \"3.5\".\n"},
           {{"g", "99999999999999999999"},
            "The number of partitions 99999999999999999999 is more than any hypergraph has "
            "cells.\n"},
           {{"-rtype=kpfast", "g", "2"}, "rtype=KPFAST cannot be used with ptype=rb.\n\n"},
           {{"-ptype=rb", "-rtype=KRANDOM", "g", "2"},
            "rtype=KRANDOM cannot be used with ptype=rb.\n\n"},
           {{"-ptype=kway", "-rtype=slow", "g", "2"},
            "rtype=SLOW cannot be used with ptype=kway.\n\n"},
           {{"/nonexistent/g.hgr", "1"}, fewparts},
           {{"/nonexistent/g.hgr", "0"}, fewparts},
           {{"/nonexistent/g.hgr", "+1"}, fewparts},
           {{"-ufactor=0", "/nonexistent/g.hgr", "4"}, "UBfactor should be greater than 0.1.\n\n"},
           {{"-ptype=kway", "-ufactor=0.5", "/nonexistent/g.hgr", "4"},
            "UBfactor should be greater than 1.\n\n"},
           {{"-epsilon=0", "g", "2"},
            "Invalid option -epsilon=0\nThe bound must be a number above 0 and at most 10.\n\n"},
           {{"-epsilon=0.03x", "g", "2"},
            "Invalid option -epsilon=0.03x\nThe bound must be a number above 0 and at most "
            "10.\n\n"},
           {{"-epsilon=nan", "g", "2"},
            "Invalid option -epsilon=nan\nThe bound must be a number above 0 and at most "
            "10.\n\n"},
           {{"-preset=best", "g", "2"}, "Invalid option -preset=best\n\n"},
           {{"-time=0", "g", "2"}, budget("0")},
           {{"-time=-3", "g", "2"}, budget("-3")},
           {{"-time=5s", "g", "2"}, budget("5s")},
           {{"-time=nan", "g", "2"}, budget("nan")},
           {{"-time=2e9", "g", "2"}, budget("2e9")},
       }) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    const RunResult r = Exec(c.args, c.env, "prog");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(r.out, "");
    if (c.parser_first) {
      ASSERT_GT(r.err.size(), c.err.size());
      EXPECT_EQ(r.err.substr(r.err.size() - c.err.size()), c.err);
    } else {
      EXPECT_EQ(r.err, c.err);
    }
  }
  // An unbalance factor is checked only where no -epsilon replaces it.
  TempDir dir;
  const std::string g = dir.Write("g.hgr", "2 4\n1 2\n3 4\n");
  EXPECT_EQ(Exec({"-ufactor=0", "-epsilon=0.5", "-dbglvl=0", g, "2"}).exit_code, 0);
  // k is bounded by the cells of the file: more parts than cells end at
  // once with status 2, whatever k (no run that grows with k), and leave no
  // file behind.
  for (const char* k : {"5", "2147483648", "9223372036854775807"}) {
    SCOPED_TRACE(k);
    const RunResult r = Exec({g, k});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "The number of partitions (" + std::string(k) + ") is more than the 4 cells of " +
                         g + ".\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"g.hgr", "g.hgr.part.2"}));
  // A thread count above the cores is capped there with a note; the run
  // goes on.
  const RunResult r = Exec({"-nthreads=1000000", "-dbglvl=0", g, "4"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.term_signal, 0);
  EXPECT_TRUE(std::regex_match(r.err, std::regex("Note: -nthreads=1000000 is more than the [0-9]+ "
                                                 "cores this process may use; [0-9]+ threads are "
                                                 "used \\(the partition does not depend on it\\)\\.\n")))
      << r.err;
  EXPECT_TRUE(veldan_test::FileExists(g + ".part.4"));
}

TEST(CommandLine, PosixlyCorrectStopsAtFirstOperand) {
  TempDir dir;
  const std::string g = dir.path() + "/missing.hgr";
  // Without it the trailing option is taken; the run goes on to the file.
  RunResult r = Exec({g, "4", "-nruns=5"});
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_EQ(r.err, "Hypergraph file " + g + " does not exist!\n\n");
}

// ---- end to end: runs on small generated hypergraphs ---------------------------

// 40 cells; nets: a ring of pairs, then triples (i, i+5, i+11).
std::string SmallHypergraph() {
  const int n = 40;
  std::ostringstream s;
  s << 2 * n << " " << n << "\n";
  for (int i = 0; i < n; i++) s << i + 1 << " " << (i + 1) % n + 1 << "\n";
  for (int i = 0; i < n; i++) s << i + 1 << " " << (i + 5) % n + 1 << " " << (i + 11) % n + 1 << "\n";
  return s.str();
}

std::vector<idx_t> ReadParts(const std::string& path) {
  std::vector<idx_t> parts;
  std::istringstream in(ReadFile(path));
  idx_t v;
  while (in >> v) parts.push_back(v);
  return parts;
}

std::vector<std::string> FolderEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The figure printed after a label of the summary.
double ReportFigure(const std::string& out, const std::string& label) {
  const std::size_t at = out.find(label);
  if (at == std::string::npos) return NAN;
  return std::strtod(out.c_str() + at + label.size(), nullptr);
}

const char kTimingPattern[] =
    "\n\nTiming Information -{57}\n  Partitioning Time:\t\t +[0-9]+\\.[0-9]{3}sec\n"
    "           I/O Time:\t\t +[0-9]+\\.[0-9]{3}sec\n\\*{79}\n$";

TEST(Runs, HeaderWithDefaults) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", SmallHypergraph());
  const RunResult r = Exec({g, "4"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string header =
      "*******************************************************************************\n"
      " VELDAN 2.0pre1  Copyright 2026, The veldan developers\n"
      "\n"
      "HyperGraph Information -----------------------------------------------------\n"
      " Name: " + g + ", #Vtxs:    40, #Hedges:    80, #Cons: 1\n"
      "\n"
      "Options --------------------------------------------------------------------\n"
      " ptype=rb, ctype=H1, rtype=FAST, otype=cut, dbglvl=8\n"
      " kwayrefine: No, reconstruct: No, fixed: No\n"
      " Nruns: 10, NV-cycles: 1, CMaxNet: 50, RMaxNet: 50, Seed: ";
  EXPECT_EQ(r.out.substr(0, header.size()), header);
  // The seed shown is the one drawn, and it repeats the run.
  std::smatch seed;
  ASSERT_TRUE(std::regex_search(r.out, seed,
                                std::regex("Seed: ([0-9]+)\n #Parts: 4, UBfactor:   5.00\n\n"
                                           "Partitioning\\.\\.\\. -{60}\n")))
      << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(kTimingPattern))) << r.out;
  const std::string first = ReadFile(g + ".part.4");
  ASSERT_EQ(Exec({"-seed=" + seed[1].str(), g, "4"}).exit_code, 0);
  EXPECT_EQ(ReadFile(g + ".part.4"), first);
}

TEST(Runs, HeaderWithOptions) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", SmallHypergraph());
  const RunResult r = Exec({"-ptype=KWAY", "-ctype=edge1", "-nruns=20", "-otype=soed",
                           "-kwayrefine", "-reconst", "-seed=7", "-dbglvl=0", "-ufactor=7.5",
                           "-nvcycles=2", "-cmaxnet=30", "-rmaxnet=1000", g, "3"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("\n ptype=kway, ctype=EDGE1, rtype=KRANDOM, otype=soed, dbglvl=0\n"
                       " kwayrefine: Yes, reconstruct: Yes, fixed: No\n"
                       " Nruns: 20, NV-cycles: 2, CMaxNet: 30, RMaxNet: 1000, Seed: 7\n"
                       " #Parts: 3, UBfactor:   7.50\n"),
            std::string::npos)
      << r.out;
}

// A preset sets nruns and nvcycles; options given override it wherever
// they stand, and the header names it.
TEST(Runs, PresetsAndTheOptionsThatOverrideThem) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", SmallHypergraph());
  const veldan::Options quality = veldan::PresetOptions(veldan::Preset::Quality);
  struct Case {
    std::vector<std::string> args;
    std::string settings;  // the header's line of runs, up to CMaxNet
    std::string preset;    // the header's preset line, or "" for none
  };
  const Case cases[] = {
      {{"-preset=fast"}, "Nruns: 2, NV-cycles: 0", "fast"},
      {{"-preset=FAST", "-nruns=3"}, "Nruns: 3, NV-cycles: 0", "fast"},
      {{"-nvcycles=1", "-preset=fast"}, "Nruns: 2, NV-cycles: 1", "fast"},
      {{"-preset=quality"},
       "Nruns: " + std::to_string(quality.nruns) + ", NV-cycles: " +
           std::to_string(quality.nvcycles),
       "quality"},
      {{"-preset=default"}, "Nruns: 10, NV-cycles: 1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-seed=5", "-output=" + dir.path() + "/p", g, "4"});
    const RunResult r = Exec(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(" " + c.settings + ", CMaxNet:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(" Preset: ") != std::string::npos, !c.preset.empty()) << r.out;
    if (!c.preset.empty()) {
      EXPECT_NE(r.out.find(" #Parts: 4, UBfactor:   5.00\n Preset: " + c.preset + "\n"),
                std::string::npos)
          << r.out;
    }
  }
  // The fast preset is those settings and nothing else.
  ASSERT_EQ(Exec({"-preset=fast", "-seed=5", "-output=" + dir.path() + "/a", g, "4"}).exit_code, 0);
  ASSERT_EQ(Exec({"-nruns=2", "-nvcycles=0", "-seed=5", "-output=" + dir.path() + "/b", g, "4"})
                .exit_code,
            0);
  EXPECT_EQ(ReadFile(dir.path() + "/a"), ReadFile(dir.path() + "/b"));
}

// Under -time the report names the runs and V-cycles made and the options
// that repeat the partition without a budget: they must give the same
// file, for both schemes and any thread count (the counts themselves
// depend on the machine's speed, the partition only on them).
TEST(Runs, TimeBudgetNamesTheOptionsThatRepeatIt) {
  const std::string g = std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr";
  TempDir dir;
  const std::regex made(
      "\n        Time Budget:\t\t   0\\.400sec, ([0-9]+) runs? and ([0-9]+) V-cycles? per "
      "(bisection|partitioning)\n                    \t\t (-nruns=[0-9]+ -nvcycles=[0-9]+"
      "(?: -ctype=[a-z0-9]+)?) -seed=9 repeat it\n");
  for (const std::string ptype : {"rb", "kway"}) {
    for (const std::string threads : {"1", "2"}) {
      SCOPED_TRACE(ptype + " " + threads + " threads");
      const RunResult r = Exec({"-ptype=" + ptype, "-time=0.4", "-seed=9", "-nthreads=" + threads,
                                "-output=" + dir.path() + "/timed", g, "4"});
      ASSERT_EQ(r.exit_code, 0) << r.err;
      EXPECT_NE(r.out.find(" Time budget: 0.4 sec (runs start while it lasts; Nruns not used)\n"),
                std::string::npos)
          << r.out;
      std::smatch m;
      ASSERT_TRUE(std::regex_search(r.out, m, made)) << r.out;
      EXPECT_GE(std::stol(m[1].str()), 1);
      EXPECT_EQ(m[3].str(), ptype == "rb" ? "bisection" : "partitioning");
      std::vector<std::string> args = {"-ptype=" + ptype, "-seed=9", "-dbglvl=0",
                                       "-output=" + dir.path() + "/repeat"};
      std::istringstream words(m[4].str());
      for (std::string w; words >> w;) args.push_back(w);
      args.insert(args.end(), {g, "4"});
      ASSERT_EQ(Exec(args).exit_code, 0);
      EXPECT_EQ(ReadFile(dir.path() + "/timed"), ReadFile(dir.path() + "/repeat"));
    }
  }
}

TEST(Runs, PartitionFileMatchesReport) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", SmallHypergraph());
  for (const std::string ptype : {"rb", "kway"}) {
    const RunResult r = Exec({"-ptype=" + ptype, "-seed=1", g, "4"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // One line per cell, every value a part; nothing else left in the folder.
    const std::string text = ReadFile(g + ".part.4");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 40);
    EXPECT_TRUE(std::regex_match(text, std::regex("([0-3]\n){40}")));
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"g.hgr", "g.hgr.part.4"}));

    // Recount the cut and the sum of external degrees from the file.
    const std::vector<idx_t> part = ReadParts(g + ".part.4");
    int cut = 0, soed = 0, km1 = 0;
    for (int i = 0; i < 40; i++) {
      const std::vector<int> nets[2] = {{i, (i + 1) % 40}, {i, (i + 5) % 40, (i + 11) % 40}};
      for (const auto& net : nets) {
        std::vector<bool> seen(4, false);
        for (int c : net) seen[part[c]] = true;
        const int span = static_cast<int>(std::count(seen.begin(), seen.end(), true));
        cut += span > 1;
        soed += span > 1 ? span : 0;
        km1 += span - 1;
      }
    }
    EXPECT_EQ(ReportFigure(r.out, "Hyperedge Cut:"), cut);
    EXPECT_EQ(ReportFigure(r.out, "Sum of External Degrees:"), soed);
    EXPECT_EQ(ReportFigure(r.out, "Connectivity - 1 (km1):"), km1);
  }
}

// km1 of the partition in file part of the hypergraph file hgr (formats 0,
// 1, 10 and 11; net weights count), counted here from the files alone.
double RecountKm1(const std::string& hgr, const std::string& part) {
  const std::vector<idx_t> where = ReadParts(part);
  std::istringstream in(ReadFile(hgr));
  std::string line;
  auto next = [&] {
    while (std::getline(in, line))
      if (!line.empty() && line[0] != '%') return true;
    return false;
  };
  next();
  long nnets = 0, ncells = 0, fmt = 0;
  std::istringstream(line) >> nnets >> ncells >> fmt;
  double km1 = 0.0;
  for (long e = 0; e < nnets && next(); e++) {
    std::istringstream pins(line);
    double w = 1.0;
    if (fmt % 10 == 1) pins >> w;
    std::vector<idx_t> parts;
    for (long c; pins >> c;) parts.push_back(where.at(c - 1));
    std::sort(parts.begin(), parts.end());
    km1 += w * static_cast<double>(std::unique(parts.begin(), parts.end()) - parts.begin() - 1);
  }
  return km1;
}

TEST(Runs, Km1ObjectiveCountedAndNotAboveTheCutRuns) {
  // Under -otype=km1 the report's km1 is that of the partition file, and
  // no higher than the km1 of the run that minimises the cut.
  TempDir dir;
  const std::string circuit = std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr";
  const std::string small = dir.Write("small.hgr", SmallHypergraph());
  struct Case {
    std::string g, ptype, k;
    std::vector<std::string> extra = {};
  };
  for (const Case& c : std::vector<Case>{{circuit, "kway", "8"},
                                         {circuit, "kway", "3", {"-rtype=kpfast"}},
                                         {circuit, "rb", "8"},
                                         {circuit, "rb", "5", {"-kwayrefine"}},
                                         {small, "kway", "4"}}) {
    SCOPED_TRACE(c.g + " " + c.ptype + " k=" + c.k);
    double km1[2] = {0.0, 0.0};
    for (const std::string otype : {"km1", "cut"}) {
      const std::string p = dir.path() + "/p." + otype;
      std::vector<std::string> args = {"-ptype=" + c.ptype, "-otype=" + otype, "-seed=3",
                                       "-output=" + p};
      args.insert(args.end(), c.extra.begin(), c.extra.end());
      args.insert(args.end(), {c.g, c.k});
      const RunResult r = Exec(args);
      ASSERT_EQ(r.exit_code, 0) << r.err;
      km1[otype == "cut"] = RecountKm1(c.g, p);
      EXPECT_EQ(ReportFigure(r.out, "Connectivity - 1 (km1):"), km1[otype == "cut"]) << r.out;
    }
    EXPECT_LE(km1[0], km1[1]);
  }
}

TEST(Runs, SeveralWeightsPerCell) {
  // Two weights per cell: the run succeeds and the report sums each
  // constraint over the parts to the file's totals (40 and 100).
  TempDir dir;
  std::string text = SmallHypergraph();
  text.replace(0, text.find('\n'), "80 40 10 2");
  for (int i = 0; i < 40; i++) text += "1 " + std::to_string(i % 2 ? 4 : 1) + "\n";
  const std::string g = dir.Write("g.hgr", text);
  const RunResult r = Exec({g, "2"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("#Cons: 2\n"), std::string::npos);
  const std::regex entry("\\( *([0-9.]+)  *([0-9.]+)\\)\\[ *[0-9.]+\\] ");
  double w0 = 0, w1 = 0;
  int nentries = 0;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), entry);
       it != std::sregex_iterator(); ++it, ++nentries) {
    w0 += std::stod((*it)[1]);
    w1 += std::stod((*it)[2]);
  }
  EXPECT_EQ(nentries, 2);
  EXPECT_EQ(w0, 40.0);
  EXPECT_EQ(w1, 100.0);
}

// ---- fixed-cell files ------------------------------------------------------------

// Six cells with weights 1 to 6 and four nets worked out by hand for the
// parts 0 0 1 1 2 2:
//   net 1, weight 5, cells 1-4: cut; parts 0 and 1 hold 2 pins each:
//          absorption 1/3 + 1/3
//   net 2, weight 2, cells 5 6: uncut, absorption 1
//   net 3, weight 1, cells 4 5: cut; parts 1 and 2 hold one pin each
//   net 4, weight 3, cell 6:    a single pin, absorption 1
// cut 5+1 = 6; external degrees 5, 5+1, 1: sum 12; part weights 3, 7, 11;
// scaled cost (5/3 + 6/7 + 1/11) / (6 * 2) = 0.2179; absorption 2.67.
const char kSixCells[] = "4 6 11\n5 1 2 3 4\n2 5 6\n1 4 5\n3 6\n1\n2\n3\n4\n5\n6\n";
const char kSixCellsSummary[] =
    "\n --------------------------------------------------------------------------"
    "\n  Summary for the 3-way partition:"
    "\n                Hyperedge Cut:          6.00\t\t(minimize)"
    "\n      Sum of External Degrees:         12.00\t\t(minimize)"
    "\n                  Scaled Cost:      2.18e-01\t\t(minimize)"
    "\n                   Absorption:          2.67\t\t(maximize)"
    "\n\n      Partition Sizes & External Degrees:\n\t"
    "(     3.000)[   5.000] (     7.000)[   6.000] (    11.000)[   1.000] \n\t"
    // Then the figures after the summary: 11 / 7 - 1, and km1 = 12 - 6.
    "\n"
    "\n                    Imbalance:        0.5714\t\t(heaviest part / average - 1)"
    "\n       Connectivity - 1 (km1):          6.00\t\t(minimize)"
    "\n\nTiming Information";

TEST(FixedCells, EveryCellFixedGivesHandWorkedReport) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", kSixCells);
  const std::string f = dir.Write("fixed", "0\n0\n1\n1\n2\n2\n");
  for (const std::string ptype : {"rb", "kway"}) {
    const RunResult r = Exec({"-ptype=" + ptype, "-fixed=" + f, g, "3"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(" kwayrefine: No, reconstruct: No, fixed: Yes\n"), std::string::npos);
    EXPECT_EQ(ReadFile(g + ".part.3"), "0\n0\n1\n1\n2\n2\n");
    EXPECT_NE(r.out.find(kSixCellsSummary), std::string::npos) << r.out;
  }
}

TEST(FixedCells, FileNamedAfterNpartsWithEmptyParts) {
  // Part 3 of 4 stays empty: the file still carries 4, and an earlier
  // result for 3 parts stays as it was.
  TempDir dir;
  const std::string g = dir.Write("g.hgr", kSixCells);
  const std::string earlier = dir.Write("g.hgr.part.3", "earlier\n");
  const std::string f = dir.Write("fixed", "0\n0\n1\n1\n2\n2\n");
  const RunResult r = Exec({"-fixed=" + f, g, "4"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(g + ".part.4"), "0\n0\n1\n1\n2\n2\n");
  EXPECT_EQ(ReadFile(earlier), "earlier\n");
  // An empty part must not make the scaled cost meaningless.
  EXPECT_EQ(r.out.find("nan"), std::string::npos);
  EXPECT_EQ(ReportFigure(r.out, "Empty parts:"), 1.0) << r.out;
}

TEST(FixedCells, PartitionFileFixesEveryCell) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", SmallHypergraph());
  ASSERT_EQ(Exec({"-seed=3", g, "5"}).exit_code, 0);
  const std::string first = ReadFile(g + ".part.5");
  const std::string prev = dir.Write("prev", first);
  const RunResult r = Exec({"-seed=4", "-fixed=" + prev, g, "5"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(g + ".part.5"), first);
}

TEST(FixedCells, KwayKeepsFixedCellsAndFreesTheOthers) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", SmallHypergraph());
  std::string fixed;
  for (int i = 0; i < 40; i++) fixed += (i % 10 == 0) ? std::to_string(i / 10) + "\n" : "-1\n";
  const std::string f = dir.Write("fixed", fixed);
  const RunResult r = Exec({"-ptype=kway", "-fixed=" + f, g, "4"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<idx_t> part = ReadParts(g + ".part.4");
  ASSERT_EQ(part.size(), 40u);
  for (int i = 0; i < 40; i += 10) EXPECT_EQ(part[i], i / 10) << "cell " << i + 1;
}

TEST(FixedCells, LargestValueAtNpartsRejected) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", kSixCells);
  const std::string f = dir.Write("fixed", "-1\n-1\n2\n-1\n0\n1\n");
  const RunResult r = Exec({"-fixed=" + f, g, "2"});
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Input Error:\n\tThe file " + f +
                       " contains more than 2 sets of pre-assigned vertices.\n"
                       "\tLine 3 puts cell 3 in part 2; the parts are 0 to 1.\n\n");
  EXPECT_FALSE(veldan_test::FileExists(g + ".part.2"));
  // One part fewer than nparts is accepted.
  EXPECT_EQ(Exec({"-fixed=" + f, g, "3"}).exit_code, 0);
}

// Every fixed-cell file that does not give exactly one value per cell, one
// per line, is refused with the file and the line.
TEST(FixedCells, MalformedFilesRejected) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", kSixCells);
  std::filesystem::create_directory(dir.path() + "/folder");
  struct Case {
    std::string text;
    std::string message;  // after "Fixed-cell file <name>"
  };
  for (const Case& c : std::vector<Case>{
           {"0\r\n0\r\n-2\r\n1\n1\n1\n",
            ", line 3: cell 3 has the value -2; a value is -1 (free) or a part number.\n"},
           {"0\n0\n1\n", " holds 3 values for 6 cells.\n"},
           {"", " holds 0 values for 6 cells.\n"},
           {"0\n1x\n1\n1\n1\n1\n", ", line 2: the value for cell 2 is not a number (\"1x\").\n"},
           {"0\n\n-\n1\n1\n1\n", ", line 3: the value for cell 2 is not a number (\"-\").\n"},
           {"0\n1\n1.0\n1\n1\n1\n", ", line 3: the value for cell 3 is not a number (\"1.0\").\n"},
           {"0\n1\n-99999999999999999999\n1\n1\n1\n",
            ", line 3: cell 3 has the value -9223372036854775807; a value is -1 (free) or a part "
            "number.\n"},
           {"0\n1\n0\n1\n0\n1\n0\n",
            ", line 7: the file goes on after the value of its last cell (6 cells): \"0\".\n"},
           {"0\n1\n0\n1\n0\n1\n\n% done\n",
            ", line 8: the file goes on after the value of its last cell (6 cells): \"% done\".\n"},
           {"0\n1 0\n1\n0\n1\n0\n", ", line 2: one value per line, but the line holds \"1 0\".\n"},
           {"0\n1\n0\n1\n0\n1 trailing text\n",
            ", line 6: one value per line, but the line holds \"1 trailing text\".\n"},
       }) {
    SCOPED_TRACE(c.text);
    const std::string f = dir.Write("fixed", c.text);
    const RunResult r = Exec({"-fixed=" + f, g, "2"});
    EXPECT_EQ(r.exit_code, 254);
    EXPECT_EQ(r.err, "Fixed-cell file " + f + c.message + "\n");
    EXPECT_EQ(r.out, "");
  }
  RunResult r = Exec({"-fixed=" + dir.path() + "/folder", g, "2"});
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_EQ(r.err, "Fixed-cell file " + dir.path() + "/folder is a folder, not a file.\n\n");
  r = Exec({"-fixed=" + dir.path() + "/none", g, "2"});
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_NE(r.err.find("mode: r, [ReadPartition: partfile]"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Failed on ax_fopen()\n"), std::string::npos);
}

TEST(FixedCells, BlanksAroundValuesAndBlankLines) {
  TempDir dir;
  const std::string f = dir.Write("fixed", "\xEF\xBB\xBF  3 \n\n\t+2\r\n-1\n0\n7\n1\n\n \n");
  std::vector<idx_t> part(6, 0);
  veldan::ReadPartition(6, part.data(), f.c_str());
  EXPECT_EQ(part, (std::vector<idx_t>{3, 2, -1, 0, 7, 1}));
}

// ---- partition file writing --------------------------------------------------------

TEST(PartitionFile, LongNameAndContent) {
  TempDir dir;
  // A path far beyond 256 characters.
  std::string sub = dir.path();
  for (int i = 0; i < 3; i++) {
    sub += "/" + std::string(150, static_cast<char>('a' + i));
    std::filesystem::create_directory(sub);
  }
  const std::string g = sub + "/g.hgr";
  const std::vector<idx_t> part = {2, 0, 11, 11, 3};
  veldan::WriteHGraphPart(5, part.data(), g.c_str(), 16);
  EXPECT_EQ(ReadFile(g + ".part.16"), "2\n0\n11\n11\n3\n");
  EXPECT_EQ(FolderEntries(sub), (std::vector<std::string>{"g.hgr.part.16"}));
}

TEST(PartitionFile, FailedWriteLeavesNothingBehind) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", kSixCells);
  const std::string f = dir.Write("fixed", "0\n0\n1\n1\n2\n2\n");
  // The file's name is taken by a folder, so it cannot be put in place.
  std::filesystem::create_directory(g + ".part.3");
  const RunResult r = Exec({"-fixed=" + f, g, "3"});
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_EQ(r.err, "Failed to write the partition file " + g + ".part.3: Is a directory\n\n");
  EXPECT_EQ(FolderEntries(dir.path()),
            (std::vector<std::string>{"fixed", "g.hgr", "g.hgr.part.3"}));
}

TEST(PartitionFile, UnwritableFolder) {
  // A folder that does not exist cannot take the file; the failure is
  // reported the way the file opener reports it.
  const std::string g = "/nonexistent-folder/g.hgr";
  const std::vector<idx_t> part = {0, 1};
  EXPECT_EXIT(veldan::WriteHGraphPart(2, part.data(), g.c_str(), 2), ::testing::ExitedWithCode(254),
              "file: /nonexistent-folder/g.hgr.part.2, mode: w, \\[WriteHGraphPart: partfile\\]: "
              "No such file or directory\nFailed on ax_fopen\\(\\)");
}

TEST(PartitionFile, OutputOptionFailsBeforePartitioning) {
  // A folder that cannot take the file is found before the work is done:
  // nothing is printed but the failure.
  TempDir dir;
  const std::string g = dir.Write("g.hgr", SmallHypergraph());
  const RunResult r = Exec({"-output=" + dir.path() + "/none/p", g, "2"});
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "file: " + dir.path() + "/none/p, mode: w, [WriteHGraphPart: partfile]: "
                   "No such file or directory\nFailed on ax_fopen()\n\n");
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"g.hgr"});
}

// Where -output points decides how the partition gets there: a file or a
// new name is replaced through a temporary file, a symbolic link is
// followed (the link stays), a pipe and standard output are written
// through, and an input is never overwritten.
TEST(PartitionFile, OutputTargets) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", kSixCells);
  const std::string f = dir.Write("fixed", "0\n0\n1\n1\n2\n2\n");
  const std::string parts = "0\n0\n1\n1\n2\n2\n";
  const std::string kept = dir.Write("kept", "kept\n");
  std::filesystem::create_symlink("kept", dir.path() + "/link");
  std::filesystem::create_symlink("new-target", dir.path() + "/dangling");
  std::filesystem::create_symlink("g.hgr", dir.path() + "/to-input");
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string output;  // -output=, relative to the folder unless "-"
    int status;
    std::string file;    // where the partition must be ("" none)
    std::string err;     // exactly, <D> the folder
  };
  const std::string refused =
      " is the input file <D>/INPUT; the partition is not written over an input (name another "
      "file with -output).\n";
  auto refusal = [&](const std::string& out, const std::string& input) {
    std::string e = "The partition file <D>/" + out + refused;
    e.replace(e.find("INPUT"), 5, input);
    return e;
  };
  for (const Case& c : std::vector<Case>{
           {"plain", 0, "plain", ""},
           {"link", 0, "kept", ""},
           {"dangling", 0, "new-target", ""},
           {"fifo", 0, "", ""},
           {"-", 0, "", ""},
           {"g.hgr", 2, "", refusal("g.hgr", "g.hgr")},
           {"to-input", 2, "", refusal("to-input", "g.hgr")},
           {"fixed", 2, "", refusal("fixed", "fixed")},
       }) {
    SCOPED_TRACE(c.output);
    const std::string target = c.output == "-" ? c.output : dir.path() + "/" + c.output;
    // A reader for the pipe, as a shell would start one.
    std::string piped;
    std::thread reader;
    if (c.output == "fifo") reader = std::thread([&] { piped = ReadFile(fifo); });
    const RunResult r = Exec({"-fixed=" + f, "-dbglvl=0", "-output=" + target, g, "3"});
    if (reader.joinable()) reader.join();
    std::string err = c.err;
    for (std::size_t at; (at = err.find("<D>")) != std::string::npos;) err.replace(at, 3, dir.path());
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_EQ(r.err, err);
    if (!c.file.empty()) {
      EXPECT_EQ(ReadFile(dir.path() + "/" + c.file), parts);
    }
    if (c.output == "fifo") {
      EXPECT_EQ(piped, parts);
    }
    if (c.output == "-") {
      EXPECT_NE(r.out.find("\n" + parts + "\n --------"), std::string::npos) << r.out;
    }
    if (c.status != 0) {
      EXPECT_EQ(r.out, "");
    }
  }
  // Links stay links, the pipe stays a pipe, inputs stay as they were, and
  // nothing else is left in the folder.
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() + "/link"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() + "/dangling"));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_EQ(ReadFile(g), kSixCells);
  EXPECT_EQ(ReadFile(f), parts);
  EXPECT_EQ(FolderEntries(dir.path()),
            (std::vector<std::string>{"dangling", "fifo", "fixed", "g.hgr", "kept", "link",
                                      "new-target", "plain", "to-input"}));
}

// -epsilon bounds every part for any k, in both schemes: checked on the
// partition file, which -output puts where asked.
TEST(Runs, EpsilonBoundsEveryPart) {
  TempDir dir;
  const std::string g = std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr";
  const std::string out = dir.path() + "/p";
  const int ncells = 3000;
  for (const std::string ptype : {"rb", "kway"})
    for (const int k : {3, 5, 7, 12}) {
      SCOPED_TRACE(ptype + " k=" + std::to_string(k));
      const RunResult r = Exec({"-ptype=" + ptype, "-epsilon=0.03", "-seed=2", "-dbglvl=0",
                                "-output=" + out, g, std::to_string(k)});
      ASSERT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(r.err, "");
      EXPECT_FALSE(veldan_test::FileExists(g + ".part." + std::to_string(k)));
      std::vector<int> size(k, 0);
      for (const idx_t p : ReadParts(out)) size.at(p)++;
      const double avg = static_cast<double>(ncells) / k;
      const int heaviest = *std::max_element(size.begin(), size.end());
      EXPECT_LE(heaviest, std::max(1.03 * avg, std::ceil(avg)));
      EXPECT_NEAR(ReportFigure(r.out, "Imbalance:"), heaviest / avg - 1.0, 1e-4);
      EXPECT_NE(r.out.find("Balance bound:          held\t\t(every part at most 1.0300 x "
                           "average)"),
                std::string::npos)
          << r.out;
      EXPECT_NE(r.out.find(" #Parts: " + std::to_string(k) + ", UBfactor:   3.00\n Epsilon: 0.03"),
                std::string::npos);
    }
}

std::string CircuitWithWeights(int ncon, std::vector<std::vector<int>>* weights);

// -partweights: every part within (1 + epsilon) x its own target (at least
// the target rounded up: integer weights), or with -ufactor within the
// k-way unbalance of its target; a part of target 0 stays empty and the
// report says so. With two weights per cell (a skewed area and a unit
// weight) every weight of every part has its own target. Checked on the
// partition file.
TEST(Runs, PartWeightsBoundEveryPart) {
  TempDir dir;
  const std::string out = dir.path() + "/p";
  std::vector<std::vector<int>> w2;
  const std::string graph[2] = {std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr",
                                dir.Write("w2.hgr", CircuitWithWeights(2, &w2))};
  const std::vector<std::vector<int>> w1(1, std::vector<int>(w2[0].size(), 1));
  struct Case {
    std::vector<double> targets;  // k x ncon, part by part
    std::string balance;  // -epsilon=.. or -ufactor=..
    double factor;        // of each part's target
    bool fixed = false;   // cells 0..39 fixed to part i mod k
    int ncon = 1;
  };
  const Case cases[] = {
      {{0.1, 0.2, 0.3, 0.4}, "-epsilon=0.03", 1.03},
      {{0.5, 0.25, 0.125, 0.125}, "-epsilon=0.03", 1.03},
      {{0.6, 0.3, 0.1}, "-epsilon=0.01", 1.01},
      {{0.25, 0.0, 0.75}, "-epsilon=0.03", 1.03},
      {{0.7, 0.2, 0.1}, "-ufactor=5", 1.05},
      {{0.1, 0.2, 0.3, 0.4}, "-epsilon=0.03", 1.03, true},
      {{0.1, 0.25, 0.2, 0.25, 0.3, 0.25, 0.4, 0.25}, "-epsilon=0.03", 1.03, false, 2},
      {{0.25, 0.25, 0.0, 0.0, 0.5, 0.25, 0.25, 0.5}, "-epsilon=0.03", 1.03, false, 2},
      {{0.6, 0.3, 0.3, 0.35, 0.1, 0.35}, "-epsilon=0.05", 1.05, true, 2},
  };
  for (const Case& c : cases)
    for (const std::string ptype : {"rb", "kway"}) {
      // Under -ufactor the bound is the k-way one.
      if (c.balance[1] == 'u' && ptype == "rb") continue;
      const int k = static_cast<int>(c.targets.size()) / c.ncon;
      const std::vector<std::vector<int>>& weight = (c.ncon == 2) ? w2 : w1;
      std::string text;
      for (std::size_t i = 0; i < c.targets.size(); i++)
        text += std::to_string(c.targets[i]) + ((i + 1) % c.ncon == 0 ? "\n" : " ");
      const std::string w = dir.Write("weights", text);
      std::string fixed;
      for (int i = 0; i < 3000; i++) fixed += std::to_string(i < 40 ? i % k : -1) + "\n";
      const std::string f = dir.Write("fixed", fixed);
      SCOPED_TRACE(ptype + " " + c.balance + " " + text + (c.fixed ? " fixed" : ""));
      const RunResult r =
          Exec({"-ptype=" + ptype, c.balance, "-seed=3", "-dbglvl=0", "-nruns=3",
                c.fixed ? "-fixed=" + f : "-nvcycles=1", "-partweights=" + w, "-output=" + out,
                graph[c.ncon - 1], std::to_string(k)});
      ASSERT_EQ(r.exit_code, 0) << r.err;
      const std::vector<idx_t> part = ReadParts(out);
      ASSERT_EQ(part.size(), weight[0].size());
      for (int i = 0; c.fixed && i < 40; i++) EXPECT_EQ(part[i], i % k) << "cell " << i;
      int zero = 0;
      for (int p = 0; p < k; p++) {
        bool empty = true;
        for (int j = 0; j < c.ncon; j++) {
          double load = 0.0, total = 0.0;
          for (std::size_t i = 0; i < part.size(); i++) {
            total += weight[j][i];
            load += (part[i] == p) ? weight[j][i] : 0;
          }
          const double target = c.targets[p * c.ncon + j] * total;
          EXPECT_LE(load, std::max(c.factor * target, std::ceil(target)))
              << "part " << p << " weight " << j;
          empty = empty && c.targets[p * c.ncon + j] == 0.0;
        }
        zero += empty;
      }
      const bool eps = c.balance[1] == 'e';
      char factor[16];
      std::snprintf(factor, sizeof factor, "%.4f", c.factor);
      EXPECT_EQ(r.out.find("Balance bound:          held\t\t(every part at most " +
                           std::string(factor) + " x its target)") != std::string::npos,
                eps)
          << r.out;
      EXPECT_EQ(r.out.find("Parts of target 0:" + std::string(13, ' ') + std::to_string(zero) +
                           "\t\t(may stay empty)") != std::string::npos,
                zero > 0)
          << r.out;
    }
}

// A part-weight file that is not k lines of ncon fractions each, each at
// least 0, those of every weight summing to 1, is refused with the file and
// the line.
TEST(PartWeights, MalformedFilesRejected) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", kSixCells);
  std::filesystem::create_directory(dir.path() + "/folder");
  const std::string g2 = dir.Write("g2.hgr", "4 6 11 2\n5 1 2 3 4\n2 5 6\n1 4 5\n3 6\n"
                                             "1 2\n2 1\n3 1\n4 2\n5 1\n6 1\n");
  struct Case {
    std::string text;
    std::string message;  // after "Part-weight file <name>"
    int ncon = 1;         // weights per cell of the hypergraph
  };
  for (const Case& c : std::vector<Case>{
           {"0.5\n0.25\n", " holds 2 lines for 3 parts.\n"},
           {"0.5\n0.25\n0.25\n0\n",
            ", line 4: the file goes on after the weights of its last part (3 parts): \"0\".\n"},
           {"0.5\n0.5x\n0\n", ", line 2: the weight of part 1 is not a number (\"0.5x\").\n"},
           {"0.5\n\nnan\n0.5\n", ", line 3: the weight of part 1 is not a number (\"nan\").\n"},
           {"0.75\n0.5\n-0.25\n",
            ", line 3: part 2 has the weight -0.25; a weight is a fraction of at least 0.\n"},
           {"0.5 0.5\n0.25\n0.25\n",
            ", line 1: 1 fraction per line (one per weight of a cell), but the line holds "
            "\"0.5 0.5\".\n"},
           {"0.5\n0.25\n0.2\n", ", line 3 (the last): the weights sum to 0.95, not 1.\n"},
           {"0.5\n0.25\n0.2500011\n",
            ", line 3 (the last): the weights sum to 1.0000011, not 1.\n"},
           // Two weights per cell: two fractions on every line, each column
           // summing to 1.
           {"0.5 0.5\n0.25\n0.25 0.25\n",
            ", line 2: 2 fractions per line (one per weight of a cell), but the line holds "
            "\"0.25\".\n", 2},
           {"0.5 0.5\n0.25 -0.25\n0.25 0.75\n",
            ", line 2: part 1 has the weight -0.25; a weight is a fraction of at least 0.\n", 2},
           {"0.5 0.5\n0.25 0.25\n0.25 0.2\n",
            ", line 3 (the last): the weights in column 2 sum to 0.95, not 1.\n", 2},
           {"0.5 0.5\n0.25 0.25\n0.25 x\n",
            ", line 3: the weight of part 2 is not a number (\"x\").\n", 2},
       }) {
    SCOPED_TRACE(c.text);
    const std::string f = dir.Write("weights", c.text);
    const RunResult r = Exec({"-partweights=" + f, c.ncon == 2 ? g2 : g, "3"});
    EXPECT_EQ(r.exit_code, 254);
    EXPECT_EQ(r.err, "Part-weight file " + f + c.message + "\n");
    EXPECT_EQ(r.out, "");
  }
  // Within 1e-6 of 1 is taken.
  const std::string f = dir.Write("weights", "0.5\n0.25\n0.2500009\n");
  EXPECT_EQ(Exec({"-partweights=" + f, "-output=" + dir.path() + "/p", g, "3"}).exit_code, 0);
  RunResult r = Exec({"-partweights=" + dir.path() + "/folder", g, "3"});
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_EQ(r.err, "Part-weight file " + dir.path() + "/folder is a folder, not a file.\n\n");
  r = Exec({"-partweights=" + dir.path() + "/none", g, "3"});
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_NE(r.err.find("mode: r, [ReadPartWeights: weightfile]"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Failed on ax_fopen()\n"), std::string::npos);
}

// circuit1.hgr with ncon weights per cell: a skewed "area" (mostly small,
// every 97th cell a hundred times larger), a unit weight and the degree.
std::string CircuitWithWeights(int ncon, std::vector<std::vector<int>>* weights) {
  const std::string text = ReadFile(std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr");
  std::istringstream in(text);
  std::string line;
  std::vector<std::string> nets;
  int nnets = 0, ncells = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '%') continue;
    if (nnets == 0) {
      std::istringstream(line) >> nnets >> ncells;
      continue;
    }
    nets.push_back(line);
  }
  std::vector<int> degree(ncells, 0);
  for (const std::string& net : nets) {
    std::istringstream pins(net);
    int c;
    while (pins >> c) degree.at(c - 1)++;
  }
  std::ostringstream out;
  out << nnets << " " << ncells << " 10 " << ncon << "\n";
  for (const std::string& net : nets) out << net << "\n";
  weights->assign(ncon, std::vector<int>(ncells));
  for (int i = 0; i < ncells; i++) {
    const int w[3] = {(i % 97 == 0) ? 300 : 1 + (i * 7) % 5, 1, degree[i]};
    for (int j = 0; j < ncon; j++) {
      (*weights)[j][i] = w[j];
      out << (j ? " " : "") << w[j];
    }
    out << "\n";
  }
  return out.str();
}

TEST(Runs, EveryWeightWithinTheBound) {
  // Both schemes balance each of two or three weights of every part within
  // (1 + epsilon) x its average (rounded up for integer weights), checked
  // on the partition file.
  TempDir dir;
  const std::string out = dir.path() + "/p";
  for (const int ncon : {2, 3}) {
    std::vector<std::vector<int>> w;
    const std::string g = dir.Write(ncon == 2 ? "w2.hgr" : "w3.hgr", CircuitWithWeights(ncon, &w));
    for (const std::string ptype : {"rb", "kway"})
      for (const int k : {2, 3, 5, 8}) {
        SCOPED_TRACE(ptype + " k=" + std::to_string(k) + " ncon=" + std::to_string(ncon));
        const RunResult r = Exec({"-ptype=" + ptype, "-epsilon=0.05", "-seed=1", "-dbglvl=0",
                                  "-output=" + out, g, std::to_string(k)});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find("Balance bound:          held"), std::string::npos);
        const std::vector<idx_t> part = ReadParts(out);
        ASSERT_EQ(part.size(), w[0].size());
        for (int j = 0; j < ncon; j++) {
          std::vector<double> pw(k, 0.0);
          double total = 0.0;
          for (std::size_t i = 0; i < part.size(); i++) {
            pw.at(part[i]) += w[j][i];
            total += w[j][i];
          }
          const double avg = total / k;
          const double heaviest = *std::max_element(pw.begin(), pw.end());
          EXPECT_LE(heaviest, std::max(1.05 * avg, std::ceil(avg))) << "weight " << j + 1;
          const std::string label = "Imbalance of weight " + std::to_string(j + 1) + ":";
          EXPECT_NEAR(ReportFigure(r.out, label), heaviest / avg - 1.0, 1e-4) << label;
        }
      }
  }
}

TEST(Runs, UnreachableBoundEndsWithItsOwnStatus) {
  // Under -epsilon a bound that no partition can meet gives status 4 and
  // the reason; one that this run did not meet (here no split of 10, 10,
  // 10 and 1 into two parts keeps both at 16 or less) status 5. The
  // partition file is written either way.
  TempDir dir;
  struct Case {
    const char* text;
    const char* k;
    int status;
    const char* factor;
    const char* reason;
  };
  const Case cases[] = {
      {"2 4 10 2\n1 2\n3 4\n1 1\n1 1\n50 1\n1 1\n", "2", 4, "1.0300",
       "No partition can meet the balance bound: cell 3 alone weighs 50 in weight 1, more than "
       "the bound of 27.295.\n"},
      {"2 4 10\n1 2\n3 4\n10\n10\n10\n1\n", "2", 5, "1.0323", ""},
  };
  for (const Case& c : cases)
    for (const std::string ptype : {"rb", "kway"}) {
      SCOPED_TRACE(ptype + " " + c.text);
      const std::string g = dir.Write("g.hgr", c.text);
      std::remove((g + ".part." + c.k).c_str());
      const RunResult r = Exec({"-ptype=" + ptype, "-epsilon=0.03", "-dbglvl=0", g, c.k});
      EXPECT_EQ(r.exit_code, c.status) << r.err;
      std::string expected = "The balance bound was not met: a part weighs more than ";
      expected.append(c.factor).append(" times the average part weight.\n").append(c.reason);
      EXPECT_EQ(r.err, expected);
      EXPECT_EQ(ReadParts(g + ".part." + c.k).size(), 4u);
    }
}

// ---- the quality report in-process --------------------------------------------------

std::string Report(idx_t nvtxs, idx_t ncon, idx_t nparts, const std::vector<idx_t>& netptr,
                   const std::vector<idx_t>& netind, const real_t* netwgt, const real_t* cellwgt,
                   const std::vector<idx_t>& part) {
  ::testing::internal::CaptureStdout();
  veldan::HGraphView h;
  h.nvtxs = nvtxs;
  h.nnets = static_cast<idx_t>(netptr.size()) - 1;
  h.ncon = ncon;
  const std::vector<veldan::pin_t> pins = veldan_test::Pins(netind);
  h.netptr = netptr.data();
  h.netind = pins.data();
  h.netwgt = netwgt;
  h.cellwgt = cellwgt;
  veldan::ComputePartCuts(h, nparts, part.data());
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

TEST(QualityReport, NetSplitTwoAndTwo) {
  // One net of weight 5 with pins two in part 0 and two in part 1: cut 5,
  // SOED 10, absorption 2/3; scaled cost (5/2 + 5/2) / (4 * 1) = 1.25.
  const real_t netwgt[] = {5.0f};
  const std::string out = Report(4, 1, 2, {0, 4}, {0, 1, 2, 3}, netwgt, nullptr, {0, 1, 0, 1});
  EXPECT_EQ(out,
            "\n --------------------------------------------------------------------------"
            "\n  Summary for the 2-way partition:"
            "\n                Hyperedge Cut:          5.00\t\t(minimize)"
            "\n      Sum of External Degrees:         10.00\t\t(minimize)"
            "\n                  Scaled Cost:      1.25e+00\t\t(minimize)"
            "\n                   Absorption:          0.67\t\t(maximize)"
            "\n\n      Partition Sizes & External Degrees:\n\t"
            "(     2.000)[   5.000] (     2.000)[   5.000] ");
}

TEST(QualityReport, NothingCut) {
  // Three nets inside parts (one a single pin): zero cost, absorption 3.
  const std::string out =
      Report(4, 1, 2, {0, 2, 3, 5}, {0, 1, 1, 2, 3}, nullptr, nullptr, {0, 0, 1, 1});
  EXPECT_NE(out.find("Hyperedge Cut:          0.00\t"), std::string::npos);
  EXPECT_NE(out.find("Sum of External Degrees:          0.00\t"), std::string::npos);
  EXPECT_NE(out.find("Scaled Cost:      0.00e+00\t"), std::string::npos);
  EXPECT_NE(out.find("Absorption:          3.00\t"), std::string::npos);
}

TEST(QualityReport, TwoWeightsSevenPartsLayout) {
  // Cell i sits alone in part i with weights (i+1, 0.5); one net joins
  // cells 1 and 2, so parts 0 and 1 have external degree 2 (its weight).
  std::vector<real_t> cellwgt;
  for (int i = 0; i < 7; i++) {
    cellwgt.push_back(static_cast<real_t>(i + 1));
    cellwgt.push_back(0.5f);
  }
  const real_t netwgt[] = {2.0f};
  const std::string out = Report(7, 2, 7, {0, 2}, {0, 1}, netwgt, cellwgt.data(),
                                 {0, 1, 2, 3, 4, 5, 6});
  const std::string table = out.substr(out.find("Degrees:\n\t") + 10);
  EXPECT_EQ(table,
            "(     1.000      0.500)[   2.000] (     2.000      0.500)[   2.000] "
            "(     3.000      0.500)[   0.000] \n\t"
            "(     4.000      0.500)[   0.000] (     5.000      0.500)[   0.000] "
            "(     6.000      0.500)[   0.000] \n\t"
            "(     7.000      0.500)[   0.000] ");
  // Each part's degree is scaled by the sum of its two weights:
  // (2/1.5 + 2/2.5) / (7 * 6) = 0.0508.
  EXPECT_NE(out.find("Scaled Cost:      5.08e-02\t"), std::string::npos) << out;
}

TEST(QualityReport, PartOutsideRangeIsAFault) {
  EXPECT_EXIT(Report(2, 1, 2, {0, 2}, {0, 1}, nullptr, nullptr, {0, 2}),
              ::testing::ExitedWithCode(254), "cell 2 is in part 2, outside 0 to 1");
}

// The partition file and the report (timers aside) of a seed do not depend
// on the number of threads: every scheme's runs, V-cycles and recursion
// halves go in parallel, each with its own random stream and output.
TEST(Threads, SameFileAndReportForAnyThreadCount) {
  const std::string text = ReadFile(std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr");
  ASSERT_FALSE(text.empty());
  auto untimed = [](const std::string& out) {
    std::istringstream in(out);
    std::string kept;
    for (std::string line; std::getline(in, line);)
      if (line.find("Time:") == std::string::npos) kept += line + "\n";
    return kept;
  };
  for (const std::vector<std::string>& scheme :
       {std::vector<std::string>{"-ptype=rb", "-kwayrefine"},
        std::vector<std::string>{"-ptype=kway", "-nvcycles=3"}}) {
    std::string file1, report1;
    veldan_test::TempDir dir;  // one name: the report names the file
    const std::string g = dir.Write("g.hgr", text);
    for (const char* threads : {"-nthreads=1", "-nthreads=3"}) {
      SCOPED_TRACE(scheme[0] + " " + threads);
      std::vector<std::string> args = scheme;
      for (const char* a : {"-seed=5", "-dbglvl=159", "-nruns=4"}) args.push_back(a);
      args.push_back(threads);
      args.push_back(g);
      args.push_back("6");
      const RunResult r = veldan_test::Run(args);
      ASSERT_EQ(r.exit_code, 0) << r.err;
      const std::string file = ReadFile(g + ".part.6");
      ASSERT_FALSE(file.empty());
      std::remove((g + ".part.6").c_str());
      if (file1.empty()) {
        file1 = file;
        report1 = untimed(r.out);
      } else {
        EXPECT_EQ(file, file1);
        EXPECT_EQ(untimed(r.out), report1);
      }
    }
  }
}

// Levels large enough to be split into chunks (a generated grid of 12000
// cells with local nets and a few long ones), under every preset: the same
// file for one thread and for two.
TEST(Threads, SameFileForEveryPresetOnLevelsSplitIntoChunks) {
  std::string large;
  {
    const idx_t side = 120, ncells = side * 100;
    std::vector<std::string> nets;
    std::uint64_t x = 12345;
    auto draw = [&x](idx_t n) {
      x = x * 6364136223846793005ULL + 1442695040888963407ULL;
      return static_cast<idx_t>((x >> 33) % static_cast<std::uint64_t>(n));
    };
    for (idx_t c = 0; c < ncells; c++) {
      std::ostringstream net;
      net << c + 1;
      if (c % side + 1 < side) net << ' ' << c + 2;
      if (c + side < ncells) net << ' ' << c + side + 1;
      nets.push_back(net.str());
      if (c % 50 == 0) {
        std::ostringstream wide;
        wide << c + 1;
        for (int p = 0; p < 8; p++) wide << ' ' << (c + 1 + draw(3 * side)) % ncells + 1;
        nets.push_back(wide.str());
      }
    }
    std::ostringstream text;
    text << nets.size() << ' ' << ncells << '\n';
    for (const std::string& n : nets) text << n << '\n';
    large = text.str();
  }
  const std::string circuit = std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr";
  TempDir dir;
  const std::string g = dir.Write("large.hgr", large);
  struct Case {
    std::string input, preset, ptype;
  };
  const Case cases[] = {{g, "fast", "rb"}, {g, "fast", "kway"}, {g, "default", "rb"},
                        {circuit, "quality", "kway"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + " " + c.preset + " " + c.ptype);
    std::string first;
    for (const char* threads : {"-nthreads=1", "-nthreads=2"}) {
      const std::string out = dir.path() + "/p";
      const RunResult r = Exec({"-preset=" + c.preset, "-ptype=" + c.ptype, "-seed=4", threads,
                                "-dbglvl=0", "-output=" + out, c.input, "4"});
      ASSERT_EQ(r.exit_code, 0) << r.err;
      if (first.empty())
        first = ReadFile(out);
      else
        EXPECT_EQ(ReadFile(out), first) << threads;
    }
  }
}

}  // namespace

// ---- the progress line ---------------------------------------------------------------

namespace {

// Runs the program with standard error on a pseudo-terminal and standard
// output into a file; returns what the terminal received.
std::string RunOnTerminal(const std::vector<std::string>& args, const std::string& outfile,
                          int* status) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "openpty failed";
    return "";
  }
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, STDOUT_FILENO);
    dup2(slave, STDERR_FILENO);
    close(master);
    std::vector<std::string> all = {veldan_test::BinaryPath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(slave);
  std::string seen;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the child and its terminal are gone
    seen.append(buf, static_cast<std::size_t>(n));
  }
  close(master);
  waitpid(pid, status, 0);
  return seen;
}

}  // namespace

TEST(Progress, SelfUpdatingLineOnATerminalOnly) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", SmallHypergraph());
  for (const std::string ptype : {"rb", "kway"}) {
    SCOPED_TRACE(ptype);
    int status = 0;
    const std::string term =
        RunOnTerminal({"-ptype=" + ptype, "-seed=1", "-nruns=4", g, "4"}, dir.path() + "/out",
                      &status);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Drawn at the start (rb: 3 bisections of 4 runs and a V-cycle each;
    // kway: 4 runs and a V-cycle), redrawn over itself, and blanked out at
    // the end.
    const std::string first = ptype == "rb" ? "\rveldan: 0 of 15 bisection runs, 0.0 s"
                                            : "\rveldan: 0 of 5 runs, 0.0 s";
    EXPECT_EQ(term.substr(0, first.size()), first) << term;
    EXPECT_EQ(term.find('\n'), std::string::npos) << term;
    EXPECT_TRUE(std::regex_search(term, std::regex("\r {20,}\r$"))) << term;
    // Standard output is a file: the report, without any of it.
    const std::string out = ReadFile(dir.path() + "/out");
    EXPECT_NE(out.find("Summary for the 4-way partition"), std::string::npos);
    EXPECT_EQ(out.find("veldan: "), std::string::npos);
  }
  // Not on a terminal: nothing on standard error.
  const RunResult r = Exec({"-seed=1", "-nruns=4", g, "4"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
}

TEST(Progress, LinesReachAPipeAsTheyAreWritten) {
  // Standard output into a pipe: the header arrives while the run is still
  // going (a run of many seconds), not when the process ends; an interrupt
  // then loses nothing already written.
  const std::string g = std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr";
  TempDir dir;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    const std::string bin = veldan_test::BinaryPath();
    const std::string out = "-output=" + dir.path() + "/p";
    execl(bin.c_str(), bin.c_str(), "-nruns=100", "-nthreads=1", "-seed=1", "-dbglvl=0",
          out.c_str(), g.c_str(), "8", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string seen;
  char buf[4096];
  while (seen.find("Partitioning... ") == std::string::npos) {
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<std::size_t>(n));
  }
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the header came only at the end";
  kill(pid, SIGINT);
  waitpid(pid, &status, 0);
  close(fds[0]);
  EXPECT_NE(seen.find("HyperGraph Information"), std::string::npos) << seen;
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(veldan_test::FileExists(dir.path() + "/p"));
}

// ---- veldan-eval ----------------------------------------------------------------------

RunResult Eval(const std::vector<std::string>& args) {
  return veldan_test::RunBinary(VELDAN_EVAL_BIN, args);
}

TEST(Eval, MeasuresAPartitionFile) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", kSixCells);
  const std::string p = dir.Write("p", "0\n0\n1\n1\n2\n2\n");
  // Cut 5 + 1, each cut net in two parts; weights 3, 7, 11 (11 / 7 - 1).
  RunResult r = Eval({"-format=json", g, p});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"cut\": 6, \"km1\": 6, \"soed\": 12, \"imbalance\": 0.571429, "
            "\"imbalance_per_weight\": [0.571429], \"part_weights\": [3, 7, 11], "
            "\"empty_parts\": 0, \"parts\": 3}\n");
  // A larger k leaves a part empty; the fixed-cell file puts cell 3 in 2.
  const std::string f = dir.Write("f", "0\n0\n2\n-1\n-1\n-1\n");
  r = Eval({"-format=csv", "-fixed=" + f, g, p, "4"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "cut,km1,soed,imbalance,empty_parts,parts,fixed_violations\n"
            "6,6,12,1.095238,1,4,1\n");
  r = Eval({g, p});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("  Connectivity - 1 (km1):   6\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Part weights:\n         0: 3\n         1: 7\n         2: 11\n"),
            std::string::npos)
      << r.out;

  // Files and parameters that do not fit are refused with the file and the
  // line, and k is bounded by the cells: nothing grows with k alone.
  std::filesystem::create_directory(dir.path() + "/folder");
  struct Case {
    std::string text, k, err;
    int status;
    std::string file = "";  // instead of a file of text
  };
  for (const Case& c : std::vector<Case>{
           {"0\n1\n0\n1\n0\n", "", "Partition file <P> holds 5 values for 6 cells.\n\n", 254},
           {"0\n1\n0\n1\n0\n1\n0\n", "",
            "Partition file <P>, line 7: more values than the 6 cells, one per cell.\n\n", 254},
           {"0 1\n0\n1\n0\n1\n", "", "Partition file <P>, line 1: \"0 1\" is not one part number.\n\n",
            254},
           {"0\n1\n\n2\n0\n1\n", "2",
            "Partition file <P>, line 4: cell 3 is in part 2, outside 0 to 1.\n\n", 254},
           {"0\n1\n1.5\n0\n0\n0\n", "", "Partition file <P>, line 3: \"1.5\" is not one part number.\n\n",
            254},
           {"0\n-1\n0\n0\n0\n0\n", "", "Partition file <P>, line 2: cell 2 is in part -1, outside 0 "
            "to 5.\n\n", 254},
           {"0\n1\n0\n1\n0\n1000000000000\n", "", "Partition file <P>, line 6: cell 6 is in part "
            "1000000000000, outside 0 to 5.\n\n", 254},
           {"", "", "Partition file <P> is a folder, not a file.\n\n", 254, "folder"},
           {"0\n", "100000000", "The number of parts (100000000) is more than the 6 cells of <G>.\n",
            2},
           {"0\n", "1000000000000", "The number of parts (1000000000000) is more than the 6 cells "
            "of <G>.\n", 2},
       }) {
    SCOPED_TRACE(c.text + " k=" + c.k);
    const std::string bad = c.file.empty() ? dir.Write("bad", c.text) : dir.path() + "/" + c.file;
    std::vector<std::string> args = {g, bad};
    if (!c.k.empty()) args.push_back(c.k);
    r = Eval(args);
    std::string err = c.err;
    if (err.find("<P>") != std::string::npos) err.replace(err.find("<P>"), 3, bad);
    if (err.find("<G>") != std::string::npos) err.replace(err.find("<G>"), 3, g);
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(Eval({"-format=xml", g, p}).exit_code, 2);
  EXPECT_EQ(Eval({g}).err.rfind("Missing parameters.\n", 0), 0u);
  EXPECT_EQ(Eval({g, p, "3", "4"}).err.rfind("Too many parameters.\n", 0), 0u);
  EXPECT_EQ(Eval({g, p, "3.5"}).exit_code, 2);
}

TEST(Eval, AgreesWithTheIndependentCount) {
  const std::string shared = veldan_test::SharedHgrDir();
  if (shared.empty() || std::system("python3 -c '' 2>/dev/null") != 0)
    GTEST_SKIP() << "needs ../shared and python3";
  const std::string evaluate = shared + "/../../tools/evaluate.py";
  TempDir dir;
  for (const std::string inst : {"ibm01.hgr", "powersim.mtx.hgr", "sat14_AProVE07-27.cnf.primal.hgr"}) {
    SCOPED_TRACE(inst);
    const std::string g = shared + "/" + inst, p = dir.path() + "/p";
    ASSERT_EQ(Exec({"-seed=1", "-nruns=2", "-dbglvl=0", "-output=" + p, g, "8"}).exit_code, 0);
    const RunResult ours = Eval({"-format=csv", g, p, "8"});
    ASSERT_EQ(ours.exit_code, 0) << ours.err;
    const std::string cmd = "python3 " + evaluate + " " + g + " " + p + " 8 > " + dir.path() + "/e";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    // "cut=.. soed=.. km1=.. ... imbalance=.." against our csv line.
    std::map<std::string, double> theirs;
    std::istringstream words(ReadFile(dir.path() + "/e"));
    for (std::string w; words >> w;)
      if (const auto eq = w.find('='); eq != std::string::npos)
        theirs[w.substr(0, eq)] = std::strtod(w.c_str() + eq + 1, nullptr);
    std::istringstream line(ours.out.substr(ours.out.find('\n') + 1));
    double cut, km1, soed, imbalance;
    char comma;
    line >> cut >> comma >> km1 >> comma >> soed >> comma >> imbalance;
    EXPECT_EQ(cut, theirs["cut"]);
    EXPECT_EQ(km1, theirs["km1"]);
    EXPECT_EQ(soed, theirs["soed"]);
    EXPECT_NEAR(imbalance, theirs["imbalance"], 1e-5);
  }
}

// ---- -initial: improving a given partition ------------------------------------

namespace {

// The objective of a partition file of an unweighted hypergraph file,
// counted here from both files, and its heaviest part over the average.
struct Recount {
  double cut = 0, km1 = 0, soed = 0, imbalance = 0;
  std::vector<idx_t> parts;
};
Recount CountFromFiles(const std::string& hgr, const std::string& partfile, idx_t k) {
  Recount c;
  std::istringstream pf(ReadFile(partfile));
  for (idx_t p; pf >> p;) c.parts.push_back(p);
  std::istringstream in(ReadFile(hgr));
  std::string line;
  std::getline(in, line);
  idx_t nnets = 0, nvtxs = 0;
  std::istringstream(line) >> nnets >> nvtxs;
  EXPECT_EQ(static_cast<idx_t>(c.parts.size()), nvtxs);
  for (idx_t e = 0; e < nnets && std::getline(in, line); e++) {
    std::istringstream pins(line);
    std::vector<bool> seen(k, false);
    idx_t span = 0;
    for (idx_t v; pins >> v;)
      if (!seen[c.parts[v - 1]]) seen[c.parts[v - 1]] = true, span++;
    c.cut += span > 1;
    c.km1 += span - 1;
    c.soed += span > 1 ? span : 0;
  }
  std::vector<double> w(k, 0.0);
  for (idx_t p : c.parts) w[p] += 1;
  c.imbalance = *std::max_element(w.begin(), w.end()) * k / static_cast<double>(nvtxs) - 1;
  return c;
}

double ObjectiveOf(const Recount& c, const std::string& otype) {
  return otype == "cut" ? c.cut : (otype == "km1" ? c.km1 : c.soed);
}

}  // namespace

TEST(InitialPartition, NeverWorseThanTheGivenOneAndKeepsFixedCells) {
  const std::string shared = veldan_test::SharedHgrDir();
  if (shared.empty()) GTEST_SKIP() << "needs ../shared";
  const std::string g = shared + "/ibm01.hgr";
  const idx_t k = 8;
  TempDir dir;
  const std::string quick = dir.path() + "/quick", out = dir.path() + "/out";
  // An evenly balanced random start, and a start with every cell in part 0.
  std::string random, lopsided;
  idx_t nnets = 0, nvtxs = 0;
  std::istringstream(ReadFile(g)) >> nnets >> nvtxs;
  for (idx_t i = 0; i < nvtxs; i++) {
    random += std::to_string((i * 7919) % k) + "\n";
    lopsided += "0\n";
  }
  struct Case {
    std::string ptype, otype, start, extra;
    bool fixed;  // every 50th cell fixed where the start puts it
  };
  const Case cases[] = {
      {"kway", "cut", "quick", "", false},   {"rb", "cut", "quick", "", false},
      {"kway", "km1", "quick", "", true},    {"rb", "km1", "random", "", true},
      {"kway", "soed", "random", "", false}, {"kway", "cut", "random", "-nvcycles=0", false},
      {"kway", "cut", "lopsided", "-epsilon=0.03", true},
      {"rb", "cut", "lopsided", "-epsilon=0.03", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ptype + " " + c.otype + " " + c.start + " " + c.extra);
    std::string given = dir.path() + "/" + c.start;
    if (c.start == "quick") {
      ASSERT_EQ(Exec({"-ptype=" + c.ptype, "-otype=" + c.otype, "-seed=1", "-nruns=1",
                      "-nvcycles=0", "-dbglvl=0", "-output=" + given, g, std::to_string(k)})
                    .exit_code,
                0);
    } else {
      dir.Write(c.start, c.start == "random" ? random : lopsided);
    }
    const Recount before = CountFromFiles(g, given, k);
    std::vector<std::string> args = {"-ptype=" + c.ptype, "-otype=" + c.otype, "-seed=2",
                                     "-nruns=2", "-dbglvl=0", "-initial=" + given,
                                     "-output=" + out};
    if (!c.extra.empty()) args.push_back(c.extra);
    std::string fixed;
    for (idx_t i = 0; i < nvtxs; i++)
      fixed += (i % 50 == 0 ? std::to_string(before.parts[i]) : "-1") + "\n";
    if (c.fixed) args.push_back("-fixed=" + dir.Write("fixed", fixed));
    args.insert(args.end(), {g, std::to_string(k)});
    const RunResult r = Exec(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Recount after = CountFromFiles(g, out, k);
    // rb refines the cut unless km1 is asked for.
    const std::string otype = (c.ptype == "rb" && c.otype == "soed") ? "cut" : c.otype;
    if (c.start == "lopsided") {
      // Above the bound: balanced first, then refined.
      EXPECT_LE(after.imbalance, 0.03 + 1e-9);
    } else if (c.start == "quick") {
      EXPECT_LE(ObjectiveOf(after, otype), ObjectiveOf(before, otype));
      EXPECT_LE(after.imbalance, std::max(before.imbalance, 0.05) + 1e-9);
    } else {
      // Partitioned afresh: each bisection of rb takes 45 to 55 percent.
      EXPECT_LE(ObjectiveOf(after, otype), ObjectiveOf(before, otype));
      EXPECT_LE(after.imbalance, (c.ptype == "rb" ? 1.1 * 1.1 * 1.1 - 1 : 0.05) + 1e-9);
    }
    // A random start is far worse than a run from scratch: the cells are
    // partitioned afresh, as good as without -initial. Any other start is
    // refined from.
    if (c.start == "random") {
      EXPECT_NE(r.out.find("Given partition:      replaced"), std::string::npos) << r.out;
      std::vector<std::string> fresh(args.begin(), args.end());
      std::erase(fresh, "-initial=" + given);
      std::replace(fresh.begin(), fresh.end(), std::string("-output=" + out),
                   std::string("-output=" + quick));
      ASSERT_EQ(Exec(fresh).exit_code, 0);
      EXPECT_LE(ObjectiveOf(after, otype), ObjectiveOf(CountFromFiles(g, quick, k), otype));
    } else {
      EXPECT_EQ(r.out.find("Given partition:      replaced"), std::string::npos) << r.out;
    }
    for (idx_t i = 0; c.fixed && i < nvtxs; i += 50) {
      EXPECT_EQ(after.parts[i], before.parts[i]);
    }
  }
}

// Two groups of four cells, tied inside by three nets each and to each
// other by one: the given split of the groups cannot be beaten, so nothing
// moves and the report says it was kept.
TEST(InitialPartition, AnOptimalPartitionIsKept) {
  TempDir dir;
  const std::string g = dir.Write(
      "g.hgr", "7 8\n1 2 3 4\n1 2\n3 4\n5 6 7 8\n5 6\n7 8\n4 5\n");
  const std::string given = dir.Write("given", "0\n0\n0\n0\n1\n1\n1\n1\n");
  const std::string out = dir.path() + "/out";
  for (const std::string ptype : {"rb", "kway"}) {
    for (const std::string otype : {"cut", "km1"}) {
      SCOPED_TRACE(ptype + " " + otype);
      const RunResult r = Exec({"-ptype=" + ptype, "-otype=" + otype, "-seed=4",
                                "-initial=" + given, "-output=" + out, g, "2"});
      ASSERT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(ReadFile(out), ReadFile(given));
      EXPECT_NE(r.out.find(" Initial partition: " + given + "\n"), std::string::npos);
      EXPECT_NE(r.out.find("Given partition:          kept\t\t(nothing beat it)"),
                std::string::npos)
          << r.out;
    }
  }
}

TEST(InitialPartition, BadFilesRefusedWithLineAndStatus) {
  TempDir dir;
  const std::string g = dir.Write("g.hgr", kSixCells);
  const std::string fixed = dir.Write("fixed", "0\n-1\n-1\n-1\n-1\n2\n");
  struct Case {
    std::string text, message;
    bool withfixed = false;
  };
  const Case cases[] = {
      {"0\n1\n-1\n1\n2\n2\n",
       ", line 3: cell 3 has the value -1; a value is a part number from 0 to 2.\n"},
      {"0\n1\n3\n1\n2\n2\n",
       ", line 3: cell 3 has the value 3; a value is a part number from 0 to 2.\n"},
      {"0\n1\n1\n2\n2\n", " holds 5 values for 6 cells.\n"},
      {"0\n1\n1\n2\n2\n0\n1\n",
       ", line 7: the file goes on after the value of its last cell (6 cells): \"1\".\n"},
      {"0\n1\nx\n1\n2\n2\n", ", line 3: the value for cell 3 is not a number (\"x\").\n"},
      {"0\n1 1\n1\n1\n2\n2\n", ", line 2: one value per line, but the line holds \"1 1\".\n"},
      {"0\n1\n1\n1\n2\n1\n",
       " puts cell 6 in part 1, but fixed-cell file " + fixed + " fixes it to part 2.\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string f = dir.Write("initial", c.text);
    std::vector<std::string> args = {"-initial=" + f, g, "3"};
    if (c.withfixed) args.insert(args.begin(), "-fixed=" + fixed);
    const RunResult r = Exec(args);
    EXPECT_EQ(r.exit_code, 254);
    // A refusal ends with an empty line.
    EXPECT_EQ(r.err, "Initial partition file " + f + c.message + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(veldan_test::FileExists(g + ".part.3"));
  }
  // A valid file is taken.
  const std::string f = dir.Write("initial", "0\n0\n1\n1\n2\n2\n");
  EXPECT_EQ(Exec({"-fixed=" + fixed, "-initial=" + f, g, "3"}).exit_code, 0);
}
