// Tests of the support layer: allocation and its failure, the error exits,
// timers, line reading, tokenising, keyword lookup, the priority queue, the
// vector kernels, the random stream and the sorts.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/support.h"

using namespace veldan;

namespace {

// What a forked child wrote and how it ended.
struct ChildResult {
  bool exited = false;
  int exit_code = -1;
  int term_signal = 0;
  std::string out;
  std::string err;
};

std::string Slurp(std::FILE* f) {
  std::string text;
  std::rewind(f);
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}

// Runs body in a forked child with standard output and error sent to files,
// so that routines that end the process can be checked on both streams.
template <class F>
ChildResult RunInChild(F body) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EXPECT_NE(out, nullptr);
  EXPECT_NE(err, nullptr);
  ChildResult res;
  if (out == nullptr || err == nullptr) return res;
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return res;
  }
  if (pid == 0) {
    struct rlimit nocore = {0, 0};
    setrlimit(RLIMIT_CORE, &nocore);
    std::signal(SIGABRT, SIG_DFL);
    dup2(fileno(out), STDOUT_FILENO);
    dup2(fileno(err), STDERR_FILENO);
    body();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(0);
  }
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  if (WIFEXITED(status)) {
    res.exited = true;
    res.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    res.term_signal = WTERMSIG(status);
  }
  res.out = Slurp(out);
  res.err = Slurp(err);
  std::fclose(out);
  std::fclose(err);
  return res;
}

std::string StatsLines(std::size_t maxmem, std::size_t curmem) {
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "   Maximum memory used:              %10zu bytes\n"
                "   Current memory used:              %10zu bytes\n",
                maxmem, curmem);
  return buf;
}

// A stream holding the given bytes, positioned at its start.
std::FILE* StreamOf(const std::string& text) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  return f;
}

}  // namespace

// ---------------------------------------------------------------------------
// Memory

// A level keeps its cell and net numbers in pin_t: up to 2^31 - 1 cells and
// as many nets, each count on its own.
TEST(PinLists, LevelSizesThatFit) {
  constexpr idx_t kMax = 2147483647;  // 2^31 - 1
  struct Case {
    idx_t nvtxs, nnets;
    bool fits;
  };
  const Case cases[] = {
      {0, 0, true},
      {2, 1, true},
      {kMax, 0, true},
      {0, kMax, true},
      {kMax, kMax, true},
      {kMax + 1, 0, false},
      {0, kMax + 1, false},
      {kMax + 1, kMax, false},
      {kMax, kMax + 1, false},
      {idx_t{1} << 40, 5, false},
      {5, idx_t{1} << 40, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FitsPinLists(c.nvtxs, c.nnets), c.fits) << c.nvtxs << " cells, " << c.nnets << " nets";
}

TEST(Memory, StatisticsFollowAllocationsZeroSizesAndFree) {
  const std::size_t cur0 = ax_CurMemory();
  // Empty requests give null and hold nothing.
  EXPECT_EQ(ax_malloc(0, "test: zero"), nullptr);
  EXPECT_EQ(ax_imalloc(-3, "test: negative"), nullptr);
  EXPECT_EQ(ax_fsmalloc(0, 1.0f, "test: zero"), nullptr);
  EXPECT_EQ(ax_CurMemory(), cur0);

  idx_t* a = ax_ismalloc(1000, -1, "test: a");
  real_t* b = ax_fmalloc(500, "test: b");
  EXPECT_EQ(a[999], -1);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % alignof(std::max_align_t), 0u);
  EXPECT_EQ(ax_CurMemory(), cur0 + 1000 * sizeof(idx_t) + 500 * sizeof(real_t));
  // Growing a block counts the difference and keeps the contents.
  a = ax_irealloc(a, 3000, "test: a");
  EXPECT_EQ(a[999], -1);
  EXPECT_EQ(ax_CurMemory(), cur0 + 3000 * sizeof(idx_t) + 500 * sizeof(real_t));
  idx_t* none = nullptr;
  FKeyVal* c = ax_fkvmalloc(3, "test: c");
  const char* s = ax_strdup("text");
  const std::size_t peak = ax_MaxMemory();
  EXPECT_GE(peak, ax_CurMemory());
  ax_free(&a, &none, &b, &c, &s);
  EXPECT_TRUE(a == nullptr && none == nullptr && b == nullptr && c == nullptr &&
              s == nullptr);
  EXPECT_EQ(ax_CurMemory(), cur0);
  EXPECT_EQ(ax_MaxMemory(), peak);  // the peak stays

  // Resizing null allocates; resizing to zero frees.
  void* p = ax_realloc(nullptr, 100, "test: p");
  EXPECT_EQ(ax_CurMemory(), cur0 + 100);
  EXPECT_EQ(ax_realloc(p, 0, "test: p"), nullptr);
  EXPECT_EQ(ax_CurMemory(), cur0);
}

