// Degenerate and hostile inputs end to end: every run goes through the built
// program with -ptype=rb, -ptype=kway and -ptype=rb -kwayrefine. A run that
// succeeds must leave one partition file whose every line is a part in range
// and whose recounted cut is the cut the report prints; a run that is
// refused must end with a failing status and its message (naming the file
// and the line where the message has them), and leave no partition file
// behind. The stored hostile inputs of tests/data/robust/ run the same way.
// Last, the readers run in-process under an exit hook, as the fuzz targets
// run them, and must release their files and arrays on every error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "hgraph/hgraph.h"
#include "programs/cli.h"
#include "support/memory.h"
#include "tests/testutil.h"

namespace {

using veldan_test::ReadFile;
using veldan_test::RunResult;
using veldan_test::TempDir;

// Runs the built program (the name Run is taken inside test bodies).
RunResult Exec(const std::vector<std::string>& args) { return veldan_test::Run(args); }

// A hypergraph as the test knows it, independent of the program's reader.
struct Hg {
  long nvtxs = 0;
  std::vector<std::vector<long>> nets;  // cells numbered from 1
  std::vector<std::string> netwgt;      // as written; empty: no net weights
  std::vector<std::string> cellwgt;     // as written; empty: no cell weights

  // The file text; eol is the line end, and the last line loses its line
  // end when final_eol is false.
  std::string Text(const std::string& eol = "\n", bool final_eol = true) const {
    const int fmt = (netwgt.empty() ? 0 : 1) + (cellwgt.empty() ? 0 : 10);
    std::ostringstream s;
    s << "% written by test_robust" << eol << nets.size() << " " << nvtxs;
    if (fmt != 0) s << " " << fmt;
    for (std::size_t i = 0; i < nets.size(); i++) {
      s << eol;
      if (!netwgt.empty()) s << netwgt[i] << " ";
      for (std::size_t j = 0; j < nets[i].size(); j++) s << (j ? " " : "") << nets[i][j];
    }
    for (const auto& w : cellwgt) s << eol << w;
    if (final_eol) s << eol;
    return s.str();
  }
  double NetWeight(std::size_t i) const {
    return netwgt.empty() ? 1.0 : std::strtod(netwgt[i].c_str(), nullptr);
  }
};

// A ring of pairs over n cells.
Hg Ring(long n) {
  Hg h;
  h.nvtxs = n;
  for (long i = 0; i < n; i++) h.nets.push_back({i + 1, (i + 1) % n + 1});
  return h;
}

// The ring of pairs plus triples (i, i+5, i+11).
Hg RingWithTriples(long n) {
  Hg h = Ring(n);
  for (long i = 0; i < n; i++) h.nets.push_back({i + 1, (i + 5) % n + 1, (i + 11) % n + 1});
  return h;
}

std::vector<std::string> FolderEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The figure printed after a label of the quality summary.
double ReportFigure(const std::string& out, const std::string& label) {
  const std::size_t at = out.find(label);
  if (at == std::string::npos) return NAN;
  return std::strtod(out.c_str() + at + label.size(), nullptr);
}

// The option sets every accepted input is run with.
const std::vector<std::vector<std::string>> kSchemes = {
    {"-ptype=rb"}, {"-ptype=kway"}, {"-ptype=rb", "-kwayrefine"}};

std::string Joined(const std::vector<std::string>& args) {
  std::string s;
  for (const auto& a : args) s += (s.empty() ? "" : " ") + a;
  return s;
}

// Writes the text as g.hgr in a fresh folder, runs the program with the
// options and nparts, and checks the partition file against the
// hypergraph: one line per cell, every part in 0..nparts-1, the file named
// after nparts, nothing else left in the folder, and the
// cut recounted from the file equal to the reported one.
void ExpectPartition(const Hg& h, const std::string& text, const std::vector<std::string>& opts,
                     long nparts) {
  SCOPED_TRACE(Joined(opts) + " nparts=" + std::to_string(nparts));
  TempDir dir;
  const std::string g = dir.Write("g.hgr", text);
  std::vector<std::string> args = {"-seed=1", "-dbglvl=0"};
  args.insert(args.end(), opts.begin(), opts.end());
  args.push_back(g);
  args.push_back(std::to_string(nparts));
  const RunResult r = Exec(args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(r.err, "");

  const std::vector<std::string> entries = FolderEntries(dir.path());
  ASSERT_EQ(entries.size(), 2u) << "expected g.hgr and one partition file";
  const std::string partname = entries[1];
  ASSERT_EQ(partname.rfind("g.hgr.part.", 0), 0u) << partname;

  std::istringstream in(ReadFile(dir.path() + "/" + partname));
  std::vector<long> part;
  std::string line;
  while (std::getline(in, line)) {
    char* end = nullptr;
    const long p = std::strtol(line.c_str(), &end, 10);
    ASSERT_TRUE(!line.empty() && *end == '\0') << "line \"" << line << "\"";
    ASSERT_GE(p, 0);
    ASSERT_LT(p, nparts);
    part.push_back(p);
  }
  ASSERT_EQ(static_cast<long>(part.size()), h.nvtxs);
  EXPECT_EQ(partname, "g.hgr.part." + std::to_string(nparts));

  double cut = 0.0;
  for (std::size_t i = 0; i < h.nets.size(); i++) {
    const long first = part[h.nets[i][0] - 1];
    for (const long c : h.nets[i])
      if (part[c - 1] != first) {
        cut += h.NetWeight(i);
        break;
      }
  }
  const double reported = ReportFigure(r.out, "Hyperedge Cut:");
  EXPECT_NEAR(reported, cut, 0.005 + 1e-6 * cut) << r.out.substr(r.out.find("Summary"), 400);
}

// Runs every scheme on the hypergraph (as written by Text()) into nparts.
void ExpectAllSchemes(const Hg& h, long nparts, const std::vector<std::string>& extra = {}) {
  for (auto opts : kSchemes) {
    opts.insert(opts.end(), extra.begin(), extra.end());
    ExpectPartition(h, h.Text(), opts, nparts);
  }
}

// Runs the program on a file that must be refused: a failing status, the
// message on standard error holding every piece of `expect`, and nothing
// but the input left in the folder.
void ExpectRefused(const std::string& text, const std::vector<std::string>& opts, long nparts,
                   const std::vector<std::string>& expect, const std::string& filename = "g.hgr") {
  SCOPED_TRACE(Joined(opts));
  TempDir dir;
  const std::string g = dir.Write(filename, text);
  std::vector<std::string> args = {"-seed=1", "-dbglvl=0"};
  args.insert(args.end(), opts.begin(), opts.end());
  args.push_back(g);
  args.push_back(std::to_string(nparts));
  const RunResult r = Exec(args);
  EXPECT_TRUE(r.exit_code > 0 || r.term_signal != 0)
      << "exit " << r.exit_code << ", out:\n" << r.out;
  for (std::string piece : expect) {
    std::size_t at;
    while ((at = piece.find("<FILE>")) != std::string::npos) piece.replace(at, 6, g);
    EXPECT_NE(r.err.find(piece), std::string::npos) << "missing \"" << piece << "\" in:\n"
                                                    << r.err;
  }
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{filename});
}

// ---- degenerate structure --------------------------------------------------------

TEST(Degenerate, NoNetsAndIsolatedCells) {
  Hg none;
  none.nvtxs = 5;
  ExpectAllSchemes(none, 2);
  // Weighted cells, none on a net.
  Hg isolated;
  isolated.nvtxs = 6;
  isolated.cellwgt = {"1", "2", "3", "4", "5", "6"};
  ExpectAllSchemes(isolated, 4);
}

TEST(Degenerate, OnlySinglePinNets) {
  Hg h;
  h.nvtxs = 6;
  h.nets = {{1}, {2}, {3}, {5}, {5}, {6}};
  ExpectAllSchemes(h, 2);
  ExpectAllSchemes(h, 3);
}

TEST(Degenerate, OneNetHoldingEveryCell) {
  Hg h;
  h.nvtxs = 30;
  h.nets.emplace_back();
  for (long c = 30; c >= 1; c--) h.nets[0].push_back(c);
  ExpectAllSchemes(h, 2);
  ExpectAllSchemes(h, 4);
}

TEST(Degenerate, NetsFarLargerThanTheNetLimits) {
  // 150 cells on a ring; three nets of 120 pins each, beyond the default
  // limits of 50, and one of all 150 cells.
  Hg h = Ring(150);
  for (long s = 0; s < 3; s++) {
    h.nets.emplace_back();
    for (long i = 0; i < 120; i++) h.nets.back().push_back((s * 40 + i) % 150 + 1);
  }
  h.nets.emplace_back();
  for (long c = 1; c <= 150; c++) h.nets.back().push_back(c);
  ExpectAllSchemes(h, 4);
  ExpectAllSchemes(h, 3, {"-cmaxnet=1", "-rmaxnet=1"});
}

TEST(Degenerate, TwoCells) {
  Hg h;
  h.nvtxs = 2;
  h.nets = {{1, 2}, {2}};
  ExpectAllSchemes(h, 2);
}

TEST(Degenerate, AsManyPartsAsCellsAndNoMore) {
  const Hg h = RingWithTriples(12);
  ExpectAllSchemes(h, 12);
  // Pairwise refinement with one cell per part.
  for (const char* r : {"-rtype=kpfast", "-rtype=kpslow"}) {
    SCOPED_TRACE(r);
    ExpectPartition(h, h.Text(), {"-ptype=kway", r}, 12);
  }
  // More parts than cells are refused at once, whatever their number.
  for (const long k : {13L, 1000L, 65536L, 2147483648L})
    for (const auto& opts : kSchemes)
      ExpectRefused(h.Text(), opts, k,
                    {"The number of partitions (" + std::to_string(k) +
                     ") is more than the 12 cells of <FILE>.\n"});
}

// ---- weights in the file ---------------------------------------------------------------

TEST(Weights, ZeroCellWeightsAndZeroNetWeights) {
  // Cell weights as read; those below the smallest positive float count as
  // that value. Net weights of 0 are allowed and never add to the cut.
  Hg h = RingWithTriples(16);
  for (long i = 0; i < 16; i++) h.cellwgt.push_back(i % 4 == 0 ? "0" : (i % 4 == 1 ? "-0" : "2"));
  for (std::size_t i = 0; i < h.nets.size(); i++) h.netwgt.push_back(i % 3 == 0 ? "0" : "1.5");
  ExpectAllSchemes(h, 2);
  ExpectAllSchemes(h, 5);
  // Every net and every cell weighs 0 (0.0 -0 spelled both ways).
  Hg z = Ring(10);
  z.netwgt.assign(10, "0.0");
  z.netwgt[3] = "-0";
  z.cellwgt.assign(10, "0");
  ExpectAllSchemes(z, 3);
  // A negative cell weight is refused, as the library refuses it.
  Hg n = Ring(4);
  n.cellwgt = {"1", "-3", "1", "1"};
  for (const auto& opts : kSchemes)
    ExpectRefused(n.Text(), opts, 2,
                  {"Hypergraph file <FILE>, line 8: weight 0 of cell 2 is negative (-3).\n"});
}

TEST(Weights, NonFiniteAndNegativeNetWeightsRefused) {
  // Spellings that the tests of the reader's messages do not use; each is
  // refused before anything is written.
  const struct {
    const char* weight;
    const char* what;
  } bad[] = {{"-inf", "is not a finite number"},  {"+NaN", "is not a finite number"},
             {"INFINITY", "is not a finite number"}, {"3.5e38", "is not a finite number"},
             {"-1e-3", "is negative"},              {"-7", "is negative"}};
  for (const auto& b : bad) {
    Hg h = Ring(6);
    h.netwgt.assign(6, "1");
    h.netwgt[4] = b.weight;
    // The comment line comes first, so net 5 is on line 7.
    for (const auto& opts : kSchemes)
      ExpectRefused(h.Text(), opts, 2,
                    {"Hypergraph file <FILE>, line 7: the weight of net 5 ", b.what});
  }
}

TEST(Weights, NonFiniteCellWeightsRefused) {
  for (const char* w : {"nan", "-INF", "1e39"}) {
    Hg h = Ring(5);
    h.cellwgt.assign(5, "1");
    h.cellwgt[2] = w;
    // Comment, header, five nets: cell 3 is on line 10.
    ExpectRefused(h.Text(), {"-ptype=kway"}, 2,
                  {"Hypergraph file <FILE>, line 10: weight 0 of cell 3 is not a finite number."});
  }
}

TEST(Weights, SumsBeyondTheFloatRangeRefused) {
  // Net weights count once per pin: 2e37 on two-pin nets passes a quarter
  // of the float range at the third net.
  Hg nets;
  nets.nvtxs = 4;
  nets.nets = {{1, 2}, {3, 4}, {2, 3}};
  nets.netwgt = {"2e37", "2e37", "2e37"};
  for (const auto& opts : kSchemes)
    ExpectRefused(nets.Text(), opts, 4,
                  {"Hypergraph file <FILE>, line 5: the net weights are too large: up to net 3, "
                   "the weights times the pin counts add up to more than 8.50706e+37.\n"});
  // Cell weights: the third of 3e37 passes it.
  Hg cells = nets;
  cells.netwgt.clear();
  cells.cellwgt = {"3e37", "0", "3e37", "3e37"};
  ExpectRefused(cells.Text(), {"-ptype=rb"}, 2,
                {"Hypergraph file <FILE>, line 9: the cell weights are too large: up to cell 4, "
                 "weight 0 of the cells adds up to more than 8.50706e+37.\n"});
}

TEST(Weights, LargeWeightsWithinTheRange) {
  // Just below the bound the cut stays finite under every scheme and every
  // objective, up to as many parts as cells.
  Hg nets;
  nets.nvtxs = 4;
  nets.nets = {{1, 2}, {3, 4}, {2, 3}};
  nets.netwgt = {"1.4e37", "1.4e37", "1.4e37"};
  for (long k : {2, 4}) {
    ExpectAllSchemes(nets, k);
    ExpectAllSchemes(nets, k, {"-ptype=kway", "-otype=soed"});
    ExpectAllSchemes(nets, k, {"-ptype=kway", "-rtype=kpfast"});
  }
  // Four equal cells of 2e37: every scheme still splits them two and two.
  Hg cells;
  cells.nvtxs = 4;
  cells.nets = {{1, 2}, {3, 4}, {2, 3}};
  cells.cellwgt = {"2e37", "2e37", "2e37", "2e37"};
  for (const auto& opts : kSchemes) {
    SCOPED_TRACE(Joined(opts));
    TempDir dir;
    const std::string g = dir.Write("g.hgr", cells.Text());
    std::vector<std::string> args = {"-seed=1", "-dbglvl=0"};
    args.insert(args.end(), opts.begin(), opts.end());
    args.push_back(g);
    args.push_back("2");
    const RunResult r = Exec(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string text = ReadFile(g + ".part.2");
    EXPECT_EQ(std::count(text.begin(), text.end(), '0'), 2) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '1'), 2) << text;
  }
}

