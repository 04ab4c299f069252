// Recursive and multilevel bisection: structure of the recursion, the split
// of a bisected hypergraph, fixed cells, repeatability, the returned cut,
// balance of every bisection, the statistics lines, degenerate inputs and
// the parameter checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/testutil.h"
#include "bisect/bisect.h"
#include "kway/kway.h"
#include "coarsen/coarsen.h"
#include "programs/cli.h"
#include "support/support.h"

namespace veldan {
namespace {

using Hyper = veldan_test::TestNets;

// A connected grid: two-pin nets to the right and downward neighbours and a
// three-pin net on every third corner. Optionally one net over bigpins cells.
Hyper Grid(idx_t rows, idx_t cols, idx_t bigpins = 0) {
  Hyper h;
  h.nvtxs = rows * cols;
  for (idx_t r = 0; r < rows; r++)
    for (idx_t c = 0; c < cols; c++) {
      const idx_t v = r * cols + c;
      if (c + 1 < cols) h.Add({v, v + 1});
      if (r + 1 < rows) h.Add({v, v + cols});
      if (c % 3 == 0 && c + 1 < cols && r + 1 < rows) h.Add({v, v + 1, v + cols});
    }
  if (bigpins > 0) {
    std::vector<idx_t> big;
    for (idx_t i = 0; i < bigpins; i++) big.push_back((i * 7) % h.nvtxs);
    std::sort(big.begin(), big.end());
    big.erase(std::unique(big.begin(), big.end()), big.end());
    h.Add(big);
  }
  return h;
}

struct Opts {
  idx_t nruns = 3, nvcycles = 1, fixed = 0, kwayrefine = 0;
  idx_t seed = 11, dbglvl = 0;
  int ctype = 3;  // fc2: cflags 0, groups of 5
  real_t ubfactor = 5.0f;
};

// Recursive bisection through the entry, cut nets kept in both halves.
real_t Partition(const Hyper& h, idx_t nparts, std::vector<idx_t>& part,
                 const Opts& o = Opts()) {
  Options opt;
  opt.k = nparts;
  opt.ufactor = o.ubfactor;
  opt.ctype = static_cast<Coarsening>(o.ctype);
  opt.nruns = o.nruns;
  opt.nvcycles = o.nvcycles;
  opt.reconstruct = true;
  opt.kwayrefine = o.kwayrefine != 0;
  opt.seed = o.seed;
  opt.dbglvl = o.dbglvl;
  opt.threads = 1;
  return veldan_test::PartitionArrays(h.nvtxs, h.netptr, h.netind, h.netwgt, h.cellwgt, opt, part,
                                      o.fixed != 0);
}

// Independent recount: weight of the nets whose pins lie in several parts.
real_t Cut(const Hyper& h, const std::vector<idx_t>& part) {
  real_t cut = 0.0f;
  for (idx_t e = 0; e < h.nnets(); e++)
    for (idx_t p = h.netptr[e] + 1; p < h.netptr[e + 1]; p++)
      if (part[h.netind[p]] != part[h.netind[h.netptr[e]]]) {
        cut += h.netwgt[e];
        break;
      }
  return cut;
}

// Every bisection of the recursion over parts [f, f+p): side 0 (the first
// p div 2 parts) holds at least 0.9 t of the weight and side 1 at least
// 0.9 (1 - t), t = (p div 2) / p, for the default unbalance of 5%.
void ExpectBisectionsBalanced(const std::vector<double>& pw, idx_t f, idx_t p) {
  double w0 = 0.0, w = 0.0;
  for (idx_t k = f; k < f + p; k++) (k < f + p / 2 ? w0 : w) += pw[k];
  w += w0;
  const double t = static_cast<double>(p / 2) / p;
  const double slack = 1e-4 * w;
  EXPECT_GE(w0, 0.9 * t * w - slack) << "parts " << f << ".." << f + p - 1;
  EXPECT_LE(w0, w - 0.9 * (1.0 - t) * w + slack) << "parts " << f << ".." << f + p - 1;
  if (p > 3) {
    ExpectBisectionsBalanced(pw, f, p / 2);
    ExpectBisectionsBalanced(pw, f + p / 2, (p + 1) / 2);
  } else if (p == 3) {
    ExpectBisectionsBalanced(pw, f + 1, 2);
  }
}

std::vector<double> PartWeights(const Hyper& h, const std::vector<idx_t>& part, idx_t nparts) {
  std::vector<double> pw(nparts, 0.0);
  for (idx_t i = 0; i < h.nvtxs; i++) {
    EXPECT_GE(part[i], 0);
    EXPECT_LT(part[i], nparts);
    if (part[i] >= 0 && part[i] < nparts) pw[part[i]] += h.Weight(i);
  }
  return pw;
}

TEST(CoarsenTo, RuleExamples) {
  EXPECT_EQ(ComputeCoarsenTo(10000), 100);
  EXPECT_EQ(ComputeCoarsenTo(5000), 70);
  EXPECT_EQ(ComputeCoarsenTo(40000), 100);  // capped at 100
  EXPECT_EQ(ComputeCoarsenTo(4), 2);
  EXPECT_EQ(ComputeCoarsenTo(3), 1);
  EXPECT_EQ(ComputeCoarsenTo(2), 1);  // n - 1 wins once sqrt(n) >= n - 1
  EXPECT_EQ(ComputeCoarsenTo(1), 0);
}

// Six cells, sides {0,2,3} and {1,4,5}; labels 10..15, weights 1..6.
// Left renumbering 0->0, 2->1, 3->2; right 1->0, 4->1, 5->2.
class SplitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h_.nvtxs = 6;
    h_.cellwgt = {1, 2, 3, 4, 5, 6};
    h_.Add({0, 2}, 1);        // uncut, left {0,1}
    h_.Add({4, 5}, 2);        // uncut, right {1,2}
    h_.Add({0, 1, 2, 3}, 3);  // cut: left {0,1,2}; the lone right pin is dropped
    h_.Add({3, 1, 4}, 4);     // cut: the lone left pin is dropped; right {0,1}
    h_.Add({2, 5, 0, 4}, 5);  // cut: left {1,0}, right {2,1}
    h_.Add({0, 2, 5}, 6);     // cut: left {0,1}
    h_.Add({3}, 7);           // one pin: stays, left {2}
    graph_ = veldan_test::BuildLevel(h_.nvtxs, h_.netptr, h_.netind, h_.netwgt, h_.cellwgt);
    graph_->label = Array<pin_t>(6, "test: label");
    for (pin_t i = 0; i < 6; i++) graph_->label[i] = 10 + i;
    graph_->nfixed = 5;
    ctrl_.tpwgt = 0.4f;  // five parts: 0.4 * 5 + 0.4 -> 2 fixed cells on the left
    lgraph_ = CreateHGraph();
    rgraph_ = CreateHGraph();
  }
  // Nets of a half as (pins sorted or not, weight).
  static std::multiset<std::pair<std::vector<idx_t>, real_t>> Nets(const HGraph* g, bool sort) {
    std::multiset<std::pair<std::vector<idx_t>, real_t>> nets;
    for (idx_t e = 0; e < g->nnets; e++) {
      std::vector<idx_t> pins(g->netind.data() + g->netptr[e], g->netind.data() + g->netptr[e + 1]);
      if (sort) std::sort(pins.begin(), pins.end());
      nets.insert({pins, g->netwgt[e]});
    }
    return nets;
  }
  void ExpectCells() {
    ASSERT_EQ(lgraph_->nvtxs, 3);
    ASSERT_EQ(rgraph_->nvtxs, 3);
    EXPECT_EQ(std::vector<idx_t>(lgraph_->label.data(), lgraph_->label.data() + 3), (std::vector<idx_t>{10, 12, 13}));
    EXPECT_EQ(std::vector<idx_t>(rgraph_->label.data(), rgraph_->label.data() + 3), (std::vector<idx_t>{11, 14, 15}));
    EXPECT_EQ(std::vector<real_t>(lgraph_->cellwgt.data(), lgraph_->cellwgt.data() + 3), (std::vector<real_t>{1, 3, 4}));
    EXPECT_EQ(std::vector<real_t>(rgraph_->cellwgt.data(), rgraph_->cellwgt.data() + 3), (std::vector<real_t>{2, 5, 6}));
    EXPECT_EQ(lgraph_->nfixed, 2);
    EXPECT_EQ(rgraph_->nfixed, 3);
  }
  const std::vector<idx_t> where_{0, 1, 0, 0, 1, 1};
  Hyper h_;
  veldan_test::TestContext ctrl_;
  HGraphPtr graph_, lgraph_, rgraph_;
};

