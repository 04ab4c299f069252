// Two-way refinement: pin counts and gains, FM passes, balancing, the
// refinement schedule, island placement, initial bisection and uncoarsening.
//
// Results are checked against an independent recount. Net and cell weights
// are small integers, so every float sum is exact and checks use equality.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bisect/bisect.h"
#include "bisect/twoway.h"
#include "coarsen/coarsen.h"
#include "programs/cli.h"
#include "support/memory.h"
#include "support/parallel.h"
#include "support/vecops.h"
#include "tests/testutil.h"

namespace veldan {
namespace {

using Nets = std::vector<std::vector<idx_t>>;

veldan_test::TestContext Ctrl(real_t ubfactor = 0.05f, real_t tpwgt = 0.5f) {
  veldan_test::TestContext ctrl;
  ctrl.ubfactor = ubfactor;
  ctrl.tpwgt = tpwgt;
  ctrl.config.refinement.maxnet = 20;
  ctrl.config.refinement.scheme = Refinement::Fast;
  return ctrl;
}

// A level with incidence lists and two-way arrays for ncells cells (the
// last nislands of them islands), every cell on side 0.
HGraphPtr MakeGraph(idx_t ncells, const Nets& nets, std::vector<real_t> cellwgt,
                  std::vector<real_t> netwgt, idx_t nislands = 0) {
  veldan_test::TestContext ctrl = Ctrl();
  std::vector<idx_t> ptr{0}, ind;
  for (const auto& net : nets) {
    ind.insert(ind.end(), net.begin(), net.end());
    ptr.push_back(static_cast<idx_t>(ind.size()));
  }
  veldan::HGraphPtr g_owner = SetUpHGraph(ncells, static_cast<idx_t>(nets.size()), 1,
                          cellwgt.empty() ? nullptr : cellwgt.data(),
                          netwgt.empty() ? nullptr : netwgt.data(), ptr.data(), veldan_test::Pins(ind).data());
  veldan::HGraph* g = g_owner.get();
  CreateIncidentHGraph(ctrl, g);
  g->nfixed = 0;
  g->nvtxs = ncells - nislands;  // islands have no nets and come last
  g->nislands = nislands;
  Allocate2wayRefinementMemory(ctrl, g);
  std::fill(g->where.data(), g->where.data() + ncells, 0);
  return g_owner;
}

// Nets of 1 to 8 pins, every 40th net above rmaxnet (20), integer weights,
// random sides.
HGraphPtr RandomGraph(unsigned seed, idx_t nvtxs) {
  std::mt19937 rng(seed);
  auto pick = [&](idx_t n) { return static_cast<idx_t>(rng() % n); };
  Nets nets(2 * nvtxs);
  std::vector<real_t> netwgt, cellwgt;
  for (idx_t e = 0; e < 2 * nvtxs; e++) {
    const idx_t size = (e % 40 == 0) ? 25 + pick(10) : 1 + pick(8);
    for (idx_t k = 0; k < size; k++) {
      const idx_t c = pick(nvtxs);
      if (std::find(nets[e].begin(), nets[e].end(), c) == nets[e].end()) nets[e].push_back(c);
    }
    netwgt.push_back(static_cast<real_t>(1 + pick(3)));
  }
  for (idx_t i = 0; i < nvtxs; i++) cellwgt.push_back(static_cast<real_t>(1 + pick(4)));
  veldan::HGraphPtr g_owner = MakeGraph(nvtxs, nets, cellwgt, netwgt);
  for (idx_t i = 0; i < nvtxs; i++) g_owner->where[i] = pick(2);
  return g_owner;
}

// mincut (nets of at most rmaxnet pins with pins on two or more sides) and
// the side weights, recounted from where.
void ExpectConsistent(const HGraph* g, idx_t rmaxnet) {
  real_t cut = 0.0f, pw[2] = {0.0f, 0.0f};
  for (idx_t e = 0; e < g->nnets; e++) {
    bool seen[3] = {false, false, false};
    for (idx_t p = g->netptr[e]; p < g->netptr[e + 1]; p++) seen[g->where[g->netind[p]]] = true;
    if (NetSize(g, e) <= rmaxnet && seen[0] + seen[1] + seen[2] >= 2) cut += g->netwgt[e];
  }
  for (idx_t i = 0; i < g->nvtxs; i++)
    if (g->where[i] < 2) pw[g->where[i]] += g->cellwgt[i];
  EXPECT_EQ(g->mincut, cut);
  EXPECT_EQ(g->pwgts[0], pw[0]);
  EXPECT_EQ(g->pwgts[1], pw[1]);
}

std::vector<idx_t> Where(const HGraph* g) {
  return std::vector<idx_t>(g->where.data(), g->where.data() + g->nvtxs + g->nislands);
}

// Cells 0..4 of weights 1..5 on sides 0 0 1 1 2, island 5 of weight 6;
// rmaxnet 3.
//   {0}        w2  one pin: never cut, no gain
//   {0,1,2}    w1  cut; cell 2 alone on side 1: +1
//   {0,1,2,3}  w7  above rmaxnet: ignored
//   {2,3,4}    w3  cut through side 2: changes no gain
//   {1,3}      w4  cut; cells 1 and 3 each alone: +4
TEST(TwoWayParams, CountsCutGainsAndSideWeights) {
  veldan_test::TestContext ctrl = Ctrl();
  ctrl.config.refinement.maxnet = 3;
  veldan::HGraphPtr g_owner = MakeGraph(6, {{0}, {0, 1, 2}, {0, 1, 2, 3}, {2, 3, 4}, {1, 3}},
                        {1, 2, 3, 4, 5, 6}, {2, 1, 7, 3, 4}, 1);
  veldan::HGraph* g = g_owner.get();
  const idx_t where[] = {0, 0, 1, 1, 2, 0};
  std::copy(where, where + 6, g->where.data());
  g->gain[5] = 42.0f;
  Compute2WayParams(ctrl, g);
  EXPECT_EQ(g->mincut, 8.0f);
  EXPECT_EQ(g->pwgts[0], 3.0f);
  EXPECT_EQ(g->pwgts[1], 7.0f);
  EXPECT_EQ(std::vector<real_t>(g->gain.data(), g->gain.data() + 6), (std::vector<real_t>{0, 4, 1, 4, 0, 42}));
  EXPECT_EQ(g->sides[2].n[0] + g->sides[2].n[1] + g->sides[2].n[2], 0);
  EXPECT_EQ(g->sides[3].n[2], 1);

  // Islands: a tie goes to side 1, then the lighter side.
  g->pwgts[0] = g->pwgts[1] = 10.0f;
  g->nvtxs = 4;
  g->nislands = 2;
  PlaceIslands(g);
  EXPECT_EQ(g->where[4], 1);
  EXPECT_EQ(g->where[5], 0);
  EXPECT_EQ(g->pwgts[0], 16.0f);
  EXPECT_EQ(g->pwgts[1], 15.0f);
  EXPECT_EQ(g->mincut, 8.0f);

  // Unequal targets (side 0 gets a third, as in a split for three parts):
  // an island joins the side further below its share, not the lighter one.
  g->pwgts[0] = 12.0f;
  g->pwgts[1] = 20.0f;
  PlaceIslands(g, 1.0f / 3.0f);
  EXPECT_EQ(g->where[4], 1);  // 12/(1/3) = 36 > 20/(2/3) = 30
  EXPECT_EQ(g->where[5], 0);  // 36 < 25/(2/3) = 37.5: now side 0 is short
  EXPECT_EQ(g->pwgts[0], 18.0f);
  EXPECT_EQ(g->pwgts[1], 25.0f);
}

TEST(TwoWaySchedule, LimitFractionPassLimitAndBadCodes) {
  struct Case { Refinement rtype; idx_t n; real_t f; idx_t limit; };
  const Case cases[] = {
      {Refinement::Fast, 500, 1.0f, 500},        {Refinement::Moderate, 500, 1.0f, 500},
      {Refinement::Slow, 500, 1.0f, 500},        {Refinement::Fast, 10000, 0.1f, 1000},
      {Refinement::Moderate, 10000, 0.2f, 2000}, {Refinement::Slow, 10000, 1.0f, 10000},
      {Refinement::Fast, 40000, 0.05f, 2000},    {Refinement::Moderate, 40000, 0.2f, 8000},
      {Refinement::Slow, 40000, 1.0f, 40000},    {Refinement::Fast, 20000, 0.05f, 1000}};
  for (const Case& c : cases) {
    const real_t f = Refine2WayLimitFrac(c.rtype, c.n);
    EXPECT_EQ(f, c.f) << static_cast<int>(c.rtype) << " " << c.n;
    EXPECT_EQ(FMPassMoveLimit(c.n, f), c.limit) << static_cast<int>(c.rtype) << " " << c.n;
  }
  EXPECT_EQ(FMPassMoveLimit(7, 0.3f), 2);  // 2.0999999 in single precision
  EXPECT_EXIT(Refine2WayLimitFrac(Refinement::KRandom, 100), testing::ExitedWithCode(254), "Unknown refinement type: 4");
  veldan::HGraphPtr g_owner = RandomGraph(3, 20);
  veldan::HGraph* g = g_owner.get();
  veldan_test::TestContext ctrl = Ctrl();
  EXPECT_EXIT(Refine_EEFM(ctrl, g, 1, 3, 1.0f), testing::ExitedWithCode(254), "Unknown FMType of 3");
}

TEST(TwoWayFM, ResultAgreesWithRecountAndNeverWorsens) {
  const real_t fracs[] = {0.05f, 0.2f, 1.0f};
  for (unsigned seed = 1; seed <= 48; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    veldan_test::TestContext ctrl = Ctrl(seed % 2 ? 0.05f : 0.1f, seed % 3 ? 0.5f : 1.0f / 3.0f);
    veldan::HGraphPtr g_owner = RandomGraph(seed, 40 + 7 * seed);
    veldan::HGraph* g = g_owner.get();
    g->nfixed = 4;
    if (seed % 4 == 0)
      for (idx_t i = 5; i < g->nvtxs; i += 9) g->where[i] = 2;
    Compute2WayParams(ctrl, g);
    const real_t before = g->mincut, pw0 = g->pwgts[0], pw1 = g->pwgts[1];
    const std::vector<idx_t> start = Where(g);
    ctrl.rng.Seed(static_cast<std::uint32_t>(seed));
    Refine_EEFM(ctrl, g, 10, 1 + seed % 2, fracs[seed % 3]);

    ExpectConsistent(g, ctrl.config.refinement.maxnet);
    EXPECT_LE(g->mincut, before);
    for (idx_t i = 0; i < g->nvtxs; i++)
      EXPECT_TRUE(g->where[i] == start[i] || (i >= g->nfixed && start[i] != 2)) << i;
    // A side keeps its minimum, or all it had if it started lighter.
    const double m0 = 2.0 * (0.5 - ctrl.ubfactor) * ctrl.tpwgt * (pw0 + pw1);
    const double m1 = m0 * (1.0 - ctrl.tpwgt) / ctrl.tpwgt;
    EXPECT_GE(g->pwgts[0], std::min<double>(pw0, m0) - 1e-3);
    EXPECT_GE(g->pwgts[1], std::min<double>(pw1, m1) - 1e-3);

    const std::vector<idx_t> result = Where(g);  // same seed, same result
    std::copy(start.begin(), start.end(), g->where.data());
    ctrl.rng.Seed(static_cast<std::uint32_t>(seed));
    Refine_EEFM(ctrl, g, 10, 1 + seed % 2, fracs[seed % 3]);
    EXPECT_EQ(Where(g), result);
  }
}

TEST(TwoWayFM, LockedOrTooLightLevelsKeepTheirPartition) {
  // Every cell fixed: nothing queued, one pass.
  veldan_test::TestContext ctrl = Ctrl();
  ctrl.config.dbglvl = DBG_REFINE;
  veldan::HGraphPtr g_owner = RandomGraph(7, 50);
  veldan::HGraph* g = g_owner.get();
  g->nfixed = g->nvtxs;
  const std::vector<idx_t> start = Where(g);
  testing::internal::CaptureStdout();
  Refine_EEFM(ctrl, g, 10, 1, 1.0f);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("\tMinimum Cut:"), out.rfind("\tMinimum Cut:")) << out;
  EXPECT_NE(out.find("Partitions: [     0,"), std::string::npos) << out;
  EXPECT_EQ(Where(g), start);

