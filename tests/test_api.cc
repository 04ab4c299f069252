// The library interface: errors come back to the caller, results match the
// program's, calls on several threads at once do not disturb each other,
// and the C interface passes all of it through.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/memory.h"
#include "tests/testutil.h"
#include "veldan/veldan.h"
#include "veldan/veldan_c.h"

namespace {

using veldan_test::TempDir;

// A hypergraph in owned arrays, viewed through veldan::Hypergraph.
struct Arrays {
  std::int64_t nvtxs = 0;
  std::vector<std::int64_t> netptr{0}, netind;
  std::vector<float> netwgt, cellwgt;
  std::int64_t ncon = 1;
  std::vector<std::int64_t> fixed;

  veldan::Hypergraph View() const {
    veldan::Hypergraph h;
    h.nvtxs = nvtxs;
    h.netptr = netptr;
    h.netind = netind;
    h.netwgt = netwgt;
    h.ncon = ncon;
    h.cellwgt = cellwgt;
    h.fixed = fixed;
    return h;
  }
};

// The bundled example, read from its hgr text (no weights).
Arrays Circuit() {
  std::ifstream in(std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr");
  Arrays a;
  std::string line;
  std::int64_t nnets = -1;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '%') continue;
    std::istringstream s(line);
    if (nnets < 0) {
      s >> nnets >> a.nvtxs;
      continue;
    }
    std::int64_t c;
    while (s >> c) a.netind.push_back(c - 1);
    a.netptr.push_back(static_cast<std::int64_t>(a.netind.size()));
  }
  return a;
}

// A ring of n cells with nets {i, i+1}.
Arrays Ring(std::int64_t n) {
  Arrays a;
  a.nvtxs = n;
  for (std::int64_t i = 0; i < n; i++) {
    a.netind.push_back(i);
    a.netind.push_back((i + 1) % n);
    a.netptr.push_back(2 * (i + 1));
  }
  return a;
}

veldan::Options Opts(std::int64_t k, std::int64_t seed = 1) {
  veldan::Options o;
  o.k = k;
  o.seed = seed;
  o.threads = 1;
  return o;
}