TEST(Memory, MatricesAreFilledAndFreedRowByRow) {
  const std::size_t cur0 = ax_CurMemory();
  idx_t** m = ax_iAllocMatrix(3, 4, 9, "test: m");
  real_t** r = ax_fAllocMatrix(2, 5, 1.5f, "test: r");
  EXPECT_EQ(m[2][3], 9);
  EXPECT_EQ(r[1][4], 1.5f);
  ax_fSetMatrix(r, 2, 5, -2.0f);
  for (idx_t i = 0; i < 2; ++i)
    for (idx_t j = 0; j < 5; ++j) EXPECT_EQ(r[i][j], -2.0f);
  EXPECT_EQ(ax_CurMemory(), cur0 + 3 * sizeof(idx_t*) + 12 * sizeof(idx_t) +
                                2 * sizeof(real_t*) + 10 * sizeof(real_t));
  ax_FreeMatrix(&m, 3);
  ax_FreeMatrix(&r, 2);
  EXPECT_TRUE(m == nullptr && r == nullptr);
  EXPECT_EQ(ax_CurMemory(), cur0);
}

TEST(MemoryFailure, HugeRequestPrintsStatisticsAndExits) {
  // Hold something so that both figures are non-trivial.
  idx_t* held = ax_imalloc(1000, "test: held");
  const std::string stats = StatsLines(ax_MaxMemory(), ax_CurMemory());
  const std::size_t huge = static_cast<std::size_t>(PTRDIFF_MAX);

  ChildResult r = RunInChild([&] { ax_malloc(huge, "Caller: array"); });
  EXPECT_EQ(r.exit_code, veldan::kExitOutOfMemory);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, stats + "***Memory allocation failed for Caller: array. Requested size: " +
                       std::to_string(huge) + " bytes\n");

  r = RunInChild([&] { held = static_cast<idx_t*>(ax_realloc(held, huge, "Caller: grow")); });
  EXPECT_EQ(r.exit_code, veldan::kExitOutOfMemory);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, stats + "***Memory re-allocation failed for Caller: grow. Requested size: " +
                       std::to_string(huge) + " bytes\n");
  ax_free(&held);
}

TEST(MemoryFailure, OverflowingSizesFailInsteadOfWrapping) {
  // 2^62 elements of 8 bytes wrap to 0 bytes in size_t arithmetic; that must
  // be a failed request, not a silent null or a tiny block, and it ends the
  // process with a status, not a signal.
  ChildResult r = RunInChild([] {
    idx_t* p = ax_imalloc(idx_t{1} << 62, "Caller: wrap");
    std::printf("returned %p\n", static_cast<void*>(p));
  });
  EXPECT_EQ(r.exit_code, veldan::kExitOutOfMemory);
  EXPECT_EQ(r.out.find("returned"), std::string::npos);
  EXPECT_NE(r.err.find("***Memory allocation failed for Caller: wrap."), std::string::npos);

  r = RunInChild([] { ax_tmalloc<IKeyVal>(INT64_MAX, "Caller: pairs"); });
  EXPECT_EQ(r.exit_code, veldan::kExitOutOfMemory);
  EXPECT_NE(r.err.find("***Memory allocation failed for Caller: pairs."), std::string::npos);

  // The header added in front of a block must not wrap either.
  r = RunInChild([] {
    void* p = ax_malloc(16, "Caller: small");
    ax_realloc(p, SIZE_MAX - 4, "Caller: small");
  });
  EXPECT_EQ(r.exit_code, veldan::kExitOutOfMemory);
  EXPECT_NE(r.err.find("***Memory re-allocation failed for Caller: small."),
            std::string::npos);
}

// ---------------------------------------------------------------------------
// Error exits and files