// ---- extreme options ----------------------------------------------------------------------

TEST(Options, ExtremeValues) {
  const Hg h = RingWithTriples(40);
  for (const auto& extra : std::vector<std::vector<std::string>>{
           {"-ufactor=49.9"},
           {"-cmaxnet=1"},
           {"-rmaxnet=1"},
           {"-nruns=1", "-nvcycles=0"},
           {"-nruns=1", "-nvcycles=5"},
           {"-seed=2147483647"},
           {"-seed=9223372036854775806"}})
    ExpectAllSchemes(h, 4, extra);
  // The smallest unbalance factor bisection takes; k-way takes factors of
  // at least 1 only.
  ExpectPartition(h, h.Text(), {"-ptype=rb", "-ufactor=0.1"}, 4);
  ExpectPartition(h, h.Text(), {"-ptype=rb", "-kwayrefine", "-ufactor=0.1"}, 4);
  ExpectPartition(h, h.Text(), {"-ptype=kway", "-ufactor=1"}, 4);
}

TEST(Options, UnbalanceFactorBelowTheSchemesBoundIsACommandLineError) {
  // Unbalance factors the schemes refuse end before anything is read or
  // printed, with the status of command-line errors; no partition file.
  const Hg h = Ring(8);
  for (const auto& c : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"-ptype=kway", "-ufactor=0.1"}, "UBfactor should be greater than 1.\n"},
           {{"-ptype=rb", "-ufactor=0.05"}, "UBfactor should be greater than 0.1.\n"},
           {{"-ptype=rb", "-ufactor=nan"}, "UBfactor should be greater than 0.1.\n"},
           {{"-ptype=kway", "-ufactor=nan"}, "UBfactor should be greater than 1.\n"}}) {
    SCOPED_TRACE(Joined(c.first));
    TempDir dir;
    const std::string g = dir.Write("g.hgr", h.Text());
    std::vector<std::string> args = c.first;
    args.push_back(g);
    args.push_back("2");
    const RunResult r = Exec(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.second + "\n");
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"g.hgr"});
  }
}

