// The scheduler behind the parallel sections.
#include "support/parallel.h"

#include "support/memory.h"

#include <sched.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

#if defined(VELDAN_HAVE_TBB)
#include <optional>

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_invoke.h>
#include <oneapi/tbb/task_arena.h>
#endif

namespace veldan {

// --- task trace -----------------------------------------------------------------
//
// With VELDAN_TASK_TRACE naming a file, every task of a parallel section is
// recorded (its number, its parent's, the call that started it, and the
// processor time of its thread at its start and end), and the records of a
// RunWithThreads section are appended to the file when it ends. Taken with
// one thread, the records give each task's own time and the dependency tree,
// from which bench/critical_path.py computes what more cores would allow.

namespace {

struct TaskRecord {
  std::uint64_t id, parent, group;
  double start, end;
};

struct Trace {
  std::mutex lock;
  std::vector<TaskRecord> records;
  std::atomic<std::uint64_t> next{1};
  const char* path = std::getenv("VELDAN_TASK_TRACE");
};

Trace& TheTrace() {
  static Trace trace;
  return trace;
}

thread_local std::uint64_t t_task = 0;

double ThreadSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

bool Tracing() { return TheTrace().path != nullptr; }

// Runs f as task `id` of group `group`, recording it.
template <class F>
void Traced(std::uint64_t group, F&& f) {
  Trace& tr = TheTrace();
  TaskRecord rec{tr.next.fetch_add(1), t_task, group, ThreadSeconds(), 0.0};
  const std::uint64_t prev = t_task;
  t_task = rec.id;
  f();
  t_task = prev;
  rec.end = ThreadSeconds();
  std::lock_guard<std::mutex> g(tr.lock);
  tr.records.push_back(rec);
}

void WriteTrace(double start, double end) {
  Trace& tr = TheTrace();
  std::lock_guard<std::mutex> g(tr.lock);
  if (FILE* f = std::fopen(tr.path, "a")) {
    std::fprintf(f, "section %.6f\n", end - start);
    for (const TaskRecord& r : tr.records)
      std::fprintf(f, "%llu %llu %llu %.6f\n", static_cast<unsigned long long>(r.id),
                   static_cast<unsigned long long>(r.parent),
                   static_cast<unsigned long long>(r.group), r.end - r.start);
    std::fclose(f);
  }
  tr.records.clear();
}

// The body of every parallel call: traced when asked.
std::function<void(idx_t)> TaskBody(const std::function<void(idx_t)>& body) {
  if (!Tracing()) return body;
  const std::uint64_t group = TheTrace().next.fetch_add(1);
  return [&body, group](idx_t i) { Traced(group, [&] { body(i); }); };
}

}  // namespace

#if defined(VELDAN_HAVE_TBB)

void ParallelForImpl(idx_t n, const std::function<void(idx_t)>& body) {
  if (n <= 0) return;
  if (n == 1) {
    body(0);
    return;
  }
  // One task per index: the tasks are whole multilevel runs or chunks of
  // thousands of cells or nets, far coarser than the scheduling cost.
  tbb::parallel_for(tbb::blocked_range<idx_t>(0, n, 1),
                    [&](const tbb::blocked_range<idx_t>& r) {
                      for (idx_t i = r.begin(); i != r.end(); ++i) body(i);
                    },
                    tbb::simple_partitioner());
}

void ParallelInvokeImpl(const std::function<void()>& a, const std::function<void()>& b) {
  tbb::parallel_invoke(a, b);
}

void RunWithThreadsImpl(idx_t nthreads, const std::function<void()>& f) {
  if (nthreads < 1) {
    f();
    return;
  }
  // The scheduler's own limit is the number of cores; a caller asking for
  // more threads gets them (and no warning from the scheduler).
  const std::size_t want = static_cast<std::size_t>(nthreads);
  std::optional<tbb::global_control> limit;
  if (want > tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism))
    limit.emplace(tbb::global_control::max_allowed_parallelism, want);
  tbb::task_arena arena(static_cast<int>(nthreads));
  arena.execute(f);
}

#else

// Without oneTBB: plain threads. A section started by RunWithThreads has a
// budget of nthreads - 1 spare threads; a parallel call inside it borrows as
// many as it can use, runs the tasks on them and on the calling thread, and
// gives them back when all are done. Nested calls borrow from the same
// budget, so a section never runs more than nthreads threads.

namespace {

struct Budget {
  std::atomic<idx_t> spare{0};

  idx_t Take(idx_t want) {
    idx_t have = spare.load();
    while (have > 0) {
      const idx_t take = std::min(have, want);
      if (spare.compare_exchange_weak(have, have - take)) return take;
    }
    return 0;
  }
  void Give(idx_t n) { spare.fetch_add(n); }
};

thread_local Budget* t_budget = nullptr;

}  // namespace