TEST(ErrorExits, ErrexitWritesLineAndExitsMinusTwo) {
  ChildResult r = RunInChild([] { errexit("Bad value %ld in %s", 42L, "file"); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_EQ(r.err, "Bad value 42 in file\n");
  EXPECT_EQ(r.out, "");
}

TEST(ErrorExits, AxErrexitRaisesTheSignalAndReturnsWhenIgnored) {
  ChildResult r = RunInChild([] { ax_errexit(SIGABRT, "***Parameter %d wrong", 3); });
  EXPECT_EQ(r.term_signal, SIGABRT);
  EXPECT_EQ(r.err, "***Parameter 3 wrong\n");

  r = RunInChild([] {
    std::signal(SIGUSR1, SIG_IGN);
    ax_errexit(SIGUSR1, "ignored");
    std::printf("returned");
  });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "ignored\n");
  EXPECT_EQ(r.out, "returned");
}

TEST(Files, FopenFailureReportsAndExits) {
  ChildResult r = RunInChild(
      [] { ax_fopen("/nonexistent-dir/x.hgr", "r", "ReadHGraph: file"); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 254);
  EXPECT_EQ(r.err,
            "file: /nonexistent-dir/x.hgr, mode: r, [ReadHGraph: file]: "
            "No such file or directory\nFailed on ax_fopen()\n\n");
}

TEST(Files, FexistsOnlyForRegularFiles) {
  char name[] = "/tmp/veldan_support_XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(ax_fexists(name), 1);
  EXPECT_EQ(ax_fexists("/tmp"), 0);
  std::remove(name);
  EXPECT_EQ(ax_fexists(name), 0);
}

// ---------------------------------------------------------------------------
// Line reader

TEST(GetLine, LongLinesGrowTheBufferByDoubling) {
  const std::string l2000(2000, 'x');
  const std::string l3000(3000, 'y');
  std::FILE* f = StreamOf(l2000 + "\n" + l3000 + "\n");
  ASSERT_NE(f, nullptr);

  char* line = nullptr;
  std::size_t cap = 0;
  EXPECT_EQ(ax_getline(&line, &cap, f), 2000);
  EXPECT_EQ(cap, 2048u);
  EXPECT_EQ(std::string(line), l2000 + "\n");
  ax_free(&line);

  // A fresh buffer again: the 3000-character line doubles it twice.
  cap = 0;
  EXPECT_EQ(ax_getline(&line, &cap, f), 3000);
  EXPECT_EQ(cap, 4096u);
  EXPECT_EQ(std::string(line), l3000 + "\n");
  ax_free(&line);
  std::fclose(f);
}

TEST(GetLine, ShortLinesEmptyLinesAndLastLineWithoutFeed) {
  std::FILE* f = StreamOf("abc\n\nxyz");
  ASSERT_NE(f, nullptr);
  char* line = nullptr;
  std::size_t cap = 0;
  EXPECT_EQ(ax_getline(&line, &cap, f), 3);
  EXPECT_EQ(cap, 1024u);
  EXPECT_STREQ(line, "abc\n");
  EXPECT_EQ(ax_getline(&line, &cap, f), 0);
  EXPECT_STREQ(line, "\n");
  EXPECT_EQ(ax_getline(&line, &cap, f), 3);
  EXPECT_STREQ(line, "xyz");
  // The end was met; the next call answers -1 and leaves the buffer alone.
  char* const kept = line;
  EXPECT_EQ(ax_getline(&line, &cap, f), -1);
  EXPECT_EQ(line, kept);
  EXPECT_STREQ(line, "xyz");
  EXPECT_EQ(cap, 1024u);
  ax_free(&line);
  std::fclose(f);
}

TEST(GetLine, EmptyStreamGivesZeroThenMinusOne) {
  std::FILE* f = StreamOf("");
  ASSERT_NE(f, nullptr);
  char* line = nullptr;
  std::size_t cap = 0;
  EXPECT_EQ(ax_getline(&line, &cap, f), 0);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(ax_getline(&line, &cap, f), -1);
  ax_free(&line);
  std::fclose(f);
}

TEST(GetLine, SmallCallerBufferGrowsWithoutOverrun) {
  std::FILE* f = StreamOf("0123456789\n");
  ASSERT_NE(f, nullptr);
  std::size_t cap = 2;
  char* line = static_cast<char*>(ax_malloc(cap, "test: line"));
  EXPECT_EQ(ax_getline(&line, &cap, f), 10);
  EXPECT_STREQ(line, "0123456789\n");
  EXPECT_GE(cap, 13u);
  ax_free(&line);
  std::fclose(f);
}

// ---------------------------------------------------------------------------
// Strings

namespace {

// The tokens of text as strings; checks that an empty list is no list and
// that freeing clears the record.
std::vector<std::string> Tokens(const char* text, const char* delims) {
  TokenList t;
  strtokenize(text, delims, &t);
  std::vector<std::string> toks(t.list, t.list + t.ntoks);
  if (t.ntoks == 0) {
    EXPECT_EQ(t.list, nullptr);
  }
  EXPECT_NE(t.strbuf, text);  // a private copy
  FreeTokens(&t);
  EXPECT_TRUE(t.list == nullptr && t.strbuf == nullptr);
  return toks;
}

}  // namespace

TEST(Strings, TokeniseSkipsRunsOfDelimiters) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Tokens("  a\t b  ", " \t"), (V{"a", "b"}));
  EXPECT_EQ(Tokens("", " \t"), V{});
  EXPECT_EQ(Tokens(" \t \t", " \t"), V{});
  EXPECT_EQ(Tokens("word", " "), V{"word"});
  const char text[] = "10 20\t\t-3,4";
  EXPECT_EQ(Tokens(text, " \t,"), (V{"10", "20", "-3", "4"}));
  EXPECT_STREQ(text, "10 20\t\t-3,4");  // the caller's text is untouched
}