TEST_F(SplitTest, WithoutReconstCutNetsAreDropped) {
  ctrl_.config.reconstruct = 0;
  SplitGraphPart(ctrl_, graph_.get(), where_.data(), lgraph_.get(), rgraph_.get());
  ExpectCells();
  // Pin order is kept without merging.
  using N = std::multiset<std::pair<std::vector<idx_t>, real_t>>;
  EXPECT_EQ(Nets(lgraph_.get(), false), (N{{{0, 1}, 1.0f}, {{2}, 7.0f}}));
  EXPECT_EQ(Nets(rgraph_.get(), false), (N{{{1, 2}, 2.0f}}));
}

TEST_F(SplitTest, WithReconstPartialNetsMergeWithSummedWeight) {
  ctrl_.config.reconstruct = 1;
  SplitGraphPart(ctrl_, graph_.get(), where_.data(), lgraph_.get(), rgraph_.get());
  ExpectCells();
  using N = std::multiset<std::pair<std::vector<idx_t>, real_t>>;
  // Left: {0,1} from nets 0, 4 and 5 merged (1 + 5 + 6).
  EXPECT_EQ(Nets(lgraph_.get(), true), (N{{{0, 1}, 12.0f}, {{0, 1, 2}, 3.0f}, {{2}, 7.0f}}));
  // Right: {1,2} from nets 1 and 4 (2 + 5), {0,1} from net 3.
  EXPECT_EQ(Nets(rgraph_.get(), true), (N{{{1, 2}, 7.0f}, {{0, 1}, 4.0f}}));
  EXPECT_EQ(lgraph_->netptr[lgraph_->nnets], 6);
}

