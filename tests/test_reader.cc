// The hypergraph file reader: every message end to end against the binary,
// and the arrays of accepted files through direct calls.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "programs/cli.h"
#include "support/memory.h"
#include "tests/testutil.h"

namespace {

using veldan::HGraph;
using veldan::idx_t;
using veldan::real_t;
using veldan_test::RunResult;
using veldan_test::TempDir;

// Runs the built program (the name Run is taken inside test bodies).
RunResult Exec(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
               const std::string& argv0 = "") {
  return veldan_test::Run(args, env, argv0);
}

class ReaderTest : public ::testing::Test {
 protected:
  // Writes the text as g.hgr and runs the program on it with two parts.
  RunResult RunOn(const std::string& text, const std::vector<std::string>& env = {}) {
    path_ = dir_.Write("g.hgr", text);
    return Exec({path_, "2"}, env);
  }
  // The run ended through the error exit with exactly this message.
  void ExpectError(const RunResult& r, const std::string& message) {
    EXPECT_EQ(r.exit_code, 254);
    EXPECT_EQ(r.err, message + "\n");
    EXPECT_EQ(r.out, "");
  }
  // The same, for a message followed by the file and the line it concerns.
  void ExpectErrorAt(const RunResult& r, std::string message, int line) {
    if (message.back() != '\n') message += '\n';
    ExpectError(r, message + "Hypergraph file " + path_ + ", line " + std::to_string(line) + ".\n");
  }
  // Reads the text in-process.
  veldan::HGraphPtr Read(const std::string& text) {
    path_ = dir_.Write("g.hgr", text);
    return veldan::ReadHGraph(path_.c_str());
  }
  static std::vector<idx_t> Ptr(const HGraph* g) {
    return std::vector<idx_t>(g->netptr.data(), g->netptr.data() + g->nnets + 1);
  }
  static std::vector<idx_t> Ind(const HGraph* g) {
    return std::vector<idx_t>(g->netind.data(), g->netind.data() + g->netptr[g->nnets]);
  }