// ---- line ends ------------------------------------------------------------------------------

TEST(LineEnds, CrlfFiles) {
  Hg h = RingWithTriples(20);
  for (std::size_t i = 0; i < h.nets.size(); i++) h.netwgt.push_back(i % 2 ? "2" : "0.5");
  for (long i = 0; i < 20; i++) h.cellwgt.push_back(std::to_string(1 + i % 3));
  for (const auto& opts : kSchemes) ExpectPartition(h, h.Text("\r\n"), opts, 3);
  // Without weights the last pin of each line carries the carriage return.
  const Hg plain = RingWithTriples(20);
  for (const auto& opts : kSchemes) ExpectPartition(plain, plain.Text("\r\n"), opts, 4);
}

TEST(LineEnds, NoFinalLineFeed) {
  // The last line is a net line, then a cell-weight line.
  const Hg plain = RingWithTriples(20);
  for (const auto& opts : kSchemes) ExpectPartition(plain, plain.Text("\n", false), opts, 2);
  Hg weighted = RingWithTriples(20);
  for (long i = 0; i < 20; i++) weighted.cellwgt.push_back(std::to_string(1 + i % 5));
  for (const auto& opts : kSchemes)
    ExpectPartition(weighted, weighted.Text("\n", false), opts, 3);
  // CRLF and no final line end together.
  for (const auto& opts : kSchemes)
    ExpectPartition(weighted, weighted.Text("\r\n", false), opts, 2);
}

