// Hypergraph record set-up, incidence lists, release, and the scheme table.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tests/testutil.h"
#include "hgraph/context.h"
#include "hgraph/evaluate.h"
#include "hgraph/hgraph.h"
#include "support/memory.h"

using namespace veldan;

namespace {

// Five cells, three nets: {0,1}, {1,2,3}, {3}; cell 4 lies on no net.
struct Small {
  std::vector<idx_t> netptr{0, 2, 5, 6};
  std::vector<veldan::pin_t> netind{0, 1, 1, 2, 3, 3};
};

}  // namespace

TEST(SetUpHGraph, DefaultsUnitWeightsAndCopiesArrays) {
  Small s;
  const veldan::HGraphPtr g_owner = SetUpHGraph(5, 3, 1, nullptr, nullptr, s.netptr.data(), s.netind.data());
  veldan::HGraph* g = g_owner.get();
  ASSERT_NE(g->cellwgt.data(), nullptr);
  EXPECT_EQ(g->ncellwgt.data(), nullptr);
  for (idx_t i = 0; i < 5; i++) EXPECT_EQ(g->cellwgt[i], 1.0f);
  for (idx_t e = 0; e < 3; e++) EXPECT_EQ(g->netwgt[e], 1.0f);
  EXPECT_NE(g->netptr.data(), s.netptr.data());
  s.netind[0] = 4;  // the record owns its own copy
  EXPECT_EQ(g->netind[0], 0);
  EXPECT_EQ(g->netptr[3], 6);
  EXPECT_EQ(g->nfixed, -1);
  EXPECT_EQ(g->level, -1);
}

TEST(SetUpHGraph, RaisesTinyNegativeAndNaNCellWeightsButNotNetWeights) {
  Small s;
  std::vector<real_t> cw{0.0f, -3.0f, NAN, 2.5f, 1e-9f};
  std::vector<real_t> nw{0.0f, 2.0f, -1.0f};
  const veldan::HGraphPtr g_owner = SetUpHGraph(5, 3, 1, cw.data(), nw.data(), s.netptr.data(), s.netind.data());
  veldan::HGraph* g = g_owner.get();
  EXPECT_EQ(g->cellwgt[0], kFloatEps);
  EXPECT_EQ(g->cellwgt[1], kFloatEps);
  EXPECT_EQ(g->cellwgt[2], kFloatEps);
  EXPECT_EQ(g->cellwgt[3], 2.5f);
  EXPECT_EQ(g->cellwgt[4], kFloatEps);
  EXPECT_EQ(g->netwgt[0], 0.0f);
  EXPECT_EQ(g->netwgt[2], -1.0f);
}

TEST(SetUpHGraph, ScalesEachWeightToAverageOneWhenSeveral) {
  std::vector<idx_t> netptr{0, 2};
  std::vector<veldan::pin_t> netind{0, 1};
  std::vector<real_t> cw{1, 2, 3, 2};  // cell 0: (1,2), cell 1: (3,2)
  const veldan::HGraphPtr g_owner = SetUpHGraph(2, 1, 2, cw.data(), nullptr, netptr.data(), netind.data());
  veldan::HGraph* g = g_owner.get();
  ASSERT_NE(g->ncellwgt.data(), nullptr);
  ASSERT_NE(g->cellwgt.data(), nullptr);
  EXPECT_FLOAT_EQ(g->ncellwgt[0], 0.5f);
  EXPECT_FLOAT_EQ(g->ncellwgt[1], 1.0f);
  EXPECT_FLOAT_EQ(g->ncellwgt[2], 1.5f);
  EXPECT_FLOAT_EQ(g->ncellwgt[3], 1.0f);
  EXPECT_FLOAT_EQ(g->cellwgt[0], 0.75f);  // the mean of the cell's weights
  EXPECT_FLOAT_EQ(g->cellwgt[1], 1.25f);
}