TEST(Strings, TrimAndDuplicate) {
  char all[] = " \t \n";
  EXPECT_STREQ(ax_strtrim_right(all, " \t\n"), "");
  char mixed[] = "  ab c \n";
  EXPECT_STREQ(ax_strtrim_right(mixed, " \n"), "  ab c");
  EXPECT_STREQ(ax_strtrim_left(mixed, " "), "ab c");
  char none[] = "abc";
  EXPECT_STREQ(ax_strtrim_left(none, " "), "abc");
  EXPECT_STREQ(ax_strtrim_right(none, " "), "abc");
  char only[] = "xxxx";
  EXPECT_STREQ(ax_strtrim_left(only, "x"), "");

  EXPECT_EQ(ax_strdup(nullptr), nullptr);
  char* d = ax_strdup(none);
  EXPECT_NE(d, none);
  EXPECT_STREQ(d, "abc");
  ax_free(&d);
}

TEST(Strings, KeywordLookupIsCaseFreeAndWholeWord) {
  static const StringMap kTable[] = {
      {"rb", 1}, {"kway", 2}, {"KWay", 9}, {"h1", 5}, {"h12", 7}, {nullptr, 0}};
  EXPECT_EQ(ax_GetStringID(kTable, "KWAY"), 2);  // first match wins
  EXPECT_EQ(ax_GetStringID(kTable, "kway"), 2);
  EXPECT_EQ(ax_GetStringID(kTable, "kw"), -1);
  EXPECT_EQ(ax_GetStringID(kTable, "kwayx"), -1);
  EXPECT_EQ(ax_GetStringID(kTable, "Rb"), 1);
  EXPECT_EQ(ax_GetStringID(kTable, "h1"), 5);
  EXPECT_EQ(ax_GetStringID(kTable, "H12"), 7);
  EXPECT_EQ(ax_GetStringID(kTable, ""), -1);
}

// ---------------------------------------------------------------------------
// Timers

TEST(Timers, PrintTimersExactText) {
  TimerSet t;
  InitTimers(t);
  for (double v : t.t) EXPECT_EQ(v, 0.0);
  // Distinct values show any timer printed in the wrong place.
  for (int i = 0; i < NTIMERS; ++i) t.t[i] = i + 0.25 + i / 1000.0;

  const std::string head =
      "\nTiming Information ---------------------------------------------------------"
      "\n Multilevel: \t\t   6.256"
      "\n     Coarsening: \t\t   1.251"
      "\n     Initial Partition: \t   7.257"
      "\n     Uncoarsening: \t\t  10.260"
      "\n             Aux1: \t\t  11.261"
      "\n             Aux2: \t\t  12.262"
      "\n             Aux3: \t\t  13.263"
      "\n             Aux4: \t\t  14.264";
  const std::string tail =
      "\n Total: \t\t   0.250"
      "\n----------------------------------------------------------------------------";
  const std::string full =
      "\n        Refinement: \t\t\t   2.252"
      "\n            Initialize: \t\t\t   3.253"
      "\n            Iterate: \t\t\t\t   4.254"
      "\n            Wrap Up: \t\t\t\t   5.255";

  ChildResult r = RunInChild([&] { PrintTimers(t, 0); });
  EXPECT_EQ(r.out, head + tail);
  r = RunInChild([&] { PrintTimers(t, 1); });
  EXPECT_EQ(r.out, head + full + tail);
}

// ---------------------------------------------------------------------------
// Priority queue

namespace {

// Checks the heap order and that locator and heap agree in both directions.
void ExpectQueueConsistent(const PQueue& q) {
  for (idx_t i = 1; i < q.nnodes; ++i)
    EXPECT_LE(q.heap[i].key, q.heap[(i - 1) / 2].key) << "slot " << i;
  idx_t located = 0;
  for (idx_t c = 0; c < q.maxnodes; ++c) {
    if (q.locator[c] == -1) continue;
    ++located;
    ASSERT_LT(q.locator[c], q.nnodes);
    EXPECT_EQ(q.heap[q.locator[c]].val, c);
  }
  EXPECT_EQ(located, q.nnodes);
}

// Inserts {cell, key} pairs in the order given.
void InsertAll(PQueue* q, std::initializer_list<std::pair<idx_t, float>> items) {
  for (const auto& [cell, key] : items) ax_PQInsert(q, cell, key);
}

}  // namespace