TEST(RecursivePartitionTest, PartStructureAndBalanceForTwoToFiveParts) {
  const Hyper h = Grid(24, 25);
  for (idx_t nparts : {2, 3, 4, 5}) {
    SCOPED_TRACE(nparts);
    std::vector<idx_t> part;
    testing::internal::CaptureStdout();
    const real_t cut = Partition(h, nparts, part);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // no "Wrong cut!"
    const std::vector<double> pw = PartWeights(h, part, nparts);
    for (idx_t k = 0; k < nparts; k++) EXPECT_GT(pw[k], 0.0) << "part " << k << " empty";
    ExpectBisectionsBalanced(pw, 0, nparts);
    EXPECT_EQ(cut, Cut(h, part));
    EXPECT_GT(cut, 0.0f);
  }
}

TEST(RecursivePartitionTest, ReturnedCutMatchesRecountWithWeights) {
  Hyper h = Grid(15, 16, 60);  // one net above rmaxnet
  for (idx_t i = 0; i < h.nvtxs; i++) h.cellwgt.push_back(1.0f + static_cast<real_t>(i % 4));
  for (idx_t e = 0; e < h.nnets(); e++) h.netwgt[e] = 0.5f + static_cast<real_t>(e % 3) * 0.25f;
  for (idx_t kwayrefine : {0, 1}) {
    std::vector<idx_t> part;
    Opts o;
    o.kwayrefine = kwayrefine;
    const real_t cut = Partition(h, 4, part, o);
    EXPECT_FLOAT_EQ(cut, Cut(h, part)) << "kwayrefine " << kwayrefine;
    PartWeights(h, part, 4);
  }
}