TEST(CreateIncidentHGraph, EdgeWeightsAndEmptyCell) {
  // Net 0 = {4, 9} weight 3; net 1 = {0, 1, 2} weight 1; net 2 = {5} weight 2.
  std::vector<idx_t> netptr{0, 2, 5, 6};
  std::vector<veldan::pin_t> netind{4, 9, 0, 1, 2, 5};
  std::vector<real_t> nw{3, 1, 2};
  const veldan::HGraphPtr g_owner = SetUpHGraph(10, 3, 1, nullptr, nw.data(), netptr.data(), netind.data());
  veldan::HGraph* g = g_owner.get();
  veldan_test::TestContext ctrl;
  CreateIncidentHGraph(ctrl, g);
  EXPECT_FLOAT_EQ(g->edgewgt[0], 3.0f);
  EXPECT_FLOAT_EQ(g->edgewgt2[0], 3.0f);
  EXPECT_FLOAT_EQ(g->edgewgt[1], 0.5f);
  EXPECT_FLOAT_EQ(g->edgewgt2[1], 0.25f);
  // A single-pin net connects nothing.
  EXPECT_EQ(g->edgewgt[2], 0.0f);
  EXPECT_EQ(g->edgewgt2[2], 0.0f);
  // Cell 3 lies on no net.
  EXPECT_EQ(g->incptr[3], g->incptr[4]);
  EXPECT_EQ(g->incwgt[3], 0.0f);
  EXPECT_FLOAT_EQ(g->incwgt[5], 2.0f);
  EXPECT_EQ(g->incptr[10], 6);
}

TEST(CreateIncidentHGraph, IsTheExactTransposeInNetOrder) {
  std::mt19937 rng(7);
  const idx_t nvtxs = 300, nnets = 500;
  std::vector<idx_t> netptr{0};
  std::vector<veldan::pin_t> netind;
  for (idx_t e = 0; e < nnets; e++) {
    idx_t size = 1 + rng() % 6;
    std::vector<char> used(nvtxs, 0);
    for (idx_t k = 0; k < size; k++) {
      idx_t v = rng() % nvtxs;
      if (!used[v]) {
        used[v] = 1;
        netind.push_back(v);
      }
    }
    netptr.push_back(static_cast<idx_t>(netind.size()));
  }
  const veldan::HGraphPtr g_owner = SetUpHGraph(nvtxs, nnets, 1, nullptr, nullptr, netptr.data(), netind.data());
  veldan::HGraph* g = g_owner.get();
  veldan_test::TestContext ctrl;
  CreateIncidentHGraph(ctrl, g);
  std::vector<std::vector<idx_t>> expect(nvtxs);
  for (idx_t e = 0; e < nnets; e++)
    for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) expect[netind[p]].push_back(e);
  EXPECT_EQ(g->incptr[0], 0);
  for (idx_t v = 0; v < nvtxs; v++) {
    std::vector<idx_t> got(g->incind.data() + g->incptr[v], g->incind.data() + g->incptr[v + 1]);
    ASSERT_EQ(got, expect[v]) << "cell " << v;
    EXPECT_FLOAT_EQ(g->incwgt[v], static_cast<real_t>(expect[v].size()));
  }
}

TEST(HGraph, FreeWorkKeepsTheStructureAndABorrowedArrayFreesNothing) {
  Small s;
  const HGraphPtr g = SetUpHGraph(5, 3, 1, nullptr, nullptr, s.netptr.data(), s.netind.data());
  veldan_test::TestContext ctrl;
  CreateIncidentHGraph(ctrl, g.get());
  g->where = Array<idx_t>(5, 0, "test: where");
  g->cellmap = Array<pin_t>(5, 0, "test: cellmap");
  const std::size_t before = ax_CurMemory();
  g->FreeWork();
  EXPECT_TRUE(g->where.empty());
  EXPECT_TRUE(g->cellmap.empty());
  EXPECT_EQ(g->netptr[3], 6);
  EXPECT_EQ(g->incptr[5], 6);
  EXPECT_LT(ax_CurMemory(), before);

  // A record sharing the arrays of another (the runs of one level) leaves
  // them to their owner.
  const std::size_t held = ax_CurMemory();
  {
    HGraphPtr b = CreateHGraph();
    b->netptr = Array<idx_t>::Borrow(g->netptr);
    b->netind = Array<veldan::pin_t>::Borrow(g->netind);
  }
  EXPECT_EQ(ax_CurMemory(), held);
  EXPECT_EQ(g->netind[0], 0);
}