TEST(PQueue, EmptyQueueAndResetAndFree) {
  PQueue q;
  ax_PQInit(&q, 8);
  EXPECT_EQ(ax_PQSeeTopVal(&q), -1);
  EXPECT_EQ(ax_PQGetTop(&q), -1);
  EXPECT_EQ(q.nnodes, 0);
  for (idx_t c = 0; c < 8; ++c) EXPECT_EQ(q.locator[c], -1);

  InsertAll(&q, {{1, 2.0f}, {6, 3.0f}});
  EXPECT_EQ(ax_PQGetTop(&q), 6);
  q.locator[3] = 42;  // reset clears slots of cells never queued too
  ax_PQReset(&q);
  EXPECT_EQ(q.nnodes, 0);
  for (idx_t c = 0; c < 8; ++c) EXPECT_EQ(q.locator[c], -1);
  ax_PQInsert(&q, 6, 1.0f);
  EXPECT_EQ(ax_PQGetTop(&q), 6);

  ax_PQFree(&q);
  EXPECT_TRUE(q.heap == nullptr && q.locator == nullptr && q.maxnodes == 0);
}

TEST(PQueue, EqualKeysKeepTheEarlierEntryHigher) {
  PQueue q;
  ax_PQInit(&q, 4);
  // Keys 3, 5, 5 for cells 0, 1, 2: cell 1 comes out before cell 2.
  InsertAll(&q, {{0, 3.0f}, {1, 5.0f}, {2, 5.0f}});
  ExpectQueueConsistent(q);
  EXPECT_EQ(ax_PQSeeTopVal(&q), 1);
  EXPECT_EQ(ax_PQGetTop(&q), 1);
  EXPECT_EQ(ax_PQGetTop(&q), 2);
  EXPECT_EQ(ax_PQGetTop(&q), 0);

  // Heap {0:9, 1:5, 2:5}: after the top leaves, the last entry (cell 2)
  // sinks from the root but does not pass its equal child, cell 1.
  InsertAll(&q, {{0, 9.0f}, {1, 5.0f}, {2, 5.0f}});
  EXPECT_EQ(ax_PQGetTop(&q), 0);
  EXPECT_EQ(ax_PQSeeTopVal(&q), 2);
  ax_PQReset(&q);

  // Heap {0:9, 1:5, 2:5, 3:1}: the sinking cell 3 meets two equal children
  // and the left one (cell 1) is promoted.
  InsertAll(&q, {{0, 9.0f}, {1, 5.0f}, {2, 5.0f}, {3, 1.0f}});
  EXPECT_EQ(ax_PQGetTop(&q), 0);
  EXPECT_EQ(ax_PQSeeTopVal(&q), 1);
  EXPECT_EQ(q.locator[3], 1);
  ExpectQueueConsistent(q);
  ax_PQFree(&q);
}

TEST(PQueue, UpdatesMoveCellsUpAndDown) {
  PQueue q;
  ax_PQInit(&q, 6);
  ax_PQInsert(&q, 4, 1.0f);
  for (float k : {-5.0f, 0.0f, 100.0f, 1.0f}) {  // a lone cell stays on top
    ax_PQUpdate(&q, 4, k);
    EXPECT_EQ(ax_PQSeeTopVal(&q), 4);
    EXPECT_EQ(q.heap[0].key, k);
  }
  ax_PQReset(&q);

  // Cells 0, 1, 2, 3 land in slots 0..3.
  InsertAll(&q, {{0, 10.0f}, {1, 8.0f}, {2, 6.0f}, {3, 4.0f}});
  // Lowering the root below its children sinks it under the larger one.
  ax_PQUpdate(&q, 0, 5.0f);
  EXPECT_EQ(ax_PQSeeTopVal(&q), 1);
  EXPECT_EQ(q.locator[0], 1);
  // Raising a leaf above its parent and the root lifts it to the top.
  ax_PQUpdate(&q, 3, 9.0f);
  EXPECT_EQ(ax_PQSeeTopVal(&q), 3);
  EXPECT_EQ(q.locator[1], 1);
  EXPECT_EQ(q.locator[0], 3);
  ExpectQueueConsistent(q);
  // An update to the same key changes nothing.
  ax_PQUpdate(&q, 2, 6.0f);
  EXPECT_EQ(q.locator[2], 2);
  for (idx_t want : {3, 1, 2, 0}) EXPECT_EQ(ax_PQGetTop(&q), want);
  ax_PQFree(&q);
}