TEST(RecursivePartitionTest, SameSeedGivesSamePartition) {
  const Hyper h = Grid(20, 20, 60);
  std::vector<idx_t> a, b;
  Partition(h, 5, a);
  Partition(h, 5, b);
  EXPECT_EQ(a, b);
}

// Large finest levels leave the clique graph to each run instead of
// keeping one for all: the matchings, hence the partitions, are the same.
TEST(RecursivePartitionTest, CliqueGraphPerRunGivesTheSamePartition) {
  const Hyper h = Grid(30, 30, 60);
  const std::vector<pin_t> pins = veldan_test::Pins(h.netind);
  HGraphView view;
  view.nvtxs = h.nvtxs;
  view.nnets = h.nnets();
  view.netptr = h.netptr.data();
  view.netind = pins.data();
  view.netwgt = h.netwgt.data();
  for (const Scheme scheme : {Scheme::RecursiveBisection, Scheme::Kway})
    for (const Objective objective : {Objective::Cut, Objective::Km1})
      for (const std::int64_t threads : {1, 2}) {
        SCOPED_TRACE(testing::Message() << "scheme " << static_cast<int>(scheme) << ", objective "
                                        << static_cast<int>(objective) << ", threads " << threads);
        Options o;
        o.k = 4;
        o.scheme = scheme;
        o.objective = objective;
        o.nruns = 4;
        o.nvcycles = 2;
        o.seed = 5;
        o.threads = threads;
        PartitionConfig kept = MakeConfig(o, view);
        PartitionConfig perrun = kept;
        perrun.coarsening.keptclique = 0.0;
        std::vector<idx_t> a(h.nvtxs, 0), b(h.nvtxs, 0);
        const real_t obja = PartitionHGraph(view, kept, a, a);
        const real_t objb = PartitionHGraph(view, perrun, b, b);
        EXPECT_EQ(obja, objb);
        EXPECT_EQ(a, b);
        EXPECT_GT(Cut(h, a), 0.0f);
      }
}

TEST(RecursivePartitionTest, FixedCellsEndInTheirParts) {
  const Hyper h = Grid(20, 21);
  // (nparts, kwayrefine): the final k-way refinement must keep them too.
  for (auto [nparts, kwayrefine] : {std::pair<idx_t, idx_t>{3, 0}, {4, 0}, {5, 0}, {4, 1}, {5, 1}}) {
    SCOPED_TRACE(testing::Message() << nparts << " parts, kwayrefine " << kwayrefine);
    // Groups of distant cells pinned together; the last part has none.
    std::vector<idx_t> pre(h.nvtxs, -1);
    for (idx_t i : {0, 1, 2, 419, 418}) pre[i] = 0;
    for (idx_t i : {20, 399, 210}) pre[i] = nparts - 2;
    pre[100] = 1;
    std::vector<idx_t> part = pre;
    Opts o;
    o.fixed = 1;
    o.kwayrefine = kwayrefine;
    testing::internal::CaptureStdout();
    const real_t cut = Partition(h, nparts, part, o);
    EXPECT_EQ(cut, Cut(h, part));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "");  // in particular no "Fixing failed"
    for (idx_t i = 0; i < h.nvtxs; i++) {
      if (pre[i] != -1) {
        EXPECT_EQ(part[i], pre[i]) << "cell " << i;
      }
    }
    const std::vector<double> pw = PartWeights(h, part, nparts);
    EXPECT_GT(pw[nparts - 1], 0.0);
  }
}

TEST(RecursivePartitionTest, ZeroRunsActsAsOneRun) {
  const Hyper h = Grid(12, 12);
  std::vector<idx_t> zero, one;
  Opts o;
  o.nruns = 0;
  o.nvcycles = 0;
  testing::internal::CaptureStdout();
  const real_t cut = Partition(h, 3, zero, o);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  o.nruns = 1;
  Partition(h, 3, one, o);
  EXPECT_EQ(zero, one);
  EXPECT_EQ(cut, Cut(h, zero));
}