  TempDir dir_;
  // Every file of a test is written here, so messages can name it up front.
  std::string path_ = dir_.path() + "/g.hgr";
};

// ---- messages of the specified failures ------------------------------------

TEST_F(ReaderTest, MissingFileOrDirectory) {
  const std::string missing = dir_.path() + "/none.hgr";
  ExpectError(Exec({missing, "2"}), "Hypergraph file " + missing + " does not exist!\n");
  ExpectError(Exec({dir_.path(), "2"}), "Hypergraph file " + dir_.path() +
                                           " is a folder, not a file.\n");
}

TEST_F(ReaderTest, HeaderChecks) {
  ExpectErrorAt(RunOn("1 1\n1\n"), "Cannot partition graph with 1 cells\n", 1);
  ExpectErrorAt(RunOn("1 -3\n1\n"), "Cannot partition graph with -3 cells\n", 1);
}

// Every layout the reader does not know is refused, with the file and the
// line: format codes other than 0, 1, 10 and 11, headers of the wrong
// field count, lines after the last expected one, negative cell weights,
// blank lines where a line is expected, and bytes that are not text.
TEST_F(ReaderTest, MalformedLayoutsRefusedWithFileAndLine) {
  const auto format = [](const char* code) {
    return std::string("Cannot read this type of file format!\nThe format code is ") + code +
           "; it is 0 (no weights), 1 (net weights), 10 (cell weights) or 11 (both).\n";
  };
  struct Case {
    std::string text;
    std::string message;  // before "Hypergraph file <path>, line N." when line > 0
    int line;             // 0: the message names the file and the line itself
  };
  for (const Case& c : std::vector<Case>{
           {"%\n1 4 100\n1 2\n", format("100"), 2},
           {"1 4 -1\n1 2\n", format("-1"), 1},
           {"2 3 7\n1 2\n2 3\n", format("7"), 1},
           {"1 3 22\n1 1 2\n1\n1\n1\n", format("22"), 1},
           {"2 3 0 1 0\n1 2\n2 3\n",
            "Hypergraph file <FILE>, line 1: the header holds 5 fields; it holds 2 to 4: the number "
            "of nets, the number of cells, fmt and ncon.\n",
            0},
           {"2 3\n1 2\n2 3\n1 3\n",
            "Hypergraph file <FILE>, line 4: the file goes on after net 2, the last line the header "
            "announces (\"1 3\").\n",
            0},
           {"1 2 10\n1 2\n1\n1\n% c\n\n7\n",
            "Hypergraph file <FILE>, line 7: the file goes on after the weight line of cell 2, the "
            "last line the header announces (\"7\").\n",
            0},
           {"2 3 10\n1 2\n2 3\n1\n-5\n1\n",
            "Hypergraph file <FILE>, line 5: weight 0 of cell 2 is negative (-5).\n", 0},
           {"2 3 1\n\n1 2\n",
            "Premature end of input file: file: <FILE>\nHypergraph file <FILE>, line 2 is blank "
            "where net 1 was expected.\n",
            0},
           {"1 3 10\n1 2\n1\n\n1\n",
            "Premature end of input file: file: <FILE>\nHypergraph file <FILE>, line 4 is blank "
            "where the weight line of cell 2 was expected.\n",
            0},
           {"\n1 2\n",
            "Premature end of input file: file: <FILE>\nHypergraph file <FILE>, line 1 is blank "
            "where the header was expected.\n",
            0},
           {"\xE6\x01z 3\n1 2\n",
            "Hypergraph file <FILE>, line 1: the header holds \"\\xE6\\x01z\" where an integer "
            "is expected.\n",
            0},
       }) {
    SCOPED_TRACE(c.text);
    const RunResult r = RunOn(c.text);
    std::string message = c.message;
    for (std::size_t at; (at = message.find("<FILE>")) != std::string::npos;)
      message.replace(at, 6, path_);
    if (c.line > 0)
      ExpectErrorAt(r, message, c.line);
    else
      ExpectError(r, message);
  }
  // What may surround the expected lines: a byte-order mark at the start,
  // blank lines, blanks and comments after the last one.
  for (const std::string text : {"\xEF\xBB\xBF" "2 3\n1 2\n2 3\n", "2 3\n1 2\n2 3\n\n \t\n% c\n",
                                 "1 2 10\n1 2\n1\n0\n\n"}) {
    SCOPED_TRACE(text);
    veldan::HGraphPtr g = Read(text);
    EXPECT_EQ(g->netptr[1], 2);
  }
}

TEST_F(ReaderTest, PrematureEnd) {
  const auto message = [&] { return "Premature end of input file: file: " + path_ + "\n"; };
  struct Case {
    const char* text;
    int line;
  };
  for (const Case& c : std::vector<Case>{
           {"3 4\n1 2\n3 4\n", 4},          // too few net lines
           {"% nothing here\n", 2},           // comments only: no header
           {"1 3 10\n1 2\n1\n2\n", 5},       // missing cell-weight lines
           {"", 1},                             // an empty file
       }) {
    SCOPED_TRACE(c.text);
    ExpectErrorAt(RunOn(c.text), message(), c.line);
  }
  // A blank line ends the input too, also with carriage returns; the
  // message says what was expected there.
  for (const char* text : {"2 4\n1 2\n\n3 4\n", "2 4\r\n1 2\r\n\r\n3 4\r\n"})
    ExpectError(RunOn(text), message() + "Hypergraph file " + path_ +
                                 ", line 3 is blank where net 2 was expected.\n");
}

TEST_F(ReaderTest, NetLineMessages) {
  // A weighted net line that is empty after stripping (blanks and a tab).
  ExpectErrorAt(RunOn("2 4 1\n1 1 2\n \t \n"), "The line for net 2 is empty.\n", 3);
  // The earlier net holds many pins: the first pass must not count the
  // empty line as minus one pin, or the second pass would run out of room
  // and report an internal failure instead.
  ExpectErrorAt(RunOn("2 4 1\n1 1 2 3 4\n   \n"), "The line for net 2 is empty.\n", 3);
  ExpectErrorAt(RunOn("1 4 1\n7\n"), "Empty Hyperedge # 1\n", 2);
  ExpectErrorAt(RunOn("2 4\n1 2\n  \t\n"), "Empty Hyperedge # 2\n", 3);
  ExpectErrorAt(RunOn("1 4 1\nx 1 2\n"), "Failed to read the weight for net 1\n", 2);
  ExpectErrorAt(RunOn("1 4 1\n1.5kg 1 2\n"), "Failed to read the weight for net 1\n", 2);
  // Positions count from 0 with the weight included.
  ExpectErrorAt(RunOn("1 4 1\n1 2 abc\n"), "Failed to read the 2th cell for net 1\n", 2);
  ExpectErrorAt(RunOn("2 4\n1 2\n3 -\n"), "Failed to read the 1th cell for net 2\n", 3);
  // A "%" after leading blanks is not a comment.
  ExpectErrorAt(RunOn("1 4\n  % 1 2\n"), "Failed to read the 0th cell for net 1\n", 2);
  // A token is read whole: trailing text or a fraction is refused.
  ExpectErrorAt(RunOn("1 4\n1 2abc\n"), "Failed to read the 1th cell for net 1\n", 2);
  ExpectErrorAt(RunOn("1 4\n3.7 1\n"), "Failed to read the 0th cell for net 1\n", 2);
}

TEST_F(ReaderTest, CellNumberOutOfRange) {
  ExpectErrorAt(RunOn("1 7\n1 0\n"), "Cell number: 0 read for net 1 is wrong.\n", 2);
  ExpectErrorAt(RunOn("2 7\n1 2\n3 8\n"), "Cell number: 8 read for net 2 is wrong.\n", 3);
  ExpectErrorAt(RunOn("1 7\n-2 1\n"), "Cell number: -2 read for net 1 is wrong.\n", 2);
  // A number beyond the 64-bit range saturates rather than wrapping.
  ExpectErrorAt(RunOn("1 7\n1 99999999999999999999999\n"),
                "Cell number: 9223372036854775807 read for net 1 is wrong.\n", 2);
}

TEST_F(ReaderTest, NconWithoutCellWeightsIsAnInputError) {
  const RunResult r = RunOn("1 4 1 2\n1 1 2\n");
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "------------------------------------------------------------------------------\n"
            "***  I detected an error in your input file  ***\n\n"
            "You specified ncon=2, but the fmt parameter does not specify vertex weights\n"
            "Make sure that the fmt parameter is set to either 10 or 11.\n"
            "------------------------------------------------------------------------------\n"
            "Hypergraph file " + path_ + ", line 1.\n\n");
}