  // Unit weights, sides 50 and 30, both below their minimum 0.7 * 80, only
  // side-0 cells movable: every move lightens side 0, none may stand.
  ctrl = Ctrl(-0.2f);
  for (unsigned seed = 1; seed <= 10; seed++) {
    g_owner = RandomGraph(seed, 80);
    g = g_owner.get();
    std::fill(g->cellwgt.data(), g->cellwgt.data() + 80, 1.0f);
    for (idx_t i = 0; i < 80; i++) g->where[i] = (i < 30) ? 1 : 0;
    g->nfixed = 30;
    Compute2WayParams(ctrl, g);
    const real_t cut = g->mincut;
    ctrl.rng.Seed(static_cast<std::uint32_t>(seed));
    Refine_EEFM(ctrl, g, 10, 2, 1.0f);
    EXPECT_EQ(std::count(g->where.data(), g->where.data() + 80, 0), 50);
    EXPECT_EQ(g->mincut, cut);
  }
}

TEST(TwoWayFM, GainPerWeightOrdersEqualGains) {
  // Cells 1 (weight 1) and 2 (weight 3) on side 0, each joined to fixed
  // cell 0 by a net of weight 2: both gain +2 with cell 0 on side 1, -2
  // with it on side 0. No minimum weight applies.
  veldan_test::TestContext ctrl = Ctrl(0.5f);
  ctrl.config.dbglvl = DBG_MOVES;
  for (unsigned seed = 1; seed <= 8; seed++)
    for (idx_t side0 = 0; side0 < 2; side0++) {
      veldan::HGraphPtr g_owner = MakeGraph(3, {{0, 1}, {0, 2}}, {1, 1, 3}, {2, 2});
      veldan::HGraph* g = g_owner.get();
      g->nfixed = 1;
      g->where[0] = side0;
      ctrl.rng.Seed(static_cast<std::uint32_t>(seed));
      testing::internal::CaptureStdout();
      Refine_EEFM(ctrl, g, 1, 2, 1.0f);
      const std::string out = testing::internal::GetCapturedStdout();
      long first = -1;
      std::sscanf(out.c_str(), "Gains from moving %ld", &first);
      EXPECT_EQ(first, side0 == 1 ? 1 : 2) << out;  // lighter first when positive
    }
}

TEST(TwoWayBalance, ActsOnlyOnALightSideAndNeverMovesFixedCells) {
  // Sides 3 and 12 of 15 with a minimum of 1.5 each: result 0, only pwgts set.
  veldan_test::TestContext ctrl = Ctrl(0.4f);
  veldan::HGraphPtr g_owner = MakeGraph(5, {{0, 1, 2}, {1, 3, 4}}, {1, 2, 3, 4, 5}, {});
  veldan::HGraph* g = g_owner.get();
  std::fill(g->where.data() + 2, g->where.data() + 5, 1);
  g->mincut = -5.0f;
  g->gain[0] = 9.0f;
  EXPECT_EQ(Balance(ctrl, g), 0);
  EXPECT_EQ(g->pwgts[0], 3.0f);
  EXPECT_EQ(g->pwgts[1], 12.0f);
  EXPECT_EQ(g->mincut, -5.0f);
  EXPECT_EQ(g->gain[0], 9.0f);

  // A heavy side of fixed cells only, then one whose every cell would
  // overshoot (20 : 5, minimum 11.25): balancing runs, nothing moves.
  ctrl = Ctrl();
  g_owner = MakeGraph(4, {{0, 1, 2, 3}}, {10, 10, 1, 1}, {});
  g = g_owner.get();
  g->nfixed = 2;
  g->where[2] = g->where[3] = 1;
  EXPECT_EQ(Balance(ctrl, g), 1);
  EXPECT_EQ(Where(g), (std::vector<idx_t>{0, 0, 1, 1}));
  g_owner = MakeGraph(3, {{0, 1, 2}}, {10, 10, 5}, {});
  g = g_owner.get();
  g->where[2] = 1;
  EXPECT_EQ(Balance(ctrl, g), 1);
  EXPECT_EQ(Where(g), (std::vector<idx_t>{0, 0, 1}));

  for (unsigned seed = 1; seed <= 30; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ctrl = Ctrl(0.05f, seed % 2 ? 0.5f : 0.4f);
    g_owner = RandomGraph(seed, 100);
    g = g_owner.get();
    g->nfixed = 6;
    for (idx_t i = 6; i < 100; i++) g->where[i] = (i % 10 == 0) == (seed % 2 == 0);
    const std::vector<idx_t> start = Where(g);
    ctrl.rng.Seed(static_cast<std::uint32_t>(seed));
    ASSERT_EQ(Balance(ctrl, g), 1);
    ExpectConsistent(g, ctrl.config.refinement.maxnet);
    EXPECT_TRUE(std::equal(start.begin(), start.begin() + 6, g->where.data()));
    const double m0 = 2.0 * (0.5 - ctrl.ubfactor) * ctrl.tpwgt * (g->pwgts[0] + g->pwgts[1]);
    EXPECT_GE(g->pwgts[0], static_cast<real_t>(m0));
    EXPECT_GE(g->pwgts[1], static_cast<real_t>(m0 * (1.0 - ctrl.tpwgt) / ctrl.tpwgt));
  }
}

TEST(TwoWayInit, KeepsShareOfFixedCellsAndReportsBestPartition) {
  for (idx_t p = 2; p <= 7; p++) {
    SCOPED_TRACE("p " + std::to_string(p));
    veldan_test::TestContext ctrl = Ctrl(0.05f, static_cast<real_t>(static_cast<double>(p / 2) / p));
    veldan::HGraphPtr g_owner = RandomGraph(static_cast<unsigned>(100 + p), 60);
    veldan::HGraph* g = g_owner.get();
    Free2wayRefinementMemory(g);
    g->nfixed = p;
    ctrl.rng.Seed(static_cast<std::uint32_t>(p));
    Random_FMPartition(ctrl, g);
    EXPECT_EQ(std::count(g->where.data(), g->where.data() + p, 0), p / 2);
    ExpectConsistent(g, ctrl.config.refinement.maxnet);  // side weights of the kept partition
  }
}

TEST(TwoWayUncoarsen, SameLevelOnlyCombinesIslands) {
  veldan_test::TestContext ctrl = Ctrl();
  veldan::HGraphPtr g_owner = MakeGraph(6, {{0, 2}, {2, 3, 5}, {0, 5}}, {}, {});  // 1 and 4 netless
  veldan::HGraph* g = g_owner.get();
  Free2wayRefinementMemory(g);
  SeparateIslands(g);
  ASSERT_EQ(g->nislands, 2);
  Allocate2wayRefinementMemory(ctrl, g);
  const std::vector<idx_t> byold = {1, 0, 0, 1, 1, 0};  // a poor split: cut 3
  for (idx_t i = 0; i < 6; i++) g->where[g->islandmap[i]] = byold[i];
  g->mincut = 3.0f;
  Uncoarsen2Way(ctrl, g, g);
  EXPECT_EQ(g->nvtxs, 6);
  EXPECT_EQ(Where(g), byold);
  EXPECT_EQ(g->mincut, 3.0f);
}

TEST(TwoWayReal, MultilevelBisectionOfIbm01) {
  const std::string path = std::string(VELDAN_SHARED_DIR) + "/data/hgr/ibm01.hgr";
  if (!veldan_test::FileExists(path)) GTEST_SKIP() << "no " << path;
  const veldan::HGraphPtr raw_owner = ReadHGraph(path.c_str());
  veldan::HGraph* raw = raw_owner.get();
  veldan::HGraphPtr g_owner = SetUpHGraph(raw->nvtxs, raw->nnets, 1, raw->cellwgt.data(), raw->netwgt.data(),
                          raw->netptr.data(), raw->netind.data());
  veldan::HGraph* g = g_owner.get();
  veldan_test::TestContext ctrl = Ctrl();
  ctrl.config.refinement.maxnet = ctrl.config.coarsening.maxnet = 50;
  ctrl.config.coarsento = 100;
  ctrl.UseScheme(Coarsening::GFC1);
  CreateIncidentHGraph(ctrl, g);
  g->nfixed = 0;
  const real_t total = ax_fsum(g->nvtxs, g->cellwgt.data(), 1);
  ctrl.maxcellwgt = 2.0f * total / 100.0f;
  ctrl.rng.Seed(static_cast<std::uint32_t>(1));
  HGraph* cg = Coarsen(ctrl, g);
  ASSERT_NE(cg, g);
  Random_FMPartition(ctrl, cg);
  ExpectConsistent(cg, ctrl.config.refinement.maxnet);
  PlaceIslands(cg);
  Uncoarsen2Way(ctrl, g, cg);
  EXPECT_EQ(g->coarser, nullptr);
  ExpectConsistent(g, ctrl.config.refinement.maxnet);
  EXPECT_GE(std::min(g->pwgts[0], g->pwgts[1]), 0.45f * total - 1.0f);
  EXPECT_LT(g->mincut, 400.0f);  // a random split cuts most of the 14111 nets
}

// The trial lines of the initial bisection and the lines of the refinement
// passes and moves, from the built program on a 20 x 20 grid.
TEST(TwoWayReport, ProgressLinesOfBinary) {
  std::ostringstream hgr;
  hgr << "399 400\n";
  for (int i = 1; i < 400; i++) {  // cell i with its right and lower neighbours
    hgr << i;
    if (i % 20) hgr << ' ' << i + 1;
    if (i + 20 <= 400) hgr << ' ' << i + 20;
    hgr << '\n';
  }
  veldan_test::TempDir dir;
  const std::string file = dir.Write("grid.hgr", hgr.str());
  const auto res = veldan_test::Run({"-seed=2", "-dbglvl=262", "-nruns=1", "-nvcycles=0", file, "2"});
  ASSERT_EQ(res.exit_code, 0) << res.err;

  const std::string f = R"( *-?\d+\.\d{2})";
  const std::regex kinds[] = {
      std::regex(R"( *\d+ +\d+\.\d{3} +\d+\.\d{3} +\d+\.\d{3})"),
      std::regex(R"(Bestcut Icut: \d+\.\d{6})"),
      std::regex("Partitions: \\[ *\\d+," + f + "\\]  \\[ *\\d+," + f + "\\], Initial Cut: " + f +
                 " \\[" + f + "\\] \\[" + f + "\\]"),
      std::regex("\tMinimum Cut: " + f + " \\[" + f + "\\] at +-?\\d+ \\[" + f + " " + f + "\\]"),
      std::regex("Gains from moving +\\d+ from +[01]: " + f + ", \tNewcut: " + f + " \\[" + f + " " + f +
                 "\\]\\*?")};
  const char* keys[] = {nullptr, "Bestcut", "Partitions", "Minimum Cut", "Gains from"};
  int count[5] = {0, 0, 0, 0, 0};
  std::istringstream out(res.out);
  for (std::string line; std::getline(out, line);) {
    int kind = 0;
    while (kind < 5 && !std::regex_match(line, kinds[kind])) kind++;
    if (kind < 5) count[kind]++;
    for (int k = 1; k < 5; k++)  // a line naming a kind must have its form
      EXPECT_TRUE(line.find(keys[k]) == std::string::npos || kind == k) << line;
  }
  EXPECT_EQ(count[0], 20);
  EXPECT_EQ(count[1], 1);
  EXPECT_GT(count[2], 0);
  EXPECT_GE(count[3], count[2]);
  EXPECT_GT(count[4], 0);
}

// The recount runs over nets and cells in chunks on a level large enough
// for many: the cut and side weights equal a recount in index order, and
// every gain equals the one read off its nets' pins directly, for one
// thread and several.
TEST(Threads, TwoWayRecountInChunks) {
  for (idx_t nthreads : {1, 3}) {
    SCOPED_TRACE(std::to_string(nthreads) + " threads");
    veldan::HGraphPtr g_owner = RandomGraph(11, 30000);
    veldan::HGraph* g = g_owner.get();
    for (idx_t i = 3; i < g->nvtxs; i += 97) g->where[i] = 2;
    veldan_test::TestContext ctrl = Ctrl();
    const idx_t rmaxnet = ctrl.config.refinement.maxnet;
    RunWithThreads(nthreads, [&] { Compute2WayParams(ctrl, g); });
    ExpectConsistent(g, rmaxnet);
    idx_t wrong = 0;
    for (idx_t c = 0; c < g->nvtxs; c++) {
      const idx_t s = g->where[c];
      real_t gain = 0.0f;
      for (idx_t q = g->incptr[c]; s != 2 && q < g->incptr[c + 1]; q++) {
        const idx_t e = g->incind[q];
        idx_t n[3] = {0, 0, 0};
        for (idx_t p = g->netptr[e]; p < g->netptr[e + 1]; p++) n[g->where[g->netind[p]]]++;
        if (NetSize(g, e) > rmaxnet || NetSize(g, e) < 2 || n[2] > 0) continue;
        if (n[1 - s] == 0)
          gain -= g->netwgt[e];
        else if (n[s] == 1)
          gain += g->netwgt[e];
      }
      wrong += (g->gain[c] != gain);
    }
    EXPECT_EQ(wrong, 0);
  }
}

}  // namespace
}  // namespace veldan