TEST(PQueue, RandomOperationsMatchAReferenceModel) {
  const idx_t n = 300;
  PQueue q;
  ax_PQInit(&q, n);
  std::vector<float> key(n, 0.0f);
  std::vector<bool> queued(n, false);
  std::srand(7);
  for (int step = 0; step < 20000; ++step) {
    const idx_t c = std::rand() % n;
    // Few distinct keys, so that ties are frequent.
    const float k = static_cast<float>(std::rand() % 15 - 7);
    switch (std::rand() % 4) {
      case 0:
        if (!queued[c]) {
          ax_PQInsert(&q, c, k);
          queued[c] = true;
          key[c] = k;
        }
        break;
      case 1:
        if (queued[c]) {
          ax_PQUpdate(&q, c, k);
          key[c] = k;
        }
        break;
      case 2:
        if (queued[c]) {
          ax_PQDelete(&q, c);
          queued[c] = false;
          EXPECT_EQ(q.locator[c], -1);
        }
        break;
      default: {
        float best = -1e30f;
        for (idx_t i = 0; i < n; ++i)
          if (queued[i]) best = std::max(best, key[i]);
        if (q.nnodes > 0) {
          EXPECT_EQ(ax_PQSeeTopKey(&q), best);
        }
        const idx_t top = ax_PQGetTop(&q);
        if (top == -1) {
          EXPECT_EQ(best, -1e30f);
        } else {
          ASSERT_TRUE(queued[top]);
          EXPECT_EQ(key[top], best);
          queued[top] = false;
        }
      }
    }
    if (step % 997 == 0) ExpectQueueConsistent(q);
  }
  ExpectQueueConsistent(q);
  ax_PQFree(&q);
}

// ---------------------------------------------------------------------------
// Vector kernels

TEST(VecOps, ArgExtremesPreferTheFirst) {
  const real_t a[] = {1.0f, 3.0f, 3.0f};
  const real_t b[] = {2.0f, 1.0f, 1.0f};
  EXPECT_EQ(ax_fargmax(3, a), 1);
  EXPECT_EQ(ax_fargmin(3, b), 1);
  EXPECT_EQ(ax_fargmax(1, a), 0);
  EXPECT_EQ(ax_fargmin(0, b), 0);
  const idx_t c[] = {-4, 7, 2, 7};
  EXPECT_EQ(ax_iargmax(4, c), 1);
  EXPECT_EQ(ax_iargmax(1, c + 1), 0);
  const idx_t d[] = {-4, -9, -2};
  EXPECT_EQ(ax_iargmax(3, d), 2);
}

TEST(VecOps, StridedSumAndAxpy) {
  const real_t x[] = {1.0f, 10.0f, 2.0f, 20.0f, 3.0f, 30.0f};
  EXPECT_EQ(ax_fsum(0, x, 1), 0.0f);
  EXPECT_EQ(ax_fsum(3, x, 2), 6.0f);
  EXPECT_EQ(ax_fsum(3, x + 1, 2), 60.0f);
  EXPECT_EQ(ax_fsum(6, x, 1), 66.0f);
  // Sums in order in single precision: 2^24 + 1 + 1 loses both ones.
  const real_t big[] = {16777216.0f, 1.0f, 1.0f};
  EXPECT_EQ(ax_fsum(3, big, 1), 16777216.0f);

  real_t y[] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  EXPECT_EQ(ax_faxpy(3, 2.0f, x, 2, y, 2), y);
  EXPECT_EQ(y[0], 2.0f);
  EXPECT_EQ(y[1], 0.0f);
  EXPECT_EQ(y[2], 4.0f);
  EXPECT_EQ(y[4], 6.0f);
  ax_faxpy(2, -1.0f, x + 1, 2, y + 1, 1);
  EXPECT_EQ(y[1], -10.0f);
  EXPECT_EQ(y[2], -16.0f);
}

// ---------------------------------------------------------------------------
// Random stream

TEST(Random, InRangeTakesHighThenLowDraw) {
  RandomStream r;
  for (idx_t seed : {0L, 1L, 12345L}) {
    r.Seed(static_cast<std::uint32_t>(seed));
    const idx_t hi = r.Draw();
    const idx_t lo = r.Draw();
    const idx_t after = r.Draw();
    for (idx_t n : {idx_t{1}, idx_t{7}, idx_t{1000003}, idx_t{1} << 40}) {
      r.Seed(static_cast<std::uint32_t>(seed));
      EXPECT_EQ(r.InRange(n), ((hi << 32) | lo) % n) << "n " << n;
      EXPECT_EQ(r.Draw(), after);  // exactly two draws
    }
  }
}