TEST(RecursivePartitionTest, MorePartsThanCells) {
  struct Case { Hyper h; idx_t nparts; idx_t kwayrefine; };
  std::vector<Case> cases;
  Hyper h3; h3.nvtxs = 3; h3.Add({0, 1, 2});
  cases.push_back({h3, 8, 0});
  cases.push_back({h3, 3, 1});
  Hyper h1; h1.nvtxs = 1; h1.Add({0});  // coarsening limit 0
  cases.push_back({h1, 2, 1});
  Hyper h0;  // no cells, no nets
  cases.push_back({h0, 2, 1});
  Hyper h5 = Grid(1, 5);
  cases.push_back({h5, 7, 1});
  cases.push_back({h5, 16, 0});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.h.nvtxs << " cells, " << c.nparts << " parts");
    std::vector<idx_t> part;
    Opts o;
    o.kwayrefine = c.kwayrefine;
    const real_t cut = Partition(c.h, c.nparts, part, o);
    PartWeights(c.h, part, c.nparts);
    EXPECT_EQ(cut, Cut(c.h, part));
  }
}

TEST(RecursivePartitionTest, BisectionStatisticsLines) {
  const Hyper h = Grid(10, 12);
  std::vector<idx_t> part;
  Opts o;
  o.nruns = 1;
  o.nvcycles = 0;
  o.dbglvl = 8;
  testing::internal::CaptureStdout();
  const real_t cut = Partition(h, 2, part, o);
  const std::string out = testing::internal::GetCapturedStdout();
  double w0 = 0;
  for (idx_t v : part) w0 += (v == 0);
  const double frac = std::min(w0, 120 - w0) / 120.0;
  char expect[256];
  std::snprintf(expect, sizeof expect,
                "\n  Bisecting a hgraph of size [vertices=120, hedges=%ld, balance=0.50]\n"
                "\n    The mincut for this bisection = %10.2f (average = %3.1f) (balance = [%.2f]",
                h.nnets(), cut, cut, frac);
  EXPECT_EQ(out, expect);

  // Per trial: the best trial's cut is the result when V-cycles are off.
  o.nruns = 4;
  o.dbglvl = 16;
  testing::internal::CaptureStdout();
  const real_t best = Partition(h, 2, part, o);
  const std::string trials = testing::internal::GetCapturedStdout();
  const std::regex line(R"(    Cut of trial +(\d+):\t +([0-9.]+) \[(0\.\d\d)\]\n)");
  std::vector<double> cuts;
  for (auto it = std::sregex_iterator(trials.begin(), trials.end(), line);
       it != std::sregex_iterator(); ++it)
    cuts.push_back(std::stod((*it)[2]));
  ASSERT_EQ(cuts.size(), 4u) << trials;
  EXPECT_DOUBLE_EQ(*std::min_element(cuts.begin(), cuts.end()), best);
}

// dbglvl 128 opens one bracket per V-cycle sequence and shows the cut before
// and after the extra pass for large nets.
TEST(RecursivePartitionTest, VCycleCountAndLargeNetPass) {
  auto count = [](const std::string& s, const std::regex& re) {
    return std::distance(std::sregex_iterator(s.begin(), s.end(), re), std::sregex_iterator());
  };
  const std::regex vcycle(R"(          \[ *[0-9.]+ )");
  const std::regex pair(R"(\[ *[0-9.]+,  *[0-9.]+\])");
  struct Case { idx_t nruns, nvcycles; long expect; };
  for (const Case c : {Case{2, 5, 2}, Case{3, 1, 1}, Case{3, 0, 0}}) {
    std::vector<idx_t> part;
    Opts o;
    o.nruns = c.nruns;
    o.nvcycles = c.nvcycles;
    o.dbglvl = 128;
    testing::internal::CaptureStdout();
    Partition(Grid(10, 10), 2, part, o);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(out, vcycle), c.expect) << out;
    EXPECT_EQ(count(out, pair), 0) << out;
    testing::internal::CaptureStdout();
    Partition(Grid(10, 10, 60), 2, part, o);
    EXPECT_EQ(count(testing::internal::GetCapturedStdout(), pair), c.nruns);
  }
}