// ---- stored hostile inputs ------------------------------------------------------------

// Reads an accepted stored input on its own terms (lines split at line
// feeds, "%" lines skipped, tokens cut at blanks and tabs, numbers read from
// the front of each token, repeated pins dropped), for the recount.
Hg ParseStored(const std::string& bytes) {
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line))
    if (line.empty() || line[0] != '%') lines.push_back(line.substr(0, line.find('\0')));
  const auto tokens = [](const std::string& l) {
    std::vector<std::string> t;
    std::string cur;
    for (const char ch : l + " ") {
      if (ch == ' ' || ch == '\t' || ch == '\n') {
        if (!cur.empty()) t.push_back(cur);
        cur.clear();
      } else {
        cur += ch;
      }
    }
    return t;
  };
  Hg h;
  const std::vector<std::string> head = tokens(lines.at(0));
  const long nnets = std::strtol(head.at(0).c_str(), nullptr, 10);
  h.nvtxs = std::strtol(head.at(1).c_str(), nullptr, 10);
  const long fmt = head.size() > 2 ? std::strtol(head[2].c_str(), nullptr, 10) : 0;
  for (long i = 0; i < nnets; i++) {
    std::vector<std::string> t = tokens(lines.at(1 + i));
    if (fmt % 10) {
      h.netwgt.push_back(t.at(0));
      t.erase(t.begin());
    }
    std::vector<long> net;
    for (const auto& tok : t) {
      const long c = std::strtol(tok.c_str(), nullptr, 10);
      if (std::find(net.begin(), net.end(), c) == net.end()) net.push_back(c);
    }
    h.nets.push_back(net);
  }
  return h;
}