TEST_F(ReaderTest, CellWeightMessages) {
  ExpectErrorAt(RunOn("1 3 10 2\n1 2\n1 1\n  5\t\n1 1\n"),
                "Not sufficient number of weights are provided for cell 2 <input line: 5>, 1\n", 4);
  ExpectErrorAt(RunOn("1 3 10 2\n1 2\n1 1\n\t \n1 1\n"),
                "Not sufficient number of weights are provided for cell 2 <input line: >, 0\n", 4);
  ExpectErrorAt(RunOn("1 3 10 2\n1 2\n1 z\n1 1\n1 1\n"),
                "Failed to read the 1th weight for cell 1\n", 3);
  ExpectErrorAt(RunOn("1 3 10\n1 2\n1\n2x\n1\n"), "Failed to read the 0th weight for cell 2\n",
                4);
}

// ---- checks of our own --------------------------------------------------------

TEST_F(ReaderTest, HeaderWithoutBothCounts) {
  ExpectError(RunOn("5\n1 2\n"),
              "Hypergraph file " + path_ +
                  ", line 1: the header must give the number of nets and the number of cells.\n");
  ExpectError(RunOn("% c\nabc 4\n1 2\n"),
              "Hypergraph file " + path_ + ", line 2: the header holds \"abc\" where an integer "
              "is expected.\n");
  ExpectError(RunOn("4 7x\n1 2\n"),
              "Hypergraph file " + path_ + ", line 1: the header holds \"7x\" where an integer "
              "is expected.\n");
}

TEST_F(ReaderTest, NegativeNetCount) {
  ExpectError(RunOn("-1 4\n"),
              "Hypergraph file " + path_ + ", line 1: the number of nets (-1) is negative.\n");
}

TEST_F(ReaderTest, NconOutOfRange) {
  ExpectError(RunOn("1 3 10 0\n1 2\n1\n1\n1\n"),
              "Hypergraph file " + path_ + ", line 1: ncon=0 is outside the range 1 to 20.\n");
  ExpectError(RunOn("1 3 10 21\n1 2\n"),
              "Hypergraph file " + path_ + ", line 1: ncon=21 is outside the range 1 to 20.\n");
}