TEST(Api, ErrorsComeBackToTheCaller) {
  const Arrays ring = Ring(10);
  struct Case {
    const char* what;
    Arrays a;
    veldan::Options o;
    veldan::Status status;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, auto change, veldan::Status s) {
    Case c{what, ring, Opts(2), s};
    change(c.a, c.o);
    cases.push_back(c);
  };
  using veldan::Status;
  add("pin out of range", [](Arrays& a, veldan::Options&) { a.netind[3] = 10; },
      Status::InvalidHypergraph);
  add("negative pin", [](Arrays& a, veldan::Options&) { a.netind[0] = -1; },
      Status::InvalidHypergraph);
  add("netptr beyond netind", [](Arrays& a, veldan::Options&) { a.netptr.back() += 1; },
      Status::InvalidHypergraph);
  add("decreasing netptr", [](Arrays& a, veldan::Options&) { a.netptr[2] = 1; },
      Status::InvalidHypergraph);
  add("negative cell count", [](Arrays& a, veldan::Options&) { a.nvtxs = -1; },
      Status::InvalidHypergraph);
  // Cell numbers are kept in 32 bits: refused before anything is allocated.
  add("2^31 cells", [](Arrays& a, veldan::Options&) { a.nvtxs = std::int64_t{1} << 31; },
      Status::InvalidHypergraph);
  add("NaN net weight", [](Arrays& a, veldan::Options&) { a.netwgt.assign(10, 1.0f); a.netwgt[4] = NAN; },
      Status::InvalidHypergraph);
  add("infinite cell weight",
      [](Arrays& a, veldan::Options&) { a.cellwgt.assign(10, 1.0f); a.cellwgt[9] = INFINITY; },
      Status::InvalidHypergraph);
  add("too few cell weights", [](Arrays& a, veldan::Options&) { a.cellwgt.assign(9, 1.0f); },
      Status::InvalidHypergraph);
  add("fixed part beyond k", [](Arrays& a, veldan::Options&) { a.fixed.assign(10, -1); a.fixed[2] = 2; },
      Status::InvalidHypergraph);
  add("k of 0", [](Arrays&, veldan::Options& o) { o.k = 0; }, Status::InvalidOptions);
  add("NaN epsilon", [](Arrays&, veldan::Options& o) { o.epsilon = NAN; }, Status::InvalidOptions);
  add("rb ufactor 0", [](Arrays&, veldan::Options& o) { o.ufactor = 0.0; }, Status::InvalidOptions);
  add("part weights of the wrong count",
      [](Arrays&, veldan::Options& o) { o.part_weights = {0.5, 0.25, 0.25}; },
      Status::InvalidOptions);
  add("negative part weight", [](Arrays&, veldan::Options& o) { o.part_weights = {1.5, -0.5}; },
      Status::InvalidOptions);
  add("part weights not summing to 1",
      [](Arrays&, veldan::Options& o) { o.part_weights = {0.5, 0.49}; }, Status::InvalidOptions);
  add("NaN part weight", [](Arrays&, veldan::Options& o) { o.part_weights = {NAN, 1.0}; },
      Status::InvalidOptions);
  add("second weight's part weights not summing to 1",
      [](Arrays& a, veldan::Options& o) {
        a.ncon = 2;
        a.cellwgt.assign(20, 1.0f);
        o.part_weights = {0.5, 0.5, 0.5, 0.4};
      },
      Status::InvalidOptions);
  add("kway refinement with rb",
      [](Arrays&, veldan::Options& o) { o.rtype = veldan::Refinement::KPFast; },
      Status::InvalidOptions);
  add("initial of 9 cells", [](Arrays&, veldan::Options& o) { o.initial.assign(9, 0); },
      Status::InvalidOptions);
  add("initial part beyond k", [](Arrays&, veldan::Options& o) { o.initial.assign(10, 2); },
      Status::InvalidOptions);
  add("initial against a fixed cell",
      [](Arrays& a, veldan::Options& o) {
        a.fixed.assign(10, -1);
        a.fixed[2] = 1;
        o.initial.assign(10, 0);
      },
      Status::InvalidOptions);
  add("negative time", [](Arrays&, veldan::Options& o) { o.time = -1.0; }, Status::InvalidOptions);
  add("NaN time", [](Arrays&, veldan::Options& o) { o.time = NAN; }, Status::InvalidOptions);
  add("infinite time", [](Arrays&, veldan::Options& o) { o.time = INFINITY; },
      Status::InvalidOptions);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    veldan::Result r;
    std::string message;
    EXPECT_EQ(veldan::Partition(c.a.View(), c.o, &r, &message), c.status);
    EXPECT_FALSE(message.empty());
    EXPECT_THROW(veldan::Partition(c.a.View(), c.o), veldan::Error);
  }
}

TEST(Api, TrivialCallsAndUncleanNets) {
  // k = 1 and a single cell are valid calls with everything in part 0.
  const Arrays ring = Ring(6);
  veldan::Result r = veldan::Partition(ring.View(), Opts(1));
  EXPECT_EQ(r.parts, std::vector<std::int64_t>(6, 0));
  EXPECT_EQ(r.metrics.cut, 0.0);
  // Repeated pins and empty nets are taken as the file reader takes them.
  Arrays a = Ring(8);
  a.netind.insert(a.netind.begin() + 2, 2);  // net 1 holds cell 2 twice
  for (std::size_t e = 2; e < a.netptr.size(); e++) a.netptr[e]++;
  a.netptr.push_back(a.netptr.back());  // an empty net
  r = veldan::Partition(a.View(), Opts(2));
  EXPECT_EQ(r.metrics.cut, 2.0);
  EXPECT_EQ(r.metrics.km1, 2.0);
}

TEST(Api, EveryWeightBalanced) {
  // Two weights per cell (one skewed, one unit): both schemes keep each
  // within the bound; a cell heavier than the bound makes the result say
  // why it is not balanced.
  Arrays a = Circuit();
  a.ncon = 2;
  for (std::int64_t i = 0; i < a.nvtxs; i++) {
    a.cellwgt.push_back(i % 50 == 0 ? 40.0f : 1.0f);
    a.cellwgt.push_back(1.0f);
  }
  for (const auto scheme : {veldan::Scheme::RecursiveBisection, veldan::Scheme::Kway}) {
    veldan::Options o = Opts(4);
    o.scheme = scheme;
    o.epsilon = 0.03;
    const veldan::Result r = veldan::Partition(a.View(), o);
    EXPECT_TRUE(r.balanced);
    EXPECT_EQ(r.bound_obstacle, "");
    ASSERT_EQ(r.metrics.imbalance.size(), 2u);
    for (const double x : r.metrics.imbalance) EXPECT_LE(x, 0.03 + 1e-9);
  }
  a.cellwgt[0] = 3000.0f;  // above 1.03 x a quarter of the first weight
  veldan::Options o = Opts(4);
  o.epsilon = 0.03;
  const veldan::Result r = veldan::Partition(a.View(), o);
  EXPECT_FALSE(r.balanced);
  EXPECT_NE(r.bound_obstacle.find("cell 1 alone weighs 3000 in weight 1"), std::string::npos)
      << r.bound_obstacle;
}