// The first exception a task throws, passed on to the caller once every
// thread of the section is done (as the scheduler does).
struct FirstError {
  std::mutex mutex;
  std::exception_ptr error;

  template <class F>
  void Run(F&& f) {
    try {
      f();
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex);
      if (!error) error = std::current_exception();
    }
  }
  void Rethrow() {
    if (error) std::rethrow_exception(error);
  }
};

void ParallelForImpl(idx_t n, const std::function<void(idx_t)>& body) {
  Budget* budget = t_budget;
  const idx_t extra = (budget != nullptr && n > 1) ? budget->Take(n - 1) : 0;
  std::atomic<idx_t> next{0};
  FirstError failed;
  auto work = [&] {
    failed.Run([&] {
      for (idx_t i = next.fetch_add(1); i < n; i = next.fetch_add(1)) body(i);
    });
  };
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<std::size_t>(extra));
  for (idx_t t = 0; t < extra; ++t)
    helpers.emplace_back([&work, budget] {
      t_budget = budget;
      work();
    });
  work();
  for (std::thread& h : helpers) h.join();
  if (extra > 0) budget->Give(extra);
  failed.Rethrow();
}

void ParallelInvokeImpl(const std::function<void()>& a, const std::function<void()>& b) {
  Budget* budget = t_budget;
  if (budget == nullptr || budget->Take(1) == 0) {
    a();
    b();
    return;
  }
  FirstError failed;
  std::thread helper([&b, &failed, budget] {
    t_budget = budget;
    failed.Run(b);
  });
  failed.Run(a);
  helper.join();
  budget->Give(1);
  failed.Rethrow();
}

void RunWithThreadsImpl(idx_t nthreads, const std::function<void()>& f) {
  if (nthreads < 1) {
    f();
    return;
  }
  Budget budget;
  budget.spare = nthreads - 1;
  Budget* prev = t_budget;
  t_budget = &budget;
  FirstError failed;
  failed.Run(f);
  t_budget = prev;
  failed.Rethrow();
}

#endif

// Every task runs under the allocation scope of the thread that started
// its section, whichever thread runs it.
void ParallelFor(idx_t n, const std::function<void(idx_t)>& body) {
  AllocationScope* scope = AllocationScope::Current();
  const std::function<void(idx_t)> scoped = [&body, scope](idx_t i) {
    const AllocationScope::Binding bind(scope);
    body(i);
  };
  ParallelForImpl(n, TaskBody(scoped));
}

void ParallelInvoke(const std::function<void()>& a, const std::function<void()>& b) {
  AllocationScope* scope = AllocationScope::Current();
  const std::function<void()> sa = [&a, scope] {
    const AllocationScope::Binding bind(scope);
    a();
  };
  const std::function<void()> sb = [&b, scope] {
    const AllocationScope::Binding bind(scope);
    b();
  };
  if (!Tracing()) {
    ParallelInvokeImpl(sa, sb);
    return;
  }
  const std::uint64_t group = TheTrace().next.fetch_add(1);
  ParallelInvokeImpl([&] { Traced(group, sa); }, [&] { Traced(group, sb); });
}

void RunWithThreads(idx_t nthreads, const std::function<void()>& f) {
  AllocationScope* scope = AllocationScope::Current();
  const std::function<void()> scoped = [&f, scope] {
    const AllocationScope::Binding bind(scope);
    f();
  };
  if (nthreads < 1 || !Tracing()) {
    RunWithThreadsImpl(nthreads, scoped);
    return;
  }
  const double start = ThreadSeconds();
  RunWithThreadsImpl(nthreads, scoped);
  WriteTrace(start, ThreadSeconds());
}

idx_t ChunkCount(idx_t n, idx_t grain) {
  if (grain < 1 || n < 2 * grain) return 1;
  return std::min(n / grain, kMaxChunks);
}

void ParallelChunks(idx_t n, idx_t grain,
                    const std::function<void(idx_t c, idx_t begin, idx_t end)>& body) {
  const idx_t nchunks = ChunkCount(n, grain);
  if (nchunks == 1) {
    if (n > 0) body(0, 0, n);
    return;
  }
  ParallelFor(nchunks, [&](idx_t c) {
    body(c, ChunkStart(n, nchunks, c), ChunkStart(n, nchunks, c + 1));
  });
}

idx_t AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned h = std::thread::hardware_concurrency();
  return h > 0 ? static_cast<idx_t>(h) : 1;
}

idx_t CapThreads(idx_t requested) {
  const idx_t cores = AvailableCores();
  return (requested < 1 || requested > cores) ? cores : requested;
}

}  // namespace veldan