TEST_F(ReaderTest, AbsurdCounts) {
  // Counts whose arrays could never be addressed.
  ExpectError(RunOn("9223372036854775807 4\n1 2\n"),
              "Hypergraph file " + path_ +
                  ", line 1: the header counts (9223372036854775807 nets, 4 cells) are too "
                  "large.\n");
  // Cells times ncon beyond the 64-bit range.
  ExpectError(RunOn("1 1000000000000000000 10 20\n1 2\n"),
              "Hypergraph file " + path_ +
                  ", line 1: the header counts (1 nets, 1000000000000000000 cells) are too "
                  "large.\n");
  // Addressable but far beyond any memory: the allocator ends the run with
  // its named message and the status of memory failures, not a signal. (A
  // sanitizer's allocator must return null here as the plain one does.)
  const RunResult r =
      RunOn("1 1000000000000000\n1 2\n", {"ASAN_OPTIONS=allocator_may_return_null=1"});
  EXPECT_EQ(r.exit_code, veldan::kStatusMemory);
  // The reason comes first, then the allocator's figures and message.
  const std::string reason = "Hypergraph file " + path_ +
                             ", line 1: the header counts (1 nets, 1000000000000000 cells) need "
                             "20000000000000036 bytes, more memory than there is.\n";
  // (A sanitizer's own warnings, lines opening with "==", are left out.)
  std::string err;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("==", 0) != 0) err += line + "\n";
  EXPECT_EQ(err.substr(0, reason.size()), reason) << r.err;
  EXPECT_NE(err.find("***Memory allocation failed for ReadHGraph: arrays. Requested size: "
                     "20000000000000036 bytes"),
            std::string::npos)
      << r.err;
}

TEST_F(ReaderTest, BadNetAndCellWeights) {
  const std::string where = "Hypergraph file ";
  ExpectError(RunOn("2 4 1\n1 1 2\nnan 3 4\n"),
              where + path_ + ", line 3: the weight of net 2 is not a finite number.\n");
  ExpectError(RunOn("1 4 1\ninf 3 4\n"),
              where + path_ + ", line 2: the weight of net 1 is not a finite number.\n");
  // Beyond the float range reads as infinite.
  ExpectError(RunOn("1 4 1\n1e60 3 4\n"),
              where + path_ + ", line 2: the weight of net 1 is not a finite number.\n");
  ExpectError(RunOn("% c\n1 4 1\n-2 3 4\n"),
              where + path_ + ", line 3: the weight of net 1 is negative (-2).\n");
  ExpectError(RunOn("1 3 11\n1 1 2\n1\n% c\nnan\n1\n"),
              where + path_ + ", line 5: weight 0 of cell 2 is not a finite number.\n");
  ExpectError(RunOn("1 2 10 2\n1 2\n1 1\n1 -inf\n"),
              where + path_ + ", line 4: weight 1 of cell 2 is not a finite number.\n");
}

// ---- accepted files, arrays read in-process ----------------------------------

TEST_F(ReaderTest, HeaderWithTwoCounts) {
  veldan::HGraphPtr g = Read("4 7\n1 2\n2 3\n4 5 6\n7 1\n");
  EXPECT_EQ(g->nnets, 4);
  EXPECT_EQ(g->nvtxs, 7);
  EXPECT_EQ(g->ncon, 1);
  EXPECT_EQ(g->netwgt.data(), nullptr);
  EXPECT_EQ(g->cellwgt.data(), nullptr);
  EXPECT_EQ(Ptr(g.get()), (std::vector<idx_t>{0, 2, 4, 7, 9}));
  EXPECT_EQ(Ind(g.get()), (std::vector<idx_t>{0, 1, 1, 2, 3, 4, 5, 6, 0}));
}