TEST(Api, SamePartitionAsTheProgram) {
  TempDir dir;
  const std::string g = std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr";
  for (const std::string ptype : {"rb", "kway"}) {
    SCOPED_TRACE(ptype);
    const std::string out = dir.path() + "/p";
    const auto run = veldan_test::Run(
        {"-ptype=" + ptype, "-seed=5", "-epsilon=0.05", "-dbglvl=0", "-output=" + out, g, "4"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::ifstream in(out);
    std::vector<std::int64_t> expect;
    for (std::int64_t p; in >> p;) expect.push_back(p);

    veldan::Options o = Opts(4, 5);
    o.epsilon = 0.05;
    o.scheme = ptype == "rb" ? veldan::Scheme::RecursiveBisection : veldan::Scheme::Kway;
    o.threads = 2;
    const veldan::Result r = veldan::Partition(Circuit().View(), o);
    EXPECT_EQ(r.parts, expect);
    EXPECT_TRUE(r.balanced);
    EXPECT_EQ(r.seed, 5);
    // The metrics are those of Evaluate.
    const veldan::Metrics m = veldan::Evaluate(Circuit().View(), r.parts, 4);
    EXPECT_EQ(m.cut, r.metrics.cut);
    EXPECT_EQ(m.km1, r.metrics.km1);
    EXPECT_EQ(m.part_weights, r.metrics.part_weights);
  }
}

// A time budget gives back the runs and V-cycles it made; those counts
// without the budget repeat the partition, in C++ and in C (whose presets
// are the library's).
TEST(Api, TimeBudgetCountsRepeatThePartition) {
  const Arrays a = Circuit();
  for (const auto scheme : {veldan::Scheme::RecursiveBisection, veldan::Scheme::Kway}) {
    SCOPED_TRACE(static_cast<int>(scheme));
    veldan::Options o = veldan::PresetOptions(veldan::Preset::Fast);
    o.k = 4;
    o.seed = 3;
    o.scheme = scheme;
    o.time = 0.2;
    o.threads = 2;
    const veldan::Result timed = veldan::Partition(a.View(), o);
    EXPECT_GE(timed.nruns, 1);
    EXPECT_LE(timed.nvcycles, std::min<std::int64_t>(o.nvcycles, timed.nruns));
    o.time = 0.0;
    o.nruns = timed.nruns;
    o.nvcycles = timed.nvcycles;
    o.ctype = veldan::Coarsening::H1;  // what the default became under the budget
    o.threads = 1;
    const veldan::Result repeat = veldan::Partition(a.View(), o);
    EXPECT_EQ(repeat.parts, timed.parts);
    EXPECT_EQ(repeat.nruns, timed.nruns);
  }
  veldan_options c;
  EXPECT_EQ(veldan_preset_options(&c, 3), VELDAN_INVALID_OPTIONS);
  ASSERT_EQ(veldan_preset_options(&c, VELDAN_PRESET_QUALITY), VELDAN_OK);
  const veldan::Options q = veldan::PresetOptions(veldan::Preset::Quality);
  EXPECT_EQ(c.nruns, q.nruns);
  EXPECT_EQ(c.nvcycles, q.nvcycles);
  EXPECT_EQ(c.time, 0.0);
  EXPECT_EQ(c.initial, nullptr);
  EXPECT_THROW(veldan::PresetOptions(static_cast<veldan::Preset>(7)), veldan::Error);
}

// The library reads files itself, in C++ and C, and hands every refusal
// back with the reader's message (file and line) instead of ending.
TEST(Api, ReadsHypergraphFiles) {
  veldan_test::TempDir dir;
  const std::string good = dir.Write("g.hgr", "3 4 11\n2 1 2\n1 2 3\n5 3 4 4\n1\n2\n3\n4\n");
  const veldan::HypergraphData d = veldan::ReadHypergraph(good);
  EXPECT_EQ(d.nvtxs, 4);
  EXPECT_EQ(d.netptr, (std::vector<std::int64_t>{0, 2, 4, 6}));
  EXPECT_EQ(d.netind, (std::vector<std::int64_t>{0, 1, 1, 2, 2, 3}));  // the repeated 4 once
  EXPECT_EQ(d.netwgt, (std::vector<float>{2, 1, 5}));
  EXPECT_EQ(d.cellwgt, (std::vector<float>{1, 2, 3, 4}));
  veldan::Options o;
  o.k = 2;
  o.seed = 1;
  EXPECT_EQ(veldan::Partition(d.view(), o).parts.size(), 4u);

  struct Case {
    std::string path;
    veldan::Status status;
    std::string says;
  };
  const Case cases[] = {
      {dir.Write("bad.hgr", "2 4\n1 2\n3 9\n"), veldan::Status::InvalidHypergraph,
       "Cell number: 9 read for net 2 is wrong.\nHypergraph file " + dir.path() +
           "/bad.hgr, line 3."},
      {dir.path() + "/none.hgr", veldan::Status::InvalidHypergraph, "does not exist!"},
      {dir.path(), veldan::Status::InvalidHypergraph, "is a folder, not a file."},
  };
  for (const Case& c : cases) {
    try {
      veldan::ReadHypergraph(c.path);
      ADD_FAILURE() << "read " << c.path;
    } catch (const veldan::Error& e) {
      EXPECT_EQ(e.status(), c.status) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
    veldan_hypergraph h;
    EXPECT_EQ(veldan_read_hypergraph(c.path.c_str(), &h), static_cast<int>(c.status));
    EXPECT_EQ(h.netptr, nullptr);
    EXPECT_NE(std::string(veldan_last_error()).find(c.says), std::string::npos);
  }
  veldan_hypergraph h;
  ASSERT_EQ(veldan_read_hypergraph(good.c_str(), &h), VELDAN_OK);
  EXPECT_EQ(h.nnets, 3);
  EXPECT_EQ(h.netind[5], 3);
  EXPECT_EQ(h.cellwgt[3], 4.0f);
  veldan_free_hypergraph(&h);
  EXPECT_EQ(h.netind, nullptr);
}

// Memory that runs out anywhere inside a call (the allocation after n
// fails, and every later one) comes back as OutOfMemory, and everything the
// call had allocated is released on the way out: the library's allocation
// count is back where it was. (Under the sanitizer build the leak checker
// sees the rest.)
TEST(Api, MemoryRunningOutInsideACallLeaksNothing) {
  const Arrays circuit = Circuit();
  veldan_test::TempDir dir;
  const std::string file = std::string(VELDAN_SOURCE_DIR) + "/examples/circuit1.hgr";
  const std::size_t before = veldan::ax_CurMemory();
  for (const std::int64_t n : {1, 5, 40, 300, 3000}) {
    for (const veldan::Scheme scheme : {veldan::Scheme::RecursiveBisection, veldan::Scheme::Kway}) {
      for (const std::int64_t threads : {1, 2}) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " threads " + std::to_string(threads));
        veldan::Options o = Opts(4);
        o.scheme = scheme;
        o.threads = threads;
        o.nruns = 3;
        veldan::ax_FailAllocationsAfter(n);
        veldan::Result r;
        std::string message;
        const veldan::Status s = veldan::Partition(circuit.View(), o, &r, &message);
        veldan::ax_FailAllocationsAfter(0);
        EXPECT_EQ(s, veldan::Status::OutOfMemory) << message;
        EXPECT_EQ(veldan::ax_CurMemory(), before);
      }
    }
  }
  // The read, with each of its allocations failing in turn, up to the first
  // count it reads through.
  std::int64_t failed = 0;
  for (std::int64_t n = 1; n <= 1000 && failed == n - 1; n++) {
    SCOPED_TRACE("read with the allocation " + std::to_string(n) + " failing");
    veldan::ax_FailAllocationsAfter(n);
    try {
      veldan::ReadHypergraph(file);
    } catch (const veldan::Error& e) {
      EXPECT_EQ(e.status(), veldan::Status::OutOfMemory) << e.what();
      failed++;
    }
    veldan::ax_FailAllocationsAfter(0);
    EXPECT_EQ(veldan::ax_CurMemory(), before);
  }
  EXPECT_GT(failed, 0) << "the read allocates nothing that can fail";
  EXPECT_LT(failed, 1000) << "the read fails however late its allocations fail";
  // And with no failure the same calls succeed.
  EXPECT_EQ(veldan::Partition(circuit.View(), Opts(4)).parts.size(),
            static_cast<std::size_t>(circuit.nvtxs));
  EXPECT_EQ(veldan::ax_CurMemory(), before);
}

TEST(Api, CallsOnSeveralThreadsAtOnce) {
  // Each call on its own thread gets what it gets alone.
  const Arrays circuit = Circuit();
  const Arrays ring = Ring(500);
  veldan::Options a = Opts(8, 3), b = Opts(5, 4);
  b.scheme = veldan::Scheme::Kway;
  b.objective = veldan::Objective::Soed;
  a.threads = b.threads = 2;
  const veldan::Result alone_a = veldan::Partition(circuit.View(), a);
  const veldan::Result alone_b = veldan::Partition(ring.View(), b);
  veldan::Result together_a, together_b;
  std::thread ta([&] { together_a = veldan::Partition(circuit.View(), a); });
  std::thread tb([&] { together_b = veldan::Partition(ring.View(), b); });
  ta.join();
  tb.join();
  EXPECT_EQ(together_a.parts, alone_a.parts);
  EXPECT_EQ(together_b.parts, alone_b.parts);
}

TEST(Api, NothingPrintedWithTheDefaults) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  veldan::Options o;
  o.k = 3;
  const veldan::Result r = veldan::Partition(Ring(30).View(), o);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_GE(r.seed, 0);
}