TEST(StoredInputs, EachEndsAsRecorded) {
  const std::string dir = std::string(VELDAN_SOURCE_DIR) + "/tests/data/robust";
  std::istringstream manifest(ReadFile(dir + "/expect.txt"));
  std::string line;
  int ncases = 0;
  while (std::getline(manifest, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, kind, rest;
    fields >> name >> kind;
    std::getline(fields >> std::ws, rest);
    SCOPED_TRACE(name);
    const std::string bytes = ReadFile(dir + "/" + name);
    ASSERT_FALSE(bytes.empty()) << "missing " << name;
    ncases++;
    if (kind == "parts") {
      const long nparts = std::stol(rest);
      const Hg h = ParseStored(bytes);
      for (const auto& opts : kSchemes) ExpectPartition(h, bytes, opts, nparts);
    } else {
      ASSERT_EQ(kind, "refused");
      std::size_t at;
      while ((at = rest.find("\\n")) != std::string::npos) rest.replace(at, 2, "\n");
      for (const auto& opts : kSchemes) ExpectRefused(bytes, opts, 2, {rest + "\n"});
    }
  }
  // Every stored input is named in the manifest.
  int nfiles = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    nfiles += e.path().extension() == ".hgr";
  EXPECT_EQ(ncases, nfiles);
}

// ---- the readers' refusals, in-process (as the library and the fuzz targets see them) ---

class ReaderRefusalTest : public ::testing::Test {
 protected:
  static int OpenDescriptors() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
      (void)e;
      n++;
    }
    return n;
  }

  // Reads the text and returns the refusal it met.
  veldan::InputError ReadRefused(const std::string& text) {
    const std::string path = dir_.Write("g.hgr", text);
    try {
      (void)veldan::ReadHGraph(path.c_str());
    } catch (const veldan::InputError& e) {
      return e;
    }
    ADD_FAILURE() << "accepted:\n" << text;
    return veldan::InputError(0, "");
  }

  TempDir dir_;
};