TEST(Random, PermuteDrawsFourNumbersPerSwap) {
  RandomStream r;
  // n = 1 and n = 0: identity where asked and no draw at all.
  r.Seed(static_cast<std::uint32_t>(11));
  const int first = r.Draw();
  r.Seed(static_cast<std::uint32_t>(11));
  idx_t one[1] = {5};
  r.Permute(1, one, 1);
  EXPECT_EQ(one[0], 0);
  r.Permute(0, one, 1);
  EXPECT_EQ(r.Draw(), first);

  // n = 7: three swaps, twelve draws, and the swaps follow them in order.
  r.Seed(static_cast<std::uint32_t>(11));
  idx_t expect[7];
  for (idx_t i = 0; i < 7; ++i) expect[i] = i;
  for (int s = 0; s < 3; ++s) {
    const idx_t uh = r.Draw(), ul = r.Draw();
    const idx_t vh = r.Draw(), vl = r.Draw();
    const idx_t u = ((uh << 32) | ul) % 7;
    const idx_t v = ((vh << 32) | vl) % 7;
    std::swap(expect[u], expect[v]);
  }
  const int next = r.Draw();
  r.Seed(static_cast<std::uint32_t>(11));
  idx_t p[7] = {9, 9, 9, 9, 9, 9, 9};
  r.Permute(7, p, 1);
  for (idx_t i = 0; i < 7; ++i) EXPECT_EQ(p[i], expect[i]);
  EXPECT_EQ(r.Draw(), next);
}

#if defined(__GLIBC__)
// The stream is the C library's rand() stream on this platform, seed for seed,
// including seed 0 (taken as 1) and seeds above 2^31.
TEST(Random, StreamEqualsTheCLibraryGenerator) {
  RandomStream r;
  for (unsigned seed : {0u, 1u, 2u, 12345u, 2147483647u, 2147483648u, 4294967295u}) {
    std::srand(seed);
    r.Seed(seed);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(r.Draw(), std::rand()) << "seed " << seed;
  }
}
#endif

// The partitioner's draws leave the caller's own rand() sequence alone.
TEST(Random, CallersRandIsUntouched) {
  RandomStream r;
  std::srand(77);
  const int first = std::rand();
  std::srand(77);
  r.Seed(static_cast<std::uint32_t>(5));
  r.InRange(1000);
  EXPECT_EQ(std::rand(), first);
}

TEST(Random, PermuteIsRepeatableAndKeepsContents) {
  RandomStream r;
  const idx_t n = 1000;
  std::vector<idx_t> p(n), q(n);
  r.Seed(static_cast<std::uint32_t>(42));
  r.Permute(n, p.data(), 1);
  r.Seed(static_cast<std::uint32_t>(42));
  r.Permute(n, q.data(), 1);
  EXPECT_EQ(p, q);
  std::vector<idx_t> sorted = p;
  std::sort(sorted.begin(), sorted.end());
  for (idx_t i = 0; i < n; ++i) ASSERT_EQ(sorted[i], i);
  idx_t moved = 0;
  for (idx_t i = 0; i < n; ++i) moved += p[i] != i;
  EXPECT_GT(moved, n / 2);

  // flag 0 shuffles what is there.
  std::vector<idx_t> w(n);
  for (idx_t i = 0; i < n; ++i) w[i] = 3 * i;
  r.Permute(n, w.data(), 0);
  std::sort(w.begin(), w.end());
  for (idx_t i = 0; i < n; ++i) ASSERT_EQ(w[i], 3 * i);
}

// ---------------------------------------------------------------------------
// Sorting

namespace {

template <class KV>
std::vector<idx_t> Vals(const std::vector<KV>& a) {
  std::vector<idx_t> v;
  for (const KV& r : a) v.push_back(r.val);
  return v;
}

}  // namespace

TEST(Sort, SmallInputsUseTheInsertionPassOnly) {
  std::vector<idx_t> a = {3, 1, 2};
  ax_isorti(3, a.data());
  EXPECT_EQ(a, (std::vector<idx_t>{1, 2, 3}));

  // The first smallest of the first records is exchanged with the front
  // before inserting, so equal keys can swap: {1a, 1b, 0c} -> c, b, a.
  std::vector<IKeyVal> kv = {{1, 0}, {1, 1}, {0, 2}};
  ax_ikvsorti(3, kv.data());
  EXPECT_EQ(Vals(kv), (std::vector<idx_t>{2, 1, 0}));

  std::vector<IKeyVal> kv2 = {{2, 0}, {1, 1}, {1, 2}, {0, 3}};
  ax_ikvsorti(4, kv2.data());
  EXPECT_EQ(Vals(kv2), (std::vector<idx_t>{3, 1, 2, 0}));

  ax_isorti(0, static_cast<idx_t*>(nullptr));
  idx_t single = 4;
  ax_isorti(1, &single);
  EXPECT_EQ(single, 4);
}