// Target weights through C++ and C: every weight of every part within
// (1 + epsilon) x its target (one weight per cell, and two: a unit weight
// and 1 to 4 by cell number, part by part in part_weights), and the C
// pointer and length give the C++ result.
TEST(Api, PartWeightsThroughBothInterfaces) {
  Arrays two = Circuit();
  two.ncon = 2;
  for (std::int64_t i = 0; i < two.nvtxs; i++)
    two.cellwgt.insert(two.cellwgt.end(), {1.0f, static_cast<float>(1 + i % 4)});
  const struct {
    Arrays a;
    std::vector<double> targets;
  } cases[] = {{Circuit(), {0.5, 0.25, 0.125, 0.125}},
               {two, {0.5, 0.4, 0.25, 0.3, 0.125, 0.15, 0.125, 0.15}}};
  for (const auto& [a, targets] : cases)
    for (const veldan::Scheme scheme : {veldan::Scheme::RecursiveBisection, veldan::Scheme::Kway}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(scheme)) + " ncon " + std::to_string(a.ncon));
      veldan::Options o = Opts(4);
      o.scheme = scheme;
      o.epsilon = 0.03;
      o.nruns = 2;
      o.part_weights = targets;
      const veldan::Result r = veldan::Partition(a.View(), o);
      EXPECT_TRUE(r.balanced);
      for (std::int64_t j = 0; j < a.ncon; j++) {
        double total = 0.0;
        for (std::int64_t i = 0; i < a.nvtxs; i++)
          total += a.cellwgt.empty() ? 1.0 : a.cellwgt[i * a.ncon + j];
        for (std::size_t p = 0; p < 4; p++)
          EXPECT_LE(r.metrics.part_weights[p * a.ncon + j],
                    1.03 * targets[p * a.ncon + j] * total) << "part " << p << " weight " << j;
      }

      veldan_hypergraph h = {};
      h.nvtxs = a.nvtxs;
      h.nnets = static_cast<std::int64_t>(a.netptr.size()) - 1;
      h.netptr = a.netptr.data();
      h.netind = a.netind.data();
      h.ncon = a.ncon;
      h.cellwgt = a.cellwgt.empty() ? nullptr : a.cellwgt.data();
      veldan_options c;
      veldan_default_options(&c);
      c.scheme = static_cast<int>(scheme);
      c.k = 4;
      c.epsilon = 0.03;
      c.seed = 1;
      c.threads = 1;
      c.nruns = 2;
      c.part_weights = targets.data();
      c.npart_weights = static_cast<std::int64_t>(targets.size());
      std::vector<std::int64_t> parts(a.nvtxs, -1);
      ASSERT_EQ(veldan_partition(&h, &c, parts.data(), nullptr), VELDAN_OK) << veldan_last_error();
      EXPECT_EQ(parts, r.parts);
      c.part_weights = nullptr;
      EXPECT_EQ(veldan_partition(&h, &c, parts.data(), nullptr), VELDAN_INVALID_OPTIONS);
    }
}