TEST_F(ReaderRefusalTest, ErrorsCarryTheProgramsMessageAndReleaseEverything) {
  // Errors from each stage of the reader, including ones after the arrays
  // are allocated; the message is what the program writes, and nothing of
  // the stream or the arrays is left: descriptors are all closed again. (Under the sanitizer
  // build, the leak checker sees any array left behind.)
  const std::string path = dir_.path() + "/g.hgr";
  const auto At = [&](int line) {
    return "Hypergraph file " + path + ", line " + std::to_string(line) + ".\n";
  };
  const struct {
    const char* text;
    std::string message;
  } cases[] = {
      {"1 1\n1\n", "Cannot partition graph with 1 cells\n" + At(1)},
      {"3 4\n1 2\n", "Premature end of input file: file: " + path + "\n" + At(3)},
      {"2 4 1\n1 1 2\n \t \n", "The line for net 2 is empty.\n" + At(3)},
      {"2 7\n1 2\n3 8\n", "Cell number: 8 read for net 2 is wrong.\n" + At(3)},
      {"1 4 1\n-2 3 4\n",
       "Hypergraph file " + path + ", line 2: the weight of net 1 is negative (-2).\n"},
      {"1 3 10 2\n1 2\n1 1\n  5\t\n1 1\n",
       "Not sufficient number of weights are provided for cell 2 <input line: 5>, 1\n" + At(4)},
      {"1 3 11\n1 1 2\n1\n2\n", "Premature end of input file: file: " + path + "\n" + At(5)},
  };
  const int before = OpenDescriptors();
  for (int round = 0; round < 3; round++)
    for (const auto& c : cases) {
      const veldan::InputError e = ReadRefused(c.text);
      EXPECT_EQ(e.status(), 254) << c.text;
      EXPECT_EQ(e.what(), c.message + "\n");
    }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(ReaderRefusalTest, NconBlockIsAnInputError) {
  const veldan::InputError e = ReadRefused("1 4 1 2\n1 1 2\n");
  EXPECT_EQ(e.status(), 254);
  EXPECT_NE(std::string(e.what()).find("You specified ncon=2, but the fmt parameter"),
            std::string::npos);
}

TEST_F(ReaderRefusalTest, FixedCellReaderClosesItsFile) {
  const std::string f = dir_.Write("fixed", "0\n1\nx\n");
  const int before = OpenDescriptors();
  std::vector<veldan::idx_t> part(4, 0);
  for (int round = 0; round < 3; round++) {
    try {
      veldan::ReadPartition(4, part.data(), f.c_str());
      ADD_FAILURE() << "accepted";
    } catch (const veldan::InputError& e) {
      EXPECT_EQ(e.status(), 254);
      EXPECT_EQ(std::string(e.what()), "Fixed-cell file " + f +
                                           ", line 3: the value for cell 3 is not a number "
                                           "(\"x\").\n\n");
    }
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