TEST(RunContext, SchemeTable) {
  struct Case {
    Coarsening scheme;
    idx_t cflags, groupsize;
  };
  for (const Case c : {Case{Coarsening::GEdge1, 3, 2}, Case{Coarsening::H12, 0, 5},
                       Case{Coarsening::FC1, 2, 5}, Case{Coarsening::GFC2, 1, 5}}) {
    veldan_test::TestContext t;
    t.UseScheme(c.scheme);
    EXPECT_EQ(t.cflags, c.cflags);
    EXPECT_EQ(t.maxgroupsize, c.groupsize);
    EXPECT_EQ(t.config.coarsening.cflags, c.cflags);
  }
}

TEST(RunContext, TimersRunOnlyUnderTheTimingBit) {
  veldan_test::TestContext c;
  c.config.dbglvl = 0;
  StartTimer(c, TIMER_COARSEN);
  StopTimer(c, TIMER_COARSEN);
  EXPECT_EQ(c.timers.t[TIMER_COARSEN], 0.0);
  c.config.dbglvl = DBG_TIME;
  c.timers.t[TIMER_COARSEN] = 0.0;
  StartTimer(c, TIMER_COARSEN);
  volatile double x = 0;
  for (int i = 0; i < 2000000; i++) x = x + i;
  StopTimer(c, TIMER_COARSEN);
  EXPECT_GE(c.timers.t[TIMER_COARSEN], 0.0);
}

TEST(BoundObstacle, ProvesWhatNoPartitionCanMeet) {
  // Cells (10, 1) and nine of (2, 1) into two parts, bounds 14.42 and 5.15:
  // no cell alone is too heavy, but each part holds at least 4.85 of the
  // second weight, so the part of cell 1 needs 3.85 more of it, which costs
  // at least 7.7 of the first weight: 17.7 in all.
  std::vector<real_t> w{10, 1};
  for (int i = 0; i < 9; i++) w.insert(w.end(), {2, 1});
  const std::vector<double> bounds{14.42, 5.15};
  EXPECT_EQ(veldan::BoundObstacle(10, 2, w.data(), nullptr, 2, bounds),
            "No partition can meet the balance bound: the part that holds cell 1 must hold at "
            "least 3.85 more of weight 2, which brings its weight 1 to 17.7 or more, above the "
            "bound of 14.42.");
  // With room for that, nothing is proved; a cell above a bound, or fixed
  // cells above it together, are.
  EXPECT_EQ(veldan::BoundObstacle(10, 2, w.data(), nullptr, 2, {18.0, 5.15}), "");
  w[0] = 20;
  EXPECT_EQ(veldan::BoundObstacle(10, 2, w.data(), nullptr, 2, {19.0, 20.0}),
            "No partition can meet the balance bound: cell 1 alone weighs 20 in weight 1, more "
            "than the bound of 19.");
  w[0] = 10;
  const std::vector<idx_t> fixed{0, 0, 0, 0, 0, 0, -1, -1, -1, -1};
  EXPECT_EQ(veldan::BoundObstacle(10, 2, w.data(), fixed.data(), 2, {18.0, 20.0}),
            "No partition can meet the balance bound: the cells fixed to part 0 weigh 20 in "
            "weight 1 together, more than the bound of 18.");
}