TEST(Sort, EqualKeysEndInTheAlgorithmsOrder) {
  // Worked by hand: median of three swaps slots 3 and 0, the partition
  // exchanges slots 2/5 and then 3/4 (the pivot follows to slot 4), both
  // parts are small, and the insertion pass changes nothing more.
  const std::vector<idx_t> want = {3, 1, 5, 4, 0, 2, 6};
  std::vector<IKeyVal> ik = {{2, 0}, {1, 1}, {2, 2}, {1, 3}, {2, 4}, {1, 5}, {2, 6}};
  ax_ikvsorti(7, ik.data());
  EXPECT_EQ(Vals(ik), want);

  std::vector<FKeyVal> fk = {{2, 0}, {1, 1}, {2, 2}, {1, 3}, {2, 4}, {1, 5}, {2, 6}};
  ax_fkvsorti(7, fk.data());
  EXPECT_EQ(Vals(fk), want);

  // Here an exchange moves the pivot (slot 3 to slot 1) and the scans that
  // follow compare against it at its new place: {7 0 2 6 5 4 1 3}.
  std::vector<IKeyVal> moved;
  for (idx_t k : {1, 3, 2, 3, 3, 2, 2, 0}) moved.push_back({k, idx_t(moved.size())});
  ax_ikvsorti(8, moved.data());
  EXPECT_EQ(Vals(moved), (std::vector<idx_t>{7, 0, 2, 6, 5, 4, 1, 3}));

  // Twelve records: the first range splits into 0..5 (partitioned again)
  // and 7..11 (left as is at five records), and the insertion pass then
  // moves two records back.
  std::vector<IKeyVal> twelve;
  for (idx_t k : {0, 2, 0, 0, 2, 1, 1, 0, 2, 0, 1, 1})
    twelve.push_back({k, idx_t(twelve.size())});
  ax_ikvsorti(12, twelve.data());
  EXPECT_EQ(Vals(twelve), (std::vector<idx_t>{0, 9, 3, 2, 7, 10, 6, 5, 11, 8, 4, 1}));

  // The decreasing sort behaves as the increasing one on mirrored keys.
  std::vector<FKeyVal> fd = {{1, 0}, {2, 1}, {1, 2}, {2, 3}, {1, 4}, {2, 5}, {1, 6}};
  ax_fkvsortd(7, fd.data());
  EXPECT_EQ(Vals(fd), want);
  EXPECT_EQ(fd[0].key, 2.0f);
  EXPECT_EQ(fd[6].key, 1.0f);
}

TEST(Sort, AllVariantsAgreeOnRandomInputsWithTies) {
  std::srand(99);
  for (idx_t n : {2, 5, 6, 9, 17, 64, 100, 1000, 20000}) {
    for (int range : {3, 50, 1 << 24}) {
      std::vector<IKeyVal> ik(n);
      std::vector<FKeyVal> fi(n), fd(n);
      std::vector<idx_t> plain(n);
      for (idx_t i = 0; i < n; ++i) {
        const idx_t k = std::rand() % range;
        ik[i] = {k, i};
        fi[i] = {static_cast<real_t>(k), i};
        fd[i] = {-static_cast<real_t>(k), i};
        plain[i] = k;
      }
      std::vector<idx_t> ref = plain;
      std::sort(ref.begin(), ref.end());
      std::vector<pin_t> narrow(plain.begin(), plain.end());

      ax_isorti(n, plain.data());
      ax_isorti(n, narrow.data());
      ax_ikvsorti(n, ik.data());
      ax_fkvsorti(n, fi.data());
      ax_fkvsortd(n, fd.data());
      ASSERT_EQ(plain, ref) << "n " << n;
      ASSERT_TRUE(std::equal(narrow.begin(), narrow.end(), ref.begin())) << "n " << n;
      std::vector<idx_t> seen(n, 0);
      for (idx_t i = 0; i < n; ++i) {
        ASSERT_EQ(ik[i].key, ref[i]);
        ++seen[ik[i].val];
      }
      for (idx_t i = 0; i < n; ++i) ASSERT_EQ(seen[i], 1);  // a permutation
      // One algorithm for every record type: the same order of values.
      EXPECT_EQ(Vals(ik), Vals(fi)) << "n " << n;
      EXPECT_EQ(Vals(ik), Vals(fd)) << "n " << n;
    }
  }
}

TEST(Sort, OrderedReversedAndConstantInputs) {
  const idx_t n = 100000;
  std::vector<idx_t> up(n), down(n);
  std::vector<FKeyVal> same(n);
  for (idx_t i = 0; i < n; ++i) {
    up[i] = i;
    down[i] = n - 1 - i;
    same[i] = {1.0f, i};
  }
  ax_isorti(n, up.data());
  ax_isorti(n, down.data());
  ax_fkvsortd(n, same.data());
  EXPECT_TRUE(std::is_sorted(up.begin(), up.end()) && up[0] == 0);
  EXPECT_EQ(down, up);
  std::vector<bool> seen(n, false);
  for (const FKeyVal& r : same) {
    ASSERT_EQ(r.key, 1.0f);
    ASSERT_FALSE(seen[r.val]);
    seen[r.val] = true;
  }
}