// A coarsening limit the caller gives, within what each scheme can use:
// below the cells, and at least the parts of a k-way coarsest level.
TEST(MakeConfigTest, CoarseningLimit) {
  const Hyper h = Grid(10, 10);
  const std::vector<veldan::pin_t> pins = veldan_test::Pins(h.netind);
  const HGraphView view{h.nvtxs, h.nnets(), 1, nullptr, h.netptr.data(), pins.data(), nullptr};
  struct Case {
    Scheme scheme;
    idx_t k, given, want;
  };
  const Case cases[] = {{Scheme::RecursiveBisection, 2, 0, ComputeCoarsenTo(100)},
                        {Scheme::RecursiveBisection, 2, 30, 30},
                        {Scheme::RecursiveBisection, 2, 500, 99},
                        {Scheme::Kway, 8, 0, KwayCoarsenTo(100, 8)},
                        {Scheme::Kway, 8, 3, 8},
                        {Scheme::Kway, 8, 40, 40}};
  for (const Case& c : cases) {
    Options o;
    o.scheme = c.scheme;
    o.k = c.k;
    o.coarsento = c.given;
    EXPECT_EQ(MakeConfig(o, view).coarsento, c.want) << c.given;
  }
}

TEST(RecursivePartitionTest, ParameterChecks) {
  const Hyper h = Grid(4, 4);
  std::vector<idx_t> part;
  struct Case {
    idx_t nparts;
    real_t ubfactor;
    int ctype;
    const char* message;
  };
  const Case cases[] = {{1, 5.0f, 3, "Nparts should be at least 2."},
                        {2, 0.09f, 3, "UBfactor should be greater than 0.1."},
                        {2, 5.0f, 12, "Invalid ctype parameter of 12"}};
  for (const Case& c : cases) {
    Opts o;
    o.ubfactor = c.ubfactor;
    o.ctype = c.ctype;
    try {
      Partition(h, c.nparts, part, o);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const Error& e) {
      EXPECT_EQ(e.status(), Status::InvalidOptions);
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  Options kwayfm;
  kwayfm.rtype = Refinement::KRandom;
  const std::vector<veldan::pin_t> pins = veldan_test::Pins(h.netind);
  const HGraphView view{h.nvtxs, h.nnets(), 1, nullptr, h.netptr.data(), pins.data(), nullptr};
  EXPECT_THROW(MakeConfig(kwayfm, view), Error);
  // The smallest accepted percentage.
  Opts o;
  o.ubfactor = 0.1f;
  Partition(h, 2, part, o);
  PartWeights(h, part, 2);
}

// Real instances with unit net weights: every bisection within its bound,
// and nothing printed at dbglvl 0 (so no "Wrong cut!").
TEST(RecursivePartitionTest, RealInstancesBalancedAndCutConsistent) {
  std::vector<std::pair<std::string, idx_t>> runs{
      {std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr", 2},
      {std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr", 5}};
  const std::string dir = veldan_test::SharedHgrDir();
  if (!dir.empty()) runs.push_back({dir + "/ibm01.hgr", 4});
  for (const auto& [file, nparts] : runs) {
    const veldan::HGraphPtr g_owner = ReadHGraph(file.c_str());
    veldan::HGraph* g = g_owner.get();
    Hyper h;
    h.nvtxs = g->nvtxs;
    h.netptr.assign(g->netptr.data(), g->netptr.data() + g->nnets + 1);
    h.netind.assign(g->netind.data(), g->netind.data() + g->netptr[g->nnets]);
    h.netwgt.assign(g->nnets, 1.0f);
    SCOPED_TRACE(file + " " + std::to_string(nparts));
    std::vector<idx_t> part;
    Opts o;
    o.nruns = 2;
    testing::internal::CaptureStdout();
    const real_t cut = Partition(h, nparts, part, o);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ExpectBisectionsBalanced(PartWeights(h, part, nparts), 0, nparts);
    EXPECT_EQ(cut, Cut(h, part));
  }
  if (dir.empty()) GTEST_SKIP() << "shared hypergraphs absent: ibm01 not run";
}

}  // namespace
}  // namespace veldan