TEST(Api, CInterface) {
  const Arrays ring = Ring(12);
  veldan_hypergraph h = {};
  h.nvtxs = ring.nvtxs;
  h.nnets = static_cast<std::int64_t>(ring.netptr.size()) - 1;
  h.netptr = ring.netptr.data();
  h.netind = ring.netind.data();
  h.ncon = 1;
  veldan_options o;
  veldan_default_options(&o);
  o.k = 3;
  o.epsilon = 0.03;
  o.seed = 2;
  std::vector<std::int64_t> parts(12, -7);
  veldan_metrics m;
  ASSERT_EQ(veldan_partition(&h, &o, parts.data(), &m), VELDAN_OK) << veldan_last_error();
  EXPECT_EQ(m.cut, 3.0);  // a ring in three arcs of four
  EXPECT_EQ(m.imbalance, 0.0);
  EXPECT_EQ(m.balanced, 1);
  double pw[3];
  veldan_metrics e;
  ASSERT_EQ(veldan_evaluate(&h, parts.data(), 3, &e, pw, nullptr), VELDAN_OK);
  EXPECT_EQ(e.km1, 3.0);
  EXPECT_EQ(pw[0] + pw[1] + pw[2], 12.0);
  // A partition to improve: cells in turn over the parts cut every net; it
  // is read (a part beyond k is refused) and improved.
  std::vector<std::int64_t> initial(12);
  for (int i = 0; i < 12; i++) initial[i] = i % 3;
  o.initial = initial.data();
  o.nruns = 2;
  ASSERT_EQ(veldan_partition(&h, &o, parts.data(), &m), VELDAN_OK) << veldan_last_error();
  EXPECT_LT(m.cut, 12.0);
  initial[5] = 3;
  EXPECT_EQ(veldan_partition(&h, &o, parts.data(), nullptr), VELDAN_INVALID_OPTIONS);
  EXPECT_NE(std::string(veldan_last_error()).find("cell 5 is in part 3 of the initial"),
            std::string::npos);
  veldan_default_options(&o);
  EXPECT_EQ(o.initial, nullptr);
  o.k = 3;
  o.epsilon = 0.03;
  o.seed = 2;
  // Errors: a status and a message.
  o.k = 0;
  EXPECT_EQ(veldan_partition(&h, &o, parts.data(), nullptr), VELDAN_INVALID_OPTIONS);
  EXPECT_NE(std::string(veldan_last_error()).find("k is 0"), std::string::npos);
  parts[4] = 3;
  EXPECT_EQ(veldan_evaluate(&h, parts.data(), 3, &e, nullptr, nullptr), VELDAN_INVALID_OPTIONS);
  // Cells are numbered from 0 in every message of the library.
  EXPECT_NE(std::string(veldan_last_error()).find("cell 4 is in part 3, outside 0 to 2"),
            std::string::npos)
      << veldan_last_error();
  parts[4] = 0;
  // k is bounded by the cells, the seed by its one range; a thread count
  // beyond the cores is capped, not refused.
  struct Case {
    std::int64_t k, seed, threads;
    int status;
    const char* message;
  };
  for (const Case& c : std::vector<Case>{
           {2147483648, 1, 0, VELDAN_INVALID_OPTIONS, "k is 2147483648: more parts than the "},
           {3, veldan::kMaxSeed + 1, 0, VELDAN_INVALID_OPTIONS,
            "seed is 9223372036854775807: at most 9223372036854775806"},
           {3, veldan::kMaxSeed, 1 << 20, VELDAN_OK, ""},
       }) {
    SCOPED_TRACE(c.k);
    o.k = c.k;
    o.seed = c.seed;
    o.threads = c.threads;
    EXPECT_EQ(veldan_partition(&h, &o, parts.data(), nullptr), c.status);
    EXPECT_EQ(std::string(veldan_last_error()).rfind(c.message, 0), 0u) << veldan_last_error();
  }
  EXPECT_EQ(veldan_evaluate(&h, parts.data(), 1000000000000, &e, nullptr, nullptr),
            VELDAN_INVALID_OPTIONS);
  EXPECT_EQ(std::string(veldan_last_error()).rfind("k is 1000000000000: more parts than the ", 0),
            0u);
  EXPECT_STREQ(veldan_version(), "2.0rc1");
}

}  // namespace