TEST_F(ReaderTest, BothWeightsAndComments) {
  veldan::HGraphPtr g = Read(
      "% leading comment\n"
      "%\n"
      "2 3 11\n"
      "% between header and nets\n"
      "2.5 1 3\n"
      "% between nets\n"
      "4 2 3 1\n"
      "7 extra tokens ignored\n"
      "% between cell weights\n"
      "0\n"
      "1.5\n");
  ASSERT_NE(g->netwgt.data(), nullptr);
  ASSERT_NE(g->cellwgt.data(), nullptr);
  EXPECT_EQ(g->netwgt[0], 2.5f);
  EXPECT_EQ(g->netwgt[1], 4.0f);
  // Cell weights are taken as read, zero included.
  EXPECT_EQ(g->cellwgt[0], 7.0f);
  EXPECT_EQ(g->cellwgt[1], 0.0f);
  EXPECT_EQ(g->cellwgt[2], 1.5f);
  EXPECT_EQ(Ptr(g.get()), (std::vector<idx_t>{0, 2, 5}));
  EXPECT_EQ(Ind(g.get()), (std::vector<idx_t>{0, 2, 1, 2, 0}));
}

TEST_F(ReaderTest, DuplicatePinsDropped) {
  const std::string text = "2 5\n3 3 5\n1 2 1 2 1\n";
  path_ = dir_.Write("g.hgr", text);
  // The first pass counts tokens, so the pin array keeps spare entries.
  EXPECT_EQ(veldan::GetNetListSize(path_.c_str()), 8);
  const veldan::HGraphPtr g_owner = veldan::ReadHGraph(path_.c_str());
  veldan::HGraph* g = g_owner.get();
  EXPECT_EQ(Ptr(g), (std::vector<idx_t>{0, 2, 4}));
  EXPECT_EQ(Ind(g), (std::vector<idx_t>{2, 4, 0, 1}));
}

TEST_F(ReaderTest, LongNetWithRepeats) {
  // One net names every cell three times over, in a scrambled order; each
  // cell must appear once, in the order first read.
  const idx_t n = 60000;
  std::string text = "2 " + std::to_string(n) + "\n";
  std::vector<idx_t> expect;
  for (int round = 0; round < 3; round++)
    for (idx_t i = 0; i < n; i++) {
      const idx_t c = (i * 7919 + round) % n;
      text += std::to_string(c + 1) + " ";
      if (round == 0) expect.push_back(c);
    }
  text += "\n1 2\n";
  veldan::HGraphPtr g = Read(text);
  ASSERT_EQ(g->netptr[1], n);
  EXPECT_EQ(std::vector<idx_t>(g->netind.data(), g->netind.data() + n), expect);
  EXPECT_EQ(g->netptr[2], n + 2);
}

TEST_F(ReaderTest, CrlfLineEndings) {
  veldan::HGraphPtr g = Read("2 4 11\r\n1.5 1 2\r\n2 3 4 4\r\n1\r\n2\r\n3\r\n4\r\n");
  EXPECT_EQ(g->nnets, 2);
  EXPECT_EQ(g->nvtxs, 4);
  EXPECT_EQ(Ptr(g.get()), (std::vector<idx_t>{0, 2, 4}));
  EXPECT_EQ(Ind(g.get()), (std::vector<idx_t>{0, 1, 2, 3}));
  EXPECT_EQ(g->netwgt[0], 1.5f);
  EXPECT_EQ(g->cellwgt[3], 4.0f);
}

