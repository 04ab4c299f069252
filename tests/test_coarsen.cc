// Coarsening: matching, contraction, drivers, islands, fixed cells and the
// partition measures. Real hypergraphs are checked level by level with an
// invariant checker for every scheme.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/testutil.h"
#include "coarsen/coarsen.h"
#include "coarsen/internal.h"
#include "programs/cli.h"
#include "support/memory.h"
#include "support/parallel.h"
#include "support/vecops.h"

using namespace veldan;
using Nets = std::vector<std::vector<idx_t>>;

namespace {

using veldan_test::BuildLevel;
// A working copy of a shared hypergraph, as the partitioning entries make
// it; null when the shared folder is absent.
HGraphPtr Load(const std::string& name) { return veldan_test::LoadLevel(name); }
HGraphPtr Build(idx_t nvtxs, const Nets& nets, const std::vector<real_t>& netwgt = {},
                const std::vector<real_t>& cellwgt = {}) {
  return BuildLevel(nvtxs, nets, netwgt, cellwgt);
}

void SetUpCtrl(veldan_test::TestContext& ctrl, const HGraph* g, Coarsening ctype, idx_t seed) {
  ctrl.config.coarsento = 100;
  ctrl.UseScheme(ctype);
  ctrl.config.coarsening.maxnet = 50;
  // Heavy-cell rule of the bisection driver.
  real_t W = 0;
  for (idx_t i = 0; i < g->nvtxs; i++) W += g->cellwgt[i];
  const real_t A = 2 * W / ctrl.cfg->coarsento;
  real_t Wl = W;
  idx_t h = 0;
  for (idx_t i = 0; i < g->nvtxs; i++)
    if (g->cellwgt[i] > A) h++, Wl -= g->cellwgt[i];
  ctrl.maxcellwgt = 2 * Wl / (ctrl.cfg->coarsento - h);
  ctrl.rng.Seed(static_cast<std::uint32_t>(seed));
}

template <class T>
std::vector<T> V(const T* p, idx_t n) { return std::vector<T>(p, p + n); }
// Pin lists widened, to compare with idx_t lists.
std::vector<idx_t> V(const veldan::pin_t* p, idx_t n) { return std::vector<idx_t>(p, p + n); }

bool Near(double a, double b) { return std::fabs(a - b) <= 1e-4 * std::max(1.0, std::fabs(b)); }

// Structure of one level made by contraction, and its relation to the
// finer level F it was made from.
void CheckLevel(const RunContext& ctrl, const HGraph* F, idx_t maxgroup) {
  const HGraph* C = F->coarser.get();
  ASSERT_TRUE(C && C->finer == F);
  ASSERT_EQ(C->level, F->level + 1);
  const idx_t ncells = C->nvtxs + C->nislands, npins = C->netptr[C->nnets];

  std::vector<std::pair<idx_t, idx_t>> bynet, bycell;
  std::vector<double> incw(C->nvtxs, 0.0);
  ASSERT_EQ(C->netptr[0], 0);
  for (idx_t e = 0; e < C->nnets; e++) {
    ASSERT_GE(NetSize(C, e), 2) << "net " << e;
    for (idx_t p = C->netptr[e]; p < C->netptr[e + 1]; p++) {
      const idx_t c = C->netind[p];
      ASSERT_TRUE(c >= 0 && c < C->nvtxs);
      if (p > C->netptr[e]) {
        ASSERT_LT(C->netind[p - 1], c);
      }
      bynet.push_back({c, e});
      incw[c] += C->netwgt[e];
    }
    EXPECT_FLOAT_EQ(C->edgewgt[e], C->netwgt[e] / (NetSize(C, e) - 1));
  }
  ASSERT_EQ(C->incptr[C->nvtxs], npins);
  for (idx_t c = 0; c < C->nvtxs; c++) {
    for (idx_t q = C->incptr[c]; q < C->incptr[c + 1]; q++) bycell.push_back({c, C->incind[q]});
    EXPECT_TRUE(Near(C->incwgt[c], incw[c])) << c;
  }
  std::sort(bynet.begin(), bynet.end());
  std::sort(bycell.begin(), bycell.end());
  ASSERT_EQ(bynet, bycell);

  // Groups: the transpose of cellmap, bounded in size and weight, summed.
  ASSERT_EQ(F->mptr[0], 0);
  ASSERT_EQ(F->mptr[ncells], F->nvtxs);
  for (idx_t c = 0; c < ncells; c++) {
    const idx_t size = F->mptr[c + 1] - F->mptr[c];
    ASSERT_GE(size, 1);
    ASSERT_LE(size, maxgroup);
    real_t w = 0.0f;
    for (idx_t m = F->mptr[c]; m < F->mptr[c + 1]; m++) {
      ASSERT_EQ(F->cellmap[F->mind[m]], c);
      if (m > F->mptr[c]) {
        ASSERT_LT(F->mind[m - 1], F->mind[m]);
      }
      w += F->cellwgt[F->mind[m]];
    }
    ASSERT_EQ(C->cellwgt[c], w) << c;
    // Numbered by their first fine cell, so coarse levels keep the order
    // (islands are set apart at the end).
    if (c > 0 && c < C->nvtxs) {
      ASSERT_LT(F->mind[F->mptr[c - 1]], F->mind[F->mptr[c]]) << c;
    }
    if (size > 1) {
      EXPECT_LE(w, ctrl.maxcellwgt * 1.00001f);
    }
  }
  EXPECT_LE(F->nvtxs - ncells, static_cast<idx_t>(0.45 * F->nvtxs)) << "merge limit";
  for (idx_t i = 0; i < F->nfixed; i++) {
    ASSERT_EQ(F->cellmap[i], i);
    ASSERT_EQ(F->mptr[i + 1] - F->mptr[i], 1);
  }

  // Nets: each fine net maps to the coarse net of its mapped pins, or to -1
  // when they fall into one cell; weights add up.
  std::vector<double> sum(C->nnets, 0.0);
  double removed = F->removedwgt;
  std::vector<idx_t> pins;
  for (idx_t e = 0; e < F->nnets; e++) {
    pins.clear();
    for (idx_t p = F->netptr[e]; p < F->netptr[e + 1]; p++) pins.push_back(F->cellmap[F->netind[p]]);
    std::sort(pins.begin(), pins.end());
    pins.erase(std::unique(pins.begin(), pins.end()), pins.end());
    const idx_t ce = F->netmap[e];
    if (ce == -1) {
      ASSERT_EQ(pins.size(), 1u);
      removed += F->netwgt[e];
      continue;
    }
    ASSERT_TRUE(std::equal(pins.begin(), pins.end(), C->netind.data() + C->netptr[ce], C->netind.data() + C->netptr[ce + 1]));
    sum[ce] += F->netwgt[e];
  }
  for (idx_t ce = 0; ce < C->nnets; ce++) EXPECT_TRUE(Near(C->netwgt[ce], sum[ce]));
  EXPECT_TRUE(Near(C->removedwgt, removed));
}

void CheckHierarchy(const RunContext& ctrl, HGraph* top, const HGraph* coarsest, idx_t maxgroup) {
  EXPECT_EQ(top->level, 0);
  const HGraph* g = top;
  for (; g->coarser; g = g->coarser.get()) {
    SCOPED_TRACE("level " + std::to_string(g->level));
    CheckLevel(ctrl, g, maxgroup);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_EQ(g, coarsest);
  if (coarsest != top && coarsest->nvtxs > ctrl.cfg->coarsento) {  // slow progress
    EXPECT_GE(coarsest->nvtxs, 0.9 * coarsest->finer->nvtxs);
  }
}

// Capture of what a call prints on standard output.
template <class F>
std::string Printed(F f) {
  ::testing::internal::CaptureStdout();
  f();
  fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(Matching, MergeLimitAndNetKeys) {
  EXPECT_EQ(MatchLimit(0, 1000), 350);
  EXPECT_EQ(MatchLimit(500, 1000), 400);
  EXPECT_EQ(MatchLimit(999, 1000), 449);
  const pin_t a[] = {0, 1, 5}, b[] = {1, 2, 4}, c[] = {1, 2};
  EXPECT_EQ(NetKey(3, a), 1703);
  EXPECT_EQ(NetKey(3, b), 1703);
  EXPECT_EQ(NetKey(2, c), 502);
  EXPECT_EQ(NetKey(0, a), 0);
  // A long net of the largest cell numbers wraps instead of overflowing
  // (caught under UBSan): its weighted sum is far beyond 2^64.
  std::vector<pin_t> h1(200000, kMaxLevelCount - 1), h2 = h1;
  h2.back()--;
  EXPECT_NE(NetKey(200000, h1.data()), NetKey(200000, h2.data()));
}

// A hand-made clique graph: i=0 sees j=1 (2.0, 1.0) and k=2 (1.0, 0.5);
// j sees i (2.0, 1.0) and m=3 (2.0, 2.0), m not adjacent to i.
struct Clique {
  HGraph g;
  idx_t xadj[5] = {0, 2, 4, 5, 6};
  idx_t adjncy[8] = {1, 2, 0, 3, 0, 1};
  real_t adjwgt[8] = {2.0f, 1.0f, 2.0f, 2.0f, 1.0f, 2.0f};
  real_t adjwgt2[8] = {1.0f, 0.5f, 1.0f, 2.0f, 0.5f, 2.0f};
  real_t cellwgt[4] = {1, 1, 1, 1};
  pin_t cellmap[4] = {-1, -1, -1, -1};
  idx_t where[4] = {1, 1, 1, 1};
  real_t wgts[5] = {}, cmark[4] = {kUnmarked, kUnmarked, kUnmarked, kUnmarked};
  idx_t mcounts[5] = {5, 5, 5, 5, 5};
  FKeyVal cand[4];
  veldan_test::TestContext ctrl;
  Clique() {
    g.nvtxs = 4;
    g.xadj = Array<idx_t>::Borrow(xadj, 5);
    g.cellwgt = Array<real_t>::Borrow(cellwgt, 4);
    ctrl.maxcellwgt = 10.0f;
  }
  // j also sees k: j's list becomes i, k, m.
  void LinkJK() {
    const idx_t x[] = {0, 2, 5, 7, 8}, a[] = {1, 2, 0, 2, 3, 0, 1, 1};
    const real_t w[] = {2, 1, 2, 1, 2, 1, 1, 2}, w2[] = {1, 0.5f, 1, 0.5f, 2, 0.5f, 0.5f, 2};
    std::copy(x, x + 5, xadj), std::copy(a, a + 8, adjncy);
    std::copy(w, w + 8, adjwgt), std::copy(w2, w2 + 8, adjwgt2);
  }
  // The routines read the packed list; build it from the arrays above,
  // which the tests edit.
  std::vector<CliqueEdge> edges;
  void Pack() {
    edges.clear();
    for (idx_t e = 0; e < xadj[4]; e++)
      edges.push_back({static_cast<std::uint32_t>(adjncy[e]), adjwgt2[e]});
    g.adj = Array<CliqueEdge>::Borrow(edges.data(), static_cast<idx_t>(edges.size()));
    g.adjw = Array<real_t>::Borrow(adjwgt, 8);
  }
  MatchArrays Arrays() {
    MatchArrays m;
    m.cellmap = cellmap;
    m.wgts = wgts + 1;
    m.mcounts = mcounts + 1;
    m.where = where;
    m.cmark = cmark;
    m.cand = cand;
    return m;
  }
  idx_t Find(real_t threshold, idx_t* nskipped) {
    Pack();
    return FindMatchCandidates(threshold, ctrl, &g, 0, Arrays(), nskipped);
  }
  idx_t Select(int pass) {
    Pack();
    return SelectMatch(ctrl, &g, 0, Arrays(), pass);
  }
};

TEST(Matching, VariantOneScoresAndRatchets) {
  Clique q;
  q.ctrl.cflags = CFLAG_VARIANT1;
  idx_t nskipped = 0;
  ASSERT_EQ(q.Find(0.0f, &nskipped), 1);
  EXPECT_EQ(nskipped, 1);  // k's 1.0 is below the raised threshold 1.6
  EXPECT_EQ(q.cand[0].val, 1);
  EXPECT_FLOAT_EQ(q.cand[0].key, 1.6f);
  for (real_t m : q.cmark) EXPECT_TRUE(std::isnan(m));  // marks are cleared again
  EXPECT_EQ(q.Select(0), 1);
  // With k shared, rest = 1.5 - 1.0 - 0.5 = 0: j keeps its full 2.0.
  q.LinkJK();
  nskipped = 0;
  ASSERT_EQ(q.Find(0.0f, &nskipped), 1);
  EXPECT_FLOAT_EQ(q.cand[0].key, 2.0f);
}

// Scoring the heaviest connection first lets the walk pass over lighter
// ones unscored; the best key it keeps must still be the best score of all
// (recomputed here from the clique lists, in double).
TEST(Matching, VariantOneSkipsNoBetterCandidate) {
  RandomStream r(7);
  Nets nets;
  std::vector<real_t> netwgt;
  for (idx_t e = 0; e < 300; e++) {
    std::vector<idx_t> n;
    for (idx_t k = 2 + r.InRange(7); k > 0; k--) {
      const idx_t c = r.InRange(80);
      if (std::find(n.begin(), n.end(), c) == n.end()) n.push_back(c);
    }
    if (n.size() < 2) continue;
    nets.push_back(n);
    netwgt.push_back(static_cast<real_t>(1 + r.InRange(5)));
  }
  HGraphPtr g_owner = Build(80, nets, netwgt);
  HGraph* g = g_owner.get();
  veldan_test::TestContext ctrl;
  SetUpCtrl(ctrl, g, Coarsening::H12, 1);
  ctrl.cflags = CFLAG_VARIANT1;
  ctrl.maxcellwgt = 1e6f;
  CreateAdjancentGraph(ctrl, g);
  std::vector<pin_t> cellmap(80, -1);
  std::vector<idx_t> where(80, 1), mcounts(81, 5);
  std::vector<real_t> wgts(81, 0.0f), cmark(80, kUnmarked);
  std::vector<FKeyVal> cand(80);
  MatchArrays m;
  m.cellmap = cellmap.data(), m.wgts = wgts.data() + 1, m.mcounts = mcounts.data() + 1;
  m.where = where.data(), m.cmark = cmark.data(), m.cand = cand.data();
  idx_t pruned = 0;
  for (idx_t i = 0; i < 80; i++) {
    std::map<idx_t, double> w2i;
    double total = 0.0;
    for (idx_t e = g->xadj[i]; e < g->xadj[i + 1]; e++) {
      w2i[g->adj[e].cell] = g->adj[e].w2;
      total += g->adj[e].w2;
    }
    double best = -1e30;
    for (idx_t e = g->xadj[i]; e < g->xadj[i + 1]; e++) {
      const idx_t j = g->adj[e].cell;
      double rest = total - g->adj[e].w2, out = 0.0;
      for (idx_t f = g->xadj[j]; f < g->xadj[j + 1]; f++) {
        const idx_t c = g->adj[f].cell;
        if (c == i) continue;
        if (w2i.count(c)) rest -= w2i[c];
        else out += g->adj[f].w2;
      }
      best = std::max(best, g->adjw[e] - 0.8 * std::min(out, rest));
    }
    idx_t nskipped = 0;
    const idx_t n = FindMatchCandidates(-kMaxFloat, ctrl, g, i, m, &nskipped);
    if (g->xadj[i + 1] == g->xadj[i]) {
      EXPECT_EQ(n, 0);
      continue;
    }
    ASSERT_GT(n, 0) << i;
    real_t found = cand[0].key;
    for (idx_t k = 1; k < n; k++) found = std::max(found, cand[k].key);
    EXPECT_NEAR(found, best, 1e-4 * std::max(1.0, std::fabs(best))) << i;
    pruned += nskipped;
  }
  EXPECT_GT(pruned, 0);  // the walk did skip candidates
  ReleaseCliqueGraph(g);
}

TEST(Matching, ChoiceRules) {
  Clique q;  // variant 2: plain connection weights
  EXPECT_EQ(q.Select(0), 1);
  q.g.matchthreshold = 5.0f;  // everything skipped: wait for pass 1
  EXPECT_EQ(q.Select(0), -2);
  EXPECT_EQ(q.Select(1), 1);
  q.g.matchthreshold = 0.0f;
  q.cellwgt[0] = 10.0f;  // no room left
  EXPECT_EQ(q.Select(1), -1);
  q.cellwgt[0] = 1.0f;
  q.cellwgt[1] = 9.5f;  // j too heavy: k is the only candidate
  EXPECT_EQ(q.Select(0), 2);
  q.cellwgt[1] = 1.0f;
  q.cellmap[1] = 0, q.mcounts[1] = 0;  // j's group is full
  EXPECT_EQ(q.Select(0), 2);

  // Equal keys: the lighter one wins, equal weights flip a coin.
  Clique t;
  t.adjwgt[1] = 2.0f;
  t.cellwgt[2] = 0.5f;
  EXPECT_EQ(t.Select(0), 2);
  t.cellwgt[2] = 1.0f;
  std::vector<idx_t> seen;
  for (idx_t seed = 0; seed < 40; seed++) {
    t.ctrl.rng.Seed(static_cast<std::uint32_t>(seed));
    const idx_t a = t.Select(0);
    t.ctrl.rng.Seed(static_cast<std::uint32_t>(seed));
    EXPECT_EQ(t.Select(0), a);
    seen.push_back(a);
  }
  EXPECT_NE(std::count(seen.begin(), seen.end(), 1), 0);
  EXPECT_NE(std::count(seen.begin(), seen.end(), 2), 0);
}

TEST(Matching, GroupsRespectLimits) {
  veldan_test::TestContext ctrl;
  ctrl.config.coarsening.maxnet = 3, ctrl.maxcellwgt = 10.0f, ctrl.maxgroupsize = 5;
  ctrl.rng.Seed(static_cast<std::uint32_t>(1));
  // A net of four pins is above cmaxnet: only {0,1} connects cells.
  veldan::HGraphPtr g_owner = Build(4, {{0, 1, 2, 3}, {0, 1}});
  veldan::HGraph* g = g_owner.get();
  Match_Edges(ctrl, g, std::vector<idx_t>(4, 1).data());
  EXPECT_EQ(g->coarser->nvtxs, 3);
  EXPECT_EQ(g->cellmap[0], g->cellmap[1]);

  // A ring of ten cells with two heavy ones; then a clique, with pairs only
  // when maxgroupsize is 2.
  Nets ring;
  for (idx_t i = 0; i < 10; i++) ring.push_back({i, (i + 1) % 10});
  std::vector<real_t> w(10, 1.0f);
  w[0] = w[5] = 10.0f;
  ctrl.config.coarsening.maxnet = 50, ctrl.maxcellwgt = 3.0f;
  for (idx_t seed = 0; seed < 5; seed++) {
    ctrl.rng.Seed(static_cast<std::uint32_t>(seed));
    g_owner = Build(10, ring, {}, w);
    g = g_owner.get();
    Match_Edges(ctrl, g, std::vector<idx_t>(10, 1).data());
    for (idx_t h : {0, 5}) EXPECT_EQ(g->mptr[g->cellmap[h] + 1] - g->mptr[g->cellmap[h]], 1);
    for (idx_t c = 0; c < g->coarser->nvtxs; c++) {
      if (c != g->cellmap[0] && c != g->cellmap[5]) {
        EXPECT_LE(g->coarser->cellwgt[c], 3.0f);
      }
    }
  }
  std::vector<idx_t> all(10), ones(10, 1);
  for (idx_t i = 0; i < 10; i++) all[i] = i;
  ctrl.maxcellwgt = 100.0f;
  for (idx_t group : {2, 5}) {
    ctrl.maxgroupsize = group;
    ctrl.rng.Seed(static_cast<std::uint32_t>(group));
    g_owner = Build(10, {all});
    g = g_owner.get();
    Match_Edges(ctrl, g, ones.data());
    idx_t largest = 0;
    for (idx_t c = 0; c < g->coarser->nvtxs; c++) largest = std::max<idx_t>(largest, g->mptr[c + 1] - g->mptr[c]);
    EXPECT_GE(largest, 2);
    EXPECT_LE(largest, group);
  }
}

TEST(Matching, GroupsRespectTheBoundOfEveryWeight) {
  // A ring of twelve cells, two weights: cells alternate (3, 1) and (1, 3)
  // (average 1 after scaling: 1.5 and 0.5). With a bound of 2.2 on the
  // first weight and a generous one on the second, no group may hold two
  // cells of the first kind, and the coarse level carries both weights.
  Nets ring;
  for (idx_t i = 0; i < 12; i++) ring.push_back({i, (i + 1) % 12});
  std::vector<idx_t> ptr{0}, ind;
  for (const auto& n : ring) {
    ind.insert(ind.end(), n.begin(), n.end());
    ptr.push_back(static_cast<idx_t>(ind.size()));
  }
  std::vector<real_t> w;
  for (idx_t i = 0; i < 12; i++) {
    w.push_back(i % 2 ? 1.0f : 3.0f);
    w.push_back(i % 2 ? 3.0f : 1.0f);
  }
  veldan_test::TestContext ctrl;
  ctrl.config.coarsening.maxnet = 50, ctrl.maxcellwgt = 100.0f, ctrl.maxgroupsize = 5;
  ctrl.nmaxcellwgt[0] = 2.2, ctrl.nmaxcellwgt[1] = 100.0;
  for (idx_t seed = 0; seed < 5; seed++) {
    ctrl.rng.Seed(static_cast<std::uint32_t>(seed));
    veldan::HGraphPtr g_owner = SetUpHGraph(12, 12, 2, w.data(), nullptr, ptr.data(), veldan_test::Pins(ind).data());
    veldan::HGraph* g = g_owner.get();
    CreateIncidentHGraph(ctrl, g);
    g->nfixed = 0;
    Match_Edges(ctrl, g, std::vector<idx_t>(12, 1).data());
    const HGraph* c = g->coarser.get();
    ASSERT_NE(c->ncellwgt.data(), nullptr);
    EXPECT_LT(c->nvtxs, 12);  // the second kind still groups
    double total[2] = {0.0, 0.0};
    for (idx_t i = 0; i < c->nvtxs; i++) {
      EXPECT_LE(c->ncellwgt[2 * i], 2.2f);
      total[0] += c->ncellwgt[2 * i];
      total[1] += c->ncellwgt[2 * i + 1];
      EXPECT_FLOAT_EQ(c->cellwgt[i], 0.5f * (c->ncellwgt[2 * i] + c->ncellwgt[2 * i + 1]));
    }
    EXPECT_NEAR(total[0], 12.0, 1e-4);
    EXPECT_NEAR(total[1], 12.0, 1e-4);
  }
}

TEST(Contraction, MergesVanishesAndCarries) {
  // Coarse cells: 0 = {0,6}, 1 = {1,7}, 2 = {2,8}, 3..5 alone.
  veldan::HGraphPtr g_owner = Build(9, {{0, 1, 5}, {7, 2, 4}, {1, 8}, {7, 2}, {0, 6}, {0, 3}, {6, 3}},
                    {1, 1, 2, 3, 4, 1, 2}, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  veldan::HGraph* g = g_owner.get();
  g->removedwgt = 1.5f;
  g->cellmap = Array<pin_t>(9, "test");
  g->mptr = Array<pin_t>(10, "test");
  g->mind = Array<pin_t>(9, "test");
  const pin_t cellmap[] = {0, 1, 2, 3, 4, 5, 0, 1, 2};
  std::copy(cellmap, cellmap + 9, g->cellmap.data());
  MakeGroupLists(9, 6, g->cellmap.data(), g->mptr.data(), g->mind.data());
  veldan_test::TestContext ctrl;
  CreateCoarseHGraph(ctrl, g, 6);
  const HGraph* c = g->coarser.get();
  ASSERT_EQ(c->nnets, 4);
  // Keys 502 {1,2}, 602 {0,3}, then the two nets of key 1703 kept apart.
  EXPECT_EQ(g->netmap[2], 0);
  EXPECT_EQ(g->netmap[3], 0);
  EXPECT_FLOAT_EQ(c->netwgt[0], 5.0f);
  EXPECT_EQ(g->netmap[5], 1);
  EXPECT_EQ(g->netmap[6], 1);
  EXPECT_FLOAT_EQ(c->netwgt[1], 3.0f);
  EXPECT_EQ(g->netmap[4], -1);
  EXPECT_EQ(std::min(g->netmap[0], g->netmap[1]), 2);
  EXPECT_EQ(std::max(g->netmap[0], g->netmap[1]), 3);
  EXPECT_FLOAT_EQ(c->removedwgt, 5.5f);
  EXPECT_FLOAT_EQ(c->cellwgt[0], 1 + 7);
  EXPECT_FLOAT_EQ(c->edgewgt[2], 0.5f);
  EXPECT_FLOAT_EQ(c->edgewgt2[2], 0.25f);
  // Coarse cell 0 lists the merged net {0,3} once and counts it once.
  ASSERT_EQ(c->incptr[1], 2);
  EXPECT_EQ(c->incind[0], g->netmap[0]);
  EXPECT_EQ(c->incind[1], 1);
  EXPECT_FLOAT_EQ(c->incwgt[0], 1 + 3);
}

TEST(Contraction, CollapseSameHEdges) {
  std::vector<idx_t> ptr{0, 3, 6, 8, 11};
  std::vector<pin_t> ind{3, 1, 2, 2, 3, 1, 1, 2, 4, 1, 2};
  const real_t w[] = {1, 2, 4, 1};
  const NetArrays r = CollapseSameHEdges(4, ptr.data(), ind.data(), w);
  EXPECT_EQ(ind, (std::vector<pin_t>{1, 2, 3, 1, 2, 3, 1, 2, 1, 2, 4}));
  ASSERT_EQ(r.nnets, 3);  // keys 502, 1403, 1703
  EXPECT_EQ(V(r.netptr.data(), 4), (std::vector<idx_t>{0, 2, 5, 8}));
  EXPECT_EQ(V(r.netind.data(), 8), (std::vector<idx_t>{1, 2, 1, 2, 3, 1, 2, 4}));
  EXPECT_EQ(V(r.netwgt.data(), 3), (std::vector<real_t>{4, 3, 1}));
}

TEST(Islands, SeparateAndCombine) {
  // Cells 1 and 4 have no nets: new ids 0,5,1,2,4,3.
  veldan::HGraphPtr g_owner = Build(6, {{0, 2}, {3, 5}, {2, 3}}, {}, {10, 11, 12, 13, 14, 15});
  veldan::HGraph* g = g_owner.get();
  g->where = Array<idx_t>(6, "test");
  for (idx_t i = 0; i < 6; i++) g->where[i] = 100 + i;
  const std::vector<idx_t> netind(g->netind.data(), g->netind.data() + 6), incptr(g->incptr.data(), g->incptr.data() + 7),
      incind(g->incind.data(), g->incind.data() + 6);
  SeparateIslands(g);
  EXPECT_EQ(g->nvtxs, 4);
  EXPECT_EQ(g->nislands, 2);
  EXPECT_EQ(V(g->islandmap.data(), 6), (std::vector<idx_t>{0, 5, 1, 2, 4, 3}));
  EXPECT_EQ(V(g->netind.data(), 6), (std::vector<idx_t>{0, 1, 2, 3, 1, 2}));
  EXPECT_EQ(V(g->incptr.data(), 5), (std::vector<idx_t>{0, 1, 3, 5, 6}));
  EXPECT_EQ(V(g->cellwgt.data(), 6), (std::vector<real_t>{10, 12, 13, 15, 14, 11}));
  EXPECT_EQ(V(g->where.data(), 6), (std::vector<idx_t>{100, 102, 103, 105, 104, 101}));
  CombineIslands(g);
  EXPECT_EQ(g->nvtxs, 6);
  EXPECT_EQ(g->nislands, 0);
  EXPECT_EQ(V(g->netind.data(), 6), netind);
  EXPECT_EQ(V(g->incptr.data(), 7), incptr);
  EXPECT_EQ(V(g->incind.data(), 6), incind);
  EXPECT_EQ(V(g->cellwgt.data(), 6), (std::vector<real_t>{10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(g->where[4], 104);
  // A fixed cell without nets keeps its id.
  g->nfixed = 2;
  SeparateIslands(g);
  EXPECT_EQ(V(g->islandmap.data(), 6), (std::vector<idx_t>{0, 1, 2, 3, 5, 4}));
}

TEST(Coarsen, SmallCasesAndProgressOutput) {
  veldan_test::TestContext ctrl;
  veldan::HGraphPtr g_owner = Build(6, {{0, 1}, {1, 2, 3}, {4, 5}});
  veldan::HGraph* g = g_owner.get();
  SetUpCtrl(ctrl, g, Coarsening::H1, 1);
  ctrl.config.dbglvl = DBG_COARSEN;
  ctrl.maxcellwgt = 10.0f;
  HGraph* c = nullptr;
  EXPECT_EQ(Printed([&] { c = Coarsen(ctrl, g); }),
            "----------------------------------------------------------\n"
            "[     6      3      3.000      0.000      3.000][    10.000]\n\n");
  EXPECT_EQ(c, g);
  EXPECT_EQ(g->coarser, nullptr);
  // h1 alternates gfc1 and fc1; h12 follows the parity of curtrial.
  EXPECT_EQ(ctrl.cflags, 3);
  ctrl.config.dbglvl = 0;
  Coarsen(ctrl, g);
  EXPECT_EQ(ctrl.cflags, 2);
  ctrl.config.coarsening.scheme = Coarsening::H12, ctrl.cflags = 0;
  std::vector<idx_t> flags;
  for (ctrl.curtrial = 0; ctrl.curtrial < 5; ctrl.curtrial++) Coarsen(ctrl, g), flags.push_back(ctrl.cflags);
  EXPECT_EQ(flags, (std::vector<idx_t>{1, 3, 2, 0, 1}));

  // Every cell heavier than maxcellwgt: nothing merges, slow progress.
  ctrl.config.coarsento = 2, ctrl.config.dbglvl = DBG_COARSEN, ctrl.maxcellwgt = 0.5f;
  EXPECT_EQ(Printed([&] { c = Coarsen(ctrl, g); }),
            "----------------------------------------------------------\n"
            "[     6      3      3.000      0.000      3.000][     0.500]\n"
            "[     6      3      3.000      0.000      3.000]\n"
            "\nSlow progress in coarsening. Aborted at 6 nodes\n\n");
  EXPECT_EQ(c->level, 1);
}

TEST(Coarsen, InvariantsOnRealHypergraphsForEveryScheme) {
  // All schemes on ibm01; two more instances (cell weights, another
  // structure) with one first-choice and one edge scheme.
  const std::vector<idx_t> all{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, some{2, 10};  // gfc1, edge2
  for (const char* name : {"ibm01.hgr", "ibm01.weight.hgr", "powersim.mtx.hgr"}) {
    for (idx_t ctype : name == std::string("ibm01.hgr") ? all : some) {
      veldan::HGraphPtr g_owner = Load(name);
      veldan::HGraph* g = g_owner.get();
      if (!g) GTEST_SKIP() << "shared hypergraphs absent";
      SCOPED_TRACE(std::string(name) + " ctype " + std::to_string(ctype));
      veldan_test::TestContext ctrl;
      SetUpCtrl(ctrl, g, static_cast<Coarsening>(ctype), 7 + ctype);
      if (ctype == 2) g->nfixed = 8;  // fixed cells are never merged
      HGraph* c = Coarsen(ctrl, g);
      EXPECT_GT(c->level, 2);
      CheckHierarchy(ctrl, g, c, ctrl.maxgroupsize);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(Coarsen, SameSeedSameLevelsAndIslandsComeBack) {
  // A generated hypergraph with every tenth cell on no net, and 50 pairs on
  // nets of their own that become islands once merged.
  Nets nets;
  for (idx_t k = 2000; k < 2100; k += 2) nets.push_back({k, k + 1});
  RandomStream r(3);
  for (idx_t e = 0; e < 3000; e++) {
    std::vector<idx_t> n;
    for (idx_t k = 2 + r.InRange(4); k > 0; k--) {
      const idx_t c = r.InRange(2000);
      if (c % 10 && std::find(n.begin(), n.end(), c) == n.end()) n.push_back(c);
    }
    if (n.size() >= 2) nets.push_back(n);
  }
  std::vector<idx_t> degree(2100, 0);
  for (const auto& n : nets)
    for (idx_t c : n) degree[c]++;
  const auto nislands = std::count(degree.begin(), degree.end(), 0);
  ASSERT_GE(nislands, 200);
  std::vector<std::vector<idx_t>> runs[2];
  for (auto& run : runs) {
    veldan::HGraphPtr g_owner = Build(2100, nets);
    veldan::HGraph* g = g_owner.get();
    const std::vector<idx_t> netind(g->netind.data(), g->netind.data() + g->netptr[g->nnets]);
    veldan_test::TestContext ctrl;
    SetUpCtrl(ctrl, g, Coarsening::H12, 11);
    HGraph* c = Coarsen(ctrl, g);
    CheckHierarchy(ctrl, g, c, 5);
    EXPECT_EQ(g->nislands, nislands);
    for (const HGraph* l = g; l; l = l->coarser.get()) {
      run.push_back({l->nvtxs, l->nnets});
      run.push_back(V(l->netind.data(), l->netptr[l->nnets]));
      if (l->cellmap.data()) run.push_back(V(l->cellmap.data(), l->nvtxs));
    }
    CombineIslands(g);
    EXPECT_EQ(g->nvtxs, 2100);
    EXPECT_GT(g->coarser->nislands, 0);
    EXPECT_EQ(V(g->netind.data(), g->netptr[g->nnets]), netind);
  }
  EXPECT_GT(runs[0].size(), 6u);
  EXPECT_EQ(runs[0], runs[1]);
}

// The passes of a level split into chunks, on a generated level large
// enough for many: the clique graph equals one built cell by cell (entries
// in order of first meeting, weights summed in the same order), and the
// levels of a coarsening pass the level checks and are the same for one
// thread and several.
TEST(Threads, LevelPassesInChunks) {
  // Nets of 2 to 12 pins near a random cell, every 500th one above cmaxnet
  // (50) and every 50th a copy of the one before, so that nets merge.
  const idx_t n = 30000;
  Nets nets;
  std::vector<real_t> netwgt;
  RandomStream r(5);
  for (idx_t e = 0; e < 33000; e++) {
    if (e % 50 == 49) {
      nets.push_back(nets.back());
    } else {
      std::vector<idx_t> pins;
      const idx_t at = r.InRange(n);
      for (idx_t k = (e % 500 == 0) ? 60 : 2 + r.InRange(11); k > 0; k--) {
        const idx_t c = (at + r.InRange(k > 20 ? 400 : 40)) % n;
        if (std::find(pins.begin(), pins.end(), c) == pins.end()) pins.push_back(c);
      }
      nets.push_back(pins);
    }
    netwgt.push_back(static_cast<real_t>(1 + r.InRange(4)));
  }

  std::vector<std::vector<idx_t>> levels[2];
  const idx_t threads[2] = {1, 3};
  for (int t = 0; t < 2; t++) {
    SCOPED_TRACE(std::to_string(threads[t]) + " threads");
    veldan::HGraphPtr g_owner = Build(n, nets, netwgt);
    veldan::HGraph* g = g_owner.get();
    veldan_test::TestContext ctrl;
    SetUpCtrl(ctrl, g, Coarsening::H12, 3);
    ctrl.cflags = CFLAG_GREEDY;
    RunWithThreads(threads[t], [&] { CreateAdjancentGraph(ctrl, g); });

    // The reference: cell by cell, position of each neighbour in the list.
    const idx_t cmaxnet = ctrl.config.coarsening.maxnet;
    std::vector<idx_t> pos(n, -1), cells;
    std::vector<real_t> w, w2;
    std::vector<idx_t> xadj{0};
    real_t sum = 0.0f;
    for (idx_t i = 0; i < n; i++) {
      const std::size_t start = cells.size();
      for (idx_t q = g->incptr[i]; q < g->incptr[i + 1]; q++) {
        const idx_t e = g->incind[q];
        if (NetSize(g, e) > cmaxnet) continue;
        for (idx_t p = g->netptr[e]; p < g->netptr[e + 1]; p++) {
          const idx_t j = g->netind[p];
          if (j == i) continue;
          if (pos[j] == -1) {
            pos[j] = static_cast<idx_t>(cells.size());
            cells.push_back(j);
            w.push_back(g->edgewgt[e]);
            w2.push_back(g->edgewgt2[e]);
          } else {
            w[pos[j]] += g->edgewgt[e];
            w2[pos[j]] += g->edgewgt2[e];
          }
        }
      }
      for (std::size_t k = start; k < cells.size(); k++) pos[cells[k]] = -1;
      xadj.push_back(static_cast<idx_t>(cells.size()));
    }
    for (real_t x : w) sum += x;
    ASSERT_EQ(V(g->xadj.data(), n + 1), xadj);
    std::vector<idx_t> gcells;
    std::vector<real_t> gw2;
    for (idx_t e = 0; e < xadj[n]; e++) {
      gcells.push_back(g->adj[e].cell);
      gw2.push_back(g->adj[e].w2);
    }
    EXPECT_EQ(gcells, cells);
    EXPECT_EQ(gw2, w2);
    EXPECT_EQ(V(g->adjw.data(), xadj[n]), w);
    EXPECT_EQ(g->adjwsum, sum);
    EXPECT_EQ(g->matchthreshold, sum / static_cast<real_t>(xadj[n]));
    ReleaseCliqueGraph(g);

    HGraph* c = nullptr;
    RunWithThreads(threads[t], [&] { c = Coarsen(ctrl, g); });
    CheckHierarchy(ctrl, g, c, ctrl.maxgroupsize);
    for (const HGraph* l = g; l; l = l->coarser.get()) {
      levels[t].push_back(V(l->netind.data(), l->netptr[l->nnets]));
      levels[t].push_back(V(l->incind.data(), l->incptr[l->nvtxs]));
      levels[t].push_back(V(l->incptr.data(), l->nvtxs + 1));
      if (l->netmap.data()) levels[t].push_back(V(l->netmap.data(), l->nnets));
    }
  }
  EXPECT_GT(levels[0].size(), 12u);
  EXPECT_EQ(levels[0], levels[1]);
}

TEST(Coarsen, CCoarsenKeepsPartsApart) {
  veldan::HGraphPtr g_owner = Load("ibm01.hgr");
  veldan::HGraph* g = g_owner.get();
  if (!g) GTEST_SKIP() << "shared hypergraphs absent";
  veldan_test::TestContext ctrl;
  SetUpCtrl(ctrl, g, Coarsening::FC1, 5);
  const idx_t n = g->nvtxs;
  std::vector<idx_t> part(n);
  for (idx_t i = 0; i < n; i++) part[i] = ctrl.rng.InRange(3) == 0;
  g->where = Array<idx_t>(n, "test");
  std::copy(part.begin(), part.end(), g->where.data());
  HGraph* c = CCoarsen(ctrl, g);
  EXPECT_EQ(ctrl.maxgroupsize, 5);
  CheckHierarchy(ctrl, g, c, 5);
  ASSERT_GT(c->level, 2);
  for (const HGraph* l = g; l != c; l = l->coarser.get()) EXPECT_EQ(l->where.data(), nullptr);
  // Follow every input cell down the levels (islands of a level stop).
  for (idx_t i = 0; i < n; i++) {
    idx_t v = g->islandmap.data() ? g->islandmap[i] : i;
    const HGraph* l = g;
    for (; l != c && v < l->nvtxs; l = l->coarser.get()) v = l->cellmap[v];
    if (l == c) {
      ASSERT_EQ(c->where[v], part[i]) << i;
    }
  }
}

TEST(FixedCells, CompressAndProject) {
  // Cells 0 and 3 pre-assigned to part 0, cell 2 to part 1, none to part 2.
  veldan::HGraphPtr g_owner = Build(6, {{0, 1}, {3, 1}, {0, 3}, {1, 4, 5}, {2, 5}}, {1, 2, 4, 1, 1});
  veldan::HGraph* g = g_owner.get();
  veldan_test::TestContext ctrl;
  ctrl.config.nparts = 3;
  const idx_t part0[] = {0, -1, 1, 0, -1, -1};
  CompressFixedCells(ctrl, g, part0);
  const HGraph* c = g->coarser.get();
  ASSERT_EQ(c->nvtxs, 6);
  EXPECT_EQ(V(c->cellwgt.data(), 6), (std::vector<real_t>{2, 1, 0, 1, 1, 1}));
  ASSERT_EQ(c->nnets, 3);  // {0,3} twice merged, {0} gone
  EXPECT_FLOAT_EQ(c->removedwgt, 4.0f);
  EXPECT_EQ(g->netmap[0], g->netmap[1]);
  EXPECT_FLOAT_EQ(c->netwgt[g->netmap[0]], 3.0f);
  EXPECT_EQ(std::count(c->netind.data(), c->netind.data() + c->netptr[3], 2), 0);
  EXPECT_EQ(c->incptr.data(), nullptr);
  EXPECT_EQ(g->incptr.data(), nullptr);

  const idx_t cpart[] = {2, 0, 1, 1, 2, 0};
  idx_t part[6];
  ProjectFixedCells(ctrl, g, part, cpart);
  EXPECT_EQ(V(part, 6), (std::vector<idx_t>{0, 2, 1, 0, 0, 1}));
  // Two fixed cells in one part: the unnamed part takes the unused number.
  const idx_t clash[] = {0, 0, 1, 2, 2, 2};
  ProjectFixedCells(ctrl, g, part, clash);
  EXPECT_EQ(V(part, 6), (std::vector<idx_t>{1, 0, 1, 1, 0, 0}));

  // No free cell: exactly nparts compressed cells.
  g_owner = Build(3, {{0, 1, 2}});
  g = g_owner.get();
  ctrl.config.nparts = 2;
  const idx_t all[] = {0, 1, 0};
  CompressFixedCells(ctrl, g, all);
  EXPECT_EQ(g->coarser->nvtxs, 2);
  EXPECT_EQ(g->coarser->nnets, 1);
}

TEST(Measures, CutAndSumOfExternalDegrees) {
  veldan::HGraphPtr g_owner = Build(4, {{0, 1, 2}, {2, 3}, {1}, {0, 3}}, {2, 5, 7, 0.5f});
  veldan::HGraph* g = g_owner.get();
  const idx_t where[] = {0, 1, 2, 2};
  EXPECT_FLOAT_EQ(ComputeSOED(g, where), 6.0f + 1.0f);
  EXPECT_FLOAT_EQ(ComputeCut(g, where), 2.0f + 0.5f);
  const idx_t one[] = {4, 4, 4, 4};
  EXPECT_FLOAT_EQ(ComputeSOED(g, one), 0.0f);
  EXPECT_FLOAT_EQ(ComputeCut(g, one), 0.0f);
}