TEST_F(ReaderTest, SeveralWeightsPerCell) {
  veldan::HGraphPtr g = Read("1 3 10 2\n1 2 3\n1 2\n3 4 99\n5\t6\n");
  EXPECT_EQ(g->ncon, 2);
  EXPECT_EQ(std::vector<real_t>(g->cellwgt.data(), g->cellwgt.data() + 6),
            (std::vector<real_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(ReaderTest, TrailingBlanksAndUnterminatedLastLine) {
  // Blanks and a carriage return before a line end are accepted; the last
  // line need not end in a line feed.
  veldan::HGraphPtr g = Read("1 3 \t\r\n1 2 \r\n");
  EXPECT_EQ(Ind(g.get()), (std::vector<idx_t>{0, 1}));
  g = Read("1 3\n3 1");
  EXPECT_EQ(Ind(g.get()), (std::vector<idx_t>{2, 0}));
}

TEST_F(ReaderTest, NoNets) {
  veldan::HGraphPtr g = Read("0 3\n");
  EXPECT_EQ(g->nnets, 0);
  EXPECT_EQ(g->netptr[0], 0);
  EXPECT_EQ(g->netind.data(), nullptr);
}

}  // namespace

// ---- Matrix Market -------------------------------------------------------------

TEST_F(ReaderTest, MatrixMarketRowNetModel) {
  struct Case {
    const char* text;
    std::vector<idx_t> ptr, ind;
    idx_t ncells;
  };
  for (const Case& c : std::vector<Case>{
           // Each row a net over its columns; values ignored; row 3 holds
           // nothing and gives no net; a repeated entry counts once.
           {"%%MatrixMarket matrix coordinate real general\n% c\n\n4 3 5\n1 1 2.5\n1 3 -1\n"
            "2 2 7\n4 1 1e3\n1 3 0\n",
            {0, 2, 3, 4}, {0, 2, 1, 0}, 3},
           // Symmetric: the lower triangle is mirrored, the diagonal is not.
           {"%%MatrixMarket matrix coordinate pattern symmetric\r\n3 3 3\r\n1 1\r\n2 1\r\n3 2\r\n",
            {0, 2, 4, 5}, {0, 1, 0, 2, 1}, 3},
           {"%%MatrixMarket MATRIX Coordinate Integer General\n2 2 2\n1 2 3\n2 1 4\n",
            {0, 1, 2}, {1, 0}, 2},
       }) {
    SCOPED_TRACE(c.text);
    path_ = dir_.Write("m.mtx", c.text);
    const veldan::HGraphPtr g_owner = veldan::ReadHGraph(path_.c_str());
    veldan::HGraph* g = g_owner.get();
    EXPECT_EQ(g->nvtxs, c.ncells);
    EXPECT_EQ(g->netwgt.data(), nullptr);
    EXPECT_EQ(g->cellwgt.data(), nullptr);
    EXPECT_EQ(Ptr(g), c.ptr);
    EXPECT_EQ(Ind(g), c.ind);
  }
}

TEST_F(ReaderTest, MatrixMarketRefusals) {
  const std::string banner = "%%MatrixMarket matrix coordinate real general\n";
  struct Case {
    std::string text;
    std::string message;  // after "Matrix Market file <path>, line N: "
    int line;
  };
  for (const Case& c : std::vector<Case>{
           {"%%MatrixMarket matrix array real general\n2 2\n1\n2\n3\n4\n",
            "only sparse (coordinate) matrices can be read, not \"array\".", 1},
           {"%%MatrixMarket matrix coordinate quaternion general\n",
            "the field \"quaternion\" is not one of pattern, real, integer, complex.", 1},
           {banner + "2 2\n", "the size line must hold three integers: rows, columns, entries.",
            2},
           {banner + "2 2 1\n3 1 1\n", "entry (3, 1) lies outside the 2 x 2 matrix.", 3},
           {banner + "2 2 1\n1 1.5 1\n", "entry 1: \"1 1.5\" are not two integer indices.", 3},
           {banner + "2 2 1\n1 1\n", "entry 1 must hold 3 numbers, not 2.", 3},
           {"%%MatrixMarket matrix coordinate real symmetric\n2 3 1\n1 1 1\n",
            "a symmetric matrix must be square, not 2 x 3.", 2},
           // Cell and net numbers beyond 32 bits, refused before any entry is read.
           {banner + "2 2147483648 1\n1 1 1\n",
            "the matrix (2 rows, 2147483648 columns) is too large: at most 2147483647 rows and "
            "2147483647 columns can be read.",
            2},
           {banner + "2147483648 2 1\n1 1 1\n",
            "the matrix (2147483648 rows, 2 columns) is too large: at most 2147483647 rows and "
            "2147483647 columns can be read.",
            2},
       }) {
    SCOPED_TRACE(c.text);
    path_ = dir_.Write("m.mtx", c.text);
    ExpectError(Exec({path_, "2"}), "Matrix Market file " + path_ + ", line " +
                                        std::to_string(c.line) + ": " + c.message + "\n");
  }
  // Fewer entries than announced.
  path_ = dir_.Write("m.mtx", banner + "2 2 3\n1 1 1\n");
  ExpectErrorAt(Exec({path_, "2"}), "Premature end of input file: file: " + path_ + "\n", 3);
}
